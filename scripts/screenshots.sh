#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the screenshots in docs/screenshots/: one per tab, with the program
# talking to the simulated meter on a virtual display (Xvfb). The tabs and
# buttons are clicked with xdotool, as a user would, so the program needs no
# option of its own for this beyond --port.
#
#   scripts/screenshots.sh [BUILD_DIR]     default: build (or $QUELMAR_BUILD_DIR)
#
# Needs a built tree with the simulator, and the Debian packages xvfb, xauth,
# xdotool, imagemagick and fonts-liberation2 (the window's font). Leaves the
# log file it wrote in BUILD_DIR/screenshots-run/ and prints its first lines.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$(cd "${1:-${QUELMAR_BUILD_DIR:-$ROOT/build}}" && pwd)
APP=$BUILD/quelmar-communicator
SIM=$BUILD/tools/meter-sim/quelmar-meter-sim
OUT=$ROOT/docs/screenshots
RUN=$BUILD/screenshots-run

for f in "$APP" "$SIM"; do
    [ -x "$f" ] || { echo "screenshots: $f is missing; build the project first" >&2; exit 1; }
done
for tool in xvfb-run xdotool import convert; do
    command -v "$tool" >/dev/null || {
        echo "screenshots: $tool is missing:" >&2
        echo "  apt-get install xvfb xauth xdotool imagemagick fonts-liberation2" >&2
        exit 1
    }
done

rm -rf "$RUN"
# A private settings folder: the program stores the port it was started on
# there, not in the user's own settings.
mkdir -p "$RUN/config" "$OUT"

# A fridge, ten times as fast, so the readings move between the pictures.
"$SIM" --link "$RUN/meter" --profile fridge --time-scale 10 --seed 1 \
    >"$RUN/sim.out" 2>"$RUN/sim.err" &
SIM_PID=$!
trap 'kill "$SIM_PID" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$RUN/meter" ] && break; sleep 0.1; done
[ -e "$RUN/meter" ] || { echo "screenshots: the simulator did not start:" >&2; cat "$RUN/sim.err" >&2; exit 1; }

# Runs on the virtual display. There is no window manager, so the window
# sits at 0,0 without a frame and all positions are the window's own; they
# follow the form's fixed layout. The window is made taller than its default
# so that the Transmit and Receive lines below the tabs show.
cat >"$RUN/shoot.sh" <<'EOF'
set -euo pipefail
app=$1 out=$2 run=$3
"$app" --port "$run/meter" >"$run/app.out" 2>&1 &
app_pid=$!
trap 'kill "$app_pid" 2>/dev/null || true' EXIT
win=
for _ in $(seq 100); do
    win=$(xdotool search --onlyvisible --classname quelmar-communicator 2>/dev/null | head -n 1) && [ -n "$win" ] && break
    sleep 0.1
done
[ -n "$win" ] || { echo "screenshots: the window did not appear" >&2; exit 1; }
xdotool windowsize "$win" 455 495
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }

# Meter: a few polls in, the readings are there.
sleep 4
import -window "$win" "$out/meter.png"

# Cost Calculator: refreshed by the next poll; then one appliance added to
# the audit totals.
click 137 40
sleep 2
click 331 123
sleep 1
import -window "$win" "$out/cost-calculator.png"

# Data Logging: choose a file in the save dialog, start logging and let a
# few records come in.
click 258 40
sleep 1
click 347 146
dialog=
for _ in $(seq 50); do
    dialog=$(xdotool search --onlyvisible --name 'Enter Log filename' 2>/dev/null | head -n 1) && [ -n "$dialog" ] && break
    sleep 0.1
done
[ -n "$dialog" ] || { echo "screenshots: the file dialog did not appear" >&2; exit 1; }
sleep 1
xdotool windowfocus --sync "$dialog"
xdotool type --delay 20 "$run/fridge.csv"
xdotool key Return
sleep 1
click 266 92
sleep 5
import -window "$win" "$out/data-logging.png"

# Chart: the readings so far, with the fridge's compressor cycles (a cycle
# every 12 s at ten times the speed); the chart follows while it shows.
click 318 40
sleep 20
import -window "$win" "$out/chart.png"
EOF
XDG_CONFIG_HOME=$RUN/config XDG_RUNTIME_DIR=$RUN LC_ALL=C.UTF-8 \
    xvfb-run -a -s "-screen 0 800x600x24" bash "$RUN/shoot.sh" "$APP" "$OUT" "$RUN"

# Smaller files for the repository: the pictures have few colours.
for f in "$OUT"/meter.png "$OUT"/cost-calculator.png "$OUT"/data-logging.png "$OUT"/chart.png; do
    convert "$f" -strip -define png:exclude-chunks=date,time "$f"
done
echo "Screenshots in $OUT:"
ls -1 "$OUT"
if [ -s "$RUN/fridge.csv" ]; then
    echo "The log written meanwhile ($RUN/fridge.csv):"
    head -n 5 "$RUN/fridge.csv"
else
    echo "screenshots: no log was written" >&2
    exit 1
fi
