#!/usr/bin/env python3
"""Static checks of a built Windows binary, beside the tests that run it under Wine.

Reads the PE file itself: machine, imported DLLs, exported names and the resource
directory (type, name, language and the raw bytes of a resource).

  check_pe.py FILE --machine i386|amd64 [--system-imports-only]
              [--undecorated-imports]              no stdcall decoration in imported names
              [--exports NAME,NAME,...]            exactly these exports, undecorated
              [--resource TYPE/NAME/LANG ...]      resource present (numbers or names)
              [--resource-bytes TYPE/NAME/LANG=FILE ...]  resource equal to FILE's bytes
              [--no-tls]                           no TLS directory (thread notifications can be switched off)
              [--no-initializers]                  no constructor lists for start-up code to run
              [--heap-allocation-only]             no C runtime allocator imported (HeapAlloc is the allocator)
"""
import argparse
import struct
import sys

MACHINES = {"i386": 0x14C, "amd64": 0x8664}
SYSTEM_DLLS = {
    "kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll",
    "shell32.dll", "shlwapi.dll", "atl.dll", "ws2_32.dll", "rpcrt4.dll", "bcrypt.dll", "psapi.dll",
    "ucrtbase.dll", "gdi32.dll", "version.dll",
}
# What a C runtime allocates with; a DLL that imports none of them allocates only where
# a test can watch it (HeapAlloc).
RUNTIME_ALLOCATORS = {
    "malloc", "calloc", "realloc", "free", "_aligned_malloc", "_aligned_free", "_strdup", "_wcsdup",
    "strdup", "wcsdup", "_expand", "_msize",
}
RESOURCE_TYPES = {"CURSOR": 1, "BITMAP": 2, "ICON": 3, "MENU": 4, "DIALOG": 5, "STRING": 6, "VERSION": 16}


class PE:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        d = self.data
        if d[:2] != b"MZ":
            raise SystemExit(f"{path}: not a PE file")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise SystemExit(f"{path}: no PE signature")
        self.machine, sections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", d, opt)[0]
        self.pe32plus = magic == 0x20B
        dirs = opt + (96 if magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(16)]
        self.sections = []
        self.section_names = {}
        table = opt + opt_size
        for i in range(sections):
            name = d[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode("latin-1")
            vsize, va, rsize, rptr = struct.unpack_from("<IIII", d, table + 40 * i + 8)
            self.sections.append((va, max(vsize, rsize), rptr))
            self.section_names[name] = max(vsize, rsize)

    def offset(self, rva):
        for va, size, ptr in self.sections:
            if va <= rva < va + size:
                return rva - va + ptr
        raise ValueError(f"RVA {rva:#x} outside every section")

    def cstring(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("latin-1")

    def imports(self):
        rva, size = self.directories[1]
        names, o = [], self.offset(rva) if size else None
        while o is not None:
            name_rva = struct.unpack_from("<I", self.data, o + 12)[0]
            if name_rva == 0:
                break
            names.append(self.cstring(name_rva))
            o += 20
        return names

    def imported_names(self):
        """Names imported by name, from every DLL."""
        rva, size = self.directories[1]
        names, o = [], self.offset(rva) if size else None
        width, ordinal_flag = (8, 1 << 63) if self.pe32plus else (4, 1 << 31)
        while o is not None:
            lookup, _, _, name_rva, first_thunk = struct.unpack_from("<IIIII", self.data, o)
            if name_rva == 0:
                break
            t = self.offset(lookup or first_thunk)
            while True:
                entry = int.from_bytes(self.data[t:t + width], "little")
                if entry == 0:
                    break
                if not entry & ordinal_flag:
                    names.append(self.cstring(entry + 2))
                t += width
            o += 20
        return names

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return []
        o = self.offset(rva)
        count = struct.unpack_from("<I", self.data, o + 24)[0]  # NumberOfNames
        names_rva = struct.unpack_from("<I", self.data, o + 32)[0]  # AddressOfNames
        return [self.cstring(struct.unpack_from("<I", self.data, self.offset(names_rva) + 4 * i)[0]) for i in range(count)]

    def resources(self):
        """{(type, name, lang): bytes}; names are ints or upper-case strings."""
        rva, size = self.directories[2]
        out = {}
        if not size:
            return out
        base = self.offset(rva)

        def entries(o):
            named, ids = struct.unpack_from("<HH", self.data, o + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, o + 16 + 8 * i)
                if key & 0x80000000:
                    so = base + (key & 0x7FFFFFFF)
                    n = struct.unpack_from("<H", self.data, so)[0]
                    key = self.data[so + 2:so + 2 + 2 * n].decode("utf-16-le").upper()
                yield key, target

        for rtype, t1 in entries(base):
            for rname, t2 in entries(base + (t1 & 0x7FFFFFFF)):
                for lang, t3 in entries(base + (t2 & 0x7FFFFFFF)):
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + t3)
                    o = self.offset(data_rva)
                    out[(rtype, rname, lang)] = self.data[o:o + data_size]
        return out


def resource_key(text):
    rtype, name, lang = text.split("/")
    def part(p):
        p = RESOURCE_TYPES.get(p, p)
        return int(p, 0) if isinstance(p, str) and p[:1].isdigit() else (p.upper() if isinstance(p, str) else p)
    return part(rtype), part(name), int(lang, 0)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("file")
    ap.add_argument("--machine", choices=MACHINES, required=True)
    ap.add_argument("--system-imports-only", action="store_true")
    ap.add_argument("--undecorated-imports", action="store_true")
    ap.add_argument("--exports")
    ap.add_argument("--resource", action="append", default=[])
    ap.add_argument("--resource-bytes", action="append", default=[])
    ap.add_argument("--no-tls", action="store_true")
    ap.add_argument("--no-initializers", action="store_true")
    ap.add_argument("--heap-allocation-only", action="store_true")
    args = ap.parse_args()

    pe = PE(args.file)
    failures = []
    if pe.machine != MACHINES[args.machine]:
        failures.append(f"machine {pe.machine:#x}, expected {args.machine}")
    if args.system_imports_only:
        foreign = [n for n in pe.imports() if n.lower() not in SYSTEM_DLLS and not n.lower().startswith("api-ms-win-")]
        if foreign:
            failures.append(f"imports non-system DLLs: {', '.join(foreign)}")
    if args.undecorated_imports:
        decorated = [n for n in pe.imported_names() if "@" in n]
        if decorated:
            failures.append(f"decorated import names: {', '.join(decorated)}")
    if args.no_tls and pe.directories[9][1] != 0:
        failures.append("has a TLS directory")
    if args.no_initializers:
        lists = [n for n in (".ctors", ".dtors", ".init_array", ".fini_array", ".CRT") if pe.section_names.get(n, 0)]
        if lists:
            failures.append(f"constructor lists: {', '.join(lists)}")
    if args.heap_allocation_only:
        allocators = sorted(n for n in pe.imported_names() if n in RUNTIME_ALLOCATORS or n.startswith(("_Znw", "_Zna")))
        if allocators:
            failures.append(f"imports allocators other than HeapAlloc: {', '.join(allocators)}")
    if args.exports is not None:
        expected = sorted(args.exports.split(",")) if args.exports else []
        if sorted(pe.exports()) != expected:
            failures.append(f"exports {sorted(pe.exports())}, expected {expected}")
    resources = pe.resources() if (args.resource or args.resource_bytes) else {}
    for r in args.resource:
        if resource_key(r) not in resources:
            failures.append(f"resource {r} missing (have {sorted(map(str, resources))})")
    for r in args.resource_bytes:
        key_text, path = r.split("=", 1)
        key = resource_key(key_text)
        expected = open(path, "rb").read()
        if key not in resources:
            failures.append(f"resource {key_text} missing")
        elif resources[key] != expected:
            failures.append(f"resource {key_text} differs from {path} ({len(resources[key])} bytes, expected {len(expected)})")

    for f in failures:
        print(f"{args.file}: {f}")
    if not failures:
        print(f"{args.file}: ok ({args.machine}, imports {', '.join(pe.imports())})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
