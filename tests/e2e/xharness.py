"""The X-session work of the end-to-end tests and of the measuring tools.

    import xharness as xh

    look = xh.toy()                       # title, colours, geometry from assets/toy.hpp
    with xh.XSession() as x:              # private Xvfb + openbox
        prog = x.start(["build/twindial"])  # returns once the window shows the toy's frame
        prog.activate()
        prog.hold("Right", 1.0)
        img = prog.settled()              # Image of the 800x600 client area
        img.count(look.backdrop, look.drawing_area)
        prog.cpu_seconds(), prog.rss_kib()

Every wait is bounded. Every process started here (Xvfb, openbox, the
programs and their children) is ended when its XSession closes, when the
Python process exits, or on SIGTERM/SIGINT/SIGHUP.

Also here, because every suite needs them: `Failure`/`check`/`poll`, the
case runner that prints "PASS name" / "FAIL name: why" and "N passed,
M failed" (`run_cases`, `suite_main`), and `WinePrefix`, a fresh Wine prefix
for running the Windows build.
"""
import atexit
import contextlib
import ctypes
import functools
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import types
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.normpath(os.path.join(HERE, "..", ".."))
TOY_HEADER = os.path.join(SOURCE_DIR, "assets", "toy.hpp")

# X clients the harness runs. The Debian packages: xvfb openbox xdotool x11-utils wmctrl imagemagick.
TOOLS = ("Xvfb", "openbox", "xdotool", "xprop", "xwininfo", "wmctrl", "convert")


# ---------------------------------------------------------------------------
# Outcomes and bounded waits

class Failure(Exception):
    """A case's check failed; the text says what was seen."""


def check(cond, why):
    if not cond:
        raise Failure(why)


def poll(fn, timeout, interval=0.05):
    """Calls fn until it returns something true or timeout seconds pass; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = fn()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(interval)


# ---------------------------------------------------------------------------
# The toy's look, read from the C++ header that defines it

_DEFINITION = re.compile(
    r"^\s*inline\s+constexpr\s+(?:[\w:]+\s+)?k(\w+)\s*(?:=\s*(.+?)|\{([^}]*)\})\s*;", re.M)


def _snake(name):
    return re.sub(r"(?<!^)(?=[A-Z])", "_", name).lower()


@functools.lru_cache(maxsize=None)
def toy(header=TOY_HEADER):
    """The toy's title, colours and geometry, from assets/toy.hpp.

    Every `inline constexpr T kSomeName ...;` becomes an attribute some_name:
    a string for a quoted text, an int for a number, a tuple of ints for a
    braced list (colours (r, g, b), boxes (x0, y0, x1, y1) with both ends
    included, points (x, y)).
    """
    with open(header) as f:
        text = f.read()
    values = {}
    for m in _DEFINITION.finditer(text):
        name, assigned, braced = _snake(m.group(1)), m.group(2), m.group(3)
        if braced is not None:
            values[name] = tuple(int(v, 0) for v in braced.split(","))
        elif assigned.startswith('"'):
            values[name] = assigned.strip('"')
        else:
            values[name] = int(assigned, 0)
    for needed in ("title", "width", "height", "body", "backdrop", "drawing_area", "pen_start"):
        if needed not in values:
            raise RuntimeError(f"{header} defines no k{needed.title().replace('_', '')}")
    return types.SimpleNamespace(**values)


# ---------------------------------------------------------------------------
# Pictures

class Image:
    """An RGB picture: w x h pixels, 3 bytes each, top row first."""

    def __init__(self, w, h, data):
        if len(data) != w * h * 3:
            raise ValueError(f"{len(data)} bytes for a {w}x{h} RGB picture")
        self.w, self.h, self.data = w, h, bytes(data)

    @classmethod
    def from_ppm(cls, ppm):
        # "P6 width height 255" and one whitespace byte; the pixels fill the rest.
        fields = ppm[:32].split()
        check(len(fields) >= 4 and fields[0] == b"P6" and fields[3] == b"255", "no 8-bit binary PPM")
        w, h = int(fields[1]), int(fields[2])
        check(0 < w * h * 3 < len(ppm), "short PPM")
        return cls(w, h, ppm[-w * h * 3:])

    @classmethod
    def load(cls, *convert_args):
        """A picture through ImageMagick's convert: a file name (e.g. "png:save.bmp") or a command."""
        r = subprocess.run(["convert", *convert_args, "-alpha", "off", "-depth", "8", "ppm:-"],
                           capture_output=True, timeout=30)
        check(r.returncode == 0, "convert failed: " + r.stderr.decode(errors="replace").strip())
        return cls.from_ppm(r.stdout)

    def at(self, x, y):
        i = (y * self.w + x) * 3
        return tuple(self.data[i:i + 3])

    def crop(self, box):
        """The pixels of an inclusive box (x0, y0, x1, y1)."""
        x0, y0, x1, y1 = box
        row = (x1 - x0 + 1) * 3
        return Image(x1 - x0 + 1, y1 - y0 + 1,
                     b"".join(self.data[(y * self.w + x0) * 3:(y * self.w + x0) * 3 + row] for y in range(y0, y1 + 1)))

    def count(self, colour, box=None):
        """How many pixels of the inclusive box (x0, y0, x1, y1), or of the whole picture, have this colour."""
        img = self.crop(box) if box else self
        want = bytes(colour)
        data = img.data
        return sum(1 for i in range(0, len(data), 3) if data[i:i + 3] == want)

    def differences(self, other):
        """[(x, y)] of the pixels that differ; the sizes must be equal."""
        check((self.w, self.h) == (other.w, other.h),
              f"picture sizes differ: {self.w}x{self.h} and {other.w}x{other.h}")
        a, b = self.data, other.data
        if a == b:
            return []
        return [((i // 3) % self.w, (i // 3) // self.w) for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3]]

    def __eq__(self, other):
        return isinstance(other, Image) and (self.w, self.h, self.data) == (other.w, other.h, other.data)

    def save_png(self, path):
        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
        stride = self.w * 3
        rows = b"".join(b"\0" + self.data[y * stride:(y + 1) * stride] for y in range(self.h))
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 2, 0, 0, 0))
                    + chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))


class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong),
                ("blue_mask", ctypes.c_ulong)]


_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


class _Xlib:
    """The few Xlib calls the harness makes itself (pixels, the pointer's cursor)."""
    _lib = None

    @classmethod
    def get(cls):
        if cls._lib is None:
            x11 = ctypes.CDLL("libX11.so.6")
            x11.XOpenDisplay.restype, x11.XOpenDisplay.argtypes = ctypes.c_void_p, [ctypes.c_char_p]
            x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
            x11.XDefaultRootWindow.restype, x11.XDefaultRootWindow.argtypes = ctypes.c_ulong, [ctypes.c_void_p]
            x11.XGetImage.restype = ctypes.POINTER(_XImage)
            x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                      ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
            x11.XFree.argtypes = [ctypes.c_void_p]
            x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
            x11.XSetErrorHandler.restype = ctypes.c_void_p
            x11.XSetErrorHandler.argtypes = [_ERROR_HANDLER]
            # A bad request (say, a rectangle off the screen) must fail the grab, not end the process.
            cls._errors = []
            cls._handler = _ERROR_HANDLER(lambda dpy, ev: cls._errors.append(1) or 0)
            x11.XSetErrorHandler(cls._handler)
            x11.XQueryPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 7
            x11.XStringToKeysym.restype, x11.XStringToKeysym.argtypes = ctypes.c_ulong, [ctypes.c_char_p]
            x11.XKeysymToKeycode.restype = ctypes.c_ubyte
            x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
            x11.XGetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
            cls._lib = x11
        return cls._lib

    _tst = _fixes = None

    @classmethod
    def xfixes(cls):
        if cls._fixes is None:
            cls._fixes = ctypes.CDLL("libXfixes.so.3")
            cls._fixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
            cls._fixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
        return cls._fixes

    @classmethod
    def xtst(cls):
        if cls._tst is None:
            cls._tst = ctypes.CDLL("libXtst.so.6")
            cls._tst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        return cls._tst


class _Connection:
    """One short-lived connection to the X server (a connection kept open would end this process, through
    Xlib's I/O error handler, when a test ends the server)."""

    def __init__(self, display):
        self.x11 = _Xlib.get()
        self.dpy = self.x11.XOpenDisplay(display.encode())
        check(self.dpy, f"cannot open display {display}")

    def __enter__(self):
        return self.x11, self.dpy

    def __exit__(self, *exc):
        self.x11.XCloseDisplay(self.dpy)


def _grab_rgb(display, x, y, w, h):
    """The screen's pixels in a rectangle, as an Image (one short-lived connection per grab)."""
    with _Connection(display) as (x11, dpy):
        _Xlib._errors.clear()
        ZPIXMAP, ALL_PLANES = 2, 0xFFFFFFFF
        ximage = x11.XGetImage(dpy, x11.XDefaultRootWindow(dpy), x, y, w, h, ALL_PLANES, ZPIXMAP)
        x11.XSync(dpy, 0)
        check(ximage and not _Xlib._errors, f"cannot read {w}x{h}+{x}+{y} of the screen")
        img = ximage.contents
        try:
            check(img.bits_per_pixel == 32 and img.byte_order == 0,
                  f"unexpected screen format: {img.bits_per_pixel} bits, byte order {img.byte_order}")
            raw = ctypes.string_at(img.data, img.bytes_per_line * h)
            if img.bytes_per_line != w * 4:
                raw = b"".join(raw[r * img.bytes_per_line:r * img.bytes_per_line + w * 4] for r in range(h))
            rgb = bytearray(w * h * 3)
            # Little-endian 32-bit pixels of a 24-bit visual: blue, green, red, pad.
            rgb[0::3], rgb[1::3], rgb[2::3] = raw[2::4], raw[1::4], raw[0::4]
        finally:
            x11.XFree(img.data)
            x11.XFree(ximage)
        return Image(w, h, rgb)


class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def _cursor_visible(display):
    """True when the pointer's cursor has any pixel that is not fully transparent (XFixes)."""
    with _Connection(display) as (x11, dpy):
        xfixes = _Xlib.xfixes()
        image = xfixes.XFixesGetCursorImage(dpy)
        check(image, "XFixes gave no cursor image")
        try:
            cursor = image.contents
            return any(cursor.pixels[i] >> 24 for i in range(cursor.width * cursor.height))
        finally:
            x11.XFree(image)


MOD2_MASK = 0x10  # the modifier NumLock sets in the usual keymap


def _modifier_state(display):
    with _Connection(display) as (x11, dpy):
        root, child = ctypes.c_ulong(), ctypes.c_ulong()
        rx, ry, wx, wy, mask = ctypes.c_int(), ctypes.c_int(), ctypes.c_int(), ctypes.c_int(), ctypes.c_uint()
        x11.XQueryPointer(dpy, x11.XDefaultRootWindow(dpy), ctypes.byref(root), ctypes.byref(child),
                          ctypes.byref(rx), ctypes.byref(ry), ctypes.byref(wx), ctypes.byref(wy), ctypes.byref(mask))
        return mask.value


def _keycode(x11, dpy, keysym_name):
    sym = x11.XStringToKeysym(keysym_name.encode())
    check(sym, f"no keysym {keysym_name}")
    code = x11.XKeysymToKeycode(dpy, sym)
    check(code, f"no key carries {keysym_name}")
    return code


def _fake_key(display, keysym_name, press, focus_on=None, timeout=5):
    """Presses or releases the key that carries this keysym, with no modifier changed (XTest).

    With focus_on, first waits without sleeping until that window has the
    input focus, so the key follows the focus change within a millisecond;
    returns the seconds between seeing the focus there and sending the key.
    """
    with _Connection(display) as (x11, dpy):
        code = _keycode(x11, dpy, keysym_name)
        seen = time.monotonic()
        if focus_on is not None:
            focus, revert = ctypes.c_ulong(), ctypes.c_int()
            deadline = seen + timeout
            while True:
                x11.XGetInputFocus(dpy, ctypes.byref(focus), ctypes.byref(revert))
                seen = time.monotonic()
                if focus.value == focus_on:
                    break
                check(seen < deadline, f"window {focus_on:#x} did not get the input focus within {timeout} s")
        check(_Xlib.xtst().XTestFakeKeyEvent(dpy, code, bool(press), 0), "XTest refused the key")
        x11.XSync(dpy, 0)
        return time.monotonic() - seen


# ---------------------------------------------------------------------------
# Processes: everything started here is ended on the way out

_live = set()  # Popen objects of processes started here and not yet ended


def _end(proc, grace=3.0):
    """Ends a process and its process group (children such as a notice box helper)."""
    if proc is None:
        return
    try:
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGTERM)
            except (ProcessLookupError, PermissionError):
                proc.terminate()
            try:
                proc.wait(grace)
            except subprocess.TimeoutExpired:
                pass
        # Children left in the group (the leader may have ended alone).
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        if proc.poll() is None:
            proc.kill()
            proc.wait(grace)
    except (OSError, subprocess.TimeoutExpired):
        pass
    finally:
        _live.discard(proc)


_libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1


def _end_with_parent():
    # In the child before exec: SIGTERM when this Python process dies, even by
    # SIGKILL (a test runner's timeout), so that no Xvfb or program outlives it.
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def _spawn(argv, **kw):
    """Popen in a process group of its own, remembered until it is ended, and ended with this process."""
    proc = subprocess.Popen(argv, start_new_session=True, preexec_fn=_end_with_parent, **kw)
    _live.add(proc)
    return proc


_programs = set()  # Program objects not yet closed: their scratch folders go with them


def _end_all():
    for prog in list(_programs):
        prog.close()
    for proc in list(_live):
        _end(proc, grace=1.0)


atexit.register(_end_all)


def _exit_on_signal(signum, frame):
    # Unwinds through every `with` and `finally`, then atexit ends what is left.
    raise SystemExit(128 + signum)


for _sig in (signal.SIGTERM, signal.SIGHUP):
    if signal.getsignal(_sig) in (signal.SIG_DFL, None):
        signal.signal(_sig, _exit_on_signal)


# ---------------------------------------------------------------------------
# /proc readings

def cpu_seconds(pid):
    """CPU time of every live thread of a process, from /proc/PID/task/*/schedstat (nanoseconds on a CPU)."""
    total = 0
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except FileNotFoundError:
        raise Failure(f"process {pid} is gone")
    for tid in tasks:
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError, IndexError):
            pass  # the thread ended between the listing and the read
    return total / 1e9


def cpu_shares(programs, seconds):
    """The share of one core each program used over the same next `seconds` (0.05 is 5 %)."""
    before, t0 = [p.cpu_seconds() for p in programs], time.monotonic()
    time.sleep(seconds)
    after, span = [p.cpu_seconds() for p in programs], time.monotonic() - t0
    return [(a - b) / span for a, b in zip(after, before)]


def status_kib(pid, field):
    """A kB field of /proc/PID/status, such as VmRSS or VmHWM."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except FileNotFoundError:
        raise Failure(f"process {pid} is gone")
    raise Failure(f"/proc/{pid}/status has no {field}")


# ---------------------------------------------------------------------------
# The X session

class _Opened:
    """A context manager over open() and close(); a failed open() closes what it got so far."""

    def __enter__(self):
        try:
            self.open()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()


_fonts_ready = False


def _font_cache_built():
    """Builds fontconfig's cache once per run, before the first window manager.

    On a machine where nothing has used the fonts yet, openbox builds the
    cache when it starts drawing title bars, and manages no window until it
    is done: a program's window then takes many seconds to be shown. The
    cache is built once and kept, so later runs find it ready."""
    global _fonts_ready
    if _fonts_ready or shutil.which("fc-cache") is None:
        return
    subprocess.run(["fc-cache"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300, check=False)
    _fonts_ready = True


class XSession(_Opened):
    """A private Xvfb with openbox.

    size: the screen, (width, height); font_path: Xvfb's -fp (a comma list of
    font folders); env: extra environment for the session's clients; wm: start
    openbox (default). `.display` is ":N", `.env` the environment with DISPLAY
    for children.
    """

    def __init__(self, size=(1280, 1024), font_path=None, env=None, wm=True, timeout=15):
        self.size, self.font_path, self.wm_wanted, self.timeout = tuple(size), font_path, wm, timeout
        self.env = dict(os.environ, **(env or {}))
        self.env.pop("WAYLAND_DISPLAY", None)
        self.display = None
        self.xvfb = self.wm = None
        self.programs = []

    # -- life ---------------------------------------------------------------

    def open(self):
        for attempt in range(5):
            if self._start_xvfb():
                break
        else:
            raise Failure("Xvfb did not start on any display")
        if self.wm_wanted:
            _font_cache_built()
            self.wm = _spawn(["openbox", "--sm-disable"], env=self.env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            check(poll(lambda: self.wm.poll() is not None or self.wm_running(), self.timeout) and self.wm.poll() is None,
                  f"openbox did not start (status {self.wm.poll()})")

    def _start_xvfb(self):
        """One try: Xvfb takes the first display whose lock it gets and tells us which (-displayfd).

        Another process may take a display between our look and our lock; Xvfb
        then moves on by itself. Returns False when this try failed.
        """
        read_end, write_end = os.pipe()
        argv = ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{self.size[0]}x{self.size[1]}x24",
                "-nolisten", "tcp",
                # Without -noreset the server resets when its last client leaves,
                # and a client connecting just then is refused.
                "-noreset"]
        if self.font_path:
            argv += ["-fp", self.font_path]
        # Its complaints go to a file: a pipe nobody reads would fill and stop the server.
        log = tempfile.TemporaryFile()
        try:
            self.xvfb = _spawn(argv, pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=log)
        finally:
            os.close(write_end)
        number = b""
        deadline = time.monotonic() + self.timeout
        try:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                ready, _, _ = select.select([read_end], [], [], 0.1)
                if ready:
                    part = os.read(read_end, 16)
                    if not part:
                        break  # Xvfb ended
                    number += part
        finally:
            os.close(read_end)
        if number.strip().isdigit():
            self.display = ":" + number.strip().decode()
            self.env["DISPLAY"] = self.display
            if poll(lambda: self.xvfb.poll() is not None or self.x("xprop", "-root", timeout=5).returncode == 0,
                    self.timeout) and self.xvfb.poll() is None:
                log.close()
                return True
        _end(self.xvfb)
        log.seek(0)
        err = log.read()
        log.close()
        self.xvfb, self.display = None, None
        sys.stderr.write(f"xharness: Xvfb did not come up, trying again: {err.decode(errors='replace')[-300:]}\n")
        return False

    def close(self):
        for prog in reversed(list(self.programs)):
            prog.close()
        self.programs = []
        _end(self.wm)
        _end(self.xvfb)
        self.wm = self.xvfb = None

    def alive(self):
        return self.xvfb is not None and self.xvfb.poll() is None

    def kill_server(self):
        """Ends Xvfb at once (SIGKILL), as a crash of the X server would; the programs are left to be
        watched (their Program objects still work, but for what needs the server)."""
        if self.xvfb is not None:
            self.xvfb.kill()
            self.xvfb.wait(5)

    # -- X clients ----------------------------------------------------------

    def x(self, *args, timeout=10):
        """Runs an X client on this display; its completed process (status -1 when it timed out)."""
        try:
            return subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=timeout,
                                  stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            return subprocess.CompletedProcess(args, -1, "", f"{args[0]} timed out")

    def xdotool(self, *args):
        r = self.x("xdotool", *args, timeout=10)
        check(r.returncode == 0, f"xdotool {' '.join(args)} failed: {r.stderr.strip()}")
        return r.stdout

    def wm_running(self):
        return "window id" in self.x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK", timeout=5).stdout

    # -- windows ------------------------------------------------------------

    def windows(self, title=None):
        """Ids of the managed windows, in wmctrl's order; only those with this title when one is given."""
        ids = []
        for line in self.x("wmctrl", "-l").stdout.splitlines():
            parts = line.split(None, 3)
            if len(parts) >= 3 and (title is None or (len(parts) == 4 and parts[3] == title)):
                ids.append(int(parts[0], 16))
        return ids

    def info(self, wid):
        info = {}
        for line in self.x("xwininfo", "-id", str(wid)).stdout.splitlines():
            key, _, value = line.strip().partition(":")
            info[key] = value.strip()
        return info

    def viewable(self, wid):
        return self.info(wid).get("Map State") == "IsViewable"

    def geometry(self, wid):
        """(x, y, width, height) of a window's client area on the screen."""
        info = self.info(wid)
        try:
            return tuple(int(info[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))
        except (KeyError, ValueError):
            raise Failure(f"xwininfo knows no window {wid:#x}")

    def prop(self, wid, name):
        """xprop's text of one property of a window."""
        return self.x("xprop", "-id", str(wid), name).stdout

    def active_window(self):
        out = self.x("xdotool", "getactivewindow").stdout.strip()
        return int(out) if out.isdigit() else None

    def activate(self, wid, settle=0.5):
        """Gives a window the keyboard focus and waits until it has it, then settle seconds more.

        SDL passes a focus change on up to 200 ms late and the program resets
        its keys then, so keys meant as fresh presses wait for the settle time.
        """
        self.xdotool("windowactivate", "--sync", str(wid))
        check(poll(lambda: self.active_window() == wid, 5), f"window {wid:#x} did not get the focus")
        if settle:
            time.sleep(settle)

    def key(self, *names):
        """Types keys (xdotool names, "alt+F4" for chords) into the window that has the focus."""
        self.xdotool("key", *names)

    def key_down(self, name):
        self.xdotool("keydown", name)

    def key_up(self, name):
        self.xdotool("keyup", name)

    def hold(self, name, seconds):
        """Holds a key (or "Up+Left" for several) for a while; released whatever happens.

        Returns (surely, at_most): the seconds the key was surely down (from
        xdotool's return after the press to its start for the release) and
        at most down (from before the press to after the release); on a
        loaded machine they can be well apart from `seconds`.
        """
        names = name.split("+")
        t0 = time.monotonic()
        self.xdotool("keydown", *names)
        t1 = time.monotonic()
        try:
            time.sleep(seconds)
        finally:
            t2 = time.monotonic()
            self.xdotool("keyup", *names)
        return t2 - t1, time.monotonic() - t0

    def raw_key(self, keysym_name, press):
        """Presses (press=True) or releases the key that carries this keysym, exactly as it is.

        xdotool changes NumLock or Shift to reach a keysym; this sends the one
        key with the modifiers left as they are (KP_Right is the keypad's 6).
        """
        _fake_key(self.display, keysym_name, press)

    def key_down_on_focus(self, wid, keysym_name, timeout=5):
        """Presses a key (raw, as raw_key) the moment the window has the input focus; for a press that
        must come right after a focus change. Returns the seconds from seeing the focus to the press."""
        return _fake_key(self.display, keysym_name, True, focus_on=wid, timeout=timeout)

    def pointer_visible_at(self, x, y, settle=0.3):
        """Moves the pointer to (x, y) on the screen; whether the cursor shown there has a visible pixel."""
        self.xdotool("mousemove", str(x), str(y))
        time.sleep(settle)
        return _cursor_visible(self.display)

    def num_lock(self):
        """True while NumLock is on."""
        return bool(_modifier_state(self.display) & MOD2_MASK)

    def set_num_lock(self, on):
        if self.num_lock() != on:
            self.raw_key("Num_Lock", True)
            self.raw_key("Num_Lock", False)
        check(poll(lambda: self.num_lock() == on, 2), f"NumLock did not turn {'on' if on else 'off'}")

    def grab(self, x, y, w, h):
        """The screen's pixels in a rectangle, as an Image."""
        check(self.display, "the X session is not open")
        return _grab_rgb(self.display, x, y, w, h)

    def screenshot(self, path):
        """The whole screen as a PNG."""
        self.grab(0, 0, *self.size).save_png(path)

    def save_window(self, wid, path):
        """A window with its title bar (the window manager's frame) as a picture file."""
        r = self.x("import", "-frame", "-window", str(wid), path, timeout=20)
        check(r.returncode == 0, "import failed: " + r.stderr.strip())

    # -- programs -----------------------------------------------------------

    def start(self, argv, cwd=None, env=None, title=None, timeout=15, frame=True):
        """Starts a program (stdin empty, stdout dropped, stderr kept) and returns it as a Program once
        its window titled `title` (the toy's title by default) is shown and, with frame=True, once the
        toy's red body is on screen in it. cwd: a scratch folder of its own when None. env: extra
        variables. timeout: seconds for each of these waits (Wine needs more)."""
        prog = Program(self, argv, cwd, env)
        try:
            prog.find_window(title or toy().title, timeout)
            if frame:
                prog.first_picture(timeout)
        except BaseException:
            prog.close()
            raise
        return prog

    def launch(self, argv, cwd=None, env=None):
        """Starts a program and returns at once, as a Program with no window yet."""
        return Program(self, argv, cwd, env)


class Program:
    """One run of a program in an XSession. `.proc` (Popen), `.pid`, `.cwd`, `.window` (id), `.x`,
    `.y`, `.w`, `.h` (client area on the screen)."""

    def __init__(self, session, argv, cwd=None, env=None):
        self.session = session
        self.own_cwd = cwd is None
        self.cwd = tempfile.mkdtemp(prefix="twindial-run-") if cwd is None else cwd
        self._err_dir = tempfile.mkdtemp(prefix="twindial-stderr-")
        self._stderr = open(os.path.join(self._err_dir, "stderr.txt"), "w+b")
        self.window = None
        self.x = self.y = self.w = self.h = None
        self.proc = _spawn(list(argv), cwd=self.cwd, env=dict(session.env, **(env or {})),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self._stderr)
        self.pid = self.proc.pid
        session.programs.append(self)
        _programs.add(self)

    def find_window(self, title, timeout=15):
        """Waits for the program's window with this title (the first that is not already someone else's)."""
        # Window ids of programs that ended are free for the server to hand out again.
        others = {p.window for p in self.session.programs if p is not self and p.window and p.proc.poll() is None}
        ids = poll(lambda: [w for w in self.session.windows(title) if w not in others] or self.proc.poll() is not None,
                   timeout)
        check(self.proc.poll() is None,
              f"the program ended at start-up with status {self.proc.poll()}: {self.stderr_text()[-500:]}")
        check(ids, f"no window titled {title} within {timeout} s")
        self.window = ids[0]
        check(poll(lambda: self.session.viewable(self.window), timeout), "the window is never shown")
        self.x, self.y, self.w, self.h = self.session.geometry(self.window)
        return self.window

    def first_picture(self, timeout=15):
        """Waits until the toy's body shows in the client area; returns that picture."""
        body = toy().body
        img = poll(lambda: (lambda i: i if i.at(20, 20) == body else None)(self.grab()), timeout)
        check(img, "the toy's frame never appeared")
        return img

    def boxes(self, title=None):
        """Ids of the windows with the toy's title other than the program's own: its notice boxes."""
        return [w for w in self.session.windows(title or toy().title) if w != self.window]

    def notice(self, key, timeout=10, settle=0.1):
        """Types a key into the program's window; the notice box it brings up."""
        self.activate(settle)
        self.key(key)
        boxes = poll(self.boxes, timeout)
        check(boxes, f"no notice after {key}")
        return boxes[0]

    def dismiss_notice(self, key="Return", timeout=10):
        """Types a key into the notice box that is up; returns once the box is gone."""
        boxes = self.boxes()
        check(boxes, "no notice box to dismiss")
        self.session.activate(boxes[0], 0)
        self.session.key(key)
        check(poll(lambda: not self.boxes(), timeout), f"the notice did not go on {key}")

    # -- input ----------------------------------------------------------------

    def activate(self, settle=0.5):
        self.session.activate(self.window, settle)

    def key(self, *names):
        self.session.key(*names)

    def key_down(self, name):
        self.session.key_down(name)

    def key_up(self, name):
        self.session.key_up(name)

    def hold(self, name, seconds):
        return self.session.hold(name, seconds)

    # -- output ---------------------------------------------------------------

    def grab(self):
        """The client area as an Image."""
        check(self.window is not None, "the program has no window")
        return self.session.grab(self.x, self.y, self.w, self.h)

    def settled(self, timeout=5):
        """A picture taken once two grabs 100 ms apart are equal."""
        last = self.grab()

        def same():
            nonlocal last
            time.sleep(0.1)
            now = self.grab()
            equal, last = now == last, now
            return equal
        check(poll(same, timeout, 0), "the picture never stood still")
        return last

    @contextlib.contextmanager
    def paused(self):
        """Holds the program still (SIGSTOP) inside the block and lets it go on after (SIGCONT).

        What happens meanwhile reaches it together at its next look at its
        events, as when a busy machine runs it late: a test can so put a
        key press right behind a focus change, before the program has seen
        either.
        """
        os.kill(self.pid, signal.SIGSTOP)
        try:
            yield
        finally:
            os.kill(self.pid, signal.SIGCONT)

    def wait_exit(self, timeout=10):
        """The exit status once the program ended; a Failure when it runs on past timeout seconds."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout} s")

    def stderr_text(self):
        self._stderr.flush()
        with open(self._stderr.name, "rb") as f:
            return f.read().decode(errors="replace")

    def cpu_seconds(self):
        return cpu_seconds(self.pid)

    def rss_kib(self):
        return status_kib(self.pid, "VmRSS")

    def hwm_kib(self):
        return status_kib(self.pid, "VmHWM")

    def cpu_share(self, seconds):
        """The share of one core the program used over the next `seconds` (0.05 is 5 %)."""
        return cpu_shares([self], seconds)[0]

    def close(self):
        _end(self.proc)
        if not self._stderr.closed:
            self._stderr.close()
        shutil.rmtree(self._err_dir, ignore_errors=True)
        if self.own_cwd:
            shutil.rmtree(self.cwd, ignore_errors=True)
        if self in self.session.programs:
            self.session.programs.remove(self)
        _programs.discard(self)


# ---------------------------------------------------------------------------
# Wine

class WinePrefix(_Opened):
    """A fresh 64-bit Wine prefix in a folder of its own, removed on close.

    audio=False sets the prefix's audio driver to none, so a program finds no
    sound device; audio=True leaves Wine's default (pulse, through
    PULSE_SERVER). The prefix also turns off Wine's Direct3D command thread:
    on Mesa's software OpenGL it busy-waits between presents and takes a whole
    core, which starves the program's own thread on a small machine. That is
    Wine's setting; the program is the same either way.

    `.env` holds WINEPREFIX, WINEARCH, WINELOADER and WINEDLLOVERRIDES for the
    programs run in it; `.wine` is the loader to run them with.
    """

    def __init__(self, audio=False, timeout=300):
        self.audio, self.timeout = audio, timeout
        # Debian's wine wrapper only adds a note about the missing 32-bit half.
        self.wine = "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else shutil.which("wine")
        self.folder = None
        self.env = {}

    def _run(self, *argv, timeout=120):
        env = dict(os.environ, **self.env, DISPLAY="", WINEDEBUG="-all")
        env.pop("WAYLAND_DISPLAY", None)
        proc = _spawn(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            out, _ = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            _end(proc)
            raise Failure(f"{' '.join(argv)} took longer than {timeout} s")
        finally:
            _live.discard(proc)
        if proc.returncode != 0:
            raise Failure(f"{' '.join(argv)} failed with status {proc.returncode}: "
                          + out.decode(errors="replace")[-1500:])

    def open(self):
        check(self.wine, "Wine is not installed")
        self.folder = tempfile.mkdtemp(prefix="twindial-wine-")
        # No Mono or Gecko installers: the program needs neither.
        self.env = {"WINEPREFIX": os.path.join(self.folder, "prefix"), "WINEARCH": "win64",
                    "WINELOADER": self.wine, "WINEDLLOVERRIDES": "mscoree,mshtml="}
        self._run(self.wine, "wineboot", "-i", timeout=self.timeout)
        if not self.audio:
            self._run(self.wine, "reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Audio", "/d", "", "/f")
        self._run(self.wine, "reg", "add", r"HKCU\Software\Wine\Direct3D", "/v", "csmt", "/t", "REG_DWORD",
                  "/d", "0", "/f")
        self.wineserver("-w")

    def wineserver(self, *args):
        server = shutil.which("wineserver") or os.path.join(os.path.dirname(self.wine), "wineserver")
        self._run(server, *args)

    def version(self):
        r = subprocess.run([self.wine, "--version"], capture_output=True, text=True, timeout=30)
        return r.stdout.strip()

    def close(self):
        if self.folder:
            try:
                self.wineserver("-k")
            except Failure:
                pass
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None


# ---------------------------------------------------------------------------
# Running cases

def run_cases(cases):
    """Runs (name, function) cases in order; prints "PASS name", "SKIP name: why" or "FAIL name: why"
    for each. A case skips itself by raising Skip. Returns (passed, failed)."""
    passed = failed = 0
    for name, case in cases:
        try:
            case()
            print("PASS", name, flush=True)
            passed += 1
        except Skip as e:
            print(f"SKIP {name}: {e}", flush=True)
        except Exception as e:  # a broken case is reported, never crashes the run
            print(f"FAIL {name}: {e}", flush=True)
            failed += 1
            if isinstance(e, TimeoutError):
                break
    return passed, failed


class Skip(Exception):
    """Raised by a case that cannot run here (say, it needs root)."""


def suite_main(body, watchdog_s, tools=TOOLS):
    """Runs body() -> (passed, failed) under a watchdog, prints "N passed, M failed" and returns the
    exit status. A failure outside the cases counts as one failed "setup"; a run longer than
    watchdog_s fails the case that was running and ends the run."""
    def watchdog(signum, frame):
        raise TimeoutError(f"the run took longer than {watchdog_s} s")

    passed = failed = 0
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print("FAIL setup: missing", " ".join(missing))
        failed = 1
    else:
        signal.signal(signal.SIGALRM, watchdog)
        signal.alarm(watchdog_s)
        try:
            passed, failed = body()
        except Exception as e:
            print("FAIL setup:", e, flush=True)
            failed += 1
        finally:
            signal.alarm(0)
            _end_all()
    print(f"{passed} passed, {failed} failed", flush=True)
    return 1 if failed else 0
