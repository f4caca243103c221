#!/usr/bin/env bash
# The listing and throw goals of the native build, measured in one run:
#   - "/view" of a 100,000-item INFO2 bin against the floor, reading the
#     index once plus one status call per data item:
#       cat INFO2; find <bin> -maxdepth 1 -printf '%s %m %T@\n'
#     goal: at most 1.5 times the floor;
#   - its growth from 10,000 to 100,000 items: at most 11 times;
#   - throwing 1,000 files into a 10,000-item bin against an empty bin:
#     at most 1.5 times;
#   - the system calls of one listing, counted by strace -c (when there):
#     one status call and one attribute read per data item.
#   - beside the goal, /view against the floor with the attribute read that
#     Wine makes for every entry of a folder search (bench/attribute_floor:
#     the index, then one status call and one attribute read per entry);
# Each step runs BENCH_ROUNDS times, floor and listing taking turns; the
# best round counts. Times are processor time (user + system, of the whole
# process and its children), which other work on a shared machine disturbs
# far less than the elapsed time, printed beside it.
#   BENCH_ROUNDS  rounds (default 5)
#   BENCH_WORK    scratch folder (default /tmp/dustpail-bench), whose bins
#                 bench/run.sh also uses
#   BENCH_NATIVE  the native build (default build/native)
#   BENCH_THROW   0 leaves the throw out (for a build whose throw_bench
#                 is older than THROW_BENCH_ONLY_THROW)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
native=${BENCH_NATIVE:-$repo/build/native}
work=${BENCH_WORK:-/tmp/dustpail-bench}
rounds=${BENCH_ROUNDS:-5}
program=$native/dustpail
[ -x "$program" ] || { echo "view.sh: $program not built" >&2; exit 1; }

as_drive_path() { printf 'Z:%s' "${1//\//\\}"; }

# Drive Z: is /, and only Z:, whatever prefix the caller has.
prefix=$(mktemp -d /tmp/dustpail-view-bench-XXXXXX)
trap 'rm -rf "$prefix"' EXIT INT TERM
export WINEPREFIX=$prefix
mkdir -p "$WINEPREFIX/dosdevices"
ln -s / "$WINEPREFIX/dosdevices/z:"

bin_of() {
    local folder="$work/info2-$1"
    if [ ! -f "$folder/.complete" ]; then
        rm -rf "$folder"
        mkdir -p "$folder"
        "$native/bench/make_big_bin" "$folder" info2 "$1"
        touch "$folder/.complete"
    fi
    printf '%s' "$folder"
}

# Runs a command line once; prints "<cpu seconds> <elapsed seconds>".
measure() {
    local TIMEFORMAT='%U %S %R' times
    times=$( { time bash -c "$1" >/dev/null 2>&1; } 2>&1 )
    awk '{ printf "%.3f %.3f\n", $1 + $2, $3 }' <<<"$times"
}

# The best of `rounds` for each of two command lines run in turns:
# prints "<cpu a> <elapsed a> <cpu b> <elapsed b>".
best_of_pair() {
    local a b bestA="" bestB=""
    for _ in $(seq "$rounds"); do
        a=$(measure "$1")
        b=$(measure "$2")
        bestA=$(printf '%s\n%s\n' "$a" "$bestA" | awk 'NF' | sort -n | head -1)
        bestB=$(printf '%s\n%s\n' "$b" "$bestB" | awk 'NF' | sort -n | head -1)
    done
    printf '%s %s\n' "$bestA" "$bestB"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
verdict() { awk -v r="$1" -v limit="$2" 'BEGIN { print (r <= limit ? "met" : "NOT met") }'; }

declare -A view_cpu
printf '%-8s %10s %10s %10s %10s %7s\n' items "floor cpu" "floor s" "/view cpu" "/view s" ratio
for n in 10000 100000; do
    folder=$(bin_of "$n")
    floor="cat '$folder/INFO2'; find '$folder' -maxdepth 1 -printf '%s %m %T@\n'"
    view="'$program' /nologo '$(as_drive_path "$folder")' /view"
    read -r floorCpu floorWall viewCpu viewWall < <(best_of_pair "$floor" "$view")
    view_cpu[$n]=$viewCpu
    printf '%-8s %10s %10s %10s %10s %7s\n' "$n" "$floorCpu" "$floorWall" "$viewCpu" "$viewWall" \
        "$(ratio "$viewCpu" "$floorCpu")"
    last_ratio=$(ratio "$viewCpu" "$floorCpu")
done
growth=$(ratio "${view_cpu[100000]}" "${view_cpu[10000]}")

# The floor with one attribute read per entry, against /view once more.
folder=$(bin_of 100000)
attributeFloor="'$native/bench/attribute_floor' '$folder' INFO2"
view="'$program' /nologo '$(as_drive_path "$folder")' /view"
read -r attrCpu _ attrViewCpu _ < <(best_of_pair "$attributeFloor" "$view")
attrRatio=$(ratio "$attrViewCpu" "$attrCpu")
printf '\n100,000 items, floor with one attribute read per entry: %s cpu; /view %s cpu; ratio %s\n' \
    "$attrCpu" "$attrViewCpu" "$attrRatio"

# Throwing: throw_bench's processor time of the throw alone, best of the rounds.
throw_cpu() {
    local best="" run line
    for _ in $(seq "$rounds"); do
        run=$(mktemp -d "$prefix/throw-XXXXXX")
        mkdir -p "$run/bin" "$run/work"
        line=$(THROW_BENCH_ONLY_THROW=1 "$native/bench/throw_bench" "$(as_drive_path "$run/bin")" \
            "$(as_drive_path "$run/work")" info2 "$1" 1000 "$run/bin" 2>&1 >/dev/null | tail -1)
        rm -rf "$run"
        best=$(printf '%s\n%s\n' "$(awk '{ print $5 }' <<<"$line")" "$best" | awk 'NF' | sort -n | head -1)
    done
    printf '%s' "$best"
}
throwRatio=0
if [ "${BENCH_THROW:-1}" != 0 ]; then
    throwEmpty=$(throw_cpu 0)
    throwBig=$(throw_cpu 10000)
    throwRatio=$(ratio "$throwBig" "$throwEmpty")
    printf '\nthrow of 1,000 files (INFO2, processor ms): into an empty bin %s, into 10,000 items %s\n' \
        "$throwEmpty" "$throwBig"
fi

# strace -c leaves out calls it has no name for (getxattrat in strace 6.1),
# so the calls are counted from the trace itself.
if command -v strace >/dev/null; then
    folder=$(bin_of 10000)
    trace=$prefix/trace
    strace -f -o "$trace" "$program" /nologo "$(as_drive_path "$folder")" /view >/dev/null 2>&1
    count() { grep -cE "$1" "$trace" || true; }
    printf '
system calls of one /view of 10,000 items (strace):
'
    printf '  %-52s %7s
' "status calls relative to an open folder" "$(count '^[0-9 ]*newfstatat\([0-9]+, "[^"]')"
    printf '  %-52s %7s
' "status calls by path" "$(count '^[0-9 ]*(newfstatat\(AT_FDCWD|l?stat\(|statx\()')"
    printf '  %-52s %7s
' "attribute reads (getxattr, getxattrat)" "$(count '^[0-9 ]*(l?getxattr|getxattrat|syscall_0x1d0)\(')"
    printf '  %-52s %7s
' "folder reads (getdents64)" "$(count '^[0-9 ]*getdents64\(')"
fi

printf '\n%-44s %8s %8s  %s\n' goal measured limit verdict
printf '%-44s %8s %8s  %s\n' "/view of 100,000 items / floor" "$last_ratio" 1.5 "$(verdict "$last_ratio" 1.5)"
printf '%-44s %8s %8s  %s\n' "/view 100,000 / /view 10,000" "$growth" 11 "$(verdict "$growth" 11)"
printf '%-44s %8s %8s  %s\n' "(/view / floor with attribute reads)" "$attrRatio" - "(no goal)"
[ "${BENCH_THROW:-1}" = 0 ] ||
    printf '%-44s %8s %8s  %s\n' "throw into 10,000 items / into an empty bin" "$throwRatio" 1.5 \
        "$(verdict "$throwRatio" 1.5)"
