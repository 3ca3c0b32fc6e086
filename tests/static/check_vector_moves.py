#!/usr/bin/env python3
"""Checks that no 32- or 64-byte vector move that requires alignment touches memory.

The Windows x64 ABI aligns the stack to 16 bytes only, and mingw-w64's GCC may spill
ymm and zmm registers with aligned moves all the same (GCC bug 54412); the vector
kernels are therefore assembled with -muse-unaligned-vector-move. This reads the
disassembly of each binary and fails on any aligned ymm/zmm move with a memory operand.

  check_vector_moves.py OBJDUMP FILE... [--expect-vector-code]
"""
import re
import subprocess
import sys

ALIGNED = re.compile(r"\b(vmovdqa(32|64)?|vmovap[sd]|vmovntdq|vmovntdqa|vmovntp[sd])\b")
WIDE = re.compile(r"%[yz]mm\d+")
GATHER = re.compile(r"\bvpgatherdd\b")


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    expect_vector = "--expect-vector-code" in sys.argv
    if len(args) < 2:
        raise SystemExit(__doc__)
    objdump, files = args[0], args[1:]
    failed = False
    for path in files:
        text = subprocess.run([objdump, "-d", "--no-show-raw-insn", path], check=True, capture_output=True,
                              text=True).stdout
        bad = []
        gathers = 0
        for line in text.splitlines():
            parts = line.split("\t")
            if len(parts) < 2:
                continue
            instruction = parts[-1].strip()
            if GATHER.search(instruction):
                gathers += 1
            if ALIGNED.search(instruction) and WIDE.search(instruction) and "(" in instruction:
                bad.append(line.strip())
        print(f"{path}: {gathers} vpgatherdd, {len(bad)} aligned 32/64-byte moves touching memory")
        for line in bad[:20]:
            print("  " + line)
        if bad or (expect_vector and gathers == 0):
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
