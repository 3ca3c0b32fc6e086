"""Text to and from the bytes of a Windows code page, as Corvane.Crypt converts it on
Windows: strictly (a character the code page lacks, or bytes that are not valid text in it,
fail with -102; nothing becomes '?' or a look-alike), with Windows' own tables.

Python's codecs differ from Windows' tables at a few points (cp1252 lacks five bytes that
Windows maps to control characters; cp932 and gbk map some characters Windows refuses, or
map them otherwise). `_amendments.AMENDMENTS` lists, per code page, every byte sequence
and every character where the codec's answer is not Windows'; it is applied over the codec.
"""

import codecs
import re
import threading

from ._amendments import AMENDMENTS
from ._errors import STATUS_NOT_IN_CODE_PAGE, CorvaneError

# Code pages whose Python codec has another name than cp<number>.
_CODEC_NAMES = {
    65001: "utf-8",
    20127: "ascii",
    28591: "latin-1",
    20932: "euc_jp",
    54936: "gb18030",
    51949: "euc_kr",
    20866: "koi8_r",
    21866: "koi8_u",
}
_CODEC_NAMES.update({28590 + n: "iso8859_%d" % n for n in range(2, 17) if n != 12})

# Lead bytes of the double-byte code pages: a lead byte and the byte after it are one
# character, whatever that byte is.
_LEAD_BYTES = {
    932: b"\x81-\x9f\xe0-\xfc",
    936: b"\x81-\xfe",
    949: b"\x81-\xfe",
    950: b"\x81-\xfe",
}


class _CodePage:
    def __init__(self, number):
        name = _CODEC_NAMES.get(number, "cp%d" % number)
        try:
            self.codec = codecs.lookup(name)
        except LookupError:
            raise ValueError("code page %d is not supported by this Python" % number) from None
        self.number = number
        amendments = AMENDMENTS.get(number, {})
        self.decode_amendments = {bytes.fromhex(seq): cp for seq, cp in amendments.get("decode", ())}
        self.encode_amendments = {
            chr(cp): (None if seq is None else bytes.fromhex(seq)) for cp, seq in amendments.get("encode", ())
        }
        self.single_byte = False
        self.decoding_table = self.encoding_map = None
        if number not in _LEAD_BYTES and number != 65001 and self._is_single_byte():
            self._build_single_byte_tables()
        self.token = None
        if number in _LEAD_BYTES:
            lead = _LEAD_BYTES[number]
            self.token = re.compile(b"[" + lead + b"][\\x00-\\xff]?|[\\x00-\\xff]")
        self.amended_characters = None
        if self.encode_amendments:
            self.amended_characters = re.compile(
                "[" + "".join(re.escape(c) for c in sorted(self.encode_amendments)) + "]"
            )

    def _is_single_byte(self):
        try:
            return all(len(self.codec.decode(bytes([b]))[0]) <= 1 for b in range(256)) and len(
                self.codec.encode("A")[0]
            ) == 1
        except UnicodeError:
            return True

    def _build_single_byte_tables(self):
        # A 256-character decoding table with the amendments merged: charmap_decode and a
        # charmap_build encoding map then convert whole texts at C speed.
        table = []
        for b in range(256):
            key = bytes([b])
            if key in self.decode_amendments:
                cp = self.decode_amendments[key]
                table.append("\ufffe" if cp is None else chr(cp))
                continue
            try:
                text = self.codec.decode(key)[0]
            except UnicodeError:
                text = ""
            table.append(text if len(text) == 1 else "\ufffe")
        self.decoding_table = "".join(table)
        self.single_byte = True
        self.encoding_map = codecs.charmap_build(self.decoding_table)

    def encode(self, text):
        try:
            if self.single_byte and not self.encode_amendments:
                return codecs.charmap_encode(text, "strict", self.encoding_map)[0]
            if self.amended_characters is None or not self.amended_characters.search(text):
                return self._encode_base(text)
            out = []
            start = 0
            for match in self.amended_characters.finditer(text):
                out.append(self._encode_base(text[start : match.start()]))
                seq = self.encode_amendments[match.group()]
                if seq is None:
                    raise UnicodeError
                out.append(seq)
                start = match.end()
            out.append(self._encode_base(text[start:]))
            return b"".join(out)
        except UnicodeError:
            raise CorvaneError(STATUS_NOT_IN_CODE_PAGE, "text not representable in code page %d" % self.number) from None

    def _encode_base(self, text):
        if self.single_byte:
            return codecs.charmap_encode(text, "strict", self.encoding_map)[0]
        return self.codec.encode(text, "strict")[0]

    def decode(self, data):
        try:
            if self.single_byte:
                return codecs.charmap_decode(data, "strict", self.decoding_table)[0]
            if self.token is None or not self.decode_amendments:
                return self.codec.decode(data, "strict")[0]
            out = []
            run = []
            for token in self.token.findall(data):
                if token in self.decode_amendments:
                    out.append(self.codec.decode(b"".join(run), "strict")[0])
                    run = []
                    cp = self.decode_amendments[token]
                    if cp is None:
                        raise UnicodeError
                    out.append(chr(cp))
                else:
                    run.append(token)
            out.append(self.codec.decode(b"".join(run), "strict")[0])
            return "".join(out)
        except UnicodeError:
            raise CorvaneError(STATUS_NOT_IN_CODE_PAGE, "bytes that are not valid text in code page %d" % self.number) from None


_cache = {}
_cache_lock = threading.Lock()


def code_page(number):
    """The converter of a Windows code page by number (1252, 932, 936, 65001 ...)."""
    if isinstance(number, bool) or not isinstance(number, int):
        raise TypeError("the code page is a number, such as 1252")
    with _cache_lock:
        converter = _cache.get(number)
        if converter is None:
            converter = _cache[number] = _CodePage(number)
        return converter


def encode(text, number):
    return code_page(number).encode(text)


def decode(data, number):
    return code_page(number).decode(bytes(data))
