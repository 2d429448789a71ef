#!/usr/bin/env bash
# End-to-end test of the Windows executable under Wine, in a private Xvfb
# with openbox:
#
#   tests/e2e/wine_test.sh build-windows/twindial.exe
#
# Installs Wine and the X tools when missing, prepares a fresh Wine prefix
# once for the whole run (its first start is slow) with no audio driver, so
# the program has no sound device, then runs tests/e2e/wine_test.py.
#
# The prefix also turns off Wine's Direct3D command thread: on Mesa's
# software OpenGL it busy-waits between the 60 presents a second and takes a
# whole core, which starves the program's own thread on a small machine.
# That is Wine's setting; the program is the same either way.
# Prints PASS/FAIL per case and "N passed, M failed"; non-zero on failure.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
exe=${1:-build-windows/twindial.exe}
if [[ ! -f $exe ]]; then
    echo "FAIL setup: no $exe (run scripts/build-windows first)"
    echo "0 passed, 1 failed"
    exit 1
fi
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")

# shellcheck source=../../scripts/lib/apt.sh
source "$here/../../scripts/lib/apt.sh"
apt_ensure wine_test wine wine64 xvfb openbox xdotool x11-utils wmctrl imagemagick python3 libxfixes3 ||
    { echo "FAIL setup: could not install the packages"; echo "0 passed, 1 failed"; exit 1; }

# Debian's wine wrapper only adds a note about the missing 32-bit half.
wine=/usr/lib/wine/wine64
[[ -x $wine ]] || wine=$(command -v wine)

work=$(mktemp -d /tmp/twindial-wine-XXXXXX)
export WINEPREFIX=$work/prefix WINEARCH=win64 WINELOADER=$wine
# No Mono or Gecko installers: the program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    WINEDEBUG=-all wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

started=$(date +%s)
echo "wine_test: preparing a Wine prefix ($($wine --version))"
if ! (
    export DISPLAY= WINEDEBUG=-all
    timeout 300 "$wine" wineboot -i &&
        timeout 120 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f &&
        timeout 120 "$wine" reg add 'HKCU\Software\Wine\Direct3D' /v csmt /t REG_DWORD /d 0 /f &&
        timeout 120 wineserver -w
) >"$work/wineboot.log" 2>&1; then
    echo "FAIL setup: the Wine prefix could not be prepared:"
    tail -n 20 "$work/wineboot.log"
    echo "0 passed, 1 failed"
    exit 1
fi
echo "wine_test: prefix ready in $(($(date +%s) - started)) s"

python3 "$here/wine_test.py" "$wine" "$exe"
