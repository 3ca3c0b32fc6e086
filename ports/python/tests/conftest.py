import pathlib
import sys

# The package from its source folder unless an installed copy is asked for.
import os

if not os.environ.get("CORVANE_TEST_INSTALLED"):
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "src"))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
