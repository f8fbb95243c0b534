#!/bin/sh
# Installs every Debian 12 package the build, the tests and the main job need.
set -e
packages="cmake ninja-build g++ libgtest-dev googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64
  mingw-w64-tools wine wine64 wine32:i386 xvfb xauth imagemagick file python3 libtomlplusplus-dev openssl
  avahi-daemon avahi-utils dbus libavahi-compat-libdnssd-dev iproute2 xdotool
  nlohmann-json3-dev libbenchmark-dev clang libclang-rt-14-dev"
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
# The Avahi test starts its own daemon inside a network namespace; the
# package's own service must not start on this machine's network.
guard=""
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod 755 /usr/sbin/policy-rc.d
  guard=yes
fi
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q $missing
if [ -n "$guard" ]; then $SUDO rm -f /usr/sbin/policy-rc.d; fi
