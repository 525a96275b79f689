#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every benchmark in one go, on Qt's offscreen platform, in build-bench:
#   the widget-free work of a poll (frames, replies, texts, log records),
#   one poll cycle through the window,
#   a day of logging driven directly,
#   a report over a year of one-second logs,
#   the Chart tab over a year of one-minute logs, as days,
#   the program side by side with the toolkit's floor (bench/compare.sh,
#   which takes the arguments given here),
#   the logger with and without publishing to MQTT (bench/mqtt.sh),
#   the logger serving its page and metrics, idle and under load (bench/web.sh).
# Installs what is missing like scripts/run.sh, builds for Release, and
# prints the results; docs/performance.md says how to read them.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/setup.sh"

BENCH_BUILD=$ROOT/build-bench
install_packages "${RUN_PACKAGES[@]}" libbenchmark-dev mosquitto mosquitto-clients openssl wrk
build_preset bench >&2

export QT_QPA_PLATFORM=offscreen
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
    export XDG_RUNTIME_DIR
fi
reps=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
# The median and its spread (cv) of each benchmark.
medians() { grep -E '^Benchmark|_median|_cv'; }

echo "== The widget-free work of a poll (median of 5)"
"$BENCH_BUILD/bench/quelmar-bench-core" "${reps[@]}" | medians
echo
echo "== One poll cycle through the window (median of 5)"
"$BENCH_BUILD/bench/quelmar-bench-window" "${reps[@]}" | medians
echo
echo "== A day of logging"
"$BENCH_BUILD/bench/quelmar-logday"
echo
echo "== A report over a year of logs"
"$BENCH_BUILD/bench/quelmar-bench-report"
echo
echo "== The Chart tab over a year of logs"
"$BENCH_BUILD/bench/quelmar-bench-chart" 2>/dev/null
echo
echo "== Side by side with the toolkit's floor"
"$ROOT/bench/compare.sh" --build "$BENCH_BUILD" "$@"
echo
echo "== The logger with and without publishing to MQTT"
"$ROOT/bench/mqtt.sh" --build "$BENCH_BUILD"
echo
echo "== The logger alone, with --listen, and with --listen under 50 clients"
"$ROOT/bench/web.sh" --build "$BENCH_BUILD"
