#!/usr/bin/env python3
"""End-to-end test of the real twindial program in a private Xvfb with openbox.

    e2e_test.py PATH/TO/twindial [SCREENSHOT.png]
    e2e_test.py --fresh-keys PATH/TO/twindial

Starts its own X session (xharness), runs the program from a fresh working
directory, types keys and reads the window back as pixels. The first form
runs the cases of what a user sees and does; --fresh-keys runs the cases of
key presses the program must not lose: right after focus comes back, and on
the numeric keypad. Prints "PASS name" or "FAIL name: why" per case and ends
with "N passed, M failed"; the exit status is non-zero if any case failed.
Every wait is bounded, and a watchdog ends the whole run.
"""
import contextlib
import os
import shutil
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import xharness as xh  # noqa: E402
from xharness import check, poll  # noqa: E402

TOY = xh.toy()
SCREEN = (1280, 1024)
MARK = TOY.pen_start  # the brush's top-left pixel at start-up
WATCHDOG_S = 170


def is_ink(c):
    """The brush's greys and nothing of the frame or backdrop."""
    return c in (TOY.brush_light, TOY.brush_dark)


def trail_end(img, x):
    """The rightmost column of the ink run on the pen's three rows that starts at column x."""
    rows = range(MARK[1], MARK[1] + 3)
    while x + 1 < img.w and all(is_ink(img.at(x + 1, y)) for y in rows):
        x += 1
    return x


def check_drawn(drawn, held, what):
    """A line of `drawn` pixels fits a key held for `held` = (surely, at most) seconds at 60 passes a second."""
    surely, at_most = held
    low, high = int(60 * surely * 0.8) - 3, int(60 * at_most) + 3
    check(low <= drawn <= high, f"{what} drew {drawn} pixels; held {surely:.2f} to {at_most:.2f} s, "
                                f"that is {low} to {high} pixels")


def check_blank_but_mark(img, mark_x, when):
    """The drawing area is bare backdrop but for the 3x3 brush at (mark_x, the pen's row)."""
    for y in range(MARK[1], MARK[1] + 3):
        for x in range(mark_x, mark_x + 3):
            check(is_ink(img.at(x, y)), f"no mark at ({x}, {y}) {when}: {img.at(x, y)}")
    x0, y0, x1, y1 = TOY.drawing_area
    blank = img.count(TOY.backdrop, TOY.drawing_area)
    if blank != (x1 - x0 + 1) * (y1 - y0 + 1) - 9:
        spot = next((x, y) for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)
                    if img.at(x, y) != TOY.backdrop and not (mark_x <= x < mark_x + 3 and MARK[1] <= y < MARK[1] + 3))
        raise xh.Failure(f"the drawing area shows {img.at(*spot)} at {spot} {when}")


class Cases:
    """The cases share one run of the program, in order; the pen's place is carried along.

    A subclass runs them on another build by overriding start() (and the
    timeouts)."""

    exit_timeout = 10

    def __init__(self, session, exe, shot):
        self.x, self.exe, self.shot = session, exe, shot
        self.prog = self.start()
        self.pen_x = MARK[0]

    def start(self):
        return self.x.start([self.exe])

    def other_program(self):
        """Another program's window, active; ended with the session or by its caller."""
        other = self.x.launch(["xmessage", "-title", "Other", "-geometry", "+0+0", "hi"])
        ids = poll(lambda: self.x.windows("Other"), 10)
        check(ids, "xmessage showed no window")
        other.window = ids[0]
        return other

    # -- cases ------------------------------------------------------------------

    def window(self):
        # The caption is checked already: the window was found by its title.
        x, p = self.x, self.prog
        check((p.w, p.h) == (TOY.width, TOY.height), f"client area {p.w}x{p.h}, not {TOY.width}x{TOY.height}")
        want = (x.size[0] // 2 - TOY.width // 2, x.size[1] // 2 - TOY.height // 2)
        check((p.x, p.y) == want, f"client area at {(p.x, p.y)}, not centred at {want}")
        hints = x.prop(p.window, "WM_NORMAL_HINTS")
        size = f"{TOY.width} by {TOY.height}"
        check(f"minimum size: {size}" in hints and f"maximum size: {size}" in hints,
              "size hints do not fix the size: " + " ".join(hints.split()))
        actions = x.prop(p.window, "_NET_WM_ALLOWED_ACTIONS")
        check("_NET_WM_ACTION_CLOSE" in actions, "openbox read no allowed actions: " + actions.strip())
        for banned in ("MAXIMIZE_HORZ", "MAXIMIZE_VERT", "RESIZE"):
            check("_NET_WM_ACTION_" + banned not in actions, f"openbox allows {banned.lower()}")
        # Ask the window manager to maximise anyway: the window must keep its size.
        x.x("wmctrl", "-i", "-r", f"{p.window:#x}", "-b", "add,maximized_vert,maximized_horz")
        time.sleep(0.3)
        check(x.geometry(p.window) == (p.x, p.y, TOY.width, TOY.height),
              f"maximising changed it to {x.geometry(p.window)}")

    def first_picture(self):
        img = self.prog.first_picture()
        self.x.save_window(self.prog.window, self.shot)
        check(img.at(20, 20) == TOY.body and img.at(780, 580) == TOY.body, "the body is not red")
        check_blank_but_mark(img, MARK[0], "at start-up")
        # Walk along the middle row of the left knob: the first pixel that is not
        # the body is its outline, which lets the backdrop through.
        x = 20
        while x < 120 and img.at(x, 542) == TOY.body:
            x += 1
        check(img.at(x, 542) == TOY.backdrop, f"the left knob's outline at ({x}, 542) shows {img.at(x, 542)}")
        check(img.at(x + 2, 542) == TOY.knob, f"the left knob's disc is {img.at(x + 2, 542)}, not blue")

    def held_arrow(self):
        p = self.prog
        p.activate()
        held = p.hold("Right", 2)
        img = p.settled()
        end = trail_end(img, MARK[0])
        drawn = end - (MARK[0] + 2)
        self.pen_x = end - 2
        for x in range(MARK[0], end + 1):
            check(img.at(x, MARK[1] - 1) == TOY.backdrop and img.at(x, MARK[1] + 3) == TOY.backdrop,
                  f"the line is not 3 pixels high at column {x}")
        check_drawn(drawn, held, "holding Right")
        check(img.at(end + 1, MARK[1] + 1) == TOY.backdrop, f"something beyond the line's end at ({end + 1}, 301)")

    def shake(self):
        p = self.prog
        p.key("BackSpace")
        img = p.settled()
        check(img.at(20, 20) == TOY.body, "the frame did not come back after the shake")
        check_blank_but_mark(img, self.pen_x, "after the shake")

    def focus_switch(self):
        x, p = self.x, self.prog
        other = self.other_program()
        try:
            p.activate()
            start = self.pen_x + 2
            p.key_down("Right")
            try:
                time.sleep(0.5)
                x.activate(other.window)
                away = trail_end(p.settled(), start)
                check(away > start, "the held key drew nothing before the switch")
                p.activate()
                time.sleep(1)
                back = trail_end(p.settled(), start)
            finally:
                p.key_up("Right")
            released = trail_end(p.settled(), start)
            self.pen_x = released - 2
            check(back == away, f"the line grew by {back - away} pixels after the switch back")
            check(released == back, f"the line grew by {released - back} pixels around the release")
        finally:
            other.close()

    def notice_on(self, key):
        """Types a key into the program's window; the notice box it brings up."""
        self.prog.activate()
        self.prog.key(key)
        boxes = poll(self.prog.boxes, 10)
        check(boxes, f"{key} showed no notice box")
        return boxes[0]

    def escape(self):
        x, p = self.x, self.prog
        box = self.notice_on("Escape")
        x.save_window(box, os.path.splitext(self.shot)[0] + "-notice.png")
        check(p.proc.poll() is None, "the program ended while the notice was up")
        self.check_notice_box(box)
        check(poll(lambda: x.active_window() == box, 5), "the notice box does not have the focus")
        x.key("Return")
        status = p.wait_exit(self.exit_timeout)
        check(status == 0, f"exit status {status} after dismissing the notice")
        check("Visit" not in p.stderr_text(), "the notice went to standard error instead of a box")
        check(not x.windows(TOY.title), "a window is left after the end")

    def check_notice_box(self, box):
        check(f"{self.prog.window:#x}" in self.x.prop(box, "WM_TRANSIENT_FOR"),
              "the notice box is not owned by the window")
        check("_NET_WM_STATE_MODAL" in self.x.prop(box, "_NET_WM_STATE"), "the notice box is not modal")

    def closes(self):
        """A close from the window manager, by each way a user has: no notice, status 0."""
        def wm_close(x, prog):
            x.x("wmctrl", "-i", "-c", f"{prog.window:#x}")

        def alt_f4(x, prog):
            prog.activate()
            prog.key("alt+F4")
        for name, close in [("wmctrl -c", wm_close), ("Alt+F4", alt_f4)]:
            prog = self.start()
            try:
                close(self.x, prog)
                boxes = set()

                def gone():
                    boxes.update(prog.boxes())
                    return prog.proc.poll() is not None
                ended = poll(gone, self.exit_timeout)
                check(not boxes, f"{name}: a notice box appeared")
                check(ended, f"{name}: the program did not end")
                check(prog.proc.returncode == 0, f"{name}: exit status {prog.proc.returncode}")
                check("Visit" not in prog.stderr_text(), f"{name}: the notice was written to standard error")
            finally:
                prog.close()

    def cases(self):
        return [
            ("first_picture", self.first_picture),
            ("window_caption_size_place", self.window),
            ("held_arrow_draws_line", self.held_arrow),
            ("backspace_wipes_all_but_mark", self.shake),
            ("key_held_across_focus_switch_stays_released", self.focus_switch),
            ("escape_notice_then_status_0", self.escape),
            ("window_manager_close_status_0", self.closes),
        ]


class FreshKeyCases(Cases):
    """Presses the program must not lose, each on the one run of the program.

    The program starts from a folder of its own with a current_save beside
    it, so that Enter writes there and shows its confirmation.
    """

    HOLD_S = 0.5  # about 30 passes: the pen moves about 30 pixels

    def __init__(self, session, exe, work):
        self.folder = os.path.join(work, "app")
        os.makedirs(os.path.join(self.folder, "current_save"))
        super().__init__(session, shutil.copy(exe, self.folder), None)

    def moves(self, press, what):
        """How far press() moved the pen right: the line on the pen's row before and after."""
        before = trail_end(self.prog.settled(), self.pen_x + 2)
        press()
        after = trail_end(self.prog.settled(), self.pen_x + 2)
        self.pen_x = after - 2
        print(f"INFO {what}: the pen moved {after - before} pixels", flush=True)
        return after - before

    def press_right_as_focus_returns(self, give_focus_back, hold_program=True):
        """Holds Right from the moment the window has the focus again (well within 50 ms).

        The program is held still meanwhile, so it sees the focus change and
        the press together, as it does whenever the press comes before its
        next look at its events (up to a pass later). A focus change the
        program itself must make (its own box going) happens with it running.
        """
        with self.prog.paused() if hold_program else contextlib.nullcontext():
            give_focus_back()
            delay = self.x.key_down_on_focus(self.prog.window, "Right")
        try:
            print(f"INFO Right went down {1000 * delay:.1f} ms after the focus came back", flush=True)
            time.sleep(self.HOLD_S)
        finally:
            self.x.raw_key("Right", False)

    # The keys held when focus comes back must be those held at that moment,
    # not when the program gets round to the focus event: else a press made
    # in between is taken for a key held across the switch and lost. And the
    # keypad with NumLock off is the arrows, as on Windows.

    def right_after_switching_back(self):
        x, p = self.x, self.prog
        other = self.other_program()
        try:
            p.activate()
            x.activate(other.window)

            def press():
                self.press_right_as_focus_returns(lambda: x.xdotool("windowactivate", str(p.window)))
            moved = self.moves(press, "Right pressed as focus came back from another program")
        finally:
            other.close()
        check(moved >= 10, f"Right pressed right after switching back moved the pen {moved} pixels")

    def right_after_dismissing_notice(self):
        x, p = self.x, self.prog
        x.activate(self.notice_on("Return"), settle=0)

        def press():
            # The box is the program's own: it closes, and gives the focus
            # back, only while the program runs.
            self.press_right_as_focus_returns(lambda: x.key("Return"), hold_program=False)
        moved = self.moves(press, "Right pressed as the notice went")
        check(not p.boxes(), "another notice box is up")
        check(moved >= 10, f"Right pressed right after the notice went moved the pen {moved} pixels")

    def keypad(self, num_lock):
        x, p = self.x, self.prog
        p.activate()
        x.set_num_lock(num_lock)
        try:
            before = p.settled()

            def press():
                # The keypad's 6 itself: xdotool would switch NumLock to reach a keysym.
                x.raw_key("KP_Right", True)
                try:
                    time.sleep(self.HOLD_S)
                finally:
                    x.raw_key("KP_Right", False)
            moved = self.moves(press, f"keypad 6 with NumLock {'on' if num_lock else 'off'}")
        finally:
            x.set_num_lock(False)
        if num_lock:
            check(p.settled() == before, f"keypad 6 with NumLock on changed the picture (pen moved {moved})")
        else:
            check(moved >= 10, f"keypad 6 with NumLock off moved the pen {moved} pixels, not about 30")

    def cases(self):
        return [
            ("right_within_50ms_after_switching_back_moves_pen", self.right_after_switching_back),
            ("right_within_50ms_after_dismissing_notice_moves_pen", self.right_after_dismissing_notice),
            ("keypad_6_numlock_off_draws_right", lambda: self.keypad(False)),
            ("keypad_6_numlock_on_leaves_pen", lambda: self.keypad(True)),
        ]


def main(argv):
    fresh = "--fresh-keys" in argv
    args = [a for a in argv if a != "--fresh-keys"]
    if len(args) not in (1, 2) or (fresh and len(args) != 1):
        sys.exit(__doc__.split("\n\n")[1])
    exe = os.path.abspath(args[0])
    shot = os.path.abspath(args[1]) if len(args) == 2 else os.path.join(os.path.dirname(exe), "e2e-screenshot.png")

    def body():
        check(os.access(exe, os.X_OK), f"{exe} is not an executable")
        with xh.XSession(size=SCREEN) as x:
            if not fresh:
                return xh.run_cases(Cases(x, exe, shot).cases())
            work = tempfile.mkdtemp(prefix="twindial-keys-")
            try:
                return xh.run_cases(FreshKeyCases(x, exe, work).cases())
            finally:
                x.close()
                shutil.rmtree(work, ignore_errors=True)
    return xh.suite_main(body, WATCHDOG_S, tools=xh.TOOLS + ("xmessage", "import"))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
