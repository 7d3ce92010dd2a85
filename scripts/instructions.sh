#!/usr/bin/env bash
# Counts the instructions that the command line spends on its everyday commands, with
# callgrind, which counts instructions and is not disturbed by a busy machine. Builds the
# release preset's program first. Prints one line per command: instructions, goal, verdict;
# exits 1 when a command is over its goal.
#   scripts/instructions.sh [EXTRA CONFIGURE ARGUMENTS]
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { echo "instructions: valgrind is not installed" >&2; exit 2; }
cmake --preset release "$@" >/dev/null
cmake --build --preset release --target dcservo >/dev/null
program=build/release/bin/dcservo
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# command (as typed after dcservo), goal in millions of instructions
cases=(
  "compute --print Vdc|12"
  "sync --print Vdc|12"
  "test speed --cycles 3 --json|50"
)
over=0
for c in "${cases[@]}"; do
  args=${c%|*}
  goal=${c#*|}
  # shellcheck disable=SC2086
  valgrind --tool=callgrind --callgrind-out-file="$out/cg" "$program" $args \
    >/dev/null 2>"$out/err" || { cat "$out/err" >&2; exit 1; }
  total=$(grep -Eo 'refs: +[0-9,]+' "$out/err" | tr -dc '0-9')
  millions=$(awk -v n="$total" 'BEGIN { printf "%.1f", n / 1e6 }')
  verdict=ok
  awk -v m="$millions" -v g="$goal" 'BEGIN { exit !(m > g) }' && { verdict=over; over=1; }
  printf '%-34s %8s M instructions (goal %s M) %s\n' "dcservo $args" "$millions" "$goal" "$verdict"
done
exit $over
