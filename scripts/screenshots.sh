#!/usr/bin/env bash
# PNG pictures of the Windows program, frames and all, in Wine's virtual
# desktop under Xvfb: the main window with addresses typed, and the results
# window with its lines from a fake service on loopback.
#   bash scripts/screenshots.sh [windows-build-dir] [out-dir]
# The build dir is a Windows build with tests (scripts/test_windows.sh
# makes build-win-tests); the pictures go to out/screenshots by default.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win-tests}
out=${2:-out/screenshots}
service_address=$(sed -n 's/^QV_SERVICE_ADDRESS:STRING=//p' "$build/CMakeCache.txt")
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX=$(mktemp -d /tmp/qv-wine.XXXXXX)
  trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
  export WINEPREFIX WINEARCH=win32
  wineboot -i >/dev/null 2>&1
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# Every window of the prefix opens in one virtual desktop, whose window
# manager draws the title bars and borders.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
wineserver -w
xvfb-run -a -s "-screen 0 1280x1024x24" python3 scripts/screenshots.py "$build" "$out" "$service_address"
wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 || true
