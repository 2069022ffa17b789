#!/bin/sh
# Runs the browser test of the test page; CTest calls it. Exits 77 (a skip
# for CTest) when Chromium, Node.js or playwright-core is missing:
# scripts/install-browser-deps.sh installs them.
here=$(cd "$(dirname "$0")" && pwd)
chromium=${HW_CHROMIUM:-/usr/bin/chromium}
if [ ! -x "$chromium" ]; then
  echo "SKIP: no Chromium at $chromium (scripts/install-browser-deps.sh installs it)"
  exit 77
fi
if ! command -v node >/dev/null 2>&1; then
  echo "SKIP: no Node.js (scripts/install-browser-deps.sh installs it)"
  exit 77
fi
if [ ! -f "$here/node_modules/playwright-core/package.json" ]; then
  echo "SKIP: playwright-core is not installed in tests/browser (scripts/install-browser-deps.sh runs npm ci)"
  exit 77
fi
# Every *.test.mjs here, one file at a time: they share port 7776.
cd "$here" && exec node --test --test-concurrency=1 --test-reporter=spec ./*.test.mjs
