#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The communicator side by side with the toolkit's floor (bench/floor) and
# with the command-line logger, all polling the simulated meter, on Qt's
# offscreen platform.
#
#   bench/compare.sh [--seconds N] [--rounds N] [--starts N] [--no-pacing] [--build DIR]
#
# Resources: the three run in turn (floor, program, logger, floor, ...) for
# N seconds each (default 30) against one simulated meter. The meter sends
# its replies at 9600 baud, a byte about every millisecond as a real line
# does, so both programs wake for every byte; with --no-pacing it sends
# each reply at once, which leaves mostly the programs' own work. Of each
# run it reads, from /proc/<pid>:
#   cpu      CPU time of all the process's threads (sum of their schedstat
#            run times, in ns) at the end of the run: start-up included;
#   polling  the CPU time from 5 s after the start to the end: start-up left out;
#            shown too per poll (one poll every 500 ms);
#   VmHWM    peak resident memory.
# The table gives the median over the rounds, the program/floor ratios and
# the logger/program ratios (the logger writes a record a second to a file).
#
# Start-up: quelmar-startprobe starts each program (in turn again, --starts
# times each) on a pseudo-terminal of its own and times, from just before
# the start:
#   shown    the first flush of the window to the screen, seen as the first
#            "Flushing" line of Qt's qt.widgets.painting log on stderr (the
#            same log is on for both programs);
#   frame    the first byte the program writes to the line. Both start their
#            500 ms poll timer before showing the window, so this is start-up
#            plus one poll period.
#
# Builds what it needs in DIR (default build-bench, configured for Release
# with the benchmarks on if it is not configured yet). Prints the table on
# stdout and exits non-zero if a run failed. Needs no display.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build-bench
RUN_SECONDS=30
ROUNDS=2
STARTS=5
STEADY_FROM=5
SIM_OPTIONS=()

while [ $# -gt 0 ]; do
    case $1 in
        --seconds) RUN_SECONDS=$2; shift 2 ;;
        --rounds) ROUNDS=$2; shift 2 ;;
        --starts) STARTS=$2; shift 2 ;;
        --no-pacing) SIM_OPTIONS+=(--no-pacing); shift ;;
        --build) BUILD=$(realpath -m "$2"); shift 2 ;;
        -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) echo "compare.sh: unknown argument $1 (try --help)" >&2; exit 2 ;;
    esac
done
if ! [ "$RUN_SECONDS" -gt "$STEADY_FROM" ] 2>/dev/null; then
    echo "compare.sh: --seconds must be a whole number above $STEADY_FROM" >&2
    exit 2
fi

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUELMAR_BUILD_BENCH=ON >&2
fi
cmake --build "$BUILD" -j2 --target quelmar-communicator quelmar-log quelmar-floor quelmar-meter-sim \
    quelmar-startprobe >&2

PROGRAM=$BUILD/quelmar-communicator
LOGGER=$BUILD/quelmar-log
FLOOR=$BUILD/bench/quelmar-floor
SIM=$BUILD/tools/meter-sim/quelmar-meter-sim
PROBE=$BUILD/bench/quelmar-startprobe

WORK=$(mktemp -d)
SIM_PID=
RUN_PID=
cleanup() {
    [ -n "$RUN_PID" ] && kill "$RUN_PID" 2>/dev/null && wait "$RUN_PID" 2>/dev/null
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

# Private settings and runtime folders: nothing of the user's is read or
# written, and both programs start the same way every time.
export QT_QPA_PLATFORM=offscreen
export XDG_CONFIG_HOME=$WORK/config
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

"$SIM" "${SIM_OPTIONS[@]}" > "$WORK/sim.out" 2> "$WORK/sim.err" &
SIM_PID=$!
for _ in $(seq 50); do
    [ -s "$WORK/sim.out" ] && break
    sleep 0.1
done
METER=$(head -n 1 "$WORK/sim.out")
if [ -z "$METER" ]; then
    echo "compare.sh: the simulated meter did not start" >&2
    exit 1
fi

source "$ROOT/bench/procstat.sh"

# probe NAME COMMAND...: one start-up timing, appended as "shown_ms frame_ms".
probe() {
    local name=$1; shift
    QT_LOGGING_RULES='qt.widgets.painting=true' \
        "$PROBE" --link "$WORK/probe-port" --watch 'Flushing' -- "$@" > "$WORK/probe.out"
    awk '{ v[$1] = $2 } END { print v["shown_ms"], v["frame_ms"] }' "$WORK/probe.out" >> "$WORK/$name.start"
}

echo "compare.sh: $ROUNDS rounds of $RUN_SECONDS s each, meter on $METER ${SIM_OPTIONS[*]}" >&2
for round in $(seq "$ROUNDS"); do
    echo "compare.sh: round $round: floor" >&2
    run floor "$FLOOR" "$METER"
    echo "compare.sh: round $round: program" >&2
    run program "$PROGRAM" --port "$METER"
    echo "compare.sh: round $round: logger" >&2
    run logger "$LOGGER" --port "$METER" "$WORK/logger-$round.csv"
done

echo "compare.sh: $STARTS start-ups each" >&2
for _ in $(seq "$STARTS"); do
    probe floor "$FLOOR" '{port}'
    probe program "$PROGRAM" --port '{port}'
done

polls=$(( (RUN_SECONDS - STEADY_FROM) * 2 ))
awk -v fc="$(median "$WORK/floor" 1)" -v pc="$(median "$WORK/program" 1)" -v lc="$(median "$WORK/logger" 1)" \
    -v fs="$(median "$WORK/floor" 2)" -v ps="$(median "$WORK/program" 2)" -v ls="$(median "$WORK/logger" 2)" \
    -v fm="$(median "$WORK/floor" 3)" -v pm="$(median "$WORK/program" 3)" -v lm="$(median "$WORK/logger" 3)" \
    -v fw="$(median "$WORK/floor.start" 1)" -v pw="$(median "$WORK/program.start" 1)" \
    -v ff="$(median "$WORK/floor.start" 2)" -v pf="$(median "$WORK/program.start" 2)" \
    -v polls="$polls" -v secs="$RUN_SECONDS" -v from="$STEADY_FROM" -v rounds="$ROUNDS" -v starts="$STARTS" '
function row(what, f, p, l, unit, fmt) {
    printf "| %-38s | " fmt " | " fmt " | %5.2f | " fmt " | %5.2f |\n", what " (" unit ")", f, p,
        (f > 0 ? p / f : 0), l, (p > 0 ? l / p : 0)
}
BEGIN {
    printf "| %-38s | %9s | %9s | %5s | %9s | %5s |\n", "median of " rounds " runs / " starts " starts",
        "floor", "program", "/floor", "logger", "/prog"
    printf "|%s|%s|%s|%s|%s|%s|\n", "----------------------------------------", "----------:", "----------:",
        "------:", "----------:", "------:"
    row("CPU, whole " secs " s run", fc / 1e9, pc / 1e9, lc / 1e9, "s", "%9.3f")
    row("CPU, polling " from "-" secs " s", fs / 1e9, ps / 1e9, ls / 1e9, "s", "%9.3f")
    row("CPU per poll, polling", fs / polls / 1e3, ps / polls / 1e3, ls / polls / 1e3, "us", "%9.1f")
    row("peak resident memory, VmHWM", fm / 1024, pm / 1024, lm / 1024, "MiB", "%9.1f")
    row("start-up to window shown", fw, pw, 0, "ms", "%9.1f")
    row("start-up to first frame on wire", ff, pf, 0, "ms", "%9.1f")
}'
