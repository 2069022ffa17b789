#!/usr/bin/env bash
# The main job: installs what is missing and builds everything.
# (Starts the service on the virtual reader once the service exists.)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
dir=$("$top/scripts/build.sh" | tail -n 1)
echo "Built everything into $dir (libraries in $dir/lib, programs in $dir/bin)."
echo "The service program does not exist yet; nothing to start."
