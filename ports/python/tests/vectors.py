"""The conformance vectors: every JSON file named by CORVANE_VECTORS (':'-separated files
or folders), else every JSON file of the tree's conformance/ folder."""

import json
import os
import pathlib

TREE = pathlib.Path(__file__).resolve().parents[3]


def vector_files():
    named = os.environ.get("CORVANE_VECTORS")
    roots = [pathlib.Path(p) for p in named.split(":") if p] if named else [TREE / "conformance"]
    files = []
    for root in roots:
        if root.is_dir():
            files.extend(sorted(root.rglob("*.json")))
        elif root.is_file():
            files.append(root)
        elif named:
            raise FileNotFoundError("CORVANE_VECTORS names %s, which does not exist" % root)
    if not files:
        raise FileNotFoundError("no conformance vectors: set CORVANE_VECTORS or add the tree's conformance/ folder")
    return files


def load():
    documents = []
    for path in vector_files():
        with open(path, encoding="utf-8") as handle:
            documents.append((path, json.load(handle)))
    return documents


DOCUMENTS = load()


def cases(field):
    """Every entry of `field` over all vector files, as (id, case) pairs."""
    found = []
    for path, document in DOCUMENTS:
        if isinstance(document, dict):
            for index, case in enumerate(document.get(field) or ()):
                found.append(pytest_param(path, index, case))
    return found


def pytest_param(path, index, case):
    import pytest

    return pytest.param(case, id="%s[%d]" % (path.name, index))
