// The MCP server's configuration: the tool's command line and the targets, each binding a
// secret reference to its profile and origins. Unknown keys are refused, so that a misspelled
// key never silently drops a restriction. Whoever can write the configuration chooses the program
// that receives every secret: a file or folder that anybody but its user could change is refused.

import { accessSync, closeSync, constants as fsConstants, fstatSync, openSync, readFileSync, realpathSync, statSync, type Stats } from 'node:fs';
import { delimiter, dirname, isAbsolute, join, resolve } from 'node:path';

import { CAPTURE_REFERENCE, SECRET_REFERENCE } from './secrets.js';
import * as validation from './validation.js';

export interface TargetConfig {
  /** What the target is for, shown to the model beside its name. */
  description?: string;
  profileName: string;
  allowedOrigins: string[];
  windowNumber?: number;
  secret?: string;
  captureTo?: string;
  returnCapturedKey?: boolean;
  /** The kind of field the secret may be typed into: "password" (the default) or "text". */
  field?: 'password' | 'text';
  /** Whether copy_to_clipboard may hand this target's secret to the clipboard (default: no). */
  allowClipboard?: boolean;
}

export interface ServerConfig {
  tool: string[];
  timeoutMs?: number;
  targets: Record<string, TargetConfig>;
}

export class ConfigError extends Error {
  override name = 'ConfigError';
}

const TOP_KEYS = ['tool', 'timeoutMs', 'targets'];
const TARGET_KEYS = ['description', 'profileName', 'allowedOrigins', 'windowNumber', 'secret', 'captureTo', 'returnCapturedKey', 'field', 'allowClipboard'];
const FIELDS = ['password', 'text'];

function checkKeys(value: Record<string, unknown>, allowed: string[], where: string): void {
  for (const key of Object.keys(value)) {
    if (!allowed.includes(key)) throw new ConfigError(`${where}: unknown key "${key}" (known: ${allowed.join(', ')})`);
  }
}

const isObject = (value: unknown): value is Record<string, unknown> =>
  typeof value === 'object' && value !== null && !Array.isArray(value);

export function parseConfig(document: unknown): ServerConfig {
  if (!isObject(document)) throw new ConfigError('the configuration must be a JSON object');
  checkKeys(document, TOP_KEYS, 'configuration');
  const tool = document.tool;
  if (!Array.isArray(tool) || tool.length === 0 || !tool.every((word) => typeof word === 'string')) {
    throw new ConfigError('"tool" must be the command line that starts the tool, a non-empty array of strings');
  }
  const config: ServerConfig = { tool: tool as string[], targets: {} };
  if (document.timeoutMs !== undefined) {
    if (typeof document.timeoutMs !== 'number' || !(document.timeoutMs > 0)) throw new ConfigError('"timeoutMs" must be a positive number');
    config.timeoutMs = document.timeoutMs;
  }
  if (!isObject(document.targets) || Object.keys(document.targets).length === 0) {
    throw new ConfigError('"targets" must map at least one name to a target');
  }
  for (const [name, raw] of Object.entries(document.targets)) {
    const where = `targets.${name}`;
    // Assigning it would set the map's prototype instead: the target would silently vanish.
    if (name === '__proto__') throw new ConfigError(`${where}: "__proto__" cannot name a target`);
    if (!isObject(raw)) throw new ConfigError(`${where} must be an object`);
    checkKeys(raw, TARGET_KEYS, where);
    try {
      const target: TargetConfig = {
        profileName: validation.checkProfileName(raw.profileName),
        allowedOrigins: validation.checkOrigins(raw.allowedOrigins),
      };
      if (raw.description !== undefined) {
        if (typeof raw.description !== 'string' || raw.description.length > 200 || /[\u0000-\u001f]/.test(raw.description)) {
          throw new ConfigError('"description" must be one line of at most 200 characters');
        }
        target.description = raw.description;
      }
      const number = validation.checkWindowNumber(raw.windowNumber);
      if (number !== undefined) target.windowNumber = number;
      if (raw.secret !== undefined) {
        if (typeof raw.secret !== 'string' || !SECRET_REFERENCE.test(raw.secret)) {
          throw new ConfigError('"secret" must be a reference: env:NAME, file:PATH, keychain:SERVICE/ACCOUNT, op://… or pass:NAME');
        }
        target.secret = raw.secret;
      }
      if (raw.captureTo !== undefined) {
        if (typeof raw.captureTo !== 'string' || !CAPTURE_REFERENCE.test(raw.captureTo)) {
          throw new ConfigError('"captureTo" must be keychain:SERVICE/ACCOUNT or file:PATH');
        }
        target.captureTo = raw.captureTo;
      }
      if (raw.returnCapturedKey !== undefined) {
        if (typeof raw.returnCapturedKey !== 'boolean') throw new ConfigError('"returnCapturedKey" must be a boolean');
        target.returnCapturedKey = raw.returnCapturedKey;
      }
      if (raw.field !== undefined) {
        if (typeof raw.field !== 'string' || !FIELDS.includes(raw.field)) {
          throw new ConfigError('"field" must be "password" (the default: a password field only) or "text" (a plain text field too)');
        }
        target.field = raw.field as 'password' | 'text';
      }
      if (raw.allowClipboard !== undefined) {
        if (typeof raw.allowClipboard !== 'boolean') throw new ConfigError('"allowClipboard" must be a boolean');
        target.allowClipboard = raw.allowClipboard;
      }
      config.targets[name] = target;
    } catch (error) {
      throw new ConfigError(`${where}: ${(error as Error).message}`);
    }
  }
  return config;
}

/** The names of the environment variables that `env:` secrets read: no child process gets them. */
export function secretVariables(config: ServerConfig): string[] {
  const names = new Set<string>();
  for (const target of Object.values(config.targets)) {
    if (target.secret?.startsWith('env:')) names.add(target.secret.slice(4));
  }
  return [...names];
}

function loose(stats: Stats, uid: number): string | undefined {
  if (stats.uid !== uid) return `is owned by user ${stats.uid}, not by the user running the server (${uid})`;
  if ((stats.mode & 0o022) !== 0) return `is writable by ${(stats.mode & 0o002) !== 0 ? 'others' : 'its group'} (mode ${(stats.mode & 0o777).toString(8)})`;
  return undefined;
}

function checkFolderOf(path: string, what: string, uid: number): void {
  const folder = dirname(path);
  let stats: Stats;
  try {
    stats = statSync(folder);
  } catch (error) {
    throw new ConfigError(`cannot look at the folder ${folder} of ${what}: ${(error as NodeJS.ErrnoException).code ?? 'error'}`);
  }
  const problem = loose(stats, uid);
  if (problem) throw new ConfigError(`the folder ${folder} of ${what} ${problem}: refused, since whoever can change it chooses where secrets go`);
}

/** A captured key is written into a new file next to its destination and renamed over it: the
 * folder must exist, be writable, and be closed to the group and others. */
export function checkCaptureFolder(path: string): void {
  const folder = dirname(resolve(path));
  let stats: Stats;
  try {
    stats = statSync(folder);
    accessSync(folder, fsConstants.W_OK | fsConstants.X_OK);
  } catch (error) {
    const code = (error as NodeJS.ErrnoException).code ?? 'error';
    throw new ConfigError(
      code === 'ENOENT' ? `the folder ${folder} does not exist` : `the folder ${folder} is not usable (${code})`,
    );
  }
  if (!stats.isDirectory()) throw new ConfigError(`${folder} is not a folder`);
  if ((stats.mode & 0o022) !== 0) {
    throw new ConfigError(`the folder ${folder} is writable by its group or others (mode ${(stats.mode & 0o777).toString(8)}): another user could take the key`);
  }
}

export function loadConfig(path: string): ServerConfig {
  const uid = process.getuid?.() ?? -1;
  let text: string;
  try {
    // The file that is read is the one that is checked: the real path, opened without following a
    // link, and its owner and mode taken from the open descriptor.
    const real = realpathSync(path);
    checkFolderOf(resolve(path), `the configuration ${path}`, uid);
    if (real !== resolve(path)) checkFolderOf(real, `the configuration ${path}`, uid);
    const descriptor = openSync(real, fsConstants.O_RDONLY | fsConstants.O_NOFOLLOW);
    try {
      const stats = fstatSync(descriptor);
      if (!stats.isFile()) throw new ConfigError(`the configuration ${path} is not a file`);
      const problem = loose(stats, uid);
      if (problem) throw new ConfigError(`the configuration ${path} ${problem}: refused, since whoever can change it chooses where secrets go`);
      text = readFileSync(descriptor, 'utf8');
    } finally {
      closeSync(descriptor);
    }
  } catch (error) {
    if (error instanceof ConfigError) throw error;
    throw new ConfigError(`cannot read the configuration ${path}: ${(error as NodeJS.ErrnoException).code ?? 'error'}`);
  }
  let document: unknown;
  try {
    document = JSON.parse(text);
  } catch (error) {
    // Only where: newer versions of Node quote the text around the error, which could be a
    // secret pasted into the file by mistake.
    const where = /at position \d+(?: \(line \d+ column \d+\))?/.exec((error as Error).message)?.[0];
    throw new ConfigError(`the configuration ${path} is not JSON${where ? ` (${where})` : ''}`);
  }
  const config = parseConfig(document);
  // Paths written relative to the configuration mean its folder, wherever the host starts the
  // server from: the tool (when its first word is a path) and "file:" secrets.
  const folder = dirname(resolve(path));
  const program = config.tool[0]!;
  if (program.includes('/') && !isAbsolute(program)) config.tool[0] = resolve(folder, program);
  for (const target of Object.values(config.targets)) {
    if (target.secret?.startsWith('file:') && !isAbsolute(target.secret.slice(5))) {
      target.secret = `file:${resolve(folder, target.secret.slice(5))}`;
    }
  }
  for (const [name, target] of Object.entries(config.targets)) {
    if (!target.captureTo?.startsWith('file:')) continue;
    try {
      checkCaptureFolder(target.captureTo.slice(5));
    } catch (error) {
      throw new ConfigError(`targets.${name}: "captureTo": ${(error as Error).message}`);
    }
  }
  return config;
}

/** Why the configured tool cannot be started (missing, not a file, not executable), or undefined
 * when it can: a name without "/" is looked up on PATH as the server's children will be. */
export function toolProblem(config: ServerConfig, env: NodeJS.ProcessEnv = process.env): string | undefined {
  const program = config.tool[0]!;
  const usable = (candidate: string): boolean => {
    try {
      if (!statSync(candidate).isFile()) return false;
      accessSync(candidate, fsConstants.X_OK);
      return true;
    } catch {
      return false;
    }
  };
  if (program.includes('/')) {
    let stats: Stats;
    try {
      stats = statSync(program);
    } catch {
      return `the configured tool ${program} does not exist`;
    }
    if (!stats.isFile()) return `the configured tool ${program} is not a file`;
    return usable(program) ? undefined : `the configured tool ${program} is not executable`;
  }
  const folders = (env.PATH ?? '').split(delimiter).filter((entry) => entry !== '');
  if (folders.some((entry) => usable(join(entry, program)))) return undefined;
  return `the configured tool ${program} is not found on PATH (${folders.join(delimiter) || 'empty'})`;
}
