#!/usr/bin/env bash
# Builds the Debian packages into build-pkg/:
#   build-pkg/hwservice_<version>_amd64.deb
#   build-pkg/hwservice-virtual-reader_<version>_amd64.deb
# Release build without tests, stripped; dependencies from dpkg-shlibdeps.
# Usage: scripts/package.sh   (prints the paths of the two packages)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$top/build-pkg
"$top/scripts/install-deps.sh"
opts=(-DCMAKE_BUILD_TYPE=Release -DHW_BUILD_TESTS=OFF)
# A site names itself as the maintainer: HW_PACKAGE_MAINTAINER="Name <mail>".
[ -z "${HW_PACKAGE_MAINTAINER:-}" ] || opts+=("-DHW_PACKAGE_MAINTAINER=$HW_PACKAGE_MAINTAINER")
cmake -S "$top" -B "$dir" "${opts[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/*.deb
