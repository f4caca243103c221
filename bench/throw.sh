#!/bin/sh
# Times /f of FILES files into an empty bin and into a bin of BIG items, in
# an INFO2 bin and a $I/$R bin, with the native build's throw_bench.
#
# Usage: bench/throw.sh [build-dir] [files] [big]
# (defaults: build/native 1000 10000). The bins and files are made under a
# scratch folder in /tmp, reached as drive Z: (the native build without a
# Wine prefix maps Z: to /).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
files=${2:-1000}
big=${3:-10000}
bench=$build/bench/throw_bench
[ -x "$bench" ] || { echo "throw.sh: $bench not built" >&2; exit 1; }

scratch=$(mktemp -d /tmp/dustpail-throw-bench-XXXXXX)
trap 'rm -rf "$scratch"' EXIT INT TERM
# Drive Z: is /, and only Z:, whatever prefix the caller has.
export WINEPREFIX="$scratch/prefix"
mkdir -p "$WINEPREFIX/dosdevices"
ln -s / "$WINEPREFIX/dosdevices/z:"

windows() { printf 'Z:%s' "$1" | tr / '\\'; }

printf '%-6s %9s %7s %11s %11s %11s %9s %11s %14s\n' layout "bin items" files "throw ms" "throw cpu" \
    "file ops ms" searches "names read" "old numbers ms" >&2
for layout in info2 items1; do
    for items in 0 "$big"; do
        run=$scratch/$layout-$items
        mkdir -p "$run/bin" "$run/work"
        "$bench" "$(windows "$run/bin")" "$(windows "$run/work")" "$layout" "$items" "$files" "$run/bin" >/dev/null
        rm -rf "$run"
    done
done
