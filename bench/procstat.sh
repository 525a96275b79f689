#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What the side-by-side benchmarks read of a running process, sourced by
# them.

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
