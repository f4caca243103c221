#!/usr/bin/env bash
# Builds the Linux build and lists the bundled sample bins.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for tool in cmake g++ make; do command -v "$tool" >/dev/null || need+=("$tool"); done
if [ ${#need[@]} -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y cmake g++ make
fi

cmake --preset native -DDUSTPAIL_TESTS=OFF >/dev/null
cmake --build build/native --target dustpail -j"$(nproc)" >/dev/null

for bin in examples/*/; do
  bin=${bin%/}
  echo "=== $bin"
  ./build/native/dustpail /view "$bin" || true
  echo
done
