#!/usr/bin/env bash
# Tests the client libraries and the MCP server against the simulated Chrome: installs what is
# missing, builds the harness, runs the Python client's tests, builds and tests the TypeScript
# client and MCP server, and checks the JSON Schemas against the lines the case files expect.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
if [[ "$(uname -s)" != "Darwin" ]] && ! { command -v node && command -v npm && command -v python3; } >/dev/null; then
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    echo "Installing: nodejs npm python3" >&2
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nodejs npm python3 >/dev/null
fi
python3 -c 'import sys; sys.exit(sys.version_info < (3, 9))' || { echo "Python 3.9 or later is needed" >&2; exit 1; }
node -e 'process.exit(Number(process.versions.node.split(".")[0]) < 20 ? 1 : 0)' || { echo "Node.js 20 or later is needed" >&2; exit 1; }

echo "== building the simulated harness" >&2
cmake --preset default >/dev/null
cmake --build --preset default --target chrome-private-input-sim -j "$(nproc 2>/dev/null || sysctl -n hw.ncpu)" >/dev/null
export CPI_SIM="$PWD/build/default/main/platform/simulated/chrome-private-input-sim"

echo "== Python client (clients/python)" >&2
(cd clients/python && PYTHONDONTWRITEBYTECODE=1 python3 -m unittest discover -v -s tests)

echo "== TypeScript client and MCP server (clients/node)" >&2
cd clients/node
npm ci --no-audit --no-fund --loglevel=error
npm run build
npm test

echo "== JSON Schemas (docs/schemas) against the case files' lines" >&2
npm run check-schemas
