#!/bin/sh
# Installs what is missing, builds everything and runs every test.
set -e
cd "$(dirname "$0")"
tools/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev
