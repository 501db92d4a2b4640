#!/bin/sh
# Installs the Debian packages that building and testing need, when missing, and
# makes the locales under which the tests also run (users whose decimal separator
# is the comma), when missing.
set -e
packages="cmake ninja-build g++ qt6-base-dev qt6-charts-dev qt6-svg-dev libjpeg62-turbo-dev \
libgtest-dev libgmock-dev libbenchmark-dev libeigen3-dev clang-16 libclang-rt-16-dev locales"
locales="fr_FR de_DE"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $missing
fi

for l in $locales; do
  locale -a 2>/dev/null | grep -qx "$l.utf8" || $sudo localedef -i "$l" -f UTF-8 "$l.UTF-8"
done
