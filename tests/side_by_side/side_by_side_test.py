#!/usr/bin/env python3
"""Both bitnesses registered side by side in one 64-bit Wine prefix with its 32-bit half.

  side_by_side_test.py SOURCE_DIR WIN64_BUILD WIN32_BUILD WORK_DIR

Registers the x64 DLLs (dist/x64) with the 64-bit regsvr32 and the x86 DLLs (dist/x86)
with the 32-bit one, then checks with the 64-bit and the 32-bit cscript that each host
gets the DLL of its bitness; that unregistering either bitness leaves the other working;
and that unregistering both leaves the registry as it was before. The test stand-ins for
Tamsel.Wrapper's outside components are registered for both bitnesses first and belong to
the state compared.
"""
import os
import re
import subprocess
import sys

source, win64_build, win32_build, work = (os.path.abspath(a) for a in sys.argv[1:5])
wine_dir = os.path.join(work, "wine")
failures = []

EXPECTED_CRYPT = "Corvane.Crypt: 2d/XefcLGAs= abcdefg 0"
CLASSES = {
    "Corvane.Crypt": "{BC13CC86-97F9-44AD-9BC6-B202B22FFAD6}",
    "Tamsel.Wrapper": "{5ACC51B3-3E28-404E-97F3-AB46673B57CF}",
}
DLLS = {"Corvane.Crypt": "Corvane.dll", "Tamsel.Wrapper": "TamselWrapper.dll"}


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(bits, *args):
    runner = [os.path.join(source, "cmake", "wine-run.sh")] + (["--x86"] if bits == 32 else []) + [wine_dir]
    done = subprocess.run(runner + list(args), capture_output=True, text=True, errors="replace")
    return done.returncode, done.stdout.replace("\r", "")


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def regsvr32(bits, dll, unregister=False, when=""):
    args = ["regsvr32", "/s"] + (["/u"] if unregister else []) + [windows_path(dll)]
    code, _ = wine(bits, *args)
    check(code == 0, f"{when}{'regsvr32 /u' if unregister else 'regsvr32'} ({bits}-bit) {os.path.relpath(dll, source)} exits 0")


def dist(bits, name):
    return os.path.join(source, "dist", "x64" if bits == 64 else "x86", name)


def registry():
    """Every key and value under both views of HKLM and HKCU Software\\Classes."""
    state = {}
    for root in ("HKLM\\Software\\Classes", "HKCU\\Software\\Classes"):
        out = os.path.join(work, "export.reg")
        code, _ = wine(64, "reg", "export", root, windows_path(out), "/y")
        if code != 0:
            # Nothing to export only when the key does not exist.
            check(wine(64, "reg", "query", root)[0] != 0, f"reg export {root}")
            continue
        key = None
        with open(out, "rb") as f:
            text = f.read().decode("utf-16")
        for line in text.replace("\r", "").replace("\\\n  ", "").split("\n"):
            if line.startswith("["):
                key = line.strip("[]").upper()
                state.setdefault(key, {})
            elif key is not None and "=" in line:
                name, _, value = line.partition("=")
                state[key][name.upper()] = value
    return state


def describe(before, after):
    lines = []
    for key in sorted(set(before) | set(after)):
        if key not in after:
            lines.append(f"  removed {key}")
        elif key not in before:
            lines.append(f"  added   {key}")
        elif before[key] != after[key]:
            lines.append(f"  changed {key}: {before[key]} -> {after[key]}")
    return "\n".join(lines[:40])


def host(bits):
    code, out = wine(bits, "cscript", "//nologo", windows_path(os.path.join(source, "tests", "side_by_side", "both_classes.vbs")))
    lines = dict(line.split(": ", 1) for line in out.splitlines() if ": " in line)
    return {progid: f"{progid}: {lines.get(progid, '(no output)')}" for progid in CLASSES}


def expect_hosts(working64, working32, when):
    for bits, working in ((64, working64), (32, working32)):
        results = host(bits)
        for progid, line in results.items():
            if progid in working:
                ok = not "cannot create" in line and (line == EXPECTED_CRYPT if progid == "Corvane.Crypt"
                                                      else line.endswith(" hello 0"))
                check(ok, f"{when}: the {bits}-bit host uses {progid} ({line})")
            else:
                check("cannot create" in line, f"{when}: the {bits}-bit host cannot create {progid} ({line})")


def server_path(state, bits, progid):
    view = "" if bits == 64 else "WOW6432NODE\\"
    key = f"HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES\\{view}CLSID\\{CLASSES[progid]}\\INPROCSERVER32"
    value = state.get(key, {}).get("@")
    return value.strip('"').replace("\\\\", "\\").upper() if value else None


os.makedirs(work, exist_ok=True)
subprocess.run([os.path.join(source, "cmake", "wine-prefix.sh"), "setup", wine_dir,
                os.path.join(win64_build, "wine_desktop_keeper.exe")], check=True)
try:
    regsvr32(64, os.path.join(win64_build, "tests", "fixtures", "TamselFixtures.dll"))
    regsvr32(32, os.path.join(win32_build, "tests", "fixtures", "TamselFixtures.dll"))
    # Each cscript registers its own script engines' type libraries on its first run.
    expect_hosts([], [], "nothing registered")
    before = registry()

    for bits in (64, 32):
        for progid in CLASSES:
            regsvr32(bits, dist(bits, DLLS[progid]))
    state = registry()
    for bits in (64, 32):
        for progid in CLASSES:
            check(server_path(state, bits, progid) == windows_path(dist(bits, DLLS[progid])).upper(),
                  f"the {bits}-bit view registers {progid} as {os.path.relpath(dist(bits, DLLS[progid]), source)}")
    expect_hosts(CLASSES, CLASSES, "both registered")
    both = state

    for gone, kept in ((32, 64), (64, 32)):
        for progid in CLASSES:
            regsvr32(gone, dist(gone, DLLS[progid]), unregister=True)
        expect_hosts(CLASSES if kept == 64 else [], CLASSES if kept == 32 else [], f"x{'86' if gone == 32 else '64'} unregistered")
        # Unregistering what is no longer registered succeeds and removes nothing more,
        # also while the other bitness is still registered.
        for progid in CLASSES:
            regsvr32(gone, dist(gone, DLLS[progid]), unregister=True, when="again: ")
        state = registry()
        for progid in CLASSES:
            check(server_path(state, gone, progid) is None and server_path(state, kept, progid) is not None,
                  f"x{'86' if gone == 32 else '64'} unregistered: only the {kept}-bit view registers {progid}")
        for progid in CLASSES:
            regsvr32(gone, dist(gone, DLLS[progid]))
        after = registry()
        check(after == both, "registered again, the registry is as with both registered" +
              ("" if after == both else "\n" + describe(both, after)))

    for bits in (32, 64):
        for progid in CLASSES:
            regsvr32(bits, dist(bits, DLLS[progid]), unregister=True)
    expect_hosts([], [], "both unregistered")
    after = registry()
    check(after == before, "both unregistered: the registry is as before either was registered" +
          ("" if after == before else "\n" + describe(before, after)))
finally:
    subprocess.run([os.path.join(source, "cmake", "wine-prefix.sh"), "cleanup", wine_dir])

if failures:
    print(f"side_by_side_test: {len(failures)} check(s) failed")
    sys.exit(1)
print("side_by_side_test: all checks passed")
