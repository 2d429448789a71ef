# shellcheck shell=bash
# Sourced by the tools that run twindial in a private X server:
#   x_start             Xvfb (1280x1024) on the first free display from :91, and openbox; exports DISPLAY
#   x_run EXE           starts EXE from a scratch working directory; sets x_prog (its pid) and x_win
#                       (its window id), and waits until the toy's frame is on screen
#   x_activate          gives the program's window the keyboard focus
#   x_stop              ends the program, openbox and Xvfb (put it in an EXIT trap)
# Every wait gives up after a few seconds.

x_pids=()
x_prog=
x_win=
x_scratch=

# x_wait SECONDS COMMAND...: runs COMMAND every 50 ms until it succeeds or time is up.
x_wait() {
  local tries=$(($1 * 20))
  shift
  while ((tries-- > 0)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

x_has_wm() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"; }
x_alive() { kill -0 "$1" 2>/dev/null; }
x_prog_gone() { ! x_alive "$x_prog"; }

x_start() {
  local n pid
  for n in $(seq 91 159); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    # -noreset: else the server resets when the probe below disconnects and
    # refuses a client that connects just then.
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    pid=$!
    export DISPLAY=":$n"
    if x_wait 10 xprop -root && x_alive "$pid"; then
      x_pids+=("$pid")
      openbox --sm-disable >/dev/null 2>&1 &
      x_pids+=($!)
      x_wait 10 x_has_wm && return 0
      echo "openbox did not start on $DISPLAY" >&2
      return 1
    fi
    kill "$pid" 2>/dev/null  # lost a race for this display, or it never came up
    wait "$pid" 2>/dev/null
  done
  echo "no free display for Xvfb" >&2
  return 1
}

x_find_window() {
  x_win=$(wmctrl -l | awk 'NF == 4 && $4 == "Twin-Dial" { print $1; exit }')
  [[ -n $x_win ]]
}

# The client area's upper-left corner on the screen, as "X Y".
x_client_origin() {
  xwininfo -id "$x_win" | awk -F: '/Absolute upper-left X/ { x = $2 } /Absolute upper-left Y/ { y = $2 }
                                   END { print x + 0, y + 0 }'
}

x_shows_frame() {
  local x y
  read -r x y < <(x_client_origin)
  # The toy's red body at (20, 20) of the client area.
  import -window root -crop "1x1+$((x + 20))+$((y + 20))" -depth 8 txt:- | grep -q "(237,28,36)"
}

# Brings the window to the front with the keyboard focus. SDL passes focus
# changes on up to 200 ms late and the program resets its keys then, so
# this waits a little longer before any key is sent.
x_activate() {
  xdotool windowactivate --sync "$x_win"
  sleep 0.5
}

x_run() {
  x_scratch=$(mktemp -d)
  (cd "$x_scratch" && exec "$1" </dev/null) &
  x_prog=$!
  x_wait 10 x_find_window || { echo "twindial showed no window" >&2; return 1; }
  x_wait 10 x_shows_frame || { echo "twindial never drew its frame" >&2; return 1; }
}

x_stop() {
  local i
  if [[ -n $x_prog ]] && x_alive "$x_prog"; then
    [[ -n $x_win ]] && wmctrl -i -c "$x_win" 2>/dev/null
    x_wait 5 x_prog_gone || kill "$x_prog" 2>/dev/null
    wait "$x_prog" 2>/dev/null
  fi
  for ((i = ${#x_pids[@]} - 1; i >= 0; i--)); do
    kill "${x_pids[i]}" 2>/dev/null
    wait "${x_pids[i]}" 2>/dev/null
  done
  x_pids=()
  [[ -n $x_scratch ]] && rm -rf "$x_scratch"
  x_scratch=
}
