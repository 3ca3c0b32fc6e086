"""Every conformance vector, through the package's public functions."""

import io
import pathlib

import pytest

import corvane
from vectors import cases


def expected_plaintext(text):
    # deCrypt returns the text up to its first zero character.
    return text.split("\0", 1)[0]


@pytest.mark.parametrize("case", cases("textCases"))
def test_text_case(case):
    key, text, code_page = case["key"], case["text"], case["codePage"]
    if case["status"] == 0:
        assert corvane.encrypt_text(key, text, code_page) == case["base64"]
        assert corvane.decrypt_text(key, case["base64"], code_page) == expected_plaintext(text)
    else:
        with pytest.raises(corvane.CorvaneError) as failure:
            corvane.encrypt_text(key, text, code_page)
        assert failure.value.status == case["status"]


@pytest.mark.parametrize("case", cases("fileCases"))
def test_file_case_streams(case):
    plain, bf = bytes.fromhex(case["plainHex"]), bytes.fromhex(case["bfHex"])
    encrypted = io.BytesIO()
    assert corvane.encrypt_stream(case["key"], io.BytesIO(plain), encrypted, case["codePage"]) == len(plain)
    assert encrypted.getvalue() == bf
    decrypted = io.BytesIO()
    assert corvane.decrypt_stream(case["key"], io.BytesIO(bf), decrypted, case["codePage"]) == len(plain)
    assert decrypted.getvalue() == plain


@pytest.mark.parametrize("case", cases("fileCases"))
def test_file_case_files(case, tmp_path):
    plain, bf = bytes.fromhex(case["plainHex"]), bytes.fromhex(case["bfHex"])
    source = tmp_path / "data.bin"
    source.write_bytes(plain)
    assert corvane.encrypt_file(case["key"], source, code_page=case["codePage"]) == str(source) + ".bf"
    assert pathlib.Path(str(source) + ".bf").read_bytes() == bf
    restored = tmp_path / "restored.bin"
    corvane.decrypt_file(case["key"], str(source) + ".bf", restored, case["codePage"])
    assert restored.read_bytes() == plain


@pytest.mark.parametrize("case", cases("decryptCases"))
def test_decrypt_case(case):
    if case["status"] == 0:
        assert corvane.decrypt_text(case["key"], case["base64"], case["codePage"]) == case["text"]
    else:
        with pytest.raises(corvane.CorvaneError) as failure:
            corvane.decrypt_text(case["key"], case["base64"], case["codePage"])
        assert failure.value.status == case["status"]


@pytest.mark.parametrize("case", cases("bfCases"))
def test_bf_case(case, tmp_path):
    # FileDeCrypt of a .bf file of any shape: short, exact, too long, partial blocks.
    bf = tmp_path / "data.bf"
    bf.write_bytes(bytes.fromhex(case["bfHex"]))
    output = tmp_path / "data.out"
    if case["status"] == 0:
        corvane.decrypt_file(case["key"], bf, output, case["codePage"])
        assert output.read_bytes().hex() == case["plainHex"]
        assert output.stat().st_size == case["writtenLength"]
    else:
        with pytest.raises(corvane.CorvaneError) as failure:
            corvane.decrypt_file(case["key"], bf, output, case["codePage"])
        assert failure.value.status == case["status"]
        assert not output.exists()
        assert sorted(p.name for p in tmp_path.iterdir()) == ["data.bf"]


def lcg_bytes(seed, length):
    """The content of a large file case: the top byte of each new state of a 32-bit LCG."""
    out = bytearray(length)
    state = seed
    for i in range(length):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = state >> 24
    return bytes(out)


class Digest(io.RawIOBase):
    """A write-only stream that keeps only the SHA-256 and the length of what it is given."""

    def __init__(self):
        import hashlib

        self.hash, self.length = hashlib.sha256(), 0

    def writable(self):
        return True

    def write(self, data):
        self.hash.update(data)
        self.length += len(data)
        return len(data)


@pytest.mark.parametrize("case", cases("largeFileCases"))
def test_large_file_case(case):
    plain = lcg_bytes(case["seed"], case["length"])
    digest = Digest()
    corvane.encrypt_stream(case["key"], io.BytesIO(plain), digest, case["codePage"])
    assert (digest.length, digest.hash.hexdigest()) == (case["bfLength"], case["bfSha256"])
    if case["length"] < 1 << 20:  # the way back once, at a size that crosses chunks
        bf = io.BytesIO()
        corvane.encrypt_stream(case["key"], io.BytesIO(plain), bf, case["codePage"])
        bf.seek(0)
        out = io.BytesIO()
        corvane.decrypt_stream(case["key"], bf, out, case["codePage"])
        assert out.getvalue() == plain
