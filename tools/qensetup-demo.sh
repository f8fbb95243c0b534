#!/bin/sh
# Runs "QenSetup.exe SILENT" in a fresh Wine prefix, the way someone trying the
# installer would, and lists what it left: the applications, the certificate,
# the shortcut, the driver store entry and the log.
#
# Wine's own DIFxAPI.Dll only pretends to install a driver package, so the
# prefix first gets the project's stand-in framework library in its place
# (the one QenSetup.exe carries for systems before Windows 7); it puts the
# package into Wine's driver store with SetupAPI. Pass --wine-difxapi to keep
# Wine's library instead.
set -e
cd "$(dirname "$0")/.."
root=$PWD
tools/install-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target QenSetup QenRobot difx_standin

build=$root/build/win64
demo=$root/build/qensetup-demo
prefix=$demo/prefix
rm -rf "$demo" && mkdir -p "$demo/bin" "$demo/run"
cp "$build/installer/QenSetup.exe" "$demo/bin/"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
wine_run() { "$root/tools/wine-run.sh" "$prefix" "$@"; }
robot=$build/tests/installer/QenRobot.exe

echo "==== a fresh Wine prefix: $prefix (its first start takes 15 to 30 s)"
if [ "$1" = --wine-difxapi ]; then
  wine_run "$robot" 2>/dev/null
else
  wine_run "$robot" use-difx "$(winpath "$build/installer/package/DIFx64.Dll")" 2>/dev/null
fi

echo "==== QenSetup.exe SILENT (from $demo/run)"
status=0
(cd "$demo/run" && wine_run "$demo/bin/QenSetup.exe" SILENT 2>/dev/null) || status=$?
echo "exit code $status"

drive=$prefix/drive_c
echo "==== applications: C:\\Program Files\\Corvane"
ls -l "$drive/Program Files/Corvane"
echo "==== certificate (local machine, TrustedPublisher) and quick-launch shortcut"
link='C:\users\'"$(id -un)"'\AppData\Roaming\Microsoft\Internet Explorer\Quick Launch\Pelk Mixer.lnk'
wine_run "$robot" show-certs TrustedPublisher + show-link "$link" 2>/dev/null | tr -d '\r'
echo "==== driver store: C:\\windows\\inf and the catalog"
ls -l "$drive/windows/inf" | grep -i pelkwdm || echo "(no driver package staged)"
find "$drive/windows/system32/catroot" -iname 'PelkWDM.cat' || true
echo "==== log: $demo/bin/QenSetup.log"
tr -d '\r' < "$demo/bin/QenSetup.log"
exit $status
