#!/usr/bin/env bash
# Tests the client libraries and the MCP server against the simulated Chrome: installs what is
# missing, builds the harness, runs the Python client's tests, builds and tests the TypeScript
# client and MCP server, and checks the JSON Schemas against the lines the case files expect.
# Then installs both as a user would: the Python client with pip into a virtual environment, the
# npm package from the tarball `npm pack` makes into a prefix of its own, whose
# chrome-private-input-mcp command answers --help and lists its tools to the MCP Inspector.
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
cd ../..

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "== pip install ./clients/python into a virtual environment" >&2
venv_python=python3
venv_flags=()
pip_flags=()
if [[ "$(uname -s)" != "Darwin" ]]; then
    # Offline from Python's index: the build backend comes from Debian's setuptools and wheel,
    # which the environment sees beside its own packages.
    venv_python=/usr/bin/python3
    if ! { [[ -x $venv_python ]] && $venv_python -c 'import ensurepip, setuptools, wheel' 2>/dev/null; }; then
        sudo=""
        [[ $(id -u) -ne 0 ]] && sudo="sudo"
        echo "Installing: python3-venv python3-setuptools python3-wheel" >&2
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            python3-venv python3-setuptools python3-wheel >/dev/null
    fi
    venv_flags=(--system-site-packages)
    pip_flags=(--no-build-isolation --no-index)
fi
"$venv_python" -m venv "${venv_flags[@]}" "$scratch/venv"
"$scratch/venv/bin/pip" install -q --disable-pip-version-check "${pip_flags[@]}" ./clients/python
# From the tests' folder, so that the installed package is the one imported, with the data and
# the marker it ships.
(cd clients/python/tests && PYTHONDONTWRITEBYTECODE=1 "$scratch/venv/bin/python" -m unittest -q test_diagnosis test_adopt.Names)
"$scratch/venv/bin/python" - <<'PY'
import importlib.resources, chrome_private_input
files = importlib.resources.files("chrome_private_input")
assert "site-packages" in str(files), files
for name in ("py.typed", "reasons.json"):
    assert files.joinpath(name).is_file(), name
print("installed:", chrome_private_input.__version__, files)
PY

echo "== npm pack, installed from the tarball into a prefix of its own" >&2
(cd clients/node && npm pack --silent --pack-destination "$scratch" >/dev/null)
tarball=("$scratch"/chrome-private-input-*.tgz)
listing=$(tar -tzf "${tarball[0]}")
grep -qx 'package/dist/reasons.json' <<<"$listing" || { echo "the npm package lacks dist/reasons.json" >&2; exit 1; }
grep -qx 'package/dist/mcp-server.js' <<<"$listing" || { echo "the npm package lacks dist/mcp-server.js" >&2; exit 1; }
if grep -q '^package/dist/test/' <<<"$listing"; then echo "the npm package ships the tests" >&2; exit 1; fi
npm install -g --prefix "$scratch/prefix" --no-audit --no-fund --loglevel=error "${tarball[0]}" >/dev/null
command="$scratch/prefix/bin/chrome-private-input-mcp"
"$command" --help | grep -q '^usage: chrome-private-input-mcp --config FILE'
"$command" --version

echo "== the MCP Inspector lists the tools through the installed command" >&2
npm ci --prefix .ci/inspector --no-audit --no-fund --loglevel=error >/dev/null
mkdir -m 700 "$scratch/config"
cat >"$scratch/config/config.json" <<JSON
{"tool": ["$CPI_SIM", "--scenario", "$PWD/tests/scenarios/realistic-chrome.json", "--"],
 "targets": {"work-login": {"profileName": "Work", "allowedOrigins": ["https://accounts.example.com"]}}}
JSON
chmod 600 "$scratch/config/config.json"
listed=$(.ci/inspector/node_modules/.bin/mcp-inspector --cli --method tools/list -- "$command" --config "$scratch/config/config.json")
tools=$(node -e 'const t = JSON.parse(require("fs").readFileSync(0, "utf8")).tools; console.log(t.map((x) => x.name).sort().join(" "))' <<<"$listed")
expected="copy_to_clipboard count_windows deliver_secret key_baseline key_capture list_targets trust_check window_visibility"
[[ $tools == "$expected" ]] || { echo "the Inspector listed: $tools" >&2; exit 1; }
# --tool-arg takes every word up to the next option: it goes before the others.
counted=$(.ci/inspector/node_modules/.bin/mcp-inspector --cli --tool-arg target=work-login --tool-name count_windows \
    --method tools/call -- "$command" --config "$scratch/config/config.json")
grep -q '"count": 1' <<<"$counted" || { echo "count_windows through the Inspector: $counted" >&2; exit 1; }
echo "installed clients: pip, npm pack and the Inspector all worked" >&2
