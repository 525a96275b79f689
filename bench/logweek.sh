#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A week of logging in minutes: the simulated fridge and the logger's clock
# (QUELMAR_LOG_CLOCK) both run RATE times as fast as real time, from Monday
# 23 March 2026, 00:00 in Berlin, through the clock change of the 29th, with
# --rotate daily --clock --clear. Then lists the files with their first
# lines and record counts, and sets the report's total against what the
# meter counted between the first record and the last.
#
#   bench/logweek.sh [--rate K] [--build DIR] [--keep DIR]   (default 2000, build-bench)
#
# At the default rate the week takes five minutes and a record falls about
# every 33 minutes of the logger's clock.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build-bench
RATE=2000
KEEP=
while [ $# -gt 0 ]; do
    case $1 in
        --rate) RATE=$2; shift 2 ;;
        --build) BUILD=$(realpath -m "$2"); shift 2 ;;
        --keep) KEEP=$(realpath -m "$2"); shift 2 ;;
        *) echo "logweek.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
cmake --build "$BUILD" -j2 --target quelmar-log quelmar-meter-sim >&2
SIM=$BUILD/tools/meter-sim/quelmar-meter-sim
WORK=${KEEP:-$(mktemp -d)}
mkdir -p "$WORK"
SIM_PID=
cleanup() {
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
    wait 2>/dev/null
    [ -n "$KEEP" ] || rm -rf "$WORK"
}
trap cleanup EXIT

export TZ=Europe/Berlin
"$SIM" --no-pacing --profile fridge --time-scale "$RATE" --link "$WORK/meter" >/dev/null 2>&1 &
SIM_PID=$!
while [ ! -e "$WORK/meter" ]; do sleep 0.05; done
# Seven days less an hour of the logger's clock: the last record falls on
# Sunday the 29th.
seconds=$(( (7 * 86400 - 3600) / RATE ))
echo "logging a week at ${RATE}x: ${seconds} s"
QUELMAR_LOG_CLOCK="2026-03-23T00:00:00+01:00,$RATE" \
    "$BUILD/quelmar-log" --port "$WORK/meter" --rotate daily --clock --clear --duration "${seconds}s" "$WORK/fridge.csv" 2>/dev/null

cd "$WORK"
files=(fridge-*.csv)
echo "${#files[@]} files:"
for f in "${files[@]}"; do
    printf '  %s  %5d records  first line: %s\n' "$f" $(( $(wc -l < "$f") - 1 )) "$(head -n 1 "$f" | cut -c1-40)..."
done
echo
"$BUILD/quelmar-log" --report "${files[@]}"
echo
first=$(sed -n 2p "${files[0]}" | cut -d, -f2)
last=$(tail -n 1 "${files[-1]}" | cut -d, -f2)
total=$("$BUILD/quelmar-log" --report --csv "${files[@]}" | awk -F, '$1 == "Total" { print $3 }')
awk -v first="$first" -v last="$last" -v total="$total" 'BEGIN {
    printf "meter counter: first record %.3f mWh, last record %.3f mWh, counted between them %.6f kWh\n", first, last, (last - first) / 1e6
    printf "report total: %s kWh: %s\n", total, sprintf("%.6f", (last - first) / 1e6) == total ? "equal" : "DIFFERENT"
    exit sprintf("%.6f", (last - first) / 1e6) == total ? 0 : 1
}'
