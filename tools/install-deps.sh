#!/bin/sh
# Installs every Debian 12 package the build, the tests and the main job need.
set -e
packages="cmake ninja-build g++ libgtest-dev googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64
  mingw-w64-tools wine wine64 wine32:i386 xvfb xauth imagemagick file python3 libtomlplusplus-dev
  clang libclang-rt-14-dev"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
$SUDO dpkg --add-architecture i386
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q $missing
