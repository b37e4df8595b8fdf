#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on a copy of the
# seed corpus. Fails on any crash, leak or sanitizer report.
#   tests/fuzz/run_fuzzers.sh [SECONDS-PER-TARGET] [TARGET ...]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(parse load run roundtrip text_table)
if ! command -v clang++ >/dev/null; then
  echo "clang++ is missing: install the Debian packages clang and libclang-rt-dev" >&2
  exit 1
fi
build="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMENUCONV_FUZZ=ON -DMENUCONV_TESTS=OFF -DMENUCONV_BENCH=OFF >/dev/null
cmake --build "$build" -j2 $(printf -- '--target fuzz_%s ' "${targets[@]}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  cp "$top"/tests/fuzz/corpus/* "$work/$target/"
  echo "== fuzz_$target for ${seconds}s"
  (cd "$work" && "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=65536 \
     -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 "$work/$target" 2>"$work/$target.log") || {
    tail -n 60 "$work/$target.log"
    echo "fuzz_$target FAILED" >&2
    exit 1
  }
  grep -E '^stat::number_of_executed_units|^Done' "$work/$target.log" || true
done
echo "all fuzz targets ran clean"
