#!/usr/bin/env python3
"""Draws a little house with the arrow keys in the real program, in a private X
session, and saves the window with its title bar as a picture:

    tools/screenshot.py build/twindial docs/screenshot.png
"""
import os
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import xharness as xh  # noqa: E402

# From the pen's start: the floor, the right wall, the roof, the left wall.
HOUSE = [("Right", 1), ("Up", 2), ("Up+Left", 1), ("Down+Left", 1), ("Down", 2), ("Right", 1)]


def main(argv):
    if len(argv) != 2:
        sys.exit("usage: tools/screenshot.py PATH/TO/twindial OUT.png")
    exe, out = os.path.abspath(argv[0]), os.path.abspath(argv[1])
    with xh.XSession() as x:
        prog = x.start([exe])
        prog.activate()
        for keys, seconds in HOUSE:
            prog.hold(keys, seconds)
            time.sleep(0.1)
        prog.settled()
        x.save_window(prog.window, out)
    print("wrote", out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
