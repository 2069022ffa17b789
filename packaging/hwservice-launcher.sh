#!/bin/sh
# hwservice: starts the card-reader service for the user who runs it.
#
# The service keeps "config.ini" and its log folder "QMXLog" in the folder of
# the running executable, as the kernel names it (/proc/self/exe, symbolic
# links resolved). The installed folder is not writable by desktop users, so
# every user gets a program folder of their own:
#
#   $XDG_DATA_HOME/hwservice (default ~/.local/share/hwservice)
#     hwservice        a copy of the installed program, refreshed when the
#                      package brings a new one
#     lib, web, 测试网页及脚本   links into the installed folder
#     config.ini       first copied from /etc/hwservice/config.ini, then the
#                      user's own (the service writes the PSAM slot it finds)
#     QMXLog/          the card library's dated logs
#
# Where that folder cannot hold programs (a home mounted noexec), the
# installed program runs as it is: cards are read all the same, but the
# PSAM slot is not remembered and nothing is logged to QMXLog.
#
# Environment: HWSERVICE_USER_DIR overrides the per-user folder;
# HWSERVICE_SYSTEM_DIR the installed folder (default /opt/hwservice);
# HIDLINK_LOG_LEVEL raises the driver's log level (below).
set -eu

sys_dir=${HWSERVICE_SYSTEM_DIR:-/opt/hwservice}
conf_template=${HWSERVICE_CONFIG_TEMPLATE:-/etc/hwservice/config.ini}
if [ -n "${HWSERVICE_USER_DIR:-}" ]; then
  user_dir=$HWSERVICE_USER_DIR
else
  data_home=${XDG_DATA_HOME:-}
  [ -n "$data_home" ] || data_home=${HOME:?HOME is not set}/.local/share
  user_dir=$data_home/hwservice
fi

if [ ! -x "$sys_dir/hwservice" ]; then
  echo "hwservice: $sys_dir/hwservice is missing; reinstall the hwservice package" >&2
  exit 1
fi

# HIDLINK_LOG_LEVEL=0..5 sets the level of the USB-HID driver's log
# (/tmp/hidlink.log; 4 adds every exchange with hex dumps): the service never
# raises it itself, a small library preloaded here does. Appended, so a
# preload that must come first (a sanitizer runtime) stays first.
if [ -n "${HIDLINK_LOG_LEVEL:-}" ] && [ -f "$sys_dir/lib/libhidlink_level.so" ]; then
  LD_PRELOAD=${LD_PRELOAD:+$LD_PRELOAD:}$sys_dir/lib/libhidlink_level.so
  export LD_PRELOAD
fi

# run_installed REASON ARGS...
run_installed() {
  echo "hwservice: $1; running $sys_dir/hwservice (config.ini and QMXLog are not writable there)" >&2
  shift
  cd "$sys_dir"
  exec "$sys_dir/hwservice" "$@"
}

if ! mkdir -p "$user_dir" 2>/dev/null || [ ! -w "$user_dir" ]; then
  run_installed "cannot write to $user_dir" "$@"
fi

# Replace the copy in one step (rename), so a second launcher running at the
# same moment, or an instance still running the old copy, never sees half a
# file.
if ! cmp -s "$sys_dir/hwservice" "$user_dir/hwservice"; then
  tmp=$user_dir/.hwservice.$$
  if ! cp "$sys_dir/hwservice" "$tmp" || ! chmod 0755 "$tmp" || ! mv -f "$tmp" "$user_dir/hwservice"; then
    rm -f "$tmp"
    run_installed "cannot copy the program into $user_dir" "$@"
  fi
fi

for name in lib web 测试网页及脚本; do
  if [ "$(readlink "$user_dir/$name" 2>/dev/null || true)" != "$sys_dir/$name" ]; then
    rm -rf "$user_dir/$name.$$"
    ln -s "$sys_dir/$name" "$user_dir/$name.$$"
    # -T: replace a link to a folder instead of creating one inside it.
    mv -fT "$user_dir/$name.$$" "$user_dir/$name"
  fi
done

# The user's settings are never overwritten; only a missing file is created.
if [ ! -e "$user_dir/config.ini" ] && [ -r "$conf_template" ]; then
  cp "$conf_template" "$user_dir/config.ini.$$" && mv -n "$user_dir/config.ini.$$" "$user_dir/config.ini"
  rm -f "$user_dir/config.ini.$$"
fi

# access(2) refuses execution on a noexec mount, so this catches that case.
[ -x "$user_dir/hwservice" ] || run_installed "$user_dir does not allow running programs" "$@"

cd "$user_dir"
exec "$user_dir/hwservice" "$@"
