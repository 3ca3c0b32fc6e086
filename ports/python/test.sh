#!/usr/bin/env bash
# Runs the Python package's tests with Debian's pytest against every conformance vector:
# those named by CORVANE_VECTORS (':'-separated), else the tree's conformance/ folder.
# Debian's interpreter is used, where python3-pytest is installed, even when another
# python3 comes first in PATH. Nothing needs building: the tests import from src/.
set -euo pipefail
cd "$(dirname "$0")"
python=/usr/bin/python3
[ -x "$python" ] || python=python3
PYTHONDONTWRITEBYTECODE=1 "$python" -m pytest -q -p no:cacheprovider tests
