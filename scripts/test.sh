#!/usr/bin/env bash
# Installs what is missing, builds the test build (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test; then builds the
# concurrency tests with ThreadSanitizer and runs them.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

cmake --preset default
cmake --build --preset default
ctest --preset default

cmake --preset tsan
cmake --build --preset tsan --target concurrency_tests
ctest --preset tsan
