// Playwright driving the same Chromium through the DevTools protocol, as an agent that holds the
// secret would: connects to the endpoint given as the first argument, then answers one JSON
// command per line of standard input with one JSON line, timing only the command itself.
//   {"op":"fill","secret":"..."}  fill() of the login page's password field
//   {"op":"count"}                the pages of the browser's contexts
//   {"op":"keys"}                 the page's text, cut into runs of 40 or more key characters
// With "once" as the second argument it answers one command and exits (an agent's fresh script).
import { chromium } from 'playwright-core';
import readline from 'node:readline';

const started = performance.now();
const browser = await chromium.connectOverCDP(process.argv[2]);
const connectMs = performance.now() - started;
const page = () =>
  browser.contexts().flatMap((context) => context.pages()).find((p) => p.url().startsWith('https://localhost/'));
process.stdout.write(JSON.stringify({ connectMs }) + '\n');

const lines = readline.createInterface({ input: process.stdin });
for await (const line of lines) {
  const command = JSON.parse(line);
  const before = performance.now();
  const answer = {};
  if (command.op === 'fill') {
    await page().fill('input[name=password]', command.secret);
  } else if (command.op === 'count') {
    answer.count = browser.contexts().reduce((sum, context) => sum + context.pages().length, 0);
  } else if (command.op === 'keys') {
    const text = await page().evaluate(() => document.body.innerText);
    answer.runs = (text.match(/[A-Za-z0-9_-]{40,}/g) || []).length;
  }
  answer.ms = performance.now() - before;
  process.stdout.write(JSON.stringify(answer) + '\n');
  if (process.argv[3] === 'once') break;
}
// The connection only: the browser stays as it is.
process.exit(0);
