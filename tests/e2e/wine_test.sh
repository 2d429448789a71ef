#!/usr/bin/env bash
# End-to-end test of the Windows executable under Wine, in a private X
# session:
#
#   tests/e2e/wine_test.sh build-windows/twindial.exe [build/twindial]
#
# Installs Wine and the X tools when missing, then runs tests/e2e/wine_test.py,
# which prepares a fresh Wine prefix for the run. Given the Linux build too,
# the Windows build's idle CPU is measured beside it and held against it.
# Then tests/e2e/wine_sound_test.py hears the program through Wine's default
# audio driver and a sound server of the test's own, in a prefix of its own.
# Prints PASS/FAIL per case and "N passed, M failed"; non-zero on failure.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
exe=${1:-build-windows/twindial.exe}
linux=${2:-}

# shellcheck source=../../scripts/lib/apt.sh
source "$here/../../scripts/lib/apt.sh"
apt_ensure wine_test wine wine64 xvfb openbox xdotool x11-utils wmctrl imagemagick python3 libxfixes3 libxtst6 \
    binutils-mingw-w64-x86-64 pulseaudio pulseaudio-utils python3-numpy ||
    { echo "FAIL setup: could not install the packages"; echo "0 passed, 1 failed"; exit 1; }

status=0
python3 "$here/wine_test.py" "$exe" ${linux:+--linux "$linux"} || status=1
# Debian's own Python, which has python3-numpy (another python3 may come first on PATH).
/usr/bin/python3 "$here/wine_sound_test.py" "$exe" || status=1
exit $status
