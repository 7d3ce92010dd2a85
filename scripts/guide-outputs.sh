#!/usr/bin/env bash
# Writes the program's outputs that the docs show from the program itself, so that they
# cannot go stale. The fenced block that follows a line
#   <!-- output of: dcservo ARGS -->
# becomes what `dcservo ARGS` prints (its standard output, then its standard error), run in
# an empty folder that holds the bundled setup as axis1.json.
#   scripts/guide-outputs.sh BUILD_DIR           rewrite the docs
#   scripts/guide-outputs.sh BUILD_DIR --check   exit 1, showing the difference, when a doc
#                                                shows other than the program prints
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
check=${2:-}
dcservo=$build/bin/dcservo
[ -x "$dcservo" ] || { echo "guide-outputs: $dcservo is not built" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What `dcservo ARGS` prints, run on a fresh copy of the bundled setup.
run() {
  local folder="$work/run"
  rm -rf "$folder" && mkdir "$folder"
  cp "$root/resources/setups/default.json" "$folder/axis1.json"
  (cd "$folder" && eval "\"\$dcservo\" $1" >"$work/out" 2>"$work/err") || true
  cat "$work/out" "$work/err"
}

status=0
for doc in "$root"/docs/*.md; do
  grep -q '^<!-- output of: dcservo ' "$doc" || continue
  new="$work/$(basename "$doc")"
  : >"$new"
  pending="" skipping=0
  while IFS= read -r line || [ -n "$line" ]; do
    if [ "$skipping" = 1 ]; then
      # The old block's text goes; its closing fence is written after the new text.
      if [ "$line" = '```' ]; then
        run "$pending" >>"$new"
        echo '```' >>"$new"
        skipping=0 pending=""
      fi
      continue
    fi
    echo "$line" >>"$new"
    if [[ "$line" == '<!-- output of: dcservo '* ]]; then
      pending=${line#'<!-- output of: dcservo '}
      pending=${pending%' -->'}
    elif [ -n "$pending" ] && [[ "$line" == '```'* ]]; then
      skipping=1
    fi
  done <"$doc"
  if [ "$check" = --check ]; then
    diff -u "$doc" "$new" || { echo "guide-outputs: ${doc#"$root"/} is stale" >&2; status=1; }
  else
    cmp -s "$doc" "$new" || cp "$new" "$doc"
  fi
done
exit $status
