#!/usr/bin/env bash
# Generates big bins and prints how loading, listing and record numbering
# scale with their size: the native build's store_bench in-process, and, when
# the Windows build and Wine are there, the whole "dustpail.exe <bin> /view"
# under Wine. Figures for docs/benchmarks.md.
#   BENCH_SIZES    item counts (default "10000 30000 100000")
#   BENCH_LAYOUTS  layouts (default "info info2 items1 items2")
#   BENCH_WORK     scratch folder (default /tmp/dustpail-bench), reused when
#                  a bin of that size is already there
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
native=${BENCH_NATIVE:-$repo/build/native}
windows=${BENCH_WINDOWS:-$repo/build/windows}
work=${BENCH_WORK:-/tmp/dustpail-bench}
sizes=${BENCH_SIZES:-10000 30000 100000}
layouts=${BENCH_LAYOUTS:-info info2 items1 items2}

# A POSIX folder as the program names it: through drive Z:, which Wine maps
# to / and the native build reads the same way.
as_drive_path() { printf 'Z:%s' "${1//\//\\}"; }

folders=()
for layout in $layouts; do
  for n in $sizes; do
    folder="$work/$layout-$n"
    if [ ! -f "$folder/.complete" ]; then
      rm -rf "$folder"
      mkdir -p "$folder"
      "$native/bench/make_big_bin" "$folder" "$layout" "$n"
      touch "$folder/.complete"
    fi
    folders+=("$(as_drive_path "$folder")")
  done
done

echo "== native build, in-process"
"$native/bench/store_bench" "${folders[@]}" 2>&1 >/dev/null

# The whole run of the program, table against JSON Lines: the data listing
# may cost at most 1.5 times the table.
best_of_three() {
  local best=
  for _ in 1 2 3; do
    local start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    local took=$(echo "$(date +%s.%N) - $start" | bc)
    if [ -z "$best" ] || [ "$(echo "$took < $best" | bc)" = 1 ]; then best=$took; fi
  done
  echo "$best"
}
echo "== native dustpail <bin> /view against /json (whole process, best of 3)"
printf '%-32s %10s %10s %10s\n' bin view json json/view
for folder in "${folders[@]}"; do
  view=$(best_of_three "$native/dustpail" /nologo "$folder" /view)
  json=$(best_of_three "$native/dustpail" /nologo "$folder" /json)
  printf '%-32s %10.2f %10.2f %10.2f\n' "${folder##*\\}" "$view" "$json" "$(echo "$json / $view" | bc -l)"
done

if [ -f "$windows/dustpail.exe" ] && command -v wine >/dev/null; then
  export WINEDEBUG=-all
  echo "== dustpail.exe <bin> /view and /json under Wine (whole process, best of 3)"
  printf '%-32s %10s %10s %10s\n' bin view json json/view
  for folder in "${folders[@]}"; do
    view=$(best_of_three wine "$windows/dustpail.exe" /nologo "$folder" /view)
    json=$(best_of_three wine "$windows/dustpail.exe" /nologo "$folder" /json)
    printf '%-32s %10.2f %10.2f %10.2f\n' "${folder##*\\}" "$view" "$json" "$(echo "$json / $view" | bc -l)"
  done
fi
