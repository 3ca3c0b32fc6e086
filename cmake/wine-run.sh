#!/bin/sh
# Runs a Windows program under Wine in a build tree's private prefix.
#   wine-run.sh [--x86] WINE_DIR PROGRAM [ARGS...]
# Without --x86 the 64-bit loader runs it (x64 programs; system programs such as cscript
# and regsvr32 from system32); with --x86 the 32-bit loader (x86 programs; cscript and
# regsvr32 from syswow64, registering in the 32-bit view of the registry).
# WINE_DIR holds the prefix ("prefix") and compiled Japanese and Chinese locales ("locale").
# WINE_CODEPAGE chooses the ANSI code page of the process: 1252 (default), 932 or 936.
loader=/usr/lib/wine/wine64
if [ "$1" = "--x86" ]; then
  loader=/usr/lib/wine/wine
  shift
fi
wine_dir=$(cd "$1" && pwd) || exit 125
shift
export WINEPREFIX="$wine_dir/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
case "${WINE_CODEPAGE:-1252}" in
  932)
    export LOCPATH="$wine_dir/locale" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 ;;
  936)
    export LOCPATH="$wine_dir/locale" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 ;;
  1252)
    # Wine gives C.UTF-8 code page 1252; its UTF-8 character set lets file names
    # beyond ASCII reach the Linux file system.
    unset LOCPATH
    export LANG=C.UTF-8 LC_ALL=C.UTF-8 ;;
  *)
    echo "wine-run.sh: unsupported WINE_CODEPAGE '$WINE_CODEPAGE'" >&2
    exit 125 ;;
esac
exec "$loader" "$@"
