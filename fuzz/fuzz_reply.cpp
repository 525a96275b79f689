// SPDX-License-Identifier: GPL-3.0-or-later
// Whatever the line delivers goes through the reply path the way the window
// takes it in: at most kReplyCapacity bytes per read into a zero-filled
// buffer, so a NUL ends the reply early and the last byte stays NUL. Longer
// input is what the next reads would find.
#include "fuzzcheck.h"
#include "core/wire/protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

using namespace quelmar;

namespace {

// Entries past the measurement array, which parsing must never reach.
constexpr int kGuardCount = 16;
constexpr double kUntouched = -7.25e300;

void oneRead(const uint8_t *bytes, size_t n)
{
    char msg[kReplyBufferSize] = {};
    std::memcpy(msg, bytes, n);
    const int len = int(strnlen(msg, kReplyCapacity));
    FUZZ_REQUIRE(!checkChecksum(msg) || std::memchr(msg, ';', size_t(len)));

    // Entries up to the reply's length cleared or filled, none beyond touched.
    static double vals[kMeasurementCount + kGuardCount];
    std::fill(std::begin(vals), std::end(vals), kUntouched);
    const int count = parseReply(msg, vals);
    FUZZ_REQUIRE(count >= 0 && count <= len);
    for (int k = count; k < len; ++k)
        FUZZ_REQUIRE(vals[k] == 0.0);
    for (int k = len; k < kMeasurementCount + kGuardCount; ++k)
        FUZZ_REQUIRE(vals[k] == kUntouched);
    // The whole reply path, as the serial line takes a read.
    FUZZ_REQUIRE(acceptReply(1, msg, vals) <= std::max(len, int(kClearAckResult)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    size_t offset = 0;
    do {
        const size_t n = std::min(size - offset, size_t(kReplyCapacity));
        oneRead(data + offset, n);
        offset += n;
    } while (offset < size);
    return 0;
}
