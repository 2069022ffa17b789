#!/bin/sh
# hwservice-virtual: the service on the virtual reader, for developing pages
# without a card reader.
#
#   hwservice-virtual [--profile NAME|FILE] [--family hid|dc|both]
#
# Starts vreader in the background with the demo cards (unless a virtual
# reader already answers on this user's socket), then runs the service
# through the hwservice launcher with the hidapi shim preloaded, so the
# service's USB-HID driver talks to the virtual reader. Cards are changed with
# vreaderctl (vreaderctl insert contactless bank, vreaderctl present ecard,
# ...); "vreaderctl quit" stops the virtual reader.
set -eu

vr_dir=${HWSERVICE_VREADER_DIR:-/opt/hwservice/virtual-reader}
launcher=${HWSERVICE_LAUNCHER:-/usr/bin/hwservice}
profile=demo
family=both

while [ $# -gt 0 ]; do
  case $1 in
    --profile) [ $# -ge 2 ] || { echo "hwservice-virtual: --profile needs a value" >&2; exit 2; }
               profile=$2; shift 2 ;;
    --family)  [ $# -ge 2 ] || { echo "hwservice-virtual: --family needs a value" >&2; exit 2; }
               family=$2; shift 2 ;;
    -h|--help) sed -n '2,12s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "hwservice-virtual: unknown argument $1 (try --help)" >&2; exit 2 ;;
  esac
done

if "$vr_dir/bin/vreaderctl" ping >/dev/null 2>&1; then
  echo "hwservice-virtual: a virtual reader already runs; using it as it is" >&2
else
  # The daemon keeps the descriptors it was given: none may be a pipe that
  # someone waits on, so its messages go to a file.
  err=$(mktemp)
  if ! "$vr_dir/bin/vreader" --profile "$profile" --family "$family" --background \
       </dev/null >/dev/null 2>"$err"; then
    cat "$err" >&2
    rm -f "$err"
    echo "hwservice-virtual: the virtual reader did not start" >&2
    exit 1
  fi
  rm -f "$err"
  echo "hwservice-virtual: virtual reader started (profile $profile, family $family)" >&2
fi

LD_PRELOAD=$vr_dir/lib/libvreader_hidapi.so${LD_PRELOAD:+:$LD_PRELOAD}
export LD_PRELOAD
exec "$launcher"
