#!/usr/bin/env bash
# Draws a little house with the arrow keys in the real program, in a private
# X server, and saves the window with its title bar as a PNG.
#   tools/screenshot.sh BUILD_DIR OUT.png
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 BUILD_DIR OUT.png" >&2; exit 2; }
exe=$(realpath "$1/twindial")
out=$(realpath -m "$2")
here=$(dirname "$(realpath "$0")")
# shellcheck source=xsession.sh
source "$here/xsession.sh"
trap x_stop EXIT

# hold SECONDS KEY...: holds the keys together for a while.
hold() {
  local t=$1
  shift
  xdotool keydown "$@"
  sleep "$t"
  xdotool keyup "$@"
  sleep 0.1
}

x_start
x_run "$exe"
x_activate
# From the pen's start at (400, 300): the floor, the right wall, the roof, the left wall.
hold 1 Right
hold 2 Up
hold 1 Up Left
hold 1 Down Left
hold 2 Down
hold 1 Right
sleep 0.3
import -frame -window "$x_win" "$out"
echo "wrote $out"
