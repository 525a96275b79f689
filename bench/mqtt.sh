#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What publishing to MQTT costs the command-line logger: the logger alone
# and the logger with `--mqtt 127.0.0.1:PORT --mqtt-period 1`, in turn, each
# for N seconds, against one simulated meter and one private broker (the
# tests' tests/support/mqtt-broker.sh), both writing the same CSV log.
#
#   bench/mqtt.sh [--seconds N] [--rounds N] [--no-pacing] [--build DIR]
#
# Of each run it reads, from /proc/<pid> as bench/compare.sh does: the CPU
# time of all the process's threads (the network thread included) over the
# whole run and from 5 s on, and the peak resident memory (VmHWM). The table
# gives the medians over the rounds (default 3 of 30 s) and the ratios
# with/without, against the goals of at most 1.25 x CPU and 1.15 x memory,
# and how many states the broker passed on. Exits non-zero if a run failed.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build-bench
RUN_SECONDS=30
ROUNDS=3
STEADY_FROM=5
SIM_OPTIONS=()
while [ $# -gt 0 ]; do
    case $1 in
        --seconds) RUN_SECONDS=$2; shift 2 ;;
        --rounds) ROUNDS=$2; shift 2 ;;
        --no-pacing) SIM_OPTIONS+=(--no-pacing); shift ;;
        --build) BUILD=$(realpath -m "$2"); shift 2 ;;
        -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "mqtt.sh: unknown argument $1 (try --help)" >&2; exit 2 ;;
    esac
done
if ! [ "$RUN_SECONDS" -gt "$STEADY_FROM" ] 2>/dev/null; then
    echo "mqtt.sh: --seconds must be a whole number above $STEADY_FROM" >&2
    exit 2
fi
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUELMAR_BUILD_BENCH=ON >&2
fi
cmake --build "$BUILD" -j2 --target quelmar-log quelmar-meter-sim >&2
LOGGER=$BUILD/quelmar-log
SIM=$BUILD/tools/meter-sim/quelmar-meter-sim
source "$ROOT/bench/procstat.sh"

WORK=$(mktemp -d)
PIDS=()
RUN_PID=
cleanup() {
    [ -n "$RUN_PID" ] && kill "$RUN_PID" 2>/dev/null && wait "$RUN_PID" 2>/dev/null
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$WORK/config

mkdir "$WORK/broker"
bash "$ROOT/tests/support/mqtt-broker.sh" "$WORK/broker" 2> "$WORK/broker.err" &
PIDS+=($!)
for _ in $(seq 100); do grep -q ' running' "$WORK/broker.err" && break; sleep 0.1; done
PORT=$(head -n 1 "$WORK/broker/ports")
mosquitto_sub -p "$PORT" -t quelmar/bench/state > "$WORK/states" &
PIDS+=($!)
"$SIM" "${SIM_OPTIONS[@]}" > "$WORK/sim.out" 2> "$WORK/sim.err" &
PIDS+=($!)
for _ in $(seq 50); do [ -s "$WORK/sim.out" ] && break; sleep 0.1; done
METER=$(head -n 1 "$WORK/sim.out")
if [ -z "$METER" ] || [ -z "$PORT" ]; then
    echo "mqtt.sh: the simulated meter or the broker did not start" >&2
    exit 1
fi

echo "mqtt.sh: $ROUNDS rounds of $RUN_SECONDS s each, meter on $METER ${SIM_OPTIONS[*]}, broker on port $PORT" >&2
for round in $(seq "$ROUNDS"); do
    echo "mqtt.sh: round $round: logger" >&2
    run plain "$LOGGER" --port "$METER" "$WORK/plain-$round.csv"
    echo "mqtt.sh: round $round: logger publishing" >&2
    run mqtt "$LOGGER" --port "$METER" --mqtt "127.0.0.1:$PORT" --mqtt-period 1 --mqtt-id bench "$WORK/mqtt-$round.csv"
done

states=$(wc -l < "$WORK/states")
awk -v pc="$(median "$WORK/plain" 1)" -v mc="$(median "$WORK/mqtt" 1)" \
    -v ps="$(median "$WORK/plain" 2)" -v ms="$(median "$WORK/mqtt" 2)" \
    -v pm="$(median "$WORK/plain" 3)" -v mm="$(median "$WORK/mqtt" 3)" \
    -v secs="$RUN_SECONDS" -v from="$STEADY_FROM" -v rounds="$ROUNDS" -v states="$states" '
function row(what, p, m, unit, goal) {
    printf "| %-34s | %9.3f | %9.3f | %5.2f | %-8s |\n", what " (" unit ")", p, m, (p > 0 ? m / p : 0), goal
}
BEGIN {
    printf "| %-34s | %9s | %9s | %5s | %-8s |\n", "median of " rounds " runs", "logger", "+ MQTT", "ratio", "goal"
    printf "|%s|%s|%s|%s|%s|\n", "------------------------------------", "----------:", "----------:", "------:", "----------"
    row("CPU, whole " secs " s run", pc / 1e9, mc / 1e9, "s", "<= 1.25")
    row("CPU, polling " from "-" secs " s", ps / 1e9, ms / 1e9, "s", "<= 1.25")
    row("peak resident memory, VmHWM", pm / 1024, mm / 1024, "MiB", "<= 1.15")
    printf "\nstates the broker passed on: %d in %d publishing runs of %d s\n", states, rounds, secs
}'
