#!/usr/bin/env bash
# Builds dcservo and commissions the bundled drive on the simulated drive: each step's
# progress, then where the report is (build/commissioning/report.html).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
# The program, its plug-in and its window module; the tests and benches are not needed here.
cmake --build --preset release --target dcservo dcservo_plugin dcservo_gui
exec build/release/bin/dcservo commission --out build/commissioning "$@"
