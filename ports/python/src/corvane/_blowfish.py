"""Blowfish with Corvane's block convention: each 8-byte block is two little-endian 32-bit
words, L = bytes 0..3 and R = bytes 4..7 (the published algorithm reads them big-endian).
ECB: every block on its own, the last one completed with zero bytes."""

import struct

from ._errors import STATUS_NO_KEY, CorvaneError
from ._tables import P_ARRAY, S_BOXES

BLOCK_SIZE = 8
_MASK = 0xFFFFFFFF


def _round_source(left, right, subkey):
    # One Feistel round: left ^= P[k]; right ^= F(left). Carries above bit 31 never reach
    # the low 32 bits, so one mask at the end of F is enough.
    return (
        "    {l} ^= p{k}\n"
        "    {r} ^= ((((s0[{l} >> 24] + s1[({l} >> 16) & 255]) ^ s2[({l} >> 8) & 255]) + s3[{l} & 255]) & 0xFFFFFFFF)\n"
    ).format(l=left, r=right, k=subkey)


def _make_block_loop(order):
    """The loop over a run of words with the 16 rounds written out: CPython spends most of
    its time on loop overhead and name look-ups, which this avoids."""
    lines = [
        "def run(words, p, s0, s1, s2, s3):\n",
        "    p0, p1, p2, p3, p4, p5, p6, p7, p8, p9, p10, p11, p12, p13, p14, p15, p16, p17 = p\n",
        "    out = []\n",
        "    append = out.append\n",
        "    it = iter(words)\n",
        "    for l, r in zip(it, it):\n",
    ]
    body = []
    for i, k in enumerate(order[:16]):
        body.append(_round_source("l", "r", k) if i % 2 == 0 else _round_source("r", "l", k))
    lines += ["    " + line + "\n" for chunk in body for line in chunk.splitlines()]
    lines.append("        append(r ^ p%d)\n" % order[17])
    lines.append("        append(l ^ p%d)\n" % order[16])
    lines.append("    return out\n")
    namespace = {}
    exec("".join(lines), namespace)  # noqa: S102 - generated from the constant text above
    return namespace["run"]


def _make_pair_encipher():
    """Enciphers one pair (the key schedule's 521 encipherments): the rounds of the block
    loop without the loop, the list and the packing."""
    lines = ["def pair(l, r, p, s0, s1, s2, s3):\n"]
    for i in range(16):
        lines.append(_round_source("l", "r", "[%d]" % i) if i % 2 == 0 else _round_source("r", "l", "[%d]" % i))
    lines.append("    return r ^ p[17], l ^ p[16]\n")
    namespace = {}
    exec("".join(lines), namespace)  # noqa: S102 - generated from the constant text above
    return namespace["pair"]


# Encipher uses P[0..15] in the rounds, then R ^= P[16], L ^= P[17]; after the undone last
# swap the output pair is (L, R) = (r ^ P[17], l ^ P[16]) in the loop's names.
_encipher_words = _make_block_loop(list(range(16)) + [16, 17])
_decipher_words = _make_block_loop(list(range(17, 1, -1)) + [1, 0])
_encipher_pair = _make_pair_encipher()


class Blowfish:
    """One expanded key. `key` is bytes (1 or more; at most the first 72 count)."""

    def __init__(self, key):
        key = bytes(key)
        if not key:
            raise CorvaneError(STATUS_NO_KEY, "an empty key")
        n = len(key)
        p = list(P_ARRAY)
        # The key is consumed cyclically, most significant byte first.
        cyclic = (key * (72 // n + 1))[:72]
        for k, word in enumerate(struct.unpack(">18I", cyclic)):
            p[k] ^= word
        s = list(S_BOXES)
        self._p, self._s = p, [s[0:256], s[256:512], s[512:768], s[768:1024]]
        # 521 encipherments, each of the previous result, replace the tables in order.
        l = r = 0
        for k in range(0, 18, 2):
            l, r = self._encipher_pair(l, r)
            p[k], p[k + 1] = l, r
        for box in self._s:
            for k in range(0, 256, 2):
                l, r = self._encipher_pair(l, r)
                box[k], box[k + 1] = l, r

    def _encipher_pair(self, l, r):
        s0, s1, s2, s3 = self._s
        return _encipher_pair(l, r, self._p, s0, s1, s2, s3)

    def encrypt(self, data):
        """Enciphers `data`, zero-padded to whole blocks (as Encode): len rounded up to 8."""
        data = bytes(data)
        rest = len(data) % BLOCK_SIZE
        if rest:
            data += bytes(BLOCK_SIZE - rest)
        return self._run(_encipher_words, data)

    def decrypt(self, data):
        """Deciphers every block of `data` (as Decode); a partial last block is completed
        with zero bytes, so the result is len rounded up to 8. No padding is removed."""
        data = bytes(data)
        rest = len(data) % BLOCK_SIZE
        if rest:
            data += bytes(BLOCK_SIZE - rest)
        return self._run(_decipher_words, data)

    def _run(self, loop, data):
        if not data:
            return b""
        count = len(data) // 4
        s0, s1, s2, s3 = self._s
        words = loop(struct.unpack("<%dI" % count, data), self._p, s0, s1, s2, s3)
        return struct.pack("<%dI" % count, *words)

    def wipe(self):
        """Overwrites the expanded key; the object cannot be used afterwards."""
        self._p[:] = [0] * 18
        for box in self._s:
            box[:] = [0] * 256
