#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How long the logger takes to come back after the meter is unplugged and
# plugged in again: the simulated meter hangs up, and a new one appears at
# the same path a few seconds later. Times, from the moment the new meter's
# path exists, until the next record is in the log.
#
#   bench/replug.sh [--times N] [--build DIR]      (default 5 times, build-bench)
#
# The logger tries a lost port every 2 s, so the wait is that retry, the
# address change and at most one logging period (1 s) on top.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build-bench
TIMES=5
while [ $# -gt 0 ]; do
    case $1 in
        --times) TIMES=$2; shift 2 ;;
        --build) BUILD=$(realpath -m "$2"); shift 2 ;;
        *) echo "replug.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
cmake --build "$BUILD" -j2 --target quelmar-log quelmar-meter-sim >&2
SIM=$BUILD/tools/meter-sim/quelmar-meter-sim
WORK=$(mktemp -d)
LOGGER_PID=
SIM_PID=
cleanup() {
    [ -n "$LOGGER_PID" ] && kill "$LOGGER_PID" 2>/dev/null
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

LINK=$WORK/meter
LOG=$WORK/log.csv
records() { [ -f "$LOG" ] && echo $(( $(wc -l < "$LOG") - 1 )) || echo 0; }
now_ms() { date +%s%3N; }

"$SIM" --no-pacing --link "$LINK" >/dev/null 2>&1 &
SIM_PID=$!
while [ ! -e "$LINK" ]; do sleep 0.05; done
"$BUILD/quelmar-log" --port "$LINK" "$LOG" 2>/dev/null &
LOGGER_PID=$!

for i in $(seq "$TIMES"); do
    until [ "$(records)" -ge 2 ]; do sleep 0.05; done
    kill "$SIM_PID"; wait "$SIM_PID" 2>/dev/null || true
    sleep 3  # unplugged for a while
    before=$(records)
    "$SIM" --no-pacing --link "$LINK" >/dev/null 2>&1 &
    SIM_PID=$!
    while [ ! -e "$LINK" ]; do sleep 0.01; done
    start=$(now_ms)
    until [ "$(records)" -gt "$before" ]; do sleep 0.01; done
    echo "replug $i: next record after $(( $(now_ms) - start )) ms"
done
