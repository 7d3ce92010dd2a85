#!/usr/bin/env bash
# Redraws every picture of docs/user-guide.md with the program itself (`--screenshot`, off
# screen, no display needed) into docs/images/. One row of the table per picture:
#   picture name | dcservo command line (--screenshot docs/images/NAME.png is added)
# A script named in a row lives in docs/screenshots/. Add a row when a dialog gets a picture.
#   scripts/screenshots.sh [BUILD_DIR]      (default build/release, built when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

# The simulated load as heavy as the motor, coupled through a shaft that rings at 800 Hz, and
# ramps short enough for the speed test to log at the loop's own rate.
coupled="--set Jload_over_J=1 --set TPS=0.35 --set TNS=0.35"
shots=(
  "drive-setup          | edit"
  "drive-setup-guide    | edit --script docs/screenshots/guide-step-3.json"
  "drive-setup-speed    | edit --script docs/screenshots/speed-mode.json"
  "drive-setup-supply   | edit --script docs/screenshots/supply-in-mv.json"
  "motor                | edit --dialog motor"
  "current-test         | edit --dialog test-current --script docs/screenshots/run-test.json"
  "speed-test           | edit PROPOSED_SETUP --dialog test-speed --script docs/screenshots/run-test.json"
  "filters              | edit --dialog filters --script docs/screenshots/filters-on.json"
  "filters-notch        | edit --dialog filters $coupled --spectrum RESONANCE_RUN --script docs/screenshots/apply-notch.json"
  "frequency-response   | edit --dialog frequency-response --fault resonance=300 --fault resonance_damping=0.01 --script docs/screenshots/measure-and-notch.json"
)

if [ ! -x "$build/bin/dcservo" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target dcservo dcservo_plugin
fi
mkdir -p docs/images
export QT_QPA_PLATFORM=offscreen
# A row's RESONANCE_RUN is the report of a speed test on the coupled load; PROPOSED_SETUP the
# bundled drive with the tuner's proposal for its speed loop, as the guide tells the user to
# take it (the raw loop fails its test on its current ripple).
resonance_run=$(mktemp)
proposed_setup=$(mktemp --suffix=.json)
trap 'rm -f "$resonance_run" "$proposed_setup"' EXIT
"$build/bin/dcservo" tune speed --apply-proposal --out "$proposed_setup" >/dev/null
# The run fails on the resonance it is made to show (exit 1): its report is what is wanted.
run_status=0
# shellcheck disable=SC2086
"$build/bin/dcservo" test speed --json $coupled --fault resonance=800 \
  --fault resonance_damping=0.01 >"$resonance_run" 2>/dev/null || run_status=$?
if [ "$run_status" -gt 1 ] || [ ! -s "$resonance_run" ]; then
  echo "the speed test on the coupled load gave no report (exit $run_status)" >&2
  exit 1
fi
status=0
for row in "${shots[@]}"; do
  name=$(echo "${row%%|*}" | xargs)
  read -r -a args <<<"${row#*|}"
  args=("${args[@]/RESONANCE_RUN/$resonance_run}")
  args=("${args[@]/PROPOSED_SETUP/$proposed_setup}")
  # The runs' reports are not wanted here; a failed run is.
  if "$build/bin/dcservo" "${args[@]}" --screenshot "docs/images/$name.png" >/dev/null 2>"/tmp/screenshot-$name.err"; then
    echo "docs/images/$name.png"
  else
    echo "$name: dcservo ${args[*]} failed:" >&2
    cat "/tmp/screenshot-$name.err" >&2
    status=1
  fi
done
exit $status
