#!/usr/bin/env python3
"""The shake rattle of the real Linux program, heard through a sound server
of the test's own, and the program without one.

    sound_e2e.py PATH/TO/twindial

Each run copies the program into a folder of its own, with a previous
snapshot in current_save that no case may touch. The sound cases record the
null sink's monitor while Backspace is pressed and measure the recording
against shake.wav as the program's mixer brings it to the device rate
(nearest sample): the gain of every shake on each channel by least squares,
what the gains leave unexplained (misfit), the rate, where it starts, how
shakes overlap and what happens where their sum leaves the 16-bit range.
Prints "PASS name" or "FAIL name: why" per case, "INFO" lines with the
measured figures, and "N passed, M failed"; non-zero status on failure.
"""
import os
import shutil
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import numpy as np  # noqa: E402

import soundcheck as sc  # noqa: E402
import xharness as xh  # noqa: E402
from soundserver import SoundServer  # noqa: E402
from xharness import check  # noqa: E402

WATCHDOG_S = 240
GAIN_TOLERANCE = 0.02
# SDL asks the server for a 23 ms buffer, which runs dry now and then on a
# busy two-core machine; the server then plays silence in the gap and the
# recording is cut apart. A longer buffer, set for the client library, keeps
# it whole: what the program plays is the same, only later.
SERVER_BUFFER = {"PULSE_LATENCY_MSEC": "100"}
# What a snapshot from an earlier run left; every case checks it is untouched.
PREVIOUS_SAVE = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 8


class Toy:
    """The program in a folder of its own, started in an X session (through
    `runner`, such as Wine, when one is given)."""

    def __init__(self, session, exe, env, runner=(), timeout=15):
        self.folder = tempfile.mkdtemp(prefix="twindial-sound-run-")
        self.saves = os.path.join(self.folder, "current_save")
        os.makedirs(self.saves)
        with open(os.path.join(self.saves, "save.bmp"), "wb") as f:
            f.write(PREVIOUS_SAVE)
        exe = shutil.copy(exe, self.folder)
        try:
            self.prog = session.start([*runner, exe], env=env, timeout=timeout)
            self.prog.activate()
        except BaseException:
            shutil.rmtree(self.folder, ignore_errors=True)
            raise

    def shake_wipes(self):
        """Draws a short line, shakes, and checks that only one brush stamp is left on the backdrop."""
        look, prog = xh.toy(), self.prog
        x0, y0, x1, y1 = look.drawing_area
        area = (x1 - x0 + 1) * (y1 - y0 + 1)
        prog.hold("Right", 0.3)
        check(prog.settled().count(look.backdrop, look.drawing_area) < area - 9, "the held arrow drew nothing")
        prog.key("BackSpace")
        wiped = xh.poll(lambda: prog.proc.poll() is not None or
                        prog.grab().count(look.backdrop, look.drawing_area) == area - 9, 5)
        check(prog.proc.poll() is None, f"the program ended on Backspace with status {prog.proc.poll()}")
        check(wiped, "Backspace did not wipe the drawing")

    def no_box(self):
        check(not self.prog.boxes(), "a box was shown")

    def closes(self):
        """Closed by the window manager, the program ends with status 0; the earlier snapshot is untouched."""
        self.prog.session.x("wmctrl", "-i", "-c", f"{self.prog.window:#x}")
        status = self.prog.wait_exit(10)
        check(status == 0, f"exit status {status} after a close: {self.prog.stderr_text()[-300:]}")
        with open(os.path.join(self.saves, "save.bmp"), "rb") as f:
            check(f.read() == PREVIOUS_SAVE, "the previous save.bmp changed")
        check(os.listdir(self.saves) == ["save.bmp"], f"files left in current_save: {os.listdir(self.saves)}")

    def close(self):
        self.prog.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def press_at(prog, times):
    """Presses Backspace at these seconds from now."""
    start = time.monotonic()
    for t in times:
        time.sleep(max(0.0, start + t - time.monotonic()))
        prog.key("BackSpace")


def server_dies(toy, server):
    """The sound server is killed after one shake is heard: the toy goes on,
    still wipes, shows no box and ends normally."""
    try:
        path = os.path.join(toy.folder, "monitor.raw")
        with server.record(path):
            toy.prog.key("BackSpace")
            time.sleep(1)
        check(np.any(server.frames(path) != 0), "the shake before the fault was not heard")
        server.kill()
        time.sleep(0.5)
        check(toy.prog.proc.poll() is None, f"the program ended with status {toy.prog.proc.poll()}")
        for _ in range(3):
            toy.shake_wipes()
        time.sleep(1)
        check(toy.prog.proc.poll() is None, f"the program ended with status {toy.prog.proc.poll()}")
        toy.no_box()
        err = toy.prog.stderr_text()
        print(f"INFO standard error after the sound server died: {err.strip()[-300:]!r}", flush=True)
        toy.closes()
    finally:
        toy.close()


def channel_fits(frames, ref, onsets):
    return [sc.Fit(frames[:, c], ref, onsets) for c in range(frames.shape[1])]


class Cases:
    def __init__(self, session, exe):
        self.session, self.exe = session, exe
        self.rattle = sc.Rattle()

    def heard(self, server, times, seconds_after):
        """Records the program's shakes at `times` (seconds); (frames, ref, onsets, stderr)."""
        toy = Toy(self.session, self.exe, dict(server.client_env(), **SERVER_BUFFER))
        try:
            path = os.path.join(toy.folder, "monitor.raw")
            with server.record(path):
                time.sleep(0.3)
                press_at(toy.prog, times)
                time.sleep(seconds_after)
            toy.no_box()
            toy.closes()
            frames = server.frames(path)
            stderr = toy.prog.stderr_text()
        finally:
            toy.close()
        ref = self.rattle.nearest(server.rate)
        mono = frames.mean(axis=1)
        check(np.any(frames != 0), "nothing was heard")
        # Two shakes are at least one pass (1/60 s) apart.
        onsets = sc.find_voices(mono, ref, len(times), server.rate // 60)
        return frames, ref, onsets, stderr

    def rattle_whole_full_level_centred_own_rate_overlapping(self):
        """Shakes at 0, 0.4 and 2.0 s: the first two overlap, the third reuses a finished play."""
        with SoundServer() as server:
            rate = server.rate
            frames, ref, onsets, stderr = self.heard(server, (0.0, 0.4, 2.0), 1.5)
        check(stderr == "", f"the program wrote to standard error: {stderr[-300:]}")
        check(len(onsets) == 3, f"{len(onsets)} shakes heard, not 3")
        fits = channel_fits(frames, ref, onsets)
        gains = np.array([f.gains for f in fits])  # [channel][shake]
        misfit = max(f.misfit for f in fits)
        first, last = np.nonzero(frames.any(axis=1))[0][[0, -1]]
        lead = int(np.nonzero(ref)[0][0])  # silent frames at the start of the sample
        print(f"INFO Linux: gains left {[f'{g:.4f}' for g in gains[0]]} right {[f'{g:.4f}' for g in gains[1]]}, "
              f"misfit {misfit:.2e}, shakes at {[round((o - onsets[0]) / rate, 3) for o in onsets]} s", flush=True)

        # At its own rate: the third shake, alone, matches the rattle best unchanged.
        factor, score = sc.rate_factor(frames[:, 0], self.rattle, rate, onsets[2])
        print(f"INFO Linux: rate factor {factor:.4f} (match {score:.3f})", flush=True)
        check(abs(factor - 1) < 0.005, f"played at {factor:.4f} times the sample's rate")

        # Centred: both channels carry the same.
        differ = int(np.count_nonzero(frames[:, 0] != frames[:, 1]))
        check(differ == 0 and np.all(np.abs(gains[0] - gains[1]) <= GAIN_TOLERANCE),
              f"the channels differ in {differ} frames; gains {np.round(gains, 4).tolist()}")

        # At full level: the third shake, alone, exactly the rattle.
        alone = channel_fits(frames[onsets[2]:], ref, [0])
        check(all(abs(f.gains[0] - 1) <= GAIN_TOLERANCE and f.misfit <= GAIN_TOLERANCE for f in alone),
              f"the third shake plays at gains {[round(f.gains[0], 4) for f in alone]}, "
              f"misfit {max(f.misfit for f in alone):.4f}")

        # Overlapping: the first shake goes on, at full level, after the second starts.
        gap = onsets[1] - onsets[0]
        after = sc.Fit(frames[onsets[1]:onsets[0] + len(ref), 0], ref, [-gap, 0])
        check(abs(after.gains[0] - 1) <= GAIN_TOLERANCE,
              f"after the second shake the first plays at gain {after.gains[0]:.3f}: cut off")

        # From its first sample: nothing before the first play's first sound,
        # which comes exactly where the aligned reference has it.
        check(first == onsets[0] + lead,
              f"the first sound is at frame {first}, the aligned rattle starts at {onsets[0] + lead}")
        check(np.all(np.abs(gains - 1) <= GAIN_TOLERANCE) and misfit <= GAIN_TOLERANCE,
              f"gains {np.round(gains, 4).tolist()}, misfit {misfit:.4f}")

        pair = frames[:onsets[2]].any(axis=1).nonzero()[0]
        span = (pair[-1] - pair[0] + 1) / rate
        want = (gap + int(np.nonzero(ref)[0][-1]) - lead + 1) / rate
        print(f"INFO Linux: two shakes {gap / rate:.3f} s apart: {(gap + len(ref)) / rate:.3f} s from the first "
              f"one's start to the second one's end, sound heard for {span:.3f} s", flush=True)
        check(abs(span - want) <= 4 / rate, f"two shakes sound for {span:.3f} s, not {want:.3f} s")
        check(last < len(frames) - 1, "the recording ended before the last shake did")

    def overlapping_shakes_saturate_never_wrap(self):
        """Six shakes 0.1 s apart add up past the 16-bit range: held at the ends, never wrapped."""
        times = tuple(0.1 * k for k in range(6))
        with SoundServer() as server:
            frames, ref, onsets, _ = self.heard(server, times, 1.5)
        check(len(onsets) == len(times), f"{len(onsets)} shakes heard, not {len(times)}")
        total = sum(sc.placed(ref, o, len(frames)) for o in onsets)  # the plays' exact sum, before any limit
        over, under = total > sc.FULL_SCALE, total < -sc.FULL_SCALE - 1
        got = frames[:, 0]
        # Measured where the sum stays well inside the range.
        for c in range(frames.shape[1]):
            f = sc.Fit(frames[:, c], ref, onsets, where=np.abs(total) < 30000)
            check(np.all(np.abs(f.gains - 1) <= GAIN_TOLERANCE) and f.misfit <= GAIN_TOLERANCE,
                  f"gains {np.round(f.gains, 4).tolist()}, misfit {f.misfit:.4f}")
        print(f"INFO Linux: {int(over.sum() + under.sum())} frames of six overlapping shakes beyond 16 bits",
              flush=True)
        check(over.any() or under.any(), "the overlapping shakes never left the 16-bit range: nothing tested")
        wrapped = int(np.count_nonzero((over & (got < 0)) | (under & (got > 0))))
        check(wrapped == 0, f"{wrapped} of {int(over.sum() + under.sum())} frames beyond the range wrapped round "
                            "to the other sign")
        check(np.all(got[over] == sc.FULL_SCALE) and np.all(got[under] == -sc.FULL_SCALE - 1),
              "the sum beyond the range is not held at its end")

    def server_dies_while_running(self):
        with SoundServer() as server:
            server_dies(Toy(self.session, self.exe, dict(server.client_env(), **SERVER_BUFFER)), server)

    def silent_without_server(self):
        """No sound server anywhere: the toy runs, wipes and prints nothing, at start or on a shake."""
        folder = tempfile.mkdtemp(prefix="twindial-no-sound-")
        # Where a server would be found, there is none; a client that may
        # start a server of its own (PulseAudio's autospawn) does not.
        config = os.path.join(folder, "client.conf")
        with open(config, "w") as f:
            f.write("autospawn = no\n")
        nowhere = {"XDG_RUNTIME_DIR": folder, "PULSE_RUNTIME_PATH": folder, "PULSE_CLIENTCONFIG": config}
        setups = [
            ("nothing configured", nowhere),
            ("PULSE_SERVER names no socket", {**nowhere, "PULSE_SERVER": "unix:" + os.path.join(folder, "gone")}),
        ]
        try:
            for name, env in setups:
                toy = Toy(self.session, self.exe, env)
                try:
                    toy.shake_wipes()
                    time.sleep(0.5)
                    toy.no_box()
                    toy.closes()
                    err = toy.prog.stderr_text()
                    check(err == "", f"{name}: the program wrote to standard error: {err[-400:]!r}")
                finally:
                    toy.close()
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def cases(self):
        return [
            ("rattle_whole_full_level_centred_own_rate_overlapping",
             self.rattle_whole_full_level_centred_own_rate_overlapping),
            ("overlapping_shakes_saturate_never_wrap", self.overlapping_shakes_saturate_never_wrap),
            ("sound_server_dies_toy_goes_on", self.server_dies_while_running),
            ("no_sound_server_silent_and_quiet", self.silent_without_server),
        ]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: sound_e2e.py PATH/TO/twindial")
    exe = os.path.abspath(sys.argv[1])

    def body():
        with xh.XSession() as session:
            # The program finds only the sound server a case gives it.
            for name in ("PULSE_SERVER", "PULSE_CLIENTCONFIG", "PIPEWIRE_REMOTE", "PIPEWIRE_RUNTIME_DIR"):
                session.env.pop(name, None)
            return xh.run_cases(Cases(session, exe).cases())
    return xh.suite_main(body, WATCHDOG_S, tools=xh.TOOLS + ("pulseaudio", "pactl", "parec"))


if __name__ == "__main__":
    sys.exit(main())
