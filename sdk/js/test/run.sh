#!/bin/sh
# CTest's entry to the library's checks; exits 77 (a skip) when what a check
# needs is missing.
#   run.sh unit   the unit tests (Node's test runner)
#   run.sh types  tsc --noEmit over the declarations and test/types.ts
cd "$(dirname "$0")/.." || exit 1
if ! command -v node >/dev/null 2>&1; then
  echo "SKIP: no Node.js (scripts/install-browser-deps.sh installs it)"
  exit 77
fi
case "$1" in
  unit)
    # Node 20 has WebSocket only behind a flag; later versions have it anyway.
    flag=
    node -e 'process.exit(typeof WebSocket === "function" ? 0 : 1)' || flag=--experimental-websocket
    exec node $flag --test test/hwservice.test.mjs ;;
  types)
    if [ ! -x node_modules/.bin/tsc ]; then
      echo "SKIP: TypeScript is not installed in sdk/js (scripts/install-browser-deps.sh runs npm ci)"
      exit 77
    fi
    node_modules/.bin/tsc --noEmit -p . && echo "types: checked" ;;
  *) echo "usage: $0 unit|types" >&2; exit 2 ;;
esac
