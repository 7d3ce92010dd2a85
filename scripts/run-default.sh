#!/usr/bin/env bash
# Builds dcservo and brings the bundled drive into a consistent state, printing its timing,
# control structure and controller gains.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/bin/dcservo compute \
  --print PWM_freq,Ts_C,Ts_S,IsClosedPosition,IsClosedSpeed,IsClosedCurrent,MotorPosition "$@"
