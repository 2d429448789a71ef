#!/usr/bin/env python3
"""End-to-end test of the snapshot on Enter, in a private X session (xharness).

    snapshot_e2e.py PATH/TO/twindial

Each run copies the program into a fresh folder of its own (it saves beside
its executable), types keys and compares the window's pixels with the file.
The full-disk case mounts a small tmpfs as "current_save", which needs root;
without that it is skipped. Prints "PASS name", "SKIP name: why" or "FAIL
name: why" per case and "N passed, M failed"; the exit status is non-zero if
any case failed. Every wait is bounded and a watchdog ends the whole run.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import xharness as xh  # noqa: E402
from xharness import check, poll  # noqa: E402

TOY = xh.toy()
WATCHDOG_S = 240
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
SAVED_TEXT = "image saved to current_image"
NOT_SAVED = "The image was not saved to current_save/save.bmp: "
TRAIL = (TOY.pen_start[0] + 1, TOY.pen_start[1] + 1)  # the brush's centre at the start


def told(err, reason):
    """Standard error has the line that says the snapshot was not saved, and why."""
    return any(line.startswith(NOT_SAVED) and reason in line for line in err.splitlines())


class Run:
    """The program copied into a folder of its own and started from there."""

    def __init__(self, session, exe, folder):
        self.x, self.folder = session, folder
        self.save = os.path.join(folder, "current_save", "save.bmp")
        self.prog = session.start([shutil.copy(exe, os.path.join(folder, "twindial"))])
        self.prog.activate()

    def press(self, key):
        self.prog.activate(settle=0.1)
        self.prog.key(key)

    def notice(self, key="Return"):
        """Types a key; the notice box it brings up."""
        return self.prog.notice(key)

    def dismiss(self):
        self.prog.dismiss_notice()

    def quit(self):
        """Escape, the exit notice dismissed, then status 0 and no window left."""
        self.notice("Escape")
        self.dismiss()
        status = self.prog.wait_exit(10)
        check(status == 0, f"exit status {status}")
        check(poll(lambda: not self.x.windows(TOY.title), 5), "a window is left after the end")

    def shown_and_file(self):
        """The window's picture and the snapshot file's pixels (its content is PNG despite the name)."""
        with open(self.save, "rb") as f:
            check(f.read(8) == PNG_SIGNATURE, "no PNG signature")
        return xh.Image.load("png:" + self.save)

    def listing(self):
        return sorted(os.listdir(os.path.join(self.folder, "current_save")))


class Cases:
    def __init__(self, session, exe, work):
        self.x, self.exe, self.work = session, exe, work
        self.first = None  # the run the first three cases share
        self.first_inode = None
        self.mounted = None

    def folder(self, name, current_save=True):
        folder = os.path.join(self.work, name)
        os.makedirs(os.path.join(folder, "current_save") if current_save else folder)
        return folder

    def run(self, name, current_save=True):
        return Run(self.x, self.exe, self.folder(name, current_save))

    def enter_saves_the_window_as_shown(self):
        r = self.first = self.run("run1")
        r.prog.hold("Right", 0.4)
        shown = r.prog.settled()
        r.notice("Return")
        check(os.path.exists(r.save), "no current_save/save.bmp")
        self.first_inode = os.stat(r.save).st_ino
        check(r.shown_and_file() == shown, "the file differs from the window")
        check(r.shown_and_file().at(*TRAIL) != TOY.backdrop, "the snapshot shows no trail")
        check(not r.prog.stderr_text(), "standard error: " + r.prog.stderr_text())

    def dismissing_the_notice_makes_no_second_file(self):
        r = self.first
        check(r, "no first run")
        r.dismiss()
        time.sleep(0.5)
        check(not r.prog.boxes(), "a second notice appeared")
        check(os.stat(r.save).st_ino == self.first_inode, "a second snapshot was written")
        check(r.listing() == ["save.bmp"], f"current_save holds {r.listing()}")

    def shake_then_enter_saves_the_blank_screen(self):
        r = self.first
        check(r, "no first run")
        size = os.stat(r.save).st_size
        r.press("BackSpace")
        time.sleep(0.3)
        shown = r.prog.settled()
        r.notice("Return")
        check(os.stat(r.save).st_ino != self.first_inode, "the file was not replaced")
        check(os.stat(r.save).st_size == size, f"length {os.stat(r.save).st_size}, before {size}")
        saved = r.shown_and_file()
        check(saved == shown, "the file differs from the window")
        check(saved.at(*TRAIL) == TOY.backdrop, "the trail survived the shake")
        r.dismiss()
        r.quit()

    def no_folder_writes_nothing_and_tells(self):
        r = self.run("run2", current_save=False)
        r.notice("Return")
        err = r.prog.stderr_text()
        check(told(err, "No such file or directory"), "standard error: " + err)
        check(SAVED_TEXT not in err, "the confirmation went to standard error")
        check(sorted(os.listdir(r.folder)) == ["twindial"], f"the folder holds {sorted(os.listdir(r.folder))}")
        r.dismiss()
        r.quit()

    def full_disk_keeps_the_old_snapshot(self):
        folder = self.folder("run3")
        save_dir = os.path.join(folder, "current_save")
        # Room for one snapshot but not for a second beside it.
        mount = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=3m", "tmpfs", save_dir], capture_output=True)
        if mount.returncode != 0:
            raise xh.Skip("cannot mount a tmpfs")
        self.mounted = save_dir
        r = Run(self.x, self.exe, folder)
        r.notice("Return")
        r.dismiss()
        check(os.path.exists(r.save), "the first snapshot was not written: " + r.prog.stderr_text())
        before = hashlib.sha256(open(r.save, "rb").read()).hexdigest()
        r.prog.activate(settle=0.1)
        r.prog.hold("Down", 0.3)
        r.notice("Return")
        err = r.prog.stderr_text()
        check("Error writing to stream" in err, "no write error on standard error: " + err)
        check(told(err, "No space left on device"), "standard error: " + err)
        check(hashlib.sha256(open(r.save, "rb").read()).hexdigest() == before, "the old snapshot changed")
        check(r.listing() == ["save.bmp"], f"current_save holds {r.listing()}")
        r.dismiss()
        time.sleep(0.3)
        check(r.prog.proc.poll() is None, "the program ended")
        check(r.prog.grab().at(20, 20) == TOY.body, "the toy is no longer shown")
        r.quit()

    def cases(self):
        return [(f.__name__, f) for f in (
            self.enter_saves_the_window_as_shown,
            self.dismissing_the_notice_makes_no_second_file,
            self.shake_then_enter_saves_the_blank_screen,
            self.no_folder_writes_nothing_and_tells,
            self.full_disk_keeps_the_old_snapshot,
        )]

    def close(self):
        if self.mounted:
            subprocess.run(["umount", self.mounted], capture_output=True)
            self.mounted = None


def main(argv):
    if len(argv) != 1:
        sys.exit("usage: snapshot_e2e.py PATH/TO/twindial")
    exe = os.path.abspath(argv[0])

    def body():
        check(os.access(exe, os.X_OK), f"{exe} is not an executable")
        work = tempfile.mkdtemp(prefix="twindial-snapshot-")
        cases = None
        try:
            with xh.XSession() as x:
                cases = Cases(x, exe, work)
                try:
                    return xh.run_cases(cases.cases())
                finally:
                    x.close()  # the programs first: the tmpfs is busy while one runs there
                    cases.close()
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return xh.suite_main(body, WATCHDOG_S)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
