#!/usr/bin/env bash
# Runs every benchmark side by side and prints the markdown table of
# bench/README.md; also writes it to bench/results/<date>.md.
# Builds Release with -DHW_BUILD_BENCH=ON into build-bench/ (tests off).
# Usage: scripts/bench.sh   (BENCH_SECONDS=3, BENCH_ROUNDS=3 for the HTTP runs)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/nginx.sh"
. "$top/bench/common.sh"
"$top/scripts/install-deps.sh" "$top/scripts/bench-packages.txt" >/dev/null
dir=$top/build-bench
cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DHW_BUILD_BENCH=ON -DHW_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target hwservice vreader vreaderctl vreader_hidapi \
  bench_transport_server apdu_bench funid_bench facet_bench hidlink_log_bench wait_latency >/dev/null
secs=${BENCH_SECONDS:-3}
rounds=${BENCH_ROUNDS:-3}
bin=$dir/bin
bench_scratch hw-bench
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
# Google Benchmark JSON: "<name> <field>" -> value.
gb() { python3 -c '
import json, sys
d = json.load(open(sys.argv[1]))
for b in d["benchmarks"]:
    if b["name"] == sys.argv[2]:
        print(b[sys.argv[3]]); break
' "$@"; }
mem() { # pid -> "RSS PSS" in KiB
  awk '/^Rss:/ {r=$2} /^Pss:/ {p=$2} END {print r, p}' "/proc/$1/smaps_rollup"
}

# 1. Transport alone against nginx (bench/transport/run.sh).
transport=$(BENCH_SECONDS=$secs BENCH_ROUNDS=$rounds "$top/bench/transport/run.sh" "$dir")

# The service on a private reader with no simulated latency.
start_service_on_vreader "$dir"
read -r rss0 pss0 < <(mem "$svc")
body='{"FunID":"DKQ0001","TranData":{"Region":"440100"}}'
for _ in $(seq 1000); do echo "url = \"http://127.0.0.1:7776/http/hardware\""; echo "data = \"${body//\"/\\\"}\""; echo "output = /dev/null"; done > "$work/curl.cfg"
curl -s -K "$work/curl.cfg"
read -r rss1 pss1 < <(mem "$svc")

# 2. The whole service against nginx on the same loopback load.
nginx_port=$("$bin/bench_transport_server" --free-port)
start_nginx "$work" "$nginx_port" 'welcome to httpserver\n'
printf 'wrk.method = "POST"\nwrk.body = %s\n' "'$body'" > "$work/card.lua"
rate() { wrk -t1 -c"$2" -d"${secs}s" ${3:+-s "$3"} "$1" | awk '/^Requests\/sec:/ {print $2}'; }
svc_rows=""
for c in 1 50; do
  : > "$work/a"; : > "$work/b"
  for _ in $(seq "$rounds"); do
    rate "http://127.0.0.1:7776/api/hello" "$c" >> "$work/a"
    rate "http://127.0.0.1:$nginx_port/" "$c" >> "$work/b"
  done
  a=$(median < "$work/a"); b=$(median < "$work/b")
  svc_rows+="| hwservice /api/hello, $c connection(s), requests/s | $a | nginx $b | $(ratio "$a" "$b") |"$'\n'
done
: > "$work/a"
for _ in $(seq "$rounds"); do rate "http://127.0.0.1:7776/http/hardware" 1 "$work/card.lua" >> "$work/a"; done
cards=$(median < "$work/a")

# 3. Each FunID end to end, on the same service.
"$bin/funid_bench" --benchmark_min_time=0.5 --benchmark_format=json > "$work/funid.json" 2>/dev/null
kill "$svc"; wait "$svc" 2>/dev/null || true

# 4. An APDU through the whole stack, in-process, on its own reader.
VREADER_BIN=$bin/vreader VREADER_PROFILE_FILE=$top/sim/profiles/demo.json LD_PRELOAD=$dir/lib/libvreader_hidapi.so \
  "$bin/apdu_bench" --benchmark_min_time=1 --benchmark_format=json > "$work/apdu.json" 2>/dev/null
# 5. Photo decode; 6. log line and lock.
"$bin/facet_bench" --benchmark_format=json > "$work/facet.json" 2>/dev/null
HIDLINK_LOG_FILE=$work/bench-hidlink.log "$bin/hidlink_log_bench" --benchmark_format=json > "$work/log.json" 2>/dev/null

us() { awk -v v="$1" 'BEGIN { printf "%.1f", v }'; }
{
  echo "Run $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($(uname -m)), load average $(cut -d' ' -f1-3 /proc/loadavg); Release build."
  echo
  echo "| figure | hwservice | peer | ratio |"
  echo "|---|---|---|---|"
  echo "$transport" | awk 'NR > 1 { printf "| transport alone, %s connection(s), requests/s | %s | nginx %s | %s |\n", $1, $2, $3, $4 }'
  printf '%s' "$svc_rows"
  echo "| DKQ0001 over HTTP, 1 connection, requests/s | $cards | — | — |"
  for f in SelectEF PowerOn; do
    echo "| $f through the stack: CPU µs of the caller / of vreader | $(us "$(gb "$work/apdu.json" "BM_$f/process_time" cpu_time)") / $(us "$(gb "$work/apdu.json" "BM_$f/process_time" vreader_cpu_us)") | — | — |"
  done
  for f in Hello DKQ0001 DKQ0002 DKQ0003 DKQ0004 DKQ0005 DKQ0007 DKQ0010 DKQ0011 DKQ0012; do
    echo "| $f end to end, µs per request | $(us "$(gb "$work/funid.json" "BM_$f/real_time" real_time)") | — | — |"
  done
  p=$(gb "$work/funid.json" "BM_DKQ0005Photo/real_time" real_time); q=$(gb "$work/funid.json" "BM_DKQ0005/real_time" real_time)
  echo "| DKQ0005 with photo end to end, µs per request (extra over DKQ0005) | $(us "$p") ($(us "$(awk -v a="$p" -v b="$q" 'BEGIN{print a-b}')")) | — | — |"
  for f in BM_ColourMaskOneColour BM_ColourMaskPolygon BM_ColourNoMask BM_GreyNoMask; do
    echo "| photo decode ${f#BM_}, µs | $(us "$(gb "$work/facet.json" "$f" cpu_time)") | — | — |"
  done
  l=$(gb "$work/log.json" BM_LogLine cpu_time); n=$(gb "$work/log.json" BM_LogLineWithoutOutputLock cpu_time)
  s=$(gb "$work/log.json" BM_SemaphorePair cpu_time)
  echo "| log line to file, ns (with the semaphore) | $(us "$l") | without it ≈ $(us "$(awk -v a="$l" -v b="$s" 'BEGIN{print a-b}')") | $(ratio "$l" "$(awk -v a="$l" -v b="$s" 'BEGIN{print a-b}')") |"
  echo "| log line without the in-process output lock, ns | $(us "$n") | — | — |"
  echo "| semaphore down/up pair alone, ns | $(us "$s") | — | — |"
  echo "| hwservice memory after start, RSS / PSS KiB | $rss0 / $pss0 | — | — |"
  echo "| hwservice memory after 1000 requests, RSS / PSS KiB | $rss1 / $pss1 | — | — |"
} > "$work/table.md"

# 7. Serving during card waits, before (BENCH_BASE, default main, unpacked
# with `git archive` into BENCH_BASE_SRC, built in build-bench-base/) and
# after (this tree), in turn.
base=${BENCH_BASE:-main}
base_src=${BENCH_BASE_SRC:-$top/build-bench-base-src}
mkdir -p "$base_src"
git -C "$top" archive "$base" | tar -x -C "$base_src"
cmake -S "$base_src" -B "$top/build-bench-base" -DCMAKE_BUILD_TYPE=Release -DHW_BUILD_BENCH=ON -DHW_BUILD_TESTS=OFF >/dev/null
cmake --build "$top/build-bench-base" -j "$(nproc)" --target hwservice vreader vreaderctl vreader_hidapi >/dev/null
read -r bhm bhp bbm bbp bcards bwakes < <("$top/bench/service/wait_run.sh" "$top/build-bench-base" "$bin/wait_latency")
read -r hm hp bm bp cards2 wakes < <("$top/bench/service/wait_run.sh" "$dir" "$bin/wait_latency")
{
  echo "| /api/hello during DKQ0011 waits, median / p99 µs (before: $base) | $hm / $hp | before $bhm / $bhp | $(ratio "$hp" "$bhp") |"
  echo "| HeartBeat during DKQ0011 waits, median / p99 µs (before: $base) | $bm / $bp | before $bbm / $bbp | $(ratio "$bp" "$bbp") |"
  echo "| DKQ0001 over HTTP, 1 connection, requests/s (same run) | $cards2 | before $bcards | $(ratio "$cards2" "$bcards") |"
  echo "| idle service, wake-ups per second (all threads) | $wakes | before $bwakes | $(ratio "$wakes" "$bwakes") |"
} >> "$work/table.md"
mkdir -p "$top/bench/results"
cp "$work/table.md" "$top/bench/results/$(date -u +%Y-%m-%d).md"
cat "$work/table.md"
