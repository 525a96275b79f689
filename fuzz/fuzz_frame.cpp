// SPDX-License-Identifier: GPL-3.0-or-later
// Command frames for any address and any command text must fit their buffer
// and carry a checksum that the reply-side check accepts.
//
// Input: four bytes of address (native order), then the command text; a NUL
// in it ends the command.
#include "fuzzcheck.h"
#include "core/wire/protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

using namespace quelmar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int add = 0;
    const size_t addBytes = std::min(size, sizeof add);
    std::memcpy(&add, data, addBytes);
    char cmd[301] = {};
    std::memcpy(cmd, data + addBytes, std::min<size_t>(size - addBytes, 300));

    // Exactly the window's buffer on the heap, so AddressSanitizer sees any
    // write past it.
    const std::unique_ptr<char[]> frame(new char[kFrameBufferSize]);
    const int n = buildFrame(add, cmd, frame.get());
    const char *f = frame.get();
    FUZZ_REQUIRE(n > 0 && n < kFrameBufferSize && int(std::strlen(f)) == n);
    FUZZ_REQUIRE(f[0] == '<' && f[n - 1] == '\r');

    // The frame coming back as a reply passes the checksum check when the
    // command holds no ";" of its own and its bytes sum to a positive value.
    const bool plain = !std::memchr(cmd, ';', strnlen(cmd, 200));
    const char *semi = static_cast<const char *>(std::memchr(f, ';', size_t(n)));
    if (plain && byteSum(f + 1, semi) >= 0)
        FUZZ_REQUIRE(checkChecksum(f) == 1);
    return 0;
}
