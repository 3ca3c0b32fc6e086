#!/usr/bin/env bash
# Builds the two ports' packages into OUT: the Python wheel and sdist (corvane-<version>-
# py3-none-any.whl, corvane-<version>.tar.gz) and the npm package (corvane-<version>.tgz).
#   ports/build-packages.sh OUT
# Offline for Python (Debian's python3-build, setuptools and wheel, without isolation:
# there is no PyPI here); npm ci takes the Node package's build tools from the npm registry
# (or its cache) when node_modules is missing.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: ports/build-packages.sh OUT" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
ports=$(cd "$(dirname "$0")" && pwd)

# The Python build works on a copy, so that it leaves no build/ or egg-info in the tree.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$ports/python/pyproject.toml" "$ports/python/README.md" "$ports/python/LICENSE" "$ports/python/src" "$work/"
find "$work" -name __pycache__ -prune -exec rm -rf {} +
python=/usr/bin/python3
[ -x "$python" ] || python=python3
(cd "$work" && "$python" -m build --no-isolation --sdist --wheel --outdir "$out" . >"$work/build.log" 2>&1) \
  || { cat "$work/build.log" >&2; exit 1; }

cd "$ports/node"
if [ ! -d node_modules ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi
npm pack --silent --pack-destination "$out" >/dev/null
ls "$out"
