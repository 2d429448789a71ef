#!/usr/bin/env python3
"""End-to-end tests of the Linux program's notice box, in private X sessions (Xvfb, openbox).

    notice_e2e_test.py PATH/TO/twindial [FOLDER]

The box is the desktop's GTK information dialog: owned by the toy's window,
modal, kept above other windows, captioned with the toy's title, showing the
information icon and the text, closed by Enter or Escape. Where GTK cannot
show it, SDL's box is shown; where that fails too, the text goes to standard
error and the program carries on. Pictures of the boxes are written to FOLDER
(default: beside the program) for a person to look at. Prints "PASS name" or
"FAIL name: why" per case and "N passed, M failed".
"""
import contextlib
import os
import shutil
import sys
import tempfile
import time

import xharness as xh
from xharness import check, poll

LOOK = xh.toy()
EXIT_TEXT = "Visit https://twindial.example for product updates and more info on Twindial"
SAVED_TEXT = "image saved to current_image, Please backup your image before starting a new one!"
WATCHDOG_S = 300
# Settings under which GTK has something to say on standard error unless the program keeps it quiet:
# a GTK module that is not installed, and a session bus that is not there.
# The information icon of GTK's default theme at the size of a dialog's icon (48 pixels).
INFO_ICON = "/usr/share/icons/Adwaita/48x48/legacy/dialog-information.png"
LOUD_GTK = {"GTK_MODULES": "twindial-no-such-module", "DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/bus"}


def box_kind(session, wid):
    """"gtk" for the desktop's dialog (GTK names the window's class after the program), "sdl" for
    SDL's box, which names none."""
    return "gtk" if '"twindial"' in session.prop(wid, "WM_CLASS") else "sdl"


def open_box(prog, key):
    """Presses a key in the toy's window and returns the box that comes up."""
    prog.activate()
    prog.key(key)
    boxes = poll(prog.boxes, 10)
    check(boxes, f"{key} showed no box")
    return boxes[0]


def dismiss(prog, box, key):
    prog.key(key)
    check(poll(lambda: box not in prog.boxes(), 5), f"{key} did not close the box")


def check_owned_and_on_top(session, prog, box):
    check(f"{prog.window:#x}" in session.prop(box, "WM_TRANSIENT_FOR"),
          "the box is not transient for the toy's window: " + session.prop(box, "WM_TRANSIENT_FOR").strip())
    state = session.prop(box, "_NET_WM_STATE")
    for atom in ("_NET_WM_STATE_ABOVE", "_NET_WM_STATE_MODAL"):
        check(atom in state, f"{atom} is not in the box's state: {state.strip()}")
    name = session.prop(box, "_NET_WM_NAME")
    check(name.strip().endswith(f'= "{LOOK.title}"'), "caption: " + name.strip())
    check(poll(lambda: session.active_window() == box, 5), "the box does not have the focus")


def is_dark(c):
    return sum(c) < 3 * 110


def find_icon(img, bg, x0, x1, y1):
    """Whether the theme's information icon, laid on the background, stands somewhere in the
    columns x0..x1 above row y1 (off by at most 3 in a channel, for rounding)."""
    check(os.path.exists(INFO_ICON), f"{INFO_ICON} is missing (Debian's adwaita-icon-theme)")
    icon = xh.Image.load("-background", "rgb({},{},{})".format(*bg), INFO_ICON, "-flatten")
    cells = [(x, y, icon.at(x, y)) for y in range(icon.h) for x in range(icon.w) if icon.at(x, y) != bg]
    for oy in range(0, y1 - icon.h + 1):
        for ox in range(max(0, x1 + 1 - icon.w), min(x0, img.w - icon.w) + 1):
            if all(max(abs(a - b) for a, b in zip(img.at(ox + x, oy + y), c)) <= 3 for x, y, c in cells):
                return True
    return False


def check_icon_and_text(img):
    """The box's client area: above the button, an icon at the left and a wide run of dark glyphs
    beside it, each standing apart from the dialog's background."""
    counts = {}
    for i in range(0, len(img.data), 3):
        counts[img.data[i:i + 3]] = counts.get(img.data[i:i + 3], 0) + 1
    bg = tuple(max(counts, key=counts.get))
    # The button's top edge: the first row from the top that differs from the background nearly all across.
    top = next((y for y in range(img.h) if sum(img.at(x, y) != bg for x in range(img.w)) > 0.9 * img.w), img.h)
    check(top > 16, f"no message area above the button (edge at row {top})")
    used = [any(img.at(x, y) != bg for y in range(top)) for x in range(img.w)]
    # Runs of columns with something drawn, split by 8 or more bare columns.
    runs, start, gap = [], None, 0
    for x, u in enumerate(used + [False] * 8):
        if u:
            start, gap = (x if start is None else start), 0
        elif start is not None:
            gap += 1
            if gap == 8:
                runs.append((start, x - 8))
                start = None
    check(len(runs) >= 2, f"expected an icon and the text above the button, found column runs {runs}")
    (i0, i1), (t0, t1) = runs[0], (runs[1][0], runs[-1][1])
    check(16 <= i1 - i0 + 1 <= 64, f"the icon area at columns {i0}-{i1} is not icon-sized")
    icon = [img.at(x, y) for x in range(i0, i1 + 1) for y in range(top)]
    check(sum(c != bg for c in icon) >= 100, "the icon area is nearly all background")
    check(find_icon(img, bg, i0, i1, top), f"the icon at columns {i0}-{i1} is not the theme's {INFO_ICON}")
    glyphs = [x for x in range(t0, t1 + 1) if any(is_dark(img.at(x, y)) for y in range(top))]
    check(glyphs and glyphs[-1] - glyphs[0] > 300, f"no line of text beside the icon (dark columns {glyphs[:1]}..)")
    return bg


class Cases:
    def __init__(self, exe, folder, no_fonts, no_gtk):
        self.exe, self.folder = exe, folder
        self.no_fonts, self.no_gtk = no_fonts, no_gtk

    @contextlib.contextmanager
    def started(self, session, env=None, saves=False):
        """The program, run from a copy in a folder of its own (the snapshot lands beside it), and
        ended afterwards whatever the case found."""
        cwd = tempfile.mkdtemp(prefix="twindial-notice-")
        if saves:
            os.mkdir(os.path.join(cwd, "current_save"))
        shutil.copy(self.exe, cwd)
        try:
            prog = session.start([os.path.join(cwd, "twindial")], cwd=cwd, env=env)
        except BaseException:
            shutil.rmtree(cwd, ignore_errors=True)
            raise
        prog.own_cwd = True
        try:
            yield prog
        finally:
            prog.close()

    def exit_by(self, prog, box, key):
        """Closes the exit notice with a key; the program must end with status 0."""
        dismiss(prog, box, key)
        status = prog.wait_exit()
        check(status == 0, f"exit status {status} after the notice")

    # -- the desktop's dialog ---------------------------------------------------

    def exit_notice_is_the_desktop_dialog(self, session, picture, dismiss_key):
        with self.started(session, env=LOUD_GTK) as prog:
            quiet = len(prog.stderr_text())
            box = open_box(prog, "Escape")
            check(box_kind(session, box) == "gtk", "the box is not GTK's dialog")
            check(prog.proc.poll() is None, "the program ended while the notice was up")
            check_owned_and_on_top(session, prog, box)
            time.sleep(0.3)  # drawn once mapped and focused
            img = session.grab(*session.geometry(box))
            img.save_png(os.path.join(self.folder, picture))
            session.screenshot(os.path.join(self.folder, "screen-" + picture))
            check_icon_and_text(img)
            self.exit_by(prog, box, dismiss_key)
            check(prog.stderr_text()[quiet:] == "", "written to standard error: " + prog.stderr_text()[quiet:])
            check(not session.windows(LOOK.title), "a window is left after the end")

    def held_opener_and_keys_in_the_box(self, session):
        """Enter held while its box comes up, keys typed into the box: none of them reach the toy."""
        with self.started(session, saves=True) as prog:
            quiet = len(prog.stderr_text())
            save = os.path.join(prog.cwd, "current_save", "save.bmp")
            before = prog.settled()
            prog.activate()
            prog.key_down("Return")
            try:
                boxes = poll(prog.boxes, 10)
                check(boxes, "Enter showed no box")
                box = boxes[0]
                time.sleep(1.0)  # auto-repeat of the held Enter goes to the box
            finally:
                prog.key_up("Return")
            time.sleep(0.5)
            check(box in prog.boxes(), "the held Enter or its release closed the box")
            check(poll(lambda: os.path.exists(save), 5), "no snapshot was written")
            inode = os.stat(save).st_ino
            check(session.active_window() == box, "the box does not have the focus")
            prog.hold("Right", 1.0)
            prog.key("BackSpace")
            check(box in prog.boxes(), "arrow or Backspace closed the box")
            dismiss(prog, box, "Escape")
            time.sleep(0.5)
            check(not prog.boxes(), "a second box came up")
            check(os.stat(save).st_ino == inode, "the Enter held in the box made another snapshot")
            after = prog.settled()
            moved = before.differences(after)
            check(not moved, f"keys typed into the box changed the toy at {moved[:3]}...")
            # Enter did not stick in the tables: a new press makes a new snapshot and box.
            box = open_box(prog, "Return")
            check(poll(lambda: os.stat(save).st_ino != inode, 5), "a second Enter made no snapshot")
            inode = os.stat(save).st_ino
            dismiss(prog, box, "Return")
            time.sleep(0.5)
            check(not prog.boxes() and os.stat(save).st_ino == inode, "the Enter that closed the box made a snapshot")
            self.exit_by(prog, open_box(prog, "Escape"), "Return")
            check(prog.stderr_text()[quiet:] == "", "written to standard error: " + prog.stderr_text()[quiet:])

    # -- the fallbacks ------------------------------------------------------------

    def sdl_box_where_gtk_cannot(self, session, env):
        with self.started(session, env=env) as prog:
            box = open_box(prog, "Escape")
            check(box_kind(session, box) == "sdl", "GTK's dialog came up")
            check(f"{prog.window:#x}" in session.prop(box, "WM_TRANSIENT_FOR"), "SDL's box is not owned by the toy")
            self.exit_by(prog, box, "Return")
            check(EXIT_TEXT not in prog.stderr_text(), "the notice also went to standard error")

    def text_on_stderr_where_no_box_can_be_shown(self, session, env):
        with self.started(session, env=env, saves=True) as prog:
            prog.activate()
            prog.key("Return")
            check(poll(lambda: SAVED_TEXT in prog.stderr_text(), 10), "the confirmation is not on standard error")
            time.sleep(0.3)
            check(prog.proc.poll() is None, "the program ended after the confirmation")
            check(prog.grab().at(20, 20) == LOOK.body, "the toy is no longer shown")
            prog.key("Escape")
            status = prog.wait_exit()
            check(status == 0, f"exit status {status}")
            check(prog.stderr_text().endswith(SAVED_TEXT + "\n" + EXIT_TEXT + "\n"), "standard error: " + prog.stderr_text())
            check(not prog.boxes(), "a box was shown")

    def run(self):
        no_gtk = {"LD_LIBRARY_PATH": self.no_gtk}
        passed = failed = 0
        with xh.XSession() as s:
            p, f = xh.run_cases([
                ("exit_notice_is_the_desktop_dialog_enter",
                 lambda: self.exit_notice_is_the_desktop_dialog(s, "notice-box.png", "Return")),
                ("held_enter_and_keys_in_the_box_reach_nothing", lambda: self.held_opener_and_keys_in_the_box(s)),
                ("no_gtk_library_gives_sdl_box", lambda: self.sdl_box_where_gtk_cannot(s, no_gtk)),
                ("gtk_without_its_display_gives_sdl_box",
                 lambda: self.sdl_box_where_gtk_cannot(s, {"GDK_BACKEND": "wayland"})),
            ])
            passed, failed = passed + p, failed + f
        # Without the X core fonts: only the server's built-in ones are left.
        with xh.XSession(font_path=self.no_fonts) as s:
            p, f = xh.run_cases([
                ("without_core_fonts_the_dialog_shows_escape",
                 lambda: self.exit_notice_is_the_desktop_dialog(s, "notice-box-no-core-fonts.png", "Escape")),
                ("without_gtk_and_core_fonts_text_on_stderr",
                 lambda: self.text_on_stderr_where_no_box_can_be_shown(s, no_gtk)),
            ])
            passed, failed = passed + p, failed + f
        return passed, failed


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: notice_e2e_test.py PATH/TO/twindial [FOLDER]")
    exe = os.path.abspath(sys.argv[1])
    folder = os.path.abspath(sys.argv[2]) if len(sys.argv) == 3 else os.path.join(os.path.dirname(exe), "notice-e2e")
    os.makedirs(folder, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="twindial-notice-fixtures-")
    try:
        no_fonts = os.path.join(scratch, "no-fonts")
        os.mkdir(no_fonts)
        # A GTK that cannot be loaded: a file of that name the loader finds first and rejects.
        no_gtk = os.path.join(scratch, "no-gtk")
        os.mkdir(no_gtk)
        open(os.path.join(no_gtk, "libgtk-3.so.0"), "wb").close()
        return xh.suite_main(Cases(exe, folder, no_fonts, no_gtk).run, WATCHDOG_S)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
