#!/usr/bin/env bash
# Prepares the arm64 build: installs the cross compiler and qemu-user
# (scripts/debian-packages-arm64-host.txt), then unpacks the arm64
# development packages of scripts/debian-packages-arm64.txt with every arm64
# library they depend on into build-arm64-sysroot/root. Nothing arm64 is
# installed on the machine: the packages are only downloaded (apt-get
# download) and unpacked (dpkg-deb -x), so the machine's amd64 libraries are
# never upgraded or replaced. Beside the tree it writes a small dpkg database
# of the unpacked packages (build-arm64-sysroot/dpkg) for dpkg-shlibdeps.
# Unchanged package versions are not unpacked again.
# Usage: scripts/sysroot-arm64.sh   (prints the sysroot directory)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
base=$top/build-arm64-sysroot
root=$base/root
"$top/scripts/install-deps.sh" "$top/scripts/debian-packages-arm64-host.txt" >&2

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
apt=(apt-get -o DPkg::Lock::Timeout=600)
# (Outputs are captured first: grep -q leaving early would fail the pipe.)
foreign=$(dpkg --print-foreign-architectures)
if ! grep -qx arm64 <<<"$foreign"; then
  "${sudo[@]}" dpkg --add-architecture arm64
fi
policy=$(apt-cache policy libc6:arm64 2>/dev/null || true)
if ! grep -q 'Candidate: [0-9]' <<<"$policy"; then
  # The package lists' lock has no time-out option: wait for another apt.
  for _ in $(seq 60); do
    "${sudo[@]}" "${apt[@]}" update -qq >&2 && break
    sleep 10
  done
fi

pkgs=()
while read -r pkg; do
  pkg=${pkg%%#*}; pkg=${pkg//[[:space:]]/}
  [ -n "$pkg" ] && pkgs+=("$pkg:arm64")
done < "$top/scripts/debian-packages-arm64.txt"

# The closure as apt resolves it on an empty system (a private, empty status
# file); only the arm64 part is wanted, the tools stay native. Mesa's drivers
# (and the LLVM they pull in) are only ever loaded for a display: left out.
mkdir -p "$base/debs"
: > "$base/empty-status"
"${apt[@]}" -s install --no-install-recommends -o Dir::State::status="$base/empty-status" "${pkgs[@]}" \
  | sed -n 's/^Inst \([^ ]*:arm64\) (\([^ ]*\) .*/\1=\2/p' \
  | grep -Ev '^(libllvm[0-9]+|libgl1-mesa-dri|libz3-[0-9]+):' | sort > "$base/wanted.txt"
[ -s "$base/wanted.txt" ] || { echo "sysroot-arm64: apt resolved no arm64 packages" >&2; exit 1; }
if cmp -s "$base/wanted.txt" "$base/unpacked.txt" && [ -d "$root" ]; then
  echo "$base"
  exit 0
fi

rm -rf "$root" "$base/dpkg" "$base/unpacked.txt"
rm -f "$base"/debs/*.deb
# apt drops privileges to _apt for downloads when it can write there.
chmod 0777 "$base/debs"
(cd "$base/debs" && "${apt[@]}" download -qq $(cat "$base/wanted.txt") >&2)
mkdir -p "$root" "$base/dpkg/info" "$base/dpkg/updates"
: > "$base/dpkg/status"
for deb in "$base"/debs/*.deb; do
  # dpkg names a Multi-Arch: same package's files with its architecture.
  name=$(dpkg-deb -f "$deb" Package)
  [ "$(dpkg-deb -f "$deb" Multi-Arch)" != same ] || name=$name:arm64
  dpkg-deb -x "$deb" "$root"
  ctl=$(mktemp -d)
  dpkg-deb -e "$deb" "$ctl"
  # dpkg-shlibdeps asks dpkg which package owns a library, then reads that
  # package's symbols or shlibs file: the list holds the unpacked paths.
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' -e '/^$/d' \
    | sed "s|^|$root|" > "$base/dpkg/info/$name.list"
  for f in symbols shlibs; do
    [ -f "$ctl/$f" ] && cp "$ctl/$f" "$base/dpkg/info/$name.$f"
  done
  { cat "$ctl/control"; echo "Status: install ok installed"; echo; } >> "$base/dpkg/status"
  rm -rf "$ctl"
done
echo arm64 > "$base/dpkg/arch"
echo 1 > "$base/dpkg/info/format"
# Absolute links (libfoo.so -> /lib/...) point into the sysroot instead.
find "$root" -type l -lname '/*' | while read -r link; do
  ln -sfn "$root$(readlink "$link")" "$link"
done
# Qt's CMake files name moc, rcc and uic under the Qt prefix: the native ones.
mkdir -p "$root/usr/lib/qt5"
[ -e "$root/usr/lib/qt5/bin" ] || ln -s /usr/lib/qt5/bin "$root/usr/lib/qt5/bin"
cp "$base/wanted.txt" "$base/unpacked.txt"
echo "$base"
