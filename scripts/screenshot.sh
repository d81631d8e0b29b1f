#!/usr/bin/env bash
# Takes docs/timeline.png (or the path given): the timeline page of the real program against the
# simulated servers, with yesterday's recordings of a camera and a selection on it, on a virtual
# display. Drives the window with xdotool, by the keyboard but for one button. Then, next to it,
# timeline-marks.png and timeline-receipt.png (a receipt of that day on the timeline, then opened),
# player.png (a receipt of the timeline watched in the review player, its receipts beside it),
# exceptions.png (the Exceptions tab over yesterday and today),
# search.png (the search page with the receipts that mention coffee), export-progress.png (the export's
# progress box with "Cancel"), export-done.png (the message at its end), export-frame.png (a frame of
# the exported MP4, taken with ffmpeg) and export-queue.png (the queue of exports while three receipts
# chosen in the list are exported from their cameras).
#
#   bash scripts/screenshot.sh [output.png]      TILLMARK_BUILD_DIR: the build to use (default build/)
set -euo pipefail
# A UTF-8 locale for the program and the tools that type into it: without one the receipts' "Äpfel"
# comes out as "Ãpfel".
export LC_ALL=C.UTF-8
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$here" && mkdir -p "${TILLMARK_BUILD_DIR:-build}" && cd "${TILLMARK_BUILD_DIR:-build}" && pwd)
out=$(realpath -m "${1:-$here/docs/timeline.png}")

if [ -z "${TILLMARK_SCREENSHOT_INNER:-}" ]; then
    for tool in xvfb-run xdotool import; do
        command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (bash scripts/install-deps.sh)" >&2; exit 1; }
    done
    if [ ! -x "$build/tillmark" ] || [ ! -x "$build/tillmark-sim" ]; then
        cmake -S "$here" -B "$build" >/dev/null
        cmake --build "$build" -j2 --target tillmark tillmark-sim
    fi
    # A screen as large as the window: without a window manager the window sits at its top left,
    # so the root window is the program's window.
    exec xvfb-run -a -s "-screen 0 800x600x24" env TILLMARK_SCREENSHOT_INNER=1 TILLMARK_BUILD_DIR="$build" \
        bash "$0" "$out"
fi

work=$(mktemp -d)
# Settings of its own: the servers it logs in to (on ports of the moment) and the tills it meets stay out
# of the user's settings file, whose login defaults would otherwise point at servers long gone.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
sim_pid=
app_pid=
cleanup() {
    for pid in $app_pid $sim_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

"$build/tillmark-sim" --vms-port 0 --pos-port 0 --seed 3 >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
    grep -q "POS listening" "$work/sim.log" && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.log" >&2; exit 1; }
    sleep 0.1
done
vms=$(sed -n 's/^VMS listening on //p' "$work/sim.log")
pos=$(sed -n 's/^POS listening on //p' "$work/sim.log")
[ -n "$vms" ] && [ -n "$pos" ] || { echo "screenshot: the simulated servers did not start" >&2; exit 1; }

# The program writes its log and clips into its working directory.
(cd "$work" && exec "$build/tillmark") >"$work/app.log" 2>&1 &
app_pid=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tillmark$' | head -1)
# Without a window manager nobody gives the window the keyboard.
xdotool windowfocus --sync "$window"
sleep 1

# Everything but the export's button with the keyboard, as an operator may work.
type_text() { xdotool type --delay 20 "$1"; }

# Login page: the cursor starts in the POS field; the two servers, then Return.
xdotool key ctrl+a
type_text "$pos"
xdotool key Tab ctrl+a
type_text "$vms"
xdotool key Return
sleep 2
# The second camera, "Till 1 Overhead", which records on motion while the shop is open.
xdotool key Down Down
sleep 1
# Yesterday, a whole day of recordings: the date box, one day back on the calendar, Return.
xdotool key Tab space
sleep 0.5
xdotool key Left Return
sleep 1.5
# Some twenty minutes typed into the time fields; Tab takes each.
xdotool key Tab
type_text "11:52"
xdotool key Tab
type_text "12:14"
xdotool key Tab
sleep 0.5

mkdir -p "$(dirname "$out")"
import -window root "$out"
echo "screenshot: wrote $out"

docs=$(dirname "$out")
# The receipts of that camera's day on the timeline: Tab from "Download" to the timeline, Page Down to
# its first receipt in view (its tooltip), then Return opens it; Escape puts it away.
xdotool key Tab Next
sleep 1
import -window root "$docs/timeline-marks.png"
echo "screenshot: wrote $docs/timeline-marks.png"
xdotool key Return
sleep 1
import -window root "$docs/timeline-receipt.png"
echo "screenshot: wrote $docs/timeline-receipt.png"
xdotool key Escape
sleep 0.5
# The review player: Page Down to a receipt mark again, W watches it (5 s before the receipt, the
# receipts of its window beside the picture); a few seconds in, once the simulated server has rendered
# that far. Escape closes it.
xdotool key Next
sleep 0.5
xdotool key w
sleep 8
import -window root "$docs/player.png"
echo "screenshot: wrote $docs/player.png"
xdotool key Escape
sleep 0.5
# The Exceptions tab: yesterday and today searched (Return on "Search", where its keys start), the charts
# and the flagged receipts.
xdotool key ctrl+3
sleep 1
xdotool key Return
sleep 4
import -window root "$docs/exceptions.png"
echo "screenshot: wrote $docs/exceptions.png"
# The receipts page, the search field and the receipts that mention coffee.
xdotool key ctrl+2 ctrl+f
type_text "coffee"
xdotool key Return
sleep 2
# Past the button and the two day boxes into the list, and down to the second receipt (the newest may
# still be within its three minutes).
xdotool key Tab Tab Tab Tab Down Down
sleep 0.5
import -window root "$docs/search.png"
echo "screenshot: wrote $docs/search.png"

# That receipt opened with Return, exported from its first camera into the working directory:
# "Download 3 mins around", then the whole path in the save dialog, whose name field has the cursor.
xdotool key Return
sleep 1
xdotool mousemove 420 462 click 1
timeout 30 xdotool search --sync --name '^Save file$' >/dev/null
sleep 1
xdotool key ctrl+a
type_text "$work/receipt export.mp4"
xdotool key Return
# Saves the window as $2 a second after the program has logged a line starting with $1 (or after two minutes).
shot_after_log() {
    for _ in $(seq 1 1200); do
        grep -q "^Debug: $1" "$work/logs.txt" 2>/dev/null && break
        sleep 0.1
    done
    sleep 1
    import -window root "$docs/$2"
    echo "screenshot: wrote $docs/$2"
}
# The progress box once FFmpeg encodes, then the message at the end.
shot_after_log "FFmpeg started" export-progress.png
shot_after_log "Export finished" export-done.png
# A second into the receipt, which comes up 90 seconds into the clip.
ffmpeg -v error -y -ss 91 -i "$work/receipt export.mp4" -frames:v 1 "$docs/export-frame.png"
echo "screenshot: wrote $docs/export-frame.png"

# Four receipts chosen with the keyboard (Space on the one exported, Shift+Down three times), "Export
# selected…" just before the list; asked about the one exported, "Leave those out"; each receipt's own
# cameras into one folder.
xdotool key Escape
sleep 0.5
for keys in ctrl+f "Tab Tab Tab Tab" space shift+Down shift+Down shift+Down shift+Tab space Tab space; do
    xdotool key $keys
    sleep 0.3
done
sleep 1
mkdir -p "$work/batch"
xdotool key Tab Tab Tab Tab ctrl+a
type_text "$work/batch"
xdotool key Tab Tab Tab space
# The queue once the first of them has finished.
for _ in $(seq 1 1200); do
    [ "$(grep -c "^Debug: Export finished" "$work/logs.txt" 2>/dev/null)" -ge 2 ] && break
    sleep 0.1
done
sleep 1
import -window root "$docs/export-queue.png"
echo "screenshot: wrote $docs/export-queue.png"
