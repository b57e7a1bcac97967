// Plain-language explanations of refusals, built from the reason code and the check maps. The
// reason table and the sentences live in reasons.json, which the Python client reads too: both
// explain a refusal in the same words.

import { readFileSync } from 'node:fs';

import type { CheckMaps } from './errors.js';

/** The tool's twelve reason codes: a misspelt code does not compile where one is compared. */
export const REASON_CODES = [
  'accessibility_unavailable',
  'site_configuration_invalid',
  'chrome_window_unavailable',
  'chrome_window_not_on_current_space',
  'selected_chrome_profile_not_confirmed',
  'origin_not_allowed',
  'focused_field_not_supported',
  'input_unavailable',
  'focus_changed',
  'page_text_unavailable',
  'page_key_not_found',
  'page_key_ambiguous',
] as const;
export type ReasonCode = (typeof REASON_CODES)[number];

export interface ReasonInfo {
  meaning: string;
  retry: boolean;
  advice: string;
}

/** Whose names the explanations use for methods and arguments: this library's (countWindows),
 * the Python client's (count_windows) or the MCP server's tools and arguments. */
export type Vocabulary = 'typescript' | 'python' | 'mcp';

interface ReasonTable {
  reasons: Record<string, ReasonInfo>;
  names: Record<Vocabulary, Record<string, string>>;
  sentences: Record<string, string>;
}

// Next to this module in the package (the build copies it), two folders up in the repository.
function readTable(): ReasonTable {
  for (const place of ['./reasons.json', '../../reasons.json']) {
    try {
      return JSON.parse(readFileSync(new URL(place, import.meta.url), 'utf8')) as ReasonTable;
    } catch (error) {
      if ((error as NodeJS.ErrnoException).code !== 'ENOENT') throw error;
    }
  }
  throw new Error('reasons.json is missing from the chrome-private-input package');
}

const TABLE = readTable();
const missing = REASON_CODES.filter((code) => !TABLE.reasons[code]);
if (missing.length > 0 || Object.keys(TABLE.reasons).length !== REASON_CODES.length) {
  throw new Error(`reasons.json does not hold exactly the twelve reason codes (missing: ${missing.join(', ') || 'none'})`);
}

/** Each reason's meaning, whether trying again unchanged can help, and the advice. */
export const REASONS: Readonly<Record<ReasonCode, ReasonInfo>> = Object.fromEntries(
  REASON_CODES.map((code) => {
    const info = TABLE.reasons[code]!;
    return [code, { ...info, advice: fill(info.advice, TABLE.names.typescript) }];
  }),
) as Record<ReasonCode, ReasonInfo>;

export function isReasonCode(text: string): text is ReasonCode {
  return (REASON_CODES as readonly string[]).includes(text);
}

/** The sentence `name` of reasons.json with its {placeholders} filled in. */
function say(name: string, values: Values = {}): string {
  const template = TABLE.sentences[name];
  if (template === undefined) throw new Error(`reasons.json has no sentence "${name}"`);
  return fill(template, values);
}

type Values = Record<string, string | number | undefined>;

function fill(template: string, values: Values): string {
  return template.replace(/\{(\w+)\}/g, (_, key: string) => String(values[key] ?? ''));
}

export interface RequestFacts {
  profileName?: string;
  allowedOrigins?: readonly string[];
  windowNumber?: number;
}

const plural = (count: number, word: string): string => `${count} ${word}${count === 1 ? '' : 's'}`;
const capital = (text: string): string => text.charAt(0).toUpperCase() + text.slice(1);

function windowCheck(check: Record<string, number>, request: RequestFacts, words: Values): string {
  const profile = request.profileName ?? '';
  const number = request.windowNumber;
  const windowCount = check.windows ?? 0;
  const avatars = plural(check.avatarWindows ?? 0, 'window');
  if (check.avatarRefused) return say('windowAvatarRefused');
  if (!check.confirmedGiven) {
    if (!check.avatarWindows) return say('windowNoAvatar', { ...words, windows: plural(windowCount, 'window'), profile });
    return say('windowSeveral', { ...words, profile, avatarWindows: avatars, windowCount });
  }
  const matches = check.numberMatches ?? 0;
  if (matches === 0) return say('windowNumberMissing', { ...words, number, numbersRead: check.numbersRead ?? 0, windowCount });
  if (matches > 1) return say('windowNumberTwice', { matches, number });
  if (!check.targetAvatar) return say('windowOtherProfile', { number, profile, avatarWindows: avatars });
  return say('windowUnconfirmed', { number });
}

function originCheck(check: Record<string, number>, request: RequestFacts, words: Values): string {
  if (!check.webAreas) {
    return `${say('originNoPage')} ${say(request.windowNumber === undefined ? 'originNameTheWindow' : 'originWaitedInVain', words)}`;
  }
  if (!check.addressFound) return say('originNoAddressBar');
  if (!check.addressRead) return say('originAddressUnread');
  if (!check.pageUrls) return say('originNoUrl', { areas: plural(check.webAreas, 'area') });
  const allowed = check.allowedPages ?? 0;
  if (allowed === 0) return say('originOtherSites', { origins: (request.allowedOrigins ?? []).join(', ') });
  const matches = check.addressMatches ?? 0;
  if (matches === 0) return say('originFrameOnly', { pageAreas: plural(allowed, 'page area') });
  return say('originSeveralPages', { matches });
}

function keyCheck(reason: string, check: Record<string, number>): string {
  const { runs = 0, distinct = 0, known = 0, fresh = 0, focusedFresh = 0 } = check;
  if (reason === 'page_key_not_found') {
    if (runs === 0) return say('keyNoneShown', { textNodes: check.textNodes ?? 0 });
    return say('keyAllKnown', { distinctRuns: plural(distinct, 'distinct run') });
  }
  if (focusedFresh === 0) return say('keyNoneFocused', { fresh, known });
  return say('keySeveralFocused', { fresh, focusedFresh });
}

/** What the "pageSwitch" report says, in one sentence. */
export function pageSwitch(check: Record<string, number>): string {
  if (!check.set) return say('pageSwitchRefused');
  return say(check.restored ? 'pageSwitchRestored' : 'pageSwitchStays');
}

/** One paragraph for a refusal line: the reason's meaning, what the check maps show and what the
 * agent or the person should do. */
export function diagnose(
  reason: string,
  checks: CheckMaps,
  request: RequestFacts = {},
  afterInterim = false,
  vocabulary: Vocabulary = 'typescript',
): string {
  const words = TABLE.names[vocabulary];
  const info = isReasonCode(reason) ? TABLE.reasons[reason] : undefined;
  const parts = [info ? `${capital(info.meaning)}.` : say('unknownReason', { reason })];
  if (checks.windowCheck) parts.push(windowCheck(checks.windowCheck, request, words));
  if (checks.originCheck) parts.push(originCheck(checks.originCheck, request, words));
  if (checks.keyCheck) parts.push(keyCheck(reason, checks.keyCheck));
  if (reason === 'focus_changed' && afterInterim) parts.push(say('secretSent'));
  if (info && !checks.windowCheck && !checks.originCheck && !checks.keyCheck) parts.push(`${capital(fill(info.advice, words))}.`);
  if (checks.pageSwitch) parts.push(pageSwitch(checks.pageSwitch));
  return parts.join(' ');
}
