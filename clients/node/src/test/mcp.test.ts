// The MCP server end to end: an MCP client starts it against the simulated harness, lists the
// tools, delivers a secret named by target, captures a key into a file, and never receives a
// secret's bytes in any response.

import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { copyFileSync, readFileSync, statSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, it } from 'node:test';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

import { HARNESS, ROOT, SECRET, Scratch, scenario } from './support.js';

const scratch = new Scratch();
const page = join(scratch.folder, 'page.json'); // the scenario the harness reads: swapped to change the page
const keyFile = join(scratch.folder, 'captured-key');
const responses: string[] = [];
const stderr: Buffer[] = [];
let client: Client;

async function call(name: string, args: Record<string, unknown> = {}): Promise<{ body: Record<string, unknown>; isError: boolean }> {
  const result = (await client.callTool({ name, arguments: args })) as { content: { type: string; text: string }[]; isError?: boolean };
  const text = result.content.map((item) => item.text).join('\n');
  responses.push(JSON.stringify(result));
  return { body: JSON.parse(text) as Record<string, unknown>, isError: result.isError === true };
}

before(async () => {
  copyFileSync(scenario('realistic-chrome'), page);
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
    },
  }), { mode: 0o600 });
  const transport = new StdioClientTransport({
    command: process.execPath,
    args: [join(ROOT, 'clients', 'node', 'dist', 'mcp-server.js'), '--config', config],
    env: { PATH: '/usr/bin:/bin', CPI_TEST_SECRET: SECRET },
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
  });

  it('lists targets without secrets', async () => {
    const { body } = await call('list_targets');
    const targets = body.targets as Record<string, unknown>[];
    assert.equal(targets.length, 5);
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
    const unknown = await call('deliver_secret', { target: 'nobody' });
    assert.match(unknown.body.error as string, /no target named "nobody"/);
  });

  it('refuses an argument it does not know and a window other than the pinned one', async () => {
    // Not JSON answers of the server but the SDK's validation error: kept out of `responses`.
    const misspelled = (await client.callTool({ name: 'deliver_secret', arguments: { target: 'work-login', windownumber: 4101 } })) as {
      content: { text: string }[]; isError?: boolean;
    };
    assert.equal(misspelled.isError, true);
    assert.match(misspelled.content[0]!.text, /Unrecognized key.*windownumber/);
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
      const body = JSON.parse((JSON.parse(response) as { content: { text: string }[] }).content[0]!.text) as Record<string, unknown>;
      assert.ok(typeof body.verdict === 'string' && typeof body.diagnosis === 'string', response);
    }
    const secret = Buffer.from(SECRET);
    for (const response of responses) assert.ok(!Buffer.from(response).includes(secret), response);
    assert.ok(!Buffer.concat(stderr).includes(secret));
  });
});
