"""The code-page conversion against Windows' answers in the vectors: the table of points
where Windows differs from common open tables, and Windows' full tables where present."""

import pytest

import corvane
from corvane import _codepage
from vectors import DOCUMENTS


def windows_answer_decode(code_page, seq_hex):
    try:
        return ord(corvane.decode_text(bytes.fromhex(seq_hex), code_page))
    except corvane.CorvaneError as error:
        assert error.status == corvane.STATUS_NOT_IN_CODE_PAGE
        return None
    except TypeError:  # several characters
        return "several"


def windows_answer_encode(code_page, cp):
    try:
        return corvane.encode_text(chr(cp), code_page).hex().upper()
    except corvane.CorvaneError as error:
        assert error.status == corvane.STATUS_NOT_IN_CODE_PAGE
        return None


DIFFERENCE_TABLES = [
    pytest.param(entry, id="%s:%d" % (path.name, entry["codePage"]))
    for path, document in DOCUMENTS
    if isinstance(document, dict)
    for entry in document.get("codePages") or ()
]
FULL_TABLES = [
    pytest.param(document, id=path.name)
    for path, document in DOCUMENTS
    if isinstance(document, dict) and "codePage" in document and "decode" in document and "encode" in document
]


@pytest.mark.parametrize("entry", DIFFERENCE_TABLES)
def test_where_windows_differs(entry):
    code_page = entry["codePage"]
    wrong = [(seq, cp) for seq, cp in entry["decode"] if windows_answer_decode(code_page, seq) != cp]
    wrong += [(cp, seq) for cp, seq in entry["encode"] if windows_answer_encode(code_page, cp) != (seq and seq.upper())]
    assert wrong == []


@pytest.mark.parametrize("table", FULL_TABLES)
def test_full_table(table):
    code_page = table["codePage"]
    decode = {bytes.fromhex(seq): cp for seq, cp in table["decode"]}
    decode[b"\0"] = 0
    encode = {cp: seq.upper() for cp, seq in table["encode"]}
    encode[0] = "00"
    ranges = _codepage._LEAD_BYTES.get(code_page, b"")
    leads = {b for i in range(0, len(ranges), 3) for b in range(ranges[i], ranges[i + 2] + 1)}
    sequences = [bytes([b]) for b in range(256)] + [bytes([lead, trail]) for lead in sorted(leads) for trail in range(256)]
    wrong = [seq.hex() for seq in sequences if windows_answer_decode(code_page, seq.hex()) != decode.get(seq)]
    assert wrong == []
    wrong = [cp for cp in range(0x10000) if windows_answer_encode(code_page, cp) != encode.get(cp)]
    assert wrong == []
    # Whole texts convert as their characters do, amended ones among ordinary ones.
    characters = sorted(cp for cp in encode if cp)[::37]
    assert corvane.encode_text("".join(map(chr, characters)), code_page).hex().upper() == "".join(encode[cp] for cp in characters)
    sequences = sorted(seq for seq in decode if seq != b"\0")[::37]
    assert corvane.decode_text(b"".join(sequences), code_page) == "".join(chr(decode[seq]) for seq in sequences)
