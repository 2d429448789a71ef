#!/usr/bin/env python3
"""The program without a display it can use: one line on standard error that says so, status 1.

    no_display_test.py PATH/TO/twindial

It must neither run unseen nor wait. Prints "PASS name" or "FAIL name: why"
per case and "N passed, M failed"; the exit status is non-zero if any case
failed.
"""
import os
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import xharness as xh  # noqa: E402
from xharness import check  # noqa: E402

# name, environment changes (None removes a variable), what the one line must name
CASES = [
    ("no_display_variable", {"DISPLAY": None, "WAYLAND_DISPLAY": None}, "DISPLAY"),
    ("unreachable_display", {"DISPLAY": ":1999", "WAYLAND_DISPLAY": None}, "display"),
]


def case(exe, changes, names):
    env = dict(os.environ)
    for key, value in changes.items():
        if value is None:
            env.pop(key, None)
        else:
            env[key] = value

    def run():
        try:
            r = subprocess.run([exe], env=env, cwd=os.path.dirname(exe), stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=15)
        except subprocess.TimeoutExpired:
            raise xh.Failure("the program did not end within 15 s")
        lines = r.stderr.splitlines()
        check(r.returncode == 1, f"exit status {r.returncode}, not 1")
        check(len(lines) == 1, f"{len(lines)} lines on standard error, not one: {r.stderr!r}")
        check(lines[0].startswith("twindial: ") and names in lines[0],
              f"the line does not say the display is missing: {lines[0]!r}")
    return run


def main(argv):
    if len(argv) != 1:
        sys.exit("usage: no_display_test.py PATH/TO/twindial")
    exe = os.path.abspath(argv[0])
    return xh.suite_main(lambda: xh.run_cases([(name, case(exe, changes, names)) for name, changes, names in CASES]),
                         60, tools=())


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
