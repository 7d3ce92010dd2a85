#!/usr/bin/env bash
# Builds dcservo and commissions the bundled drive on the simulated drive: each step's
# progress, then where the report is (build/commissioning/report.html).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/bin/dcservo commission --out build/commissioning "$@"
