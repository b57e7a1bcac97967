// The order of the delivery handshake and the silent ends, seen from a fake tool.

import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, it } from 'node:test';

import { Tool, ToolError } from '../index.js';
import { SECRET, Scratch } from './support.js';

const scratch = new Scratch();
after(() => scratch.remove());
const target = { profileName: 'Work', allowedOrigins: ['https://accounts.example.com'], windowNumber: 4101 };
const python = (name: string, body: string): string =>
  scratch.executable(name, `exec python3 -c '
import os, select, struct, sys, time, json
${body}'`);

it('sends the secret only after the interim line and keeps standard input open for the final line', async () => {
  const log = join(scratch.folder, 'seen.json');
  const fake = python('handshake', `
def frame():
    n = struct.unpack(">I", os.read(0, 4))[0]
    data = b""
    while len(data) < n:
        data += os.read(0, n - len(data))
    return data
request = json.loads(frame())
early = bool(select.select([0], [], [], 0.3)[0])
os.write(1, b"{\\"ok\\":true}\\n")
secret = frame()
still_open = not select.select([0], [], [], 0.2)[0]
json.dump({"early": early, "open": still_open, "request": request, "length": len(secret)}, open("${log}", "w"))
os.write(1, b"{\\"ok\\":true,\\"typed\\":true}\\n")
`);
  assert.deepEqual(await new Tool([fake]).deliver(target, SECRET), { typed: true });
  assert.deepEqual(JSON.parse(readFileSync(log, 'utf8')), { early: false, open: true, request: target, length: SECRET.length });
});

it('reports a silent end after the interim line', async () => {
  const fake = python('silent', 'os.read(0, 100); os.write(1, b"{\\"ok\\":true}\\n"); sys.exit(1)');
  await assert.rejects(new Tool([fake]).deliver(target, SECRET), (error: ToolError) => error.status === 1 && error.stage === 'final' && /no line .*the secret frame/.test(error.message));
});

it('gives up on a tool that does not answer', async () => {
  const fake = python('mute', 'time.sleep(30)');
  await assert.rejects(new Tool([fake], { timeoutMs: 500 }).countWindows('Work'), /no answer within/);
});

it('gives a stopped tool longer than its own worst-case stop time before killing it', async () => {
  // The tool may take up to 2 seconds to put back what it changed; this one takes 3.
  const marker = join(scratch.folder, 'restored');
  const fake = python('slow-stop', `import signal
def stop(number, frame):
    time.sleep(3)
    open(${JSON.stringify(marker)}, "w").write("restored")
    sys.exit(1)
signal.signal(signal.SIGTERM, stop)
time.sleep(30)`);
  // Long enough for Python to start and set its handler on a loaded machine: a SIGTERM before
  // that ends it at once and leaves no marker, whatever the client waits.
  await assert.rejects(new Tool([fake], { timeoutMs: 5000 }).countWindows('Work'), /no answer within/);
  assert.equal(readFileSync(marker, 'utf8'), 'restored');
});

it('keeps a real 20-second hold running until it is cancelled', async () => {
  const fake = python('hold', 'os.read(0, 100); os.write(1, b"1"); time.sleep(20)');
  const hold = await new Tool([fake]).copyToClipboard(SECRET);
  assert.equal(await hold.wait(200), false);
  assert.ok(hold.remainingMs() > 19000);
  await hold.cancel();
  assert.equal(hold.running, false);
  assert.equal(await hold.wait(0), true);
});
