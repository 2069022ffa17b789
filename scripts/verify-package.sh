#!/usr/bin/env bash
# Installs the Debian packages on a fresh Debian 12 root and checks them:
# install with apt-get, start the installed service on the virtual reader as
# an ordinary user (offscreen), read cards with curl over HTTP, check the
# per-user program folder (config.ini, QMXLog), the installed files and the
# maintainer scripts, then remove and purge and check that nothing of the
# packages is left. Too heavy for CI (it needs root, the Debian mirror and a
# few minutes); run it by hand after scripts/package.sh.
#
# Usage: scripts/verify-package.sh [--rebuild-root] [--keep] [DEB...]
#   DEBs default to build-pkg/*.deb (scripts/package.sh builds them).
#   The fresh root is made with debootstrap (minbase) into build-pkg/ once and
#   kept as build-pkg/debian12-base.tar.gz; every run unpacks a new copy.
#   --rebuild-root  runs debootstrap again; --keep leaves the root in place.
# The service runs in a network namespace of its own, so port 7776 of this
# machine is neither needed nor touched.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$top/build-pkg
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
base=$out/debian12-base.tar.gz
root=$out/verify-root
rebuild=0 keep=0 debs=()
for a in "$@"; do
  case $a in
    --rebuild-root) rebuild=1 ;;
    --keep) keep=1 ;;
    -*) echo "unknown option $a" >&2; exit 2 ;;
    *) debs+=("$(realpath "$a")") ;;
  esac
done
[ ${#debs[@]} -gt 0 ] || debs=("$out"/*.deb)
[ -f "${debs[0]}" ] || { echo "no packages: run scripts/package.sh first" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "run as root (debootstrap, chroot, mounts)" >&2; exit 2; }

failures=0
step() { printf '\n== %s\n' "$*"; }
pass() { printf 'ok   %s\n' "$*"; }
fail() { printf 'FAIL %s\n' "$*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

mounted=()
cleanup() {
  set +e
  # Anything still running inside the root is ours: end it before unmounting.
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -9 "${p#/proc/}" 2>/dev/null
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}"; done
  [ $keep -eq 1 ] || rm -rf "$root"
}
trap cleanup EXIT

if [ $rebuild -eq 1 ] || [ ! -f "$base" ]; then
  step "debootstrap Debian 12 (minbase) from $mirror"
  command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap
  rm -rf "$out/debian12-bootstrap"
  debootstrap --variant=minbase bookworm "$out/debian12-bootstrap" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { tail -20 "$out/debootstrap.log"; exit 1; }
  tar -C "$out/debian12-bootstrap" -czf "$base.tmp" . && mv "$base.tmp" "$base"
  rm -rf "$out/debian12-bootstrap"
fi

step "fresh root in $root"
rm -rf "$root"; mkdir -p "$root"
tar -C "$root" -xzf "$base"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cat >"$root/etc/apt/sources.list" <<SRC
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
SRC
# No service of an installed package starts inside the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"; chmod 0755 "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"; mounted+=("$root/proc")
mount --bind /dev "$root/dev"; mounted+=("$root/dev")
mount --bind /dev/pts "$root/dev/pts"; mounted+=("$root/dev/pts")
in_root apt-get update -qq
in_root apt-get install -y -qq curl >/dev/null
in_root useradd -m -s /bin/sh desk

snapshot() { # the root's files, apart from what apt, dpkg and the user change
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./tmp -o -path ./home \
      -o -path ./var/lib/dpkg -o -path ./var/lib/apt -o -path ./var/cache -o -path ./var/log \
      -o -path ./run -o -path ./root \) -prune -o -print | LC_ALL=C sort)
}
snapshot >"$out/verify-before.txt"

step "apt-get install ${debs[*]##*/}"
mkdir -p "$root/tmp/debs"; cp "${debs[@]}" "$root/tmp/debs/"
in_root sh -c 'apt-get install -y ./tmp/debs/*.deb' >"$out/verify-install.log" 2>&1 ||
  { tail -30 "$out/verify-install.log"; exit 1; }
grep -E '^(Setting up|Unpacking) hwservice' "$out/verify-install.log"
in_root dpkg -s hwservice | grep -E '^(Version|Depends|Recommends):'
in_root dpkg -s hwservice-virtual-reader | grep -E '^(Version|Depends):'

step "installed files"
for f in /opt/hwservice/hwservice /opt/hwservice/lib/libtessera.so /opt/hwservice/lib/libportico.so \
         /opt/hwservice/lib/libhidlink.so /opt/hwservice/lib/libpayterm.so /opt/hwservice/lib/libfacet.so \
         /opt/hwservice/lib/libdcrf32.so "/opt/hwservice/测试网页及脚本/GPY/index.html" \
         /opt/hwservice/web/index.html /opt/hwservice/web/sdk/hwservice.js \
         /opt/hwservice/web/sdk/hwservice.global.js /usr/bin/hwservice /etc/hwservice/config.ini \
         /lib/udev/rules.d/70-hwservice-reader.rules /etc/xdg/autostart/hwservice.desktop \
         /usr/share/applications/hwservice.desktop /usr/share/icons/hicolor/48x48/apps/hwservice.png \
         /usr/bin/hwservice-virtual /usr/bin/vreader /usr/bin/vreaderctl \
         /opt/hwservice/virtual-reader/lib/libvreader_hidapi.so \
         /opt/hwservice/virtual-reader/share/vreader/profiles/demo.json; do
  check "$f" chroot "$root" test -e "$f"
done
missing=$(in_root sh -c 'ldd /opt/hwservice/hwservice /opt/hwservice/lib/*.so /opt/hwservice/virtual-reader/bin/* | grep "not found"' || true)
check "every library resolves (ldd)" test -z "$missing"
check "libportico takes libdcrf32 from /opt/hwservice/lib" \
  sh -c "chroot '$root' ldd /opt/hwservice/lib/libportico.so | grep -q '/opt/hwservice/lib/libdcrf32.so'"
check "nothing is writable by others under /opt/hwservice" \
  test -z "$(find "$root/opt/hwservice" -perm /022 ! -type l)"

step "the service on the virtual reader, as user desk (offscreen)"
cat >"$root/tmp/session.sh" <<'SESSION'
#!/bin/sh
# One user session in a private network namespace: start, read, stop.
# HIDLINK_LOG_LEVEL=4: the driver logs every exchange with hex dumps.
runuser -u desk -- sh -c 'cd ~ && HIDLINK_LOG_LEVEL=4 exec hwservice-virtual' >/tmp/service.log 2>&1 &
i=0
until curl -s -o /dev/null http://127.0.0.1:7776/api/hello; do
  i=$((i + 1)); [ $i -lt 100 ] || { echo "service did not answer"; cat /tmp/service.log; exit 1; }
  sleep 0.1
done
post() { curl -s http://127.0.0.1:7776/http/hardware -d "$1"; }
post '{"FunID":"DKQ0001","TranData":{"Region":"440100"}}' >/tmp/r1
post '{"FunID":"DKQ0002","TranData":{"Region":"440100"}}' >/tmp/r2
post '{"FunID":"DKQ0005","TranData":{"Region":"440100"}}' >/tmp/r5
# The PSAM moves to slot 2 (node address 23): the service finds it there and
# writes the slot into the user's config.ini, beside the running program.
runuser -u desk -- vreaderctl remove psam1 >/dev/null
runuser -u desk -- vreaderctl insert psam2 psam >/dev/null
post '{"FunID":"DKQ0002","TranData":{"Region":"440100"}}' >/tmp/r2b
runuser -u desk -- vreaderctl present text=VERIFY-QR-0001 >/dev/null
post '{"FunID":"DKQ0011","TranData":{"Region":"440100","Timeout":"5"}}' >/tmp/r11
runuser -u desk -- sh -c 'cd ~ && exec hwservice' >/tmp/second.log 2>&1; echo "$?" >/tmp/second.rc
curl -s http://127.0.0.1:7776/ >/tmp/index.html
# The service is the process running the user's copy of the program.
pid=
for p in /proc/[0-9]*; do
  [ "$(readlink "$p/exe" 2>/dev/null)" = /home/desk/.local/share/hwservice/hwservice ] && pid=${p#/proc/}
done
[ -n "$pid" ] || { echo "no service process"; exit 1; }
kill -TERM "$pid"
i=0
while kill -0 "$pid" 2>/dev/null; do
  i=$((i + 1)); [ $i -lt 50 ] || { echo "service did not stop"; exit 1; }
  sleep 0.1
done
runuser -u desk -- vreaderctl quit >/dev/null
SESSION
chmod 0755 "$root/tmp/session.sh"
# A network and IPC namespace of its own: loopback only, and the service's
# single-instance flag and the driver log's semaphore apart from this machine's.
if unshare --net --ipc sh -c "ip link set lo up && exec chroot '$root' /usr/bin/env -i \
     PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 /tmp/session.sh"; then
  pass "service started, answered and stopped"
else
  fail "service session"
fi
for f in r1 r2 r5 r2b r11; do printf '%s: %s' "$f" "$(cat "$root/tmp/$f")"; done
check "DKQ0001 reads card number A10000001" grep -q '"ResultCode":0,"ResultData":{"CardNo":"A10000001","CardType":"2"}' "$root/tmp/r1"
check "DKQ0002 reads the holder 张三 after PSAM authentication" grep -q '"Name":"张三"' "$root/tmp/r2"
check "DKQ0005 reads the ID card of 李四" grep -q '"CardNo":"440305199202284568"' "$root/tmp/r5"
check "DKQ0011 reads the QR code shown" grep -q '"ECardInfo":"VERIFY-QR-0001"' "$root/tmp/r11"
check "second start says the service already runs, exit 0" \
  sh -c "grep -q 'Qmx硬件服务主程序已启动!' '$root/tmp/second.log' && [ \"\$(cat '$root/tmp/second.rc')\" = 0 ]"
check "/ serves the installed web page" grep -q '<title>Qmx硬件服务</title>' "$root/tmp/index.html"
home=$root/home/desk/.local/share/hwservice
check "per-user program folder holds a copy of the program" cmp -s "$home/hwservice" "$root/opt/hwservice/hwservice"
check "per-user config.ini starts from /etc/hwservice/config.ini" grep -q '^\[Set\]' "$home/config.ini"
check "DKQ0002 finds the PSAM moved to slot 2" grep -q '"Name":"张三"' "$root/tmp/r2b"
check "the service wrote the PSAM slot it found into the user's config.ini" grep -qx 'PSAM= *23' "$home/config.ini"
desk_uid=$(chroot "$root" id -u desk)
check "config.ini belongs to the user" test "$(stat -c %u "$home/config.ini")" = "$desk_uid"
check "the per-user folder (config.ini, QMXLog) is the user's" test "$(stat -c %u "$home")" = "$desk_uid"
check "service log names the per-user config.ini" grep -q "路径为:/home/desk/.local/share/hwservice/config.ini" "$root/tmp/service.log"
check "/tmp/hidlink.log holds the exchanges at HIDLINK_LOG_LEVEL=4" grep -q "D/HEX transmit: 0000-000F: " "$root/tmp/hidlink.log"
ls -l "$home" | sed 's/^/    /'

step "apt-get remove"
in_root apt-get remove -y -qq hwservice-virtual-reader hwservice >/dev/null
check "/opt/hwservice is gone" test ! -e "$root/opt/hwservice"
check "/usr/bin/hwservice is gone" test ! -e "$root/usr/bin/hwservice"
check "udev rule is gone" test ! -e "$root/lib/udev/rules.d/70-hwservice-reader.rules"
check "config.ini template stays until purge (conffile)" test -f "$root/etc/hwservice/config.ini"
check "per-user folder is the user's and stays" test -f "$home/config.ini"

step "apt-get purge and autoremove"
# Removed packages from local files are known to dpkg only.
in_root dpkg --purge hwservice-virtual-reader hwservice >/dev/null 2>&1
in_root apt-get autoremove --purge -y -qq >/dev/null
check "/etc/hwservice is gone" test ! -e "$root/etc/hwservice"
check "dpkg knows no hwservice package" sh -c "! chroot '$root' dpkg -l 'hwservice*' 2>/dev/null | grep -q '^[a-z][a-z] '"
snapshot >"$out/verify-after.txt"
# Every path the packages brought (that was not there before) is gone.
for deb in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar -t --quoting-style=literal; done | sed 's|/$||' | LC_ALL=C sort -u |
  LC_ALL=C comm -23 - "$out/verify-before.txt" >"$out/verify-ours.txt"
# A folder that another installed package also brought (/etc/xdg, say) stays
# rightly.
left=$(while read -r f; do
  if { [ -e "$root/$f" ] || [ -L "$root/$f" ]; } && ! chroot "$root" dpkg -S "${f#.}" >/dev/null 2>&1; then
    echo "$f"
  fi
done <"$out/verify-ours.txt")
check "nothing of the packages is left ($(wc -l <"$out/verify-ours.txt") paths)" test -z "$left"
[ -z "$left" ] || printf '    %s\n' $left
gone=$(LC_ALL=C comm -23 "$out/verify-before.txt" "$out/verify-after.txt")
check "nothing that was there before is gone" test -z "$gone"
[ -z "$gone" ] || printf '    %s\n' $gone
# What the dependencies' own purge leaves (outside the packages' control).
other=$(LC_ALL=C comm -13 "$out/verify-before.txt" "$out/verify-after.txt")
[ -z "$other" ] || { echo "note: left by the dependencies pulled in and purged again:"; printf '    %s\n' $other; }

printf '\n%d failed\n' "$failures"
[ $failures -eq 0 ]
