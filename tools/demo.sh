#!/usr/bin/env bash
# Builds the Linux build and lists the bundled sample bins, every name as it
# is on a UTF-8 terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for tool in cmake g++ make; do command -v "$tool" >/dev/null || need+=("$tool"); done
if [ ! -e /usr/share/i18n/locales/ja_JP ] && ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  need+=(locales)
fi
if [ ${#need[@]} -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y cmake g++ make locales
fi

cmake --preset native -DDUSTPAIL_TESTS=OFF >/dev/null
cmake --build build/native --target dustpail -j"$(nproc)" >/dev/null

# The program writes the locale's character set: a locale that is not UTF-8
# (the plain C of a fresh system) would show '?' for every other character.
view_locale=
if [ "$(locale charmap 2>/dev/null)" != "UTF-8" ]; then
  view_locale=C.UTF-8
fi

# The Windows 95 sample was written by a Japanese system: its ANSI paths are
# in code page 932, which the program reads under a Japanese locale.
japanese=ja_JP.UTF-8
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 2>/dev/null || japanese=
fi

for bin in examples/*/; do
  bin=${bin%/}
  locale=$view_locale
  if [ "$bin" = examples/win95-info ]; then
    if [ -n "$japanese" ]; then
      locale=$japanese
      echo "=== $bin (code page 932, read under $japanese)"
    else
      echo "=== $bin (its second path is in code page 932: without the ja_JP.UTF-8 locale it reads as 1252)"
    fi
  else
    echo "=== $bin"
  fi
  if [ -n "$locale" ]; then
    LC_ALL=$locale ./build/native/dustpail /view "$bin" || true
  else
    ./build/native/dustpail /view "$bin" || true
  fi
  echo
done
