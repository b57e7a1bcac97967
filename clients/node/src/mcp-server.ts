#!/usr/bin/env node
// chrome-private-input's MCP server over standard input and output:
//   node clients/node/dist/mcp-server.js --config FILE

import { StdioServerTransport } from '@modelcontextprotocol/sdk/server/stdio.js';

import { ConfigError, loadConfig } from './config.js';
import { createServer } from './server.js';
import { stopRunningTools } from './tool.js';

function usage(message: string): never {
  process.stderr.write(`chrome-private-input-mcp: ${message}\nusage: mcp-server.js --config FILE\n`);
  process.exit(2);
}

const args = process.argv.slice(2);
if (args.length !== 2 || args[0] !== '--config') usage('expected --config FILE');

let config;
try {
  config = loadConfig(args[1]!);
} catch (error) {
  usage(error instanceof ConfigError ? error.message : 'cannot load the configuration');
}

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
