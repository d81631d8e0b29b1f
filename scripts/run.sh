#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated servers in the background and opens
# Tillmark against them; the simulator stops when Tillmark closes. Without a display the window
# opens on a virtual one (Xvfb).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target tillmark tillmark-sim

# Tillmark writes logs.txt, download.mkv and sub.ass into its working directory.
workdir=${TILLMARK_WORKDIR:-$here/run}
mkdir -p "$workdir"

sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT INT TERM

if [ -x build/tillmark-sim ]; then
    build/tillmark-sim "$@" >"$workdir/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 1 50); do
        grep -q "POS listening" "$workdir/sim.log" 2>/dev/null && break
        kill -0 "$sim_pid" 2>/dev/null || { echo "the simulated servers did not start:" >&2; cat "$workdir/sim.log" >&2; exit 1; }
        sleep 0.1
    done
    echo "Simulated servers running (log: $workdir/sim.log):"
    cat "$workdir/sim.log"
fi

cd "$workdir"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running Tillmark on a virtual display (Xvfb)."
    # xvfb-run picks a free display and its own authority file; both are known only inside it.
    xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
        echo "Tillmark is on the virtual display $DISPLAY. To see it, from another terminal:"
        echo "  a screenshot (ImageMagick): XAUTHORITY=$XAUTHORITY import -display $DISPLAY -window root tillmark.png"
        if command -v x11vnc >/dev/null; then
            echo "  live: XAUTHORITY=$XAUTHORITY x11vnc -display $DISPLAY -localhost, then a VNC viewer on localhost:5900"
        else
            echo "  live: install x11vnc, run it on that display, and connect a VNC viewer to it"
        fi
        echo "Press Ctrl+C here to stop Tillmark and the simulated servers."
        exec "$0"' "$here/build/tillmark"
else
    "$here/build/tillmark"
fi
