#!/usr/bin/env python3
"""End-to-end test of the Windows executable under Wine.

    wine_test.py TWINDIAL.EXE [--linux PATH/TO/twindial]

Prepares a fresh Wine prefix with no sound device, then runs the cases of
the Linux build's end-to-end test (e2e_test.py) on the Windows build, which
must behave the same, and adds what only this build shows: a standalone
executable with its icon and manifest, the first picture equal to the
built-in files composed, the pointer hidden over the client area only, the
snapshot file equal to the window, silence without a sound device, the GDI
copy where Direct3D 9 is missing, and which drawing back end was chosen.
With --linux, the Linux build runs beside it in the same X session, and the
Windows build's idle CPU is held against it.

Each run copies the executable into a folder of its own (with its
"current_save") and starts it from another working directory. Wine's debug
channels, which belong to Wine and not to the program, tell which DLLs and
which DirectSound and Direct3D 9 calls were made.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import e2e_test as linux  # noqa: E402
import xharness as xh  # noqa: E402
from e2e_test import MARK, TOY, trail_end  # noqa: E402
from xharness import check, poll  # noqa: E402

WATCHDOG_S = 420  # with the prefix's first start
ASSETS = os.path.join(xh.SOURCE_DIR, "assets", "files")
SNAPSHOT_PREFIX = bytes.fromhex("89504E470D0A1A0A0000000D49484452000003200000025808060000009A768270"
                                "00002000494441547801")
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "winmm.dll", "msvcrt.dll", "advapi32.dll",
               "shell32.dll", "ole32.dll", "comctl32.dll"}
# Both builds idle side by side in one X session. The Windows build may cost
# more than the Linux build (Wine adds its own work to every call it makes),
# but not the cost of a present every pass. Measured on a loaded 2-core
# machine, 6 s each, three runs: with a present of the whole picture every
# pass 16.6-18.6 % of a core against the Linux build's 0.6 % (30 times);
# presenting only what changed 1.7-1.9 % against 0.5-0.6 % (3.0-3.5 times).
# The bound lets the second through and not the first.
IDLE_RATIO = 4.0
IDLE_SLACK = 0.01  # one percent of a core: noise on a busy machine


def pe_resources(exe):
    """{(type, id): bytes} of a PE file's resources (numeric ids, first language)."""
    with open(exe, "rb") as f:
        data = f.read()
    u16 = lambda at: int.from_bytes(data[at:at + 2], "little")  # noqa: E731
    u32 = lambda at: int.from_bytes(data[at:at + 4], "little")  # noqa: E731
    pe = u32(0x3C)
    sections = pe + 24 + u16(pe + 20)
    for i in range(u16(pe + 6)):
        at = sections + 40 * i
        if data[at:at + 5] == b".rsrc":
            va, raw = u32(at + 12), u32(at + 20)
            break
    else:
        raise xh.Failure("no resource section")

    def entries(offset):
        count = u16(raw + offset + 12) + u16(raw + offset + 14)
        return [(u32(raw + offset + 16 + 8 * k), u32(raw + offset + 20 + 8 * k)) for k in range(count)]
    found = {}
    for rtype, types in entries(0):
        for rid, ids in entries(types & 0x7FFFFFFF):
            _, leaf = entries(ids & 0x7FFFFFFF)[0]
            rva, size = u32(raw + leaf), u32(raw + leaf + 4)
            found[(rtype, rid)] = data[raw + rva - va:raw + rva - va + size]
    return found


def d3d9_calls(log, name):
    """How many times Wine's d3d9 channel traced a call of this function: the line made on entry, which
    lists the arguments ("iface ..." for a method, "sdk_version ..." for Direct3DCreate9)."""
    return len(re.findall(r":d3d9:" + re.escape(name) + r" (?:iface|sdk_version) ", log))


def back_end(log):
    """The drawing back end a run used, from Wine's log: "Direct3D 9" when the program created a
    Direct3D 9 device and presented through it, "GDI" when it created none and presented none."""
    devices, presents = d3d9_calls(log, "d3d9_CreateDevice"), d3d9_calls(log, "d3d9_device_Present")
    if devices == 0 and presents == 0:
        return "GDI"
    check(devices == 1, f"{devices} Direct3D 9 devices created, not one")
    check(presents > 0, "a Direct3D 9 device was created but never presented")
    return "Direct3D 9"


class WineCases(linux.Cases):
    exit_timeout = 20

    def __init__(self, session, prefix, exe, shot, work, linux_exe):
        self.prefix, self.work, self.linux_exe = prefix, work, linux_exe
        self.runs = 0
        super().__init__(session, exe, shot)

    def start(self, dll_overrides=""):
        """A run of the executable copied into a folder of its own, from another working directory."""
        self.runs += 1
        cwd = os.path.join(self.work, f"run{self.runs}")
        folder = os.path.join(cwd, "app")
        os.makedirs(os.path.join(folder, "current_save"))
        env = dict(self.prefix.env, WINEDEBUG="fixme-all,+loaddll,+dsound,+d3d9")
        if dll_overrides:
            env["WINEDLLOVERRIDES"] = ";".join(filter(None, [env.get("WINEDLLOVERRIDES"), dll_overrides]))
        # Wine takes a few seconds to bring a program up.
        prog = self.x.start([self.prefix.wine, shutil.copy(self.exe, folder)], cwd=cwd, env=env, timeout=60)
        prog.folder = folder
        return prog

    def executable(self):
        """Standalone: only DLLs Windows ships; the icon group and the manifest are in it."""
        r = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", self.exe], capture_output=True, text=True)
        check(r.returncode == 0, "objdump cannot read the executable")
        dlls = {line.split()[-1].lower() for line in r.stdout.splitlines() if "DLL Name:" in line}
        check(dlls and dlls <= SYSTEM_DLLS, f"imports DLLs Windows does not ship: {sorted(dlls - SYSTEM_DLLS)}")
        check("(Windows GUI)" in r.stdout, "not a GUI-subsystem executable")
        res = pe_resources(self.exe)
        group = res.get((14, 101))
        check(group and int.from_bytes(group[4:6], "little") == 1, "no icon group 101 with one icon")
        width, height, bits = group[6], group[7], int.from_bytes(group[12:14], "little")
        check((width, height, bits) == (0, 0, 32), f"the icon is {width}x{height}x{bits}, not 256x256x32")
        manifest = res.get((24, 1), b"").decode(errors="replace")
        check("Microsoft.Windows.Common-Controls" in manifest and 'version="6.0.0.0"' in manifest,
              "no manifest asking for common controls 6")

    def pointer(self):
        """Hidden over the client area, shown over the title bar and outside the window."""
        x, p = self.x, self.prog
        # Wine does not see the pointer cross the window manager's frame, so
        # each return lands on a new point: a move back to the very point it
        # left from brings Wine no mouse move at all.
        cx, cy = p.x + TOY.width // 2, p.y + TOY.height // 2
        check(not x.pointer_visible_at(cx, cy), "the pointer shows over the client area")
        check(x.pointer_visible_at(cx, p.y - 8), "the pointer is hidden over the title bar")
        check(not x.pointer_visible_at(cx + 50, cy), "the pointer shows again after coming back")
        check(x.pointer_visible_at(5, 5), "the pointer is hidden outside the window")
        check(not x.pointer_visible_at(cx + 100, cy + 50), "the pointer shows after coming back from outside")

    def composed_picture(self, prog=None):
        """The whole first picture: the backdrop, the frame over it, the brush at the mark."""
        prog = prog or self.prog
        want = xh.Image.load(os.path.join(ASSETS, "backdrop.bmp"),
                             "(", os.path.join(ASSETS, "frame.png"), "-transparent", "black", ")", "-composite",
                             "(", os.path.join(ASSETS, "pixel.bmp"), "-transparent", "black", ")",
                             "-geometry", f"+{MARK[0]}+{MARK[1]}", "-composite")
        bad = prog.settled().differences(want)
        check(not bad, f"{len(bad)} pixels differ from the composed files, first at {bad[:1]}")

    def steady_cpu(self):
        """Idle, both builds side by side in this X session: the Windows build under Wine may cost
        at most IDLE_RATIO times the Linux build, plus IDLE_SLACK of a core, and makes no Direct3D 9
        present while nothing changes.

        A present with nothing changed must cost nothing beyond the schedule's
        sleep. Without --linux the figures are only printed, and the presents
        still counted.
        """
        p = self.prog
        presents = lambda: d3d9_calls(p.stderr_text(), "d3d9_device_Present")  # noqa: E731
        if not self.linux_exe:
            time.sleep(1)
            before = presents()
            share = p.cpu_share(6)
            print(f"INFO idle CPU under Wine: {100 * share:.2f}% of one core, {p.rss_kib() / 1024:.1f} MiB "
                  "resident (no Linux build to hold it against)", flush=True)
            check(presents() == before, f"{presents() - before} presents while nothing changed")
            return
        native = self.x.start([self.linux_exe])
        try:
            # Out of the way of the Windows build's window, so neither covers the other.
            self.x.x("wmctrl", "-i", "-r", f"{native.window:#x}", "-e", "0,0,0,-1,-1")
            time.sleep(1)
            before = presents()
            wine, lin = xh.cpu_shares([p, native], 6)
            idle_presents = presents() - before
            print(f"INFO idle CPU, side by side: Windows build under Wine {100 * wine:.2f}%, "
                  f"Linux build {100 * lin:.2f}% of one core; resident {p.rss_kib() / 1024:.1f} and "
                  f"{native.rss_kib() / 1024:.1f} MiB; {idle_presents} Direct3D 9 presents", flush=True)
        finally:
            native.close()
        bound = IDLE_RATIO * lin + IDLE_SLACK
        check(wine <= bound, f"the Windows build idles at {100 * wine:.2f}% of a core, more than "
                             f"{IDLE_RATIO:g} x the Linux build's {100 * lin:.2f}% + {100 * IDLE_SLACK:g}%")
        check(idle_presents == 0, f"{idle_presents} presents while nothing changed")

    def back_end(self):
        """Direct3D 9 where d3d9.dll works, as under this Wine: one device, every present through it."""
        log = self.prog.stderr_text()
        check("d3d9.dll" in log, "d3d9.dll was never tried")
        check(d3d9_calls(log, "Direct3DCreate9") == 1,
              f"Direct3DCreate9 called {d3d9_calls(log, 'Direct3DCreate9')} times, not once")
        chosen = back_end(log)
        print(f"INFO drawing back end chosen under Wine: {chosen}", flush=True)
        check(chosen == "Direct3D 9", f"the {chosen} copy was chosen although d3d9.dll works")

    def snapshot(self):
        x, p = self.x, self.prog
        p.activate()
        shown = p.settled()
        box = self.notice_on("Return")
        path = os.path.join(p.folder, "current_save", "save.bmp")
        check(os.path.exists(path), "no current_save/save.bmp beside the executable")
        with open(path, "rb") as f:
            data = f.read()
        check(data[:43] == SNAPSHOT_PREFIX, "the file does not start with the PNG signature and header")
        check(xh.Image.load("png:" + path) == shown, "the snapshot differs from the window's picture")
        listing = sorted(os.listdir(os.path.dirname(path)))
        check(listing == ["save.bmp"], f"current_save holds {listing}: a temporary file was left")
        written = os.stat(path).st_mtime_ns
        x.activate(box)
        x.key("Return")
        check(poll(lambda: not p.boxes(), 10), "the box stayed up")
        time.sleep(0.5)
        check(os.stat(path).st_mtime_ns == written, "dismissing the box with Enter wrote another snapshot")
        check(not p.boxes(), "dismissing the box opened another one")
        check(p.settled() == shown, "the window's picture changed across the box")

    def silent(self):
        log = self.prog.stderr_text()
        check("DirectSoundCreate" in log, "DirectSound was never tried")
        for call in ("CreateSoundBuffer", "DuplicateSoundBuffer", "IDirectSoundBufferImpl_Play"):
            check(call not in log, f"{call} was called without a sound device")

    def check_notice_box(self, box):
        """As on Linux; Wine shows a box's modality by disabling its owner, not by a window state."""
        x, p = self.x, self.prog
        bx, by, bw, bh = x.geometry(box)
        check(x.pointer_visible_at(bx + bw // 2, by + bh // 4), "the pointer is hidden over the notice box")
        check(f"{p.window:#x}" in x.prop(box, "WM_TRANSIENT_FOR"), "the notice box is not owned by the window")
        check("_NET_WM_WINDOW_TYPE_DIALOG" in x.prop(box, "_NET_WM_WINDOW_TYPE"), "the notice is no dialog box")

    def gdi_fallback(self):
        """Where no d3d9.dll loads, the GDI copy is chosen once; it shows the same picture and draws the same."""
        prog = self.start(dll_overrides="d3d9=")
        try:
            self.composed_picture(prog)
            chosen = back_end(prog.stderr_text())
            print(f"INFO drawing back end chosen without d3d9.dll: {chosen}", flush=True)
            check(chosen == "GDI", f"{chosen} was chosen although d3d9.dll is off")
            prog.activate()
            held = prog.hold("Down", 1)
            img = prog.settled()
            y = MARK[1] + 2
            while y + 1 < TOY.height and all(linux.is_ink(img.at(x, y + 1)) for x in range(MARK[0], MARK[0] + 3)):
                y += 1
            linux.check_drawn(y - (MARK[1] + 2), held, "holding Down")
            self.x.x("wmctrl", "-i", "-c", f"{prog.window:#x}")
            check(prog.wait_exit(20) == 0, f"exit status {prog.proc.returncode} after a close")
        finally:
            prog.close()

    def cases(self):
        return [
            ("executable_standalone_with_icon_and_manifest", self.executable),
            ("window_caption_size_place", self.window),
            ("first_picture", self.first_picture),
            ("first_picture_equals_composed_files", self.composed_picture),
            ("steady_cpu_measured", self.steady_cpu),
            ("drawing_back_end_chosen_once", self.back_end),
            ("pointer_hidden_over_client_area_only", self.pointer),
            ("held_arrow_draws_line", self.held_arrow),
            ("enter_writes_snapshot_of_window_and_confirms", self.snapshot),
            ("backspace_wipes_all_but_mark", self.shake),
            ("silent_without_sound_device", self.silent),
            ("key_held_across_focus_switch_stays_released", self.focus_switch),
            ("escape_notice_then_status_0", self.escape),
            ("window_manager_close_status_0", self.closes),
            ("gdi_fallback_without_d3d9", self.gdi_fallback),
        ]


def main(argv):
    parser = argparse.ArgumentParser(description="End-to-end test of the Windows executable under Wine.")
    parser.add_argument("exe", help="twindial.exe")
    parser.add_argument("--linux", help="the Linux build, to hold the idle CPU against")
    parser.add_argument("--only", help="run only these cases (comma-separated names), in their order")
    args = parser.parse_args(argv)
    exe = os.path.abspath(args.exe)
    linux_exe = os.path.abspath(args.linux) if args.linux else None

    def body():
        check(os.path.isfile(exe), f"no {exe} (run scripts/build-windows first)")
        check(not linux_exe or os.access(linux_exe, os.X_OK), f"{linux_exe} is not an executable")
        print(f"INFO executable: {os.path.getsize(exe)} bytes", flush=True)
        work = tempfile.mkdtemp(prefix="twindial-wine-runs-")
        try:
            started = time.monotonic()
            with xh.WinePrefix(audio=False) as prefix:
                print(f"INFO Wine prefix ({prefix.version()}) ready in {time.monotonic() - started:.0f} s",
                      flush=True)
                # Room for both builds' windows side by side.
                with xh.XSession(size=(2 * TOY.width + 1000, 1024)) as x:
                    cases = WineCases(x, prefix, exe, os.path.join(os.path.dirname(exe), "wine-screenshot.png"),
                                      work, linux_exe).cases()
                    return xh.run_cases([c for c in cases if not args.only or c[0] in args.only.split(",")])
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return xh.suite_main(body, WATCHDOG_S, tools=xh.TOOLS + ("import", "x86_64-w64-mingw32-objdump"))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
