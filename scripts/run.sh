#!/usr/bin/env bash
# Builds Quorvane and starts it from the repository's folder, where it looks
# for qqwry.dat.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh g++ cmake make binutils-mingw-w64-i686 libncurses-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF
cmake --build build -j"$(nproc)"
exec build/src/ui/quorvane
