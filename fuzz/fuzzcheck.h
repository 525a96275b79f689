// SPDX-License-Identifier: GPL-3.0-or-later
// A failed invariant stops the fuzzer with the condition and its line, and
// libFuzzer saves the input that broke it.
#pragma once

#include <cstdio>

#define FUZZ_REQUIRE(cond) \
    ((cond) ? (void)0 : (std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond), __builtin_trap()))
