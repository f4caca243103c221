#!/bin/sh
# Builds the installable packages of both builds and runs what they hold:
#   - the .deb of the native build, unpacked into a scratch root (dpkg -x);
#   - the ZIP of the Windows build, unzipped and run under Wine;
# and checks `cmake --install` of both builds into scratch prefixes.
#
# Usage: tests/package-check.sh [native-build-dir] [windows-build-dir]
# (default build/native and build/windows; both must be configured.) Uses
# $WINEPREFIX when set, else a scratch prefix of its own.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
native=${1:-$root/build/native}
windows=${2:-$root/build/windows}
scratch=$(mktemp -d /tmp/dustpail-package-XXXXXX)
own_prefix=
cleanup() {
    # A prefix of our own: its wine server goes before its folder.
    if [ -n "$own_prefix" ]; then WINEPREFIX="$own_prefix" wineserver -k 2>/dev/null || true; fi
    rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

fail() {
    echo "package-check: FAIL: $*" >&2
    exit 1
}

for dir in "$native" "$windows"; do
    [ -f "$dir/CPackConfig.cmake" ] || fail "$dir is not a configured build folder"
    cmake --build "$dir" --target dustpail >/dev/null || fail "build of $dir"
done

# Runs a program that should show the usage: exit code 1 and the usage text.
expect_usage() {
    label=$1
    shift
    set +e
    "$@" /help >"$scratch/out.txt" 2>"$scratch/err.txt"
    code=$?
    set -e
    [ "$code" -eq 1 ] || fail "$label: /help exited with $code, not 1"
    grep -q "dustpail \[/nologo\]" "$scratch/out.txt" || fail "$label: no usage text"
    echo "package-check: $label runs"
}

# --- cmake --install -----------------------------------------------------
cmake --install "$native" --prefix "$scratch/native-prefix" >/dev/null
[ -x "$scratch/native-prefix/bin/dustpail" ] || fail "native install: no bin/dustpail"
[ -f "$scratch/native-prefix/share/doc/dustpail/README.md" ] || fail "native install: no README"
[ -f "$scratch/native-prefix/share/man/man1/dustpail.1.gz" ] || fail "native install: no manual page"
[ -f "$scratch/native-prefix/share/bash-completion/completions/dustpail" ] || fail "native install: no completion"
bash -c ". '$scratch/native-prefix/share/bash-completion/completions/dustpail'; COMP_WORDS=(dustpail /vi); COMP_CWORD=1; _dustpail; [ \"\${COMPREPLY[*]}\" = /view ]" ||
    fail "native install: the completion does not complete /vi"
cmake --install "$windows" --prefix "$scratch/windows-prefix" >/dev/null
[ -f "$scratch/windows-prefix/bin/dustpail.exe" ] || fail "windows install: no bin/dustpail.exe"
[ -f "$scratch/windows-prefix/README.md" ] || fail "windows install: no README.md"
[ -f "$scratch/windows-prefix/LICENSE" ] || fail "windows install: no LICENSE"
[ ! -e "$scratch/windows-prefix/bin/dustpail-ansi.exe" ] || fail "windows install: test build installed"
echo "package-check: cmake --install of both builds"

# --- .deb ----------------------------------------------------------------
cpack --config "$native/CPackConfig.cmake" -B "$scratch/deb" >/dev/null || fail "cpack (native)"
deb=$(ls "$scratch"/deb/dustpail_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no .deb made"
dpkg-deb -f "$deb" Package | grep -qx dustpail || fail ".deb: package name"
dpkg-deb -f "$deb" Version | grep -q . || fail ".deb: no version"
dpkg-deb -x "$deb" "$scratch/deb-root"
[ -f "$scratch/deb-root/usr/share/doc/dustpail/README.md" ] || fail ".deb: no README"
[ -f "$scratch/deb-root/usr/share/doc/dustpail/copyright" ] || fail ".deb: no copyright file"
expect_usage ".deb ($(basename "$deb"))" "$scratch/deb-root/usr/bin/dustpail"
# Debian's own checks: no error (warnings are shown).
if command -v lintian >/dev/null; then
    lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1 | grep -v "root privileges" || true
    lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors on the .deb"
    echo "package-check: lintian finds no error in the .deb"
else
    fail "lintian is not installed (tests/install-deps.sh installs it)"
fi

# --- ZIP -----------------------------------------------------------------
cpack --config "$windows/CPackConfig.cmake" -B "$scratch/zip" >/dev/null || fail "cpack (windows)"
zip=$(ls "$scratch"/zip/dustpail-*-win64.zip 2>/dev/null | head -n 1)
[ -n "$zip" ] || fail "no ZIP made"
unzip -q "$zip" -d "$scratch/zip-root"
exe=$(find "$scratch/zip-root" -name dustpail.exe | head -n 1)
[ -n "$exe" ] || fail "ZIP: no dustpail.exe"
[ -f "$(dirname "$(dirname "$exe")")/README.md" ] || fail "ZIP: no README.md beside bin"
[ -f "$(dirname "$(dirname "$exe")")/LICENSE" ] || fail "ZIP: no LICENSE beside bin"
if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX="$scratch/wine"
    own_prefix=$WINEPREFIX
    mkdir -p "$WINEPREFIX"
fi
export WINEPREFIX
export WINEDEBUG=-all
# No Mono or Gecko is needed, nor asked for, by a console program.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A new prefix is set up before the program runs: its first start may
# otherwise end before the program has printed anything.
if [ -n "$own_prefix" ]; then wineboot -i >/dev/null 2>&1 || true; fi
expect_usage "ZIP ($(basename "$zip")) under Wine" wine "$exe"

echo "package-check: OK"
