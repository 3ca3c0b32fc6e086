#!/usr/bin/env python3
"""Static checks of a built Windows binary, beside the tests that run it under Wine.

Reads the PE file itself: machine, header flags, sections, base relocations, imported
DLLs, exported names and the resource directory (type, name, language, the raw bytes of
a resource and the version block read back).

  check_pe.py FILE --machine i386|amd64 [--system-imports-only]
              [--undecorated-imports]              no stdcall decoration in imported names
              [--exports NAME,NAME,...]            exactly these exports, undecorated
              [--resource TYPE/NAME/LANG ...]      resource present (numbers or names)
              [--resource-bytes TYPE/NAME/LANG=FILE ...]  resource equal to FILE's bytes
              [--no-tls]                           no TLS directory (thread notifications can be switched off)
              [--no-initializers]                  no constructor lists for start-up code to run
              [--heap-allocation-only]             no C runtime allocator imported (HeapAlloc is the allocator)
              [--hardened]                         the image flags and sections of a hardened image:
                  ASLR (DYNAMIC_BASE, with relocations to move the image), DEP (NX_COMPAT),
                  HIGH_ENTROPY_VA on amd64; on i386 NO_SEH (and no code that installs a
                  frame-based handler) or a SafeSEH table; no section both writable and
                  executable; a read-only .rdata
              [--no-writable-function-tables]      no vtable-like run of 4 or more code pointers in
                                                   writable data
              [--read-only-guid GUID ...]          GUID in the image's data, every copy read-only
              [--read-only-words HEX,HEX,... ...]  these 32-bit words in a row (a table's start)
                                                   in the image's data, every copy read-only
                                                   (copies in the resources do not count)
              [--fixed-version A.B.C.D]            file and product version of the version block
              [--version-string NAME=VALUE ...]    a string of the version block's string table
              [--copyright-from LICENSE]           LegalCopyright is LICENSE's "Copyright (c) HOLDER"
                                                   line and CompanyName is HOLDER
"""
import argparse
import re
import struct
import sys
import uuid

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

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
DLL_HIGH_ENTROPY_VA = 0x0020
DLL_DYNAMIC_BASE = 0x0040
DLL_NX_COMPAT = 0x0100
DLL_NO_SEH = 0x0400
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000

# x86 instructions that store to fs:[0], the head of the thread's chain of frame-based
# exception handlers: what code does to install (or remove) such a handler.
#   64 A3 00000000         mov %eax,%fs:0
#   64 89 /r 00000000      mov %reg,%fs:0 (ModRM mod 00, r/m 101: a 32-bit displacement)
#   64 8F 05 00000000      pop %fs:0
#   64 C7 05 00000000 imm  movl $imm,%fs:0
SEH_CHAIN_STORE = re.compile(
    rb"\x64(?:\xA3|\x89[\x05\x0D\x15\x1D\x25\x2D\x35\x3D]|\x8F\x05|\xC7\x05)\x00\x00\x00\x00")


class PE:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        d = self.data
        if d[:2] != b"MZ":
            raise SystemExit(f"{path}: not a PE file")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise SystemExit(f"{path}: no PE signature")
        self.machine, sections, _, _, _, opt_size, self.characteristics = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", d, opt)[0]
        self.pe32plus = magic == 0x20B
        self.pointer_size = 8 if self.pe32plus else 4
        self.image_base = struct.unpack_from("<Q", d, opt + 24)[0] if self.pe32plus else struct.unpack_from("<I", d, opt + 28)[0]
        self.dll_characteristics = struct.unpack_from("<H", d, opt + 70)[0]
        dirs = opt + (96 if magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(16)]
        self.sections = []
        self.section_names = {}
        self.section_table = []  # (name, va, size, raw pointer, raw size, characteristics)
        table = opt + opt_size
        for i in range(sections):
            name = d[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode("latin-1")
            vsize, va, rsize, rptr = struct.unpack_from("<IIII", d, table + 40 * i + 8)
            flags = struct.unpack_from("<I", d, table + 40 * i + 36)[0]
            self.sections.append((va, max(vsize, rsize), rptr))
            self.section_names[name] = max(vsize, rsize)
            self.section_table.append((name, va, max(vsize, rsize), rptr, rsize, flags))

    def section_at(self, rva):
        for section in self.section_table:
            if section[1] <= rva < section[1] + section[2]:
                return section
        return None

    def relocated_slots(self):
        """RVAs of the pointers that the base relocations adjust."""
        rva, size = self.directories[5]
        slots = []
        if not size:
            return slots
        o, end = self.offset(rva), self.offset(rva) + size
        while o < end:
            page, block = struct.unpack_from("<II", self.data, o)
            if block < 8:
                break
            for i in range((block - 8) // 2):
                entry = struct.unpack_from("<H", self.data, o + 8 + 2 * i)[0]
                if entry >> 12 in (3, 10):  # HIGHLOW, DIR64
                    slots.append(page + (entry & 0xFFF))
            o += block
        return slots

    def occurrences(self, needle):
        """(section, RVA) of every copy of needle in the sections' raw data."""
        found = []
        for section in self.section_table:
            name, va, _, rptr, rsize, _ = section
            raw = self.data[rptr:rptr + rsize]
            start = raw.find(needle)
            while start >= 0:
                found.append((section, va + start))
                start = raw.find(needle, start + 1)
        return found

    def safe_seh_handler_count(self):
        """SEHandlerCount of an i386 load configuration, 0 without one."""
        rva, size = self.directories[10]
        if not size or self.pe32plus:
            return 0
        o = self.offset(rva)
        if struct.unpack_from("<I", self.data, o)[0] < 72:
            return 0
        return struct.unpack_from("<I", self.data, o + 68)[0]

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


def version_block(data):
    """(fixed file version, product version, {string name: value}) of a VS_VERSIONINFO."""
    def node(o):
        length, value_length, value_type = struct.unpack_from("<HHH", data, o)
        key_end = o + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[o + 6:key_end].decode("utf-16-le")
        value = (key_end + 2 + 3) & ~3
        value_end = value + (2 * value_length if value_type == 1 else value_length)
        children, c = [], (value_end + 3) & ~3
        while c < o + length:
            child = node(c)
            children.append(child)
            c = (c + child["length"] + 3) & ~3
        return {"length": length, "key": key, "value": data[value:value_end], "children": children}

    root = node(0)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIIIII", root["value"])
    if signature != 0xFEEF04BD:
        raise ValueError("no VS_FIXEDFILEINFO")
    version = lambda ms, ls: f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    strings = {}
    for child in root["children"]:
        if child["key"] == "StringFileInfo":
            for table in child["children"]:
                for entry in table["children"]:
                    strings[entry["key"]] = entry["value"].decode("utf-16-le").rstrip("\0")
    return version(file_ms, file_ls), version(product_ms, product_ls), strings


def hardening_failures(pe):
    failures = []
    flags = pe.dll_characteristics
    for flag, name in ((DLL_DYNAMIC_BASE, "DYNAMIC_BASE"), (DLL_NX_COMPAT, "NX_COMPAT")):
        if not flags & flag:
            failures.append(f"no {name}")
    if pe.machine == MACHINES["amd64"] and not flags & DLL_HIGH_ENTROPY_VA:
        failures.append("no HIGH_ENTROPY_VA")
    if pe.directories[5][1] == 0 or pe.characteristics & IMAGE_FILE_RELOCS_STRIPPED:
        failures.append("no base relocations: the loader cannot move the image")
    if pe.machine == MACHINES["i386"]:
        if flags & DLL_NO_SEH:
            for name, va, _, rptr, rsize, scn in pe.section_table:
                if scn & SCN_MEM_EXECUTE:
                    for m in SEH_CHAIN_STORE.finditer(pe.data, rptr, rptr + rsize):
                        failures.append(f"NO_SEH, but code at RVA {va + m.start() - rptr:#x} ({name}) stores to fs:[0]")
        elif pe.safe_seh_handler_count() == 0:
            failures.append("neither NO_SEH nor a SafeSEH handler table")
    for name, _, _, _, _, scn in pe.section_table:
        if scn & SCN_MEM_WRITE and scn & SCN_MEM_EXECUTE:
            failures.append(f"section {name} is writable and executable")
    rdata = next((s for s in pe.section_table if s[0] == ".rdata"), None)
    if rdata is None:
        failures.append("no .rdata section: constants are in writable data")
    elif rdata[5] & SCN_MEM_WRITE:
        failures.append("section .rdata is writable")
    return failures


def writable_function_tables(pe, shortest=4):
    """(section name, RVA, length) of each run of `shortest` or more adjacent relocated
    pointers into executable sections that lies in a writable section: a vtable or a
    table of function pointers that a stray write could redirect."""
    def code_pointer(slot):
        value = int.from_bytes(pe.data[pe.offset(slot):pe.offset(slot) + pe.pointer_size], "little")
        target = pe.section_at(value - pe.image_base)
        return target is not None and bool(target[5] & SCN_MEM_EXECUTE)

    runs, run = [], []
    for slot in sorted(pe.relocated_slots()) + [None]:  # None ends the last run
        section = pe.section_at(slot) if slot is not None else None
        in_run = section is not None and section[5] & SCN_MEM_WRITE and code_pointer(slot)
        if in_run and run and slot == run[-1] + pe.pointer_size:
            run.append(slot)
            continue
        if len(run) >= shortest:
            runs.append((pe.section_at(run[0])[0], run[0], len(run)))
        run = [slot] if in_run else []
    return runs


def read_only_failures(pe, label, needle):
    """needle is in the image's data, and every copy is read-only. Copies in the resources
    (a type library's GUIDs) do not count: GNU ld 2.40 marks .rsrc writable whatever its
    input says."""
    found = [(section, rva) for section, rva in pe.occurrences(needle) if section[0] != ".rsrc"]
    failures = [f"{label} at RVA {rva:#x} in writable section {section[0]}"
                for section, rva in found if section[5] & SCN_MEM_WRITE]
    if not found:
        failures.append(f"{label} not found outside the resources")
    return failures


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
    ap.add_argument("--hardened", action="store_true")
    ap.add_argument("--no-writable-function-tables", action="store_true")
    ap.add_argument("--read-only-guid", action="append", default=[])
    ap.add_argument("--read-only-words", action="append", default=[])
    ap.add_argument("--fixed-version")
    ap.add_argument("--version-string", action="append", default=[])
    ap.add_argument("--copyright-from")
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
    if args.hardened:
        failures += hardening_failures(pe)
    if args.no_writable_function_tables:
        for section, rva, count in writable_function_tables(pe):
            failures.append(f"{count} code pointers in a row at RVA {rva:#x} in writable section {section}")
    for text in args.read_only_guid:
        failures += read_only_failures(pe, f"GUID {text}", uuid.UUID(text).bytes_le)
    for text in args.read_only_words:
        words = [int(w, 16) for w in text.split(",")]
        failures += read_only_failures(pe, f"table starting {words[0]:08X}", struct.pack(f"<{len(words)}I", *words))

    expected_strings = dict(v.split("=", 1) for v in args.version_string)
    if args.copyright_from:
        lines = [l.strip() for l in open(args.copyright_from, encoding="utf-8") if l.startswith("Copyright")]
        holder = re.fullmatch(r"Copyright (?:\(c\)|©) (?:[0-9, -]+ )?(.+)", lines[0]) if lines else None
        if holder is None:
            failures.append(f"{args.copyright_from}: no \"Copyright (c) HOLDER\" line")
        else:
            expected_strings.update({"LegalCopyright": lines[0], "CompanyName": holder.group(1)})
    if args.fixed_version or expected_strings:
        blocks = [data for (rtype, _, _), data in pe.resources().items() if rtype == RESOURCE_TYPES["VERSION"]]
        if len(blocks) != 1:
            failures.append(f"{len(blocks)} version resources, expected one")
        else:
            file_version, product_version, strings = version_block(blocks[0])
            if args.fixed_version and (file_version, product_version) != (args.fixed_version,) * 2:
                failures.append(f"version block: file version {file_version}, product version {product_version}, "
                                f"expected {args.fixed_version}")
            for name, value in expected_strings.items():
                if strings.get(name) != value:
                    failures.append(f"version string {name}: {strings.get(name)!r}, expected {value!r}")

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
