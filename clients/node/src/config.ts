// The MCP server's configuration: the tool's command line and the targets, each binding a
// secret reference to its profile and origins. Unknown keys are refused, so that a misspelled
// key never silently drops a restriction.

import { readFileSync } from 'node:fs';

import { CAPTURE_REFERENCE, SECRET_REFERENCE } from './secrets.js';
import * as validation from './validation.js';

export interface TargetConfig {
  profileName: string;
  allowedOrigins: string[];
  windowNumber?: number;
  secret?: string;
  captureTo?: string;
  returnCapturedKey?: boolean;
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
const TARGET_KEYS = ['profileName', 'allowedOrigins', 'windowNumber', 'secret', 'captureTo', 'returnCapturedKey'];

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
      const number = validation.checkWindowNumber(raw.windowNumber);
      if (number !== undefined) target.windowNumber = number;
      if (raw.secret !== undefined) {
        if (typeof raw.secret !== 'string' || !SECRET_REFERENCE.test(raw.secret)) {
          throw new ConfigError('"secret" must be a reference: env:NAME, keychain:SERVICE/ACCOUNT, op://… or pass:NAME');
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
      config.targets[name] = target;
    } catch (error) {
      throw new ConfigError(`${where}: ${(error as Error).message}`);
    }
  }
  return config;
}

export function loadConfig(path: string): ServerConfig {
  let text: string;
  try {
    text = readFileSync(path, 'utf8');
  } catch (error) {
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
  return parseConfig(document);
}
