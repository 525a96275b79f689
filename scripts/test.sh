#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_packages "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
cd "$ROOT"
build_preset default
ctest --preset default -j"$(nproc)"
# The same tests under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
build_preset asan
ctest --preset asan
# Each fuzz target for about a minute on its seed corpus; prints the runs reached.
build_preset fuzz
ctest --preset fuzz -j"$(nproc)"
