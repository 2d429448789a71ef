#!/usr/bin/env bash
# Tests the release archives in DIST (default dist/, written by scripts/release):
#
#   tests/e2e/release_test.sh [DIST]
#
# Installs what the tests need when missing (the X tools, Wine,
# desktop-file-validate, wrestool), then runs tests/e2e/release_test.py.
# Prints PASS/FAIL per case and "N passed, M failed"; non-zero on failure.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
dist=${1:-dist}
# shellcheck source=../../scripts/lib/apt.sh
source "$here/../../scripts/lib/apt.sh"
apt_ensure release_test python3 binutils tar desktop-file-utils icoutils xvfb openbox xdotool x11-utils wmctrl \
    imagemagick wine wine64 ||
    { echo "FAIL setup: could not install the packages"; echo "0 passed, 1 failed"; exit 1; }
exec python3 "$here/release_test.py" "$dist"
