#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the program and starts it.
#   scripts/run.sh            with the simulated meter (no hardware needed)
#   scripts/run.sh PORT       on a real meter, e.g. /dev/ttyUSB0 or COM1
# Either way the program keeps its settings in a private folder under the
# build tree, never in the user's own settings.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_packages "${RUN_PACKAGES[@]}"
build_preset default

PORT=${1:-}
RUNDIR=$BUILD/run
mkdir -p "$RUNDIR"
SIM_PID=
cleanup() { [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null || true; }
trap cleanup EXIT

if [ -z "$PORT" ]; then
    export XDG_CONFIG_HOME=$RUNDIR/sim-config
    PORT=$RUNDIR/meter
    "$BUILD/tools/meter-sim/quelmar-meter-sim" --link "$PORT" --profile fridge --time-scale 10 \
        >"$RUNDIR/sim.out" 2>"$RUNDIR/sim.err" &
    SIM_PID=$!
    for _ in $(seq 50); do [ -e "$PORT" ] && break; sleep 0.1; done
    [ -e "$PORT" ] || { echo "The simulated meter did not start:" >&2; cat "$RUNDIR/sim.err" >&2; exit 1; }
    echo "Simulated meter on $(head -n1 "$RUNDIR/sim.out"), linked as $PORT"
else
    export XDG_CONFIG_HOME=$RUNDIR/port-config
fi

APP=$BUILD/quelmar-communicator
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    "$APP" --port "$PORT"
else
    # No display: run under a virtual one for a few seconds and keep a picture.
    SHOT=$RUNDIR/screenshot.png
    xvfb-run -a -s "-screen 0 640x520x24" bash -c \
        "\"\$0\" --port \"\$1\" & app=\$!; sleep 6; import -window root -crop 449x416+0+0 +repage \"\$2\"; kill \$app; wait \$app 2>/dev/null || true" \
        "$APP" "$PORT" "$SHOT"
    echo "No display: ran under Xvfb for 6 s. Screenshot: $SHOT"
fi
