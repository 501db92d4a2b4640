#!/bin/sh
# Installs the Debian packages that building and testing need, when missing.
set -e
packages="cmake ninja-build g++ qt6-base-dev qt6-charts-dev qt6-svg-dev libjpeg62-turbo-dev \
libgtest-dev libgmock-dev libbenchmark-dev libeigen3-dev clang-16 libclang-rt-16-dev"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $missing
