#!/usr/bin/env python3
"""The Windows Installer packages under Wine, each in fresh prefixes of its own.

  msi_test.py --packages DIR --dist DIR --version V --fixtures64 DLL --fixtures32 DLL
              --work DIR --package-wine-dir DIR [--only x64,x86,x64-user] [--no-wine32]

For each package (x64 in a 64-bit prefix with the 32-bit Wine, x86 in a 32-bit prefix):
  - the registration it writes equals, key by key and value by value, what regsvr32
    writes in another prefix for the same DLLs at the same paths (x64: both bitnesses,
    each in its own view);
  - installing it twice changes nothing; msiexec /x leaves the registry and the file tree
    as they were before the install;
  - two consecutive releases: the previous release (a lower release version, DLLs with
    other bytes but the same version resources), then this one over it: one product,
    its files, the registration; then the previous one over this one: refused, naming
    the installed version, nothing changed; then msiexec /x: nothing left;
  - a registration made by hand before the install is taken over, and keys that another
    product added under the same classes stay after the uninstall;
  - script hosts of each bitness create "Corvane.Crypt" and "Tamsel.Wrapper" and round-trip
    a text; corvane.exe runs from the install folder.

With --no-wine32 (no 32-bit Wine on the machine) everything runs under wine64: the x64
and per-user packages are installed and checked, the x86 package only refused on 64-bit
Windows; the 32-bit regsvr32 and cscript cannot run, so the 32-bit view's expected
registration is the 64-bit one at the x86 folder (what regsvr32 of the x86 DLLs writes
there) and the 32-bit script host is not run; the output says so.
The per-user x64 package is installed and removed the same way; see check_per_user for
what Wine lets that test show.

What may differ, and why:
  - HELPDIR's trailing backslash: Windows Installer writes folders only with one;
  - Windows Installer's records of the product (its product store, the Add/Remove
    Programs entry), which regsvr32 has no part in; after the last uninstall the empty
    containers of that store and the empty C:\windows\Installer stay, as on Windows;
  - DriverDateData of the display adapter, which Wine rewrites whenever a desktop starts.
Registry states are read from system.reg and user.reg with the prefix's server stopped.
"""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_registry as reg  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
SCRIPT = os.path.join(ROOT, "tests", "packaging", "installed_objects.js")
SCRIPT_PASSED = "installed_objects.js: all checks passed"
CREATE_ERROR = os.path.join(ROOT, "tests", "packaging", "create_error.js")
STAND_IN_32BIT_KEYS = [f"HKLM\\Software\\Classes\\Wow6432Node\\{k}\\{{00000000-0000-0000-0000-00000000C0DE}}"
                       for k in ("CLSID", "Interface")]
# Set by --no-wine32: only wine64 runs here.
NO_WINE32 = False


def raw(path):
    """A key path as wine_registry keeps it (backslashes doubled)."""
    return path.replace("\\", "\\\\")


def under(path, *roots):
    return any(path == r or path.startswith(r + "\\\\") for r in roots)


CLASSES = (raw(r"HKLM\Software\Classes"), raw(r"HKCU\Software\Classes"))
# Windows Installer's own records of installed products (per machine and per user).
INSTALLER_STORES = tuple(raw(p) for p in (
    r"HKLM\Software\Classes\Installer",
    r"HKLM\Software\Microsoft\Windows\CurrentVersion\Installer",
    r"HKCU\Software\Microsoft\Installer",
))
# The installed release's version, which the package writes beside its registration.
PRODUCT_KEYS = (raw(r"HKLM\Software\Corvane"), raw(r"HKCU\Software\Corvane"))
UNINSTALL = (raw(r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"),
             raw(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall"))
# Wine's display driver writes a new date here whenever a program starts the desktop.
NOISE_VALUES = {(raw(r"HKLM\System\CurrentControlSet\Control\Class\{4D36E968-E325-11CE-BFC1-08002BE10318}\0000"),
                 '"DriverDateData"')}
# Windows Installer's cache of installed packages: the folder stays (Windows always has it).
INSTALLED_PACKAGES = "windows/Installer/"


def without_noise(changes):
    result = {}
    for path, (old, new) in changes.items():
        if old is not None and new is not None:
            names = {n for n in old.values.keys() | new.values.keys() if (path, n) not in NOISE_VALUES}
            if old.meta == new.meta and all(old.values.get(n) == new.values.get(n) for n in names):
                continue
        result[path] = (old, new)
    return result


class Report:
    def __init__(self):
        self.failures = 0

    def check(self, ok, what, details=()):
        print(("ok: " if ok else "FAIL: ") + what, flush=True)
        if not ok:
            self.failures += 1
            for line in list(details)[:60]:
                print("      " + line)
        return ok


class State:
    def __init__(self, registry, files):
        self.registry = registry
        self.files = files


class Prefix:
    """A Wine prefix under WORK; 'win64' (with the 32-bit Wine beside it) or 'win32'."""

    def __init__(self, path, arch, locale_dir):
        self.path = os.path.abspath(path)
        self.arch = arch
        self.locale_dir = locale_dir

    def env(self, codepage=1252):
        # No menu integration: winemenubuilder records what it did under HKCU\Software\Wine,
        # at times of its own.
        env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        env.pop("DISPLAY", None)
        if self.arch == "win32":
            env["WINEARCH"] = "win32"
        if codepage == 932:
            env.update(LOCPATH=self.locale_dir, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
        else:
            env.pop("LOCPATH", None)
            env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8")
        return env

    def run(self, args, bits=None, codepage=1252):
        """(exit status, output); exit statuses arrive through Unix, so modulo 256."""
        loader = WINE32 if (bits == 32 or self.arch == "win32") else WINE64
        # Output to a file, not a pipe: services that a program starts inherit its
        # handles and would keep a pipe open long after the program ended.
        with tempfile.TemporaryFile() as output:
            status = subprocess.run([loader] + args, env=self.env(codepage), stdin=subprocess.DEVNULL,
                                    stdout=output, stderr=subprocess.STDOUT).returncode
            output.seek(0)
            return status, output.read().decode("utf-8", errors="replace")

    def start(self):
        # A persistent server spares each program a start-up; status 2: one runs already.
        subprocess.run(["wineserver", "-p"], env=self.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        env = self.env()
        subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def snapshot(self):
        """The registry and the file tree of drive C, with the server stopped (so the
        registry files are written); the next program starts it again."""
        self.stop()
        files = {}
        drive = os.path.join(self.path, "drive_c")
        for top, dirs, names in os.walk(drive):
            for name in dirs + names:
                full = os.path.join(top, name)
                rel = os.path.relpath(full, drive)
                st = os.lstat(full)
                if os.path.islink(full):
                    files[rel] = ("link", os.readlink(full))
                elif os.path.isdir(full):
                    files[rel] = ("dir",)
                else:
                    files[rel] = ("file", st.st_size, st.st_mtime_ns)
        state = State(reg.load_prefix(self.path), files)
        self.start()
        return state

    def drive_path(self, windows_path):
        """C:\\a\\b -> the Linux path inside this prefix."""
        assert windows_path[1:3] == ":\\"
        return os.path.join(self.path, "drive_c", *windows_path[3:].split("\\"))

    def create(self):
        """A new prefix, with windowed programs of each bitness run in it: Wine updates
        its display and network keys while the first such program starts the desktop,
        so they settle before any snapshot."""
        if os.path.exists(self.path):
            self.stop()
            shutil.rmtree(self.path)
        loader = WINE32 if self.arch == "win32" else WINE64
        subprocess.run([loader, "wineboot", "-i"], env=self.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        self.stop()
        self.start()
        for bits in ((64,) if NO_WINE32 else (64, 32)) if self.arch == "win64" else (32,):
            self.run(["regsvr32", "/s", "C:\\no such file.dll"], bits=bits)
        time.sleep(2)
        self.run(["regsvr32", "/s", "C:\\no such file.dll"])
        if NO_WINE32 and self.arch == "win64":
            # Without the 32-bit Wine nothing registers 32-bit classes and interfaces, and
            # Windows Installer removes the keys it leaves empty up to the first one with
            # contents: the empty Wow6432Node\CLSID and \Interface would go too, which no
            # Windows has empty.
            for key in STAND_IN_32BIT_KEYS:
                self.run(["reg", "add", key, "/ve", "/d", "stand-in", "/f"])
        self.stop()

    def clone(self, path):
        """A copy of this (stopped) prefix. The files of drive C are shared by hard links
        (nothing here writes into an existing one); the prefix's own files (registry,
        server identity) are copied."""
        copy = Prefix(path, self.arch, self.locale_dir)
        if os.path.exists(copy.path):
            copy.stop()
            shutil.rmtree(copy.path)
        subprocess.run(["cp", "-al", self.path, copy.path], check=True)
        for entry in os.scandir(self.path):
            if entry.is_file(follow_symlinks=False):
                os.remove(os.path.join(copy.path, entry.name))
                shutil.copy2(entry.path, os.path.join(copy.path, entry.name))
        return copy


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def sha256(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


# --- what is compared ---------------------------------------------------------------

def registration(before, after):
    """What changed in the class registrations of both hives (Windows Installer's own
    records, which also live under Classes, left out)."""
    changes = without_noise(reg.changes(before.registry, after.registry))
    return {p: c for p, c in changes.items() if under(p, *CLASSES) and not under(p, *INSTALLER_STORES)}


def normalised_msi_value(path, name, data):
    """The one deliberate difference: RegisterTypeLib records the help folder without a
    trailing backslash, and Windows Installer names folders only with one."""
    if path.endswith("\\\\HELPDIR") and name == "@" and data.endswith('\\\\"'):
        return data[:-3] + '"'
    return data


def compare_registrations(report, what, expected, actual, allowed_alternatives=None):
    """Key by key, value by value. expected/actual: {path: (old, new)}."""
    lines = []
    for path in sorted(expected.keys() | actual.keys()):
        e = expected.get(path, (None, None))[1]
        a = actual.get(path, (None, None))[1]
        if (e is None) != (a is None):
            lines.append(f"{'missing' if a is None else 'unexpected'} key [{reg.display(path)}]")
            continue
        if e is None:
            continue
        if e.meta != a.meta:
            lines.append(f"[{reg.display(path)}] flags {e.meta} != {a.meta}")
        for name in sorted(e.values.keys() | a.values.keys()):
            want = e.values.get(name)
            got = a.values.get(name)
            if got is not None:
                got = normalised_msi_value(path, name, got)
            ok = want == got or (allowed_alternatives and got in allowed_alternatives.get((path, name), ()))
            if not ok:
                lines.append(f"[{reg.display(path)}] {name}: regsvr32 {want} / msiexec {got}")
    views = {"64-bit view": 0, "32-bit view": 0, "shared": 0}
    for path in expected:
        if "\\\\Wow6432Node\\\\" in path:
            views["32-bit view"] += 1
        elif "\\\\CLSID\\\\" in path or "\\\\Interface\\\\" in path:
            views["64-bit view"] += 1
        else:
            views["shared"] += 1
    counts = ", ".join(f"{n} {k}" for k, n in views.items() if n)
    report.check(not lines, f"{what} ({len(expected)} keys: {counts})", lines)


def unexpected_changes(before, after, product_code, allow_empty_store_keys):
    """Changes outside the registrations and Windows Installer's own records (its product
    store and the product's Add/Remove Programs entry)."""
    lines = []
    for path, (old, new) in sorted(without_noise(reg.changes(before.registry, after.registry)).items()):
        if under(path, *CLASSES) and not under(path, *INSTALLER_STORES):
            continue  # compared by compare_registrations
        if product_code and under(path, *INSTALLER_STORES + PRODUCT_KEYS):
            continue
        if product_code and any(under(path, u + "\\\\{" + product_code + "}") for u in UNINSTALL):
            continue
        # Windows Installer keeps the containers of its records once made, empty.
        if allow_empty_store_keys and old is None and under(path, *INSTALLER_STORES) and \
                not any(k.values or k.meta for p, k in after.registry.items() if under(p, path)):
            continue
        lines += reg.describe(path, old, new)
    return lines


def paths_changed(before, after):
    """Files and folders added or removed, Windows Installer's cached packages aside."""
    return sorted(r for r in before.files.keys() ^ after.files.keys()
                  if not (r.startswith(INSTALLED_PACKAGES) and r.endswith(".msi")))


def file_changes(before, after, ignore_cached_packages=False):
    lines = []
    for rel in sorted(before.files.keys() | after.files.keys()):
        if ignore_cached_packages and rel.startswith(INSTALLED_PACKAGES) and rel.endswith(".msi"):
            continue
        a, b = before.files.get(rel), after.files.get(rel)
        if rel + "/" == INSTALLED_PACKAGES and a is None and b == ("dir",):
            continue
        if a != b:
            lines.append(f"{rel}: {a} -> {b}")
    return lines


def cached_packages(state):
    return sorted(r for r in state.files if r.startswith(INSTALLED_PACKAGES) and r.endswith(".msi"))


def packed_guid(guid):
    """A GUID as Windows Installer spells it in its registry keys."""
    h = guid.strip("{}").replace("-", "").upper()
    return h[7::-1] + h[11:7:-1] + h[15:11:-1] + "".join(h[i + 1] + h[i] for i in range(16, 32, 2))


def products_of_upgrade_code(state, upgrade_code):
    """Products that Windows Installer lists under an UpgradeCode (per-machine products)."""
    key = state.registry.get(raw("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\"
                                 + packed_guid(upgrade_code)))
    return sorted(key.values) if key else []


# --- preparing ----------------------------------------------------------------------

def patch_version(data, file_version):
    """The same PE file with another version in its fixed version information."""
    signature = data.find(struct.pack("<I", 0xFEEF04BD))
    assert signature > 0
    a, b, c, d = (int(x) for x in file_version.split("."))
    fixed = struct.pack("<IIII", (a << 16) | b, (c << 16) | d, (a << 16) | b, (c << 16) | d)
    return data[:signature + 8] + fixed + data[signature + 24:]


def make_older_dist(dist, out):
    """The built files as the previous release has them: other bytes, the same version
    resources (the DLLs' are fixed), so only a major upgrade that removes the older
    product first replaces them."""
    for bitness in ("x64", "x86"):
        os.makedirs(os.path.join(out, bitness), exist_ok=True)
        for name in ("Corvane.dll", "TamselWrapper.dll", "corvane.exe"):
            data = open(os.path.join(dist, bitness, name), "rb").read() + b"previous release"
            with open(os.path.join(out, bitness, name), "wb") as f:
                f.write(data)


def previous_version(version):
    """A release version lower than version in its first three fields."""
    a, b, c = (int(x) for x in version.split("."))
    if c:
        return f"{a}.{b}.{c - 1}"
    return f"{a}.{b - 1}.0" if b else f"{a - 1}.0.0"


def build_package(platform, scope, dist, out, version, wine_dir):
    subprocess.run([sys.executable, os.path.join(ROOT, "packaging", "make_package.py"), "msi", "--platform", platform,
                    "--scope", scope, "--dist", dist, "--out", out, "--version", version, "--wine-dir", wine_dir],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def msi_property(msi, wanted):
    for line in subprocess.run(["msiinfo", "export", msi, "Property"], capture_output=True, text=True,
                               check=True).stdout.splitlines():
        name, _, value = line.partition("\t")
        if name == wanted:
            return value.strip().strip("{}")
    raise SystemExit(f"{msi}: no {wanted}")


# --- the checks -----------------------------------------------------------------------

class Layout:
    """Where a package puts the DLLs: {bitness: Windows folder}, and the bitness whose
    folder RegisterTypeLib records first."""

    def __init__(self, folders):
        self.folders = folders


def reference_registration(template, path, layout, dist, report):
    """regsvr32 on the DLLs copied to the folders the package installs them to: the x64
    DLLs by the 64-bit regsvr32 first, then the x86 ones by the 32-bit one. In code page
    932, the code page of the type library's help strings."""
    prefix = template.clone(path)
    for bitness, folder in layout.folders.items():
        target = prefix.drive_path(folder)
        os.makedirs(target, exist_ok=True)
        for name in ("Corvane.dll", "TamselWrapper.dll"):
            shutil.copy2(os.path.join(dist, bitness, name), target)
    prefix.start()
    # Wine records the locale in the registry on its first program in it: before the snapshot.
    prefix.run(["reg", "query", r"HKLM\Software", "/ve"], codepage=932)
    before = prefix.snapshot()
    for bitness, folder in layout.folders.items():
        if bitness == "x86" and NO_WINE32:
            continue
        for name in ("Corvane.dll", "TamselWrapper.dll"):
            status, output = prefix.run(["regsvr32", "/s", folder + "\\" + name],
                                        bits=64 if bitness == "x64" else 32, codepage=932)
            report.check(status == 0, f"reference: regsvr32 {folder}\\{name}", [output])
    after = prefix.snapshot()
    prefix.stop()
    expected = registration(before, after)
    if NO_WINE32 and "x86" in layout.folders:
        expected = with_32bit_view(expected, layout)
        print("SKIPPED: the 32-bit regsvr32 (no 32-bit Wine): the 32-bit view's expected registration is "
              "the 64-bit one at the x86 folder", flush=True)
    return expected


def with_32bit_view(expected, layout):
    """The registration of the x86 DLLs added to that of the x64 ones, as the 32-bit
    regsvr32 writes it: CLSID and Interface keys under Wow6432Node with the x86 folder's
    paths, and the type libraries' win32 paths."""
    result = dict(expected)
    x64, x86 = (raw(layout.folders[b]) for b in ("x64", "x86"))
    classes = raw("HKLM\\Software\\Classes")
    for path, (old, new) in expected.items():
        rest = path[len(classes):]
        copy = reg.Key()
        copy.meta = list(new.meta)
        copy.values = {n: v.replace(x64, x86) for n, v in new.values.items()}
        if rest.startswith(("\\\\CLSID", "\\\\Interface")):
            target = classes + "\\\\Wow6432Node" + rest
        elif rest.endswith("\\\\0\\\\win64"):
            target = path[:-len("win64")] + "win32"
        else:
            continue
        result[target] = (None, copy)
    return result


def msiexec(prefix, report, what, args, expect=0, log_contains=None):
    log = os.path.join(prefix.path, "drive_c", "msiexec.log")
    started = time.monotonic()
    status, output = prefix.run(["msiexec"] + args + ["/qn", "/norestart", "/l*v", "C:\\msiexec.log"])
    seconds = time.monotonic() - started
    text = ""
    if os.path.exists(log):
        data = open(log, "rb").read()
        text = data.decode("utf-16-le" if data[:2] == b"\xff\xfe" else "latin-1", errors="replace")
        text = text.replace("\r\n", "\n")
        os.remove(log)
    ok = status == expect % 256 and (log_contains is None or log_contains in text)
    report.check(ok, f"{what} (exit {status}, {seconds:.1f} s)", [output] + text.splitlines()[-15:])
    return ok


def check_installed_files(report, prefix, layout, dist, names_by_bitness, what):
    lines = []
    for bitness, folder in layout.folders.items():
        for name in names_by_bitness[bitness]:
            installed = prefix.drive_path(folder + "\\" + name)
            if not os.path.exists(installed):
                lines.append(f"{folder}\\{name} missing")
            elif sha256(installed) != sha256(os.path.join(dist, bitness, name)):
                lines.append(f"{folder}\\{name} is not the file of {dist}/{bitness}")
    report.check(not lines, what, lines)


def check_objects(report, prefix, layout, fixtures, script_bits):
    """The stand-ins of the wrapper's outside components registered, then the script in
    the script host of each bitness, and corvane.exe from the install folder."""
    if NO_WINE32 and 32 in script_bits:
        print("SKIPPED: the 32-bit cscript (no 32-bit Wine)", flush=True)
        script_bits = tuple(b for b in script_bits if b != 32)
    for bits, dll in fixtures.items():
        if bits in script_bits:
            status, output = prefix.run(["regsvr32", "/s", windows_path(dll)], bits=bits)
            report.check(status == 0, f"regsvr32 of the test stand-ins ({bits}-bit)", [output])
    for bits in script_bits:
        status, output = prefix.run(["cscript", "//nologo", windows_path(SCRIPT)], bits=bits)
        report.check(SCRIPT_PASSED in output and "FAIL" not in output,
                     f"{bits}-bit cscript creates Corvane.Crypt and Tamsel.Wrapper and round-trips a text",
                     output.splitlines())
    native = "x64" if "x64" in layout.folders else "x86"
    exe = layout.folders[native] + "\\corvane.exe"
    status, output = prefix.run([exe, "encrypt-text", "--key", "TESTKEY", "sixteen bytes!!!"])
    report.check(status == 0 and "BabcR7BJSc/uwpdNtHZBAg==" in output, f"{exe} encrypts from the install folder",
                 output.splitlines())


HAND_FOLDER = "C:\\Hand"
# What another product adds under Corvane's keys: a component category of the class and a
# value of its own on the ProgID. The package must leave both at its uninstall.
OTHER_PRODUCT = [
    (r"HKLM\Software\Classes\CLSID\{BC13CC86-97F9-44AD-9BC6-B202B22FFAD6}\Implemented Categories"
     r"\{7DD95801-9882-11CF-9FA9-00AA006C42C4}", None, None),
    (r"HKLM\Software\Classes\Corvane.Crypt", "OtherProduct", "uses Corvane.Crypt"),
]


def other_product_keys_present(state):
    lines = []
    for key, name, value in OTHER_PRODUCT:
        k = state.registry.get(raw(key))
        if k is None:
            lines.append(f"[{key}] is gone")
        elif name and k.values.get(f'"{name}"') != f'"{value}"':
            lines.append(f"[{key}] {name} is gone")
    return lines


def check_machine_package(report, template, work, name, msi, older_msi, older_version, refused_msi, layout, dist,
                          fixtures, script_bits, version):
    started = time.monotonic()
    print(f"=== {name}", flush=True)
    expected = reference_registration(template, os.path.join(work, f"{name}-regsvr32"), layout, dist, report)
    product = msi_property(msi, "ProductCode")
    upgrade_code = msi_property(msi, "UpgradeCode")
    native = "x64" if "x64" in layout.folders else "x86"
    names = {b: ["Corvane.dll", "TamselWrapper.dll"] + (["corvane.exe"] if b == native else []) for b in layout.folders}

    prefix = template.clone(os.path.join(work, f"{name}-msiexec"))
    prefix.start()
    before = prefix.snapshot()

    if refused_msi:
        # Wine's log names no condition's message; a failed action ends with return value 0.
        msiexec(prefix, report, "the x86 package refuses 64-bit Windows", ["/i", windows_path(refused_msi)],
                expect=1603, log_contains="LaunchConditions. Return value 0.")
        refused = prefix.snapshot()
        report.check(not unexpected_changes(before, refused, None, False) and not registration(before, refused)
                     and not file_changes(before, refused), "... and changes nothing",
                     unexpected_changes(before, refused, None, False) + file_changes(before, refused))

    if not msiexec(prefix, report, f"msiexec /i {os.path.basename(msi)}", ["/i", windows_path(msi)]):
        prefix.stop()
        return expected
    installed = prefix.snapshot()
    compare_registrations(report, "registration written by the package = registration written by regsvr32",
                          expected, registration(before, installed))
    lines = unexpected_changes(before, installed, product, False)
    report.check(not lines, "outside the registration, only Windows Installer's records of the product and "
                 "the installed version changed", lines)
    check_installed_files(report, prefix, layout, dist, names, "installed files are the built files")

    msiexec(prefix, report, "the same package again", ["/i", windows_path(msi)])
    again = prefix.snapshot()
    lines = [line for p, (o, n) in registration(installed, again).items() for line in reg.describe(p, o, n)]
    lines += unexpected_changes(installed, again, product, False) + file_changes(installed, again)
    if products_of_upgrade_code(again, upgrade_code) != [f'"{packed_guid(product)}"']:
        lines.append(f"products {products_of_upgrade_code(again, upgrade_code)}")
    report.check(not lines, "... changes neither registration nor files, one product", lines)
    for path, (old, new) in without_noise(reg.changes(installed.registry, again.registry)).items():
        print("      (Windows Installer's records: " + " ".join(reg.describe(path, old, new)) + ")")

    # The repair command of docs/administration.md restores a deleted file.
    os.remove(prefix.drive_path(layout.folders[native] + "\\Corvane.dll"))
    msiexec(prefix, report, "repair (REINSTALL=ALL REINSTALLMODE=omus) after Corvane.dll was deleted",
            ["/i", windows_path(msi), "REINSTALL=ALL", "REINSTALLMODE=omus"])
    check_installed_files(report, prefix, layout, dist, names, "... restores it")

    msiexec(prefix, report, "msiexec /x", ["/x", windows_path(msi)])
    removed = prefix.snapshot()
    check_removed(report, before, removed, "after msiexec /x")

    # Two consecutive releases.
    older_product = msi_property(older_msi, "ProductCode")
    report.check(older_product != product and msi_property(older_msi, "UpgradeCode") == upgrade_code,
                 f"release {older_version} and release {version}: ProductCodes differ, the UpgradeCode is kept",
                 [older_product, product])
    if msiexec(prefix, report, f"release {older_version}", ["/i", windows_path(older_msi)]):
        check_installed_files(report, prefix, layout, os.path.join(work, "older-dist"), names,
                              f"... installs release {older_version}'s files")
        msiexec(prefix, report, f"release {version} over it", ["/i", windows_path(msi)])
        upgraded = prefix.snapshot()
        compare_registrations(report, "after the upgrade, the registration = regsvr32's", expected,
                              registration(before, upgraded))
        products = products_of_upgrade_code(upgraded, upgrade_code)
        report.check(products == [f'"{packed_guid(product)}"'] and len(cached_packages(upgraded)) == 1,
                     f"... one product installed, release {version}; release {older_version} removed",
                     [f"products {products}", f"cached {cached_packages(upgraded)}"])
        lines = paths_changed(installed, upgraded)
        report.check(not lines, "... the same files and folders as a first install", lines)
        check_installed_files(report, prefix, layout, dist, names,
                              f"... every file is release {version}'s (the version resources did not change)")
        # The objects are tried in a copy of the prefix: script hosts and the test stand-ins
        # register things of their own, which would stay after the uninstall below.
        prefix.stop()
        trial = prefix.clone(os.path.join(work, f"{name}-objects"))
        trial.start()
        check_objects(report, trial, layout, fixtures, script_bits)
        trial.stop()
        prefix.start()
        used = upgraded

        msiexec(prefix, report, f"release {older_version} over release {version} is refused, naming {version}",
                ["/i", windows_path(older_msi)], expect=1603,
                log_contains=f"Property(S): INSTALLED_VERSION = {version}\n")
        refused = prefix.snapshot()
        lines = [line for p, (o, n) in without_noise(reg.changes(used.registry, refused.registry)).items()
                 for line in reg.describe(p, o, n)] + file_changes(used, refused)
        report.check(not lines, "... and changes nothing", lines)
        msiexec(prefix, report, f"msiexec /x {{{product}}} (release {version}, by its ProductCode)",
                ["/x", "{" + product + "}"])
        check_removed(report, before, prefix.snapshot(), "... nothing left")

    # The public properties INSTALLDIR and INSTALLDIR_X86.
    properties = {"x64": "INSTALLDIR", "x86": "INSTALLDIR_X86"} if native == "x64" else {"x86": "INSTALLDIR"}
    # Folders directly under C:\ (Wine leaves the parent folders it created behind).
    elsewhere = Layout({b: f"C:\\Corvane{b.upper()}" for b in layout.folders})
    msiexec(prefix, report, "msiexec /i with " + " ".join(f'{p}="{elsewhere.folders[b]}"' for b, p in properties.items()),
            ["/i", windows_path(msi)] + [f"{p}={elsewhere.folders[b]}" for b, p in properties.items()])
    moved = prefix.snapshot()
    check_installed_files(report, prefix, elsewhere, dist, names, "... installs the files there")
    crypt = moved.registry.get(raw(r"HKLM\Software\Classes\CLSID\{BC13CC86-97F9-44AD-9BC6-B202B22FFAD6}"
                                   r"\InprocServer32"))
    want = '"' + raw(elsewhere.folders[native] + "\\Corvane.dll") + '"'
    report.check(crypt is not None and crypt.values.get("@") == want, "... and registers that path",
                 [str(crypt and crypt.values)])
    msiexec(prefix, report, "... msiexec /x", ["/x", windows_path(msi)])
    check_removed(report, before, prefix.snapshot(), "... nothing left")

    # A registration by hand, and another product's keys under the same classes.
    target = prefix.drive_path(HAND_FOLDER)
    os.makedirs(target, exist_ok=True)
    bits = 64 if native == "x64" else 32
    for dll in ("Corvane.dll", "TamselWrapper.dll"):
        shutil.copy2(os.path.join(dist, native, dll), target)
        prefix.run(["regsvr32", "/s", HAND_FOLDER + "\\" + dll], bits=bits)
    if bits == 32 and NO_WINE32:
        pass
    else:
        # A DLL moved after its registration: the same error as no registration at all.
        os.rename(os.path.join(target, "Corvane.dll"), os.path.join(target, "Moved.dll"))
        status, output = prefix.run(["cscript", "//nologo", windows_path(CREATE_ERROR)], bits=bits)
        report.check("error 800a01ad" in output, "a DLL moved after regsvr32: creating the object fails with 800A01AD",
                     output.splitlines())
        os.rename(os.path.join(target, "Moved.dll"), os.path.join(target, "Corvane.dll"))
    for key, value_name, value in OTHER_PRODUCT:
        prefix.run(["reg", "add", key, "/f"] + (["/v", value_name, "/d", value] if value_name else []))
    hand = prefix.snapshot()
    msiexec(prefix, report, "the package over a registration by hand", ["/i", windows_path(msi)])
    taken = prefix.snapshot()
    crypt = taken.registry.get(raw(r"HKLM\Software\Classes\CLSID\{BC13CC86-97F9-44AD-9BC6-B202B22FFAD6}"
                                   r"\InprocServer32"))
    want = '"' + raw(layout.folders[native] + "\\Corvane.dll") + '"'
    report.check(crypt is not None and crypt.values.get("@") == want,
                 "... takes the registration over (InprocServer32 names the installed DLL)",
                 [str(crypt and crypt.values)])
    msiexec(prefix, report, "... and msiexec /x", ["/x", windows_path(msi)])
    after = prefix.snapshot()
    report.check(not other_product_keys_present(after),
                 "... leaves the keys another product added under Corvane.Crypt's keys", other_product_keys_present(after))
    report.check(other_product_keys_present(before) != [], "(those keys were not there before the test)")
    prefix.stop()
    print(f"=== {name}: {time.monotonic() - started:.0f} s", flush=True)
    return expected


def check_removed(report, before, removed, what):
    lines = unexpected_changes(before, removed, None, True) + \
        [reg.describe(p, o, n)[0] for p, (o, n) in registration(before, removed).items()]
    report.check(not lines, f"{what}: the registry is as before the install", lines)
    lines = file_changes(before, removed)
    report.check(not lines, f"{what}: the file tree is as before the install", lines)


def check_per_user(report, template, work, msi, dist, expected_machine, older_msi, older_version, version):
    """The per-user package: installed without touching Program Files or HKLM's classes,
    into the profile and HKCU\\Software\\Classes, and removed without a trace.

    Two things of Windows that Wine 8 lacks keep this test from doing more: Wine does not
    redirect a 32-bit component's HKCU\\Software\\Classes\\CLSID and \\Interface to
    Wow6432Node (so the x86 entries land on the x64 ones), and Wine's COM reads classes
    from HKLM only (so the objects cannot be created from a per-user registration)."""
    started = time.monotonic()
    print("=== x64 per user", flush=True)
    info = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True).stdout
    words = [int(line.split(":")[1].split()[0]) for line in info.splitlines() if line.startswith("Source:")]
    properties = subprocess.run(["msiinfo", "export", msi, "Property"], capture_output=True, text=True).stdout
    report.check(words and words[0] & 8 and "\nALLUSERS\t" not in properties,
                 "the per-user package asks for no elevation (word count bit 8, no ALLUSERS)", [info, properties])

    prefix = template.clone(os.path.join(work, "x64-per-user-msiexec"))
    prefix.start()
    before = prefix.snapshot()
    msiexec(prefix, report, "the per-user package with ALLUSERS=1 is refused", ["/i", windows_path(msi), "ALLUSERS=1"],
            expect=1603, log_contains="LaunchConditions. Return value 0.")
    lines = file_changes(before, prefix.snapshot(), ignore_cached_packages=True)
    report.check(not lines, "... and installs nothing", lines)
    if not msiexec(prefix, report, f"msiexec /i {os.path.basename(msi)}", ["/i", windows_path(msi)]):
        prefix.stop()
        return
    installed = prefix.snapshot()
    user_programs = None
    for rel in installed.files:
        if rel.endswith("AppData/Local/Programs/Corvane/x64/Corvane.dll"):
            user_programs = "C:\\" + rel[:-len("x64/Corvane.dll")].replace("/", "\\")
    report.check(user_programs is not None, "files installed to %LOCALAPPDATA%\\Programs\\Corvane")
    if user_programs is None:
        prefix.stop()
        return
    layout = Layout({"x64": user_programs + "x64", "x86": user_programs + "x86"})
    new_files = [r for r in file_changes(before, installed, ignore_cached_packages=True)
                 if "AppData/Local/Programs" not in r]
    report.check(not new_files, "nothing installed outside the profile", new_files)
    check_installed_files(report, prefix, layout, dist, {"x64": ["Corvane.dll", "TamselWrapper.dll", "corvane.exe"],
                                                         "x86": ["Corvane.dll", "TamselWrapper.dll"]},
                          "installed files are the built files")

    # regsvr32's registration moved to HKCU\Software\Classes and to the profile's paths;
    # Wow6432Node's keys folded onto the 64-bit ones, where Wine 8 puts them.
    machine_folders = {"x64": "C:\\\\Program Files\\\\Corvane", "x86": "C:\\\\Program Files (x86)\\\\Corvane"}
    user_folders = {b: f.replace("\\", "\\\\") for b, f in layout.folders.items()}
    expected, alternatives = {}, {}
    for path, (old, new) in expected_machine.items():
        path = path.replace(raw(r"HKLM\Software\Classes\Wow6432Node"), raw(r"HKCU\Software\Classes"))
        path = path.replace(raw(r"HKLM\Software\Classes"), raw(r"HKCU\Software\Classes"))
        path = path.replace("\\\\Typelib\\\\", "\\\\TypeLib\\\\")
        key = expected.setdefault(path, (None, reg.Key()))[1]
        key.meta = new.meta
        for name, data in new.values.items():
            for bitness in ("x86", "x64"):
                data = data.replace(machine_folders[bitness], user_folders[bitness])
            if name in key.values and key.values[name] != data:
                alternatives.setdefault((path, name), set()).update({key.values[name], data})
            key.values[name] = data
    actual = registration(before, installed)
    # The folders CLSID, Interface and TypeLib themselves, new in HKCU.
    for path, (old, new) in actual.items():
        if path not in expected and old is None and not new.values and \
                any(e.startswith(path + "\\\\") for e in expected):
            expected[path] = (None, new)
    machine_classes = [p for p in actual if under(p, raw(r"HKLM\Software\Classes"))]
    report.check(not machine_classes, "HKLM\\Software\\Classes untouched", [reg.display(p) for p in machine_classes])
    compare_registrations(report, "HKCU\\Software\\Classes = regsvr32's registration moved to HKCU "
                          f"({len(alternatives)} values written by both bitnesses)", expected, actual, alternatives)

    msiexec(prefix, report, "msiexec /x", ["/x", windows_path(msi)])
    check_removed(report, before, prefix.snapshot(), "after msiexec /x")

    # Two consecutive releases, per user.
    if msiexec(prefix, report, f"per-user release {older_version}", ["/i", windows_path(older_msi)]):
        msiexec(prefix, report, f"per-user release {version} over it", ["/i", windows_path(msi)])
        upgraded = prefix.snapshot()
        check_installed_files(report, prefix, layout, dist, {"x64": ["Corvane.dll", "TamselWrapper.dll", "corvane.exe"],
                                                             "x86": ["Corvane.dll", "TamselWrapper.dll"]},
                              f"... every file is release {version}'s")
        lines = paths_changed(installed, upgraded)
        report.check(not lines and len(cached_packages(upgraded)) == 1,
                     f"... one product: the files and folders of a first install, one cached package",
                     lines + cached_packages(upgraded))
        version_key = upgraded.registry.get(raw(r"HKCU\Software\Corvane"))
        report.check(version_key is not None and version_key.values.get('"Version"') == f'"{version}"',
                     f"... HKCU\\Software\\Corvane records version {version}", [str(version_key and version_key.values)])
        msiexec(prefix, report, f"per-user release {older_version} over release {version} is refused, naming {version}",
                ["/i", windows_path(older_msi)], expect=1603,
                log_contains=f"Property(S): INSTALLED_VERSION = {version}\n")
        refused = prefix.snapshot()
        lines = [line for p, (o, n) in without_noise(reg.changes(upgraded.registry, refused.registry)).items()
                 for line in reg.describe(p, o, n)] + file_changes(upgraded, refused)
        report.check(not lines, "... and changes nothing", lines)
        msiexec(prefix, report, f"msiexec /x per-user release {version}", ["/x", windows_path(msi)])
        check_removed(report, before, prefix.snapshot(), "... nothing left")
    prefix.stop()
    print(f"=== x64 per user: {time.monotonic() - started:.0f} s", flush=True)


def main():
    global NO_WINE32
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--packages", required=True, help="folder with the packages of scripts/package.sh")
    parser.add_argument("--dist", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--fixtures64", required=True, help="TamselFixtures.dll of the x64 build")
    parser.add_argument("--fixtures32", required=True, help="TamselFixtures.dll of the x86 build")
    parser.add_argument("--work", required=True)
    parser.add_argument("--package-wine-dir", required=True, help="the Wine folder of make_package.py")
    parser.add_argument("--only", default="x64,x86,x64-user", help="packages to test (default: all)")
    parser.add_argument("--no-wine32", action="store_true", help="only wine64 runs here (see above)")
    args = parser.parse_args()
    NO_WINE32 = args.no_wine32
    only = args.only.split(",")
    started = time.monotonic()
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    report = Report()

    locale_dir = os.path.join(work, "locale")
    if not os.path.isdir(os.path.join(locale_dir, "ja_JP.UTF-8")):
        os.makedirs(locale_dir, exist_ok=True)
        subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", os.path.join(locale_dir, "ja_JP.UTF-8")],
                       capture_output=True)
    win64 = Prefix(os.path.join(work, "template-win64"), "win64", locale_dir)
    win32 = Prefix(os.path.join(work, "template-win32"), "win32", locale_dir)
    older = os.path.join(work, "older-dist")
    make_older_dist(args.dist, older)
    older_version = previous_version(args.version)
    packages = {k: os.path.join(args.packages, f"Corvane-{args.version}-{k}.msi") for k in ("x64", "x86", "x64-user")}
    older_packages = {k: os.path.join(work, f"Corvane-{older_version}-{k}.msi") for k in ("x64", "x86", "x64-user")}
    scopes = {"x64": ("x64", "perMachine"), "x86": ("x86", "perMachine"), "x64-user": ("x64", "perUser")}
    def build_previous_release():
        # One at a time: they share make_package.py's Wine prefix.
        for kind in [k for k in ("x64", "x64-user", "x86") if k in only and not (k == "x86" and NO_WINE32)]:
            build_package(*scopes[kind], older, older_packages[kind], older_version, args.package_wine_dir)

    with ThreadPoolExecutor(max_workers=4) as pool:
        jobs = [pool.submit(win64.create), pool.submit(build_previous_release)]
        if not NO_WINE32:
            jobs.append(pool.submit(win32.create))
        for job in jobs:
            job.result()
    print(f"=== prefixes and the previous release ({older_version}) made: {time.monotonic() - started:.0f} s",
          flush=True)

    machine64 = Layout({"x64": "C:\\Program Files\\Corvane", "x86": "C:\\Program Files (x86)\\Corvane"})
    machine32 = Layout({"x86": "C:\\Program Files\\Corvane"})
    fixtures = {64: args.fixtures64, 32: args.fixtures32}
    if "x64-user" in only and "x64" not in only:
        expected = reference_registration(win64, os.path.join(work, "x64-regsvr32"), machine64, args.dist, report)
    if "x64" in only:
        expected = check_machine_package(report, win64, work, "x64", packages["x64"], older_packages["x64"],
                                         older_version, packages["x86"], machine64, args.dist, fixtures, (64, 32),
                                         args.version)
    if "x86" in only and NO_WINE32:
        print("SKIPPED: installing the x86 package (it is for 32-bit Windows, which needs the 32-bit Wine); "
              "its refusal on 64-bit Windows was tested with the x64 package", flush=True)
    elif "x86" in only:
        check_machine_package(report, win32, work, "x86", packages["x86"], older_packages["x86"], older_version, None,
                              machine32, args.dist, {32: args.fixtures32}, (32,), args.version)
    if "x64-user" in only:
        check_per_user(report, win64, work, packages["x64-user"], args.dist, expected, older_packages["x64-user"],
                       older_version, args.version)

    print(f"=== package tests: {time.monotonic() - started:.0f} s", flush=True)
    if report.failures:
        print(f"package tests: {report.failures} checks failed")
        return 1
    print("package tests: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
