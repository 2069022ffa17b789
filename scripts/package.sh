#!/usr/bin/env bash
# Builds the Debian packages into build-pkg/ (build-pkg-arm64/ for arm64):
#   hwservice_<version>_<arch>.deb
#   hwservice-virtual-reader_<version>_<arch>.deb
# Release build without tests, stripped; dependencies from dpkg-shlibdeps.
# arm64 is cross-built with Debian's cross compiler against the sysroot of
# scripts/sysroot-arm64.sh; its dependencies are computed for arm64 from the
# arm64 packages' symbols files.
# Usage: scripts/package.sh [--arch amd64|arm64]   (prints the two packages' paths)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
arch=amd64
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=${2:?--arch needs amd64 or arm64}; shift 2 ;;
    --arch=*) arch=${1#--arch=}; shift ;;
    *) echo "usage: $0 [--arch amd64|arm64]" >&2; exit 2 ;;
  esac
done
dir=$top/build-pkg
"$top/scripts/install-deps.sh"
opts=(-DCMAKE_BUILD_TYPE=Release -DHW_BUILD_TESTS=OFF)
cpack_env=()
case "$arch" in
  amd64) ;;
  arm64)
    base=$("$top/scripts/sysroot-arm64.sh" | tail -n 1)
    dir=$top/build-pkg-arm64
    opts+=("-DCMAKE_TOOLCHAIN_FILE=$top/cmake/toolchain-arm64.cmake")
    # CPack runs dpkg-shlibdeps itself: this one looks up the sysroot's
    # libraries in the sysroot's own dpkg database.
    mkdir -p "$dir/shlibdeps"
    cat > "$dir/shlibdeps/dpkg-shlibdeps" <<WRAP
#!/bin/sh
exec /usr/bin/dpkg-shlibdeps --admindir="$base/dpkg" -l"$base/root/usr/lib/aarch64-linux-gnu" \\
  -l"$base/root/lib/aarch64-linux-gnu" "\$@"
WRAP
    chmod +x "$dir/shlibdeps/dpkg-shlibdeps"
    cpack_env=(env "PATH=$dir/shlibdeps:$PATH" DEB_HOST_ARCH=arm64)
    ;;
  *) echo "package.sh: unknown architecture $arch (amd64 or arm64)" >&2; exit 2 ;;
esac
# A site names itself as the maintainer: HW_PACKAGE_MAINTAINER="Name <mail>".
[ -z "${HW_PACKAGE_MAINTAINER:-}" ] || opts+=("-DHW_PACKAGE_MAINTAINER=$HW_PACKAGE_MAINTAINER")
cmake -S "$top" -B "$dir" "${opts[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/*.deb
(cd "$dir" && "${cpack_env[@]}" cpack -G DEB >/dev/null)
ls "$dir"/*.deb
