#!/usr/bin/env bash
# Installs a build into a scratch prefix and runs the installed program as a user would:
# from elsewhere, with no library path or dcservo variable set, on what it installed.
#   scripts/check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "check-install: $*" >&2; exit 1; }
for f in bin/dcservo lib/dcservo/libdcservo_plugin.so lib/dcservo/libdcservo_core.so \
         lib/dcservo/libdcservo_gui.so \
         lib/dcservo/libzelkernel.so lib/dcservo/libzelkernel_drawing.so \
         share/dcservo/setups/default.json \
         share/dcservo/help/index.html share/applications/dcservo.desktop \
         share/icons/hicolor/scalable/apps/dcservo.svg; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
[ -e "$prefix/share/dcservo/desktop" ] && fail "the desktop entry's folder went into share/dcservo"
# The installed files may find each other only relative to themselves.
for f in "$prefix"/bin/dcservo "$prefix"/lib/dcservo/*.so; do
  runpath=$(readelf -d "$f" | grep -E 'RUNPATH|RPATH' || true)
  echo "$runpath" | grep -q "$build\|$(dirname "$build")" && fail "$f still points into the build: $runpath"
done

cd /
run() { env -u LD_LIBRARY_PATH -u DCSERVO_PLUGIN -u DCSERVO_RESOURCES -u DCSERVO_GUI_DIR \
          "$prefix/bin/dcservo" "$@"; }
version=$(run --version)
[[ $version == "dcservo "[0-9]* ]] || fail "--version printed \"$version\""
run compute --print Ts_S,IsClosedSpeed >/dev/null || fail "the installed program cannot compute"
# Qt is loaded only to draw: the program itself does not depend on it, its front end does.
readelf -d "$prefix/bin/dcservo" | grep -q 'libQt6' && fail "the program itself links Qt"
# Nor does the host's library link the drawing libraries: a PNG plot loads them beside it.
readelf -d "$prefix/lib/dcservo/libzelkernel.so" | grep -Eq 'libfreetype|libpng' &&
  fail "the host's library links the drawing libraries"
run filters --bode "$prefix/bode.png" >/dev/null 2>&1 && [ -s "$prefix/bode.png" ] ||
  fail "the installed program cannot draw a PNG plot"
run edit --dialog motor --screenshot "$prefix/motor.png" >/dev/null 2>&1 ||
  fail "the installed program cannot draw a dialog"
# It reads the bundled drive from its own share folder: spoil that copy and it must say so.
echo '{' >"$prefix/share/dcservo/setups/default.json"
if run compute >/dev/null 2>"$prefix/err"; then fail "compute ignored the installed setup"; fi
grep -q "$prefix/bin/../share/dcservo/setups/default.json" "$prefix/err" ||
  fail "compute did not read the installed setup: $(cat "$prefix/err")"
echo "check-install: $version runs from $prefix"
