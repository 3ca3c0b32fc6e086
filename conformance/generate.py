#!/usr/bin/env python3
"""Makes the conformance vectors from the real Corvane.dll, driven by cscript under Wine.

  conformance/generate.py [--x64 BUILD] [--x86 BUILD] [--out DIR]

BUILD is a Windows build tree (default build/win64 and build/win32) with Corvane.dll built.
Each bitness registers its DLL in a prefix of its own under build/conformance and runs the
same batches of calls through conformance/tools/drive_corvane.js, once for the files and once
per ANSI code page (1252, 932, 936; Wine takes the code page from the locale). The two
bitnesses must give the same answers, and every answer must agree with the block cipher of
this tree run natively (the corvane tool of the native build, given every case it can take).
Every ciphertext is also decrypted again through the DLL, and every file checked against the
format's length rules. Where 32-bit Wine does not run, the x86 side is
recorded as not available and the vectors come from x64 alone.

It also writes the Windows tables of the three code pages (conformance/code-page-N.json) from
conformance/tools/code_page_dump.c run under Wine, and conformance/code-pages.json: every byte
sequence and character where Windows' answer differs from one of the open tables (glibc's
iconv, Python's codecs, Mono's Encoding.GetEncoding).
"""
import argparse
import base64
import ctypes
import ctypes.util
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CODE_PAGES = [1252, 932, 936]
PYTHON_CODECS = {1252: "cp1252", 932: "cp932", 936: "gbk"}
ICONV_NAMES = {1252: "CP1252", 932: "CP932", 936: "CP936"}
LARGE_SIZES = [65539, 1048583, 3145729]


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# --- deterministic inputs ----------------------------------------------------------------

def key_of_length(n):
    return "".join(chr(0x21 + (i * 7 + n) % 94) for i in range(n))


def text_of_length(n):
    return "".join(chr(0x20 + (i * 11 + 3) % 95) for i in range(n))


def seeded_bytes(seed, length):
    """The content of a large file: a 32-bit LCG, the top byte of each state."""
    out = bytearray(length)
    state = seed & 0xFFFFFFFF
    for i in range(length):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = state >> 24
    return bytes(out)


def small_file(size):
    return bytes((i * 37 + 11 + size) & 0xFF for i in range(size))


NON_ASCII_KEYS = {1252: ["Schl\u00fcssel\u20ac", "\u00ff\u00fe\u00e9\u0081"],
                  932: ["\u9375\u30ad\u30fc", "\uff76\uff77"],
                  936: ["\u5bc6\u94a5", "\u20ac\u4e2d"]}
NON_ASCII_TEXTS = {1252: ["caf\u00e9 \u20ac5 na\u00efve \u00df", "\u0081\u008d\u008f\u0090\u009d", "\u0178\u2030\u2014\u00a0"],
                   932: ["\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8", "\uff76\uff80\uff76\uff85", "\u2460\u2161\uff5e\u2225", "\u8868\u30bd"],
                   936: ["\u4e2d\u6587\u6587\u672c", "\u20ac", "\u00b7\u2014\u3000", "\u9f98\u4e42"]}
UNREPRESENTABLE = {1252: ["x\u0101", "\u65e5", "a\U0001F600b", "\u20ac\u0100"],
                   932: ["\u20ac", "\u00a5", "x\u0101y", "a\U0001F600b"],
                   936: ["\u0101x", "\uff76", "a\U0001F600b"]}


def sample(rows, most=300):
    """Every single byte and Latin-1 character, and every k-th of the rest, `most` at most: the
    ports check the whole tables on their own."""
    def short(row):
        return len(row[0]) == 2 if isinstance(row[0], str) else row[0] < 0x100
    rest = [r for r in rows if not short(r)]
    step = max(1, -(-len(rest) // most))
    keep = {id(r) for r in rest[::step]}
    return [r for r in rows if short(r) or id(r) in keep]


def text_cases(code_page, encode_differences):
    """(key, text) pairs for enCrypt under one code page."""
    cases = []
    fox = "The quick brown fox"
    for n in range(0, 81):
        cases.append((key_of_length(n), fox))
    for key in NON_ASCII_KEYS[code_page] + ["ab\0cd", "\0abc", "K" * 72 + "Z", "K" * 72]:
        cases.append((key, fox))
    for n in range(0, 41):
        cases.append(("TESTKEY", text_of_length(n)))
    for text in ["abcdefgh" + "\0" * 8, "abcd\0efgh", "\0", "ab\0" + "\0" * 13, "sixteen bytes!!!"]:
        cases.append(("TESTKEY", text))
    for text in NON_ASCII_TEXTS[code_page] + UNREPRESENTABLE[code_page]:
        cases.append(("TESTKEY", text))
    for c in encode_differences:
        cases.append(("TESTKEY", "<" + chr(c) + ">"))
    return cases


# --- Wine --------------------------------------------------------------------------------

class WineSide:
    """One bitness: its prefix, its registered DLL and its cscript."""

    def __init__(self, arch, build):
        self.arch = arch
        self.build = os.path.abspath(build)
        self.dir = os.path.join(ROOT, "build", "conformance", "wine-" + arch)
        self.loader = [] if arch == "x64" else ["--x86"]

    def wine(self, code_page, *args, check=True):
        env = dict(os.environ, WINE_CODEPAGE=str(code_page))
        return subprocess.run([os.path.join(ROOT, "cmake", "wine-run.sh")] + self.loader + [self.dir] + list(args),
                              env=env, check=check, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)

    def start(self):
        run([os.path.join(ROOT, "cmake", "wine-prefix.sh"), "setup", self.dir], stdin=subprocess.DEVNULL)
        dll = os.path.join(self.build, "server", "Corvane.dll")
        if not os.path.isfile(dll):
            sys.exit(f"generate.py: {dll} is not built")
        self.wine(1252, "regsvr32", "/s", windows_path(dll))

    def stop(self):
        subprocess.run([os.path.join(ROOT, "cmake", "wine-prefix.sh"), "cleanup", self.dir], stdin=subprocess.DEVNULL)

    def drive(self, code_page, lines, work):
        """Runs the batch; returns one (op, status, result) a line."""
        request = os.path.join(work, f"request-{self.arch}-{code_page}.txt")
        answer = os.path.join(work, f"answer-{self.arch}-{code_page}.txt")
        with open(request, "w", encoding="ascii", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")
        if os.path.exists(answer):
            os.remove(answer)
        self.wine(code_page, "cscript", "//nologo", windows_path(os.path.join(ROOT, "conformance", "tools", "drive_corvane.js")),
                  windows_path(request), windows_path(answer))
        with open(answer, encoding="ascii") as f:
            out = [line.rstrip("\r\n").split(" ") for line in f if line.strip()]
        if not out or out[-1] != ["done"] or len(out) != len(lines) + 1:
            sys.exit(f"generate.py: the {self.arch} batch under code page {code_page} stopped early ({len(out)} of {len(lines)})")
        return [(op, int(status), result) for op, status, result in out[:-1]]

    def dump_code_page(self, code_page, exe, work):
        out = os.path.join(work, f"code-page-{self.arch}-{code_page}.txt")
        self.wine(code_page, exe, windows_path(out))
        return parse_dump(out, code_page)


def hex16(s):
    units = s.encode("utf-16-le")
    h = "".join(f"{units[i + 1]:02x}{units[i]:02x}" for i in range(0, len(units), 2))
    return h or "."


def unhex16(h):
    if h == ".":
        return ""
    raw = bytes.fromhex(h)
    return bytes(b for i in range(0, len(raw), 2) for b in (raw[i + 1], raw[i])).decode("utf-16-le", "surrogatepass")


def parse_dump(path, code_page):
    decode, encode, leads = {}, {}, []
    with open(path) as f:
        first = f.readline().split()
        if first != ["acp", str(code_page)]:
            sys.exit(f"generate.py: Wine ran with ANSI code page {first} where {code_page} was asked for")
        for line in f:
            kind, a, *b = line.split()
            if kind == "l":
                leads.append(int(a, 16))
                continue
            b = b[0]
            if kind == "d":
                decode[a.upper()] = int(b, 16)
            else:
                encode[int(a, 16)] = b.upper()
    return decode, encode, leads


# --- the open tables ---------------------------------------------------------------------

class Iconv:
    def __init__(self):
        self.libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        self.libc.iconv_open.restype = ctypes.c_void_p
        self.libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        self.libc.iconv.restype = ctypes.c_size_t
        self.libc.iconv.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t),
                                    ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)]
        self.libc.iconv_close.argtypes = [ctypes.c_void_p]

    def convert(self, to, frm, data):
        """Strict, as the tool converts: any error or irreversible step is a refusal (None)."""
        cd = self.libc.iconv_open(to.encode(), frm.encode())
        if cd in (None, ctypes.c_void_p(-1).value):
            raise RuntimeError(f"iconv cannot convert {frm} to {to}")
        try:
            inbuf = ctypes.create_string_buffer(data, len(data))
            outbuf = ctypes.create_string_buffer(len(data) * 4 + 16)
            inp = ctypes.c_char_p(ctypes.addressof(inbuf))
            outp = ctypes.c_char_p(ctypes.addressof(outbuf))
            inleft = ctypes.c_size_t(len(data))
            outleft = ctypes.c_size_t(len(outbuf))
            r = self.libc.iconv(cd, ctypes.byref(inp), ctypes.byref(inleft), ctypes.byref(outp), ctypes.byref(outleft))
            if r != 0:
                return None
            r = self.libc.iconv(cd, None, None, ctypes.byref(outp), ctypes.byref(outleft))
            if r != 0:
                return None
            return outbuf.raw[:len(outbuf) - outleft.value]
        finally:
            self.libc.iconv_close(cd)


def one_character(text):
    return ord(text) if text is not None and len(text) == 1 else (-1 if text is not None else None)


def open_tables(code_page, sequences, characters, work):
    """Each open table's answers: {name: (decode {hex: cp or -1 or None}, encode {cp: hex or None})}."""
    tables = {}
    iconv = Iconv()
    name = ICONV_NAMES[code_page]
    dec, enc = {}, {}
    for h in sequences:
        out = iconv.convert("UTF-32LE", name, bytes.fromhex(h))
        dec[h] = one_character(out.decode("utf-32-le") if out is not None else None)
    for c in characters:
        out = iconv.convert(name, "UTF-32LE", chr(c).encode("utf-32-le"))
        enc[c] = out.hex().upper() if out is not None else None
    tables["glibc iconv " + name] = (dec, enc)

    codec = PYTHON_CODECS[code_page]
    dec, enc = {}, {}
    for h in sequences:
        try:
            dec[h] = one_character(bytes.fromhex(h).decode(codec))
        except UnicodeDecodeError:
            dec[h] = None
    for c in characters:
        try:
            enc[c] = chr(c).encode(codec).hex().upper()
        except UnicodeEncodeError:
            enc[c] = None
    tables["Python " + codec] = (dec, enc)

    tables["Mono Encoding.GetEncoding(%d)" % code_page] = mono_table(code_page, sequences, characters, work)
    return tables


MONO_PROGRAM = r"""
using System; using System.IO; using System.Text;
static class Dump {
  static void Main(string[] a) {
    var e = Encoding.GetEncoding(int.Parse(a[0]), EncoderFallback.ExceptionFallback, DecoderFallback.ExceptionFallback);
    using (var w = new StreamWriter(a[2])) {
      foreach (var line in File.ReadAllLines(a[1])) {
        var f = line.Split(' ');
        if (f[0] == "d") {
          var b = new byte[f[1].Length / 2];
          for (int i = 0; i < b.Length; i++) b[i] = Convert.ToByte(f[1].Substring(2 * i, 2), 16);
          string s = null;
          try { s = e.GetString(b); } catch (ArgumentException) {}
          w.WriteLine(s == null ? "-" : s.Length == 1 ? ((int)s[0]).ToString("X") : "*");
        } else {
          string s = ((char)Convert.ToInt32(f[1], 16)).ToString();
          byte[] b = null;
          try { b = e.GetBytes(s); } catch (ArgumentException) {}
          w.WriteLine(b == null ? "-" : BitConverter.ToString(b).Replace("-", ""));
        }
      }
    }
  }
}
"""


def mono_table(code_page, sequences, characters, work):
    exe = os.path.join(work, "mono_dump.exe")
    if not os.path.exists(exe):
        src = os.path.join(work, "mono_dump.cs")
        with open(src, "w") as f:
            f.write(MONO_PROGRAM)
        run(["mcs", "-nologo", "-out:" + exe, src], stdout=subprocess.DEVNULL)
    request = os.path.join(work, f"mono-{code_page}-in.txt")
    answer = os.path.join(work, f"mono-{code_page}-out.txt")
    with open(request, "w") as f:
        for h in sequences:
            f.write(f"d {h}\n")
        for c in characters:
            f.write(f"e {c:X}\n")
    run(["mono", exe, str(code_page), request, answer])
    with open(answer) as f:
        lines = f.read().split("\n")
    dec, enc = {}, {}
    for i, h in enumerate(sequences):
        v = lines[i]
        dec[h] = None if v == "-" else -1 if v == "*" else int(v, 16)
    for k, c in enumerate(characters):
        v = lines[len(sequences) + k]
        enc[c] = None if v == "-" else v
    return dec, enc


def ranges(values):
    out = []
    for v in values:
        if out and out[-1][1] == v - 1:
            out[-1][1] = v
        else:
            out.append([v, v])
    return [f"{a:02X}-{b:02X}" if a != b else f"{a:02X}" for a, b in out]


def differences(code_page, decode, encode, leads, work):
    sequences = [f"{b:02X}" for b in range(1, 256)] + [f"{b:02X}{t:02X}" for b in leads for t in range(1, 256)]
    characters = [c for c in range(1, 0x10000) if not 0xD800 <= c <= 0xDFFF]
    tables = open_tables(code_page, sequences, characters, work)
    dec_diff, enc_diff = [], []
    for h in sequences:
        windows = decode.get(h)
        if any(t[0][h] != windows for t in tables.values()):
            dec_diff.append([h, windows])
    for c in characters:
        windows = encode.get(c)
        if any(t[1][c] != windows for t in tables.values()):
            enc_diff.append([c, windows])
    return {"codePage": code_page, "leadBytes": ranges(leads), "comparedWith": sorted(tables),
            "decode": dec_diff, "encode": enc_diff}


# --- the vectors -------------------------------------------------------------------------

def git_commit():
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "HEAD"], capture_output=True, text=True).stdout.strip()
    dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--", "conformance/generate.py", "conformance/tools",
                            "engine", "crypt", "server"], capture_output=True, text=True).stdout.strip()
    return commit + (" (with uncommitted changes to the generator or the DLL)" if dirty else "")


def provenance(sides, x86_note):
    return {
        "commit": git_commit(),
        "command": "conformance/generate.py --x64 build/win64 --x86 build/win32 (after cmake --build --preset win64 "
                   "and win32); see conformance/README.md",
        "madeBy": {s.arch: "Corvane.dll of that commit, cscript under Wine (%s)" % ("wine64" if s.arch == "x64" else "32-bit wine")
                   for s in sides},
        "x86": x86_note,
    }


def write_json(path, value):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(value, f, ensure_ascii=True, indent=1)
        f.write("\n")
    print("wrote", os.path.relpath(path, ROOT))


def compact_json(path, head, rows_key, rows):
    """A table of many rows, one row a line."""
    with open(path, "w", encoding="utf-8") as f:
        f.write("{\n")
        for k, v in head.items():
            f.write(f" {json.dumps(k)}: {json.dumps(v, ensure_ascii=True)},\n")
        for n, key in enumerate(rows_key):
            f.write(f" {json.dumps(key)}: [\n")
            f.write(",\n".join("  " + json.dumps(r, ensure_ascii=True) for r in rows[n]))
            f.write("\n ]" + (",\n" if n + 1 < len(rows_key) else "\n"))
        f.write("}\n")
    print("wrote", os.path.relpath(path, ROOT))


def x86_availability(x86_build):
    if subprocess.run([os.path.join(ROOT, "scripts", "probe-ia32.sh")], capture_output=True).returncode != 0:
        return None, "not available: this kernel does not run 32-bit programs (scripts/probe-ia32.sh)"
    if not os.path.exists("/usr/lib/wine/wine"):
        return None, "not available: the 32-bit Wine (/usr/lib/wine/wine) is not installed"
    if not os.path.isfile(os.path.join(x86_build, "server", "Corvane.dll")):
        sys.exit(f"generate.py: 32-bit Wine runs here but {x86_build}/server/Corvane.dll is not built")
    return WineSide("x86", x86_build), "made and compared with x64: identical"


def agree(what, answers):
    first = answers[0]
    for other in answers[1:]:
        if other != first:
            sys.exit(f"generate.py: the bitnesses disagree on {what}")
    return first


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--x64", default=os.path.join(ROOT, "build", "win64"))
    parser.add_argument("--x86", default=os.path.join(ROOT, "build", "win32"))
    parser.add_argument("--out", default=os.path.join(ROOT, "conformance"))
    parser.add_argument("--native-tool", default=os.path.join(ROOT, "build", "native", "cli", "corvane"),
                        help="the corvane tool of the native build: the vectors must be its answers too")
    args = parser.parse_args()
    if not os.access(args.native_tool, os.X_OK):
        sys.exit(f"generate.py: {args.native_tool} is not built (cmake --preset native && cmake --build build/native --target corvane)")

    sides = [WineSide("x64", args.x64)]
    x86, x86_note = x86_availability(args.x86)
    if x86 is not None:
        sides.append(x86)
    print("x86:", x86_note)
    work = os.path.join(ROOT, "build", "conformance", "work")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    head = provenance(sides, x86_note)

    for side in sides:
        side.start()
    try:
        generate(sides, work, head, args.out)
    finally:
        for side in sides:
            side.stop()
    # The native engine (through the tool, with its own code page amendments) must agree.
    import check
    vectors = check.load_vectors_from([os.path.join(args.out, "vectors.json")])
    if not check.check_tool(args.native_tool, vectors, work):
        sys.exit("generate.py: the native engine (the corvane tool) disagrees with the DLL")


def generate(sides, work, head, out_dir):
    # Code pages: the Windows tables from each bitness, which must agree.
    dump_exe = {}
    for side in sides:
        compiler = "x86_64-w64-mingw32-gcc" if side.arch == "x64" else "i686-w64-mingw32-gcc"
        dump_exe[side.arch] = os.path.join(work, f"code_page_dump-{side.arch}.exe")
        run([compiler, "-O2", "-Wall", "-Werror", "-static", "-o", dump_exe[side.arch],
             os.path.join(ROOT, "conformance", "tools", "code_page_dump.c")])
    tables, diffs = {}, []
    for cp in CODE_PAGES:
        decode, encode, leads = agree(f"the table of code page {cp}",
                               [s.dump_code_page(cp, dump_exe[s.arch], work) for s in sides])
        tables[cp] = (decode, encode)
        compact_json(os.path.join(out_dir, f"code-page-{cp}.json"),
                     dict(head, codePage=cp, leadBytes=ranges(leads),
                          about="Windows' own conversion of this ANSI code page as Corvane.dll converts: decode lists "
                                "every byte or lead/trail pair MultiByteToWideChar(MB_ERR_INVALID_CHARS) accepts, "
                                "encode every BMP character WideCharToMultiByte(WC_NO_BEST_FIT_CHARS) accepts without "
                                "the default character; anything absent is refused (status -102)."),
                     ["decode", "encode"],
                     [[[h, c] for h, c in sorted(decode.items(), key=lambda kv: (len(kv[0]), kv[0]))],
                      [[c, h] for c, h in sorted(encode.items())]])
        diffs.append(differences(cp, decode, encode, leads, work))
    compact_json(os.path.join(out_dir, "code-pages.json"),
                 dict(head, about="Where Windows' conversion of each code page differs from at least one of the tables "
                                  "named in comparedWith: decode [bytes in hex, Windows' code point or null = refused], "
                                  "encode [code point, Windows' bytes in hex or null = refused]."),
                 ["codePages"], [diffs])

    # Files: encrypted once (the key is ASCII, so the code page plays no part), then decrypted.
    files = os.path.join(work, "files")
    os.makedirs(files)
    file_inputs = []  # (name, key, code page, content)
    for size in range(0, 65):
        file_inputs.append((f"s{size}", "TESTKEY", 1252, small_file(size)))
    for n, key in enumerate(["k", key_of_length(73), "ab\0cd"]):
        file_inputs.append((f"k{n}", key, 1252, small_file(21)))
    for cp in CODE_PAGES:
        for n, key in enumerate(NON_ASCII_KEYS[cp]):
            file_inputs.append((f"c{cp}-{n}", key, cp, small_file(13)))
    # The byte sequences where the code pages differ, as plaintext for deCrypt.
    for d in diffs:
        cp = d["codePage"]
        chunk = [bytes.fromhex(h) for h, _ in sample(d["decode"])]
        for n, raw in enumerate(chunk):
            file_inputs.append((f"p{cp}-{n}", "TESTKEY", 1252, b"<" + raw + b">"))
    for n, size in enumerate(LARGE_SIZES):
        file_inputs.append((f"large{n}", "TESTKEY", 1252, seeded_bytes(n + 1, size)))
    for name, _, _, content in file_inputs:
        with open(os.path.join(files, name), "wb") as f:
            f.write(content)

    by_cp = {cp: [] for cp in CODE_PAGES}
    for name, key, cp, _ in file_inputs:
        by_cp[cp].append(f"F {hex16(key)} {windows_path(os.path.join(files, name))}")
    encrypted = {}
    for cp in CODE_PAGES:
        results = []
        for side in sides:
            for name, key, c, _ in file_inputs:
                if c == cp and os.path.exists(os.path.join(files, name + ".bf")):
                    os.remove(os.path.join(files, name + ".bf"))
            statuses = side.drive(cp, by_cp[cp], work)
            contents = [open(os.path.join(files, name + ".bf"), "rb").read() if s[1] == 0 else None
                        for (name, _, c, _), s in zip([x for x in file_inputs if x[2] == cp], statuses)]
            results.append((statuses, contents))
        statuses, contents = agree(f"FileEnCrypt under code page {cp}", results)
        for (name, key, c, content), s, bf in zip([x for x in file_inputs if x[2] == cp], statuses, contents):
            if s[1] != 0:
                sys.exit(f"generate.py: FileEnCrypt of {name} failed: {s[1]}")
            check_file_format(name, content, bf)
            encrypted[name] = bf

    # .bf files to decrypt: every one written above (which must give its plaintext back), and
    # crafted ones: short, exact, too long, partial blocks, headers beyond the content.
    base = encrypted["s21"]  # 21 bytes: header 21, 24 bytes of ciphertext
    crafted = [
        ("empty file", b""), ("1 byte", b"\x01"), ("3 bytes", b"\x00\x00\x00"),
        ("header only, 0", b"\x00\x00\x00\x00"), ("header only, 1", b"\x01\x00\x00\x00"),
        ("exact", base), ("header 24 of 24", (24).to_bytes(4, "little") + base[4:]),
        ("header 25 of 24 (short)", (25).to_bytes(4, "little") + base[4:]),
        ("header 5 of 24 (too long)", (5).to_bytes(4, "little") + base[4:]),
        ("header 0 of 24", (0).to_bytes(4, "little") + base[4:]),
        ("one block missing", base[:-8]),
        ("partial block: 21 of 19", base[:-5]),
        ("partial block: 19 of 19", (19).to_bytes(4, "little") + base[4:-5]),
        ("partial block: 17 of 21", (17).to_bytes(4, "little") + base[4:] + b"\x55\xAA\x00"),
        ("partial block only: 3 of 3", (3).to_bytes(4, "little") + b"\x10\x20\x30"),
        ("header 0x80000000", (0x80000000).to_bytes(4, "little") + base[4:]),
        ("header 0xFFFFFFFF", b"\xff\xff\xff\xff" + base[4:]),
        ("header 0xFFFFFFFF, 3 bytes", b"\xff\xff\xff\xff\x01\x02\x03"),
    ]
    bf_dir = os.path.join(work, "bf")
    os.makedirs(bf_dir)
    bf_inputs = [(f"b{n}.bf", what, "TESTKEY", content) for n, (what, content) in enumerate(crafted)]
    for name, key, cp, content in file_inputs:
        if cp == 1252 and not name.startswith("large"):
            bf_inputs.append((f"r-{name}.bf", None, key, encrypted[name]))
    for name, _, _, content in bf_inputs:
        with open(os.path.join(bf_dir, name), "wb") as f:
            f.write(content)
    lines = [f"G {hex16(key)} {windows_path(os.path.join(bf_dir, name))}" for name, _, key, _ in bf_inputs]
    results = []
    for side in sides:
        for name, *_ in bf_inputs:
            if os.path.exists(os.path.join(bf_dir, name + ".bf")):
                os.remove(os.path.join(bf_dir, name + ".bf"))
        statuses = side.drive(1252, lines, work)
        written = [open(os.path.join(bf_dir, name + ".bf"), "rb").read() if os.path.exists(os.path.join(bf_dir, name + ".bf"))
                   else None for name, *_ in bf_inputs]
        results.append((statuses, written))
    statuses, written = agree("FileDeCrypt", results)
    bf_cases = []
    plain_of = {name: content for name, _, _, content in file_inputs}
    for (name, what, key, content), s, out in zip(bf_inputs, statuses, written):
        if s[1] not in (0, -202) or (s[1] == -202) != (out is None):
            sys.exit(f"generate.py: FileDeCrypt of {name} gave {s[1]} and {'no file' if out is None else 'a file'}")
        if what is None:
            if s[1] != 0 or out != plain_of[name[2:-3]]:
                sys.exit(f"generate.py: FileDeCrypt did not give {name[2:-3]} back")
            continue
        expect_bf_rule(what, content, s[1], out)
        bf_cases.append({"what": what, "key": key, "codePage": 1252, "bfHex": content.hex(), "status": s[1],
                         "writtenLength": None if out is None else len(out),
                         "plainHex": None if out is None else out.hex()})

    file_cases = [{"key": key, "codePage": cp, "plainHex": content.hex(), "bfHex": encrypted[name].hex()}
                  for name, key, cp, content in file_inputs if name[0] in "skc"]
    large_cases = [{"key": key, "codePage": cp, "seed": n + 1, "length": len(content),
                    "bfLength": len(encrypted[name]), "bfSha256": hashlib.sha256(encrypted[name]).hexdigest()}
                   for n, (name, key, cp, content) in enumerate(x for x in file_inputs if x[0].startswith("large"))]

    # Texts, and Base64 to decrypt, per code page.
    text_rows, decrypt_rows = [], []
    for d in diffs:
        cp = d["codePage"]
        cases = text_cases(cp, [c for c, _ in sample(d["encode"])])
        decrypt = decrypt_inputs(cp, encrypted, diffs)
        lines = [f"T {hex16(k)} {hex16(t)}" for k, t in cases] + [f"D {hex16(k)} {hex16(b)}" for k, b, _ in decrypt]
        answers = agree(f"the texts under code page {cp}", [s.drive(cp, lines, work) for s in sides])
        round_trip = []
        for (key, text), (_, status, result) in zip(cases, answers[:len(cases)]):
            b64 = None if result == "-" else "" if result == "." else result
            if (status == 0) != (b64 is not None):
                sys.exit(f"generate.py: enCrypt gave status {status} and {'no ' if b64 is None else ''}result")
            text_rows.append({"key": key, "text": text, "codePage": cp, "base64": b64, "status": status})
            if b64 is not None:
                round_trip.append((key, b64, text))
        for (key, b64, what), (_, status, result) in zip(decrypt, answers[len(cases):]):
            decrypt_rows.append({"what": what, "key": key, "codePage": cp, "base64": b64,
                                 "text": None if result == "-" else unhex16(result), "status": status})
        # Every ciphertext decrypts to its text up to the first NUL (checked, not stored).
        back = agree(f"the round trips under code page {cp}",
                     [s.drive(cp, [f"D {hex16(k)} {hex16(b)}" for k, b, _ in round_trip], work) for s in sides])
        for (key, b64, text), (_, status, result) in zip(round_trip, back):
            if status != 0 or unhex16(result) != text.split("\0")[0]:
                sys.exit(f"generate.py: deCrypt of enCrypt({text!r}) under {cp} gave {status} {result}")

    write_json(os.path.join(out_dir, "vectors.json"), dict(
        head,
        about="Corvane.dll's answers. textCases: enCrypt (base64 null where it fails, status its IsError). "
              "decryptCases: deCrypt of base64 (text null where it fails). fileCases: FileEnCrypt of plainHex gives "
              "bfHex and FileDeCrypt of bfHex gives plainHex. largeFileCases: the content is `length` bytes of the "
              "32-bit LCG state = state * 1103515245 + 12345 (mod 2^32) started at `seed`, each byte the top byte of "
              "the next state; bfSha256 is the SHA-256 of the .bf file. bfCases: FileDeCrypt of bfHex: status, and "
              "the writtenLength bytes plainHex written (null: nothing written). Keys and texts are converted with "
              "the ANSI code page codePage.",
        textCases=text_rows, decryptCases=decrypt_rows, fileCases=file_cases, largeFileCases=large_cases,
        bfCases=bf_cases))


def check_file_format(name, plain, bf):
    """The format's own rules, independent of the cipher: header and length."""
    n = len(plain)
    if bf is None or len(bf) != 4 + (n + 7) // 8 * 8 or int.from_bytes(bf[:4], "little") != n:
        sys.exit(f"generate.py: FileEnCrypt of {name} wrote no .bf file of the format")


def expect_bf_rule(what, content, status, out):
    stated = int.from_bytes(content[:4], "little") if len(content) >= 4 else None
    short = stated is None or len(content) - 4 < stated
    if short != (status == -202) or (not short and len(out) != stated):
        sys.exit(f"generate.py: FileDeCrypt of '{what}' gave {status} and {None if out is None else len(out)} bytes")


def decrypt_inputs(cp, encrypted, diffs):
    """(key, Base64 text, what) for deCrypt: well-formed and malformed Base64, odd lengths,
    and the plaintexts where the code pages differ."""
    def b64_of(name):
        return base64.b64encode(encrypted[name][4:]).decode()
    ok16 = b64_of("s16")   # 16 bytes: 24 characters, no '='
    ok8 = b64_of("s8")     # 8 bytes: 12 characters with one '='
    ok13 = b64_of("s13")   # 16 bytes
    cases = [
        (ok16, "16 bytes"), (ok8, "8 bytes, one '='"), ("", "empty"),
        (ok16[:10] + " " + ok16[10:], "a space inside"), (ok16[:4] + "\r\n" + ok16[4:] + "\r\n", "CR LF inside and after"),
        ("\t" + ok8 + "\v\f", "tab, vertical tab, form feed"),
        (ok8[:-1], "missing '='"), (ok8 + "=", "an extra '='"), (ok8[:-2] + "==", "'==' for '='"),
        (ok16 + "====", "a group of '='"), (ok16[:-1] + "*", "'*' inside"), (ok16[:5] + "-" + ok16[6:], "'-' (URL-safe alphabet)"),
        (ok16[:5] + "_" + ok16[6:], "'_' (URL-safe alphabet)"), (ok16[:-4], "12 bytes: not whole blocks"),
        (base64.b64encode(encrypted["s13"][4:9]).decode(), "5 bytes: a partial block"),
        (base64.b64encode(encrypted["s13"][4:4 + 15]).decode(), "15 bytes"),
        (ok13[:3] + "=" + ok13[4:], "'=' inside"), ("=", "only '='"), ("QQ", "two characters"),
        ("QQ=", "a group cut after '='"), ("QUJD", "3 bytes, no whole block"), (ok16 + "\0", "a NUL after the text"),
        (ok16[:8] + "\u00e9" + ok16[8:], "a letter outside ASCII"), (ok16[:8] + "\uff21" + ok16[8:], "a full-width letter"),
        (ok8[:-2] + "B=", "unused bits set in the last group"),
    ]
    out = [("TESTKEY", b, w) for b, w in cases]
    out.append(("WRONGKEY", ok16, "a wrong key"))
    out.append(("", ok16, "an empty key"))
    for d in diffs:
        if d["codePage"] != cp:
            continue
        for n, (h, _) in enumerate(sample(d["decode"])):
            out.append(("TESTKEY", b64_of(f"p{cp}-{n}"), f"plaintext bytes 3C {h} 3E"))
    return out


if __name__ == "__main__":
    main()
