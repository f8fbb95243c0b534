#!/bin/sh
# Runs a cross-built Windows program under Wine: wine-run.sh PREFIX EXE [ARGS...]
# Own prefix per build folder, quiet Wine, no Mono/Gecko prompts, and a
# virtual X display when there is none.
if [ -z "$DISPLAY" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
prefix=$(realpath -m "$1"); shift
exe=$1; shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"

case "$(file -b "$exe")" in
  PE32+*) loader=/usr/lib/wine/wine64 ;;
  PE32*)
    loader=/usr/lib/wine/wine
    # A kernel without 32-bit support cannot start Wine's 32-bit loader.
    if ! "$loader" --version >/dev/null 2>&1; then
      echo "SKIPPED: this machine cannot run 32-bit Windows programs (its kernel has no 32-bit support)"
      exit 77
    fi ;;
  *) echo "wine-run.sh: $exe is not a Windows program" >&2; exit 2 ;;
esac

# A new prefix gets a virtual desktop, so windows have Wine's own frames and
# captions without a window manager.
if ! grep -qs '"Desktop"="Default"' "$WINEPREFIX/user.reg"; then
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
fi

"$loader" "$exe" "$@"
rc=$?
# End Wine's helpers before the virtual display goes away under them.
/usr/lib/wine/wineserver -k >/dev/null 2>&1
exit $rc
