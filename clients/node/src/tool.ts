// Starting the tool, speaking its frames and lines, and turning its answers into values.

import { spawn, type ChildProcess } from 'node:child_process';
import { createHash } from 'node:crypto';
import { constants as osConstants } from 'node:os';

import { REASONS, diagnose, isReasonCode, type ReasonCode, type RequestFacts } from './diagnosis.js';
import { Refusal, ToolError, UsageError, type CheckMaps } from './errors.js';
import * as validation from './validation.js';

export type Secret = Uint8Array | string;
/** Gives the secret only when the tool has confirmed its target (for instance from a keychain);
 * the function may answer at once or with a promise. */
export type SecretSource = Secret | (() => Secret | Promise<Secret>);

export const REQUEST_MAXIMUM = 16384;
export const KEY_REQUEST_MAXIMUM = 65536;
export const SECRET_MAXIMUM = 1048576;
export const CLIPBOARD_SECRET_MAXIMUM = 262144;
export const HOLD_MILLISECONDS = 20000;
// How long a tool that is being stopped may take to restore what it changed before it is killed:
// longer than the 2 seconds the tool itself may take, so that SIGKILL never cuts a restore short.
export const STOP_MILLISECONDS = 5000;
const CHECK_KEYS = ['windowCheck', 'originCheck', 'keyCheck', 'pageSwitch'] as const;

export interface Target {
  profileName: string;
  allowedOrigins: readonly string[];
  windowNumber?: number;
  /** Delivery only: type into a password field only, never into a plain text field that shows
   * what it holds (refused with "focused_field_not_supported"). */
  secureFieldOnly?: boolean;
}

export interface WindowCount {
  count: number;
  windows: number;
  windowNumbers: number[];
  tabCounts: number[];
  frontKind: string | null;
  frontAvatar: string | null;
}

export interface Delivery {
  typed: true;
  pageSwitch?: Record<string, number>;
}

export interface CapturedKey {
  /** The secret itself: keep it out of logs and answers (it is not enumerable, so that logging
   * the object shows the fingerprint only). */
  readonly key: string;
  fingerprint: string;
  pageSwitch?: Record<string, number>;
}

export interface WindowVisibility {
  all: number;
  onScreen: number;
  excludingPlaceholder?: number;
}

export interface ToolOptions {
  /** Milliseconds to wait for each answer line (default 30000). */
  timeoutMs?: number;
  env?: NodeJS.ProcessEnv;
  /** The command is the simulated harness, which runs on its scenario's clock. */
  simulated?: boolean;
}

type Answer = Record<string, unknown>;

function frameHeader(length: number): Buffer {
  const header = Buffer.alloc(4);
  header.writeUInt32BE(length);
  return header;
}

function statusText(status: number | null): string {
  if (status === null) return 'still running';
  if (status < 0) {
    const name = Object.entries(osConstants.signals).find(([, n]) => n === -status)?.[0];
    return `ended by ${name ?? `signal ${-status}`}`;
  }
  return `status ${status}`;
}

// Every run not yet ended, so that a process that is itself being stopped can stop them first.
const runs = new Set<Run>();

/** Stops every tool this process still runs (SIGTERM, then SIGKILL after STOP_MILLISECONDS): for a
 * program that is itself being stopped, so that no tool goes on typing after it is gone. */
export async function stopRunningTools(): Promise<void> {
  await Promise.all([...runs].map((run) => run.stop()));
}

/** One run of the tool. */
class Run {
  readonly child: ChildProcess;
  private pending = Buffer.alloc(0);
  private outputEnded = false;
  private wake: (() => void) | undefined;
  private startError: Error | undefined;
  private stderr: Buffer[] = [];
  readonly exited: Promise<number>;

  constructor(command: readonly string[], env: NodeJS.ProcessEnv | undefined) {
    this.child = spawn(command[0]!, command.slice(1), { stdio: ['pipe', 'pipe', 'pipe'], env });
    runs.add(this);
    this.exited = new Promise((resolve) => {
      this.child.on('close', (code, signal) => {
        runs.delete(this);
        resolve(code ?? (signal ? -(osConstants.signals[signal] ?? 1) : -1));
      });
    });
    this.child.on('error', (error) => {
      runs.delete(this);
      this.startError = error;
      this.outputEnded = true;
      this.wake?.();
    });
    this.child.stdin!.on('error', () => {}); // a tool that has ended does not read: not an error here
    this.child.stdout!.on('data', (chunk: Buffer) => {
      this.pending = Buffer.concat([this.pending, chunk]);
      this.wake?.();
    });
    this.child.stdout!.on('end', () => {
      this.outputEnded = true;
      this.wake?.();
    });
    this.child.stderr!.on('data', (chunk: Buffer) => {
      if (this.stderr.length < 16) this.stderr.push(chunk);
    });
  }

  stderrText(): string {
    return Buffer.concat(this.stderr).toString('utf8').trim().slice(0, 4096);
  }

  write(data: Uint8Array): Promise<boolean> {
    return new Promise((resolve) => {
      const stdin = this.child.stdin!;
      if (stdin.destroyed || !stdin.writable) return resolve(false);
      stdin.write(data, (error) => resolve(!error));
    });
  }

  closeInput(): void {
    this.child.stdin!.end();
  }

  private async waitFor<T>(take: () => T | undefined, timeoutMs: number, what: string): Promise<T | null> {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      if (this.startError) {
        throw new ToolError(`cannot start the tool: ${this.startError.message}`, null, 'start');
      }
      const value = take();
      if (value !== undefined) return value;
      if (this.outputEnded) return null;
      const remaining = deadline - Date.now();
      if (remaining <= 0) {
        await this.stop();
        throw new ToolError(`no ${what} within ${timeoutMs / 1000} seconds`, null, what);
      }
      await new Promise<void>((resolve) => {
        const timer = setTimeout(resolve, remaining);
        this.wake = () => {
          clearTimeout(timer);
          resolve();
        };
      });
      this.wake = undefined;
    }
  }

  readLine(timeoutMs: number): Promise<Buffer | null> {
    return this.waitFor(
      () => {
        const end = this.pending.indexOf(0x0a);
        if (end < 0) return undefined;
        const line = this.pending.subarray(0, end);
        this.pending = this.pending.subarray(end + 1);
        return Buffer.from(line);
      },
      timeoutMs,
      'answer',
    );
  }

  readByte(timeoutMs: number): Promise<number | null> {
    return this.waitFor(
      () => {
        if (this.pending.length === 0) return undefined;
        const byte = this.pending[0]!;
        this.pending = this.pending.subarray(1);
        return byte;
      },
      timeoutMs,
      'ready byte',
    );
  }

  async finish(timeoutMs: number): Promise<number> {
    this.closeInput();
    let timer: NodeJS.Timeout | undefined;
    const timedOut = new Promise<null>((resolve) => {
      timer = setTimeout(() => resolve(null), timeoutMs);
    });
    const status = await Promise.race([this.exited, timedOut]);
    clearTimeout(timer);
    if (status === null) {
      await this.stop();
      throw new ToolError('the tool did not end in time and was stopped', null, 'end');
    }
    return status;
  }

  running(): boolean {
    return this.child.exitCode === null && this.child.signalCode === null && !this.startError;
  }

  kill(): void {
    if (this.running()) this.child.kill('SIGKILL');
  }

  /** Stops the tool if it still runs. SIGTERM first: the delivery and key modes answer it by
   * putting Chrome's page accessibility back (SIGKILL would leave it switched on) and the
   * clipboard handoff by taking the secret off; SIGKILL only when it does not end soon. */
  async stop(): Promise<void> {
    if (!this.running()) return;
    this.child.kill('SIGTERM');
    let timer: NodeJS.Timeout | undefined;
    const late = new Promise<false>((resolve) => {
      timer = setTimeout(() => resolve(false), STOP_MILLISECONDS);
    });
    const ended = await Promise.race([this.exited.then(() => true), late]);
    clearTimeout(timer);
    if (!ended) this.kill();
  }
}

/** The running clipboard handoff: the secret is on the pasteboard until the hold ends, 20
 * seconds after the ready byte, or earlier by `cancel`, which takes the secret off at once. */
export class ClipboardHold {
  readonly readyAt = Date.now();
  readonly endsAt = this.readyAt + HOLD_MILLISECONDS;
  private ended = false;

  /** @internal */
  constructor(private readonly run: Run) {
    void run.exited.then(() => {
      this.ended = true;
    });
  }

  get running(): boolean {
    return !this.ended && this.run.running();
  }

  /** Milliseconds until the hold ends on its own (0 once it has). */
  remainingMs(): number {
    return this.running ? Math.max(0, this.endsAt - Date.now()) : 0;
  }

  /** Resolves true when the hold has ended (normally or by `cancel`), false when `timeoutMs`
   * passed first. */
  async wait(timeoutMs?: number): Promise<boolean> {
    let timer: NodeJS.Timeout | undefined;
    const race: Promise<number | null>[] = [this.run.exited];
    if (timeoutMs !== undefined) race.push(new Promise((resolve) => (timer = setTimeout(() => resolve(null), timeoutMs))));
    const status = await Promise.race(race);
    clearTimeout(timer);
    if (status === null) return false;
    const stops = [osConstants.signals.SIGTERM, osConstants.signals.SIGINT, osConstants.signals.SIGHUP].map((n) => -n);
    if (status === 0 || stops.includes(status)) return true;
    throw new ToolError(`the clipboard hold ended with ${statusText(status)}`, status, 'hold');
  }

  /** Ends the hold now: the tool takes the secret off the pasteboard (unless something else was
   * copied since) and ends. Safe to call more than once. */
  async cancel(): Promise<void> {
    if (this.running) {
      this.run.child.kill('SIGTERM');
      const ended = await this.wait(10000);
      if (!ended) this.run.kill();
    }
  }
}

/** The tool as a command line: the production executable (`new Tool(['chrome-private-input'])`)
 * or the simulated harness with its scenario (`Tool.simulated(harness, scenario)`). Every call
 * starts one process, as the tool expects. */
export class Tool {
  readonly command: string[];
  readonly timeoutMs: number;
  readonly env: NodeJS.ProcessEnv | undefined;
  readonly simulated: boolean;

  constructor(command: readonly string[], options: ToolOptions = {}) {
    if (!Array.isArray(command) || command.length === 0 || !command.every((word) => typeof word === 'string')) {
      throw new UsageError("command must be a non-empty list of strings, such as ['chrome-private-input']");
    }
    this.command = [...command];
    this.timeoutMs = options.timeoutMs ?? 30000;
    this.env = options.env;
    this.simulated = options.simulated ?? false;
  }

  static simulated(harness: string, scenario: string, options: ToolOptions & { journal?: string } = {}): Tool {
    const command = [harness, '--scenario', scenario];
    if (options.journal !== undefined) command.push('--journal', options.journal);
    command.push('--');
    return new Tool(command, { ...options, simulated: true });
  }

  async countWindows(profileName: string): Promise<WindowCount> {
    const request = { profileName: validation.checkProfileName(profileName) };
    const answer = await this.singleLine(['--profile-window-count'], request, REQUEST_MAXIMUM, 'count', true);
    if (answer.ok !== true) throw this.refusal(answer, request, 'count');
    return {
      count: answer.count as number,
      windows: answer.windows as number,
      windowNumbers: answer.windowNumbers as number[],
      tabCounts: answer.tabCounts as number[],
      frontKind: (answer.frontKind ?? null) as string | null,
      frontAvatar: (answer.frontAvatar ?? null) as string | null,
    };
  }

  /** Types `secret` into the focused field of the target's window. The secret is sent only after
   * the tool has confirmed the target; a Uint8Array passed in is overwritten with zeros once it
   * has been sent (or refused). Given a function, the secret is fetched only then. */
  async deliver(target: Target, secret: SecretSource): Promise<Delivery> {
    if (typeof secret === 'function') return this.exchangeDelivery(this.request(target, true), secret);
    let data: Buffer | undefined;
    try {
      // Inside the try: a target or secret refused here still leaves the caller's bytes wiped.
      const request = this.request(target, true);
      data = validation.checkSecret(secret, SECRET_MAXIMUM);
      const checked = data;
      return await this.exchangeDelivery(request, async () => checked);
    } finally {
      data?.fill(0);
      validation.wipe(secret);
    }
  }

  /** The fingerprints of the key-like texts on the page now, to pass to `keyCapture`. */
  async keyBaseline(target: Target): Promise<string[]> {
    const request = this.request(target);
    const answer = await this.singleLine(['--key-baseline'], request, KEY_REQUEST_MAXIMUM, 'keyBaseline');
    return answer.baseline as string[];
  }

  /** The one key-like text on the page whose fingerprint is not in `baseline`. */
  async keyCapture(target: Target, baseline: readonly string[]): Promise<CapturedKey> {
    const request = { ...this.request(target), baseline: validation.checkBaseline(baseline) };
    const answer = await this.singleLine(['--key-capture'], request, KEY_REQUEST_MAXIMUM, 'keyCapture');
    const key = answer.key as string;
    const captured = { fingerprint: createHash('sha256').update(key, 'utf8').digest('hex') } as CapturedKey;
    // Not enumerable: logging the answer (console.log, JSON.stringify) shows its fingerprint only.
    Object.defineProperty(captured, 'key', { value: key, enumerable: false });
    if (answer.pageSwitch) captured.pageSwitch = answer.pageSwitch as Record<string, number>;
    return captured;
  }

  /** Puts `secret` on the pasteboard for 20 seconds and resolves as soon as it is there. The
   * deadline (milliseconds since 1970) defaults to `withinMs` from now: if the tool reads the
   * secret only later, it puts nothing on the pasteboard. */
  async copyToClipboard(secret: Secret, options: { deadlineMs?: number; withinMs?: number } = {}): Promise<ClipboardHold> {
    const deadline = options.deadlineMs ?? Date.now() + (options.withinMs ?? 5000);
    let data: Buffer;
    try {
      if (typeof deadline !== 'number' || !Number.isFinite(deadline)) {
        throw new UsageError('deadlineMs must be a finite number of milliseconds since 1970');
      }
      if (!this.simulated && !(deadline > Date.now())) {
        throw new UsageError('deadlineMs lies in the past; the tool would end with status 2');
      }
      data = validation.checkSecret(secret, CLIPBOARD_SECRET_MAXIMUM);
    } catch (error) {
      validation.wipe(secret); // refused before the tool started: the caller's bytes go too
      throw error;
    }
    const argument = Number.isInteger(deadline) ? String(deadline) : deadline.toString();
    const run = new Run([...this.command, '--copy-delivered-secret', argument], this.env);
    let sent: boolean;
    try {
      sent = (await run.write(frameHeader(data.length))) && (await run.write(data));
    } finally {
      data.fill(0);
      validation.wipe(secret);
    }
    run.closeInput();
    const ready = await run.readByte(this.timeoutMs);
    if (ready === 0x31) return new ClipboardHold(run);
    const status = await run.finish(this.timeoutMs);
    this.harnessProblem(run, status);
    if (status === 2 || !sent) {
      throw new ToolError(
        'the clipboard handoff refused its input: the deadline had passed when the tool read the secret, or the secret frame was not accepted (status 2)',
        status,
        'ready',
      );
    }
    if (status === 1) {
      throw new ToolError('the pasteboard refused the item or the write (status 1); the pasteboard may have been cleared', status, 'ready');
    }
    throw new ToolError(`the clipboard handoff ended with ${statusText(status)} and no ready byte`, status, 'ready');
  }

  async trustCheck(): Promise<boolean> {
    const answer = await this.singleLine(['--trust-check'], undefined, 0, 'trustCheck', true);
    return answer.trusted === true;
  }

  /** How many windows of process `pid` (the agent's own browser) exist and are on screen. */
  async windowVisibility(pid: number): Promise<WindowVisibility> {
    if (!Number.isInteger(pid) || pid < 2 || pid > 2147483647) {
      throw new UsageError(`pid must be a process identifier from 2 to 2147483647, not ${JSON.stringify(pid)}`);
    }
    const answer = await this.singleLine(['--agent-browser-window-visibility', String(pid)], undefined, 0, 'windowVisibility', true);
    const result: WindowVisibility = { all: answer.all as number, onScreen: answer.onScreen as number };
    if (typeof answer.excludingPlaceholder === 'number') result.excludingPlaceholder = answer.excludingPlaceholder;
    return result;
  }

  // -- the exchange -----------------------------------------------------------------------------

  private request(target: Target, delivery = false): { profileName: string; allowedOrigins: string[]; windowNumber?: number; secureFieldOnly?: boolean } {
    if (typeof target !== 'object' || target === null) throw new UsageError('the target must be an object');
    const keys = ['profileName', 'allowedOrigins', 'windowNumber', 'secureFieldOnly'];
    const unknown = Object.keys(target).filter((key) => !keys.includes(key));
    if (unknown.length) {
      throw new UsageError(`unknown target key ${JSON.stringify(unknown[0])} (the keys are ${keys.join(', ')})`);
    }
    const request: { profileName: string; allowedOrigins: string[]; windowNumber?: number; secureFieldOnly?: boolean } = {
      profileName: validation.checkProfileName(target.profileName),
      allowedOrigins: validation.checkOrigins(target.allowedOrigins),
    };
    const number = validation.checkWindowNumber(target.windowNumber);
    if (number !== undefined) request.windowNumber = number;
    if (target.secureFieldOnly !== undefined && typeof target.secureFieldOnly !== 'boolean') {
      throw new UsageError(`secureFieldOnly must be true or false, not ${JSON.stringify(target.secureFieldOnly)}`);
    }
    // The key modes read no field: the key is sent with deliveries only.
    if (delivery && target.secureFieldOnly === true) request.secureFieldOnly = true;
    return request;
  }

  private encode(request: object, maximum: number): Buffer {
    const payload = Buffer.from(JSON.stringify(request), 'utf8');
    if (payload.length > maximum) {
      throw new UsageError(`the request is ${payload.length} bytes long; this mode takes at most ${maximum}`);
    }
    return Buffer.concat([frameHeader(payload.length), payload]);
  }

  private refusal(answer: Answer, request: RequestFacts | undefined, mode: string, secretSent = false): Refusal {
    // A reason outside the twelve is kept as the tool wrote it and explained as unknown.
    const reason = (typeof answer.reason === 'string' ? answer.reason : '') as ReasonCode;
    const checks: CheckMaps = {};
    for (const key of CHECK_KEYS) {
      const value = answer[key];
      if (value && typeof value === 'object') checks[key] = value as Record<string, number>;
    }
    return new Refusal(reason, checks, diagnose(reason, checks, request, secretSent), mode, isReasonCode(reason) ? REASONS[reason].retry : false, secretSent);
  }

  private harnessProblem(run: Run, status: number): void {
    if (status === 70 && this.simulated) {
      throw new ToolError(run.stderrText() || 'the simulated harness refused its command line or scenario (status 70)', status, 'start');
    }
  }

  private async silentEnd(run: Run, mode: string, stage: string): Promise<ToolError> {
    const status = await run.finish(this.timeoutMs);
    this.harnessProblem(run, status);
    // After the interim line the request was fine: only the secret frame can be at fault.
    const explanation =
      stage === 'final' && status === 1
        ? 'the secret frame was missing, too large, not UTF-8 or empty'
        : status === 1
          ? 'the request frame was not accepted or did not decode'
          : status === 2
            ? 'the command line was not recognised'
            : 'it ended unexpectedly';
    return new ToolError(`${mode}: the tool wrote no line (${statusText(status)}: ${explanation})`, status, stage);
  }

  private async readAnswer(run: Run, mode: string, stage: string): Promise<Answer> {
    const line = await run.readLine(this.timeoutMs);
    if (line === null) throw await this.silentEnd(run, mode, stage);
    let answer: unknown;
    try {
      answer = JSON.parse(line.toString('utf8'));
    } catch {
      await run.stop();
      throw new ToolError(`${mode}: the tool wrote a line that is not JSON`, null, stage);
    }
    if (typeof answer !== 'object' || answer === null || Array.isArray(answer)) {
      await run.stop();
      throw new ToolError(`${mode}: the tool wrote a line that is not a JSON object`, null, stage);
    }
    return answer as Answer;
  }

  private async singleLine(
    args: string[],
    request: (RequestFacts & object) | undefined,
    maximum: number,
    mode: string,
    anyVerdict = false,
  ): Promise<Answer> {
    const frame = request ? this.encode(request, maximum) : undefined;
    const run = new Run([...this.command, ...args], this.env);
    try {
      if (frame) await run.write(frame);
      run.closeInput();
      const answer = await this.readAnswer(run, mode, 'answer');
      await run.finish(this.timeoutMs);
      if (anyVerdict || answer.ok === true) return answer;
      throw this.refusal(answer, request, mode);
    } finally {
      await run.stop();
    }
  }

  private async exchangeDelivery(request: RequestFacts & object, source: () => Secret | Promise<Secret>): Promise<Delivery> {
    const run = new Run(this.command, this.env);
    let final: Answer;
    try {
      await run.write(this.encode(request, REQUEST_MAXIMUM));
      const interim = await this.readAnswer(run, 'deliver', 'interim');
      if (interim.ok !== true) {
        await run.finish(this.timeoutMs);
        throw this.refusal(interim, request, 'deliver');
      }
      // Confirmed: only now is the secret fetched and sent; standard input stays open until the
      // final line has come.
      const secret = await source();
      const data = validation.checkSecret(secret, SECRET_MAXIMUM);
      try {
        await run.write(frameHeader(data.length));
        await run.write(data);
      } finally {
        data.fill(0);
        validation.wipe(secret);
      }
      final = await this.readAnswer(run, 'deliver', 'final');
      await run.finish(this.timeoutMs);
    } finally {
      await run.stop();
    }
    if (final.ok === true && final.typed === true) {
      const delivery: Delivery = { typed: true };
      if (final.pageSwitch) delivery.pageSwitch = final.pageSwitch as Record<string, number>;
      return delivery;
    }
    throw this.refusal(final, request, 'deliver', true);
  }
}
