// The JSON Schemas of docs/schemas against every line the end-to-end case files expect the tool
// to write, mode by mode, and against requests a client may build.

import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { describe, it } from 'node:test';

import { Ajv2020 } from 'ajv/dist/2020.js';

import { ROOT } from './support.js';

const folder = join(ROOT, 'docs', 'schemas');
const ajv = new Ajv2020({ allErrors: true, strict: true });
for (const file of readdirSync(folder).filter((name) => name.endsWith('.schema.json'))) {
  ajv.addSchema(JSON.parse(readFileSync(join(folder, file), 'utf8')) as object);
}
const validator = (name: string) => {
  const validate = ajv.getSchema(`${name}.schema.json`);
  assert.ok(validate, name);
  return (value: unknown): string | undefined => (validate(value) ? undefined : ajv.errorsText(validate.errors));
};

type Case = { name: string; args?: string[]; expect: { stdout?: string; stdoutHex?: string } };

function modeOf(args: string[]): string {
  if (args.length === 0) return 'delivery';
  if (args.length === 1 && args[0] === '--profile-window-count') return 'count';
  if (args.length === 1 && args[0] === '--key-baseline') return 'key-baseline';
  if (args.length === 1 && args[0] === '--key-capture') return 'key-capture';
  if (args.length === 1 && args[0] === '--trust-check') return 'trust-check';
  if (args.length === 2 && args[0] === '--agent-browser-window-visibility') return 'window-visibility';
  if (args.length === 2 && args[0] === '--copy-delivered-secret') return 'clipboard';
  return 'unrecognised';
}

describe('schemas against the lines the case files expect', () => {
  const casesRoot = join(ROOT, 'tests', 'cases');
  const checked: Record<string, number> = {};
  for (const area of readdirSync(casesRoot, { withFileTypes: true }).filter((entry) => entry.isDirectory())) {
    for (const file of readdirSync(join(casesRoot, area.name)).filter((name) => name.endsWith('.json'))) {
      it(`${area.name}/${file}`, () => {
        const document = JSON.parse(readFileSync(join(casesRoot, area.name, file), 'utf8')) as Case | Case[];
        for (const testCase of Array.isArray(document) ? document : [document]) {
          const { stdout, stdoutHex } = testCase.expect;
          const text = stdout ?? (stdoutHex !== undefined ? Buffer.from(stdoutHex, 'hex').toString('utf8') : undefined);
          if (text === undefined) continue;
          const mode = modeOf(testCase.args ?? []);
          const where = `${file}: ${testCase.name}`;
          if (mode === 'clipboard') {
            assert.ok(text === '' || text === '1', `${where}: the clipboard handoff writes the ready byte or nothing`);
            continue;
          }
          if (mode === 'unrecognised') {
            assert.equal(text, '', `${where}: an unrecognised command line writes nothing`);
            continue;
          }
          assert.ok(text === '' || text.endsWith('\n'), `${where}: every line ends with a line feed`);
          const lines = text.split('\n').slice(0, -1);
          assert.ok(lines.length <= (mode === 'delivery' ? 2 : 1), `${where}: too many lines`);
          const validate = validator(mode);
          lines.forEach((line, index) => {
            const value = JSON.parse(line) as Record<string, unknown>;
            const problem = validate(value);
            assert.equal(problem, undefined, `${where}, line ${index + 1}: ${line}: ${problem}`);
            if (mode === 'delivery' && index === 0 && lines.length === 2) {
              assert.deepEqual(value, { ok: true }, `${where}: a second line follows only the interim line`);
            }
            if (mode === 'delivery' && index === 1) assert.notDeepEqual(value, { ok: true }, `${where}: the final line`);
            checked[mode] = (checked[mode] ?? 0) + 1;
          });
        }
      });
    }
  }
  it('checked lines of every JSON mode', () => {
    for (const mode of ['delivery', 'count', 'key-baseline', 'key-capture', 'trust-check', 'window-visibility']) {
      assert.ok((checked[mode] ?? 0) > 0, `no ${mode} line was checked`);
    }
  });
});

describe('request schema', () => {
  const validate = validator('request');
  const table: [string, unknown, boolean][] = [
    ['a plain request', { profileName: 'Work', allowedOrigins: ['https://accounts.example.com'] }, true],
    ['with window and baseline', { profileName: 'Work', allowedOrigins: ['https://a.example'], windowNumber: 4101, baseline: ['0'.repeat(64)] }, true],
    ['an IPv6 origin', { profileName: 'Work', allowedOrigins: ['https://[fe80::1]'] }, true],
    ['origin with capitals', { profileName: 'Work', allowedOrigins: ['https://Accounts.example.com'] }, false],
    ['origin with trailing slash', { profileName: 'Work', allowedOrigins: ['https://accounts.example.com/'] }, false],
    ['misspelled windowNumber', { profileName: 'Work', allowedOrigins: ['https://a.example'], windownumber: 4101 }, false],
    ['window number 0', { profileName: 'Work', allowedOrigins: ['https://a.example'], windowNumber: 0 }, false],
    ['17 origins', { profileName: 'Work', allowedOrigins: Array.from({ length: 17 }, (_, i) => `https://h${i}.example`) }, false],
    ['upper-case fingerprint', { profileName: 'Work', allowedOrigins: ['https://a.example'], baseline: ['F'.repeat(64)] }, false],
    ['a password field only', { profileName: 'Work', allowedOrigins: ['https://a.example'], secureFieldOnly: true }, true],
    ['secureFieldOnly as a string', { profileName: 'Work', allowedOrigins: ['https://a.example'], secureFieldOnly: 'true' }, false],
  ];
  for (const [name, request, valid] of table) {
    it(name, () => assert.equal(validate(request) === undefined, valid));
  }
  it('count request', () => assert.equal(validator('count-request')({ profileName: 'Work' }), undefined));
});
