#!/usr/bin/env bash
# Builds the library with Mono's C# compiler and runs its NUnit tests against every
# conformance vector (the files CORVANE_VECTORS names, else the tree's conformance/), and
# the .NET examples of docs/migrating.md against their expected output.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${CORVANE_DOTNET_BUILD:-$root/build/dotnet}
rm -rf "$out"
mkdir -p "$out/generated"

# The generated sources must be those the tree's data gives.
python3 "$here/tools/generate_sources.py" "$out/generated"
for f in BlowfishTables.g.cs CodePageAmendments.g.cs; do
  if ! cmp -s "$out/generated/$f" "$here/src/$f"; then
    echo "FAIL: ports/dotnet/src/$f is not what tools/generate_sources.py makes of the tree's data; run it" >&2
    exit 1
  fi
done

nunit=/usr/lib/cli/nunit.framework-2.6.3/nunit.framework.dll
mcs -nologo -warnaserror -target:library -optimize+ -out:"$out/Corvane.Formats.dll" "$here"/src/*.cs
mcs -nologo -warnaserror -nowarn:0436 -target:library -out:"$out/Corvane.Formats.Tests.dll" \
  -r:"$out/Corvane.Formats.dll" -r:"$nunit" -r:System.Json.dll -r:System.Core.dll "$here"/tests/*.cs "$here"/tests/support/*.cs
cp "$nunit" "$out/"

# The examples: each prints what its .expected file holds.
for example in "$root"/examples/dotnet/*.cs; do
  name=$(basename "$example" .cs)
  # Mono's AesGcm only throws (.NET Core 3.0 and later have it): the tests' stand-in takes its place.
  mcs -nologo -warnaserror -nowarn:0436 -out:"$out/$name.exe" -r:"$out/Corvane.Formats.dll" "$example" "$here/tests/support/AesGcm.cs"
  actual=$(cd "$out" && mkdir -p "run-$name" && cd "run-$name" && MONO_PATH="$out" mono "$out/$name.exe")
  if [ "$actual" != "$(cat "$example.expected")" ]; then
    echo "FAIL: examples/dotnet/$name.cs printed:" >&2
    echo "$actual" >&2
    exit 1
  fi
  echo "example $name: output as expected"
done

# The runner works in the build folder: vector paths are made absolute first.
if [ -n "${CORVANE_VECTORS:-}" ]; then
  absolute=()
  IFS=: read -ra named <<<"$CORVANE_VECTORS"
  for path in "${named[@]}"; do [ -n "$path" ] && absolute+=("$(realpath "$path")"); done
  CORVANE_VECTORS=$(IFS=:; echo "${absolute[*]}")
  export CORVANE_VECTORS
fi
cd "$out"
CORVANE_SOURCE_DIR="$root" nunit-console -nologo -noshadow -labels "$out/Corvane.Formats.Tests.dll" -result="$out/TestResult.xml" \
  | grep -v '^\*\*\*\*\*'
