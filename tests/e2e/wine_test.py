#!/usr/bin/env python3
"""End-to-end test of the Windows executable under Wine.

    wine_test.py WINE TWINDIAL.EXE      (WINEPREFIX set to a prepared prefix)

Runs the cases of the Linux build's end-to-end test (e2e_test.py) on the
Windows build, which must behave the same, and adds what only this build
shows: a standalone executable with its icon and manifest, the first
picture equal to the built-in files composed, the pointer hidden over the
client area only, the snapshot file equal to the window, silence without a
sound device, the GDI copy where Direct3D 9 is missing, and which drawing
back end Wine chose. Each run copies the executable into a folder
of its own (with its "current_save") and starts it from another working
directory. Wine's debug channels, which belong to Wine and not to the
program, tell which DLLs and which DirectSound and Direct3D 9 calls were
made.
"""
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time
from ctypes import POINTER, Structure, c_char_p, c_short, c_ulong, c_ushort, c_void_p

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import e2e_test as linux  # noqa: E402
from e2e_test import CLIENT_H, CLIENT_W, MARK, TITLE, Image, check, poll  # noqa: E402

WATCHDOG_S = 300
ASSETS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "assets", "files")
SNAPSHOT_PREFIX = bytes.fromhex("89504E470D0A1A0A0000000D49484452000003200000025808060000009A768270"
                                "00002000494441547801")


class WineProgram(linux.Program):
    """One run of the executable under Wine: its own folder, another working directory."""

    wine = "wine"

    def __init__(self, display, exe, dll_overrides=""):
        self.display = display
        self.cwd = tempfile.mkdtemp(prefix="twindial-wine-run-")
        self.folder = os.path.join(self.cwd, "app")
        os.makedirs(os.path.join(self.folder, "current_save"))
        self.exe = shutil.copy(exe, self.folder)
        self.log_path = os.path.join(self.cwd, "wine.log")
        self.stderr = open(self.log_path, "w+")
        env = dict(display.env, WINEDEBUG="fixme-all,+loaddll,+dsound,+d3d9")
        if dll_overrides:
            env["WINEDLLOVERRIDES"] = ";".join(filter(None, [env.get("WINEDLLOVERRIDES"), dll_overrides]))
        self.proc = subprocess.Popen([self.wine, self.exe], cwd=self.cwd, env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=self.stderr)
        try:
            self.find_window()
        except BaseException:
            self.close()
            raise

    def find_window(self):
        # Wine takes a few seconds to bring a program up.
        ids = poll(lambda: self.display.windows(TITLE) or self.proc.poll() is not None, 60)
        check(self.proc.poll() is None, f"the program ended at start-up with status {self.proc.poll()}")
        check(ids, "no window titled " + TITLE)
        self.wid = ids[0]
        check(poll(lambda: self.display.viewable(self.wid), 10), "the window is never shown")
        self.x, self.y, self.w, self.h = self.display.geometry(self.wid)

    def first_picture(self):
        img = poll(lambda: (lambda i: i if i.at(20, 20) == linux.RED else None)(self.grab()), 30)
        check(img, "the toy frame never appeared")
        return img

    def log(self):
        self.stderr.flush()
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def snapshot(self):
        return os.path.join(self.folder, "current_save", "save.bmp")


# The Linux cases start the program through the module's Program.
linux.Program = WineProgram


SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "winmm.dll", "msvcrt.dll", "advapi32.dll",
               "shell32.dll", "ole32.dll", "comctl32.dll"}


def pe_resources(exe):
    """{(type, id): bytes} of a PE file's resources (numeric ids, first language)."""
    with open(exe, "rb") as f:
        data = f.read()
    u16 = lambda at: int.from_bytes(data[at:at + 2], "little")
    u32 = lambda at: int.from_bytes(data[at:at + 4], "little")
    pe = u32(0x3C)
    sections = pe + 24 + u16(pe + 20)
    for i in range(u16(pe + 6)):
        at = sections + 40 * i
        if data[at:at + 5] == b".rsrc":
            va, raw = u32(at + 12), u32(at + 20)
            break
    else:
        raise linux.Failure("no resource section")

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


class CursorImage(Structure):
    _fields_ = [("x", c_short), ("y", c_short), ("width", c_ushort), ("height", c_ushort),
                ("xhot", c_ushort), ("yhot", c_ushort), ("cursor_serial", c_ulong),
                ("pixels", POINTER(c_ulong)), ("atom", c_ulong), ("name", c_char_p)]


class Pointer:
    """Moves the pointer and tells whether the cursor shown has any visible pixel (XFixes)."""

    def __init__(self, display):
        self.display = display
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xfixes = ctypes.CDLL("libXfixes.so.3")
        self.x11.XOpenDisplay.restype, self.x11.XOpenDisplay.argtypes = c_void_p, [c_char_p]
        self.x11.XCloseDisplay.argtypes = [c_void_p]
        self.x11.XFree.argtypes = [c_void_p]
        self.xfixes.XFixesGetCursorImage.restype = POINTER(CursorImage)
        self.xfixes.XFixesGetCursorImage.argtypes = [c_void_p]

    def visible_at(self, x, y):
        self.display.keys("mousemove", str(x), str(y))
        time.sleep(0.3)
        dpy = self.x11.XOpenDisplay(self.display.env["DISPLAY"].encode())
        check(dpy, "cannot open the display")
        try:
            image = self.xfixes.XFixesGetCursorImage(dpy)
            check(image, "XFixes gave no cursor image")
            cursor = image.contents
            visible = any(cursor.pixels[i] >> 24 for i in range(cursor.width * cursor.height))
            self.x11.XFree(image)
            return visible
        finally:
            self.x11.XCloseDisplay(dpy)


def decode(args):
    r = subprocess.run(["convert", *args, "-depth", "8", "ppm:-"], capture_output=True, timeout=20)
    check(r.returncode == 0, "convert failed: " + r.stderr.decode(errors="replace").strip())
    return Image(r.stdout)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def resident_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


class WineCases(linux.Cases):
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
        p, pointer = self.prog, Pointer(self.display)
        # Wine does not see the pointer cross the window manager's frame, so
        # each return lands on a new point: a move back to the very point it
        # left from brings Wine no mouse move at all.
        cx, cy = p.x + CLIENT_W // 2, p.y + CLIENT_H // 2
        check(not pointer.visible_at(cx, cy), "the pointer shows over the client area")
        check(pointer.visible_at(cx, p.y - 8), "the pointer is hidden over the title bar")
        check(not pointer.visible_at(cx + 50, cy), "the pointer shows again after coming back")
        check(pointer.visible_at(5, 5), "the pointer is hidden outside the window")
        check(not pointer.visible_at(cx + 100, cy + 50), "the pointer shows after coming back from outside")

    def composed_picture(self, prog=None):
        """The whole first picture: the backdrop, the frame over it, the brush at the mark."""
        prog = prog or self.prog
        want = decode([os.path.join(ASSETS, "backdrop.bmp"),
                       "(", os.path.join(ASSETS, "frame.png"), "-transparent", "black", ")", "-composite",
                       "(", os.path.join(ASSETS, "pixel.bmp"), "-transparent", "black", ")",
                       "-geometry", f"+{MARK[0]}+{MARK[1]}", "-composite"])
        got = prog.settled()
        check((got.w, got.h) == (want.w, want.h), "picture sizes differ")
        bad = [(x, y) for y in range(CLIENT_H) for x in range(CLIENT_W) if got.at(x, y) != want.at(x, y)]
        check(not bad, f"{len(bad)} pixels differ from the composed files, first at {bad[:1]}")

    def steady_cpu(self):
        """Measured, not asserted: 5 s at 60 passes a second with no key held."""
        pid = self.prog.proc.pid
        time.sleep(1)
        before, t0 = cpu_seconds(pid), time.monotonic()
        time.sleep(5)
        used, span = cpu_seconds(pid) - before, time.monotonic() - t0
        print(f"INFO steady CPU under Wine: {100 * used / span:.1f}% of one core, "
              f"{resident_mib(pid):.0f} MiB resident", flush=True)

    def back_end(self):
        """Reported: Direct3D 9 presents show in Wine's d3d9 channel, GDI copies do not."""
        log = self.prog.log()
        check("d3d9.dll" in log, "d3d9.dll was never tried")
        chosen = "Direct3D 9" if "d3d9_device_Present" in log else "GDI"
        print(f"INFO drawing back end chosen under Wine: {chosen}", flush=True)

    def snapshot(self):
        d, p = self.display, self.prog
        d.activate(p.wid)
        shown = p.settled()
        d.keys("key", "Return")
        boxes = poll(lambda: [w for w in d.windows(TITLE) if w != p.wid], 10)
        check(boxes, "Enter showed no confirmation box")
        path = p.snapshot()
        check(os.path.exists(path), "no current_save/save.bmp beside the executable")
        with open(path, "rb") as f:
            data = f.read()
        check(data[:43] == SNAPSHOT_PREFIX, "the file does not start with the PNG signature and header")
        check(decode(["png:" + path]) == shown, "the snapshot differs from the window's picture")
        written = os.stat(path).st_mtime_ns
        d.activate(boxes[0])
        d.keys("key", "Return")
        check(poll(lambda: not [w for w in d.windows(TITLE) if w != p.wid], 10), "the box stayed up")
        time.sleep(0.5)
        check(os.stat(path).st_mtime_ns == written, "dismissing the box with Enter wrote another snapshot")
        check(not [w for w in d.windows(TITLE) if w != p.wid], "dismissing the box opened another one")
        check(p.settled() == shown, "the window's picture changed across the box")

    def silent(self):
        log = self.prog.log()
        check("DirectSoundCreate" in log, "DirectSound was never tried")
        for call in ("CreateSoundBuffer", "DuplicateSoundBuffer", "IDirectSoundBufferImpl_Play"):
            check(call not in log, f"{call} was called without a sound device")

    def escape(self):
        """As on Linux; Wine shows a box's modality by disabling its owner, not by a window state."""
        d, p = self.display, self.prog
        d.activate(p.wid)
        d.keys("key", "Escape")
        boxes = poll(lambda: [w for w in d.windows(TITLE) if w != p.wid], 10)
        check(boxes, "Escape showed no notice box")
        box = boxes[0]
        check(p.proc.poll() is None, "the program ended while the notice was up")
        bx, by, bw, bh = d.geometry(box)
        check(Pointer(d).visible_at(bx + bw // 2, by + bh // 4), "the pointer is hidden over the notice box")
        check(f"{p.wid:#x}" in d.prop(box, "WM_TRANSIENT_FOR"), "the notice box is not owned by the window")
        check("_NET_WM_WINDOW_TYPE_DIALOG" in d.prop(box, "_NET_WM_WINDOW_TYPE"), "the notice is no dialog box")
        active = poll(lambda: d.x("xdotool", "getactivewindow").stdout.strip() == str(box), 5)
        check(active, "the notice box does not have the focus")
        d.keys("key", "Return")
        status = p.wait_exit(20)
        check(status == 0, f"exit status {status} after dismissing the notice")
        check(not d.windows(TITLE), "a window is left after the end")

    def gdi_fallback(self):
        """Where no d3d9.dll loads, the GDI copy shows the same picture and draws the same."""
        d = self.display
        prog = WineProgram(d, self.exe, dll_overrides="d3d9=")
        try:
            prog.first_picture()
            self.composed_picture(prog)
            check("d3d9_device_Present" not in prog.log(), "Direct3D 9 presented although d3d9.dll is off")
            d.activate(prog.wid)
            d.keys("keydown", "Down")
            try:
                time.sleep(1)
            finally:
                d.keys("keyup", "Down")
            img = prog.settled()
            y = MARK[1] + 2
            while y + 1 < CLIENT_H and all(linux.is_ink(img.at(x, y + 1)) for x in range(400, 403)):
                y += 1
            drawn = y - (MARK[1] + 2)
            check(50 <= drawn <= 70, f"a 1 s hold drew {drawn} pixels, not about 60")
            d.x("wmctrl", "-i", "-c", f"{prog.wid:#x}")
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


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: wine_test.py WINE TWINDIAL.EXE")
    WineProgram.wine, exe = sys.argv[1], os.path.abspath(sys.argv[2])
    print(f"INFO executable: {os.path.getsize(exe)} bytes", flush=True)
    return linux.run_suite(WineCases, exe, os.path.join(os.path.dirname(exe), "wine-screenshot.png"), WATCHDOG_S)


if __name__ == "__main__":
    sys.exit(main())
