"""Fixes the parts of a Windows Installer package that its writers fill from the clock or
at random, so that the same files give the same package bytes: the summary information's
package code (Revision Number), its Created and Last Saved times, and the times in the
compound file's directory entries.

The package is an OLE compound file; the summary information is a small property-set
stream in it. Both are edited in place: the values keep their sizes, so no sector moves.
"""
import struct
import uuid

_SIGNATURE = bytes.fromhex("D0CF11E0A1B11AE1")
_SUMMARY_NAME = "\x05SummaryInformation"
_END_OF_CHAIN = 0xFFFFFFFE
_FREE = 0xFFFFFFFF
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64


class CompoundFile:
    def __init__(self, data):
        self.data = bytearray(data)
        if self.data[:8] != _SIGNATURE:
            raise ValueError("not a compound file")
        self.sector_size = 1 << struct.unpack_from("<H", self.data, 30)[0]
        self.mini_sector_size = 1 << struct.unpack_from("<H", self.data, 32)[0]
        fat_sectors, first_dir, _, self.mini_cutoff, first_minifat, minifat_count, first_difat, difat_count = \
            struct.unpack_from("<IIIIIIII", self.data, 44)
        difat = list(struct.unpack_from("<109I", self.data, 76))
        sector = first_difat
        for _ in range(difat_count):
            entries = struct.unpack_from(f"<{self.sector_size // 4}I", self.data, self._offset(sector))
            difat += entries[:-1]
            sector = entries[-1]
        self.fat = []
        for sector in difat[:fat_sectors]:
            self.fat += struct.unpack_from(f"<{self.sector_size // 4}I", self.data, self._offset(sector))
        self.directory = self._chain_offsets(first_dir, self.sector_size)
        self.minifat = []
        for offset in self._chain_offsets(first_minifat, self.sector_size) if minifat_count else []:
            self.minifat += struct.unpack_from(f"<{self.sector_size // 4}I", self.data, offset)
        root = self.entries()[0]
        self.mini_stream = self._chain_offsets(root["start"], self.sector_size)

    def _offset(self, sector):
        return (sector + 1) * self.sector_size

    def _chain(self, first, table):
        chain, seen = [], set()
        sector = first
        while sector not in (_END_OF_CHAIN, _FREE):
            if sector in seen or sector >= len(table):
                raise ValueError("broken sector chain")
            seen.add(sector)
            chain.append(sector)
            sector = table[sector]
        return chain

    def _chain_offsets(self, first, size):
        return [self._offset(s) for s in self._chain(first, self.fat)]

    def entries(self):
        """Directory entries: offset in the file, name, type, start sector, size."""
        result = []
        for sector_offset in self.directory:
            for n in range(self.sector_size // 128):
                offset = sector_offset + n * 128
                name_bytes = struct.unpack_from("<H", self.data, offset + 64)[0]
                name = self.data[offset:offset + max(name_bytes - 2, 0)].decode("utf-16-le")
                kind = self.data[offset + 66]
                start, size = struct.unpack_from("<IQ", self.data, offset + 116)
                result.append({"offset": offset, "name": name, "type": kind, "start": start, "size": size})
        return result

    def stream_offsets(self, entry):
        """The file offset of every byte of a stream, in order."""
        size = entry["size"] if self.sector_size == 4096 else entry["size"] & 0xFFFFFFFF
        if size < self.mini_cutoff:
            offsets = []
            for mini in self._chain(entry["start"], self.minifat):
                position = mini * self.mini_sector_size
                base = self.mini_stream[position // self.sector_size] + position % self.sector_size
                offsets += range(base, base + self.mini_sector_size)
        else:
            offsets = []
            for base in self._chain_offsets(entry["start"], self.sector_size):
                offsets += range(base, base + self.sector_size)
        return offsets[:size]

    def clear_entry_times(self):
        """Directory entries keep creation and modification times: zero, as the format allows."""
        for entry in self.entries():
            if entry["type"] != 0:
                self.data[entry["offset"] + 100:entry["offset"] + 116] = bytes(16)


def _summary_properties(stream):
    """{pid: (offset of the value after its type, type)} of the summary's first section."""
    section = struct.unpack_from("<I", stream, 44)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    properties = {}
    for n in range(count):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * n)
        kind = struct.unpack_from("<I", stream, section + offset)[0]
        properties[pid] = (section + offset + 4, kind)
    return properties


def filetime(unix_seconds):
    return (int(unix_seconds) + 11644473600) * 10_000_000


def make_reproducible(path, epoch, namespace):
    """Rewrites the package at path: times from epoch (Unix seconds), the directory times
    zero, and the package code a name-based UUID of namespace and the package's bytes.
    Returns the package code."""
    cfb = CompoundFile(open(path, "rb").read())
    cfb.clear_entry_times()
    summary = [e for e in cfb.entries() if e["name"] == _SUMMARY_NAME and e["type"] == 2]
    if len(summary) != 1:
        raise ValueError(f"{path}: no summary information")
    offsets = cfb.stream_offsets(summary[0])
    stream = bytearray(cfb.data[o] for o in offsets)
    properties = _summary_properties(stream)

    def put(position, value):
        stream[position:position + len(value)] = value

    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        if pid in properties:
            position, kind = properties[pid]
            if kind != VT_FILETIME:
                raise ValueError(f"{path}: summary property {pid} is not a time")
            put(position, struct.pack("<Q", filetime(epoch)))
    position, kind = properties[PID_REVNUMBER]
    length = struct.unpack_from("<I", stream, position)[0]
    if kind != VT_LPSTR or length != 39:
        raise ValueError(f"{path}: the package code is not a GUID string")

    def write_back():
        for o, b in zip(offsets, stream):
            cfb.data[o] = b

    put(position + 4, b"{00000000-0000-0000-0000-000000000000}\0")
    write_back()
    import hashlib
    code = str(uuid.uuid5(namespace, hashlib.sha256(cfb.data).hexdigest())).upper()
    put(position + 4, ("{" + code + "}\0").encode("ascii"))
    write_back()
    with open(path, "wb") as f:
        f.write(cfb.data)
    return code
