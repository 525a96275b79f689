#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_packages "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
configure_and_build "$BUILD"
ctest --test-dir "$BUILD" --output-on-failure -j2

cd "$ROOT"
# The same tests under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan
# Each fuzz target for about a minute on its seed corpus; prints the runs reached.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz
