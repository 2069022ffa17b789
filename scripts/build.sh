#!/usr/bin/env bash
# Configures and builds into build/ (or build-asan/ with --sanitize).
# Usage: scripts/build.sh [--sanitize] [extra cmake -D options...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$top/build
opts=()
for a in "$@"; do
  case "$a" in
    --sanitize) dir=$top/build-asan; opts+=(-DHW_SANITIZE=ON) ;;
    *) opts+=("$a") ;;
  esac
done
cmake -S "$top" -B "$dir" "${opts[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
echo "$dir"
