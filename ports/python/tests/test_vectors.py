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
