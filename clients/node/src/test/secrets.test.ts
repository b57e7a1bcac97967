// Secret references and capture destinations, with fake security, op and pass executables on
// PATH (the real ones are macOS and password-manager tools); env: and file: for real. Also the
// configuration's refusals.

import assert from 'node:assert/strict';
import { mkdirSync, readdirSync, readFileSync, statSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, describe, it } from 'node:test';

import { ConfigError, parseConfig } from '../config.js';
import { resolveSecret, SecretError, storeCapturedKey } from '../secrets.js';
import { holdsSecret, jsonEscaped } from '../server.js';
import { Scratch } from './support.js';

const scratch = new Scratch();
after(() => scratch.remove());
const log = join(scratch.folder, 'calls.log');
scratch.executable('security', `echo "security $*" >> ${log}
case "$1" in
  find-generic-password) [ "$3" = "svc" ] && printf 'keychain-secret\\n' || exit 44 ;;
  -i) cat >> ${log}.stdin ;;
esac`);
scratch.executable('op', `echo "op $*" >> ${log}; printf 'op-secret\\n'`);
scratch.executable('pass', `echo "pass $*" >> ${log}; printf 'pass-secret\\nlogin: alice\\nurl: x\\n'`);
const env = { PATH: `${scratch.folder}:/usr/bin:/bin`, TOKEN: 'env-secret' };

describe('secret references', () => {
  const table: [string, string][] = [
    ['env:TOKEN', 'env-secret'],
    ['keychain:svc/alice', 'keychain-secret'],
    ['op://Private/Login/password', 'op-secret'],
    ['pass:web/login', 'pass-secret'],
  ];
  for (const [reference, expected] of table) {
    it(`resolves ${reference}`, async () => {
      const secret = await resolveSecret(reference, env);
      assert.equal(secret.toString(), expected);
    });
  }
  it('passes the reference to the helpers as separate arguments', () => {
    assert.deepEqual(readFileSync(log, 'utf8').trim().split('\n'), [
      'security find-generic-password -s svc -a alice -w', 'op read op://Private/Login/password', 'pass show -- web/login',
    ]);
  });
  it('fails without leaking what the helper printed', async () => {
    await assert.rejects(resolveSecret('keychain:other/alice', env), (error: Error) => error instanceof SecretError && /status 44/.test(error.message));
    await assert.rejects(resolveSecret('env:MISSING', env), /not set/);
    await assert.rejects(resolveSecret('pass:x', { PATH: '/nonexistent' }), /not found on PATH/);
  });
  it('runs the helpers with their own environment, and stops one that hangs', async () => {
    const hanging = join(scratch.folder, 'hanging');
    mkdirSync(hanging);
    scratch.executable(join('hanging', 'op'), `env > ${log}.env; exec sleep 30`);
    const started = Date.now();
    await assert.rejects(
      resolveSecret('op://a/b/c', { ...env, PATH: hanging }, { PATH: `${hanging}:/usr/bin:/bin` }, 300),
      (error: Error) => error instanceof SecretError && /op did not answer within 0.3 seconds/.test(error.message),
    );
    assert.ok(Date.now() - started < 5000);
    assert.doesNotMatch(readFileSync(`${log}.env`, 'utf8'), /TOKEN/);
  });
});

describe('capture destinations', () => {
  it('writes a file with mode 0600, also over an existing file', async () => {
    const path = join(scratch.folder, 'key');
    writeFileSync(path, 'old contents that are longer', { mode: 0o644 });
    await storeCapturedKey(`file:${path}`, Buffer.from('sk_live_new'), env);
    assert.equal(readFileSync(path, 'utf8'), 'sk_live_new');
    assert.equal(statSync(path).mode & 0o777, 0o600);
  });
  it('names the place when a key cannot be stored, and leaves no file behind', async () => {
    const table: [string, string, RegExp][] = [
      ['a missing folder', join(scratch.folder, 'missing', 'key'), /could not be stored in .*missing\/key: ENOENT/],
      ['a folder at the destination', join(scratch.folder, 'blocked'), /could not be stored in .*blocked: (EISDIR|ENOTEMPTY|EEXIST)/],
    ];
    mkdirSync(join(scratch.folder, 'blocked'));
    writeFileSync(join(scratch.folder, 'blocked', 'inside'), '');
    for (const [name, path, words] of table) {
      const before = readdirSync(scratch.folder).sort();
      await assert.rejects(storeCapturedKey(`file:${path}`, Buffer.from('sk_live_new'), env), (error: Error) => error instanceof SecretError && words.test(error.message), name);
      assert.deepEqual(readdirSync(scratch.folder).sort(), before, name);
    }
  });
  it('hands a key to the keychain on standard input, never on the command line', async () => {
    await storeCapturedKey('keychain:api/robot', Buffer.from('sk_live_new'), env);
    assert.ok(!readFileSync(log, 'utf8').includes('sk_live_new'));
    assert.equal(readFileSync(`${log}.stdin`, 'utf8'), 'add-generic-password -U -s "api" -a "robot" -w sk_live_new\n');
  });
});

describe('configuration', () => {
  const good = { tool: ['chrome-private-input'], targets: { t: { profileName: 'Work', allowedOrigins: ['https://a.example'], secret: 'env:X' } } };
  const table: [string, unknown, RegExp][] = [
    ['misspelled windowNumber', { ...good, targets: { t: { ...good.targets.t, windownumber: 4101 } } }, /unknown key "windownumber"/],
    ['loose origin', { ...good, targets: { t: { ...good.targets.t, allowedOrigins: ['https://A.example/'] } } }, /write "https:\/\/a.example"/],
    ['secret given in clear', { ...good, targets: { t: { ...good.targets.t, secret: 'hunter2' } } }, /must be a reference/],
    ['capture to a bare path', { ...good, targets: { t: { ...good.targets.t, captureTo: '/tmp/key' } } }, /captureTo/],
    ['tool as a string', { ...good, tool: 'chrome-private-input' }, /"tool"/],
    ['no targets', { ...good, targets: {} }, /at least one/],
    ['unknown top-level key', { ...good, secrets: {} }, /unknown key "secrets"/],
    ['an unknown kind of field', { ...good, targets: { t: { ...good.targets.t, field: 'secure' } } }, /"field" must be "password"/],
    ['allowClipboard as a string', { ...good, targets: { t: { ...good.targets.t, allowClipboard: 'yes' } } }, /"allowClipboard" must be a boolean/],
    ['a target named __proto__', JSON.parse(`{"tool":["x"],"targets":{"__proto__":${JSON.stringify(good.targets.t)}}}`), /cannot name a target/],
  ];
  for (const [name, document, words] of table) {
    it(`refuses ${name}`, () => {
      assert.throws(() => parseConfig(document), (error: Error) => error instanceof ConfigError && words.test(error.message));
    });
  }
  it('accepts a complete target', () => {
    // 1Password names may hold spaces: the reference reaches `op read` as one argument.
    const secret = 'op://Private/Work Login/password';
    const config = parseConfig({ ...good, targets: { t: { ...good.targets.t, windowNumber: 4101, secret, captureTo: 'keychain:a/b', returnCapturedKey: false } } });
    assert.equal(config.targets.t?.windowNumber, 4101);
    assert.equal(config.targets.t?.secret, secret);
  });
});

describe('answers holding a secret', () => {
  // Each secret, and whether an answer built around it is caught. JSON writes quotes, backslashes and
  // control characters escaped, once in the answer and twice in an answer quoted in another.
  const table: [string, string][] = [
    ['plain', 'hunter2-secret'],
    ['quotes', 'pa"ss"word'],
    ['backslashes', 'C:\\dir\\key'],
    ['control characters', 'tab\there\u0001bell\nline'],
    ['non-ASCII', 'pässwörd-🔑'],
  ];
  for (const [name, secret] of table) {
    it(`finds ${name} in every form an answer may carry`, () => {
      const bytes = Buffer.from(secret, 'utf8');
      assert.deepEqual(jsonEscaped(bytes), Buffer.from(JSON.stringify(secret).slice(1, -1), 'utf8'));
      const answer = JSON.stringify({ verdict: 'refused', reason: secret });
      for (const text of [secret, answer, JSON.stringify({ error: answer })]) {
        assert.ok(holdsSecret(Buffer.from(`x${text}y`, 'utf8'), bytes), text);
      }
      assert.ok(!holdsSecret(Buffer.from(JSON.stringify({ reason: secret.slice(1) })), bytes));
    });
  }
  it('treats an empty secret as nothing to find', () => {
    assert.ok(!holdsSecret(Buffer.from('{}'), Buffer.alloc(0)));
  });
});
