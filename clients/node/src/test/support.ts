// Paths to the simulated harness and the scenarios, and temporary files for the tests.

import { chmodSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

export const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..', '..', '..');
export const HARNESS =
  process.env.CPI_SIM ?? join(ROOT, 'build', 'default', 'main', 'platform', 'simulated', 'chrome-private-input-sim');
export const scenario = (name: string): string => join(ROOT, 'tests', 'scenarios', `${name}.json`);
export const SECRET = 'correct horse battery staple';
// The stand-in for the tool that both clients' tests start (its behaviours: see the script).
export const FAKE_TOOL = join(ROOT, 'clients', 'fake-tool.py');

export class Scratch {
  readonly folder = mkdtempSync(join(tmpdir(), 'cpi-node-'));
  readonly journal = join(this.folder, 'journal.jsonl');

  patched(name: string, patch: Record<string, unknown>): string {
    const document = JSON.parse(readFileSync(scenario(name), 'utf8')) as Record<string, unknown>;
    const path = join(this.folder, `${name}-patched.json`);
    writeFileSync(path, JSON.stringify({ ...document, ...patch }));
    return path;
  }

  journalLines(): Record<string, unknown>[] {
    return readFileSync(this.journal, 'utf8')
      .split('\n')
      .filter((line) => line.trim())
      .map((line) => JSON.parse(line) as Record<string, unknown>);
  }

  writes(): unknown[] {
    return this.journalLines()
      .filter((line) => line.op === 'set' && line.attribute === 'AXValue')
      .map((line) => line.value);
  }

  /** An executable shell script standing in for a program. */
  executable(name: string, body: string): string {
    const path = join(this.folder, name);
    writeFileSync(path, `#!/bin/sh\n${body}\n`);
    chmodSync(path, 0o755);
    return path;
  }

  remove(): void {
    rmSync(this.folder, { recursive: true, force: true });
  }
}
