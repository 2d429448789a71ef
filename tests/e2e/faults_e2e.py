#!/usr/bin/env python3
"""Faults a user can meet, tried on the real program in private X sessions (xharness).

    faults_e2e.py PATH/TO/twindial

- The X server dies, while the toy runs or while a notice box is up: the
  program ends at once with one line on standard error and status 1.
- SIGTERM or SIGINT, to the program or to its whole process group (Ctrl+C
  in a terminal): the program ends through its exit steps with status 0; a
  notice box up closes first.
- Links planted in current_save where the snapshot's temporary file went
  (the old fixed name save.bmp.tmp), pointing at a file or at nowhere, and
  save.bmp itself a link: the snapshot is saved and the link's target is
  left as it was.

After each fault the folder is checked too: the previous save.bmp byte for
byte (or the new snapshot, whole, where the save came before the fault) and
no temporary file left in current_save. Prints "PASS name" or "FAIL name:
why" per case and "N passed, M failed"; the exit status is non-zero if any
case failed. Every wait is bounded and a watchdog ends the whole run.
"""
import os
import shutil
import signal
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import xharness as xh  # noqa: E402
from xharness import check, poll  # noqa: E402

TOY = xh.toy()
WATCHDOG_S = 240
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
LOST_DISPLAY = "twindial: lost the connection to the display "
PREVIOUS = PNG_SIGNATURE + b"the previous snapshot, kept byte for byte"


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Run:
    """The program copied into a folder of its own, with a previous save.bmp, started in a session."""

    def __init__(self, session, exe, folder):
        self.x, self.folder = session, folder
        self.save_dir = os.path.join(folder, "current_save")
        self.save = os.path.join(self.save_dir, "save.bmp")
        os.makedirs(self.save_dir)
        with open(self.save, "wb") as f:
            f.write(PREVIOUS)
        self.prog = session.start([shutil.copy(exe, os.path.join(folder, "twindial"))], cwd=folder)
        self.prog.activate()

    def use(self):
        """Some drawing and a shake, so the fault meets a program at work."""
        self.prog.hold("Right", 0.3)
        self.prog.key("BackSpace")
        self.prog.hold("Down", 0.3)

    def notice(self):
        """Enter; the snapshot's notice box."""
        return self.prog.notice("Return")

    def dismiss(self):
        self.prog.dismiss_notice()

    def err_lines(self):
        return self.prog.stderr_text().splitlines()

    def ends(self, timeout=10):
        """The exit status and the seconds it took from now."""
        t0 = time.monotonic()
        status = self.prog.wait_exit(timeout)
        return status, time.monotonic() - t0

    def left_on_disk(self, previous_kept=True):
        """current_save holds save.bmp only: the previous one byte for byte, or a whole new snapshot."""
        listing = sorted(os.listdir(self.save_dir))
        check(listing == ["save.bmp"], f"current_save holds {listing}")
        if previous_kept:
            check(read(self.save) == PREVIOUS, "the previous save.bmp changed")
        else:
            check(read(self.save)[:8] == PNG_SIGNATURE, "save.bmp is no PNG")
            picture = xh.Image.load("png:" + self.save)
            check((picture.w, picture.h) == (TOY.width, TOY.height), f"save.bmp is {picture.w}x{picture.h}")


class Cases:
    def __init__(self, exe, work):
        self.exe, self.work = exe, work
        self.count = 0

    def run(self, session):
        self.count += 1
        return Run(session, self.exe, os.path.join(self.work, f"run{self.count}"))

    # -- the X server dies ------------------------------------------------------

    def x_server_dies(self, during_notice):
        with xh.XSession() as x:
            r = self.run(x)
            r.use()
            if during_notice:
                r.notice()
            before = r.err_lines()
            x.xvfb.kill()
            status, seconds = r.ends()
            print(f"  the program ended {seconds:.2f} s after the X server, status {status}", flush=True)
            added = r.err_lines()[len(before):]
            check(status == 1, f"exit status {status}")
            check(len(added) == 1 and added[0].startswith(LOST_DISPLAY), f"standard error got {added}")
            # The snapshot came before the box: it is whole.
            r.left_on_disk(previous_kept=not during_notice)

    def x_server_dies_while_the_toy_runs(self):
        self.x_server_dies(during_notice=False)

    def x_server_dies_while_a_notice_is_up(self):
        self.x_server_dies(during_notice=True)

    # -- signals ----------------------------------------------------------------

    def quit_signal(self, session, sig, to_group=False, during_notice=False):
        r = self.run(session)
        r.use()
        if during_notice:
            r.notice()
        before = r.err_lines()
        if to_group:
            os.killpg(r.prog.pid, sig)  # Ctrl+C in a terminal
        else:
            os.kill(r.prog.pid, sig)
        # A notice box up closes by itself.
        status, _ = r.ends()
        added = r.err_lines()[len(before):]
        check(status == 0, f"exit status {status}")
        check(poll(lambda: not session.windows(TOY.title), 5), "a window is left after the end")
        check(not added, f"standard error got {added}")
        r.left_on_disk(previous_kept=not during_notice)

    def signals(self):
        cases = (
            ("SIGTERM", dict(sig=signal.SIGTERM)),
            ("SIGINT", dict(sig=signal.SIGINT)),
            ("Ctrl+C", dict(sig=signal.SIGINT, to_group=True)),
            ("SIGTERM under a notice", dict(sig=signal.SIGTERM, during_notice=True)),
            ("Ctrl+C under a notice", dict(sig=signal.SIGINT, to_group=True, during_notice=True)),
        )
        with xh.XSession() as x:
            for name, how in cases:
                try:
                    self.quit_signal(x, **how)
                except xh.Failure as e:
                    raise xh.Failure(f"{name}: {e}")

    # -- planted links ------------------------------------------------------------

    def planted_links(self):
        victim = os.path.join(self.work, "victim")
        nowhere = os.path.join(self.work, "nowhere")
        victim_bytes = b"a file of someone else's"
        with open(victim, "wb") as f:
            f.write(victim_bytes)
        with xh.XSession() as x:
            r = self.run(x)
            fixed = os.path.join(r.save_dir, "save.bmp.tmp")
            cases = (
                ("a link to a file at save.bmp.tmp", fixed, victim),
                ("a link to nowhere at save.bmp.tmp", fixed, nowhere),
                ("save.bmp a link to a file", r.save, victim),
            )
            for name, at, target in cases:
                if os.path.lexists(at):
                    os.remove(at)
                os.symlink(target, at)
                r.prog.hold("Left", 0.2)
                shown = r.prog.settled()
                r.notice()
                err = r.prog.stderr_text()
                check(not any(line.startswith("The image was not saved") for line in err.splitlines()),
                      f"{name}: {err}")
                check(read(victim) == victim_bytes, f"{name}: the link's target changed")
                check(not os.path.lexists(nowhere), f"{name}: a file appeared where the link pointed")
                check(not os.path.islink(r.save), f"{name}: save.bmp is a link")
                check(xh.Image.load("png:" + r.save) == shown, f"{name}: save.bmp differs from the window")
                listing = sorted(os.listdir(r.save_dir))
                planted = [] if at == r.save else ["save.bmp.tmp"]
                check(listing == sorted(["save.bmp"] + planted), f"{name}: current_save holds {listing}")
                if at != r.save:
                    check(os.readlink(at) == target, f"{name}: the planted link was changed")
                    os.remove(at)
                r.dismiss()

    def cases(self):
        return [(f.__name__, f) for f in (
            self.x_server_dies_while_the_toy_runs,
            self.x_server_dies_while_a_notice_is_up,
            self.signals,
            self.planted_links,
        )]


def main(argv):
    if len(argv) != 1:
        sys.exit("usage: faults_e2e.py PATH/TO/twindial")
    exe = os.path.abspath(argv[0])

    def body():
        check(os.access(exe, os.X_OK), f"{exe} is not an executable")
        work = tempfile.mkdtemp(prefix="twindial-faults-")
        try:
            return xh.run_cases(Cases(exe, work).cases())
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return xh.suite_main(body, WATCHDOG_S)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
