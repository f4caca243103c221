#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each
# for a bounded time from its seed corpus. A crash, leak or sanitizer report
# fails the run; the input that caused it is left in the build folder.
#   FUZZ_SECONDS  time per target (default 30)
#   FUZZ_BUILD    build folder (default build/fuzz)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
seconds=${FUZZ_SECONDS:-30}
build=${FUZZ_BUILD:-$repo/build/fuzz}

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

passed=0
failed=0
for target in index item marker; do
  corpus="$build/corpus-$target"
  artifacts="$build/artifacts-$target/"
  mkdir -p "$corpus" "$artifacts"
  echo "fuzz_$target: ${seconds}s"
  if "$build/fuzz_$target" -max_total_time="$seconds" -max_len=70000 -timeout=10 -rss_limit_mb=1024 \
       -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus" "$here/seeds/$target" \
       >"$build/fuzz_$target.log" 2>&1; then
    passed=$((passed + 1))
    grep -E '^stat::number_of_executed_units|^Done' "$build/fuzz_$target.log" || true
  else
    failed=$((failed + 1))
    echo "fuzz_$target FAILED; log: $build/fuzz_$target.log"
    tail -n 40 "$build/fuzz_$target.log"
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
