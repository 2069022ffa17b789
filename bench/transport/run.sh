#!/usr/bin/env bash
# Requests per second of a fixed small reply over keep-alive connections,
# 1 and 50 at a time, for the transport and for nginx (one worker) serving
# the same body on loopback, and the ratio of the two.
# Usage: bench/transport/run.sh BUILD_DIR
#   BENCH_SECONDS=3 per run, BENCH_ROUNDS=3 runs per server and load (median kept)
set -euo pipefail
build=${1:?build dir}
secs=${BENCH_SECONDS:-3}
rounds=${BENCH_ROUNDS:-3}
server_bin=$build/bin/bench_transport_server
[ -x "$server_bin" ] || { echo "missing $server_bin (build with -DHW_BUILD_BENCH=ON)"; exit 1; }
command -v wrk >/dev/null || { echo "wrk is not installed"; exit 1; }
. "$(dirname "$0")/../nginx.sh"

. "$(dirname "$0")/../common.sh"
bench_scratch hwtransport-bench

# Server on CPU 0, load on CPU 1, when there are two.
pin_srv=(); pin_load=()
if command -v taskset >/dev/null && [ "$(nproc)" -ge 2 ]; then
  pin_srv=(taskset -c 0); pin_load=(taskset -c 1)
fi

"${pin_srv[@]}" "$server_bin" > "$work/port" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
our_port=$(head -n 1 "$work/port")

nginx_port=$("$server_bin" --free-port)
start_nginx "$work" "$nginx_port" '{"ok":true}\n' "${pin_srv[@]}"

rate() { # port connections
  "${pin_load[@]}" wrk -t1 -c"$2" -d"${secs}s" "http://127.0.0.1:$1/" | awk '/^Requests\/sec:/ {print $2}'
}
# Warm both up once.
for p in "$our_port" "$nginx_port"; do "${pin_load[@]}" wrk -t1 -c2 -d1s "http://127.0.0.1:$p/" >/dev/null; done

# Alternate the two servers for a few rounds and keep each one's median, so
# that load from elsewhere on the machine does not favour either.
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf '%-12s %14s %14s %8s\n' connections hwtransport nginx ratio
for c in 1 50; do
  : > "$work/ours"; : > "$work/theirs"
  for _ in $(seq "$rounds"); do
    rate "$our_port" "$c" >> "$work/ours"
    rate "$nginx_port" "$c" >> "$work/theirs"
  done
  ours=$(median < "$work/ours")
  theirs=$(median < "$work/theirs")
  ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  printf '%-12s %14s %14s %8s\n' "$c" "$ours" "$theirs" "$ratio"
done
