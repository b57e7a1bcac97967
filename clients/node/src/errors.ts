// Errors raised by the client. None of them ever carries a secret.

import type { ReasonCode } from './diagnosis.js';

export type CheckMaps = Partial<Record<'windowCheck' | 'originCheck' | 'keyCheck' | 'pageSwitch', Record<string, number>>>;

export class ChromePrivateInputError extends Error {}

/** An argument the tool would refuse (or silently misread); raised before anything starts. */
export class UsageError extends ChromePrivateInputError {
  override name = 'UsageError';
}

/** The tool ended without the answer its protocol promises. `status` is the exit status
 * (negative: ended by that signal number), `stage` how far the exchange got. */
export class ToolError extends ChromePrivateInputError {
  override name = 'ToolError';
  constructor(message: string, readonly status: number | null = null, readonly stage = '') {
    super(message);
  }
}

/** The tool refused with one of its twelve reason codes. */
export class Refusal extends ChromePrivateInputError {
  override name = 'Refusal';
  constructor(
    readonly reason: ReasonCode,
    readonly checks: CheckMaps,
    readonly diagnosis: string,
    readonly mode: string,
    readonly retry: boolean,
    readonly secretSent = false,
  ) {
    super(`${reason}: ${diagnosis}`);
  }
}
