#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and nothing that is
# already there: a second run only checks and returns at once.
#   scripts/bootstrap.sh [extra ...]   extras: bench (OpenSSL, libgcrypt, gnuplot), fuzz (clang),
#                                      package (wixl, msitools, osslsigncode, openssl)
# The 32-bit Wine (package wine32 of the i386 architecture) runs the x86 build; it is
# installed only where the kernel runs 32-bit programs (scripts/probe-ia32.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=()
need_command() { command -v "$1" >/dev/null 2>&1 || packages+=("$2"); }
need_file() { [ -e "$1" ] || packages+=("$2"); }

need_command cmake cmake
need_command make make
need_command g++ g++
need_command python3 python3
need_command x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
need_command i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix
need_command x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
need_command i686-w64-mingw32-windres binutils-mingw-w64-i686
need_command x86_64-w64-mingw32-widl mingw-w64-tools
need_command i686-w64-mingw32-widl mingw-w64-tools
need_file /usr/lib/wine/wine64 wine64
need_file /usr/include/CLI/CLI.hpp libcli11-dev  # option parsing of the corvane tool, all builds
need_file /usr/src/googletest/CMakeLists.txt googletest
need_file /usr/share/i18n/locales/ja_JP locales
need_command localedef libc-bin
# The .NET library (ports/dotnet): Mono's C# compiler, its code pages and JSON, and NUnit.
need_command mcs mono-devel
need_file /usr/lib/mono/4.5/I18N.CJK.dll libmono-i18n4.0-all
need_file /usr/lib/mono/4.5/System.Json.dll libmono-system-json4.0-cil
need_command nunit-console nunit-console
need_file /usr/lib/cli/nunit.framework-2.6.3/nunit.framework.dll libnunit-framework2.6.3-cil
# The Python and Node ports (ports/): Debian's pytest, venv and an offline wheel and sdist
# build for Python; Node and npm (the Node port's packages come from the npm registry).
need_file /usr/lib/python3/dist-packages/pytest/__init__.py python3-pytest
need_file /usr/lib/python3/dist-packages/build/__init__.py python3-build
need_file /usr/lib/python3/dist-packages/setuptools/__init__.py python3-setuptools
need_file /usr/lib/python3/dist-packages/wheel/__init__.py python3-wheel
/usr/bin/python3 -c 'import ensurepip, venv' >/dev/null 2>&1 || packages+=(python3-venv)
need_command node nodejs
need_command npm npm

i386=no
if scripts/probe-ia32.sh; then
  i386=yes
  need_file /usr/lib/wine/wine wine32:i386
fi

for extra in "$@"; do
  case "$extra" in
    bench)
      need_file /usr/include/openssl/blowfish.h libssl-dev
      need_file /usr/include/gcrypt.h libgcrypt20-dev
      need_command gnuplot gnuplot-nox
      ;;
    fuzz)
      need_command clang clang
      need_file /usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a libclang-rt-14-dev
      ;;
    package)
      need_command wixl wixl
      need_command msibuild msitools
      need_command msiinfo msitools
      need_command osslsigncode osslsigncode
      need_command openssl openssl
      ;;
    *) echo "bootstrap.sh: unknown extra '$extra'" >&2; exit 2 ;;
  esac
done

if [ ${#packages[@]} -eq 0 ]; then
  exit 0
fi

mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sort -u)
echo "bootstrap: installing ${packages[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ "$i386" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${packages[@]}" >/dev/null
