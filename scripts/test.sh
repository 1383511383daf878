#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs every test.
#   scripts/test.sh          the default (optimised) build in build/
#   scripts/test.sh asan     AddressSanitizer and UBSan build in build-asan/
#   scripts/test.sh fuzz     clang build with libFuzzer in build-fuzz/; runs
#                            only the fuzz targets over their seed corpora
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
