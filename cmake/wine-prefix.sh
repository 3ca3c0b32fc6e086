#!/bin/sh
# Creates (once) and starts, or stops, the private Wine prefix of a build tree.
#   wine-prefix.sh setup WINE_DIR [KEEPER [--x86]]
#       make the prefix and locale if missing, start its server and services, and KEEPER
#       (a built wine_desktop_keeper.exe; --x86: a 32-bit one) to hold its desktop open
#   wine-prefix.sh cleanup WINE_DIR
#       stop that prefix's server and every program in it
# The prefix is a 64-bit one with its 32-bit half (syswow64) filled when the 32-bit Wine
# is installed, so x64 and x86 programs both run in it.
set -e
action=$1
wine_dir=$2
keeper=$3
keeper_loader=/usr/lib/wine/wine64
[ "$4" = "--x86" ] && keeper_loader=/usr/lib/wine/wine
[ -n "$wine_dir" ] || { echo "usage: $0 setup WINE_DIR [KEEPER [--x86]] | cleanup WINE_DIR" >&2; exit 2; }
mkdir -p "$wine_dir"
wine_dir=$(cd "$wine_dir" && pwd)
export WINEPREFIX="$wine_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8

case "$action" in
  setup)
    # The locales that give Wine the ANSI code pages 932 and 936.
    for locale in ja_JP zh_CN; do
      if [ ! -d "$wine_dir/locale/$locale.UTF-8" ]; then
        mkdir -p "$wine_dir/locale"
        # localedef warns about nothing we care for; its status 1 means warnings only.
        localedef -i $locale -f UTF-8 "$wine_dir/locale/$locale.UTF-8" >/dev/null 2>&1 || [ $? -eq 1 ]
      fi
    done
    # A prefix made before the 32-bit Wine was installed has an empty syswow64: x86
    # programs would find no system DLLs there. It is made anew.
    stale() {
      [ -f "$1/system.reg" ] && [ -x /usr/lib/wine/wine ] &&
        [ ! -f "$1/drive_c/windows/syswow64/kernel32.dll" ]
    }
    if stale "$WINEPREFIX"; then
      wineserver -k </dev/null >/dev/null 2>&1 || true
      rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      # Making a prefix takes 15 to 30 s of work; every prefix of the build folder is a
      # copy of one made once, beside the build trees (build/wine-template). The lock
      # keeps two setups that run at once from making it twice.
      template=$(cd "$wine_dir/../.." && pwd)/wine-template
      mkdir -p "$template"
      (
        flock 9
        if stale "$template/prefix"; then rm -rf "$template/prefix"; fi
        if [ ! -f "$template/prefix/system.reg" ]; then
          WINEPREFIX="$template/prefix" /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
          # The registry reaches the files only when the template's server has exited.
          WINEPREFIX="$template/prefix" wineserver -w </dev/null >/dev/null 2>&1 || true
        fi
      ) 9>"$template/lock"
      cp -a "$template/prefix" "$WINEPREFIX"
    fi
    # A persistent server spares every later Wine process a start-up of seconds.
    # Status 2 means one already runs for this prefix.
    wineserver -p </dev/null >/dev/null 2>&1 || [ $? -eq 2 ]
    # Start the prefix's services now, with their streams on /dev/null: started by a
    # test instead, they would inherit the test's output pipe and ctest would wait for
    # them to exit.
    /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
    # Without a program on the desktop, Wine closes it a second after each program ends,
    # and every later COM program would start (and wait for) a desktop of its own.
    if [ -n "$keeper" ]; then
      "$keeper_loader" "$keeper" </dev/null >/dev/null 2>&1 &
    fi
    exit 0
    ;;
  cleanup)
    # Status 1 means no server ran for this prefix.
    wineserver -k </dev/null >/dev/null 2>&1 || [ $? -eq 1 ]
    exit 0
    ;;
  *)
    echo "usage: $0 setup WINE_DIR [KEEPER [--x86]] | cleanup WINE_DIR" >&2
    exit 2
    ;;
esac
