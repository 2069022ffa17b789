#!/usr/bin/env bash
# The package's launchers: hwservice (per-user program folder) and
# hwservice-virtual (virtual reader, then the service on it). The system
# folder is a stand-in whose "hwservice" records how it was started; the
# virtual reader is the build's.
set -u
src=${HW_SOURCE_DIR:?set by CTest}
bin=${HW_BINARY_DIR:?set by CTest}
launcher=$src/packaging/hwservice-launcher.sh
virtual=$src/packaging/hwservice-virtual.sh
T=$(mktemp -d)
trap 'VREADER_SOCKET=$T/vr.sock "$bin/bin/vreaderctl" quit >/dev/null 2>&1; rm -rf "$T"' EXIT

passed=0 failed=0
expect() { # expect DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $what"; fi
}
line() { sed -n "${2}p" "$1"; }

# The stand-in program: its path, working folder, arguments and LD_PRELOAD.
sys=$T/sys
mkdir -p "$sys/lib" "$sys/web" "$sys/测试网页及脚本/GPY"
write_program() {
  cat >"$sys/hwservice" <<PROG
#!/bin/sh
# $1
printf '%s\n' "\$0" "\$(pwd)" "\${LD_PRELOAD:-}" "\$@" >"\$PROBE_OUT"
PROG
  chmod 0755 "$sys/hwservice"
}
write_program "version 1"
printf '[Set]\nPSAM=22\n' >"$T/config.ini"
export HWSERVICE_SYSTEM_DIR=$sys HWSERVICE_CONFIG_TEMPLATE=$T/config.ini PROBE_OUT=$T/probe
user=$T/home/.local/share/hwservice
run() { HOME=$T/home "$launcher" "$@" 2>"$T/stderr"; }

# First start: the folder is made, the program copied and started there.
unset XDG_DATA_HOME HWSERVICE_USER_DIR HIDLINK_LOG_LEVEL LD_PRELOAD
run -platform offscreen
expect "first start exits 0" test $? -eq 0
expect "the copy runs" test "$(line "$T/probe" 1)" = "$user/hwservice"
expect "in the per-user folder" test "$(line "$T/probe" 2)" = "$user"
expect "arguments are passed on" test "$(line "$T/probe" 4) $(line "$T/probe" 5)" = "-platform offscreen"
expect "the copy equals the installed program" cmp -s "$sys/hwservice" "$user/hwservice"
for name in lib web 测试网页及脚本; do
  expect "$name links to the installed folder" test "$(readlink "$user/$name")" = "$sys/$name"
done
expect "config.ini starts as the template" cmp -s "$T/config.ini" "$user/config.ini"
expect "nothing left behind from the copy" test -z "$(find "$user" -name '*.[0-9]*' -o -name '.hwservice.*')"

# Later starts keep the user's settings and take a new program.
printf '[Set]\nPSAM= 24\n' >"$user/config.ini"
write_program "version 2"
run
expect "second start exits 0" test $? -eq 0
expect "the user's config.ini stays" grep -qx 'PSAM= 24' "$user/config.ini"
expect "a new installed program is copied again" cmp -s "$sys/hwservice" "$user/hwservice"
expect "no arguments stay no arguments" test "$(wc -l <"$T/probe")" -eq 3

# A link that points elsewhere is put right; a folder link is replaced, not
# entered.
ln -sfn /nowhere "$user/web"
rm "$user/lib" && ln -s "$T" "$user/lib"
run
expect "web points back at the installed folder" test "$(readlink "$user/web")" = "$sys/web"
expect "lib points back at the installed folder" test "$(readlink "$user/lib")" = "$sys/lib"
expect "no link was made inside the old target" test -z "$(ls -d "$T"/lib.* 2>/dev/null)"

# XDG_DATA_HOME and HWSERVICE_USER_DIR choose the folder.
XDG_DATA_HOME=$T/xdg run
expect "XDG_DATA_HOME holds the folder" test "$(line "$T/probe" 1)" = "$T/xdg/hwservice/hwservice"
HWSERVICE_USER_DIR=$T/chosen run
expect "HWSERVICE_USER_DIR is the folder" test "$(line "$T/probe" 1)" = "$T/chosen/hwservice"

# Without a template no config.ini is made; the service runs all the same.
HWSERVICE_CONFIG_TEMPLATE=$T/none HWSERVICE_USER_DIR=$T/bare run
expect "runs without a template" test "$(line "$T/probe" 1)" = "$T/bare/hwservice"
expect "no config.ini without a template" test ! -e "$T/bare/config.ini"

# The driver's log level: the helper is preloaded after any earlier preload.
HIDLINK_LOG_LEVEL=4 run
expect "no helper installed: no preload" test -z "$(line "$T/probe" 3)"
: >"$sys/lib/libhidlink_level.so"
HIDLINK_LOG_LEVEL=4 run
expect "HIDLINK_LOG_LEVEL preloads the helper" test "$(line "$T/probe" 3)" = "$sys/lib/libhidlink_level.so"
LD_PRELOAD=$T/first.so HIDLINK_LOG_LEVEL=4 run
expect "an earlier preload stays first" test "$(line "$T/probe" 3)" = "$T/first.so:$sys/lib/libhidlink_level.so"
run
expect "no HIDLINK_LOG_LEVEL: no preload" test -z "$(line "$T/probe" 3)"
rm "$sys/lib/libhidlink_level.so"

# A folder that cannot be made: the installed program runs as it is.
HWSERVICE_USER_DIR=/proc/hwservice-cannot-exist run one
expect "falls back to the installed program" test "$(line "$T/probe" 1)" = "$sys/hwservice"
expect "in the installed folder" test "$(line "$T/probe" 2)" = "$sys"
expect "with its arguments" test "$(line "$T/probe" 4)" = one
expect "and says why" grep -q "cannot write to /proc/hwservice-cannot-exist" "$T/stderr"

# A folder on a noexec mount cannot run the copy: the installed program runs
# (needs a mount namespace of our own; as root it is there).
if unshare --mount true 2>/dev/null; then
  mkdir -p "$T/noexec"
  unshare --mount sh -c 'mount -t tmpfs -o noexec tmpfs "$1" && HWSERVICE_USER_DIR="$1/hw" exec "$2" two' \
    sh "$T/noexec" "$launcher" 2>"$T/stderr"
  expect "noexec: the installed program runs" test "$(line "$T/probe" 1)" = "$sys/hwservice"
  expect "noexec: with its arguments" test "$(line "$T/probe" 4)" = two
  expect "noexec: and says why" grep -q "does not allow running programs" "$T/stderr"
else
  echo "note: no mount namespace here, the noexec fallback is not exercised"
fi

# No installed program: a clear message, exit 1.
HWSERVICE_SYSTEM_DIR=$T/missing run
expect "missing program exits 1" test $? -eq 1
expect "missing program is named" grep -q "$T/missing/hwservice is missing" "$T/stderr"

# hwservice-virtual: arguments.
"$virtual" --bogus 2>"$T/stderr"
expect "unknown argument exits 2" test $? -eq 2
expect "unknown argument is named" grep -q "unknown argument --bogus" "$T/stderr"
"$virtual" --profile 2>"$T/stderr"
expect "--profile without a value exits 2" test $? -eq 2
"$virtual" --help >"$T/help"
expect "--help shows the usage" grep -q "hwservice-virtual \[--profile NAME|FILE\]" "$T/help"

# hwservice-virtual: starts the build's virtual reader, then the launcher
# with the shim preloaded.
vr=$T/vr
mkdir -p "$vr/bin" "$vr/lib"
ln -s "$bin/bin/vreader" "$vr/bin/vreader"
ln -s "$bin/bin/vreaderctl" "$vr/bin/vreaderctl"
# The stand-in launcher is a shell: the shim only has to be named, not
# loaded (a sanitizer build's shim would insist on its runtime coming first).
: >"$vr/lib/libvreader_hidapi.so"
cat >"$T/fake-launcher" <<'PROG'
#!/bin/sh
printf '%s\n' "${LD_PRELOAD:-}" >"$PROBE_OUT"
PROG
chmod 0755 "$T/fake-launcher"
export HWSERVICE_VREADER_DIR=$vr HWSERVICE_LAUNCHER=$T/fake-launcher VREADER_SOCKET=$T/vr.sock
"$virtual" --profile nosuchprofile 2>"$T/stderr"
expect "an unknown profile exits 1" test $? -eq 1
expect "with the reader's reason" grep -q "cannot read profile" "$T/stderr"
LD_PRELOAD= "$virtual" --family dc 2>"$T/stderr"
expect "the virtual start exits 0" test $? -eq 0
expect "the shim is preloaded" test "$(cat "$T/probe")" = "$vr/lib/libvreader_hidapi.so"
expect "the virtual reader answers" test "$("$bin/bin/vreaderctl" ping)" = "OK pong"
expect "with the demo cards" sh -c "'$bin/bin/vreaderctl' state | grep -q '\"contact\"'"
expect "on the family asked for" test "$("$bin/bin/vreaderctl" enum)" = "OK none"
LD_PRELOAD=$T/first.so "$virtual" 2>"$T/stderr"
expect "a running virtual reader is used as it is" grep -q "already runs" "$T/stderr"
expect "an earlier preload follows the shim" test "$(cat "$T/probe")" = "$vr/lib/libvreader_hidapi.so:$T/first.so"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
