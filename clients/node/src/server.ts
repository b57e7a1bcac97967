// The MCP server: the model names a configured target, never a secret, a profile or an origin of
// its own; secrets are resolved here, only for the delivery that needs them, and no answer ever
// holds one.

import { basename } from 'node:path';

import { McpServer } from '@modelcontextprotocol/sdk/server/mcp.js';
import { z } from 'zod';

import { secretVariables, type ServerConfig, type TargetConfig } from './config.js';
import { diagnose, pageSwitch } from './diagnosis.js';
import { Refusal, ToolError, UsageError } from './errors.js';
import { resolveSecret, SecretError, storeCapturedKey } from './secrets.js';
import { ClipboardHold, Tool, type Target } from './tool.js';
import { MAX_WINDOW_NUMBER } from './validation.js';

export const SERVER_VERSION = '0.1.0';
// The simulated harness reports a command line or scenario it cannot use on standard error.
const HARNESS_NAME = 'chrome-private-input-sim';
// Text the model sent that is echoed back (a target name in an error) is cut to this length.
export const ECHO_MAXIMUM = 80;

/** `text` as it may be echoed to the model: at most ECHO_MAXIMUM characters, the rest counted. */
export function cut(text: string): string {
  const characters = [...text];
  if (characters.length <= ECHO_MAXIMUM) return text;
  return `${characters.slice(0, ECHO_MAXIMUM).join('')}… (${characters.length} characters)`;
}

export interface ServerOptions {
  env?: NodeJS.ProcessEnv;
}

type Content = { content: { type: 'text'; text: string }[]; structuredContent: Record<string, unknown>; isError?: boolean };

const SHORT_ESCAPES: Record<number, string> = { 0x08: '\\b', 0x09: '\\t', 0x0a: '\\n', 0x0c: '\\f', 0x0d: '\\r', 0x22: '\\"', 0x5c: '\\\\' };

/** The bytes as they appear inside a JSON string (as JSON.stringify writes them), built without
 * making a string of the secret. */
export function jsonEscaped(bytes: Buffer): Buffer {
  const parts: Buffer[] = [];
  let start = 0;
  for (let i = 0; i < bytes.length; i++) {
    const byte = bytes[i]!;
    if (byte >= 0x20 && byte !== 0x22 && byte !== 0x5c) continue;
    parts.push(bytes.subarray(start, i));
    parts.push(Buffer.from(SHORT_ESCAPES[byte] ?? `\\u${byte.toString(16).padStart(4, '0')}`, 'latin1'));
    start = i + 1;
  }
  if (start === 0) return Buffer.from(bytes);
  parts.push(bytes.subarray(start));
  return Buffer.concat(parts);
}

/** Whether `text` holds the secret as it is, escaped once (a value of the answer) or twice (an
 * answer quoted inside another). */
export function holdsSecret(text: Buffer, secret: Buffer): boolean {
  if (secret.length === 0) return false;
  const once = jsonEscaped(secret);
  const twice = jsonEscaped(once);
  try {
    return text.includes(secret) || text.includes(once) || text.includes(twice);
  } finally {
    once.fill(0);
    twice.fill(0);
  }
}

/** The answer as text (for hosts that read only that) and as the same structured value. */
export function reply(value: Record<string, unknown>, isError = false, secrets: Buffer[] = []): Content {
  let text = JSON.stringify(value);
  const bytes = Buffer.from(text, 'utf8');
  // Last line of defence: an answer that contains a resolved secret, in any form JSON gives it, is
  // never sent.
  if (secrets.some((secret) => holdsSecret(bytes, secret))) {
    value = {
      verdict: 'error',
      error: 'the answer was withheld because it contained a secret',
      diagnosis: 'Nothing of this answer can be shown; report it to the person who configured the server.',
    };
    text = JSON.stringify(value);
    isError = true;
  }
  bytes.fill(0);
  const content: Content = { content: [{ type: 'text', text }], structuredContent: value };
  if (isError) content.isError = true;
  return content;
}

function failure(error: unknown): Content {
  if (error instanceof Refusal) {
    return reply(
      {
        verdict: 'refused',
        reason: error.reason,
        ...error.checks,
        diagnosis: error.diagnosis,
        retry: error.retry,
        secretSent: error.secretSent,
      },
      true,
    );
  }
  // `error` says what went wrong, `diagnosis` what to do about it: never the same text twice.
  if (error instanceof UsageError) {
    return reply({ verdict: 'error', error: error.message, diagnosis: 'Nothing was run: correct the call as the error says, then call again.' }, true);
  }
  if (error instanceof SecretError) {
    return reply(
      {
        verdict: 'error',
        error: error.message,
        diagnosis: "Nothing was typed: the target's secret could not be read. Only the person can mend the password store or the server's configuration; retrying unchanged will not help.",
      },
      true,
    );
  }
  if (error instanceof ToolError) {
    return reply(
      {
        verdict: 'error',
        error: error.message,
        diagnosis:
          'The tool ended without its answer. Check the "tool" command line of the configuration (the server names a missing tool on standard error at start); if it is right, try once more.',
      },
      true,
    );
  }
  return reply({ verdict: 'error', error: 'internal error', diagnosis: "The server failed; its standard error may say more. Report it to the person." }, true);
}

function countSummary(profileName: string, count: number, numbers: number[]): string {
  if (count === 0) return `No window of the profile '${profileName}' is open.`;
  if (count === 1) return `The profile '${profileName}' has one window${numbers.length ? ` (number ${numbers[0]})` : ''}.`;
  return `The profile '${profileName}' has ${count} windows (numbers ${numbers.join(', ')}): name one with windowNumber when delivering.`;
}

export function createServer(config: ServerConfig, options: ServerOptions = {}): { server: McpServer; close: () => Promise<void> } {
  const env = options.env ?? process.env;
  // Every child (the tool, the password helpers) runs without the variables that hold secrets:
  // each gets its secret on standard input, only when a delivery needs it.
  const childEnv: NodeJS.ProcessEnv = { ...env };
  for (const name of secretVariables(config)) delete childEnv[name];
  const tool = new Tool(config.tool, {
    timeoutMs: config.timeoutMs ?? 30000,
    env: childEnv,
    simulated: basename(config.tool[0] ?? '') === HARNESS_NAME,
  });
  const baselines = new Map<string, string[]>();
  const holds = new Set<ClipboardHold>();
  const server = new McpServer({ name: 'chrome-private-input', version: SERVER_VERSION });
  const targetNames = Object.keys(config.targets);

  const lookUp = (name: string): TargetConfig => {
    const target = config.targets[name];
    if (!Object.prototype.hasOwnProperty.call(config.targets, name) || !target) {
      throw new UsageError(`no target named ${JSON.stringify(cut(name))}; the targets are ${targetNames.join(', ')}`);
    }
    return target;
  };
  // A refusal explained with the names the model knows: this server's tools and arguments.
  const refusalFor = (error: Refusal, configured: TargetConfig, windowNumber?: number): Refusal => {
    const facts = { profileName: configured.profileName, allowedOrigins: configured.allowedOrigins, windowNumber: windowNumber ?? configured.windowNumber };
    const diagnosis = diagnose(error.reason, error.checks, facts, error.secretSent, 'mcp');
    return new Refusal(error.reason, error.checks, diagnosis, error.mode, error.retry, error.secretSent);
  };
  const toolTarget = (target: TargetConfig, windowNumber?: number): Target => {
    // A window pinned by the configuration is part of where the secret may go: the model cannot
    // move it to another window.
    if (windowNumber !== undefined && target.windowNumber !== undefined && windowNumber !== target.windowNumber) {
      throw new UsageError(
        `this target is pinned to window ${target.windowNumber} by the server's configuration; windowNumber ${windowNumber} is not allowed (leave it out)`,
      );
    }
    const result: Target = { profileName: target.profileName, allowedOrigins: target.allowedOrigins };
    // Unless the configuration allows a plain text field, the tool accepts a password field only:
    // a model that moves focus cannot have the secret typed where the page shows it.
    if ((target.field ?? 'password') === 'password') result.secureFieldOnly = true;
    const number = windowNumber ?? target.windowNumber;
    if (number !== undefined) result.windowNumber = number;
    return result;
  };
  const secretOf = async (target: TargetConfig, name: string): Promise<Buffer> => {
    if (!target.secret) throw new UsageError(`the target ${JSON.stringify(name)} has no secret configured`);
    return resolveSecret(target.secret, env, childEnv);
  };

  const failed = (error: unknown, target?: string, windowNumber?: number): Content => {
    const configured = target !== undefined && Object.prototype.hasOwnProperty.call(config.targets, target) ? config.targets[target] : undefined;
    return failure(error instanceof Refusal && configured ? refusalFor(error, configured, windowNumber) : error);
  };

  const describeTarget = (name: string): string => {
    const target = config.targets[name]!;
    return `${name}: ${target.description ?? `profile '${target.profileName}' on ${target.allowedOrigins.join(', ')}`}`;
  };
  const targetName = {
    target: z
      .enum(targetNames as [string, ...string[]], {
        error: (issue) => `no target named ${JSON.stringify(cut(String(issue.input)))}; the targets are ${targetNames.join(', ')}`,
      })
      .describe(`the name of a configured target; one of:\n${targetNames.map(describeTarget).join('\n')}`),
  };
  const windowNumber = {
    windowNumber: z
      .number()
      .int()
      .min(1)
      .max(MAX_WINDOW_NUMBER)
      .optional()
      .describe("the window's number from count_windows, when the profile has several windows"),
  };
  // Strict: an argument the server does not know ("windownumber", "window_number") is refused
  // rather than dropped, so that a misspelled window pin is never silently lost. Its name is
  // echoed cut, whatever its length.
  const strict = <Shape extends z.ZodRawShape>(shape: Shape) =>
    z.strictObject(shape, {
      error: (issue) =>
        issue.code === 'unrecognized_keys'
          ? `unknown argument ${issue.keys.map((key) => JSON.stringify(cut(key))).join(', ')} (known: ${Object.keys(shape).join(', ') || 'none'})`
          : undefined,
    });
  const noArguments = strict({});
  const targetArgument = strict(targetName);
  const targetAndWindowArguments = strict({ ...targetName, ...windowNumber });

  // What every answer may hold besides the tool's own fields: the verdict, the explanation, and
  // for a refusal or an error, what stopped it.
  const checkMap = z.record(z.string(), z.number()).optional();
  const answerShape = (verdict: string, fields: z.ZodRawShape) =>
    z.object({
      verdict: z.enum([verdict, 'refused', 'error']).describe(`"${verdict}" when it worked, "refused" when the tool refused, "error" otherwise`),
      diagnosis: z.string().describe('what happened and what to do next, in plain words'),
      target: z.string().optional(),
      ...fields,
      reason: z.string().optional().describe("a refusal's reason code"),
      error: z.string().optional().describe('what went wrong, when the verdict is "error"'),
      retry: z.boolean().optional().describe('whether trying again unchanged can help'),
      secretSent: z.boolean().optional().describe('whether the secret had been handed to the tool when it refused'),
      windowCheck: checkMap,
      originCheck: checkMap,
      keyCheck: checkMap,
      pageSwitch: checkMap,
    });

  server.registerTool(
    'list_targets',
    {
      title: 'List the configured targets',
      description: 'The configured targets: their names, Chrome profiles and allowed origins (never their secrets).',
      inputSchema: noArguments,
      outputSchema: answerShape('ok', {
        targets: z
          .array(
            z.object({
              name: z.string(),
              description: z.string().optional(),
              profileName: z.string(),
              allowedOrigins: z.array(z.string()),
              windowNumber: z.number().int().optional(),
              delivers: z.boolean(),
              field: z.enum(['password', 'text']),
              clipboard: z.boolean(),
              captures: z.boolean(),
            }),
          )
          .optional(),
      }),
      annotations: { readOnlyHint: true, destructiveHint: false, idempotentHint: true, openWorldHint: false },
    },
    async () =>
      reply({
        verdict: 'ok',
        diagnosis: `${targetNames.length} targets; name one in the other tools.`,
        targets: targetNames.map((name) => {
          const target = config.targets[name]!;
          return {
            name,
            ...(target.description !== undefined ? { description: target.description } : {}),
            profileName: target.profileName,
            allowedOrigins: target.allowedOrigins,
            ...(target.windowNumber !== undefined ? { windowNumber: target.windowNumber } : {}),
            delivers: target.secret !== undefined,
            field: target.field ?? 'password',
            clipboard: target.secret !== undefined && target.allowClipboard === true,
            captures: target.captureTo !== undefined || target.returnCapturedKey === true,
          };
        }),
      }),
  );

  server.registerTool(
    'count_windows',
    {
      title: "Count the target profile's windows",
      description: "How many windows the target's Chrome profile has, their numbers and tab counts.",
      inputSchema: targetArgument,
      outputSchema: answerShape('ok', {
        count: z.number().int().optional(),
        windows: z.number().int().optional(),
        windowNumbers: z.array(z.number().int()).optional(),
        tabCounts: z.array(z.number().int()).optional(),
        frontKind: z.string().nullable().optional(),
        frontAvatar: z.string().nullable().optional(),
      }),
      annotations: { readOnlyHint: true, destructiveHint: false, idempotentHint: true, openWorldHint: false },
    },
    async ({ target }) => {
      try {
        const configured = lookUp(target);
        const count = await tool.countWindows(configured.profileName);
        return reply({ verdict: 'ok', ...count, diagnosis: countSummary(configured.profileName, count.count, count.windowNumbers) });
      } catch (error) {
        return failed(error, target);
      }
    },
  );

  server.registerTool(
    'deliver_secret',
    {
      title: "Type the target's secret into Chrome",
      description:
        "Types the target's secret into the focused field of its Chrome window, after the tool has confirmed the profile, the origin and the field. The secret never appears in the answer.",
      inputSchema: targetAndWindowArguments,
      outputSchema: answerShape('typed', { typed: z.boolean().optional() }),
      annotations: { readOnlyHint: false, destructiveHint: true, idempotentHint: false, openWorldHint: true },
    },
    async ({ target, windowNumber }) => {
      const guard: Buffer[] = [];
      try {
        const configured = lookUp(target);
        const request = toolTarget(configured, windowNumber);
        if (!configured.secret) throw new UsageError(`the target ${JSON.stringify(target)} has no secret configured`);
        // The secret is resolved only once the tool has confirmed the window, page and field.
        const delivery = await tool.deliver(request, async () => {
          const secret = await secretOf(configured, target);
          guard.push(Buffer.from(secret));
          return secret;
        });
        const where = `${configured.profileName}, ${configured.allowedOrigins.join(' or ')}`;
        const diagnosis =
          `The secret was typed into the focused field (${where}).` +
          (delivery.pageSwitch ? ` ${pageSwitch(delivery.pageSwitch)}` : '');
        return reply({ verdict: 'typed', target, ...delivery, diagnosis }, false, guard);
      } catch (error) {
        const answer = { ...failed(error, target, windowNumber).structuredContent };
        const configured = config.targets[target];
        if (error instanceof Refusal && error.reason === 'focused_field_not_supported' && configured && (configured.field ?? 'password') === 'password') {
          answer.diagnosis += ' This target takes a password field only (its configuration can say "field": "text").';
        }
        return reply(answer, true, guard);
      } finally {
        for (const copy of guard) copy.fill(0);
      }
    },
  );

  server.registerTool(
    'key_baseline',
    {
      title: 'Remember the keys already on the page',
      description:
        "Takes the fingerprints of the key-like texts on the target's page before a new key is issued; key_capture compares against them. Only the count is returned.",
      inputSchema: targetAndWindowArguments,
      outputSchema: answerShape('baseline', { fingerprints: z.number().int().optional() }),
      annotations: { readOnlyHint: true, destructiveHint: false, idempotentHint: true, openWorldHint: true },
    },
    async ({ target, windowNumber }) => {
      try {
        const configured = lookUp(target);
        const baseline = await tool.keyBaseline(toolTarget(configured, windowNumber));
        baselines.set(target, baseline);
        return reply({
          verdict: 'baseline',
          target,
          fingerprints: baseline.length,
          diagnosis: `${baseline.length} key fingerprints kept; call key_capture once the new key is shown.`,
        });
      } catch (error) {
        return failed(error, target, windowNumber);
      }
    },
  );

  server.registerTool(
    'key_capture',
    {
      title: 'Capture the new key from the page',
      description:
        "Captures the one new key on the target's page (against the baseline of key_baseline) and stores it where the configuration says; only its fingerprint and where it went are returned.",
      inputSchema: targetAndWindowArguments,
      outputSchema: answerShape('captured', {
        fingerprint: z.string().optional(),
        storedTo: z.string().optional(),
        key: z.string().optional().describe('only for a target whose configuration allows "returnCapturedKey"'),
      }),
      annotations: { readOnlyHint: false, destructiveHint: true, idempotentHint: false, openWorldHint: true },
    },
    async ({ target, windowNumber }) => {
      try {
        const configured = lookUp(target);
        if (!configured.captureTo && configured.returnCapturedKey !== true) {
          throw new UsageError(
            `the target ${JSON.stringify(target)} has no "captureTo" and does not allow "returnCapturedKey": the key would have nowhere to go`,
          );
        }
        const baseline = baselines.get(target);
        if (!baseline) throw new UsageError(`no baseline for ${JSON.stringify(target)}: call key_baseline before the key is issued`);
        const captured = await tool.keyCapture(toolTarget(configured, windowNumber), baseline);
        const key = Buffer.from(captured.key, 'utf8');
        try {
          const answer: Record<string, unknown> = { verdict: 'captured', target, fingerprint: captured.fingerprint };
          if (configured.captureTo) {
            // The baseline goes only once the key is stored: after a failed store, the same
            // capture can be repeated once the place is mended.
            answer.storedTo = await storeCapturedKey(configured.captureTo, key, childEnv);
            baselines.delete(target);
            answer.diagnosis = `The new key was stored in ${configured.captureTo}; only its fingerprint is shown here.`;
            return reply(answer, false, [key]);
          }
          baselines.delete(target);
          answer.key = captured.key; // allowed by "returnCapturedKey": true
          answer.diagnosis = 'The new key is returned, as the configuration allows ("returnCapturedKey").';
          return reply(answer);
        } finally {
          key.fill(0);
        }
      } catch (error) {
        return failed(error, target, windowNumber);
      }
    },
  );

  server.registerTool(
    'copy_to_clipboard',
    {
      title: "Put the target's secret on the clipboard",
      description:
        "Puts the target's secret on the clipboard for 20 seconds (for the person to paste), then takes it off; only for targets whose configuration allows it. The secret never appears in the answer.",
      inputSchema: targetArgument,
      outputSchema: answerShape('on_clipboard', { holdSeconds: z.number().optional() }),
      annotations: { readOnlyHint: false, destructiveHint: true, idempotentHint: false, openWorldHint: false },
    },
    async ({ target }) => {
      let secret: Buffer | undefined;
      try {
        const configured = lookUp(target);
        // Anything on the clipboard can be read back by any program, the model's other tools
        // included: only the configuration, never the model, lets a secret go there.
        if (configured.allowClipboard !== true) {
          throw new UsageError(
            `the target ${JSON.stringify(target)} does not allow the clipboard: its configuration must say "allowClipboard": true`,
          );
        }
        secret = await secretOf(configured, target);
        const guard = Buffer.from(secret);
        try {
          const hold = await tool.copyToClipboard(secret);
          holds.add(hold);
          void hold.wait().finally(() => holds.delete(hold)).catch(() => {});
          return reply(
            {
              verdict: 'on_clipboard',
              target,
              holdSeconds: 20,
              diagnosis: 'The secret is on the clipboard for 20 seconds, then taken off unless something else was copied meanwhile.',
            },
            false,
            [guard],
          );
        } finally {
          guard.fill(0);
        }
      } catch (error) {
        return failed(error, target);
      } finally {
        secret?.fill(0);
      }
    },
  );

  server.registerTool(
    'trust_check',
    {
      title: 'Check the Accessibility permission',
      description: 'Whether the tool is trusted for Accessibility (every Chrome mode needs it).',
      inputSchema: noArguments,
      outputSchema: answerShape('ok', { trusted: z.boolean().optional() }),
      annotations: { readOnlyHint: true, destructiveHint: false, idempotentHint: true, openWorldHint: false },
    },
    async () => {
      try {
        const trusted = await tool.trustCheck();
        return reply({
          verdict: 'ok',
          trusted,
          diagnosis: trusted
            ? 'The tool is trusted for Accessibility.'
            : 'The tool is not trusted: the person must allow it under System Settings, Privacy & Security, Accessibility.',
        });
      } catch (error) {
        return failure(error);
      }
    },
  );

  server.registerTool(
    'window_visibility',
    {
      title: "Count a browser process's windows",
      description: "How many windows of a process (the agent's own browser) exist and are on screen.",
      inputSchema: strict({ pid: z.number().int().min(2).max(2147483647).describe('the process identifier of the browser') }),
      outputSchema: answerShape('ok', {
        all: z.number().int().optional(),
        onScreen: z.number().int().optional(),
        excludingPlaceholder: z.number().int().optional(),
      }),
      annotations: { readOnlyHint: true, destructiveHint: false, idempotentHint: true, openWorldHint: false },
    },
    async ({ pid }) => {
      try {
        const visibility = await tool.windowVisibility(pid);
        const diagnosis =
          `${visibility.all} windows, ${visibility.onScreen} on screen` +
          (visibility.excludingPlaceholder === undefined ? ' (the window lists disagreed)' : `, ${visibility.excludingPlaceholder} without the placeholder`) +
          '.';
        return reply({ verdict: 'ok', ...visibility, diagnosis });
      } catch (error) {
        return failure(error);
      }
    },
  );

  const close = async (): Promise<void> => {
    await Promise.all([...holds].map((hold) => hold.cancel()));
    await server.close();
  };
  return { server, close };
}
