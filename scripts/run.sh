#!/usr/bin/env bash
# Builds Quorvane and starts it from the repository's folder, where it looks
# for qqwry.dat.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh g++ cmake make binutils-mingw-w64-i686 libncurses-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF
cmake --build build -j"$(nproc)"
if [ -x build/src/ui/quorvane ]; then
  exec build/src/ui/quorvane
fi
echo "quorvane: the engine is built; the windows are not part of this build yet" >&2
