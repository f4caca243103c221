#!/usr/bin/env bash
# Builds both builds and runs every test: the unit tests and the end-to-end
# suite, which runs each case on the native build and under Wine on the
# Windows builds. Installs what is missing first (see install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tests/install-deps.sh
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

cmake --preset native -DDUSTPAIL_TESTS=ON
cmake --build build/native -j2
cmake --preset windows
cmake --build build/windows -j2

ctest --test-dir build/native --output-on-failure -j2
