#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the virtual reader
# with the demo cards and hwservice on it, and prints how to call the
# service. Ctrl-C (or SIGTERM) stops both. Without a display the service
# runs on Qt's offscreen platform.
#
# Usage: scripts/run.sh [--profile NAME|FILE] [--real-reader]
#   --profile      cards for the virtual reader (default: demo, sim/profiles/demo.json)
#   --real-reader  no virtual reader: hwservice drives the USB reader attached
#
# The hidapi shim that puts hwservice on the virtual reader is preloaded into
# that one process only. It builds only the programs it runs, in build/ (under
# a minute on two cores the first time); scripts/test.sh builds the rest.
# Logs: build/build.log, build/run/hwservice.log, build/run/vreader.log.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
port=7776
real=0
profile=demo
while [ $# -gt 0 ]; do
  case "$1" in
    --real-reader) real=1 ;;
    --profile) [ $# -ge 2 ] || { echo "run.sh: --profile needs a value" >&2; exit 2; }; profile=$2; shift ;;
    -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "run.sh: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

# A profile that names nothing is an option error, found before a long build.
if [ "$real" = 0 ]; then
  case $profile in
    */*) [ -f "$profile" ] ;;
    *) [ -f "$profile" ] || [ -f "$top/sim/profiles/${profile%.json}.json" ] ;;
  esac || { echo "run.sh: no profile $profile (a name from sim/profiles/ or a file)" >&2; exit 2; }
fi

say() { printf '%s\n' "$*"; }
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
port_owner() { command -v ss >/dev/null && ss -Hltnp "sport = :$port" 2>/dev/null | sed -n 's/.*users:((\(.*\)))/\1/p' | head -n 1; }
refuse_port() {
  say "run.sh: TCP port $port is already in use${1:+ ($1)}."
  say "        Another hwservice (an earlier scripts/run.sh?) or another program holds it."
  say "        Stop that one first (Ctrl-C in its terminal, or kill its process), then run this again."
  exit 1
}

# Same rule as the reader's own tools, so plain `vreaderctl` finds it.
if [ -n "${VREADER_SOCKET:-}" ]; then sock=$VREADER_SOCKET
elif [ -n "${XDG_RUNTIME_DIR:-}" ]; then sock=$XDG_RUNTIME_DIR/vreader.sock
else sock=/tmp/vreader-$(id -u).sock; fi

# Refuse early, before a long build, when the port is taken.
port_in_use && refuse_port "$(port_owner)"

say "[1/4] Checking the Debian packages it needs..."
"$top/scripts/install-deps.sh"

# Only the programs it runs (target run_programs: hwservice, vreader,
# vreaderctl and the hidapi shim) are built, in build/ like scripts/build.sh,
# so a later scripts/test.sh reuses them. The test programs are not built.
dir=$top/build
mkdir -p "$dir"
log=$dir/build.log
say "[2/4] Configuring build/ (output in build/build.log)..."
if ! cmake -S "$top" -B "$dir" >"$log" 2>&1; then
  tail -n 40 "$log"
  say "run.sh: configuring failed; the whole output is in build/build.log."
  exit 1
fi
say "[3/4] Building hwservice and the virtual reader (under a minute the first time on two cores)..."
# The build's own percentage, one line per step of ten (in place on a terminal).
show_progress() {
  local last=-1 pct
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$log"
    [[ $line =~ ^\[\ *([0-9]+)%\] ]] || continue
    pct=${BASH_REMATCH[1]}
    if [ -t 1 ]; then
      [ "$pct" != "$last" ] && printf '\r      %3d%%' "$pct"
    elif [ $((pct / 10)) != $((last / 10)) ] || [ "$last" = -1 ]; then
      printf '      %3d%%\n' "$pct"
    fi
    last=$pct
  done
  [ -t 1 ] && [ "$last" != -1 ] && printf '\n'
  return 0
}
# pipefail: the build's own status decides.
if ! cmake --build "$dir" -j "$(nproc)" --target run_programs 2>&1 | show_progress; then
  tail -n 40 "$log"
  say "run.sh: the build failed; the whole output is in build/build.log."
  exit 1
fi
bin=$dir/bin
run=$dir/run
mkdir -p "$run"

vr_pid=
svc_pid=
stopping=0
stop_all() {
  if [ "$stopping" = 1 ]; then return; fi
  stopping=1
  trap '' INT TERM
  if [ -n "$svc_pid" ] && kill -0 "$svc_pid" 2>/dev/null; then
    kill -TERM "$svc_pid" 2>/dev/null || true
    wait "$svc_pid" 2>/dev/null || true
  fi
  if [ -n "$vr_pid" ] && kill -0 "$vr_pid" 2>/dev/null; then
    kill -TERM "$vr_pid" 2>/dev/null || true
    wait "$vr_pid" 2>/dev/null || true
  fi
  if [ -n "$svc_pid$vr_pid" ]; then say "Stopped."; fi
}
trap 'stop_all; exit 0' INT TERM
trap stop_all EXIT

say "[4/4] Starting$([ "$real" = 0 ] && echo " the virtual reader and") hwservice..."
preload=()
if [ "$real" = 0 ]; then
  if "$bin/vreaderctl" --socket "$sock" ping >/dev/null 2>&1; then
    say "run.sh: a virtual reader already answers on $sock."
    say "        Stop it (Ctrl-C where it runs, or: $bin/vreaderctl --socket $sock quit),"
    say "        or give this one another socket: VREADER_SOCKET=/tmp/my-vreader.sock scripts/run.sh"
    exit 1
  fi
  if [ -e "$sock" ] && [ ! -S "$sock" ]; then
    say "run.sh: $sock exists and is not a socket; remove it or set VREADER_SOCKET to another path."
    exit 1
  fi
  "$bin/vreader" --socket "$sock" --profile "$profile" --family hid >"$run/vreader.log" 2>&1 &
  vr_pid=$!
  for _ in $(seq 50); do
    "$bin/vreaderctl" --socket "$sock" ping >/dev/null 2>&1 && break
    kill -0 "$vr_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! "$bin/vreaderctl" --socket "$sock" ping >/dev/null 2>&1; then
    say "run.sh: the virtual reader did not start:"
    cat "$run/vreader.log"
    exit 1
  fi
  preload=(env "LD_PRELOAD=$dir/lib/libvreader_hidapi.so" "VREADER_SOCKET=$sock")
else
  found=0
  for d in /sys/bus/usb/devices/*; do
    [ "$(cat "$d/idVendor" 2>/dev/null)" = 163c ] && [ "$(cat "$d/idProduct" 2>/dev/null)" = 0a2b ] && found=1
  done
  [ "$found" = 1 ] || say "run.sh: no reader 163c:0a2b is attached; hwservice starts anyway and answers \"未找到设备!\" until one is."
fi

port_in_use && refuse_port "$(port_owner)"
# The working directory's web/ is the page served on "/".
: >"$run/hwservice.log"  # exists before the first look below
(cd "$top" && exec "${preload[@]}" "$bin/hwservice") >>"$run/hwservice.log" 2>&1 &
svc_pid=$!
ready=0
for _ in $(seq 200); do
  if grep -q "starting http server at port: $port" "$run/hwservice.log"; then ready=1; break; fi
  grep -q "连接为空" "$run/hwservice.log" && break
  kill -0 "$svc_pid" 2>/dev/null || break
  sleep 0.1
done
if [ "$ready" != 1 ]; then
  if grep -q "Qmx硬件服务主程序已启动!" "$run/hwservice.log"; then
    say "run.sh: another hwservice already runs on this machine (it says \"Qmx硬件服务主程序已启动!\")."
    say "        Stop it first, then run this again."
  elif grep -q "连接为空" "$run/hwservice.log"; then
    refuse_port "$(port_owner)"
  else
    say "run.sh: hwservice did not come up; its log ($run/hwservice.log):"
    cat "$run/hwservice.log"
  fi
  exit 1
fi

platform=${QT_QPA_PLATFORM:-}
[ -z "$platform" ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && platform=offscreen
if [ "$real" = 0 ]; then
  say "hwservice is running on the virtual reader (profile $profile)${platform:+, Qt platform $platform}."
else
  say "hwservice is running on the attached reader${platform:+, Qt platform $platform}."
fi
cat <<EOF

  HTTP       POST http://127.0.0.1:$port/http/hardware   (JSON request in the body)
  WebSocket  ws://127.0.0.1:$port                          (one request per text message)
  Page       http://127.0.0.1:$port/

Read the card in the contact slot (social-security card number):
  curl -s http://127.0.0.1:$port/http/hardware -d '{"FunID":"DKQ0001","TranData":{"Region":"440100"}}'
Read the resident ID card:
  curl -s http://127.0.0.1:$port/http/hardware -d '{"FunID":"DKQ0005","TranData":{"Region":"440100"}}'
From a page:
  fetch("http://127.0.0.1:$port/http/hardware", {method: "POST", headers: {"Content-Type": "text/plain"},
        body: JSON.stringify({FunID: "DKQ0001", TranData: {Region: "440100"}})}).then(r => r.text())
EOF
if [ "$real" = 0 ]; then
  cat <<EOF
Change the cards (sim/README.md lists more):
  $bin/vreaderctl --socket $sock insert contact bank      (then DKQ0007)
  $bin/vreaderctl --socket $sock present ecard            (then DKQ0011 with "Timeout":"30")
EOF
fi
say "Logs: $run/hwservice.log${vr_pid:+, $run/vreader.log}. Ctrl-C stops everything."

# Run until a signal comes or one of the programs ends by itself.
set +e
if [ -n "$vr_pid" ]; then wait -n "$svc_pid" "$vr_pid"; else wait "$svc_pid"; fi
rc=$?
if [ "$stopping" = 0 ]; then
  if ! kill -0 "$svc_pid" 2>/dev/null; then say "run.sh: hwservice ended (status $rc); see $run/hwservice.log"
  else say "run.sh: the virtual reader ended (status $rc); see $run/vreader.log"; fi
  exit 1
fi
