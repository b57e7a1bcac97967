// The TypeScript diagnosis against the cases shared with the Python client
// (clients/diagnosis-cases.json): both explain a refusal in the same words.

import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { it } from 'node:test';

import { REASONS, diagnose, type CheckMaps, type RequestFacts } from '../index.js';
import { ROOT } from './support.js';

type Case = { name: string; reason: string; checks: CheckMaps; request: RequestFacts; afterInterim: boolean; diagnosis: string };
const cases = JSON.parse(readFileSync(join(ROOT, 'clients', 'diagnosis-cases.json'), 'utf8')) as Case[];

it('covers every reason', () => assert.deepEqual(new Set(cases.map((c) => c.reason)), new Set(Object.keys(REASONS))));
for (const testCase of cases) {
  it(`diagnoses: ${testCase.name}`, () => {
    assert.equal(diagnose(testCase.reason, testCase.checks, testCase.request, testCase.afterInterim, 'mcp'), testCase.diagnosis);
  });
}
