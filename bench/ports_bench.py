#!/usr/bin/env python3
"""The Python and Node ports' throughput beside the C++ engine's (the corvane tool), in CPU
time, and writes bench/results/ports.md (or --out DIR).

    bench/ports_bench.py [--corvane PATH] [--out DIR] [--quick]

Texts, 64 characters each, two ways: one call per text, each paying its key schedule (521
block encipherments) as every enCrypt does (C++: Corvane.dll's enCrypt through the vtable,
read from com.md of the same bench/results when scripts/bench.sh made it), and many texts
under one expanded key, as the tool's encrypt-text does with a list of texts on standard
input (the ports: their cipher object, code-page conversion and Base64 per text). Files:
the .bf form and back, the tool's encrypt-file and decrypt-file of a file, the ports' stream
functions in memory. Node builds its package first (ports/node: npm ci, tsc) when dist/ is
missing.
"""

import argparse
import json
import os
import pathlib
import re
import resource
import subprocess
import sys
import tempfile
import time

TREE = pathlib.Path(__file__).resolve().parents[1]
KEY = "benchmark key"
TEXT = "The quick brown fox jumps over the lazy dog; 0123456789 ABCDEFGH"


def child_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run_child(args, **kwargs):
    before = child_cpu()
    subprocess.run(args, check=True, **kwargs)
    return child_cpu() - before


def cpu_name():
    fields = {}
    with open("/proc/cpuinfo") as info:
        for line in info:
            key, _, value = line.partition(":")
            fields.setdefault(key.strip(), value.strip())
    return "%s (family %s, model %s), %d logical CPUs" % (
        fields.get("model name", "unknown"), fields.get("cpu family", "?"), fields.get("model", "?"), os.cpu_count())


def bench_cpp(tool, texts, mib, folder):
    env = dict(os.environ, CORVANE_KEY=KEY)
    lines = (TEXT + "\n") * texts
    source = pathlib.Path(folder, "cpp.txt")
    source.write_text(lines)
    with open(source, "rb") as stdin:
        text_seconds = run_child([tool, "encrypt-text"], stdin=stdin, stdout=subprocess.DEVNULL, env=env)
    # The process start and the key prompt's absence cost little beside thousands of texts;
    # one text alone is measured and taken off.
    with open(os.devnull, "rb") as stdin:
        start = run_child([tool, "encrypt-text", TEXT], stdin=stdin, stdout=subprocess.DEVNULL, env=env)
    data = pathlib.Path(folder, "cpp.bin")
    data.write_bytes(b"\x5a" * (mib << 20))
    encrypt = run_child([tool, "encrypt-file", str(data), "-o", str(data) + ".bf"], env=env)
    decrypt = run_child([tool, "decrypt-file", str(data) + ".bf", "-o", str(data) + ".out"], env=env)
    size = mib << 20
    return {
        "oneKeyTextsPerSecond": texts / max(text_seconds - start, 1e-9),
        "encryptMBs": size / 1e6 / encrypt,
        "decryptMBs": size / 1e6 / decrypt,
    }


def bench_python(texts, mib):
    sys.path.insert(0, str(TREE / "ports" / "python" / "src"))
    import base64
    import io

    import corvane

    for _ in range(5):
        corvane.encrypt_text(KEY, TEXT)
    start = time.process_time()
    for _ in range(texts):
        corvane.encrypt_text(KEY, TEXT)
    text_seconds = time.process_time() - start
    cipher = corvane.Blowfish(corvane.key_bytes(KEY))
    start = time.process_time()
    for _ in range(texts * 20):
        base64.b64encode(cipher.encrypt(corvane.encode_text(TEXT, 1252)))
    one_key_seconds = time.process_time() - start
    plain = b"\x5a" * (mib << 20)
    bf = io.BytesIO()
    start = time.process_time()
    corvane.encrypt_stream(KEY, io.BytesIO(plain), bf)
    encrypt = time.process_time() - start
    bf.seek(0)
    out = io.BytesIO()
    start = time.process_time()
    corvane.decrypt_stream(KEY, bf, out)
    decrypt = time.process_time() - start
    assert out.getvalue() == plain
    return {"textsPerSecond": texts / text_seconds, "oneKeyTextsPerSecond": texts * 20 / one_key_seconds, "encryptMBs": len(plain) / 1e6 / encrypt, "decryptMBs": len(plain) / 1e6 / decrypt}


def bench_node(texts, mib):
    node = TREE / "ports" / "node"
    if not (node / "dist" / "index.js").exists():
        if not (node / "node_modules").exists():
            subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--loglevel=error"], cwd=node, check=True)
        subprocess.run(["npm", "run", "--silent", "build"], cwd=node, check=True)
    output = subprocess.run(["node", str(TREE / "bench" / "ports_bench.js"), str(node), str(texts), str(mib)],
                            check=True, capture_output=True, text=True).stdout
    return json.loads(output)


def dll_call_rate(out):
    """enCrypt calls per second through the vtable, from com.md of the same results."""
    try:
        text = pathlib.Path(out, "com.md").read_text()
    except OSError:
        return None
    found = re.search(r"^\| enCrypt, vtable \| ([0-9.]+) us", text, re.M)
    return 1e6 / float(found.group(1)) if found else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--corvane", default=str(TREE / "build" / "bench-native" / "cli" / "corvane"))
    parser.add_argument("--out", default=str(TREE / "bench" / "results"))
    parser.add_argument("--quick", action="store_true")
    options = parser.parse_args()
    load_before = open("/proc/loadavg").read().split()[:3]
    with tempfile.TemporaryDirectory() as folder:
        cpp = bench_cpp(options.corvane, 200 if options.quick else 20000, 4 if options.quick else 64, folder)
    python = bench_python(20 if options.quick else 400, 1 if options.quick else 4)
    node = bench_node(200 if options.quick else 10000, 4 if options.quick else 64)
    load_after = open("/proc/loadavg").read().split()[:3]

    cpp["textsPerSecond"] = dll_call_rate(options.out)

    def ratio(field, figures):
        return "%.1fx" % (cpp[field] / figures[field]) if cpp.get(field) and figures is not cpp else "1"

    def row(name, figures):
        per_call = "%.0f" % figures["textsPerSecond"] if figures.get("textsPerSecond") else "not measured (no com.md)"
        return "| %s | %s | %.0f | %.1f MB/s | %.1f MB/s | %s / %s / %s |" % (
            name, per_call, figures["oneKeyTextsPerSecond"], figures["encryptMBs"], figures["decryptMBs"],
            ratio("textsPerSecond", figures), ratio("oneKeyTextsPerSecond", figures), ratio("encryptMBs", figures))

    lines = [
        "Ports beside the C++ engine (CPU time; %s)." % cpu_name(),
        "Load average before: %s; after: %s (other jobs share the machine)%s." % (
            " ".join(load_before), " ".join(load_after), "; --quick: not a measurement" if options.quick else ""),
        "",
        "| Implementation | texts/s, one call each | texts/s under one key | .bf encrypt | .bf decrypt | C++ faster by (calls / one key / files) |",
        "|---|---|---|---|---|---|",
        row("C++ engine (calls: Corvane.dll x64 under Wine; the rest: the corvane tool)", cpp),
        row("Python %d.%d (pure Python)" % sys.version_info[:2], python),
        row("Node %s (TypeScript compiled to JavaScript)" % subprocess.run(["node", "--version"], capture_output=True, text=True).stdout.strip(), node),
        "",
        "One call: a key schedule (521 block encipherments) per text, as every enCrypt pays, then the",
        "blocks and Base64. Under one key: the tool's encrypt-text over a list of texts; the ports'",
        "cipher object, code page and Base64 per text. Files: C++ the tool's encrypt-file and",
        "decrypt-file of a %d MiB file (disk and page cache included); Python %d MiB and Node %d MiB" % (
            4 if options.quick else 64, 1 if options.quick else 4, 4 if options.quick else 64),
        "through their stream functions in memory.",
    ]
    os.makedirs(options.out, exist_ok=True)
    pathlib.Path(options.out, "ports.md").write_text("\n".join(lines) + "\n")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
