#!/usr/bin/env bash
# Builds everything from scratch in build/default and runs the whole test suite. Arguments go
# to the configure step (a compiler launcher, say).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default "$@"
cmake --build --preset default
ctest --preset default
