#!/usr/bin/env bash
# The Windows side of CI: builds quorvane.exe with MinGW-w64 and runs the
# Windows-built tests under Wine, with the zh_CN.UTF-8 locale so that the
# ANSI code page is 936, as on the machines the program is made for.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
stage_start=$SECONDS
elapsed() { echo "-- $1: $((SECONDS - stage_start))s"; }

echo "-- packages"
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
bash scripts/install_deps.sh cmake make g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
  googletest wine wine32 xvfb xauth locales fonts-wqy-microhei
if ! locale -a | grep -qix 'zh_CN.utf8'; then
  $SUDO sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
elapsed "packages and locale"

echo "-- quorvane.exe"
bash scripts/build_windows.sh build-win
elapsed "release build"

# A Wine prefix of its own for this run, 32-bit like the program, made
# once; Wine's own prompts (Mono, Gecko) are turned off.
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=$(mktemp -d /tmp/qv-wine.XXXXXX)
  trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
fi
export WINEPREFIX
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
echo "-- Wine prefix $WINEPREFIX"
wineboot -i >/dev/null 2>&1
wineserver -w
elapsed "Wine prefix"

echo "-- the engine's tests, built for Windows, under Wine"
cmake -S . -B build-win-tests -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_BENCH=OFF >/dev/null
cmake --build build-win-tests -j"$(nproc)"
elapsed "test build"
# On Win32 TerminateThread releases nothing of the thread it ends, so a
# query stopped in its receive keeps its socket; the layer releases it.
# That difference is known and reported; the test holds the layer to it.
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build-win-tests --output-on-failure \
  -j"$(nproc)" -E '^BlacklistQueryTest\.TerminateThreadWaitingForTheReply$'
elapsed "engine tests under Wine"

echo "-- the scenarios against quorvane.exe under Wine, through the Win32 driver"
cmake -S . -B build-e2e-wine -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_BENCH=OFF \
  -DQV_WIN32_BUILD_DIR="$PWD/build-win-tests" >/dev/null
cmake --build build-e2e-wine -j"$(nproc)" --target test_e2e_wine
# Left out, each for a difference still open between real Win32 and the
# layer: a worker stopped by Close keeps its socket on Win32 (CloseStops...);
# the driver has no menu commands yet (ContextMenu..., Copy...); the Save As
# scenarios name POSIX paths and the layer's dialog controls. The 256-address
# range (AWildcardRange...) stalled once under Wine, the driver no longer
# answering mid-range, and stays out until that is found.
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build-e2e-wine -L wine --output-on-failure \
  -E 'CloseStopsARunWhereverItIs|TheContextMenuOpens|CopyPutsTheSelectedLines|AWildcardRangeChecksEveryAddress|^wine\.Export\.'
elapsed "scenarios under Wine"

echo "-- screenshots of the Windows program (kept in out/screenshots)"
bash scripts/screenshots.sh build-win-tests out/screenshots
elapsed "screenshots"
