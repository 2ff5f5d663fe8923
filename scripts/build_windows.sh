#!/usr/bin/env bash
# Builds the Windows program, quorvane.exe (32-bit x86, C++ runtime linked
# in), with the MinGW-w64 cross compiler:
#   bash scripts/build_windows.sh [build-dir]     (default build-win)
# The program is then build-win/src/ui/quorvane.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-win}
bash scripts/install_deps.sh cmake make g++-mingw-w64-i686-posix binutils-mingw-w64-i686
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target quorvane
