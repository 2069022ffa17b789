#!/bin/bash
# Records the kept traces anew from the virtual reader with the demo cards:
# one trace and one expectation per FunID and reader family. Run it after a
# change of the demo profile or of what the service sends:
#   tests/traces/record.sh [BUILD_DIR]      (default: build)
# Needs the targets vreader, vreaderctl, vreader_hidapi, hidtrace, dctrace,
# hwtrace_call and dcrf32.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VREADER_SOCKET=$work/vr.sock HIDLINK_LOG_FILE=$work/hidlink.log TMPDIR=$work

region='"Region":"440100"'
# name | control lines before the call | TranData members
calls=(
  "DKQ0001||$region"
  "DKQ0002||$region"
  "DKQ0003||$region"
  "DKQ0004||$region"
  "DKQ0005||$region"
  "DKQ0007|insert contact bank|$region"
  "DKQ0010||$region,\"SetAutoRead\":\"1\""
  "DKQ0011|present ecard|$region,\"Timeout\":\"30\""
  "DKQ0012||$region,\"Timeout\":\"500\""
)

for family in hid dc; do
  for c in "${calls[@]}"; do
    IFS='|' read -r fun setup tran <<<"$c"
    "$build/bin/vreader" --socket "$VREADER_SOCKET" --profile demo --family "$family" --time-scale 0.01 \
      --background >/dev/null 2>&1
    for _ in $(seq 50); do "$build/bin/vreaderctl" ping >/dev/null 2>&1 && break; sleep 0.1; done
    [ -n "$setup" ] && "$build/bin/vreaderctl" "$setup" >/dev/null
    request="{\"FunID\":\"$fun\",\"TranData\":{$tran}}"
    base=$here/$family-$fun
    rm -f "$base.trace"
    (cd "$work" && HWTRACE_FILE="$base.trace" \
      LD_PRELOAD="$build/lib/libhidtrace.so:$build/lib/libdctrace.so:$build/lib/libvreader_hidapi.so" \
      "$build/bin/hwtrace_call" "$work/reply" "$request" >/dev/null)
    "$build/bin/vreaderctl" quit >/dev/null
    { echo "request $request"; echo "reply $(cat "$work/reply")"; } >"$base.expect"
    echo "$family $fun: $(wc -l <"$base.trace") lines, $(cut -c1-100 "$work/reply")"
  done
done
