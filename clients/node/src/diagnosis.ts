// Plain-language explanations of refusals, built from the reason code and the check maps; the
// same wording as the Python client (clients/python/chrome_private_input/diagnosis.py).

import type { CheckMaps } from './errors.js';

export interface ReasonInfo {
  meaning: string;
  retry: boolean;
  advice: string;
}

export const REASONS: Readonly<Record<string, ReasonInfo>> = {
  accessibility_unavailable: {
    meaning: "the tool's process is not trusted for Accessibility",
    retry: false,
    advice:
      'the person must allow the tool (or the program that starts it) under System Settings, Privacy & Security, Accessibility; check with trust_check',
  },
  site_configuration_invalid: {
    meaning:
      'the request is out of bounds: the profile name is empty or longer than 80 characters, or the allowed origins are not 1 to 16',
    retry: false,
    advice: 'fix the request',
  },
  chrome_window_unavailable: {
    meaning:
      "Chrome is not running as exactly one regular application, or its window list cannot be read or holds more than 64 windows, or the window's toolbar is too large to read",
    retry: true,
    advice: 'make sure one Google Chrome is running with at most 64 windows, then try again',
  },
  chrome_window_not_on_current_space: {
    meaning: 'Chrome is running but shows no window at all',
    retry: true,
    advice: 'ask the person to open a window of the profile, then try again',
  },
  selected_chrome_profile_not_confirmed: {
    meaning:
      'no single Chrome window could be confirmed as showing the requested profile (and carrying the requested window number)',
    retry: false,
    advice:
      "the search for the profile's avatar buttons failed (a toolbar could not be read, or one window shows two matching avatars); try again once Chrome has settled",
  },
  origin_not_allowed: {
    meaning:
      'no page of the window is on an allowed origin that the address bar also shows, or the window shows no page at all',
    retry: false,
    advice: 'the page changed after the target was confirmed (it navigated to another site); check the page, then try again',
  },
  focused_field_not_supported: {
    meaning: 'keyboard focus is not in exactly one plain text or password field of the page whose value can be set',
    retry: true,
    advice: 'ask the person to click into the field that should receive the secret, then try again',
  },
  input_unavailable: {
    meaning: 'Chrome refused to take the value into the field, or settling ended without a target',
    retry: true,
    advice: 'try again once; if it repeats, the field does not accept values through Accessibility',
  },
  focus_changed: {
    meaning:
      'Chrome quit or was replaced, or the window or focused field changed between the checks and the write, or right after the write',
    retry: true,
    advice: 'check with the person that the right field is focused, then try again',
  },
  page_text_unavailable: {
    meaning:
      "the page's text could not be read (more than 20000 elements), or a baseline would hold 65 or more key fingerprints",
    retry: false,
    advice: 'reduce what the page shows (close other panels, filter the list of keys), then try again',
  },
  page_key_not_found: {
    meaning: 'the capture found no key-like text that was not already in the baseline',
    retry: true,
    advice: 'reveal the new key on the page, then capture again',
  },
  page_key_ambiguous: {
    meaning: 'the capture found several new key-like texts and keyboard focus does not single out one',
    retry: true,
    advice: "focus the new key's field, then capture again",
  },
};

export interface RequestFacts {
  profileName?: string;
  allowedOrigins?: readonly string[];
  windowNumber?: number;
}

const plural = (count: number, word: string): string => `${count} ${word}${count === 1 ? '' : 's'}`;
const capital = (text: string): string => text.charAt(0).toUpperCase() + text.slice(1);

function windowCheck(check: Record<string, number>, request: RequestFacts): string {
  const profile = `'${request.profileName ?? ''}'`;
  const number = request.windowNumber;
  const windows = check.windows ?? 0;
  const avatars = check.avatarWindows ?? 0;
  if (check.avatarRefused) {
    return "The search for the profile's avatar button failed itself (a toolbar could not be read, or one window shows two matching avatar buttons); try again once Chrome has settled.";
  }
  if (!check.confirmedGiven) {
    if (avatars === 0) {
      return `None of Chrome's ${plural(windows, 'window')} shows the profile ${profile} in its avatar button: the name must equal the button's label exactly (case counts; count_windows reports the front window's label as frontAvatar).`;
    }
    return `The profile ${profile} has ${plural(avatars, 'window')} among Chrome's ${windows}: name one with windowNumber (count_windows lists their numbers), or ask the person to close the others.`;
  }
  const matches = check.numberMatches ?? 0;
  if (matches === 0) {
    return `No Chrome window has the number ${number} (${check.numbersRead ?? 0} of ${windows} numbers read): the window was closed or the number is stale; run count_windows for the current numbers.`;
  }
  if (matches > 1) return `${matches} windows report the number ${number}; no single window can be picked.`;
  if (!check.targetAvatar) {
    return `Window ${number} does not show the profile ${profile} (the profile has ${plural(avatars, 'window')}); the number belongs to another profile's window.`;
  }
  return `Window ${number} shows the profile but could not be confirmed; try again.`;
}

function originCheck(check: Record<string, number>, request: RequestFacts): string {
  const origins = (request.allowedOrigins ?? []).join(', ');
  if (!check.webAreas) {
    let text = "The window exposes no page to Accessibility yet (still loading, or Chrome's page accessibility is off).";
    if (request.windowNumber === undefined) {
      text += " Name the window with windowNumber: the tool may then switch Chrome's page accessibility on and wait for the page.";
    } else {
      text += ' The tool waited for the page in vain; ask the person to reload the tab, then try again.';
    }
    return text;
  }
  if (!check.addressFound) return "The window's address bar was not found, so no page can be confirmed.";
  if (!check.addressRead) return "The address bar's text could not be read, so no page can be confirmed.";
  if (!check.pageUrls) return `No page area of the window (${plural(check.webAreas ?? 0, 'area')}) reports an https URL.`;
  const allowed = check.allowedPages ?? 0;
  if (allowed === 0) {
    return `The window's pages are on other sites than ${origins} (the page navigated away, or the wrong window or origin was named).`;
  }
  const matches = check.addressMatches ?? 0;
  if (matches === 0) {
    return `${plural(allowed, 'page area')} of an allowed origin, but the address bar shows another site (an embedded frame of the allowed site does not count): open the allowed site itself in the tab.`;
  }
  return `${matches} page areas of the allowed origin match the address bar (the page embeds a frame of its own origin), so no single page can be picked.`;
}

function keyCheck(reason: string, check: Record<string, number>): string {
  const { runs = 0, distinct = 0, known = 0, fresh = 0, focusedFresh = 0 } = check;
  if (reason === 'page_key_not_found') {
    if (runs === 0) {
      return `The page (${check.textNodes ?? 0} text elements) shows no key-like text: the key is not shown yet, or it is masked; reveal it, then capture again.`;
    }
    return `Every key-like text on the page (${plural(distinct, 'distinct run')}) was already in the baseline: the new key is not shown yet, or the baseline was taken after it appeared.`;
  }
  if (focusedFresh === 0) {
    return `${fresh} new key-like texts (${known} known) and none of them is focused: click into or select the new key's field, then capture again.`;
  }
  return `${fresh} new key-like texts and ${focusedFresh} of them are focused: focus only the new key's field.`;
}

/** What the "pageSwitch" report says, in one sentence. */
export function pageSwitch(check: Record<string, number>): string {
  if (!check.set) return "The tool tried to switch Chrome's page accessibility on, and Chrome refused.";
  if (check.restored) return "Chrome's page accessibility was switched on for this run and put back afterwards.";
  return "Chrome's page accessibility was switched on and could not be put back: it stays on.";
}

/** One paragraph for a refusal line: the reason's meaning, what the check maps show and what the
 * agent or the person should do. */
export function diagnose(reason: string, checks: CheckMaps, request: RequestFacts = {}, afterInterim = false): string {
  const info = REASONS[reason];
  const parts = [info ? `${capital(info.meaning)}.` : `Unknown reason '${reason}'.`];
  if (checks.windowCheck) parts.push(windowCheck(checks.windowCheck, request));
  if (checks.originCheck) parts.push(originCheck(checks.originCheck, request));
  if (checks.keyCheck) parts.push(keyCheck(reason, checks.keyCheck));
  if (reason === 'focus_changed' && afterInterim) {
    parts.push('The secret had been sent; if the write happened, the field may already hold it.');
  }
  if (info && !checks.windowCheck && !checks.originCheck && !checks.keyCheck) parts.push(`${capital(info.advice)}.`);
  if (checks.pageSwitch) parts.push(pageSwitch(checks.pageSwitch));
  return parts.join(' ');
}
