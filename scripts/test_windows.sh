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
  googletest wine wine32 xvfb xauth locales
if ! locale -a | grep -qix 'zh_CN.utf8'; then
  $SUDO sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
elapsed "packages and locale"

echo "-- quorvane.exe"
bash scripts/build_windows.sh build-win
elapsed "release build"
