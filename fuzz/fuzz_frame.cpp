// Command frames for any address and any command text: the frame must fit
// its buffer, carry the command, a checksum the reply-side check accepts and
// an address the reply-side check reads back.
//
// Input: four bytes of address (native order), then the command text, of
// which at most 300 bytes are used; a NUL in it ends the command.
#include "fuzzcheck.h"
#include "link/protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

using namespace quelmar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int add = 0;
    const size_t addBytes = std::min(size, sizeof add);
    std::memcpy(&add, data, addBytes);
    char cmd[301] = {};
    std::memcpy(cmd, data + addBytes, std::min<size_t>(size - addBytes, 300));
    const std::string_view command(cmd, strnlen(cmd, 200));  // what buildFrame uses

    // Exactly the window's buffer size on the heap, so AddressSanitizer
    // catches any write past it.
    const std::unique_ptr<char[]> frame(new char[kFrameBufferSize]);
    std::memset(frame.get(), 'x', kFrameBufferSize);
    const int n = buildFrame(add, cmd, frame.get());
    const char *f = frame.get();
    FUZZ_REQUIRE(n > 0 && n < kFrameBufferSize && int(std::strlen(f)) == n);
    // The rest of the buffer is zero-filled, not left over.
    FUZZ_REQUIRE(std::all_of(f + n, f + kFrameBufferSize, [](char c) { return c == 0; }));
    FUZZ_REQUIRE(f[0] == '<' && f[n - 1] == '\r');
    FUZZ_REQUIRE(std::string_view(f, size_t(n)).find(command) != std::string_view::npos);

    // The same frame coming back as a reply. A ";" in the command ends the
    // checked part early, so only frames without one are judged; high bytes
    // count negative, and no checksum text matches a negative sum.
    std::unique_ptr<char[]> reply(new char[kReplyBufferSize]());
    std::memcpy(reply.get(), f, size_t(n));
    reply[0] = '>';
    const char *semi = static_cast<const char *>(std::memchr(f, ';', size_t(n)));
    FUZZ_REQUIRE(semi != nullptr);
    if (command.find(';') == std::string_view::npos)
        FUZZ_REQUIRE(checkChecksum(reply.get()) == (byteSum(f + 1, semi) >= 0 ? 1 : 0));
    // An address change goes to the broadcast address FF and names the new
    // address after the comma.
    if (add >= 0 && add <= 0xFF)
        FUZZ_REQUIRE(checkAddress(cmd[0] == 'A' ? 0xFF : add, reply.get()) == 1);
    char address[11] = {','};
    addressText(add, address + 1);
    FUZZ_REQUIRE(cmd[0] != 'A' || std::string_view(f, size_t(n)).find(address) != std::string_view::npos);
    return 0;
}
