#!/usr/bin/env bash
# The release is reproducible: the last commit, cloned into a second folder and built there
# (the presets win64 and win32, without a compiler cache, at another time), gives dist/
# byte for byte: the DLLs, EXEs, headers, the unsigned packages, the zip and SHA256SUMS.
# Names the first file that differs and the first offset where. Needs dist/ built from
# that commit (scripts/package.sh) and a working tree without changes to tracked files.
#   scripts/test-reproducible.sh [WORK_DIR]       (default build/repro)
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
work=$(realpath -m "${1:-build/repro}")
echo "=== reproducible build"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "SKIPPED: the working tree has changes to tracked files; dist/ is not the last commit's build"
  exit 0
fi
# dist/ as this commit builds it (the packages carry its time).
scripts/package.sh >/dev/null

rm -rf "$work" && mkdir -p "$work"
git clone --quiet --no-hardlinks . "$work/corvane"
(
  cd "$work/corvane"
  export CCACHE_DISABLE=1
  unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER
  for preset in win64 win32; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target Corvane TamselWrapper corvane corvane_dist_include tamsel_dist_include \
      >/dev/null
  done
  scripts/package.sh >/dev/null
)
python3 - dist "$work/corvane/dist" <<'PY'
import os, sys
first, second = sys.argv[1], sys.argv[2]

def files(top):
    return sorted(os.path.relpath(os.path.join(d, n), top) for d, _, names in os.walk(top) for n in names)

a, b = files(first), files(second)
if a != b:
    print(f"FAIL: the two dist/ folders hold different files: only in the first {sorted(set(a) - set(b))}, "
          f"only in the second {sorted(set(b) - set(a))}")
    sys.exit(1)
for name in a:
    x = open(os.path.join(first, name), "rb").read()
    y = open(os.path.join(second, name), "rb").read()
    if x != y:
        at = next((i for i in range(min(len(x), len(y))) if x[i] != y[i]), min(len(x), len(y)))
        print(f"FAIL: dist/{name} differs first at offset {at} (0x{at:x}); sizes {len(x)} and {len(y)}")
        sys.exit(1)
print(f"ok: the second build's dist/ is byte-identical ({len(a)} files)")
PY
echo "=== reproducible build checked in $(( $(date +%s) - started )) s"
