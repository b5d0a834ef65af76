#!/usr/bin/env bash
# Installs what is missing, builds the release build and runs ORB.
# Arguments are passed to orb-cli; without any it measures until Ctrl-C with
# the stored sessions, or with the simulator when there are none, and writes
# a measurement log file into measurements/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

cmake --preset release > /dev/null
cmake --build --preset release --target orb-cli

if [ $# -eq 0 ]; then
  echo "Measuring until Ctrl-C; the log file goes to $PWD/measurements/"
  set -- run --log "$PWD/measurements/ORB.txt"
fi
exec build/release/src/app/orb-cli "$@"
