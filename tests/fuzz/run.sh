#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each
# for a bounded time from its seed corpus. A crash, leak or sanitizer report
# fails the run; the input that caused it is left in the build folder. Such
# an input, once fixed, goes into seeds/<target>/ so that every later run
# replays it first.
#   FUZZ_SECONDS  time per target (default 30)
#   FUZZ_BUILD    build folder (default build/fuzz)
#   FUZZ_JOBS     targets fuzzed at once (default 1)
#   FUZZ_TARGETS  the targets to run (default all)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
seconds=${FUZZ_SECONDS:-30}
build=${FUZZ_BUILD:-$repo/build/fuzz}
jobs=${FUZZ_JOBS:-1}
targets=${FUZZ_TARGETS:-index item marker cmdline path}

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

fuzz() {
  local target=$1
  local corpus="$build/corpus-$target"
  local artifacts="$build/artifacts-$target/"
  mkdir -p "$corpus" "$artifacts"
  "$build/fuzz_$target" -max_total_time="$seconds" -max_len=70000 -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus" "$here/seeds/$target" \
    >"$build/fuzz_$target.log" 2>&1
}

passed=0
failed=0
set -- $targets
while [ $# -gt 0 ]; do
  batch=()
  pids=()
  while [ $# -gt 0 ] && [ ${#batch[@]} -lt "$jobs" ]; do
    echo "fuzz_$1: ${seconds}s"
    fuzz "$1" &
    batch+=("$1")
    pids+=($!)
    shift
  done
  for i in "${!batch[@]}"; do
    target=${batch[$i]}
    if wait "${pids[$i]}"; then
      passed=$((passed + 1))
      echo "fuzz_$target: $(grep -E '^stat::number_of_executed_units' "$build/fuzz_$target.log" |
        awk '{print $2}') inputs, corpus of $(ls "$build/corpus-$target" | wc -l)"
    else
      failed=$((failed + 1))
      echo "fuzz_$target FAILED; log: $build/fuzz_$target.log"
      tail -n 40 "$build/fuzz_$target.log"
    fi
  done
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
