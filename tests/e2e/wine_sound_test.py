#!/usr/bin/env python3
"""The shake rattle of the Windows build under Wine, heard through a sound
server of the test's own.

    wine_sound_test.py TWINDIAL.EXE

A fresh Wine prefix keeps Wine's default audio driver, which plays through
the server named in PULSE_SERVER, so the program's DirectSound path is
heard: the static buffer of the sound, the duplicate made while every copy
plays, the rewind, volume, pan and frequency of each play. Wine's mixer
resamples the 11025 Hz rattle with a filter that passes everything below
4 kHz unchanged and little above 5 kHz, and drops or repeats a few frames
now and then; so the recording and shake.wav are both compared below 4 kHz,
and window by window (50 ms), each window where it fits best nearby.
Prints "PASS name" or "FAIL name: why" per case, "INFO" lines with the
measured figures, and "N passed, M failed"; non-zero status on failure.
"""
import os
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import numpy as np  # noqa: E402

import soundcheck as sc  # noqa: E402
import xharness as xh  # noqa: E402
from sound_e2e import GAIN_TOLERANCE, Toy, press_at, server_dies  # noqa: E402
from soundserver import SoundServer  # noqa: E402
from xharness import check  # noqa: E402

WATCHDOG_S = 420
CUTOFF = 4000  # Hz: below it Wine's resampler passes the rattle unchanged
TIMES = (0.0, 0.4, 2.0)  # the first two overlap; the third reuses a finished copy


class Cases:
    def __init__(self, session, prefix, exe):
        self.session, self.prefix, self.exe = session, prefix, exe
        self.rattle = sc.Rattle()

    def start(self, server):
        env = dict(self.prefix.env, **server.client_env(), WINEDEBUG="-all")
        return Toy(self.session, self.exe, env, runner=[self.prefix.wine], timeout=60)

    def heard(self):
        """Shakes at 0, 0.4 and 2.0 s: heard whole, at full level, centred, at the sample's rate,
        overlapping; correlation against the rattle at least 0.7."""
        with SoundServer() as server:
            rate = server.rate
            toy = self.start(server)
            try:
                path = os.path.join(toy.folder, "monitor.raw")
                with server.record(path):
                    time.sleep(0.3)
                    press_at(toy.prog, TIMES)
                    time.sleep(1.5)
                toy.no_box()
                toy.closes()
                frames = server.frames(path)
            finally:
                toy.close()
        check(np.any(frames != 0), "nothing was heard")
        ref = self.rattle.band_limited(rate, CUTOFF)
        left, right = (sc.low_pass(frames[:, c], rate, CUTOFF) for c in (0, 1))
        onsets = sc.find_voices((left + right) / 2, ref, len(TIMES), rate // 60)
        check(len(onsets) == len(TIMES), f"{len(onsets)} shakes heard, not {len(TIMES)}")
        fit = sc.Fit(left, ref, onsets)
        correlation = fit.correlation(left)
        first, second, third = onsets
        # Every shake window by window: the first until the second starts,
        # then beside it; the second beside the first; the third alone.
        gap = second - first
        plays = [sc.Level(left, ref, first, before=gap), sc.Level(left, ref, second), sc.Level(left, ref, third)]
        tail = sc.Level(left, ref, first, after=gap)
        right_third = sc.Level(right, ref, third)
        factor, _ = sc.rate_factor(left, self.rattle, rate, third)
        # Where each lone shake is first heard, against where the aligned rattle is.
        loud = np.abs(frames).max(axis=1) >= 64
        lead = int(np.nonzero(np.abs(self.rattle.band_limited(rate)) >= 64)[0][0])
        heard = [int(np.argmax(loud)), third - rate // 20 + int(np.argmax(loud[third - rate // 20:]))]
        # Each against where its first loud window is: a gap later in a
        # shake, where Wine's output ran dry, moves the whole shake's best match.
        late = [(h - o - play.start_shift - lead) / rate for h, o, play in zip(heard, (first, third), plays[::2])]
        pair = np.nonzero(loud[:third])[0]
        span = (pair[-1] - pair[0] + 1) / rate
        sound = sc.sound_span(self.rattle.band_limited(rate), rate, 64)
        print(f"INFO Wine: shakes at {[round((o - first) / rate, 3) for o in onsets]} s; by 50 ms windows: gains "
              f"{[round(p.gain, 4) for p in plays]}, misfits {[round(p.misfit, 3) for p in plays]}, share "
              f"matching {[round(p.matching, 2) for p in plays]}; whole-recording fit: gains "
              f"{np.round(fit.gains, 4).tolist()}, misfit {fit.misfit:.3f}, correlation {correlation:.3f}; "
              f"right/left {right_third.gain / plays[2].gain:.4f}; rate factor {factor:.4f}; first and third shakes heard {[round(t * 1000, 1) for t in late]} ms after the aligned rattle; first shake beside "
              f"the second at gain {tail.gain:.3f}; two shakes {gap / rate:.3f} s apart sound for {span:.3f} s "
              f"(the rattle alone {sound:.3f} s; a gap where Wine's output ran dry adds to it)", flush=True)

        check(abs(factor - 1) < 0.005, f"played at {factor:.4f} times the sample's rate")
        check(abs(right_third.gain - plays[2].gain) <= GAIN_TOLERANCE,
              f"not centred: left gain {plays[2].gain:.3f}, right {right_third.gain:.3f}")
        for name, play in zip(("first", "second", "third"), plays):
            check(abs(play.gain - 1) <= GAIN_TOLERANCE, f"the {name} shake plays at gain {play.gain:.3f}")
        for name, t in zip(("first", "third"), late):
            check(abs(t) <= 0.005, f"the {name} shake is first heard {t * 1000:.0f} ms after the aligned rattle: "
                                   "its start is missing")
        check(abs(tail.gain - 1) <= 0.1, f"beside the second shake the first plays at gain {tail.gain:.3f}: cut off")
        # Heard whole where nothing else plays: the third shake, window by
        # window (a window that straddles frames Wine dropped, or a gap where
        # its output ran dry, may not match).
        check(plays[2].matching >= 0.75,
              f"the third shake differs from the rattle: {plays[2].matching:.0%} of its windows match")
        check(correlation >= 0.7, f"correlation {correlation:.3f} against the rattle, below 0.7")

    def server_dies(self):
        with SoundServer() as server:
            server_dies(self.start(server), server)

    def cases(self):
        return [
            ("rattle_heard_through_directsound", self.heard),
            ("sound_server_dies_toy_goes_on", self.server_dies),
        ]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: wine_sound_test.py TWINDIAL.EXE")
    exe = os.path.abspath(sys.argv[1])

    def body():
        with xh.WinePrefix(audio=True) as prefix, xh.XSession() as session:
            print(f"INFO {prefix.version()}, audio through its default driver", flush=True)
            session.env.pop("PULSE_SERVER", None)
            return xh.run_cases(Cases(session, prefix, exe).cases())
    return xh.suite_main(body, WATCHDOG_S, tools=xh.TOOLS + ("pulseaudio", "pactl", "parec"))


if __name__ == "__main__":
    sys.exit(main())
