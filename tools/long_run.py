#!/usr/bin/env python3
"""A long run of the real program under scripted use, in a private X session.

    tools/long_run.py [--seconds 600] [--sample 30] [--seed N] PATH/TO/twindial

Random arrows (one or two keys held for 0.1-0.8 s), a shake about every 10
s and a snapshot about every 30 s, its notice dismissed with Enter. The
program must keep running and keep showing the toy. Its resident memory is
read from /proc when the warm-up is over (the first shake and the first
snapshot done) and every --sample seconds after; the run fails when it grows
by more than 1 MiB over the warm-up's. Prints one line per sample and a
summary; the exit status is non-zero on a failure.

The test command runs this for 60 s (tests/e2e.cmake); the 10-minute run is
for reports: tools/long_run.py build/twindial.
"""
import argparse
import os
import random
import shutil
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import xharness as xh  # noqa: E402
from xharness import check, poll  # noqa: E402

TOY = xh.toy()
ARROWS = ("Left", "Right", "Up", "Down")
SHAKE_EVERY_S = 10
SNAPSHOT_EVERY_S = 30
ALLOWED_GROWTH_KIB = 1024
SAVED_TEXT = "image saved to current_image"


def mib(kib):
    return f"{kib / 1024:.1f} MiB"


class Use:
    """The program in a folder of its own, used as a person would, with its memory followed."""

    def __init__(self, session, exe, folder, rng):
        self.x, self.rng = session, rng
        os.makedirs(os.path.join(folder, "current_save"))
        self.prog = session.start([shutil.copy(exe, os.path.join(folder, "twindial"))], cwd=folder)
        self.prog.activate()
        self.t0 = time.monotonic()
        self.shakes = self.snapshots = 0
        self.samples = []  # (seconds since start, RSS in KiB)

    def now(self):
        return time.monotonic() - self.t0

    def running(self):
        check(self.prog.proc.poll() is None,
              f"the program ended with status {self.prog.proc.poll()}: {self.prog.stderr_text()[-300:]}")

    def draw(self):
        keys = self.rng.sample(ARROWS, self.rng.choice((1, 1, 1, 2)))
        self.prog.activate(settle=0)
        self.prog.hold("+".join(keys), self.rng.uniform(0.1, 0.8))

    def shake(self):
        self.prog.activate(settle=0)
        self.prog.key("BackSpace")
        self.shakes += 1

    def snapshot(self):
        self.prog.notice("Return", settle=0)
        self.prog.dismiss_notice()
        self.snapshots += 1

    def sample(self, label=""):
        self.running()
        # Right after a shake one frame shows the bare backdrop: the toy's
        # body must be back within a moment.
        check(poll(lambda: self.prog.grab().at(20, 20) == TOY.body, 2), "the toy is no longer shown")
        kib = self.prog.rss_kib()
        self.samples.append((self.now(), kib))
        print(f"{self.now():6.0f} s  RSS {kib:6d} KiB ({mib(kib)})  shakes {self.shakes:3d}  "
              f"snapshots {self.snapshots:3d}{label}", flush=True)
        return kib

    def quit(self):
        self.prog.notice("Escape")
        self.prog.dismiss_notice()
        status = self.prog.wait_exit(10)
        check(status == 0, f"exit status {status}")


def long_run(exe, seconds, sample_every, seed):
    rng = random.Random(seed)
    work = tempfile.mkdtemp(prefix="twindial-long-run-")
    try:
        with xh.XSession() as x:
            use = Use(x, exe, work, rng)
            use.sample("  (start)")
            # Warm-up: the first shake and the first snapshot.
            use.draw()
            use.shake()
            use.draw()
            use.snapshot()
            base = use.sample("  (after the warm-up)")
            warm = len(use.samples) - 1
            next_shake = use.now() + SHAKE_EVERY_S + rng.uniform(-2, 2)
            next_snapshot = use.now() + SNAPSHOT_EVERY_S + rng.uniform(-3, 3)
            next_sample = sample_every
            while use.now() < seconds:
                use.running()
                if use.now() >= next_shake:
                    use.shake()
                    next_shake += SHAKE_EVERY_S + rng.uniform(-2, 2)
                elif use.now() >= next_snapshot:
                    use.snapshot()
                    next_snapshot += SNAPSHOT_EVERY_S + rng.uniform(-3, 3)
                else:
                    use.draw()
                if use.now() >= next_sample:
                    use.sample()
                    next_sample += sample_every
            last = use.sample("  (end)")
            peak = max(kib for _, kib in use.samples[warm:])
            cpu = use.prog.cpu_seconds()
            print(f"warm-up {mib(base)}, end {mib(last)}, highest {mib(peak)}: grew {peak - base} KiB "
                  f"after the warm-up; {use.shakes} shakes, {use.snapshots} snapshots, "
                  f"CPU {cpu:.1f} s in {use.now():.0f} s", flush=True)
            check(peak - base <= ALLOWED_GROWTH_KIB,
                  f"resident memory grew by {peak - base} KiB after the warm-up (at most {ALLOWED_GROWTH_KIB})")
            use.quit()
            err = [line for line in use.prog.stderr_text().splitlines() if SAVED_TEXT not in line]
            if err:
                print("standard error:", *err, sep="\n  ", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--sample", type=float, default=30, help="seconds between memory readings")
    parser.add_argument("--seed", type=int, default=None, help="for the random keys (default: a new one)")
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    print(f"long run of {args.seconds:.0f} s, seed {seed}", flush=True)
    exe = os.path.abspath(args.exe)

    def body():
        return xh.run_cases([("long_run", lambda: long_run(exe, args.seconds, args.sample, seed))])
    return xh.suite_main(body, int(args.seconds) + 120)


if __name__ == "__main__":
    sys.exit(main())
