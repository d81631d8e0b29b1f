#!/bin/sh
# Runs one of the checks here (password_field.py, inventory.py) on a virtual display with its own session
# bus, as a screen reader would meet the program. Exit code 77 (skipped) when there is no display server,
# session bus or AT-SPI to use.
# Usage: run.sh SCRIPT PROGRAM [ARGUMENTS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb dbus-run-session dbus-send; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
# Debian's own interpreter: python3-pyatspi installs there, not into other Pythons on PATH.
python=/usr/bin/python3
[ -x "$python" ] || { echo "SKIP: $python is missing"; exit 77; }
"$python" -B -c 'import pyatspi' 2>/dev/null || { echo "SKIP: pyatspi is not installed (python3-pyatspi)"; exit 77; }

# Xvfb picks a free display itself and names it (-displayfd): no race with other virtual displays.
tmp=$(mktemp -d) || exit 1
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$tmp"' EXIT INT TERM
tries=0
while [ ! -s "$tmp/display" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "SKIP: Xvfb did not start"; cat "$tmp/xvfb.log"; exit 77
    fi
    sleep 0.1
done
# A runtime directory of its own keeps the accessibility bus's socket apart from any other run's.
mkdir -m 700 "$tmp/runtime"
script=$1
shift
# -B: no __pycache__ left beside the scripts in the clone.
XDG_RUNTIME_DIR="$tmp/runtime" DISPLAY=":$(cat "$tmp/display")" dbus-run-session -- "$python" -B "$here/$script" "$@"
