#!/usr/bin/env bash
# scripts/run.sh: --help, and every option error exits 2 with its message
# before anything is installed, built or started.
set -u
run=${HW_SOURCE_DIR:?set by CTest}/scripts/run.sh
passed=0 failed=0
check() { # check DESCRIPTION EXPECTED_STATUS EXPECTED_TEXT ARGS...
  local what=$1 want=$2 text=$3 out rc
  shift 3
  out=$(timeout 20 bash "$run" "$@" 2>&1)
  rc=$?
  if [ "$rc" = "$want" ] && [[ $out == *"$text"* ]]; then passed=$((passed + 1))
  else failed=$((failed + 1)); printf 'FAIL: %s: status %s, output:\n%s\n' "$what" "$rc" "$out"; fi
}
check "help"             0 "Usage: scripts/run.sh [--profile NAME|FILE] [--real-reader]" --help
check "help, short"      0 "--real-reader  no virtual reader" -h
check "unknown option"   2 "run.sh: unknown option --bogus (try --help)" --bogus
check "profile, no value" 2 "run.sh: --profile needs a value" --profile
check "profile, unknown" 2 "run.sh: no profile nosuch (a name from sim/profiles/ or a file)" --profile nosuch
check "profile, no file" 2 "run.sh: no profile /nonexistent/cards.json" --profile /nonexistent/cards.json
# The help is the script's header and nothing after it.
out=$(bash "$run" --help)
if [[ $out == *"set -euo"* ]]; then failed=$((failed + 1)); echo "FAIL: help runs past the header"; else passed=$((passed + 1)); fi
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
