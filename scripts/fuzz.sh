#!/usr/bin/env bash
# Runs every fuzz target for SECONDS (default 60), two at a time, from its seed corpus in
# fuzz/corpus/<name>/ and prints each target's executions and coverage. New inputs go to a
# working corpus in the build tree, never into the committed seeds. Exits non-zero when a
# target crashed, leaked or hung; the input that did it is kept beside the logs.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     (targets without the fuzz_ prefix)
# Needs the clang-asan-ubsan build (scripts/sanitize.sh builds it).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=build/clang-asan-ubsan
out=$build/fuzz-runs
mkdir -p "$out"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

# Extra seeds beyond the committed corpus, per target.
extra_seeds() {
  case "$1" in
    setup_file) echo resources/setups ;;
    motor_file) echo resources/motors ;;
  esac
}

run_one() {
  local name=$1 binary=$build/bin/fuzz_$1
  [ -x "$binary" ] || { echo "$name: $binary is not built" >"$out/$name.log"; return 1; }
  rm -rf "$out/$name.corpus" "$out/$name"-crash-* "$out/$name"-leak-* "$out/$name"-timeout-*
  mkdir -p "$out/$name.corpus"
  # shellcheck disable=SC2046
  "$binary" "$out/$name.corpus" "fuzz/corpus/$name" $(extra_seeds "$name") \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/$name-" >"$out/$name.log" 2>&1
}

summary() {
  local name=$1 log=$out/$1.log
  local execs cov
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || true)
  printf '%-16s %s  execs %s  cov %s\n' "$name" "$2" "${execs:-?}" "${cov:-?}"
}

failed=0
declare -A pid_of
for name in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
  run_one "$name" &
  pid_of[$name]=$!
done
for name in "${targets[@]}"; do
  if wait "${pid_of[$name]}"; then
    summary "$name" ok
  else
    summary "$name" FAILED
    grep -m1 -A12 'ERROR:\|runtime error\|fuzz invariant' "$out/$name.log" || tail -20 "$out/$name.log"
    failed=1
  fi
done
exit $failed
