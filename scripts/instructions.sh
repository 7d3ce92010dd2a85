#!/usr/bin/env bash
# Counts the instructions that the command line spends on its everyday commands, with
# callgrind, which counts instructions and is not disturbed by a busy machine. Builds the
# release preset's program first. Prints one line per command: instructions, goal, verdict;
# then commissioning over a local link against its wall-time goal; exits 1 when one is over.
#   scripts/instructions.sh [EXTRA CONFIGURE ARGUMENTS]
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { echo "instructions: valgrind is not installed" >&2; exit 2; }
cmake --preset release "$@" >/dev/null
cmake --build --preset release --target dcservo bench_sim >/dev/null
program=build/release/bin/dcservo
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# The instructions of one command, in millions. A run that ends with a verdict of failure
# (exit 1: the bundled drive's speed test misses its ripple target) counts as any other; bad
# usage, a crash or no count stops the script (called as `x=$(count ...)`, so that it does).
count() {
  local status=0 total
  # shellcheck disable=SC2086
  valgrind --tool=callgrind --callgrind-out-file="$out/cg" "$program" $1 \
    >/dev/null 2>"$out/err" || status=$?
  total=$(grep -Eo 'refs: +[0-9,]+' "$out/err" | tr -dc '0-9')
  if [ "$status" -gt 1 ] || [ -z "$total" ]; then
    cat "$out/err" >&2
    echo "instructions: dcservo $1 ended with $status" >&2
    exit 1
  fi
  awk -v n="$total" 'BEGIN { printf "%.1f", n / 1e6 }'
}

over=0
report() {  # label, millions, goal
  local verdict=ok
  awk -v m="$2" -v g="$3" 'BEGIN { exit !(m > g) }' && { verdict=over; over=1; }
  printf '%-58s %8s M instructions (goal %s M) %s\n' "$1" "$2" "$3" "$verdict"
}

# command (as typed after dcservo), goal in millions of instructions
cases=(
  "compute --print Vdc|8"
  "sync --print Vdc|12"
  "test speed --cycles 3 --json|35"
  "commission --out $out/commissioned|400"
)
for c in "${cases[@]}"; do
  args=${c%|*}
  millions=$(count "$args")
  report "dcservo $args" "$millions" "${c#*|}"
done

# The simulated drive's own pace: ten simulated seconds of the encoder test, the start-up of
# the command taken away.
long=$(count "drive run Encoder_Connection_Test --until 12")
short=$(count "drive run Encoder_Connection_Test --until 2")
report "10 s of dcservo drive run Encoder_Connection_Test" \
  "$(awk -v a="$long" -v b="$short" 'BEGIN { printf "%.1f", a - b }')" 15

# One PWM period of the simulated drive on the plateau of the speed profile: the stepping
# alone counted for two lengths of run, the difference over the difference of their steps.
# A figure to follow, without a goal of its own.
steps() {
  valgrind --tool=callgrind --callgrind-out-file="$out/cg" \
    --toggle-collect='*SimulatedDrive::RunPeriods*' build/release/bin/bench_sim --steps="$1" \
    2>&1 >/dev/null | grep -Eo 'refs: +[0-9,]+' | tr -dc '0-9'
}
short_run=$(steps 20000)
long_run=$(steps 30000)
printf '%-58s %8s instructions\n' "one PWM period of bench_sim's speed profile" \
  "$(awk -v a="$long_run" -v b="$short_run" 'BEGIN { printf "%.0f", (a - b) / 10000 }')"

# Commissioning over a link is a matter of wall time, not instructions: the simulated drive
# served on a local port, and the record's two times. Goal: the run within 1.5 times the
# drive's programs plus a second.
"$program" simdrive --listen 127.0.0.1:0 >"$out/served" 2>&1 &
served=$!
for _ in $(seq 50); do grep -q tcp:// "$out/served" && break; sleep 0.1; done
address=$(grep -o 'tcp://[0-9.:]*' "$out/served")
"$program" commission --drive "$address" --yes --out "$out/linked" >/dev/null 2>"$out/err" ||
  { cat "$out/err" >&2; over=1; }
kill "$served"
wait "$served" 2>/dev/null || true
programs=$(grep -Eo '"drive_programs_s": [0-9.]+' "$out/linked/report.json" | grep -Eo '[0-9.]+$')
wall=$(grep -Eo '"wall_s": [0-9.]+' "$out/linked/report.json" | grep -Eo '[0-9.]+$')
goal=$(awk -v p="$programs" 'BEGIN { printf "%.1f", 1.5 * p + 1 }')
verdict=ok
awk -v w="$wall" -v g="$goal" 'BEGIN { exit !(w > g) }' && { verdict=over; over=1; }
printf '%-58s %8s s of wall time (programs %s s, goal %s s) %s\n' \
  "dcservo commission --drive tcp://... --yes" "$wall" "$programs" "$goal" "$verdict"
exit $over
