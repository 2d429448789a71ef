#!/usr/bin/env python3
"""End-to-end test of the real twindial program in a private Xvfb with openbox.

    e2e_test.py PATH/TO/twindial [SCREENSHOT.png]

Starts its own X server and window manager, runs the program from a fresh
working directory, drives it with xdotool and reads the window's pixels with
ImageMagick's import. Prints "PASS name" or "FAIL name: why" per case and
ends with "N passed, M failed"; the exit status is non-zero if any case
failed. Every wait is bounded, and a watchdog ends the whole run.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SCREEN_W, SCREEN_H = 1280, 1024
CLIENT_W, CLIENT_H = 800, 600
TITLE = "Twin-Dial"

RED = (237, 28, 36)          # the toy's body
BACKDROP = (192, 220, 192)   # the blank drawing screen
KNOB = (0, 183, 239)         # the knobs' discs
AREA = (110, 54, 684, 477)   # drawing area, both ends included: x0, y0, x1, y1
MARK = (400, 300)            # the pen's starting place (the brush's top-left pixel)

WATCHDOG_S = 170
TOOLS = ("Xvfb", "openbox", "xdotool", "xprop", "xwininfo", "wmctrl", "import", "xmessage")


class Failure(Exception):
    pass


def check(cond, why):
    if not cond:
        raise Failure(why)


def poll(fn, timeout, interval=0.05):
    """Calls fn until it returns something true or timeout seconds pass."""
    deadline = time.monotonic() + timeout
    while True:
        value = fn()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(interval)


def stop(proc, grace=3):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(grace)


class Image:
    """An RGB picture read from a binary PPM."""

    def __init__(self, ppm):
        # The header is "P6 width height 255" and one whitespace byte; the pixels fill the rest.
        fields = ppm[:32].split()
        check(len(fields) >= 4 and fields[0] == b"P6" and fields[3] == b"255", "import gave no 8-bit PPM")
        self.w, self.h = int(fields[1]), int(fields[2])
        size = self.w * self.h * 3
        check(0 < size < len(ppm), "short PPM from import")
        self.data = ppm[-size:]

    def at(self, x, y):
        i = (y * self.w + x) * 3
        return tuple(self.data[i:i + 3])

    def __eq__(self, other):
        return self.data == other.data


def is_ink(c):
    """The brush's greys (51 and 102) and nothing of the frame or backdrop."""
    return c[0] == c[1] == c[2] and c[0] < 128


class Display:
    """A private Xvfb with openbox on the first free display from :91."""

    def __init__(self):
        self.xvfb = self.wm = None
        self.env = dict(os.environ)

    def start(self):
        for n in range(91, 160):
            if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
                continue
            self.env["DISPLAY"] = f":{n}"
            # -noreset: without it the server resets when its last client leaves,
            # and a client connecting just then (openbox after the probe) is refused.
            self.xvfb = subprocess.Popen(
                ["Xvfb", f":{n}", "-screen", "0", f"{SCREEN_W}x{SCREEN_H}x24", "-nolisten", "tcp", "-noreset"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if poll(lambda: self.xvfb.poll() is not None or self.x("xprop", "-root").returncode == 0, 10) \
                    and self.xvfb.poll() is None:
                break
            stop(self.xvfb)  # lost a race for this display, or it never came up
            self.xvfb = None
        check(self.xvfb is not None, "no free display for Xvfb")
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        check(poll(lambda: "window id" in self.x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK").stdout, 10),
              f"openbox did not start (status {self.wm.poll()})")

    def x(self, *args, timeout=10):
        """Runs an X client on this display and returns its completed process."""
        try:
            return subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            return subprocess.CompletedProcess(args, -1, "", f"{args[0]} timed out")

    def windows(self, title):
        """Ids of the managed windows with this title, from wmctrl's list."""
        ids = []
        for line in self.x("wmctrl", "-l").stdout.splitlines():
            parts = line.split(None, 3)
            if len(parts) == 4 and parts[3] == title:
                ids.append(int(parts[0], 16))
        return ids

    def info(self, wid):
        info = {}
        for line in self.x("xwininfo", "-id", str(wid)).stdout.splitlines():
            key, _, value = line.strip().partition(":")
            info[key] = value.strip()
        return info

    def viewable(self, wid):
        return self.info(wid).get("Map State") == "IsViewable"

    def geometry(self, wid):
        """(x, y, width, height) of a window's client area on the screen."""
        info = self.info(wid)
        try:
            return tuple(int(info[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))
        except (KeyError, ValueError):
            raise Failure(f"xwininfo knows no window {wid}")

    def prop(self, wid, name):
        return self.x("xprop", "-id", str(wid), name).stdout

    def grab(self, x, y, w, h):
        r = subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                            "-depth", "8", "ppm:-"], env=self.env, capture_output=True, timeout=10)
        check(r.returncode == 0, "import failed: " + r.stderr.decode(errors="replace").strip())
        return Image(r.stdout)

    def save(self, wid, path):
        """A PNG of the window with its title bar."""
        r = self.x("import", "-frame", "-window", str(wid), path)
        check(r.returncode == 0, "import failed: " + r.stderr.strip())

    def activate(self, wid):
        r = self.x("xdotool", "windowactivate", "--sync", str(wid), timeout=5)
        check(r.returncode == 0, f"could not activate window {wid}: {r.stderr.strip()}")
        # SDL passes a focus change on up to 200 ms late, and the program
        # resets its keys then: keys pressed before that would be lost.
        time.sleep(0.5)

    def keys(self, *args):
        r = self.x("xdotool", *args)
        check(r.returncode == 0, f"xdotool {' '.join(args)} failed: {r.stderr.strip()}")

    def close(self):
        stop(self.wm)
        stop(self.xvfb)


class Program:
    """One run of the program, started from a working directory of its own."""

    def __init__(self, display, exe):
        self.display = display
        self.cwd = tempfile.mkdtemp(prefix="twindial-e2e-")
        self.stderr = open(os.path.join(self.cwd, "stderr.txt"), "w+")
        self.proc = subprocess.Popen([exe], cwd=self.cwd, env=display.env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.stderr)
        try:
            self.find_window()
        except BaseException:
            self.close()
            raise

    def find_window(self):
        display = self.display
        ids = poll(lambda: display.windows(TITLE) or self.proc.poll() is not None, 10)
        check(self.proc.poll() is None, f"the program ended at start-up with status {self.proc.poll()}")
        check(ids, "no window titled " + TITLE)
        self.wid = ids[0]
        check(poll(lambda: display.viewable(self.wid), 5), "the window is never shown")
        self.x, self.y, self.w, self.h = display.geometry(self.wid)

    def grab(self):
        return self.display.grab(self.x, self.y, CLIENT_W, CLIENT_H)

    def first_picture(self):
        """The first frame the program shows: waits until the toy's body is on screen."""
        img = poll(lambda: (lambda i: i if i.at(20, 20) == RED else None)(self.grab()), 10)
        check(img, "the toy frame never appeared")
        return img

    def settled(self):
        """A picture taken once two grabs 100 ms apart are equal."""
        last = self.grab()

        def same():
            nonlocal last
            time.sleep(0.1)
            now = self.grab()
            equal, last = now == last, now
            return equal
        check(poll(same, 5, 0), "the picture never stood still")
        return last

    def wait_exit(self, timeout=10):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout} s")

    def errors(self):
        self.stderr.seek(0)
        return self.stderr.read()

    def close(self):
        stop(self.proc)
        self.stderr.close()
        shutil.rmtree(self.cwd, ignore_errors=True)


def trail_end(img, x):
    """The rightmost column of the ink run on rows 300-302 that starts at column x."""
    while x + 1 < CLIENT_W and all(is_ink(img.at(x + 1, y)) for y in range(300, 303)):
        x += 1
    return x


def check_blank_but_mark(img, mark_x, when):
    """The drawing area is bare backdrop but for the 3x3 mark at (mark_x, 300)."""
    x0, y0, x1, y1 = AREA
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            c = img.at(x, y)
            if mark_x <= x < mark_x + 3 and 300 <= y < 303:
                check(is_ink(c), f"no mark at ({x}, {y}) {when}: {c}")
            else:
                check(c == BACKDROP, f"the drawing area shows {c} at ({x}, {y}) {when}")


class Cases:
    """The cases share one run of the program, in order; the pen's place is carried along."""

    def __init__(self, display, exe, shot):
        self.display, self.exe, self.shot = display, exe, shot
        self.prog = Program(display, exe)
        self.pen_x = MARK[0]

    def window(self):
        # The caption is checked already: the window was found by its title.
        d, p = self.display, self.prog
        check(p.w == CLIENT_W and p.h == CLIENT_H, f"client area {p.w}x{p.h}, not {CLIENT_W}x{CLIENT_H}")
        want = (SCREEN_W // 2 - CLIENT_W // 2, SCREEN_H // 2 - CLIENT_H // 2)
        check((p.x, p.y) == want, f"client area at {(p.x, p.y)}, not centred at {want}")
        hints = d.prop(p.wid, "WM_NORMAL_HINTS")
        check(f"minimum size: {CLIENT_W} by {CLIENT_H}" in hints and f"maximum size: {CLIENT_W} by {CLIENT_H}" in hints,
              "size hints do not fix the size: " + " ".join(hints.split()))
        actions = d.prop(p.wid, "_NET_WM_ALLOWED_ACTIONS")
        check("_NET_WM_ACTION_CLOSE" in actions, "openbox read no allowed actions: " + actions.strip())
        for banned in ("MAXIMIZE_HORZ", "MAXIMIZE_VERT", "RESIZE"):
            check("_NET_WM_ACTION_" + banned not in actions, f"openbox allows {banned.lower()}")
        # Ask the window manager to maximise anyway: the window must keep its size.
        d.x("wmctrl", "-i", "-r", f"{p.wid:#x}", "-b", "add,maximized_vert,maximized_horz")
        time.sleep(0.3)
        check(d.geometry(p.wid) == (p.x, p.y, CLIENT_W, CLIENT_H), f"maximising changed it to {d.geometry(p.wid)}")

    def first_picture(self):
        img = self.prog.first_picture()
        self.display.save(self.prog.wid, self.shot)
        check(img.at(20, 20) == RED and img.at(780, 580) == RED, "the body is not red")
        check_blank_but_mark(img, 400, "at start-up")
        # Walk along the middle row of the left knob: the first pixel that is not
        # the body is its outline, which lets the backdrop through.
        x = 20
        while x < 120 and img.at(x, 542) == RED:
            x += 1
        check(img.at(x, 542) == BACKDROP, f"the left knob's outline at ({x}, 542) shows {img.at(x, 542)}")
        check(img.at(x + 2, 542) == KNOB, f"the left knob's disc is {img.at(x + 2, 542)}, not blue")

    def held_arrow(self):
        d, p = self.display, self.prog
        d.activate(p.wid)
        d.keys("keydown", "Right")
        try:
            time.sleep(2)
        finally:
            d.keys("keyup", "Right")
        img = p.settled()
        end = trail_end(img, MARK[0])
        drawn = end - (MARK[0] + 2)
        self.pen_x = end - 2
        for x in range(MARK[0], end + 1):
            check(img.at(x, 299) == BACKDROP and img.at(x, 303) == BACKDROP,
                  f"the line is not 3 pixels high at column {x}")
        check(110 <= drawn <= 130, f"a 2 s hold drew {drawn} pixels, not about 120")
        check(img.at(end + 1, 301) == BACKDROP, f"something beyond the line's end at ({end + 1}, 301)")

    def shake(self):
        d, p = self.display, self.prog
        d.keys("key", "BackSpace")
        img = p.settled()
        check(img.at(20, 20) == RED, "the frame did not come back after the shake")
        check_blank_but_mark(img, self.pen_x, "after the shake")

    def focus_switch(self):
        d, p = self.display, self.prog
        other = subprocess.Popen(["xmessage", "-title", "Other", "-geometry", "+0+0", "hi"], env=d.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            ids = poll(lambda: d.windows("Other"), 10)
            check(ids, "xmessage showed no window")
            d.activate(p.wid)
            start = self.pen_x + 2
            d.keys("keydown", "Right")
            try:
                time.sleep(0.5)
                d.activate(ids[0])
                away = trail_end(p.settled(), start)
                check(away > start, "the held key drew nothing before the switch")
                d.activate(p.wid)
                time.sleep(1)
                back = trail_end(p.settled(), start)
            finally:
                d.keys("keyup", "Right")
            released = trail_end(p.settled(), start)
            self.pen_x = released - 2
            check(back == away, f"the line grew by {back - away} pixels after the switch back")
            check(released == back, f"the line grew by {released - back} pixels around the release")
        finally:
            stop(other)

    def escape(self):
        d, p = self.display, self.prog
        d.activate(p.wid)
        d.keys("key", "Escape")
        boxes = poll(lambda: [w for w in d.windows(TITLE) if w != p.wid], 5)
        check(boxes, "Escape showed no notice box")
        box = boxes[0]
        d.save(box, os.path.splitext(self.shot)[0] + "-notice.png")
        check(p.proc.poll() is None, "the program ended while the notice was up")
        check(f"{p.wid:#x}" in d.prop(box, "WM_TRANSIENT_FOR"), "the notice box is not owned by the window")
        check("_NET_WM_STATE_MODAL" in d.prop(box, "_NET_WM_STATE"), "the notice box is not modal")
        active = poll(lambda: d.x("xdotool", "getactivewindow").stdout.strip() == str(box), 5)
        check(active, "the notice box does not have the focus")
        d.keys("key", "Return")
        status = p.wait_exit()
        check(status == 0, f"exit status {status} after dismissing the notice")
        check("Visit" not in p.errors(), "the notice went to standard error instead of a box")
        check(not d.windows(TITLE), "a window is left after the end")

    def closes(self):
        """A close from the window manager, by each way a user has: no notice, status 0."""
        def wm_close(d, wid):
            d.x("wmctrl", "-i", "-c", f"{wid:#x}")

        def alt_f4(d, wid):
            d.activate(wid)
            d.keys("key", "alt+F4")
        ways = [("wmctrl -c", wm_close), ("Alt+F4", alt_f4)]
        for name, close in ways:
            prog = Program(self.display, self.exe)
            try:
                prog.first_picture()
                close(self.display, prog.wid)
                boxes = set()

                def gone():
                    boxes.update(w for w in self.display.windows(TITLE) if w != prog.wid)
                    return prog.proc.poll() is not None
                ended = poll(gone, 10)
                check(not boxes, f"{name}: a notice box appeared")
                check(ended, f"{name}: the program did not end")
                check(prog.proc.returncode == 0, f"{name}: exit status {prog.proc.returncode}")
                check("Visit" not in prog.errors(), f"{name}: the notice was written to standard error")
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

    def run(self):
        passed = failed = 0
        try:
            for name, case in self.cases():
                try:
                    case()
                    print("PASS", name, flush=True)
                    passed += 1
                except Exception as e:  # a broken case is reported, never crashes the run
                    print(f"FAIL {name}: {e}", flush=True)
                    failed += 1
                    if isinstance(e, TimeoutError):
                        break
        finally:
            self.prog.close()
        return passed, failed


def run_suite(cases_class, exe, shot, watchdog_s):
    """Runs the cases in a private X session; prints the summary line and
    returns the exit status. Nothing may take longer than watchdog_s."""
    def watchdog(signum, frame):
        raise TimeoutError(f"the run took longer than {watchdog_s} s")

    signal.signal(signal.SIGALRM, watchdog)
    signal.alarm(watchdog_s)
    display = Display()
    passed = failed = 0
    try:
        display.start()
        passed, failed = cases_class(display, exe, shot).run()
    except Exception as e:
        print("FAIL setup:", e)
        failed += 1
    finally:
        signal.alarm(0)
        display.close()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: e2e_test.py PATH/TO/twindial [SCREENSHOT.png]")
    exe = os.path.abspath(sys.argv[1])
    shot = os.path.abspath(sys.argv[2]) if len(sys.argv) == 3 else os.path.join(os.path.dirname(exe), "e2e-screenshot.png")
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing or not os.access(exe, os.X_OK):
        print("FAIL setup:", f"missing {' '.join(missing)}" if missing else f"{exe} is not an executable")
        print("0 passed, 1 failed")
        return 1
    return run_suite(Cases, exe, shot, WATCHDOG_S)


if __name__ == "__main__":
    sys.exit(main())
