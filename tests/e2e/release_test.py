#!/usr/bin/env python3
"""Tests of the release archives that scripts/release writes into dist/.

    release_test.py DIST

Each archive is unpacked as a user would, into a fresh folder whose path has
a space in it, and the program is started from another working directory:
the Linux build in a private X session, the Windows build under Wine. There
it draws, saves a snapshot into that folder's current_save and ends with
status 0 after Escape. Also: the archives' layout, the SHA-256 sums, what the
Linux executable needs from the system, the menu scripts in a temporary HOME
(the entry passes desktop-file-validate; nothing is left after removal), the
Windows README's CR LF line ends and the executable's version resource.
Prints "PASS name" / "FAIL name: why" per case and "N passed, M failed".
"""
import hashlib
import os
import re
import shutil
import stat
import subprocess
import sys
import tarfile
import tempfile
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import xharness as xh  # noqa: E402
from xharness import Failure, check, poll  # noqa: E402

WATCHDOG_S = 900
SOURCE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
# The packages the Linux program may need beyond a minimal Debian 12 (README.txt names them).
RUNTIME_PACKAGES = ("libsdl2-2.0-0", "libpng16-16")
# Every Debian system has apt, and with it what apt needs (the C and C++ runtimes, zlib).
BASE_PACKAGES = ("apt",)
LINUX_FILES = {"twindial/": "d", "twindial/current_save/": "d", "twindial/twindial": "x",
               "twindial/README.txt": "f", "twindial/twindial.png": "f",
               "twindial/add-to-menu": "x", "twindial/remove-from-menu": "x"}
WINDOWS_FILES = {"Twindial/", "Twindial/current_save/", "Twindial/twindial.exe", "Twindial/README.txt"}


def project_version():
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt")) as f:
        m = re.search(r"^project\(twindial VERSION (\d+)\.(\d+)\.(\d+)\b", f.read(), re.M)
    check(m, "CMakeLists.txt has no project(twindial VERSION X.Y.Z)")
    return tuple(int(n) for n in m.groups())


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, timeout=120, **kw)


def tree(root):
    """{relative path: (kind, bytes)} of everything below root."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root)
            if os.path.isdir(path) and not os.path.islink(path):
                found[rel] = ("dir", b"")
            else:
                with open(path, "rb") as f:
                    found[rel] = ("file", f.read())
    return found


# ---------------------------------------------------------------------------
# What the Linux executable needs

def owning_package(soname):
    """The Debian package of the library the dynamic linker would load for soname."""
    r = run(["ldconfig", "-p"])
    paths = [line.split("=>")[-1].strip() for line in r.stdout.splitlines()
             if line.strip().startswith(soname + " ") and "x86-64" in line]
    check(paths, f"the dynamic linker knows no {soname}")
    path = paths[0]
    # With merged /usr, dpkg may know the file under the other of /lib and /usr/lib.
    for candidate in (path, path[4:] if path.startswith("/usr/") else "/usr" + path):
        r = run(["dpkg", "-S", candidate])
        if r.returncode == 0:
            return r.stdout.split(":")[0].strip()
    raise Failure(f"no Debian package holds {path}")


def dependency_closure(packages):
    """The packages these depend on, recursively (Depends and Pre-Depends), themselves included."""
    r = run(["apt-cache", "depends", "--recurse", "--no-recommends", "--no-suggests", "--no-conflicts",
             "--no-breaks", "--no-replaces", "--no-enhances", *packages])
    check(r.returncode == 0, "apt-cache depends failed: " + r.stderr.strip())
    return {line.split(":")[0] for line in r.stdout.splitlines() if line and not line.startswith((" ", "<"))}


# ---------------------------------------------------------------------------
# The Windows executable's version resource

def version_info(block):
    """The VS_VERSIONINFO resource: (file version, product version, {string name: value})."""
    def node(at):
        length, value_length, kind = (int.from_bytes(block[at + i:at + i + 2], "little") for i in (0, 2, 4))
        end = block.index(b"\0\0", at + 6)
        while (end - at - 6) % 2:  # the key is UTF-16: its terminator starts at an even offset
            end = block.index(b"\0\0", end + 1)
        key = block[at + 6:end].decode("utf-16-le")
        value_at = (end + 2 + 3) & ~3
        value_size = value_length * 2 if kind == 1 else value_length
        value = block[value_at:value_at + value_size]
        children, child = [], (value_at + value_size + 3) & ~3
        while child < at + length:
            children.append(node(child))
            child = (child + children[-1][3] + 3) & ~3
        return key, value, children, length

    key, fixed, children, _ = node(0)
    check(key == "VS_VERSION_INFO", f"the version resource starts with {key!r}")
    check(len(fixed) == 52 and int.from_bytes(fixed[0:4], "little") == 0xFEEF04BD, "no VS_FIXEDFILEINFO")
    words = [int.from_bytes(fixed[i:i + 4], "little") for i in range(8, 24, 4)]
    as_tuple = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}
    for name, _, tables, _ in children:
        if name == "StringFileInfo":
            for _, _, entries, _ in tables:
                for k, v, _, _ in entries:
                    strings[k] = v.decode("utf-16-le").rstrip("\0")
    return as_tuple(words[0], words[1]), as_tuple(words[2], words[3]), strings


# ---------------------------------------------------------------------------
# The desktop entry's Exec key

def exec_argv(value):
    """The argument list of an Exec value: string escapes undone, then the double-quoted arguments
    split and unescaped, as menu launchers do."""
    unescaped = re.sub(r"\\(.)", lambda m: {"s": " ", "n": "\n", "t": "\t", "r": "\r"}.get(m.group(1), m.group(1)),
                       value)
    args, i = [], 0
    while i < len(unescaped):
        if unescaped[i] == " ":
            i += 1
            continue
        arg = ""
        if unescaped[i] == '"':
            i += 1
            while i < len(unescaped) and unescaped[i] != '"':
                if unescaped[i] == "\\" and i + 1 < len(unescaped):
                    i += 1
                arg += unescaped[i]
                i += 1
            check(i < len(unescaped), "an Exec argument's quote is not closed")
            i += 1
        else:
            while i < len(unescaped) and unescaped[i] != " ":
                arg += unescaped[i]
                i += 1
        check("%" not in arg.replace("%%", ""), f"a field code in Exec argument {arg!r}")
        args.append(arg.replace("%%", "%"))
    return args


def desktop_keys(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    check(lines and lines[0] == "[Desktop Entry]", "the entry does not start with [Desktop Entry]")
    return dict(line.split("=", 1) for line in lines[1:] if "=" in line and not line.startswith("#"))


# ---------------------------------------------------------------------------

class Cases:
    def __init__(self, dist, scratch):
        self.dist, self.scratch = dist, scratch
        major, minor, patch = self.version = project_version()
        text = f"{major}.{minor}.{patch}"
        self.version_text = text
        self.tarball = os.path.join(dist, f"twindial-{text}-linux-x86_64.tar.gz")
        self.zipfile = os.path.join(dist, f"twindial-{text}-windows-x64.zip")
        self.sums = os.path.join(dist, f"twindial-{text}-SHA256SUMS")
        self.look = xh.toy()

    def fresh_folder(self, name):
        """A new, empty folder whose path has a space in it."""
        return tempfile.mkdtemp(prefix=f"{name} ", dir=self.scratch)

    def unpack_linux(self, name="un packed"):
        folder = self.fresh_folder(name)
        r = run(["tar", "-xzf", self.tarball, "-C", folder])
        check(r.returncode == 0, "tar cannot unpack the archive: " + r.stderr.strip())
        return os.path.join(folder, "twindial")

    def unpack_windows(self):
        folder = self.fresh_folder("un packed")
        with zipfile.ZipFile(self.zipfile) as z:
            z.extractall(folder)
        return os.path.join(folder, "Twindial")

    # -- the files ----------------------------------------------------------------

    def sums_file(self):
        """The sums file names both archives, with their SHA-256."""
        with open(self.sums) as f:
            lines = [line.split() for line in f.read().splitlines() if line]
        listed = {name.lstrip("*"): digest for digest, name in lines}
        want = {os.path.basename(self.tarball), os.path.basename(self.zipfile)}
        check(set(listed) == want, f"the sums file lists {sorted(listed)}, not {sorted(want)}")
        for name, digest in listed.items():
            with open(os.path.join(self.dist, name), "rb") as f:
                actual = hashlib.sha256(f.read()).hexdigest()
            check(actual == digest, f"the SHA-256 of {name} is {actual}, the sums file says {digest}")

    def linux_layout(self):
        """twindial/ holds the program, an empty current_save, README.txt, the icon and the menu scripts."""
        with tarfile.open(self.tarball) as t:
            members = {m.name + ("/" if m.isdir() else ""): m for m in t.getmembers()}
            check(set(members) == set(LINUX_FILES), f"the archive holds {sorted(members)}")
            for name, kind in LINUX_FILES.items():
                m = members[name]
                check(m.isdir() if kind == "d" else m.isfile(), f"{name} is not a {'folder' if kind == 'd' else 'file'}")
                if kind == "x":
                    check(m.mode & stat.S_IXUSR, f"{name} is not executable")
                check(m.uid == 0 and m.gid == 0, f"{name} belongs to {m.uid}:{m.gid}, not to root")
            readme = t.extractfile("twindial/README.txt").read().decode()
            icon = t.extractfile("twindial/twindial.png").read()
        for package in RUNTIME_PACKAGES:
            check(package in readme, f"README.txt does not name {package}")
        check(b"\r" not in readme.encode(), "the Linux README.txt has CR line ends")
        check(icon[:8] == b"\x89PNG\r\n\x1a\n" and icon[12:16] == b"IHDR", "the icon is no PNG")
        w, h, depth, colour = int.from_bytes(icon[16:20], "big"), int.from_bytes(icon[20:24], "big"), icon[24], icon[25]
        check((w, h, depth, colour) == (256, 256, 8, 6), f"the icon is {w}x{h}, depth {depth}, colour type {colour}, "
              "not 256x256 8-bit RGBA")

    def linux_needs(self):
        """Stripped, no run path, and every library it needs comes from a minimal Debian 12 or the
        runtime packages README.txt names (or what those depend on)."""
        exe = os.path.join(self.unpack_linux(), "twindial")
        r = run(["objdump", "-p", exe])
        check(r.returncode == 0, "objdump cannot read the program: " + r.stderr.strip())
        needed = re.findall(r"^\s*NEEDED\s+(\S+)", r.stdout, re.M)
        check(needed, "objdump shows no NEEDED library")
        for key in ("RPATH", "RUNPATH"):
            check(not re.search(rf"^\s*{key}\s", r.stdout, re.M), f"the program has an {key}")
        allowed = dependency_closure(BASE_PACKAGES + RUNTIME_PACKAGES)
        packages = {soname: owning_package(soname) for soname in needed}
        print("INFO the Linux program needs", ", ".join(f"{s} ({p})" for s, p in packages.items()), flush=True)
        extra = sorted(f"{s} ({p})" for s, p in packages.items() if p not in allowed)
        check(not extra, f"needs libraries outside Debian's base and {', '.join(RUNTIME_PACKAGES)}: {extra}")
        sections = run(["readelf", "--section-headers", "--wide", exe]).stdout
        check(".text" in sections, "readelf shows no sections")
        check(".symtab" not in sections and ".debug" not in sections, "the program is not stripped")

    def windows_layout(self):
        """Twindial/ holds the program, an empty current_save and a README.txt with CR LF line ends."""
        with zipfile.ZipFile(self.zipfile) as z:
            names = set(z.namelist())
            check(names == WINDOWS_FILES, f"the archive holds {sorted(names)}")
            readme = z.read("Twindial/README.txt")
        lines = readme.split(b"\r\n")
        check(len(lines) > 10 and lines[-1] == b"", "README.txt does not end with CR LF")
        bare = [i + 1 for i, line in enumerate(lines) if b"\n" in line or b"\r" in line]
        check(not bare, f"README.txt has line ends other than CR LF in lines {bare[:5]}")
        text = readme.decode()
        for word in ("Arrow keys", "Backspace", "Enter", "Escape", "current_save", "save.bmp"):
            check(word in text, f"README.txt does not mention {word}")

    def windows_version(self):
        """FileVersion and ProductVersion are the project's version; the names are filled in."""
        folder = self.unpack_windows()
        # wrestool (icoutils) writes the raw resource: type 16 is RT_VERSION.
        r = subprocess.run(["wrestool", "--extract", "--raw", "--type=16", os.path.join(folder, "twindial.exe")],
                           capture_output=True, timeout=60)
        block = r.stdout
        check(r.returncode == 0 and block, "the executable has no version resource")
        file_version, product_version, strings = version_info(block)
        want = self.version + (0,)
        check(file_version == want, f"the fixed FileVersion is {file_version}, not {want}")
        check(product_version == want, f"the fixed ProductVersion is {product_version}, not {want}")
        for key in ("FileVersion", "ProductVersion"):
            check(strings.get(key) == self.version_text, f"{key} is {strings.get(key)!r}, not {self.version_text!r}")
        check(strings.get("ProductName") == "Twindial", f"ProductName is {strings.get('ProductName')!r}")
        for key in ("FileDescription", "CompanyName", "LegalCopyright"):
            check(strings.get(key), f"no {key}")
        print(f"INFO version resource: {strings}", flush=True)

    # -- the menu entry -------------------------------------------------------------

    def menu_scripts(self):
        """The entry passes desktop-file-validate and starts the program of this folder; the icon goes
        beside it; removing leaves HOME as it was, with what was there before untouched."""
        odd = 'odd "$name`s" 100% \\ folder'
        other_entry = {os.path.join(".local", "share", "applications", "other.desktop"): b"[Desktop Entry]\n"}
        # (name of the case, folder to unpack into, files in HOME before, XDG_DATA_HOME below HOME)
        table = [
            ("an empty HOME", "un packed", {}, None),
            ("a HOME with a menu of its own", "un packed", other_entry, None),
            ("a path with quotes, $, `, % and \\", odd, {}, None),
            ("XDG_DATA_HOME set", "un packed", {}, "my data"),
        ]
        for name, folder_name, before, xdg in table:
            folder = self.unpack_linux(folder_name)
            home = self.fresh_folder("home")
            for rel, content in before.items():
                os.makedirs(os.path.dirname(os.path.join(home, rel)), exist_ok=True)
                with open(os.path.join(home, rel), "wb") as f:
                    f.write(content)
            env = {k: v for k, v in os.environ.items() if k != "XDG_DATA_HOME"}
            env["HOME"] = home
            data = os.path.join(home, ".local", "share")
            if xdg:
                env["XDG_DATA_HOME"] = data = os.path.join(home, xdg)
            was = tree(home)
            elsewhere = self.fresh_folder("cwd")
            r = run([os.path.join(folder, "add-to-menu")], cwd=elsewhere, env=env)
            check(r.returncode == 0, f"{name}: add-to-menu failed: {r.stderr.strip()}")
            entry = os.path.join(data, "applications", "twindial.desktop")
            icon = os.path.join(data, "icons", "hicolor", "256x256", "apps", "twindial.png")
            check(os.path.isfile(entry) and os.path.isfile(icon), f"{name}: no entry or no icon under {data}")
            v = run(["desktop-file-validate", entry])
            check(v.returncode == 0 and not v.stdout.strip(),
                  f"{name}: desktop-file-validate: {(v.stdout + v.stderr).strip()}")
            keys = desktop_keys(entry)
            program = os.path.join(folder, "twindial")
            check(exec_argv(keys.get("Exec", "")) == [program], f"{name}: Exec={keys.get('Exec')} does not run {program}")
            with open(icon, "rb") as a, open(os.path.join(folder, "twindial.png"), "rb") as b:
                check(a.read() == b.read(), f"{name}: the installed icon differs from the folder's")
            check(keys.get("Icon") == "twindial", f"{name}: Icon={keys.get('Icon')}")
            r = run([os.path.join(folder, "remove-from-menu")], cwd=elsewhere, env=env)
            check(r.returncode == 0, f"{name}: remove-from-menu failed: {r.stderr.strip()}")
            now = tree(home)
            check(now == was, f"{name}: HOME changed: added {sorted(set(now) - set(was))}, "
                  f"removed {sorted(set(was) - set(now))}")
            check(not os.listdir(elsewhere), f"{name}: the scripts wrote into the working directory")

    # -- playing ----------------------------------------------------------------------

    def play(self, session, argv, folder, env=None, timeout=15):
        """Starts the unpacked program from another working directory, draws, saves, quits by Escape."""
        elsewhere = self.fresh_folder("cwd")
        prog = session.start(argv, cwd=elsewhere, env=env, timeout=timeout)
        try:
            look = self.look

            def ink(img):
                return img.count(look.brush_light, look.drawing_area) + img.count(look.brush_dark, look.drawing_area)
            before = ink(prog.settled())
            prog.activate()
            prog.hold("Right", 1.0)
            shown = prog.settled()
            check(ink(shown) > before, f"holding Right drew nothing: {ink(shown)} ink pixels, {before} before")
            prog.key("Return")
            boxes = poll(prog.boxes, timeout)
            check(boxes, "Enter showed no confirmation box")
            snapshot = os.path.join(folder, "current_save", "save.bmp")
            check(os.path.isfile(snapshot), "no snapshot in the unpacked folder's current_save")
            check(xh.Image.load("png:" + snapshot) == shown, "the snapshot differs from the window's picture")
            session.activate(boxes[0])
            prog.key("Return")
            check(poll(lambda: not prog.boxes(), timeout), "the confirmation box stayed up")
            prog.activate()
            prog.key("Escape")
            notices = poll(prog.boxes, timeout)
            check(notices, "Escape showed no notice box")
            session.activate(notices[0])
            prog.key("Return")
            status = prog.wait_exit(timeout)
            check(status == 0, f"exit status {status} after Escape")
            check(not os.listdir(elsewhere), f"the program wrote into its working directory: {os.listdir(elsewhere)}")
        finally:
            prog.close()

    def linux_plays(self):
        folder = self.unpack_linux()
        with xh.XSession() as session:
            self.play(session, [os.path.join(folder, "twindial")], folder)

    def windows_plays(self):
        folder = self.unpack_windows()
        with xh.WinePrefix() as prefix, xh.XSession(env=prefix.env) as session:
            self.play(session, [prefix.wine, os.path.join(folder, "twindial.exe")], folder,
                      env={"WINEDEBUG": "-all"}, timeout=60)

    def cases(self):
        return [
            ("sha256_sums_match_the_archives", self.sums_file),
            ("linux_archive_layout", self.linux_layout),
            ("linux_program_stripped_needs_only_debian_base_and_runtime_packages", self.linux_needs),
            ("linux_menu_scripts_add_valid_entry_and_remove_it_all", self.menu_scripts),
            ("linux_unpacked_draws_saves_into_its_folder_and_escape_ends_0", self.linux_plays),
            ("windows_archive_layout_and_crlf_readme", self.windows_layout),
            ("windows_version_resource_has_project_version", self.windows_version),
            ("windows_unpacked_under_wine_draws_saves_into_its_folder_and_escape_ends_0", self.windows_plays),
        ]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: release_test.py DIST")
    dist = os.path.abspath(sys.argv[1])
    scratch = tempfile.mkdtemp(prefix="twindial-release-test-")
    try:
        return xh.suite_main(lambda: xh.run_cases(Cases(dist, scratch).cases()), WATCHDOG_S,
                             tools=("objdump", "readelf", "desktop-file-validate", "tar", "wrestool"))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
