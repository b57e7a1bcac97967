// Secret references resolved only when a delivery is about to happen, and the places a captured
// key may be stored. Output of the helper programs is kept in buffers that are wiped after use;
// error messages never include it.

import { spawn } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import { closeSync, fstatSync, fsyncSync, openSync, readSync, renameSync, unlinkSync, writeSync, constants as fsConstants } from 'node:fs';
import { basename, dirname, join, resolve } from 'node:path';

export class SecretError extends Error {
  override name = 'SecretError';
}

export const SECRET_REFERENCE = /^(env:[A-Za-z_][A-Za-z0-9_]*|file:[^\n]+|keychain:[^/\n"]+\/[^\n"]+|op:\/\/[^\n]+|pass:[^\n]+)$/;
export const CAPTURE_REFERENCE = /^(keychain:[^/\n"]+\/[^\n"]+|file:.+)$/;

interface RunResult {
  status: number | null;
  stdout: Buffer;
  stderr: Buffer;
}

// The largest secret a delivery takes; a secret file may hold one more byte, its final newline.
const SECRET_FILE_MAXIMUM = 1048576 + 2;
const HELPER_LINE_MAXIMUM = 200;

// Punctuation around a word that is not part of it ("item.", "'name'", "(vault)").
const AROUND = /^[("'[<]+|[)"'\].,:;!?>]+$/g;

/** Whether a word could be a password: long, and mixing at least three kinds of character. */
function looksLikeSecret(word: string): boolean {
  if (word.length < 12) return false;
  const kinds = [/[a-z]/, /[A-Z]/, /[0-9]/, /[^A-Za-z0-9]/].filter((kind) => kind.test(word)).length;
  return kinds >= 3;
}

/** The first line a failed helper wrote on standard error, as it may be shown: control
 * characters dropped, every word that appears in what the helper wrote on standard output (part
 * of the secret) or that could be a password masked, and cut to 200 characters. */
export function helperErrorLine(stderr: Buffer, stdout: Buffer): string {
  const line = stderr.toString('utf8').split(/\r?\n/).map((text) => text.trim()).find((text) => text !== '') ?? '';
  const words = line.replace(/[\u0000-\u001f\u007f-\u009f]/g, ' ').split(/(\s+)/);
  const cleaned = words
    .map((word) => {
      const core = word.replace(AROUND, '');
      if (core === '') return word;
      if (looksLikeSecret(core) || (core.length >= 4 && stdout.includes(Buffer.from(core, 'utf8')))) return word.replace(core, '[hidden]');
      return word;
    })
    .join('');
  const characters = [...cleaned];
  return characters.length > HELPER_LINE_MAXIMUM ? `${characters.slice(0, HELPER_LINE_MAXIMUM).join('')}…` : cleaned;
}

/** A secret kept in a file of its own: the user's, mode 0600 or stricter, not reached through a
 * link, one final newline dropped. */
function readSecretFile(reference: string): Buffer {
  const path = reference.slice('file:'.length);
  let descriptor: number;
  try {
    descriptor = openSync(path, fsConstants.O_RDONLY | fsConstants.O_NOFOLLOW);
  } catch (error) {
    const code = (error as NodeJS.ErrnoException).code ?? 'error';
    throw new SecretError(`cannot open the secret file of ${reference}: ${code === 'ELOOP' ? 'it is a symbolic link' : code}`);
  }
  try {
    const stats = fstatSync(descriptor);
    if (!stats.isFile()) throw new SecretError(`the secret file of ${reference} is not a regular file`);
    const uid = process.getuid?.() ?? -1;
    if (stats.uid !== uid) throw new SecretError(`the secret file of ${reference} belongs to user ${stats.uid}, not to the user running the server (${uid})`);
    if ((stats.mode & 0o077) !== 0) {
      throw new SecretError(`the secret file of ${reference} has mode ${(stats.mode & 0o777).toString(8)}: others may read it; make it 600 (chmod 600)`);
    }
    const buffer = Buffer.alloc(SECRET_FILE_MAXIMUM + 1);
    let length = 0;
    for (;;) {
      const count = readSync(descriptor, buffer, length, buffer.length - length, null);
      if (count === 0) break;
      length += count;
      if (length === buffer.length) {
        buffer.fill(0);
        throw new SecretError(`the secret file of ${reference} is larger than a secret may be`);
      }
    }
    const secret = Buffer.from(withoutFinalNewline(buffer.subarray(0, length)));
    buffer.fill(0);
    if (secret.length === 0) throw new SecretError(`the secret file of ${reference} is empty`);
    return secret;
  } finally {
    closeSync(descriptor);
  }
}

// A helper that asks for a passphrase or hangs on a locked store would hold the delivery forever.
export const HELPER_TIMEOUT_MILLISECONDS = 30000;

function runHelper(program: string, args: string[], env: NodeJS.ProcessEnv, input?: Buffer, timeoutMs = HELPER_TIMEOUT_MILLISECONDS): Promise<RunResult> {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { stdio: ['pipe', 'pipe', 'pipe'], env });
    const chunks: Buffer[] = [];
    const errors: Buffer[] = [];
    let errorBytes = 0;
    child.stderr.on('data', (chunk: Buffer) => {
      // Enough for the first line; the rest is not kept.
      if (errorBytes < 4096) errors.push(chunk);
      else chunk.fill(0);
      errorBytes += chunk.length;
    });
    let timedOut = false;
    const timer = setTimeout(() => {
      timedOut = true;
      child.kill('SIGKILL');
    }, timeoutMs);
    child.stdout.on('data', (chunk: Buffer) => chunks.push(chunk));
    child.on('error', (error: NodeJS.ErrnoException) => {
      clearTimeout(timer);
      reject(new SecretError(`cannot run ${program}: ${error.code === 'ENOENT' ? 'not found on PATH' : error.code ?? 'error'}`));
    });
    child.on('close', (status) => {
      clearTimeout(timer);
      const stdout = Buffer.concat(chunks);
      const stderr = Buffer.concat(errors);
      for (const chunk of [...chunks, ...errors]) chunk.fill(0);
      if (timedOut) {
        stdout.fill(0);
        stderr.fill(0);
        reject(new SecretError(`${program} did not answer within ${timeoutMs / 1000} seconds and was stopped`));
        return;
      }
      resolve({ status, stdout, stderr });
    });
    child.stdin.on('error', () => {});
    if (input) child.stdin.write(input);
    child.stdin.end();
  });
}

function withoutFinalNewline(buffer: Buffer): Buffer {
  let end = buffer.length;
  if (end > 0 && buffer[end - 1] === 0x0a) end--;
  if (end > 0 && buffer[end - 1] === 0x0d) end--;
  return buffer.subarray(0, end);
}

function keychainParts(reference: string): [string, string] {
  const rest = reference.slice('keychain:'.length);
  const slash = rest.indexOf('/');
  return [rest.slice(0, slash), rest.slice(slash + 1)];
}

/** Resolves a secret reference to its bytes. The caller wipes the buffer after use. `env` is where
 * `env:` references are looked up; the helper programs run with `helperEnv`, which should lack the
 * variables that hold secrets. */
export async function resolveSecret(
  reference: string,
  env: NodeJS.ProcessEnv = process.env,
  helperEnv: NodeJS.ProcessEnv = env,
  timeoutMs = HELPER_TIMEOUT_MILLISECONDS,
): Promise<Buffer> {
  let kind: string;
  let result: RunResult;
  if (reference.startsWith('env:')) {
    const name = reference.slice(4);
    const value = env[name];
    if (value === undefined || value === '') throw new SecretError(`the environment variable ${name} is not set`);
    return Buffer.from(value, 'utf8');
  } else if (reference.startsWith('file:')) {
    return readSecretFile(reference);
  } else if (reference.startsWith('keychain:')) {
    const [service, account] = keychainParts(reference);
    kind = 'security find-generic-password';
    result = await runHelper('security', ['find-generic-password', '-s', service, '-a', account, '-w'], helperEnv, undefined, timeoutMs);
  } else if (reference.startsWith('op://')) {
    kind = 'op read';
    result = await runHelper('op', ['read', reference], helperEnv, undefined, timeoutMs);
  } else if (reference.startsWith('pass:')) {
    kind = 'pass show';
    // After "--", a name that begins with "-" is a name, not an option of pass.
    result = await runHelper('pass', ['show', '--', reference.slice(5)], helperEnv, undefined, timeoutMs);
  } else {
    throw new SecretError('unknown kind of secret reference');
  }
  let value: Buffer;
  if (kind === 'pass show') {
    const end = result.stdout.indexOf(0x0a);
    value = withoutFinalNewline(end < 0 ? result.stdout : result.stdout.subarray(0, end + 1));
  } else {
    value = withoutFinalNewline(result.stdout);
  }
  const secret = Buffer.from(value);
  // The helper's own words, cleaned of anything that could be the secret, before its output goes.
  const said = result.status !== 0 ? helperErrorLine(result.stderr, result.stdout) : '';
  result.stdout.fill(0);
  result.stderr.fill(0);
  if (result.status !== 0) {
    secret.fill(0);
    throw new SecretError(`${kind} failed (status ${result.status}) for ${reference}${said ? `: ${said}` : ''}`);
  }
  if (secret.length === 0) throw new SecretError(`${kind} gave an empty secret`);
  return secret;
}

/** Writes `data` as the new content of `path`: into a new file of the same folder (created
 * exclusively, never through a link, mode 0600), flushed to disk, then renamed over `path`. A link
 * at `path` is replaced, not followed; a failure leaves `path` as it was. */
function replaceFile(path: string, data: Buffer): void {
  const target = resolve(path);
  const folder = dirname(target);
  const temporary = join(folder, `.${basename(target)}.${process.pid}.${randomBytes(6).toString('hex')}.tmp`);
  const descriptor = openSync(
    temporary,
    fsConstants.O_WRONLY | fsConstants.O_CREAT | fsConstants.O_EXCL | fsConstants.O_NOFOLLOW,
    0o600,
  );
  let open = true;
  let renamed = false;
  try {
    for (let offset = 0; offset < data.length; ) offset += writeSync(descriptor, data, offset);
    fsyncSync(descriptor);
    open = false;
    closeSync(descriptor);
    renameSync(temporary, target);
    renamed = true;
  } finally {
    if (open) closeSync(descriptor);
    if (!renamed) {
      try {
        unlinkSync(temporary);
      } catch {
        // nothing to remove
      }
    }
  }
  // The rename itself reaches the disk with the folder.
  try {
    const folderDescriptor = openSync(folder, fsConstants.O_RDONLY);
    try {
      fsyncSync(folderDescriptor);
    } finally {
      closeSync(folderDescriptor);
    }
  } catch {
    // a folder that cannot be opened for reading is still written; only its flush is skipped
  }
}

/** Stores a captured key where `captureTo` says; returns the place, for the answer. A failure
 * names the place and the cause. */
export async function storeCapturedKey(destination: string, key: Buffer, env: NodeJS.ProcessEnv = process.env): Promise<string> {
  if (destination.startsWith('file:')) {
    const path = destination.slice(5);
    try {
      replaceFile(path, key);
    } catch (error) {
      throw new SecretError(`the captured key could not be stored in ${path}: ${(error as NodeJS.ErrnoException).code ?? 'error'}`);
    }
    return destination;
  }
  if (destination.startsWith('keychain:')) {
    // Through `security -i`, so that the key travels on standard input and never appears on a
    // command line. Key characters are letters, digits, "_" and "-": no quoting is needed.
    const [service, account] = keychainParts(destination);
    const command = Buffer.concat([
      Buffer.from(`add-generic-password -U -s "${service}" -a "${account}" -w `, 'utf8'),
      key,
      Buffer.from('\n', 'utf8'),
    ]);
    const result = await runHelper('security', ['-i'], env, command);
    command.fill(0);
    result.stdout.fill(0);
    result.stderr.fill(0);
    if (result.status !== 0) throw new SecretError(`security add-generic-password failed (status ${result.status})`);
    return destination;
  }
  throw new SecretError('unknown kind of capture destination');
}
