#!/usr/bin/env bash
# Builds everything with clang's address and undefined-behaviour sanitizers (clang's UBSan
# also catches float-to-integer overflow) and runs the whole test suite under them. The
# same build holds the fuzz targets (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset clang-asan-ubsan -DCMAKE_UNITY_BUILD=ON "$@"
cmake --build --preset clang-asan-ubsan
ctest --preset clang-asan-ubsan
