#!/usr/bin/env bash
# End-to-end test of the snapshot on Enter, in a private Xvfb with openbox.
#
#   snapshot_e2e.sh PATH/TO/twindial
#
# Each run copies the program into a fresh folder of its own (it saves beside
# its executable), drives it with xdotool and reads the window's pixels with
# ImageMagick's import. The full-disk case mounts a small tmpfs as
# "current_save", which needs root; without that it is skipped. Prints
# "PASS name" or "FAIL name: why" per case; the exit status is non-zero if
# any case failed. Every wait is bounded and a watchdog ends the whole run.
set -u

EXE=$(realpath "${1:?usage: snapshot_e2e.sh PATH/TO/twindial}")
# The first free display from :57.
N=57
while [ -e "/tmp/.X$N-lock" ] || [ -e "/tmp/.X11-unix/X$N" ]; do N=$((N + 1)); done
export DISPLAY=:$N
TITLE="Twin-Dial"
RED="237 28 36"
BACKDROP="192 220 192"
SAVED_TEXT="image saved to current_image"
WORK=$(mktemp -d /tmp/snapshot-e2e.XXXXXX)
passed=0
failed=0
xvfb_pid="" wm_pid="" prog_pid="" mounted=""

# Ends a program left running by a failed case. A notice box up is a child
# process of its own, which would outlive the program.
stop_program() {
    if [ -n "$prog_pid" ]; then
        local child
        for child in $(ps -o pid= --ppid "$prog_pid"); do kill -KILL "$child" 2>/dev/null; done
        kill -KILL "$prog_pid" 2>/dev/null
        wait "$prog_pid" 2>/dev/null
        prog_pid=""
    fi
    wait_for 5 no_window
}

cleanup() {
    stop_program
    [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "${watchdog_pid:-}" ] && kill "$watchdog_pid" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
# sleep holds no output of ours, so nothing waits for it once the run ends.
(sleep 240 >/dev/null 2>&1 </dev/null && echo "FAIL watchdog: the run took too long" && kill -TERM $$) &
watchdog_pid=$!

# --- helpers -------------------------------------------------------------------

# wait_for SECONDS COMMAND...: true once the command succeeds within the time.
wait_for() {
    local deadline=$(( $(date +%s%N) + ${1%.*} * 1000000000 ))
    shift
    until "$@"; do
        [ "$(date +%s%N)" -gt "$deadline" ] && return 1
        sleep 0.05
    done
}

# Ids (decimal) of the managed windows titled "Twin-Dial".
windows() {
    wmctrl -l | while read -r id _ _ title; do
        [ "$title" = "$TITLE" ] && echo $((id))
    done
}
has_window() { [ -n "$(windows)" ]; }
no_window() { [ -z "$(windows)" ]; }
box() { windows | grep -vx "${wid:-none}" | head -n 1; }
has_box() { [ -n "$(box)" ]; }
no_box() { [ -z "$(box)" ]; }

# Starts the program copied into folder $1; sets wid, geometry and log.
start_program() {
    local dir=$1
    cp "$EXE" "$dir/twindial"
    log="$WORK/$(basename "$dir").stderr"
    "$dir/twindial" 2>"$log" </dev/null >/dev/null &
    prog_pid=$!
    wait_for 10 has_window || return 1
    wid=$(windows | head -n 1)
    local info
    info=$(xwininfo -id "$wid")
    win_x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
    win_y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
    xdotool windowactivate --sync "$wid" >/dev/null 2>&1
    wait_for 10 frame_shown
}

# The window's 800x600 client area as raw RGB.
grab() { import -window root -crop "800x600+$win_x+$win_y" +repage -depth 8 "rgb:$1"; }
# A picture taken once two grabs 100 ms apart are equal.
settled_grab() {
    local out=$1 i
    grab "$out.a"
    for i in $(seq 50); do
        sleep 0.1
        grab "$out.b"
        if cmp -s "$out.a" "$out.b"; then mv "$out.b" "$out"; rm -f "$out.a"; return 0; fi
        mv "$out.b" "$out.a"
    done
    return 1
}
# pixel FILE.rgb X Y: "r g b"
pixel() { od -An -tu1 -j $(( ($3 * 800 + $2) * 3 )) -N3 "$1" | xargs; }
frame_shown() { grab "$WORK/probe.rgb" && [ "$(pixel "$WORK/probe.rgb" 20 20)" = "$RED" ]; }
# The snapshot file's pixels as raw RGB (its content is PNG despite the name).
file_rgb() { convert "png:$1" -alpha off -depth 8 "rgb:$2"; }

press() { xdotool windowactivate --sync "$wid" >/dev/null 2>&1; xdotool key "$1"; }
hold() { xdotool windowactivate --sync "$wid" >/dev/null 2>&1; xdotool keydown "$1"; sleep "$2"; xdotool keyup "$1"; }
dismiss() {
    local b
    b=$(box)
    [ -n "$b" ] || return 1
    xdotool windowactivate --sync "$b" >/dev/null 2>&1
    xdotool key Return
    wait_for 5 no_box
}
# Escape, the exit notice dismissed, then the exit status.
quit() {
    press Escape
    wait_for 5 has_box || { echo "no exit notice"; return 1; }
    dismiss
    local status=0
    wait "$prog_pid" || status=$?
    prog_pid=""
    [ "$status" -eq 0 ] || { echo "exit status $status"; return 1; }
    wait_for 5 no_window
}

why=""
fail() { why=$*; return 1; }
run_case() {
    local name=$1
    shift
    why=""
    if "$@"; then
        if [ "${why%%:*}" = SKIP ]; then echo "SKIP $name: ${why#SKIP: }"; return; fi
        echo "PASS $name"
        passed=$((passed + 1))
    else
        echo "FAIL $name: ${why:-see above}"
        failed=$((failed + 1))
    fi
}

# --- the cases -------------------------------------------------------------------

run1="$WORK/run1"
save1="$run1/current_save/save.bmp"

enter_saves_the_window_as_shown() {
    mkdir -p "$run1/current_save"
    start_program "$run1" || fail "the program never showed its toy" || return 1
    hold Right 0.4
    settled_grab "$WORK/shown1.rgb" || fail "the picture never stood still" || return 1
    press Return
    wait_for 5 has_box || fail "no notice after Enter" || return 1
    [ -f "$save1" ] || fail "no current_save/save.bmp" || return 1
    [ "$(head -c 8 "$save1" | od -An -tx1 | xargs)" = "89 50 4e 47 0d 0a 1a 0a" ] || fail "no PNG signature" || return 1
    file_rgb "$save1" "$WORK/file1.rgb" || fail "the file does not decode" || return 1
    cmp -s "$WORK/file1.rgb" "$WORK/shown1.rgb" || fail "the file differs from the window" || return 1
    [ ! -s "$log" ] || fail "standard error: $(cat "$log")" || return 1
    return 0
}

dismissing_the_notice_makes_no_second_file() {
    local inode
    inode=$(stat -c %i "$save1")
    dismiss || fail "the notice did not go on Enter" || return 1
    sleep 0.5
    no_box || fail "a second notice appeared" || return 1
    [ "$(stat -c %i "$save1")" = "$inode" ] || fail "a second snapshot was written" || return 1
    [ "$(ls -A "$run1/current_save")" = "save.bmp" ] || fail "current_save holds $(ls -A "$run1/current_save")" || return 1
}

shake_then_enter_saves_the_blank_screen() {
    local inode size
    inode=$(stat -c %i "$save1")
    size=$(stat -c %s "$save1")
    [ "$(pixel "$WORK/file1.rgb" 401 301)" != "$BACKDROP" ] || fail "the first snapshot shows no trail" || return 1
    press BackSpace
    sleep 0.3
    settled_grab "$WORK/shown2.rgb" || fail "the picture never stood still" || return 1
    press Return
    wait_for 5 has_box || fail "no notice after Enter" || return 1
    [ "$(stat -c %i "$save1")" != "$inode" ] || fail "the file was not replaced" || return 1
    [ "$(stat -c %s "$save1")" = "$size" ] || fail "length $(stat -c %s "$save1"), before $size" || return 1
    file_rgb "$save1" "$WORK/file2.rgb" || fail "the file does not decode" || return 1
    cmp -s "$WORK/file2.rgb" "$WORK/shown2.rgb" || fail "the file differs from the window" || return 1
    [ "$(pixel "$WORK/file2.rgb" 401 301)" = "$BACKDROP" ] || fail "the trail survived the shake" || return 1
    dismiss || fail "the notice did not go on Enter" || return 1
    quit || fail "the program did not end normally" || return 1
}

no_folder_writes_nothing_and_tells() {
    local dir="$WORK/run2"
    mkdir -p "$dir"
    start_program "$dir" || fail "the program never showed its toy" || return 1
    press Return
    wait_for 5 has_box || fail "no notice after Enter" || return 1
    grep -q "^The image was not saved to current_save/save.bmp: .*No such file or directory" "$log" ||
        fail "standard error: $(cat "$log")" || return 1
    ! grep -q "$SAVED_TEXT" "$log" || fail "the confirmation went to standard error" || return 1
    [ "$(ls -A "$dir")" = "twindial" ] || fail "the folder holds $(ls -A "$dir" | xargs)" || return 1
    dismiss || fail "the notice did not go on Enter" || return 1
    quit || fail "the program did not end normally" || return 1
}

full_disk_keeps_the_old_snapshot() {
    local dir="$WORK/run3" before
    mkdir -p "$dir/current_save"
    # Room for one snapshot but not for a second beside it.
    mount -t tmpfs -o size=3m tmpfs "$dir/current_save" 2>/dev/null || { why="SKIP: cannot mount a tmpfs"; return 0; }
    mounted="$dir/current_save"
    start_program "$dir" || fail "the program never showed its toy" || return 1
    press Return
    wait_for 5 has_box || fail "no notice after the first Enter" || return 1
    dismiss || fail "the notice did not go on Enter" || return 1
    [ -f "$dir/current_save/save.bmp" ] || fail "the first snapshot was not written: $(cat "$log")" || return 1
    before=$(sha256sum <"$dir/current_save/save.bmp")
    hold Down 0.3
    press Return
    wait_for 5 has_box || fail "no notice after the second Enter" || return 1
    grep -q "Error writing to stream" "$log" || fail "no write error on standard error: $(cat "$log")" || return 1
    grep -q "^The image was not saved to current_save/save.bmp: .*No space left on device" "$log" ||
        fail "standard error: $(cat "$log")" || return 1
    [ "$(sha256sum <"$dir/current_save/save.bmp")" = "$before" ] || fail "the old snapshot changed" || return 1
    [ "$(ls -A "$dir/current_save")" = "save.bmp" ] || fail "current_save holds $(ls -A "$dir/current_save" | xargs)" || return 1
    dismiss || fail "the notice did not go on Enter" || return 1
    sleep 0.3
    kill -0 "$prog_pid" 2>/dev/null || fail "the program ended" || return 1
    frame_shown || fail "the toy is no longer shown" || return 1
    quit || fail "the program did not end normally" || return 1
}

# --- run -------------------------------------------------------------------------

for tool in Xvfb openbox xdotool wmctrl xwininfo import convert; do
    command -v "$tool" >/dev/null || { echo "FAIL setup: $tool is missing"; exit 1; }
done
if [ -e "/tmp/.X$N-lock" ] || [ -e "/tmp/.X11-unix/X$N" ]; then
    echo "FAIL setup: display :$N is in use"
    exit 1
fi
Xvfb ":$N" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
wait_for 10 xdpyinfo -display ":$N" >/dev/null 2>&1 || wait_for 10 xprop -root >/dev/null 2>&1 ||
    { echo "FAIL setup: Xvfb did not start"; exit 1; }
openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
wait_for 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
    { echo "FAIL setup: openbox did not start"; exit 1; }

run_case enter_saves_the_window_as_shown enter_saves_the_window_as_shown
run_case dismissing_the_notice_makes_no_second_file dismissing_the_notice_makes_no_second_file
run_case shake_then_enter_saves_the_blank_screen shake_then_enter_saves_the_blank_screen
stop_program
run_case no_folder_writes_nothing_and_tells no_folder_writes_nothing_and_tells
stop_program
run_case full_disk_keeps_the_old_snapshot full_disk_keeps_the_old_snapshot
stop_program

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
