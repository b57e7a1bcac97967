// The order of the delivery handshake and the silent ends, seen from a fake tool.

import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, it } from 'node:test';

import { Tool, ToolError } from '../index.js';
import { FAKE_TOOL, SECRET, Scratch } from './support.js';

const scratch = new Scratch();
after(() => scratch.remove());
const target = { profileName: 'Work', allowedOrigins: ['https://accounts.example.com'], windowNumber: 4101 };
// The fake tool both clients' tests share (clients/fake-tool.py), doing one of its behaviours.
const fake = (behaviour: string, path?: string): string[] => ['python3', FAKE_TOOL, behaviour, ...(path ? [path] : [])];

it('sends the secret only after the interim line and keeps standard input open for the final line', async () => {
  const log = join(scratch.folder, 'seen.json');
  assert.deepEqual(await new Tool(fake('handshake', log)).deliver(target, SECRET), { typed: true });
  assert.deepEqual(JSON.parse(readFileSync(log, 'utf8')), { early: false, open: true, request: target, length: SECRET.length });
});

it('reports a silent end after the interim line', async () => {
  await assert.rejects(new Tool(fake('silent')).deliver(target, SECRET), (error: ToolError) => error.status === 1 && error.stage === 'final' && /no line .*the secret frame/.test(error.message));
});

it('gives up on a tool that does not answer', async () => {
  await assert.rejects(new Tool(fake('mute'), { timeoutMs: 500 }).countWindows('Work'), /no answer within/);
});

it('gives a stopped tool longer than its own worst-case stop time before killing it', async () => {
  // The tool may take up to 2 seconds to put back what it changed; this one takes 3.
  const marker = join(scratch.folder, 'restored');
  // Long enough for Python to start and set its handler on a loaded machine: a SIGTERM before
  // that ends it at once and leaves no marker, whatever the client waits.
  await assert.rejects(new Tool(fake('slow-stop', marker), { timeoutMs: 5000 }).countWindows('Work'), /no answer within/);
  assert.equal(readFileSync(marker, 'utf8'), 'restored');
});

it('keeps a real 20-second hold running until it is cancelled', async () => {
  const hold = await new Tool(fake('hold')).copyToClipboard(SECRET);
  assert.equal(await hold.wait(200), false);
  assert.ok(hold.remainingMs() > 19000);
  await hold.cancel();
  assert.equal(hold.running, false);
  assert.equal(await hold.wait(0), true);
});
