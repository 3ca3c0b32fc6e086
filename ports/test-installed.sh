#!/usr/bin/env bash
# Builds both ports' packages with ports/build-packages.sh, installs each in a fresh folder
# and runs its tests against the installed copy: the wheel in a new virtual environment
# (with the system's site packages, for Debian's pytest), the sdist in a second one (pip
# builds it offline), the npm package with `npm install` of its .tgz into a new project,
# which also compiles a TypeScript user of it against the shipped declarations.
#   ports/test-installed.sh     (CORVANE_VECTORS as for the ports' own tests)
set -euo pipefail
ports=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python=/usr/bin/python3
[ -x "$python" ] || python=python3

"$ports/build-packages.sh" "$work/packages" >/dev/null
version=$(cat "$ports/../VERSION")

echo "--- Python: the wheel in a fresh virtual environment"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --quiet --no-index --no-deps "$work/packages/corvane-$version-py3-none-any.whl"
(cd "$work" && CORVANE_TEST_INSTALLED=1 PYTHONDONTWRITEBYTECODE=1 \
  "$work/venv/bin/python" -m pytest -q -p no:cacheprovider --rootdir "$ports/python" "$ports/python/tests")

echo "--- Python: the sdist, built and installed by pip offline"
"$python" -m venv --system-site-packages "$work/venv-sdist"
"$work/venv-sdist/bin/python" -m pip install --quiet --no-index --no-deps --no-build-isolation \
  "$work/packages/corvane-$version.tar.gz"
(cd "$work" && CORVANE_TEST_INSTALLED=1 PYTHONDONTWRITEBYTECODE=1 \
  "$work/venv-sdist/bin/python" -m pytest -q -p no:cacheprovider --rootdir "$ports/python" \
  "$ports/python/tests/test_docs.py" "$ports/python/tests/test_api.py")

echo "--- Node: npm install of the .tgz in a fresh project"
mkdir "$work/app"
(cd "$work/app" && npm init -y >/dev/null && \
  npm install --no-audit --no-fund --loglevel=error "$work/packages/corvane-$version.tgz")
CORVANE_NODE_PACKAGE="$work/app/node_modules/corvane" node --test "$ports/node/test/"
cat > "$work/app/check.ts" <<'TS'
import { CorvaneError, decryptText, encryptStream, encryptText } from 'corvane';
const secret: string = encryptText('my secret key', 'Meet me at noon.');
const text: string = decryptText('my secret key', secret, 1252);
const stream: NodeJS.ReadWriteStream = encryptStream('k', { length: 3, codePage: 932 });
const status = (error: unknown): number | undefined => (error instanceof CorvaneError ? error.status : undefined);
console.log(secret, text, stream.readable, status(undefined));
TS
(cd "$work/app" && "$ports/node/node_modules/.bin/tsc" --noEmit --strict --types node \
  --typeRoots "$ports/node/node_modules/@types" --moduleResolution node --module commonjs --target ES2020 check.ts)
echo "--- both packages installed and tested"
