#!/usr/bin/env bash
# Benchmarks the HTTP transport against nginx on loopback (requests per
# second with 1 and 50 keep-alive connections). Installs nginx and wrk from
# scripts/bench-packages.txt, builds with -DHW_BUILD_BENCH=ON into build/.
# Usage: scripts/bench-transport.sh   (BENCH_SECONDS=3 per run, BENCH_ROUNDS=3 runs, median kept)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh" "$top/scripts/bench-packages.txt"
dir=$("$top/scripts/build.sh" -DHW_BUILD_BENCH=ON | tail -n 1)
exec "$top/bench/transport/run.sh" "$dir"
