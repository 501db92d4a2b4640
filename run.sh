#!/bin/sh
# Installs what is missing, builds the programs and starts Vandrel.
set -e
cd "$(dirname "$0")"
tools/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target vandrel kelvora
exec ./build/release/vandrel "$@"
