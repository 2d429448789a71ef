#!/usr/bin/env python3
"""Measures the real program's CPU and memory in a private X session, the Linux
build and the Windows build under Wine side by side:

    tools/measure.py [--linux build/twindial] [--windows build-windows/twindial.exe] [--seconds 10]

With both, the two run at the same time in one X session, their windows next
to each other, so that both meet the same machine. For each build:

- idle: the share of one core while no key is held (every thread's CPU
  time, from /proc/PID/task/*/schedstat);
- held: the same while an arrow key is held (Right and Left in turns of two
  seconds, so the pen stays in the drawing area), measured for one build
  while the other idles;
- rss, hwm: resident memory at the end and its peak (VmRSS, VmHWM).

Prints a table and, per build, a line "NAME: idle_cpu_percent=...
held_cpu_percent=... rss_mib=... hwm_mib=...". The Windows build runs in a
fresh Wine prefix with no sound device; the CPU is that of its own process
(Wine's wineserver and helpers are not counted).
"""
import argparse
import contextlib
import os
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import xharness as xh  # noqa: E402

TOY = xh.toy()


def hold_arrows(prog, seconds):
    """Holds Right and Left in turns of two seconds; the share of one core the program used meanwhile."""
    prog.activate()
    c0, t0 = prog.cpu_seconds(), time.monotonic()
    keys = ("Right", "Left")
    turn = 0
    while time.monotonic() - t0 < seconds:
        prog.hold(keys[turn % 2], min(2.0, seconds - (time.monotonic() - t0)))
        turn += 1
    return (prog.cpu_seconds() - c0) / (time.monotonic() - t0)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--linux", help="the Linux build (build/twindial)")
    parser.add_argument("--windows", help="the Windows build (build-windows/twindial.exe), run under Wine")
    parser.add_argument("--seconds", type=float, default=10, help="length of each measurement (10)")
    args = parser.parse_args(argv)
    if not args.linux and not args.windows:
        parser.error("give --linux, --windows or both")

    with contextlib.ExitStack() as stack:
        # Room for both windows side by side.
        x = stack.enter_context(xh.XSession(size=(2 * TOY.width + 1000, 1024)))
        runs = []  # (name, Program)
        if args.windows:
            prefix = stack.enter_context(xh.WinePrefix(audio=False))
            exe = os.path.abspath(args.windows)
            runs.append((f"windows ({prefix.version()})",
                         x.start([prefix.wine, exe], cwd=os.path.dirname(exe), env=prefix.env, timeout=60)))
        if args.linux:
            prog = x.start([os.path.abspath(args.linux)])
            if args.windows:
                x.x("wmctrl", "-i", "-r", f"{prog.window:#x}", "-e", "0,0,0,-1,-1")
            runs.append(("linux", prog))
        time.sleep(2)  # past start-up
        progs = [p for _, p in runs]
        idle = xh.cpu_shares(progs, args.seconds)
        held = [hold_arrows(p, args.seconds) for p in progs]
        time.sleep(0.5)
        print(f"{'build':<40} {'idle %core':>10} {'held %core':>10} {'rss MiB':>8} {'hwm MiB':>8}")
        rows = []
        for (name, p), i, h in zip(runs, idle, held):
            rss, hwm = p.rss_kib() / 1024, p.hwm_kib() / 1024
            print(f"{name:<40} {100 * i:>10.2f} {100 * h:>10.2f} {rss:>8.1f} {hwm:>8.1f}")
            rows.append(f"{name.split()[0]}: idle_cpu_percent={100 * i:.2f} held_cpu_percent={100 * h:.2f} "
                        f"rss_mib={rss:.1f} hwm_mib={hwm:.1f}")
        print("\n".join(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
