# Sourced by the benchmark scripts.
#
# bench_scratch PREFIX: a scratch folder in $work and the array pids of the
# programs started there; on exit those are stopped and the folder removed.
bench_scratch() {
  work=$(mktemp -d "/tmp/$1-XXXXXX")
  pids=()
  trap bench_cleanup EXIT
}
bench_cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}

# start_service_on_vreader DIR: the virtual reader with the demo cards and no
# simulated latency, and hwservice of build folder DIR on it as a process of
# its own in $work (port 7776). Sets svc to the service's pid; both join pids.
start_service_on_vreader() {
  local dir=$1 top
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  export VREADER_SOCKET=$work/vr.sock
  "$dir/bin/vreader" --socket "$VREADER_SOCKET" --profile "$top/sim/profiles/demo.json" --time-scale 0.0001 \
    >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -S "$VREADER_SOCKET" ] && break; sleep 0.1; done
  mkdir -p "$work/prog" "$work/run"
  cp "$dir/bin/hwservice" "$work/prog/"
  (cd "$work" && TMPDIR=$work XDG_RUNTIME_DIR=$work/run HIDLINK_LOG_FILE=$work/hidlink.log \
     QT_QPA_PLATFORM=offscreen LD_PRELOAD=$dir/lib/libvreader_hidapi.so exec "$work/prog/hwservice" >/dev/null 2>&1) &
  svc=$!
  pids+=($svc)
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/7776) 2>/dev/null && break; sleep 0.1; done
  sleep 1
}
