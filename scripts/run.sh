#!/usr/bin/env bash
# Installs what is missing, builds the release build and runs ORB.
# Arguments are passed to orb-cli; without any it runs its default job.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

cmake --preset release > /dev/null
cmake --build --preset release --target orb-cli

if [ $# -eq 0 ]; then
  set -- info
fi
exec build/release/src/app/orb-cli "$@"
