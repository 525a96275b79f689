// Command frames for any address and any command text: the frame must fit
// its buffer, carry a checksum the reply-side check accepts, and an address
// the reply-side check reads back.
//
// Input: four bytes of address (native order), then the command text, of
// which at most 300 bytes are used; a NUL in it ends the command.
#include "fuzzcheck.h"
#include "link/protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

using namespace quelmar;

namespace {

constexpr size_t kMaxCommandInput = 300;
// buildFrame uses this much of the command text.
constexpr int kCommandLimit = 200;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int add = 0;
    const size_t addBytes = std::min(size, sizeof add);
    std::memcpy(&add, data, addBytes);

    char cmd[kMaxCommandInput + 1] = {};
    std::memcpy(cmd, data + addBytes, std::min(size - addBytes, kMaxCommandInput));
    const int cmdLength = int(strnlen(cmd, kCommandLimit));

    // Exactly the window's buffer size on the heap, so any write past it is
    // caught by AddressSanitizer.
    const std::unique_ptr<char[]> frame(new char[kFrameBufferSize]);
    std::memset(frame.get(), 'x', kFrameBufferSize);
    const int n = buildFrame(add, cmd, frame.get());
    const char *f = frame.get();

    FUZZ_REQUIRE(n > 0 && n <= kFrameBufferSize - 1);
    FUZZ_REQUIRE(int(std::strlen(f)) == n);
    // The rest of the buffer is zero-filled, not left over.
    for (int k = n; k < kFrameBufferSize; ++k)
        FUZZ_REQUIRE(f[k] == 0);
    FUZZ_REQUIRE(f[0] == '<' && f[n - 1] == '\r');

    const bool addressChange = cmd[0] == 'A';
    char address[10];
    addressText(add, address);
    const int addressLength = int(std::strlen(address));
    FUZZ_REQUIRE(addressLength >= 2 && addressLength <= 9);

    // "<" address command "," [new address] ";" checksum CR; an address
    // change goes to the broadcast address with the new one after the comma.
    const char *header = addressChange ? "FF" : address;
    const int headerLength = int(std::strlen(header));
    FUZZ_REQUIRE(std::memcmp(f + 1, header, size_t(headerLength)) == 0);
    FUZZ_REQUIRE(std::memcmp(f + 1 + headerLength, cmd, size_t(cmdLength)) == 0);
    int p = 1 + headerLength + cmdLength;
    FUZZ_REQUIRE(f[p++] == ',');
    if (addressChange) {
        FUZZ_REQUIRE(std::memcmp(f + p, address, size_t(addressLength)) == 0);
        p += addressLength;
    }
    const int semi = p;
    FUZZ_REQUIRE(f[semi] == ';');

    // The checksum text is that of the byte sum between "<" and ";".
    const int sum = byteSum(f + 1, f + semi);
    char sumText[11];
    checksumText(sum, sumText);
    FUZZ_REQUIRE(n == semi + 1 + int(std::strlen(sumText)) + 1);
    FUZZ_REQUIRE(std::memcmp(f + semi + 1, sumText, std::strlen(sumText)) == 0);

    // The same frame coming back as a reply. A ";" inside the command ends
    // the checked part early, so only frames without one are judged; their
    // checksum passes exactly when the sum is not negative (high bytes in
    // the command count negative, and no hex text equals a negative sum).
    std::unique_ptr<char[]> reply(new char[kReplyBufferSize]());
    std::memcpy(reply.get(), f, size_t(n));
    reply[0] = '>';
    if (!std::memchr(cmd, ';', size_t(cmdLength)))
        FUZZ_REQUIRE(checkChecksum(reply.get()) == (sum >= 0 ? 1 : 0));
    if (!addressChange && add >= 0 && add <= 0xFF)
        FUZZ_REQUIRE(checkAddress(add, reply.get()) == 1);
    return 0;
}
