#!/usr/bin/env python3
"""Runs check_pe.py on the unhardened fixture DLL and makes sure it reports every fault
the fixture has: a check that passes every image would pass every shipped one too.

  check_pe_catches.py FIXTURE.dll --machine i386|amd64
"""
import argparse
import pathlib
import re
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("fixture")
    ap.add_argument("--machine", choices=("i386", "amd64"), required=True)
    args = ap.parse_args()

    run = subprocess.run(
        [sys.executable, str(HERE / "check_pe.py"), args.fixture, "--machine", args.machine,
         "--hardened", "--no-writable-function-tables",
         "--read-only-words", "600DF00D,0BADC0DE,FEEDFACE,DEADBEEF",
         "--read-only-guid", "01234567-89AB-CDEF-0123-456789ABCDEF"],
        capture_output=True, text=True)
    expected = [
        r"no DYNAMIC_BASE", r"no NX_COMPAT", r"section \.wx is writable and executable",
r"4 code pointers in a row at RVA 0x[0-9a-f]+ in writable section \.data",
        r"table starting 600DF00D at RVA 0x[0-9a-f]+ in writable section \.data",
        r"GUID 01234567-89AB-CDEF-0123-456789ABCDEF not found outside the resources",
    ]
    if args.machine == "amd64":
        expected.append(r"no HIGH_ENTROPY_VA")
    else:
        expected.append(r"NO_SEH, but code at RVA 0x[0-9a-f]+ \(\.text\) stores to fs:\[0\]")
    missed = [e for e in expected if not re.search(e, run.stdout)]
    if run.returncode != 1:
        missed.append(f"exit status 1 (was {run.returncode})")
    print(run.stdout, end="")
    for m in missed:
        print(f"not reported: {m}")
    print("check_pe.py reported every fault" if not missed else "FAILED")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
