// Secret references resolved only when a delivery is about to happen, and the places a captured
// key may be stored. Output of the helper programs is kept in buffers that are wiped after use;
// error messages never include it.

import { spawn } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import { closeSync, fsyncSync, openSync, renameSync, unlinkSync, writeSync, constants as fsConstants } from 'node:fs';
import { basename, dirname, join, resolve } from 'node:path';

export class SecretError extends Error {
  override name = 'SecretError';
}

export const SECRET_REFERENCE = /^(env:[A-Za-z_][A-Za-z0-9_]*|keychain:[^/\n"]+\/[^\n"]+|op:\/\/[^\n]+|pass:[^\n]+)$/;
export const CAPTURE_REFERENCE = /^(keychain:[^/\n"]+\/[^\n"]+|file:.+)$/;

interface RunResult {
  status: number | null;
  stdout: Buffer;
}

// A helper that asks for a passphrase or hangs on a locked store would hold the delivery forever.
export const HELPER_TIMEOUT_MILLISECONDS = 30000;

function runHelper(program: string, args: string[], env: NodeJS.ProcessEnv, input?: Buffer, timeoutMs = HELPER_TIMEOUT_MILLISECONDS): Promise<RunResult> {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { stdio: ['pipe', 'pipe', 'ignore'], env });
    const chunks: Buffer[] = [];
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
      for (const chunk of chunks) chunk.fill(0);
      if (timedOut) {
        stdout.fill(0);
        reject(new SecretError(`${program} did not answer within ${timeoutMs / 1000} seconds and was stopped`));
        return;
      }
      resolve({ status, stdout });
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
  result.stdout.fill(0);
  if (result.status !== 0) {
    secret.fill(0);
    throw new SecretError(`${kind} failed (status ${result.status}) for the target's secret reference`);
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
    if (result.status !== 0) throw new SecretError(`security add-generic-password failed (status ${result.status})`);
    return destination;
  }
  throw new SecretError('unknown kind of capture destination');
}
