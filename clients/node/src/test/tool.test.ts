// Every mode against the simulated Chrome and the bundled scenarios: the success and each kind of
// refusal, with what the exception tells.

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { after, describe, it } from 'node:test';
import { inspect } from 'node:util';

import { Refusal, Tool, ToolError, UsageError } from '../index.js';
import { HARNESS, ROOT, SECRET, Scratch, scenario } from './support.js';

const ACCOUNTS = ['https://accounts.example.com'];
const CONSOLE = ['https://console.example.dev'];
const scratch = new Scratch();
after(() => scratch.remove());
const sim = (path: string): Tool => Tool.simulated(HARNESS, path.startsWith('/') ? path : scenario(path), { journal: scratch.journal });

describe('modes against the simulated Chrome', () => {
  it('counts the windows of a profile', async () => {
    const count = await sim('chrome-profiles').countWindows('Work');
    assert.deepEqual(count, { count: 2, windows: 5, windowNumbers: [4101, 4102], tabCounts: [4, 3], frontKind: 'dialog', frontAvatar: null });
  });

  it('answers a count refusal with a Refusal', async () => {
    await assert.rejects(sim('chrome-many-windows').countWindows('Work'), (error: Refusal) => error.reason === 'chrome_window_unavailable');
    await assert.rejects(
      sim(scratch.patched('realistic-chrome', { trusted: false })).countWindows('Work'),
      (error: Refusal) => error.reason === 'accessibility_unavailable' && /System Settings/.test(error.diagnosis),
    );
  });

  it('stops a tool it gives up on so that the tool puts the page switch back', async () => {
    // The page is gone, so the tool switches Chrome's page accessibility on and waits for it.
    const events = [{ when: { call: 'AXIsProcessTrusted', count: 1 }, do: [{ remove: 'w1-page' }] }];
    const path = scratch.patched('realistic-chrome', { events, realTime: true });
    const tool = Tool.simulated(HARNESS, path, { journal: scratch.journal, timeoutMs: 600 });
    await assert.rejects(tool.deliver({ profileName: 'Work', allowedOrigins: ACCOUNTS, windowNumber: 4101 }, SECRET), /no answer within/);
    const switches = scratch.journalLines().filter((line) => line.attribute === 'AXManualAccessibility').map((line) => line.value);
    assert.deepEqual(switches, [true, false]);
  });

  it('delivers a secret and wipes the buffer it was given', async () => {
    const secret = new TextEncoder().encode(SECRET);
    const delivery = await sim('realistic-chrome').deliver({ profileName: 'Work', allowedOrigins: ACCOUNTS, windowNumber: 4101 }, secret);
    assert.deepEqual(delivery, { typed: true });
    assert.ok(secret.every((byte) => byte === 0));
    assert.deepEqual(scratch.writes(), [SECRET]);
  });

  const refusals: [string, string, Record<string, unknown>, string, string, RegExp][] = [
    ['two windows of one profile', 'chrome-profiles', { profileName: 'Work', allowedOrigins: ['https://mail.example.com'] },
      'selected_chrome_profile_not_confirmed', 'windowCheck', /has 2 windows.*windowNumber/],
    ['a window of another profile', 'chrome-profiles', { profileName: 'Work', allowedOrigins: ['https://mail.example.com'], windowNumber: 4103 },
      'selected_chrome_profile_not_confirmed', 'windowCheck', /another profile/],
    ['a misspelled profile', 'realistic-chrome', { profileName: 'work', allowedOrigins: ACCOUNTS },
      'selected_chrome_profile_not_confirmed', 'windowCheck', /case counts/],
    ['a page on another site', 'realistic-chrome', { profileName: 'Work', allowedOrigins: ['https://login.example.com'], windowNumber: 4101 },
      'origin_not_allowed', 'originCheck', /other sites/],
    ['focus outside any field', 'developer-console-before', { profileName: 'Work', allowedOrigins: CONSOLE },
      'focused_field_not_supported', '', /click into the field/],
  ];
  for (const [name, scenarioName, target, reason, check, words] of refusals) {
    it(`refuses before the secret is sent: ${name}`, async () => {
      await assert.rejects(sim(scenarioName).deliver(target as never, SECRET), (error: Refusal) => {
        assert.equal(error.reason, reason);
        assert.equal(error.secretSent, false);
        if (check) assert.ok(check in error.checks);
        assert.match(error.diagnosis, words);
        assert.ok(!JSON.stringify({ ...error, message: error.message }).includes(SECRET));
        return true;
      });
      assert.deepEqual(scratch.writes(), []);
    });
  }

  it('fetches a secret given as a function only once the target is confirmed', async () => {
    let asked = 0;
    const source = async (): Promise<string> => {
      asked++;
      return SECRET;
    };
    await assert.rejects(sim('chrome-profiles').deliver({ profileName: 'Work', allowedOrigins: ['https://mail.example.com'] }, source), Refusal);
    assert.equal(asked, 0);
    await sim('realistic-chrome').deliver({ profileName: 'Work', allowedOrigins: ACCOUNTS, windowNumber: 4101 }, source);
    assert.equal(asked, 1);
    assert.deepEqual(scratch.writes(), [SECRET]);
  });

  it('reports a refusal after the secret was sent', async () => {
    const events = [{ when: { call: 'NSMutableString.initWithBytes' }, do: [
      { setAttribute: { element: 'w1-password', attribute: 'AXFocused', value: false } },
      { setAttribute: { element: 'w1-email', attribute: 'AXFocused', value: true } }] }];
    await assert.rejects(
      sim(scratch.patched('realistic-chrome', { events })).deliver({ profileName: 'Work', allowedOrigins: ACCOUNTS, windowNumber: 4101 }, SECRET),
      (error: Refusal) => error.reason === 'focus_changed' && error.secretSent && error.retry,
    );
  });

  it('takes a baseline, then captures the new key', async () => {
    const target = { profileName: 'Work', allowedOrigins: CONSOLE };
    const baseline = await sim('developer-console-before').keyBaseline(target);
    assert.equal(baseline.length, 2);
    const captured = await sim('developer-console-after').keyCapture(target, baseline);
    assert.match(captured.key, /^sk_live_/);
    assert.ok(!JSON.stringify(captured).includes('sk_live_') && !inspect(captured).includes('sk_live_'));
    assert.match(captured.fingerprint, /^[0-9a-f]{64}$/);
    await assert.rejects(sim('developer-console-before').keyCapture(target, baseline),
      (error: Refusal) => error.reason === 'page_key_not_found' && /already in the baseline/.test(error.diagnosis));
    await assert.rejects(sim('developer-console-before').keyCapture(target, []),
      (error: Refusal) => error.reason === 'page_key_ambiguous' && error.checks.keyCheck?.fresh === 2);
  });

  it('holds the clipboard: at once in virtual time, cancellable in real time', async () => {
    const quick = await sim('clipboard-desktop').copyToClipboard(SECRET);
    assert.equal(await quick.wait(10000), true);
    const hold = await sim(scratch.patched('clipboard-desktop', { realTime: true })).copyToClipboard(SECRET);
    assert.equal(await hold.wait(300), false);
    assert.ok(hold.running && hold.remainingMs() > 15000);
    const started = Date.now();
    await hold.cancel();
    assert.ok(Date.now() - started < 5000);
    assert.equal(hold.running, false);
    const ops = scratch.journalLines().map((line) => line.op).filter((op) => op !== 'sleep');
    assert.deepEqual(ops.slice(-2), ['pasteboardWrite', 'pasteboardClear']);
  });

  it('reports clipboard failures', async () => {
    await assert.rejects(sim('clipboard-desktop').copyToClipboard(SECRET, { deadlineMs: 1764999999999 }), /deadline had passed/);
    await assert.rejects(sim(scratch.patched('clipboard-desktop', { pasteboard: { failWrite: true } })).copyToClipboard(SECRET), /refused the item/);
  });

  it('answers the status modes', async () => {
    assert.equal(await sim('realistic-chrome').trustCheck(), true);
    assert.deepEqual(await sim('agent-browser-desktop').windowVisibility(4242), { all: 3, onScreen: 2, excludingPlaceholder: 2 });
    await assert.rejects(sim('/nonexistent/scenario.json').trustCheck(), (error: ToolError) => error.status === 70 && /chrome-private-input-sim: /.test(error.message));
  });
});

describe('usage errors before the tool starts', () => {
  const tool = new Tool(['/nonexistent/chrome-private-input']);
  const target = { profileName: 'Work', allowedOrigins: ACCOUNTS };
  const table: [string, () => Promise<unknown>, RegExp][] = [
    ['origin with capitals', () => tool.deliver({ ...target, allowedOrigins: ['https://Accounts.example.com'] }, SECRET), /write "https:\/\/accounts.example.com"/],
    ['origin with trailing slash', () => tool.keyBaseline({ ...target, allowedOrigins: ['https://accounts.example.com/'] }), /write "https:\/\/accounts.example.com"/],
    ['origin with a port', () => tool.deliver({ ...target, allowedOrigins: ['https://accounts.example.com:8443'] }, SECRET), /without port/],
    ['no origins', () => tool.deliver({ ...target, allowedOrigins: [] }, SECRET), /1 to 16/],
    ['17 origins', () => tool.deliver({ ...target, allowedOrigins: Array.from({ length: 17 }, (_, i) => `https://h${i}.example`) }, SECRET), /1 to 16/],
    ['empty profile', () => tool.countWindows(''), /empty/],
    ['81 characters', () => tool.countWindows('x'.repeat(81)), /80/],
    ['misspelled windowNumber', () => tool.deliver({ ...target, windownumber: 4101 } as never, SECRET), /unknown target key "windownumber"/],
    ['window number 0', () => tool.deliver({ ...target, windowNumber: 0 }, SECRET), /never matches/],
    ['window number too large', () => tool.deliver({ ...target, windowNumber: 2 ** 32 }, SECRET), /range/],
    ['empty secret', () => tool.deliver(target, ''), /empty/],
    ['secret not UTF-8', () => tool.deliver(target, new Uint8Array([0xc0, 0xaf])), /UTF-8/],
    ['encoded surrogate', () => tool.deliver(target, new Uint8Array([0xed, 0xa0, 0x80])), /UTF-8/],
    ['cut sequence', () => tool.deliver(target, new Uint8Array([0x61, 0xe2, 0x82])), /UTF-8/],
    ['secret too large', () => tool.deliver(target, new Uint8Array(1048577).fill(0x61)), /at most 1048576/],
    ['deadline passed', () => tool.copyToClipboard(SECRET, { deadlineMs: 1000 }), /past/],
    ['upper-case baseline', () => tool.keyCapture(target, ['F'.repeat(64)]), /fingerprint/],
    ['pid 1', () => tool.windowVisibility(1), /process identifier/],
  ];
  for (const [name, call, words] of table) {
    it(name, async () => {
      await assert.rejects(call(), (error: Error) => error instanceof UsageError && words.test(error.message));
    });
  }
  it('wipes the bytes of a secret refused before the tool starts', async () => {
    const table: [string, (secret: Uint8Array) => Promise<unknown>][] = [
      ['a loose origin', (secret) => tool.deliver({ ...target, allowedOrigins: ['https://Accounts.example.com'] }, secret)],
      ['an unknown target key', (secret) => tool.deliver({ ...target, windownumber: 1 } as never, secret)],
      ['secureFieldOnly not a boolean', (secret) => tool.deliver({ ...target, secureFieldOnly: 'yes' } as never, secret)],
      ['a deadline that has passed', (secret) => tool.copyToClipboard(secret, { deadlineMs: 1000 })],
      ['an infinite deadline', (secret) => tool.copyToClipboard(secret, { deadlineMs: Infinity })],
      ['a deadline that is not a number', (secret) => tool.copyToClipboard(secret, { deadlineMs: '1' as never })],
    ];
    for (const [name, call] of table) {
      const secret = new TextEncoder().encode(SECRET);
      await assert.rejects(call(secret), UsageError, name);
      assert.ok(secret.every((byte) => byte === 0), name);
    }
  });

  it('lets the bounds through', async () => {
    await assert.rejects(tool.countWindows('\u{1F44B}\u{1F3FD}'.repeat(80)), /cannot start/);
    await assert.rejects(tool.deliver({ ...target, windowNumber: 2 ** 32 - 1 }, '\u00e9\u{1F600}'), /cannot start/);
    await assert.rejects(tool.deliver({ ...target, allowedOrigins: ['https://[fe80::1]'] }, SECRET), /cannot start/);
  });
});

it("runs the README's delivery as written", () => {
  // The indented block after the paragraph that introduces it, up to the next paragraph.
  const readme = readFileSync(join(ROOT, 'README.md'), 'utf8');
  const lines = readme.split(/Saved as\s+`deliver\.mjs`/)[1]!.split('\n\n').slice(1).join('\n\n').split('\n');
  const end = lines.findIndex((line) => line !== '' && !line.startsWith('    '));
  const code = lines
    .slice(0, end)
    .map((line) => line.slice(4))
    .join('\n')
    .replace('./clients/node/dist/index.js', pathToFileURL(join(ROOT, 'clients', 'node', 'dist', 'index.js')).href)
    .replace('build/default/main/platform/simulated/chrome-private-input-sim', HARNESS);
  const done = spawnSync(process.execPath, ['--input-type=module', '-e', code], { cwd: ROOT, encoding: 'utf8', timeout: 60000 });
  assert.deepEqual([done.status, done.stdout, done.stderr], [0, 'typed\n', '']);
});
