// Checks made before the tool is started: what it would refuse silently (status 1 and no line)
// or answer with a refusal that looks like something else.

import { UsageError } from './errors.js';

export const MAX_PROFILE_CHARACTERS = 80;
export const MAX_ORIGINS = 16;
export const MAX_WINDOW_NUMBER = 4294967295;
// A lower-case host name, or an IPv6 literal in brackets as the tool writes a page's origin.
const ORIGIN = /^https:\/\/(?:[a-z0-9\-._~%!$&'()*+,;=]+|\[[0-9a-f:.]+\])$/;
const FINGERPRINT = /^[0-9a-f]{64}$/;
const segmenter = new Intl.Segmenter(undefined, { granularity: 'grapheme' });

export function graphemeCount(text: string): number {
  let count = 0;
  for (const _ of segmenter.segment(text)) count++;
  return count;
}

export function checkProfileName(profileName: unknown): string {
  if (typeof profileName !== 'string') throw new UsageError(`profileName must be a string, not ${typeof profileName}`);
  if (profileName === '') throw new UsageError('profileName is empty: name the Chrome profile as its avatar button shows it');
  if (graphemeCount(profileName) > MAX_PROFILE_CHARACTERS) {
    throw new UsageError(`profileName is longer than ${MAX_PROFILE_CHARACTERS} characters`);
  }
  return profileName;
}

/** The exact form of an origin written loosely ("https://Accounts.example.com/login"); a host with
 * letters beyond ASCII comes back in its "xn--" form ("https://bücher.example" gives
 * "https://xn--bcher-kva.example"), as the URL standard and Chrome's address bar write it. */
export function suggestOrigin(text: string): string | undefined {
  let url: URL;
  try {
    url = new URL(text.trim());
  } catch {
    return undefined;
  }
  if (url.protocol !== 'https:' || url.hostname === '' || (url.port !== '' && url.port !== '443')) return undefined;
  return `https://${url.hostname.toLowerCase()}`;
}

// Non-ASCII letters anywhere in the text: an internationalised domain name.
const NON_ASCII = /[^\x00-\x7f]/;

function hint(origin: string): string {
  const suggestion = suggestOrigin(origin);
  if (!suggestion) return '';
  if (!NON_ASCII.test(origin)) return `: write "${suggestion}"`;
  return `: write "${suggestion}" (an internationalised domain name is compared in its ASCII "xn--" form, as Chrome reports the page's origin)`;
}

export function checkOrigins(allowedOrigins: unknown): string[] {
  if (!Array.isArray(allowedOrigins)) {
    throw new UsageError("allowedOrigins must be a list of origins such as ['https://accounts.example.com']");
  }
  if (allowedOrigins.length < 1 || allowedOrigins.length > MAX_ORIGINS) {
    throw new UsageError(`allowedOrigins must hold 1 to ${MAX_ORIGINS} origins, not ${allowedOrigins.length}`);
  }
  for (const origin of allowedOrigins) {
    if (typeof origin !== 'string') throw new UsageError(`allowed origin ${JSON.stringify(origin)} is not a string`);
    if (ORIGIN.test(origin)) continue;
    throw new UsageError(
      `allowed origin "${origin}" is not in the exact form "https://" + lower-case host, without port, path or trailing "/"` +
        hint(origin) +
        '; the tool compares origins exactly and would refuse every page with "origin_not_allowed"',
    );
  }
  return [...allowedOrigins];
}

export function checkWindowNumber(windowNumber: unknown): number | undefined {
  if (windowNumber === undefined || windowNumber === null) return undefined;
  if (typeof windowNumber !== 'number' || !Number.isInteger(windowNumber)) {
    throw new UsageError(`windowNumber must be an integer, not ${JSON.stringify(windowNumber)}`);
  }
  if (windowNumber === 0) throw new UsageError('windowNumber 0 never matches a window (0 means the number was not read)');
  if (windowNumber < 1 || windowNumber > MAX_WINDOW_NUMBER) {
    throw new UsageError(`windowNumber ${windowNumber} is out of range (1 to ${MAX_WINDOW_NUMBER})`);
  }
  return windowNumber;
}

export function checkBaseline(baseline: unknown): string[] {
  if (!Array.isArray(baseline)) throw new UsageError('baseline must be the list that keyBaseline returned');
  for (const entry of baseline) {
    if (typeof entry !== 'string' || !FINGERPRINT.test(entry)) {
      throw new UsageError(
        `baseline entry ${JSON.stringify(entry)} is not a fingerprint (64 lower-case hexadecimal digits); an altered entry matches nothing and every key on the page would count as new`,
      );
    }
  }
  return [...baseline];
}

/** Whether the bytes are well-formed UTF-8, checked without making a string of them. */
export function isUtf8(bytes: Uint8Array): boolean {
  let i = 0;
  while (i < bytes.length) {
    const b = bytes[i]!;
    let need: number;
    let low = 0x80;
    let high = 0xbf;
    if (b < 0x80) need = 0;
    else if (b >= 0xc2 && b <= 0xdf) need = 1;
    else if (b >= 0xe0 && b <= 0xef) {
      need = 2;
      if (b === 0xe0) low = 0xa0;
      if (b === 0xed) high = 0x9f;
    } else if (b >= 0xf0 && b <= 0xf4) {
      need = 3;
      if (b === 0xf0) low = 0x90;
      if (b === 0xf4) high = 0x8f;
    } else return false;
    for (let k = 1; k <= need; k++) {
      const c = bytes[i + k];
      if (c === undefined) return false;
      if (k === 1 ? c < low || c > high : c < 0x80 || c > 0xbf) return false;
    }
    i += need + 1;
  }
  return true;
}

/** The secret as a buffer this client may overwrite; the caller's own bytes are copied. */
export function checkSecret(secret: unknown, maximum: number): Buffer {
  let data: Buffer;
  if (typeof secret === 'string') data = Buffer.from(secret, 'utf8');
  else if (secret instanceof Uint8Array) data = Buffer.from(secret);
  else throw new UsageError('the secret must be a Uint8Array, a Buffer or a string');
  if (data.length === 0) throw new UsageError('the secret is empty; the tool would end without a final line');
  if (data.length > maximum) {
    const size = data.length;
    data.fill(0);
    throw new UsageError(`the secret is ${size} bytes long; this mode takes at most ${maximum}`);
  }
  if (!isUtf8(data)) {
    data.fill(0);
    throw new UsageError('the secret is not valid UTF-8; the tool would end without a final line');
  }
  return data;
}

export function wipe(buffer: unknown): void {
  if (buffer instanceof Uint8Array) buffer.fill(0);
}
