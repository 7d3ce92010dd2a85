#!/usr/bin/env bash
# Kills `dcservo commission --out DIR` with SIGKILL at random moments of its run, RUNS times
# (default 200), always into the same DIR, and counts the times DIR was left holding files
# of two runs. The runs alternate between a full commissioning and one whose speed step
# fails (so later steps do not run and log no CSV), so a mix shows: a folder is mixed when
# its step CSVs are not the ones its report.json lists, or when it holds some files of a
# record but not setup.json, report.json and report.html. Goal: 0 mixed. On demand only;
# it takes a few minutes.
#   scripts/commission-kill-loop.sh [RUNS] [BUILD_DIR]     (BUILD_DIR: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200}
dcservo=${2:-build/default}/bin/dcservo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/record
variants=("" "--fault-at speed:short_circuit")

# How long a full run takes: the kills fall anywhere within it.
start=$(date +%s.%N)
"$dcservo" commission --out "$work/timed" >/dev/null 2>&1 || true
full=$(echo "$(date +%s.%N) - $start" | bc)

check() {
  python3 - "$1" <<'PY'
import json, os, sys
folder = sys.argv[1]
if not os.path.isdir(folder):
    sys.exit(0)
names = set(os.listdir(folder))
if not names:
    sys.exit(0)
required = {"setup.json", "report.json", "report.html"}
if not required <= names:
    print("missing", sorted(required - names), "beside", sorted(names)); sys.exit(1)
report = json.load(open(os.path.join(folder, "report.json")))
listed = {s.get("csv") for s in report["steps"] if s.get("csv")}
present = {n for n in names if n.endswith(".csv")}
if listed != present:
    print("report lists", sorted(listed), "but the folder holds", sorted(present)); sys.exit(1)
PY
}

mixed=0 killed=0
for ((i = 0; i < runs; i++)); do
  # shellcheck disable=SC2086
  "$dcservo" commission --out "$out" ${variants[i % 2]} >/dev/null 2>&1 &
  pid=$!
  sleep "$(awk -v r="$RANDOM" -v t="$full" 'BEGIN { printf "%.3f", r / 32768 * t * 1.1 }')"
  if kill -9 "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
  wait "$pid" 2>/dev/null || true
  if ! why=$(check "$out"); then
    mixed=$((mixed + 1))
    echo "run $i: $why"
  fi
done
echo "$runs runs (full run ${full}s), $killed killed, $mixed folders mixed"
[ "$mixed" -eq 0 ]
