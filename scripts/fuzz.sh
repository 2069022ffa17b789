#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into build-fuzz/,
# then runs each one: first its whole committed corpus, then fuzzing for the
# given seconds. New inputs found go to a scratch folder, not into the
# repository; a crashing input is kept in build-fuzz/artifacts/<target>/ and
# makes the script fail after all targets have run.
#
# Usage: scripts/fuzz.sh [seconds per target, default 5] [target...]
#   scripts/fuzz.sh            CI: every target briefly
#   scripts/fuzz.sh 600        a longer campaign (10 minutes per target)
#   scripts/fuzz.sh 300 transport_fuzz_ws
# Targets run one after the other (one core each). FUZZ_WORK=<dir> keeps the
# inputs found in <dir>/<target> between runs (default: a scratch folder).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}
[ $# -gt 0 ] && shift
case "$seconds" in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [seconds] [target...]" >&2; exit 2 ;;
esac

# Target and its committed corpus (relative to the top folder).
all=(
  "transport_fuzz_http   fuzz/transport/corpus/http"
  "transport_fuzz_ws     fuzz/transport/corpus/ws"
  "transport_fuzz_serve  fuzz/transport/corpus/serve"
  "service_fuzz_dispatch fuzz/service/corpus"
  "hidlink_fuzz_reports  fuzz/hidreader/corpus/reports"
  "hidlink_fuzz_idcard   fuzz/hidreader/corpus/idcard"
  "portico_fuzz_idcard   fuzz/hub/corpus"
  "facet_fuzz_unpack     fuzz/photodec/corpus"
  "payterm_fuzz_dc       fuzz/payterm/corpus/dc"
  "payterm_fuzz_ic       fuzz/payterm/corpus/ic"
  "payterm_fuzz_sdandc   fuzz/payterm/corpus/sdandc"
  "payterm_fuzz_t10n     fuzz/payterm/corpus/t10n"
  "payterm_fuzz_tlv      fuzz/payterm/corpus/tlv"
  "payterm_fuzz_profile  fuzz/payterm/corpus/profile"
  "qmxtool_fuzz_ini      fuzz/qmxtool/corpus"
  "policy_fuzz           fuzz/policy/corpus"
  "trace_fuzz_redact     fuzz/trace/corpus"
)

"$top/scripts/install-deps.sh"
dir=$top/build-fuzz
CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -DHW_BUILD_FUZZ=ON -DHW_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target fuzz_all

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
work=${FUZZ_WORK:-$scratch}
failed=()
for entry in "${all[@]}"; do
  read -r target corpus <<<"$entry"
  if [ $# -gt 0 ] && [[ " $* " != *" $target "* ]]; then continue; fi
  artifacts=$dir/artifacts/$target
  mkdir -p "$artifacts" "$work/$target"
  echo "== $target: corpus $corpus, then ${seconds}s"
  # The first folder receives new inputs; the committed corpus is only read.
  if ! "$dir/bin/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 \
        "$work/$target" "$top/$corpus" >"$scratch/$target.log" 2>&1; then
    failed+=("$target")
    tail -n 60 "$scratch/$target.log"
  else
    grep -E '^Done' "$scratch/$target.log" || true
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found failures in: ${failed[*]} (inputs in $dir/artifacts/)" >&2
  exit 1
fi
echo "all fuzz targets ran clean"
