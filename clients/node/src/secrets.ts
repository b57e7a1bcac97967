// Secret references resolved only when a delivery is about to happen, and the places a captured
// key may be stored. Output of the helper programs is kept in buffers that are wiped after use;
// error messages never include it.

import { spawn } from 'node:child_process';
import { closeSync, fchmodSync, openSync, writeSync, constants as fsConstants } from 'node:fs';

export class SecretError extends Error {
  override name = 'SecretError';
}

export const SECRET_REFERENCE = /^(env:[A-Za-z_][A-Za-z0-9_]*|keychain:[^/\n"]+\/[^\n"]+|op:\/\/[^\n]+|pass:[^\n]+)$/;
export const CAPTURE_REFERENCE = /^(keychain:[^/\n"]+\/[^\n"]+|file:.+)$/;

interface RunResult {
  status: number | null;
  stdout: Buffer;
}

function runHelper(program: string, args: string[], env: NodeJS.ProcessEnv, input?: Buffer): Promise<RunResult> {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { stdio: ['pipe', 'pipe', 'ignore'], env });
    const chunks: Buffer[] = [];
    child.stdout.on('data', (chunk: Buffer) => chunks.push(chunk));
    child.on('error', (error: NodeJS.ErrnoException) =>
      reject(new SecretError(`cannot run ${program}: ${error.code === 'ENOENT' ? 'not found on PATH' : error.code ?? 'error'}`)),
    );
    child.on('close', (status) => {
      const stdout = Buffer.concat(chunks);
      for (const chunk of chunks) chunk.fill(0);
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

/** Resolves a secret reference to its bytes. The caller wipes the buffer after use. */
export async function resolveSecret(reference: string, env: NodeJS.ProcessEnv = process.env): Promise<Buffer> {
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
    result = await runHelper('security', ['find-generic-password', '-s', service, '-a', account, '-w'], env);
  } else if (reference.startsWith('op://')) {
    kind = 'op read';
    result = await runHelper('op', ['read', reference], env);
  } else if (reference.startsWith('pass:')) {
    kind = 'pass show';
    result = await runHelper('pass', ['show', reference.slice(5)], env);
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

/** Stores a captured key where `captureTo` says; returns the place, for the answer. */
export async function storeCapturedKey(destination: string, key: Buffer, env: NodeJS.ProcessEnv = process.env): Promise<string> {
  if (destination.startsWith('file:')) {
    const path = destination.slice(5);
    const descriptor = openSync(path, fsConstants.O_WRONLY | fsConstants.O_CREAT | fsConstants.O_TRUNC, 0o600);
    try {
      fchmodSync(descriptor, 0o600);
      writeSync(descriptor, key);
    } finally {
      closeSync(descriptor);
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
