#!/usr/bin/env bash
# One hwservice build on a private vreader: /api/hello and HeartBeat latency
# during back-to-back DKQ0011 waits (3 reader seconds at time scale 0.01,
# i.e. 30 ms each), DKQ0001 requests/s on one connection, and wake-ups per
# second of the idle service (context switches of all its threads over 10 s).
# Usage: bench/service/wait_run.sh <build dir of hwservice> <wait_latency program>
# Prints "hello_med hello_p99 beat_med beat_p99 dkq0001_per_s idle_wakeups_per_s".
set -euo pipefail
dir=$1
client=$2
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/bench/common.sh"
bench_scratch hw-wait
start_service_on_vreader "$dir"
switches() { cat /proc/"$svc"/task/*/status | awk '/ctxt_switches/ { s += $2 } END { print s }'; }
a=$(switches); sleep 10; b=$(switches)
wakes=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.1f", (b - a) / 10 }')
body='{"FunID":"DKQ0001","TranData":{"Region":"440100"}}'
printf 'wrk.method = "POST"\nwrk.body = %s\n' "'$body'" > "$work/card.lua"
cards=$(wrk -t1 -c1 -d"${BENCH_SECONDS:-3}s" -s "$work/card.lua" http://127.0.0.1:7776/http/hardware | awk '/^Requests\/sec:/ {print $2}')
"$dir/bin/vreaderctl" timescale 0.01 >/dev/null
lat=$("$client" "${WAIT_SAMPLES:-1000}" 3)
echo "$lat $cards $wakes"
