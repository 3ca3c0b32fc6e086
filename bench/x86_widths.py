#!/usr/bin/env python3
"""The x86 width table: the i686 build's split kernels under 32-bit Wine beside the
x64 proxies limited to 7 registers, each against its own program's one-block loop.

  x86_widths.py WINE_DAT PROXY_DAT    (width_bench --dat files) > markdown
"""
import sys


def read(path):
    rows = {}
    for line in open(path):
        variant, width, mbps, ratio = line.rstrip("\n").split("\t")
        rows[(variant, int(width))] = (float(mbps), float(ratio))
    return rows


def main():
    wine, proxy = read(sys.argv[1]), read(sys.argv[2])
    widths = sorted({w for (_, w) in list(wine) + list(proxy)})
    columns = [("x86", wine), ("x86 bmi1", wine), ("x86 proxy", proxy), ("x86 proxy bmi1", proxy)]
    print("| Width | i686 under 32-bit Wine | with BMI1 | x64 proxy, 7 registers | proxy with BMI1 |")
    print("|---:|---:|---:|---:|---:|")
    for w in widths:
        cells = []
        for variant, rows in columns:
            value = rows.get((variant, w))
            cells.append(f"{value[0]:.0f} MB/s, {value[1]:.2f}x" if value else "-")
        print(f"| {w} | " + " | ".join(cells) + " |")
    print()
    print("1 MiB encode, split layout; each ratio against the one-block loop (split x1 without BMI1) of the "
          "same program, paired sample by sample. Under Wine the samples are wall time, natively thread CPU time.")


if __name__ == "__main__":
    main()
