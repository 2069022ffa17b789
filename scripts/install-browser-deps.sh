#!/usr/bin/env bash
# Installs what the browser test needs: Debian's Chromium (and Node.js with
# npm when the machine has none), then playwright-core into
# tests/browser/node_modules from package-lock.json (npm ci), unless the
# version the lock file names is installed already.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
extra=$(mktemp)
trap 'rm -f "$extra"' EXIT
command -v node >/dev/null 2>&1 || echo nodejs >>"$extra"
command -v npm >/dev/null 2>&1 || echo npm >>"$extra"
"$top/scripts/install-deps.sh" "$top/scripts/browser-packages.txt" "$extra"

cd "$top/tests/browser"
want=$(node -p 'require("./package-lock.json").packages["node_modules/playwright-core"].version')
have=$(node -p 'require("./node_modules/playwright-core/package.json").version' 2>/dev/null || true)
[ "$want" = "$have" ] || npm ci --no-audit --no-fund --loglevel=error

# The JavaScript library's TypeScript check (sdk/js/package-lock.json).
cd "$top/sdk/js"
want=$(node -p 'require("./package-lock.json").packages["node_modules/typescript"].version')
have=$(node -p 'require("./node_modules/typescript/package.json").version' 2>/dev/null || true)
[ "$want" = "$have" ] || npm ci --no-audit --no-fund --loglevel=error
