// The MCP server driven as a misled model would drive it, and configured as a careless person might:
// the secret must not reach the clipboard, a plain text field, a child's environment, a linked file
// or an answer, and a captured key must not be lost.

import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { chmodSync, copyFileSync, existsSync, lstatSync, mkdirSync, readFileSync, readdirSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, it } from 'node:test';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

import { HARNESS, ROOT, SECRET, Scratch, scenario } from './support.js';

const SERVER = join(ROOT, 'clients', 'node', 'dist', 'mcp-server.js');
const ACCOUNTS = ['https://accounts.example.com'];
const CONSOLE = ['https://console.example.dev'];
const scratch = new Scratch();
after(() => scratch.remove());

function folder(...parts: string[]): string {
  const path = join(scratch.folder, ...parts);
  mkdirSync(path, { recursive: true, mode: 0o700 });
  chmodSync(path, 0o700);
  return path;
}

function writeConfig(path: string, document: unknown, mode = 0o600): string {
  writeFileSync(path, JSON.stringify(document));
  chmodSync(path, mode);
  return path;
}

class Session {
  readonly responses: string[] = [];
  readonly stderr: Buffer[] = [];
  private client = new Client({ name: 'hostile-host', version: '1.0.0' });

  async start(config: string, env: Record<string, string>): Promise<void> {
    const transport = new StdioClientTransport({ command: process.execPath, args: [SERVER, '--config', config], env, stderr: 'pipe' });
    transport.stderr?.on('data', (chunk: Buffer) => this.stderr.push(chunk));
    await this.client.connect(transport);
  }

  async call(name: string, args: Record<string, unknown> = {}): Promise<{ body: Record<string, unknown>; isError: boolean }> {
    const result = (await this.client.callTool({ name, arguments: args })) as { content: { text: string }[]; isError?: boolean };
    this.responses.push(JSON.stringify(result));
    return { body: JSON.parse(result.content[0]!.text) as Record<string, unknown>, isError: result.isError === true };
  }

  close(): Promise<void> {
    return this.client.close();
  }
}

const target = { profileName: 'Work', allowedOrigins: ACCOUNTS, secret: 'env:CPI_TEST_SECRET' };

describe('a configuration anybody else could change is refused', () => {
  const good = { tool: ['chrome-private-input'], targets: { login: target } };
  const table: [string, () => string, RegExp][] = [
    ['a file writable by others', () => writeConfig(join(folder('c1'), 'config.json'), good, 0o606), /configuration .* writable by others/],
    ['a file writable by its group', () => writeConfig(join(folder('c2'), 'config.json'), good, 0o660), /configuration .* writable by its group/],
    ['a folder writable by others', () => {
      const path = writeConfig(join(folder('c3'), 'config.json'), good);
      chmodSync(join(scratch.folder, 'c3'), 0o777);
      return path;
    }, /folder .*c3 of the configuration .* writable by others/],
    ['a link to a file in a folder writable by others', () => {
      const loose = folder('c4', 'loose');
      writeConfig(join(loose, 'config.json'), good);
      chmodSync(loose, 0o757);
      symlinkSync(join(loose, 'config.json'), join(scratch.folder, 'c4', 'config.json'));
      return join(scratch.folder, 'c4', 'config.json');
    }, /folder .*loose of the configuration .* writable by others/],
    ['a captureTo folder that does not exist', () =>
      writeConfig(join(folder('c5'), 'config.json'), { ...good, targets: { key: { profileName: 'Work', allowedOrigins: CONSOLE, captureTo: `file:${join(scratch.folder, 'missing', 'key')}` } } }),
      /targets.key: "captureTo": the folder .*missing does not exist/],
    ['a captureTo folder writable by its group', () => {
      const keys = folder('c6', 'keys');
      chmodSync(keys, 0o770);
      return writeConfig(join(scratch.folder, 'c6', 'config.json'), { ...good, targets: { key: { profileName: 'Work', allowedOrigins: CONSOLE, captureTo: `file:${join(keys, 'key')}` } } });
    }, /"captureTo": the folder .*keys is writable by its group or others/],
  ];
  for (const [name, make, words] of table) {
    it(name, () => {
      const result = spawnSync(process.execPath, [SERVER, '--config', make()], { input: '', encoding: 'utf8', env: { PATH: '/usr/bin:/bin' } });
      assert.equal(result.status, 2, result.stderr);
      assert.match(result.stderr, words);
    });
  }
});

describe('a session of a misled model', () => {
  const session = new Session();
  const page = join(scratch.folder, 'page.json');
  const bin = folder('bin');
  const toolEnv = join(scratch.folder, 'tool.env');
  const passEnv = join(scratch.folder, 'pass.env');
  const keys = folder('keys');
  const lostKeys = folder('lost-keys');
  const victim = join(scratch.folder, 'victim');
  const focusInEmail = JSON.parse(readFileSync(scenario('realistic-chrome'), 'utf8')) as Record<string, unknown>;
  focusInEmail.events = [{
    when: { call: 'AXIsProcessTrusted', count: 1 },
    do: [
      { setAttribute: { element: 'w1-password', attribute: 'AXFocused', value: false } },
      { setAttribute: { element: 'w1-email', attribute: 'AXFocused', value: true } },
    ],
  }];

  before(async () => {
    scratch.executable(join('bin', 'pass'), `env > ${passEnv}; echo "$@" >> ${passEnv}.args; printf '%s\\n' '${SECRET}'`);
    writeFileSync(victim, 'the victim stays as it is');
    symlinkSync(victim, join(keys, 'linked'));
    const config = writeConfig(join(folder('config'), 'config.json'), {
      // The tool's command line records the environment it was given, then runs the harness.
      tool: ['/bin/sh', '-c', 'env > "$0"; exec "$@"', toolEnv, HARNESS, '--scenario', page, '--journal', scratch.journal, '--'],
      targets: {
        login: { ...target, windowNumber: 4101 },
        'login-text': { ...target, windowNumber: 4101, field: 'text' },
        'no-clipboard': target,
        clipboard: { ...target, allowClipboard: true },
        helper: { profileName: 'Work', allowedOrigins: ACCOUNTS, secret: 'pass:-work/login' },
        'linked-key': { profileName: 'Work', allowedOrigins: CONSOLE, captureTo: `file:${join(keys, 'linked')}` },
        'lost-key': { profileName: 'Work', allowedOrigins: CONSOLE, captureTo: `file:${join(lostKeys, 'key')}` },
      },
    });
    await session.start(config, { PATH: `${bin}:/usr/bin:/bin`, CPI_TEST_SECRET: SECRET });
  });
  after(() => session.close());

  it('keeps the secret off the clipboard unless the configuration allows it', async () => {
    copyFileSync(scenario('clipboard-desktop'), page);
    rmSync(toolEnv, { force: true });
    const refused = await session.call('copy_to_clipboard', { target: 'no-clipboard' });
    assert.equal(refused.isError, true);
    assert.match(refused.body.error as string, /"allowClipboard": true/);
    assert.equal(existsSync(toolEnv), false); // the tool was never started
    const allowed = await session.call('copy_to_clipboard', { target: 'clipboard' });
    assert.equal(allowed.body.verdict, 'on_clipboard');
  });

  it('types into a password field only, unless the target allows a text field', async () => {
    writeFileSync(page, JSON.stringify(focusInEmail));
    const refused = await session.call('deliver_secret', { target: 'login' });
    assert.equal(refused.body.reason, 'focused_field_not_supported');
    assert.match(refused.body.diagnosis as string, /password field only/);
    assert.deepEqual(scratch.writes(), []);
    const typed = await session.call('deliver_secret', { target: 'login-text' });
    assert.equal(typed.body.verdict, 'typed');
    assert.deepEqual(scratch.writes(), [SECRET]);
  });

  it('gives no child the variables that hold secrets, and a pass name after "--"', async () => {
    copyFileSync(scenario('realistic-chrome'), page);
    assert.equal((await session.call('deliver_secret', { target: 'helper' })).body.verdict, 'typed');
    for (const environment of [readFileSync(toolEnv, 'utf8'), readFileSync(passEnv, 'utf8')]) {
      assert.match(environment, /^PATH=/m);
      assert.doesNotMatch(environment, /CPI_TEST_SECRET/);
    }
    assert.equal(readFileSync(`${passEnv}.args`, 'utf8'), 'show -- -work/login\n');
  });

  it('replaces a link at the capture path instead of writing through it', async () => {
    copyFileSync(scenario('developer-console-before'), page);
    await session.call('key_baseline', { target: 'linked-key' });
    copyFileSync(scenario('developer-console-after'), page);
    const { body } = await session.call('key_capture', { target: 'linked-key' });
    assert.equal(body.verdict, 'captured', JSON.stringify(body));
    assert.equal(readFileSync(victim, 'utf8'), 'the victim stays as it is');
    const stored = lstatSync(join(keys, 'linked'));
    assert.ok(stored.isFile());
    assert.equal(stored.mode & 0o777, 0o600);
    assert.match(readFileSync(join(keys, 'linked'), 'utf8'), /^sk_live_/);
    assert.deepEqual(readdirSync(keys), ['linked']); // no temporary file left
  });

  it('keeps the baseline when the key cannot be stored, and says where', async () => {
    copyFileSync(scenario('developer-console-before'), page);
    await session.call('key_baseline', { target: 'lost-key' });
    copyFileSync(scenario('developer-console-after'), page);
    rmSync(lostKeys, { recursive: true });
    const failed = await session.call('key_capture', { target: 'lost-key' });
    assert.equal(failed.isError, true);
    assert.match(failed.body.error as string, new RegExp(`could not be stored in ${join(lostKeys, 'key')}: ENOENT`));
    folder('lost-keys');
    const retried = await session.call('key_capture', { target: 'lost-key' });
    assert.equal(retried.body.verdict, 'captured', JSON.stringify(retried.body));
    assert.match(readFileSync(join(lostKeys, 'key'), 'utf8'), /^sk_live_/);
  });

  it('never answered with the secret', () => {
    for (const response of session.responses) assert.ok(!response.includes(SECRET), response);
    assert.ok(!Buffer.concat(session.stderr).includes(SECRET));
  });
});

describe('a tool that writes the secret back', () => {
  // Quotes, a backslash and a tab: JSON escapes each, so the answer never holds the raw bytes.
  const secret = 'pa"ss\\wo\trd';
  const session = new Session();
  before(async () => {
    const fake = scratch.executable('echo-tool', `exec python3 -c '
import os, struct, sys, json
def frame():
    (length,) = struct.unpack(">I", os.read(0, 4))
    return os.read(0, length)
frame()
os.write(1, b"{\\"ok\\":true}\\n")
os.write(1, json.dumps({"ok": False, "reason": frame().decode()}).encode() + b"\\n")
sys.exit(1)'`);
    const config = writeConfig(join(folder('echo'), 'config.json'), { tool: [fake], targets: { login: target } });
    await session.start(config, { PATH: '/usr/bin:/bin', CPI_TEST_SECRET: secret });
  });
  after(() => session.close());

  it('withholds an answer that holds the secret JSON-escaped', async () => {
    const { body, isError } = await session.call('deliver_secret', { target: 'login' });
    assert.equal(isError, true);
    assert.match(body.error as string, /withheld/);
    const once = JSON.stringify(secret).slice(1, -1);
    for (const response of session.responses) {
      assert.ok(!response.includes(secret) && !response.includes(once) && !response.includes(JSON.stringify(once).slice(1, -1)), response);
    }
  });
});

describe('a server that is stopped', () => {
  it('stops the tool it runs before it ends', async () => {
    const started = join(scratch.folder, 'slow.started');
    const stopped = join(scratch.folder, 'slow.stopped');
    const fake = scratch.executable('slow-tool', `exec python3 -c '
import signal, sys, time
def stop(number, frame):
    open(${JSON.stringify(stopped)}, "w").write("stopped")
    sys.exit(1)
signal.signal(signal.SIGTERM, stop)
open(${JSON.stringify(started)}, "w").close()
time.sleep(30)'`);
    const config = writeConfig(join(folder('slow'), 'config.json'), { tool: [fake], targets: { login: target } });
    const server = spawn(process.execPath, [SERVER, '--config', config], { env: { PATH: '/usr/bin:/bin' }, stdio: ['pipe', 'ignore', 'ignore'] });
    const ended = new Promise<number | null>((resolve) => server.on('close', (code) => resolve(code)));
    const send = (message: Record<string, unknown>): boolean => server.stdin.write(`${JSON.stringify({ jsonrpc: '2.0', ...message })}\n`);
    send({ id: 1, method: 'initialize', params: { protocolVersion: '2025-06-18', capabilities: {}, clientInfo: { name: 't', version: '1' } } });
    send({ method: 'notifications/initialized' });
    send({ id: 2, method: 'tools/call', params: { name: 'count_windows', arguments: { target: 'login' } } });
    for (let waited = 0; !existsSync(started) && waited < 20000; waited += 50) await new Promise((resolve) => setTimeout(resolve, 50));
    assert.ok(existsSync(started), 'the tool never started');
    server.kill('SIGTERM');
    assert.equal(await ended, 0);
    assert.equal(readFileSync(stopped, 'utf8'), 'stopped');
  });
});
