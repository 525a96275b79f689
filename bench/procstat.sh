#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What the side-by-side benchmarks read of a running process, and how they
# run one; sourced by them.

# CPU nanoseconds of all threads of a process.
cpu_ns() {
    local total=0 t run _
    for t in /proc/"$1"/task/*/schedstat; do
        read -r run _ < "$t" || continue
        total=$((total + run))
    done
    echo "$total"
}

# Peak resident memory of a process, in KiB.
hwm_kb() { awk '/^VmHWM:/ { print $2 }' /proc/"$1"/status; }

# Median of column $2 of file $1.
median() {
    awk -v c="$2" '{ print $c }' "$1" | sort -g |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# run NAME COMMAND...: runs it for RUN_SECONDS and appends "cpu_ns
# steady_ns hwm_kb" to $WORK/NAME, steady_ns being the CPU time from
# STEADY_FROM seconds on. Its stderr goes to $WORK/NAME.err, shown if it
# ends early. RUN_PID is the process while it runs, for the caller's clean-up.
run() {
    local name=$1; shift
    "$@" 2>> "$WORK/$name.err" &
    RUN_PID=$!
    sleep "$STEADY_FROM"
    local early; early=$(cpu_ns "$RUN_PID")
    sleep $((RUN_SECONDS - STEADY_FROM))
    if ! kill -0 "$RUN_PID" 2>/dev/null; then
        echo "$(basename "$0"): $name ended early; its messages:" >&2
        cat "$WORK/$name.err" >&2
        exit 1
    fi
    local late hwm
    late=$(cpu_ns "$RUN_PID")
    hwm=$(hwm_kb "$RUN_PID")
    kill "$RUN_PID"
    wait "$RUN_PID" 2>/dev/null || true
    RUN_PID=
    echo "$late $((late - early)) $hwm" >> "$WORK/$name"
}
