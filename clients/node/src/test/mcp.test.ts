// The MCP server end to end: an MCP client starts it against the simulated harness, lists the
// tools, delivers a secret named by target, captures a key into a file, and never receives a
// secret's bytes in any response.

import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { spawnSync } from 'node:child_process';
import { chmodSync, copyFileSync, mkdirSync, readFileSync, statSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, it } from 'node:test';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

import { HARNESS, ROOT, SECRET, Scratch, scenario } from './support.js';

const scratch = new Scratch();
const page = join(scratch.folder, 'page.json'); // the scenario the harness reads: swapped to change the page
const keyFile = join(scratch.folder, 'captured-key');
const responses: string[] = [];
const SERVER = join(ROOT, 'clients', 'node', 'dist', 'mcp-server.js');
const secretFile = join(scratch.folder, 'secrets', 'work.txt');
const stderr: Buffer[] = [];
let client: Client;

type Result = { content: { type: string; text: string }[]; structuredContent?: Record<string, unknown>; isError?: boolean };

async function call(name: string, args: Record<string, unknown> = {}): Promise<{ body: Record<string, unknown>; isError: boolean }> {
  const result = (await client.callTool({ name, arguments: args })) as Result;
  const text = result.content.map((item) => item.text).join('\n');
  responses.push(JSON.stringify(result));
  return { body: JSON.parse(text) as Record<string, unknown>, isError: result.isError === true };
}

/** A call the SDK refuses before the server sees it (arguments against the input schema). */
async function invalid(name: string, args: Record<string, unknown>): Promise<string> {
  const result = (await client.callTool({ name, arguments: args })) as Result;
  assert.equal(result.isError, true);
  return result.content[0]!.text;
}

before(async () => {
  copyFileSync(scenario('realistic-chrome'), page);
  mkdirSync(join(scratch.folder, 'secrets'), { mode: 0o700 });
  writeFileSync(secretFile, `${SECRET}\n`, { mode: 0o600 });
  // A password helper that fails and says why, with what could be a password in its words.
  scratch.executable('pass', 'echo "Error: gpg: decryption failed for Tr0ub4dor&3-horse (no secret key)" >&2; exit 2');
  const config = join(scratch.folder, 'config.json');
  writeFileSync(config, JSON.stringify({
    tool: [HARNESS, '--scenario', page, '--journal', scratch.journal, '--'],
    targets: {
      'work-login': { profileName: 'Work', allowedOrigins: ['https://accounts.example.com'], windowNumber: 4101, secret: 'env:CPI_TEST_SECRET' },
      // Its secret cannot be resolved (no pass on PATH): a refusal shows it was never asked for.
      'wrong-site': { profileName: 'Work', allowedOrigins: ['https://login.example.com'], secret: 'pass:never/resolved' },
      'console-key': { profileName: 'Work', allowedOrigins: ['https://console.example.dev'], captureTo: `file:${keyFile}` },
      'console-nowhere': { profileName: 'Work', allowedOrigins: ['https://console.example.dev'] },
      clipboard: { profileName: 'Work', allowedOrigins: ['https://accounts.example.com'], secret: 'env:CPI_TEST_SECRET', allowClipboard: true },
      // Relative to the configuration's folder, as the server is started from elsewhere.
      'file-login': { description: 'the work account, secret from a file', profileName: 'Work', allowedOrigins: ['https://accounts.example.com'], windowNumber: 4101, secret: 'file:secrets/work.txt' },
      'helper-fails': { profileName: 'Work', allowedOrigins: ['https://accounts.example.com'], windowNumber: 4101, secret: 'pass:work/login' },
    },
  }), { mode: 0o600 });
  const transport = new StdioClientTransport({
    command: process.execPath,
    args: [join(ROOT, 'clients', 'node', 'dist', 'mcp-server.js'), '--config', config],
    env: { PATH: `${scratch.folder}:/usr/bin:/bin`, CPI_TEST_SECRET: SECRET },
    cwd: ROOT,
    stderr: 'pipe',
  });
  transport.stderr?.on('data', (chunk: Buffer) => stderr.push(chunk));
  client = new Client({ name: 'test-host', version: '1.0.0' });
  await client.connect(transport);
});

after(async () => {
  await client.close();
  scratch.remove();
});

describe('MCP server', () => {
  it('lists its tools', async () => {
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((tool) => tool.name).sort(), [
      'copy_to_clipboard', 'count_windows', 'deliver_secret', 'key_baseline', 'key_capture', 'list_targets', 'trust_check', 'window_visibility',
    ]);
    const deliver = tools.find((tool) => tool.name === 'deliver_secret')!;
    assert.deepEqual(Object.keys(deliver.inputSchema.properties ?? {}).sort(), ['target', 'windowNumber']);
    const properties = deliver.inputSchema.properties as Record<string, Record<string, unknown>>;
    assert.deepEqual(properties.target!.enum, ['work-login', 'wrong-site', 'console-key', 'console-nowhere', 'clipboard', 'file-login', 'helper-fails']);
    assert.match(properties.target!.description as string, /file-login: the work account, secret from a file/);
    assert.deepEqual([properties.windowNumber!.minimum, properties.windowNumber!.maximum], [1, 4294967295]);
    const pid = (tools.find((tool) => tool.name === 'window_visibility')!.inputSchema.properties as Record<string, Record<string, unknown>>).pid!;
    assert.deepEqual([pid.minimum, pid.maximum], [2, 2147483647]);
    for (const tool of tools) {
      assert.equal(tool.inputSchema.additionalProperties, false, `${tool.name} accepts unknown arguments`);
      assert.ok(tool.title && tool.outputSchema, `${tool.name} has no title or output schema`);
      const hints = tool.annotations ?? {};
      for (const hint of ['readOnlyHint', 'destructiveHint', 'idempotentHint', 'openWorldHint'] as const) assert.equal(typeof hints[hint], 'boolean', `${tool.name}.${hint}`);
      // Only the tools that read nothing but change something are marked as changing it.
      assert.equal(hints.readOnlyHint, !['deliver_secret', 'key_capture', 'copy_to_clipboard'].includes(tool.name), tool.name);
    }
  });

  it('lists targets without secrets', async () => {
    const { body } = await call('list_targets');
    const targets = body.targets as Record<string, unknown>[];
    assert.equal(targets.length, 7);
    assert.deepEqual(targets[0], {
      name: 'work-login', profileName: 'Work', allowedOrigins: ['https://accounts.example.com'], windowNumber: 4101, delivers: true, field: 'password', clipboard: false, captures: false,
    });
    assert.equal(targets[4]!.clipboard, true);
  });

  it('counts windows and delivers a secret named by target', async () => {
    const count = await call('count_windows', { target: 'work-login' });
    assert.equal(count.body.count, 1);
    assert.match(count.body.diagnosis as string, /one window \(number 4101\)/);
    const { body, isError } = await call('deliver_secret', { target: 'work-login' });
    assert.equal(isError, false);
    assert.deepEqual(body, {
      verdict: 'typed', target: 'work-login', typed: true, diagnosis: 'The secret was typed into the focused field (Work, https://accounts.example.com).',
    });
    assert.deepEqual(scratch.writes(), [SECRET]);
  });

  it('answers a refusal with its verdict and diagnosis, without resolving the secret', async () => {
    const { body, isError } = await call('deliver_secret', { target: 'wrong-site' });
    assert.equal(isError, true);
    assert.equal(body.verdict, 'refused');
    assert.equal(body.reason, 'origin_not_allowed');
    assert.ok(body.originCheck);
    assert.match(body.diagnosis as string, /other sites than https:\/\/login.example.com/);
    assert.match(await invalid('deliver_secret', { target: 'nobody' }), /no target named "nobody"; the targets are work-login, /);
  });

  it('cuts what it echoes of a long argument', async () => {
    const long = 'x'.repeat(200000);
    for (const text of [await invalid('count_windows', { target: long }), await invalid('list_targets', { [long]: 1 })]) {
      assert.ok(text.length < 600, `${text.length} characters`);
      assert.match(text, /x… \(200000 characters\)/);
    }
  });

  it("explains a refusal with the server's own tool and argument names", async () => {
    copyFileSync(scenario('chrome-profiles'), page);
    const { body } = await call('key_baseline', { target: 'console-key' });
    copyFileSync(scenario('realistic-chrome'), page);
    assert.equal(body.reason, 'selected_chrome_profile_not_confirmed');
    assert.match(body.diagnosis as string, /name one with windowNumber \(count_windows lists their numbers\)/);
  });

  it('passes on the simulated harness\'s own words about a scenario it cannot use', async () => {
    writeFileSync(page, '{"not a scenario"');
    const { body } = await call('count_windows', { target: 'work-login' });
    copyFileSync(scenario('realistic-chrome'), page);
    assert.equal(body.verdict, 'error');
    assert.doesNotMatch(body.error as string, /wrote no line/);
    assert.match(body.error as string, /^chrome-private-input-sim: .*page\.json: not valid JSON/);
  });

  it('delivers a secret read from a file of its own, and refuses one others may read', async () => {
    const { body } = await call('deliver_secret', { target: 'file-login' });
    assert.equal(body.verdict, 'typed', JSON.stringify(body));
    assert.deepEqual(scratch.writes().slice(-1), [SECRET]);
    chmodSync(secretFile, 0o640);
    const loose = await call('deliver_secret', { target: 'file-login' });
    chmodSync(secretFile, 0o600);
    assert.match(loose.body.error as string, /secret file of file:.*work\.txt has mode 640/);
  });

  it("names the reference and passes on a failed helper's first line, masked", async () => {
    const { body } = await call('deliver_secret', { target: 'helper-fails' });
    assert.equal(
      body.error,
      'pass show failed (status 2) for pass:work/login: Error: gpg: decryption failed for [hidden] (no secret key)',
    );
    assert.notEqual(body.diagnosis, body.error);
  });

  it('refuses an argument it does not know and a window other than the pinned one', async () => {
    // Not JSON answers of the server but the SDK's validation error: kept out of `responses`.
    const misspelled = (await client.callTool({ name: 'deliver_secret', arguments: { target: 'work-login', windownumber: 4101 } })) as {
      content: { text: string }[]; isError?: boolean;
    };
    assert.equal(misspelled.isError, true);
    assert.match(misspelled.content[0]!.text, /unknown argument "windownumber" \(known: target, windowNumber\)/);
    const moved = await call('deliver_secret', { target: 'work-login', windowNumber: 4102 });
    assert.equal(moved.isError, true);
    assert.match(moved.body.error as string, /pinned to window 4101/);
  });

  it('captures a key into a file and returns only its fingerprint', async () => {
    copyFileSync(scenario('developer-console-before'), page);
    const early = await call('key_capture', { target: 'console-key' });
    assert.match(early.body.error as string, /call key_baseline/);
    const baseline = await call('key_baseline', { target: 'console-key' });
    assert.equal(baseline.body.fingerprints, 2);
    copyFileSync(scenario('developer-console-after'), page);
    const { body } = await call('key_capture', { target: 'console-key' });
    const key = readFileSync(keyFile, 'utf8');
    assert.match(key, /^sk_live_/);
    assert.equal(statSync(keyFile).mode & 0o777, 0o600);
    assert.deepEqual(body, {
      verdict: 'captured', target: 'console-key', fingerprint: createHash('sha256').update(key).digest('hex'), storedTo: `file:${keyFile}`,
      diagnosis: `The new key was stored in file:${keyFile}; only its fingerprint is shown here.`,
    });
    const nowhere = await call('key_capture', { target: 'console-nowhere' });
    assert.match(nowhere.body.error as string, /nowhere to go/);
    assert.ok(responses.every((response) => !response.includes(key)));
  });

  it('hands the secret to the clipboard', async () => {
    copyFileSync(scenario('clipboard-desktop'), page);
    const { body } = await call('copy_to_clipboard', { target: 'clipboard' });
    assert.equal(body.verdict, 'on_clipboard');
    assert.equal(body.holdSeconds, 20);
    assert.equal((await call('trust_check')).body.trusted, true);
  });

  it('never put a secret into any response, and every answer has a verdict and a diagnosis', () => {
    assert.ok(responses.length >= 10);
    for (const response of responses) {
      const result = JSON.parse(response) as Result;
      const body = JSON.parse(result.content[0]!.text) as Record<string, unknown>;
      assert.ok(typeof body.verdict === 'string' && typeof body.diagnosis === 'string', response);
      // The same answer structured (checked against the tool's outputSchema by the SDK's client).
      assert.deepEqual(result.structuredContent, body);
      assert.notEqual(body.error, body.diagnosis, response);
    }
    const secret = Buffer.from(SECRET);
    for (const response of responses) assert.ok(!Buffer.from(response).includes(secret), response);
    assert.ok(!Buffer.concat(stderr).includes(secret));
  });
});

describe('the MCP server as a command', () => {
  const run = (...args: string[]) => spawnSync(process.execPath, [SERVER, ...args], { encoding: 'utf8', input: '', timeout: 20000 });

  it('answers --help and --version', () => {
    const help = run('--help');
    assert.equal(help.status, 0);
    assert.match(help.stdout, /^usage: chrome-private-input-mcp --config FILE/);
    const version = run('--version');
    const expected = (JSON.parse(readFileSync(join(ROOT, 'clients', 'node', 'package.json'), 'utf8')) as { version: string }).version;
    assert.equal(version.stdout, `chrome-private-input-mcp ${expected}\n`);
    assert.equal(run('--verbose').status, 2);
  });

  it('says at start when the configured tool is missing or not executable, resolved against its folder', () => {
    const folder = join(scratch.folder, 'start');
    mkdirSync(folder, { mode: 0o700 });
    const config = join(folder, 'config.json');
    writeFileSync(join(folder, 'not-executable'), '#!/bin/sh\n', { mode: 0o600 });
    const cases: [string[], RegExp | null][] = [
      [['./missing-tool'], new RegExp(`the configured tool ${folder}/missing-tool does not exist`)],
      [['./not-executable'], /not-executable is not executable/],
      [['no-such-program-anywhere'], /no-such-program-anywhere is not found on PATH/],
      [[HARNESS], null],
    ];
    for (const [tool, expected] of cases) {
      writeFileSync(config, JSON.stringify({ tool, targets: { t: { profileName: 'Work', allowedOrigins: ['https://a.example'] } } }), { mode: 0o600 });
      const started = run('--config', config);
      if (expected) assert.match(started.stderr, expected);
      else assert.doesNotMatch(started.stderr, /warning/);
    }
  });
});
