#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What serving costs the command-line logger, side by side in one run: the
# logger alone, the logger with --listen and nobody asking, and the logger
# with --listen under wrk's clients fetching /metrics and /state.json in
# turn as fast as they can, each for N seconds, in turn, against a fresh
# simulated meter at 9600 baud each time.
#
#   bench/web.sh [--seconds N] [--rounds N] [--clients N] [--no-pacing] [--build DIR]
#
# Of each run it reads, from /proc/<pid> as bench/compare.sh does, the CPU
# time of the logger's threads over the whole run and from 5 s on, and its
# peak resident memory (VmHWM); from the meter's trace, the time of every
# frame the logger sent (a poll a frame); the records in the log and those
# the logger says it missed; from wrk, the requests served a second. The
# table gives the medians over the rounds (default 3 of 30 s, 50 clients)
# and the ratios to the logger alone, against the goals: memory at most
# 1.15 x and idle CPU at most 1.10 x; every poll within 10 % of 500 ms and
# no record missed under load. Traffic stays on 127.0.0.1 and each wrk run
# ends after N seconds. Exits non-zero if a run failed.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build-bench
RUN_SECONDS=30
ROUNDS=3
CLIENTS=50
STEADY_FROM=5
SIM_OPTIONS=()
while [ $# -gt 0 ]; do
    case $1 in
        --seconds) RUN_SECONDS=$2; shift 2 ;;
        --rounds) ROUNDS=$2; shift 2 ;;
        --clients) CLIENTS=$2; shift 2 ;;
        --no-pacing) SIM_OPTIONS+=(--no-pacing); shift ;;
        --build) BUILD=$(realpath -m "$2"); shift 2 ;;
        -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "web.sh: unknown argument $1 (try --help)" >&2; exit 2 ;;
    esac
done
if ! [ "$RUN_SECONDS" -gt "$STEADY_FROM" ] 2>/dev/null; then
    echo "web.sh: --seconds must be a whole number above $STEADY_FROM" >&2
    exit 2
fi
command -v wrk >/dev/null || { echo "web.sh: wrk is missing (Debian package wrk)" >&2; exit 2; }
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUELMAR_BUILD_BENCH=ON >&2
fi
cmake --build "$BUILD" -j2 --target quelmar-log quelmar_web quelmar-meter-sim >&2
LOGGER=$BUILD/quelmar-log
SIM=$BUILD/tools/meter-sim/quelmar-meter-sim
source "$ROOT/bench/procstat.sh"

WORK=$(mktemp -d)
SIM_PID=
RUN_PID=
cleanup() {
    [ -n "$RUN_PID" ] && kill "$RUN_PID" 2>/dev/null && wait "$RUN_PID" 2>/dev/null
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$WORK/config

# A loopback port nothing answers on.
until PORT=$(shuf -i 20000-59999 -n 1) && ! (exec 3<>/dev/tcp/127.0.0.1/"$PORT") 2>/dev/null; do :; done
cat > "$WORK/alternate.lua" <<'EOF'
local paths = { "/metrics", "/state.json" }
local n = 0
request = function()
  n = n + 1
  return wrk.format("GET", paths[n % 2 + 1])
end
EOF

# Each line of the meter's trace with the time it came, in seconds.
stamp() { while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done; }
# wrk gets one thread, the second core and the lowest priority, so that the
# simulated meter, which sends a byte a millisecond with a sleep between
# each, is not kept from the CPU: its replies would come late and polls go
# unanswered whatever the logger does (a real meter never waits for the
# computer's CPU).
WRK=(nice -n 19 wrk -t 1)
command -v taskset >/dev/null && [ "$(nproc)" -gt 1 ] && WRK=(taskset -c 1 "${WRK[@]}")

# measure NAME [LOGGER OPTIONS...]: one run with a meter of its own; appends
# "cpu steady hwm slow_polls longest_gap_ms sent_again records missed requests_per_s".
measure() {
    local name=$1; shift
    rm -f "$WORK/sim.out"
    "$SIM" "${SIM_OPTIONS[@]}" --trace > "$WORK/sim.out" 2> >(stamp > "$WORK/$name.frames") &
    SIM_PID=$!
    for _ in $(seq 50); do grep -q . "$WORK/sim.out" 2>/dev/null && break; sleep 0.1; done
    local meter; meter=$(head -n 1 "$WORK/sim.out")
    rm -f "$WORK/$name.csv" "$WORK/$name.wrk" "$WORK/$name.err"
    local load=
    if [ "$name" = load ]; then
        (sleep 2; "${WRK[@]}" -c "$CLIENTS" -d "$((RUN_SECONDS - 4))s" -s "$WORK/alternate.lua" \
             "http://127.0.0.1:$PORT" > "$WORK/$name.wrk" 2>&1) &
        load=$!
    fi
    run "$name" "$LOGGER" --port "$meter" "$@" "$WORK/$name.csv"
    [ -z "$load" ] || wait "$load"
    kill "$SIM_PID"; wait "$SIM_PID" 2>/dev/null || true; SIM_PID=
    # Frames from 2 s on, start-up left out; a frame within 100 ms of the one
    # before is the same poll sent again, unanswered.
    local polls; polls=$(awk 'NR == 1 { t0 = $1 } $1 - t0 > 2 && NF > 1 {
            if (last && $1 - last < 0.1) again++
            else { if (start) { gap = ($1 - start) * 1000; if (gap < 450 || gap > 550) slow++; if (gap > max) max = gap }
                   start = $1 }
            last = $1 } END { printf "%d %.1f %d", slow, max, again }' "$WORK/$name.frames")
    local records missed
    records=$(($(wc -l < "$WORK/$name.csv") - 1))
    missed=$(sed -n 's/.* \([0-9]*\) records\{0,1\} could not be written.*/\1/p' "$WORK/$name.err" | tail -n 1)
    local rps; rps=$(awk '/^Requests\/sec:/ { print $2 }' "$WORK/$name.wrk" 2>/dev/null || true)
    sed -i '$ s/$/ '"$polls $records ${missed:-0} ${rps:-0}"'/' "$WORK/$name"
}

echo "web.sh: $ROUNDS rounds of $RUN_SECONDS s each, $CLIENTS clients under load, port $PORT" >&2
for round in $(seq "$ROUNDS"); do
    echo "web.sh: round $round: logger" >&2
    measure plain
    echo "web.sh: round $round: logger with --listen, idle" >&2
    measure idle --listen "127.0.0.1:$PORT"
    echo "web.sh: round $round: logger with --listen, $CLIENTS clients" >&2
    measure load --listen "127.0.0.1:$PORT"
done

worst() { awk -v c="$2" '{ print $c }' "$1" | sort -g | tail -n 1; }
awk -v p1="$(median "$WORK/plain" 1)" -v i1="$(median "$WORK/idle" 1)" -v l1="$(median "$WORK/load" 1)" \
    -v p2="$(median "$WORK/plain" 2)" -v i2="$(median "$WORK/idle" 2)" -v l2="$(median "$WORK/load" 2)" \
    -v p3="$(median "$WORK/plain" 3)" -v i3="$(median "$WORK/idle" 3)" -v l3="$(median "$WORK/load" 3)" \
    -v p4="$(worst "$WORK/plain" 4)" -v i4="$(worst "$WORK/idle" 4)" -v l4="$(worst "$WORK/load" 4)" \
    -v p5="$(worst "$WORK/plain" 5)" -v i5="$(worst "$WORK/idle" 5)" -v l5="$(worst "$WORK/load" 5)" \
    -v p6="$(median "$WORK/plain" 6)" -v i6="$(median "$WORK/idle" 6)" -v l6="$(median "$WORK/load" 6)" \
    -v p7="$(median "$WORK/plain" 7)" -v i7="$(median "$WORK/idle" 7)" -v l7="$(median "$WORK/load" 7)" \
    -v p8="$(worst "$WORK/plain" 8)" -v i8="$(worst "$WORK/idle" 8)" -v l8="$(worst "$WORK/load" 8)" \
    -v l9="$(median "$WORK/load" 9)" -v secs="$RUN_SECONDS" -v from="$STEADY_FROM" -v rounds="$ROUNDS" -v clients="$CLIENTS" '
function row(what, p, i, l, fmt, goal) {
    printf "| %-36s | " fmt " | " fmt " | %5.2f | " fmt " | %5.2f | %-22s |\n", what, p, i, (p > 0 ? i / p : 0), l, (p > 0 ? l / p : 0), goal
}
BEGIN {
    printf "| %-36s | %9s | %9s | %5s | %9s | %5s | %-22s |\n", "median of " rounds " runs (worst for polls)", "logger", "--listen", "ratio", clients " clients", "ratio", "goal"
    printf "|%s|%s|%s|%s|%s|%s|%s|\n", "--------------------------------------", "----------:", "----------:", "------:", "----------:", "------:", "------------------------"
    row("CPU, whole " secs " s run (s)", p1 / 1e9, i1 / 1e9, l1 / 1e9, "%9.3f", "")
    row("CPU, polling " from "-" secs " s (s)", p2 / 1e9, i2 / 1e9, l2 / 1e9, "%9.3f", "idle <= 1.10")
    row("peak resident memory, VmHWM (MiB)", p3 / 1024, i3 / 1024, l3 / 1024, "%9.1f", "<= 1.15")
    row("polls outside 450-550 ms after 2 s", p4, i4, l4, "%9d", "0")
    row("longest time between polls (ms)", p5, i5, l5, "%9.1f", "<= 550")
    row("polls sent again, unanswered", p6, i6, l6, "%9d", "")
    row("records in the log", p7, i7, l7, "%9d", "")
    row("records missed", p8, i8, l8, "%9d", "0")
    printf "\nrequests served a second under load (wrk, %d clients, /metrics and /state.json in turn): %.0f\n", clients, l9
}'
