"""The package's behaviour beyond the vectors: errors with their statuses, streams and files."""

import io
import os

import pytest

import corvane

KEY = "my secret key"


def status_of(call, *args, **kwargs):
    with pytest.raises(corvane.CorvaneError) as failure:
        call(*args, **kwargs)
    return failure.value.status


class OneWay(io.RawIOBase):
    """A pipe: readable or writable, never seekable."""

    def __init__(self, data=b""):
        self.data, self.out = io.BytesIO(data), bytearray()

    def readable(self):
        return True

    def writable(self):
        return True

    def readinto(self, buffer):
        chunk = self.data.read(len(buffer))
        buffer[: len(chunk)] = chunk
        return len(chunk)

    def write(self, data):
        self.out += data
        return len(data)


def test_block_convention_and_key_schedule():
    # The all-zero key and block give the published vector with each half byte-reversed.
    assert corvane.Blowfish(bytes(8)).encrypt(bytes(8)).hex() == "4597f94e78dd9861"
    assert corvane.encrypt_text("TESTKEY", "sixteen bytes!!!") == "BabcR7BJSc/uwpdNtHZBAg=="
    long_key = bytes(range(1, 81))
    assert corvane.Blowfish(long_key).encrypt(b"x") == corvane.Blowfish(long_key[:72]).encrypt(b"x")
    assert corvane.Blowfish(b"a").encrypt(b"block") == corvane.Blowfish(b"aaaa").encrypt(b"block")


@pytest.mark.parametrize(
    "key, status",
    [("", -200), ("\0abc", -200), ("日本", -200), (b"", -200), (12, None)],
)
def test_keys_that_fail(key, status):
    if status is None:
        with pytest.raises(TypeError):
            corvane.encrypt_text(key, "text")
    else:
        assert status_of(corvane.encrypt_text, key, "text") == status
        assert status_of(corvane.decrypt_text, key, "AAAAAAAAAAA=") == status
        assert status_of(corvane.encrypt_stream, key, io.BytesIO(b"x"), io.BytesIO()) == status


def test_key_ends_at_its_first_zero_character():
    assert corvane.encrypt_text("abc\0def", "t") == corvane.encrypt_text("abc", "t") == corvane.encrypt_text(b"abc\0x", "t")


@pytest.mark.parametrize(
    "base64_text, code_page, status",
    [
        ("****", 1252, -107),
        ("AAAAAAAAAA=", 1252, -107),  # not whole groups of four
        ("AAAAAAAAAAA==", 1252, -107),
        ("A===", 1252, -107),
        ("AA==AA==", 1252, -107),
        ("AAAA====", 1252, -107),
        ("AAAAAAAAAAA=\u00e9", 1252, -107),  # a character of the code page outside the alphabet
        ("AAAAAAAAAAA=\u65e5", 1252, -102),  # one the code page cannot hold: refused before Base64
        ("AAAAAAAAAAA=\u65e5", 932, -107),
    ],
)
def test_malformed_base64(base64_text, code_page, status):
    assert status_of(corvane.decrypt_text, KEY, base64_text, code_page) == status


def test_base64_white_space_and_partial_blocks():
    secret = corvane.encrypt_text(KEY, "Meet me at noon.")
    spaced = " \t".join(secret[i : i + 3] for i in range(0, len(secret), 3)) + "\r\n\v\f"
    assert corvane.decrypt_text(KEY, spaced) == "Meet me at noon."
    # 5 bytes of ciphertext: the block is completed with zero bytes and deciphered whole.
    block = corvane.Blowfish(KEY.encode()).decrypt(bytes([1, 2, 3, 4, 5]))
    assert len(block) == 8 and block == corvane.Blowfish(KEY.encode()).decrypt(bytes([1, 2, 3, 4, 5, 0, 0, 0]))
    assert corvane.decrypt_text(KEY, "") == "" and corvane.encrypt_text(KEY, "") == ""


def test_texts_end_at_their_first_zero_and_lose_trailing_zeros():
    assert corvane.decrypt_text(KEY, corvane.encrypt_text(KEY, "before\0after")) == "before"
    assert corvane.decrypt_text(KEY, corvane.encrypt_text(KEY, "12345678", 932), 932) == "12345678"


def test_strict_code_pages():
    assert status_of(corvane.encrypt_text, KEY, "\u20ac \u65e5", 1252) == -102
    assert status_of(corvane.encrypt_text, KEY, "\ud800", 65001) == -102
    assert corvane.encode_text("\u0081\u20ac", 1252) == b"\x81\x80"
    assert status_of(corvane.encode_text, "\u00a5", 932) == -102  # glibc writes '\' by a best fit
    assert corvane.encode_text("\u2170", 932) == b"\xfa\x40"  # Python's codec writes EEEF
    # A text cut at a zero byte inside a double-byte character is no valid text.
    assert status_of(corvane.decode_text, b"\x93", 932) == -102
    with pytest.raises(ValueError):
        corvane.encode_text("x", 99999)


@pytest.mark.parametrize("size", [0, 1, 7, 8, 9, 65535, 65536, 65537, 200003])
def test_streams_of_every_shape(size):
    plain = os.urandom(size)
    reference = io.BytesIO()
    corvane.encrypt_stream(KEY, io.BytesIO(plain), reference)
    bf = reference.getvalue()
    assert len(bf) == 4 + (size + 7) // 8 * 8 and bf[:4] == size.to_bytes(4, "little")
    pipe = OneWay(plain)  # neither side seekable: the ciphertext waits in a temporary file
    assert corvane.encrypt_stream(KEY, pipe, pipe) == size and bytes(pipe.out) == bf
    seekable_target = io.BytesIO()  # the header is written last
    assert corvane.encrypt_stream(KEY, OneWay(plain), seekable_target) == size and seekable_target.getvalue() == bf
    out = OneWay(bf)
    assert corvane.decrypt_stream(KEY, out, out) == size and bytes(out.out) == plain


def test_stream_with_a_length_that_is_wrong():
    assert status_of(corvane.encrypt_stream, KEY, OneWay(b"12345"), io.BytesIO(), length=4) == -105
    assert status_of(corvane.encrypt_stream, KEY, OneWay(b"12345"), io.BytesIO(), length=6) == -105
    assert status_of(corvane.encrypt_stream, KEY, OneWay(b""), io.BytesIO(), length=2**31) == -105


@pytest.mark.parametrize("length, header", [(2**31, b"\x00\x00\x00\x80"), (2**32 - 1, b"\xff\xff\xff\xff"), (2**32, b"")])
def test_lengths_up_to_4_gib_minus_1_fit_the_header(length, header):
    # An accepted length has its header written before the (empty) source falls short of it;
    # 4 GiB is refused before anything is written.
    target = io.BytesIO()
    assert status_of(corvane.encrypt_stream, KEY, OneWay(b""), target, length=length) == -105
    assert target.getvalue() == header
    assert corvane.MAX_FILE_PLAINTEXT == 2**32 - 1


def test_a_file_of_4_gib_is_refused_before_it_is_read(tmp_path):
    source = tmp_path / "huge"
    with open(source, "wb") as f:
        f.truncate(2**32)  # sparse: nothing is stored
    assert status_of(corvane.encrypt_file, KEY, source) == -105
    assert sorted(p.name for p in tmp_path.iterdir()) == ["huge"]


@pytest.mark.parametrize(
    "bf, status, written_by_a_pipe",
    [
        (b"", -202, 0),
        (b"\x01\x00\x00", -202, 0),
        (b"\x09\x00\x00\x00" + bytes(8), -202, 8),  # one block where two are stated
        (b"\x00\x00\x00\x80" + bytes(16), -202, 16),
        (b"\xff\xff\xff\xff", -202, 0),
    ],
)
def test_short_encrypted_streams(bf, status, written_by_a_pipe):
    target = io.BytesIO()
    with pytest.raises(corvane.CorvaneError) as failure:
        corvane.decrypt_stream(KEY, io.BytesIO(bf), target)
    assert failure.value.status == status and target.getvalue() == b""  # size checked first
    pipe = OneWay(bf)
    with pytest.raises(corvane.CorvaneError) as failure:
        corvane.decrypt_stream(KEY, pipe, pipe)
    assert failure.value.status == status and failure.value.written == written_by_a_pipe == len(pipe.out)


def test_long_and_partial_encrypted_streams():
    bf = io.BytesIO()
    corvane.encrypt_stream(KEY, io.BytesIO(b"abc"), bf)
    out = io.BytesIO()
    # A header stating fewer bytes than follow writes only that many.
    corvane.decrypt_stream(KEY, io.BytesIO(b"\x02\x00\x00\x00" + bf.getvalue()[4:] + bytes(8)), out)
    assert out.getvalue() == b"ab"
    # A ciphertext of 5 bytes: its block completed with zeros, 3 bytes stated.
    out = io.BytesIO()
    corvane.decrypt_stream(KEY, io.BytesIO(b"\x03\x00\x00\x00" + bytes(5)), out)
    assert out.getvalue() == corvane.Blowfish(KEY.encode()).decrypt(bytes(8))[:3]


def test_files(tmp_path):
    source = tmp_path / "a.txt"
    source.write_bytes(b"Quarterly figures: 12, 17, 23.")
    assert corvane.encrypt_file(KEY, source) == str(tmp_path / "a.txt.bf")
    assert (tmp_path / "a.txt.bf").stat().st_size == 36
    # FileDeCrypt's rule: the output is the input path with .bf appended.
    assert corvane.decrypt_file(KEY, tmp_path / "a.txt.bf") == str(tmp_path / "a.txt.bf.bf")
    assert (tmp_path / "a.txt.bf.bf").read_bytes() == source.read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["a.txt", "a.txt.bf", "a.txt.bf.bf"]  # no temporary left


def test_file_failures_leave_files_alone(tmp_path):
    assert status_of(corvane.encrypt_file, KEY, tmp_path / "missing") == -104
    assert status_of(corvane.encrypt_file, KEY, tmp_path) == -104
    short = tmp_path / "short.bf"
    short.write_bytes(b"\x64\x00\x00\x00" + bytes(16))
    existing = tmp_path / "existing"
    existing.write_bytes(b"keep me")
    assert status_of(corvane.decrypt_file, KEY, short, existing) == -202
    assert existing.read_bytes() == b"keep me"
    assert status_of(corvane.decrypt_file, KEY, short, tmp_path) == -106
    assert status_of(corvane.encrypt_file, KEY, existing, existing) == -106
    assert existing.read_bytes() == b"keep me"
    assert status_of(corvane.encrypt_file, "", existing) == -200
    assert status_of(corvane.encrypt_file, KEY, existing, tmp_path / "no-folder" / "x.bf") == -106
    assert sorted(p.name for p in tmp_path.iterdir()) == ["existing", "short.bf"]


def test_the_copy_under_test():
    # CORVANE_TEST_INSTALLED: the installed package, never the tree's source.
    source = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "src")
    installed = not os.path.abspath(corvane.__file__).startswith(source + os.sep)
    assert installed == bool(os.environ.get("CORVANE_TEST_INSTALLED"))
