#!/usr/bin/env bash
# The split kernel compiled by the i686 compiler of the x86 build (its default -march,
# Release options) at several interleave widths, read back with objdump: instructions,
# stack accesses (spills and reloads; x86 code has 7 usable registers) and S-box loads,
# each per round of one block. Prints a Markdown table.
#   bench/x86_spills.sh [bmi]    "bmi" for the kernels compiled with -mbmi
set -euo pipefail
cd "$(dirname "$0")/.."
extra=()
bytes=ShiftMask
if [ "${1:-}" = bmi ]; then extra=(-mbmi); bytes=Bextr; fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo "| Width | Instructions | Stack accesses (stores) | S-box loads |"
echo "|---:|---:|---:|---:|"
for w in 1 2 3 4 6 8; do
  cat > "$tmp/k.cpp" <<CPP
#include "engine/blowfish_kernels.h"
namespace corvane {
void Split(const std::uint32_t* P, const std::uint32_t* S, const unsigned char* in, unsigned char* out,
           std::size_t groups) {
  kernels::SplitGroups<$w, false, kernels::$bytes>(P, S, in, out, groups);
}
}  // namespace corvane
CPP
  i686-w64-mingw32-g++-posix -O3 -DNDEBUG -std=c++17 -Wall -Wextra -Werror "${extra[@]}" -I. -c "$tmp/k.cpp" -o "$tmp/k.o"
  i686-w64-mingw32-objdump -d --no-show-raw-insn "$tmp/k.o" | awk -v w="$w" '
    /^ +[0-9a-f]+:/ {
      n++
      if ($0 ~ /\(%esp\)/) { stack++; if ($0 ~ /,(0x[0-9a-f]+)?\(%esp\)$/) stores++ }
      if ($0 ~ /,4\)/) sbox++
    }
    END { r = 16 * w; printf "| %d | %.1f | %.2f (%.2f) | %.2f |\n", w, n / r, stack / r, stores / r, sbox / r }'
done
