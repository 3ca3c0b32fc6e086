#!/usr/bin/env python3
"""Runs an example and compares what it prints with the expected output, exactly.

  check_output.py EXPECTED [--fresh-folder DIR] -- COMMAND [ARGS...]

The example must exit with 0 and print exactly the lines of EXPECTED (line ends aside:
Windows programs print CR LF). --fresh-folder empties or creates DIR first, for an
example that writes files there. A difference is shown as a diff.
"""
import difflib
import os
import shutil
import subprocess
import sys

args = sys.argv[1:]
expected_path = args.pop(0)
fresh = None
if args[0] == "--fresh-folder":
    fresh = args[1]
    args = args[2:]
if args[0] != "--":
    sys.exit("usage: check_output.py EXPECTED [--fresh-folder DIR] -- COMMAND [ARGS...]")
command = args[1:]

if fresh:
    shutil.rmtree(fresh, ignore_errors=True)
    os.makedirs(fresh)

with open(expected_path, encoding="utf-8") as f:
    expected = f.read().splitlines()
done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True)
actual = done.stdout.decode("utf-8", "replace").replace("\r\n", "\n").splitlines()

ok = True
if actual != expected:
    ok = False
    print(f"FAIL: the output differs from {os.path.basename(expected_path)}:")
    sys.stdout.writelines(line + "\n" for line in difflib.unified_diff(
        expected, actual, "expected", "printed", lineterm=""))
if done.returncode != 0:
    ok = False
    print(f"FAIL: exit code {done.returncode}")
if done.stderr.strip():
    print(done.stderr.decode("utf-8", "replace"), end="", file=sys.stderr)
if not ok:
    sys.exit(1)
print(f"{os.path.basename(expected_path)}: {len(expected)} lines as expected")
