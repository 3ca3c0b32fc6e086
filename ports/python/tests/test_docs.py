"""The Python examples of docs/migrating.md, each run in a fresh folder: it must finish, and
every `print(...)  # text` must have printed that text."""

import contextlib
import io
import os
import re

import pytest

from vectors import TREE

DOC = TREE / "docs" / "migrating.md"


def examples():
    text = DOC.read_text(encoding="utf-8")
    section = re.search(r"^## Python\n(.*?)(?=^## |\Z)", text, re.S | re.M)
    assert section, "docs/migrating.md has no Python section"
    blocks = re.findall(r"^```python\n(.*?)^```", section.group(1), re.S | re.M)
    assert blocks, "the Python section has no examples"
    return [pytest.param(block, id="example%d" % (i + 1)) for i, block in enumerate(blocks)]


@pytest.mark.parametrize("code", examples())
def test_example(code, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        exec(compile(code, str(DOC), "exec"), {"__name__": "__main__"})  # noqa: S102
    expected = re.findall(r"^\s*print\(.*\)\s+#\s*(.+)$", code, re.M)
    for line in expected:
        assert line.strip() in printed.getvalue(), "%r not printed; printed:\n%s" % (line, printed.getvalue())
    assert os.getcwd() == str(tmp_path)
