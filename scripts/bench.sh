#!/usr/bin/env bash
# Runs the benchmarks and writes bench/results/: results.md (the machine and every
# table) and chart.png. Installs what is missing first (OpenSSL and libgcrypt -dev
# packages, gnuplot). The x86 parts need 32-bit Wine (wine32:i386).
#   scripts/bench.sh           a measurement (about 6 minutes on 2 cores)
#   scripts/bench.sh --quick   few repetitions: checks the harness, measures nothing
set -euo pipefail
cd "$(dirname "$0")/.."

quick=()
case "${1:-}" in
  "") ;;
  --quick) quick=(--quick) ;;
  *) echo "usage: scripts/bench.sh [--quick]" >&2; exit 2 ;;
esac

scripts/bootstrap.sh bench

out=bench/results
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
mkdir -p "$out"
for preset in bench-native bench-win64 bench-win32; do
  echo "=== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "=== engine beside OpenSSL and libgcrypt (native)"
build/bench-native/bench/engine_bench --out "$out" "${quick[@]}"

echo "=== split kernel widths on the 7-register x64 proxy (native)"
build/bench-native/bench/width_bench --dat "$out/widths_x86_proxy.dat" "${quick[@]}" > "$out/widths_x86_proxy.md"

echo "=== Corvane.dll x64 under Wine"
wine_dir=build/bench-win64/wine
data=build/bench-win64/data
mkdir -p "$data"
keeper=build/bench-win64/wine_desktop_keeper.exe
cmake/wine-prefix.sh setup "$wine_dir" "$keeper"
wine32_dir=build/bench-win32/wine
trap 'cmake/wine-prefix.sh cleanup "$wine_dir"; cmake/wine-prefix.sh cleanup "$wine32_dir"' EXIT
cmake/wine-run.sh "$wine_dir" build/bench-win64/bench/com_bench.exe \
  --data "Z:$(pwd)/$data" --out "Z:$(pwd)/$out" "${quick[@]}"

# The x86 programs run under the 32-bit loader in a WoW64 prefix of their own (made by
# wine64, so that its syswow64 is filled; the x64 keeper holds its desktop open).
echo "=== x86 under 32-bit Wine: split kernel widths, Corvane.dll x86"
data32=build/bench-win32/data
mkdir -p "$data32"
cmake/wine-prefix.sh setup "$wine32_dir" "$keeper"
run_x86() {
  WINEPREFIX="$(cd "$wine32_dir" && pwd)/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    LANG=C.UTF-8 LC_ALL=C.UTF-8 /usr/lib/wine/wine "$@"
}
run_x86 build/bench-win32/bench/width_bench.exe --dat "Z:$(pwd)/$out/widths_x86_wine.dat" "${quick[@]}" \
  | tr -d '\r' > "$out/widths_x86_wine.md"
run_x86 build/bench-win32/bench/com_bench.exe --data "Z:$(pwd)/$data32" --out "Z:$(pwd)/$out" "${quick[@]}"
bench/x86_widths.py "$out/widths_x86_wine.dat" "$out/widths_x86_proxy.dat" > "$out/x86_widths.md"

echo "=== the Python and Node ports beside the C++ engine"
bench/ports_bench.py --corvane build/bench-native/cli/corvane --out "$out" "${quick[@]}" >/dev/null

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo "=== x86 code of the split kernel (i686 compiler, objdump)"
bench/x86_spills.sh > "$out/x86_spills.md"
bench/x86_spills.sh bmi > "$out/x86_spills_bmi.md"

cpu_field() { grep -m1 "^$1" /proc/cpuinfo | sed 's/^[^:]*: *//'; }
{
  echo "# Benchmark results"
  echo
  echo "- Machine: $(cpu_field 'model name') (family $(cpu_field 'cpu family'), model $(cpu_field 'model'),"\
       "stepping $(cpu_field 'stepping')), $(nproc) logical CPUs, $(uname -s) $(uname -r)"
  echo "- Compilers: $(g++ --version | head -1); $(x86_64-w64-mingw32-g++-posix --version | head -1);"\
       "$(i686-w64-mingw32-g++-posix --version | head -1); $(/usr/lib/wine/wine64 --version)"
  echo "- Source: commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown)$(git diff --quiet HEAD -- . ':!bench/results' 2>/dev/null || echo ' (with local changes)'),"\
       "run $(date -u '+%Y-%m-%d %H:%M UTC')${quick:+, --quick (not a measurement)}"
  echo "- Load average (1, 5, 15 min) before the run: $load_before; after: $load_after (other jobs share the machine)"
  echo "- Reproduce: \`scripts/bench.sh\`"
  echo
  echo "## Engine (native x64), beside OpenSSL and libgcrypt"
  echo
  cat "$out/engine.md"
  echo
  echo "## Corvane.dll (x64 under Wine)"
  echo
  cat "$out/com.md"
  echo
  echo "## Corvane.dll (x86 under 32-bit Wine)"
  echo
  cat "$out/com_x86.md"
  echo
  echo "## The Python and Node ports"
  echo
  cat "$out/ports.md"
  echo
  echo "## Interleave widths and instruction sets (native, 1 MiB encode)"
  echo
  cat "$out/widths.md"
  echo
  echo "## x86: the split kernel's widths under 32-bit Wine, beside the 7-register proxy"
  echo
  cat "$out/x86_widths.md"
  echo
  echo "Under 32-bit Wine (bench-win32 width_bench.exe):"
  echo
  cat "$out/widths_x86_wine.md"
  echo
  echo "Proxy (bench-native width_bench):"
  echo
  cat "$out/widths_x86_proxy.md"
  echo
  echo "## The x86 build's split kernel as compiled (per round of one block)"
  echo
  echo "i686 compiler of the x86 build (default -march), -O3, read back with objdump by bench/x86_spills.sh."
  echo "Stack accesses are spills and reloads: 32-bit code has 7 usable registers."
  echo
  echo "Baseline:"
  echo
  cat "$out/x86_spills.md"
  echo
  echo "With BMI1:"
  echo
  cat "$out/x86_spills_bmi.md"
} > "$out/results.md"

gnuplot -e "dir='$out'; engine_columns=$(head -1 "$out/engine.dat" | awk -F'\t' '{print NF}')" bench/chart.gp
echo "=== wrote $out/results.md and $out/chart.png"
