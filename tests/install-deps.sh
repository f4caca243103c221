#!/usr/bin/env bash
# Installs from Debian's packages what building and testing both builds
# needs, and the Japanese locale the end-to-end suite runs under. Run as
# root. Without --always it does nothing when all is there already.
set -euo pipefail

packages=(
  cmake g++ make                # native build
  g++-mingw-w64-x86-64          # Windows build (cross)
  wine wine64                   # runs the Windows build
  libgtest-dev                  # unit tests
  python3 locales tzdata        # end-to-end suite
  clang                         # fuzzing and sanitizer builds
  rifiuti2                      # independent reader of bins the program writes
  lintian                       # Debian's checks of the .deb
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${1:-}" = "--always" ] || [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${packages[@]}"
fi

if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
