// What a new user of the library meets first: the origin suggestions (shared with the Python
// client through clients/origin-cases.json), reason codes that a misspelling cannot match, a
// secret function that answers at once, and explanations in this library's own method names.

import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, describe, it } from 'node:test';

import { REASON_CODES, REASONS, diagnose, suggestOrigin, Tool, UsageError, type Refusal, type SecretSource } from '../index.js';
import { helperErrorLine } from '../secrets.js';
import { HARNESS, ROOT, SECRET, Scratch, scenario } from './support.js';

type OriginCase = { written: string; suggestion: string | null; internationalised: boolean };
const originCases = JSON.parse(readFileSync(join(ROOT, 'clients', 'origin-cases.json'), 'utf8')) as OriginCase[];
const scratch = new Scratch();
after(() => scratch.remove());

describe('origins', () => {
  for (const { written, suggestion, internationalised } of originCases) {
    it(`suggests for ${written}`, async () => {
      assert.equal(suggestOrigin(written) ?? null, suggestion);
      const tool = new Tool(['/nonexistent']);
      await assert.rejects(tool.keyBaseline({ profileName: 'Work', allowedOrigins: [written] }), (error: Error) => {
        assert.ok(error instanceof UsageError);
        if (suggestion) assert.ok(error.message.includes(`write "${suggestion}"`), error.message);
        assert.equal(/"xn--" form/.test(error.message), internationalised && suggestion !== null, error.message);
        return true;
      });
    });
  }
});

describe('types and names', () => {
  it('reads the reason table from the shared file, with this library names in its advice', () => {
    const shared = JSON.parse(readFileSync(join(ROOT, 'clients', 'reasons.json'), 'utf8')) as { reasons: Record<string, unknown> };
    assert.deepEqual([...REASON_CODES].sort(), Object.keys(shared.reasons).sort());
    assert.match(REASONS.accessibility_unavailable.advice, /check with trustCheck$/);
    const several = diagnose('selected_chrome_profile_not_confirmed', { windowCheck: { windows: 5, avatarWindows: 2 } }, { profileName: 'Work' });
    assert.match(several, /name one with windowNumber \(countWindows lists their numbers\)/);
    assert.doesNotMatch(several, /count_windows/);
  });

  it('does not compile a misspelt reason code', () => {
    const isOriginRefusal = (error: Refusal): boolean =>
      // @ts-expect-error: 'orign_not_allowed' is not a reason code (the build fails if it were)
      error.reason === 'orign_not_allowed';
    assert.equal(typeof isOriginRefusal, 'function');
  });

  it('takes a secret function that answers at once', async () => {
    const source: SecretSource = () => SECRET;
    const tool = Tool.simulated(HARNESS, scenario('realistic-chrome'), { journal: scratch.journal });
    const delivery = await tool.deliver({ profileName: 'Work', allowedOrigins: ['https://accounts.example.com'], windowNumber: 4101 }, source);
    assert.equal(delivery.typed, true);
    assert.deepEqual(scratch.writes(), [SECRET]);
  });
});

describe("a failed helper's line", () => {
  const cases: [string, string, string, string][] = [
    ['kept as it is', 'Error: item not found in vault "Private"\nsecond line', '', 'Error: item not found in vault "Private"'],
    ['a password-like word masked', '[ERROR] could not read Tr0ub4dor&3x: denied', '', '[ERROR] could not read [hidden]: denied'],
    ['what the helper printed before it failed masked', 'bad entry hunter2 in store', 'hunter2\n', 'bad entry [hidden] in store'],
    ['control characters dropped', 'Error:\u001b[31m red', '', 'Error: [31m red'],
    ['first non-empty line only', '\n\n  gpg: decryption failed  \nmore', '', 'gpg: decryption failed'],
    ['cut to 200 characters', 'a '.repeat(300), '', `${'a '.repeat(100)}…`],
  ];
  for (const [name, stderr, stdout, expected] of cases) {
    it(name, () => assert.equal(helperErrorLine(Buffer.from(stderr), Buffer.from(stdout)), expected));
  }
});
