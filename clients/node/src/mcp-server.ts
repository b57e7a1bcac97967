#!/usr/bin/env node
// chrome-private-input's MCP server over standard input and output:
//   chrome-private-input-mcp --config FILE

import { StdioServerTransport } from '@modelcontextprotocol/sdk/server/stdio.js';

import { ConfigError, loadConfig, toolProblem } from './config.js';
import { createServer, SERVER_VERSION } from './server.js';
import { stopRunningTools } from './tool.js';

const HELP = `usage: chrome-private-input-mcp --config FILE
       chrome-private-input-mcp --help | --version

An MCP server over standard input and output that types configured secrets into Google Chrome
through chrome-private-input, after the tool has checked the profile, the page's origin and the
focused field. The model names a target of the configuration; it never sees a secret.

FILE is a JSON configuration that only its user may change (see the README's "MCP server"):
  {"tool": ["chrome-private-input"],
   "targets": {"work-login": {"profileName": "Work",
                              "allowedOrigins": ["https://accounts.example.com"],
                              "secret": "keychain:work-login/me"}}}
A relative "tool" path, and a relative "file:" secret, mean the configuration's folder.
`;

function usage(message: string): never {
  process.stderr.write(`chrome-private-input-mcp: ${message}\nusage: chrome-private-input-mcp --config FILE (--help for more)\n`);
  process.exit(2);
}

const args = process.argv.slice(2);
if (args.length === 1 && (args[0] === '--help' || args[0] === '-h')) {
  process.stdout.write(HELP);
  process.exit(0);
}
if (args.length === 1 && args[0] === '--version') {
  process.stdout.write(`chrome-private-input-mcp ${SERVER_VERSION}\n`);
  process.exit(0);
}
if (args.length !== 2 || args[0] !== '--config') usage('expected --config FILE');

let config;
try {
  config = loadConfig(args[1]!);
} catch (error) {
  usage(error instanceof ConfigError ? error.message : 'cannot load the configuration');
}

// A tool that cannot start makes every call fail: said once here, where the person setting the
// host up looks, while the server still starts so that the host can list its tools.
const problem = toolProblem(config);
if (problem) process.stderr.write(`chrome-private-input-mcp: warning: ${problem}; every call will fail until it is mended\n`);

const { server, close } = createServer(config);
let closing = false;
const shutdown = (): void => {
  if (closing) return;
  closing = true;
  // The tools still running are stopped first: a delivery must not go on once the server is gone.
  void Promise.allSettled([stopRunningTools(), close()]).finally(() => process.exit(0));
};
process.on('SIGTERM', shutdown);
process.on('SIGINT', shutdown);
process.stdin.on('end', shutdown);
await server.connect(new StdioServerTransport());
