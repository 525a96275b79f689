// Whatever the line delivers goes through the reply path the way the window
// takes it in: at most kReplyCapacity bytes per read into a zero-filled
// buffer of kReplyBufferSize, address and checksum checked, the fields
// parsed only when the checksum is right, then the clear acknowledgement.
// Longer input is what the next reads would find, so it is fed on in
// further reads.
#include "fuzzcheck.h"
#include "link/protocol.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstring>

using namespace quelmar;

namespace {

// Entries past the measurement array; parseReply must never reach them.
constexpr int kGuardCount = 16;
// What the array holds before a read. Parsing writes only +0.0 and parsed
// field values, so entries it was not allowed to touch keep this pattern.
constexpr double kUntouched = -7.25e300;

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

void checkAddressOf(const char *msg)
{
    if (msg[0] != '>') {
        FUZZ_REQUIRE(checkAddress(1, msg) == 0);
        FUZZ_REQUIRE(checkAddress(0, msg) == 0);
        return;
    }
    if (isHex(msg[1]) && isHex(msg[2])) {
        const int add = hexValue(msg[1]) * 16 + hexValue(msg[2]);
        FUZZ_REQUIRE(checkAddress(add, msg) == 1);
        FUZZ_REQUIRE(checkAddress(add + 1, msg) == 0);
        FUZZ_REQUIRE(checkAddress(add - 256, msg) == 0);
    }
}

// The reply's own header with a checksum made by checksumText must pass
// checkChecksum exactly when the byte sum can be written as one.
void checkChecksumRoundTrip(const char *msg, int len)
{
    const char *semi = static_cast<const char *>(std::memchr(msg, ';', size_t(len)));
    const int head = std::min(semi ? int(semi - msg) : len, kReplyCapacity - 12);
    const int sum = head > 1 ? byteSum(msg + 1, msg + head) : 0;

    char rebuilt[kReplyBufferSize] = {};
    std::memcpy(rebuilt, msg, size_t(head));
    rebuilt[head] = ';';
    checksumText(sum, rebuilt + head + 1);
    // checksumText's digits for a negative sum read as a large positive value.
    FUZZ_REQUIRE(checkChecksum(rebuilt) == (sum >= 0 ? 1 : 0));
    rebuilt[head + 1 + std::strlen(rebuilt + head + 1)] = '\r';
    FUZZ_REQUIRE(checkChecksum(rebuilt) == (sum >= 0 ? 1 : 0));
}

void checkParse(const char *msg, int len)
{
    static double vals[kMeasurementCount + kGuardCount];
    std::fill(std::begin(vals), std::end(vals), kUntouched);

    const int count = parseReply(msg, vals);

    const char *comma = static_cast<const char *>(std::memchr(msg, ',', size_t(len)));
    if (!comma) {
        FUZZ_REQUIRE(count == 0);
    } else {
        // One field after the first comma, and one more after every later
        // separator, "," or ";".
        int separators = 0;
        for (const char *p = comma + 1; p < msg + len; ++p)
            separators += (*p == ',' || *p == ';');
        FUZZ_REQUIRE(count == 1 + separators);
    }
    FUZZ_REQUIRE(count >= 0 && count <= len);

    // The last field is read as a hexadecimal int.
    if (count > 0) {
        const double last = vals[count - 1];
        FUZZ_REQUIRE(last == double(int(last)));
    }
    // Entries up to the reply's length are cleared, none beyond it touched.
    for (int k = count; k < len; ++k)
        FUZZ_REQUIRE(sameBits(vals[k], 0.0));
    for (int k = len; k < kMeasurementCount + kGuardCount; ++k)
        FUZZ_REQUIRE(sameBits(vals[k], kUntouched));
}

void checkClearAck(const char *msg)
{
    FUZZ_REQUIRE(isClearAck(1, msg) == (std::strncmp(msg, ">01E", 4) == 0));
    if (msg[0] == '>' && msg[1] >= '0' && msg[1] <= '9' && msg[2] >= '0' && msg[2] <= '9') {
        const int add = (msg[1] - '0') * 10 + (msg[2] - '0');
        FUZZ_REQUIRE(isClearAck(add, msg) == (msg[3] == 'E'));
    }
    if (msg[0] != '>')
        FUZZ_REQUIRE(!isClearAck(1, msg) && !isClearAck(-1, msg) && !isClearAck(1000, msg));
}

// One read of n (at most kReplyCapacity) bytes, as the window handles it.
void oneRead(const uint8_t *bytes, size_t n)
{
    char msg[kReplyBufferSize] = {};
    std::memcpy(msg, bytes, n);
    // A NUL on the line ends the reply early.
    const int len = int(strnlen(msg, kReplyCapacity));

    if (n > 0) {
        checkAddressOf(msg);
        const int checksumOk = checkChecksum(msg);
        FUZZ_REQUIRE(checksumOk == 0 || checksumOk == 1);
        if (checksumOk) {
            FUZZ_REQUIRE(std::memchr(msg, ';', size_t(len)) != nullptr);
            checkParse(msg, len);
        }
        checkChecksumRoundTrip(msg, len);
    }
    FUZZ_REQUIRE(QString::fromLatin1(msg).size() == len);
    checkClearAck(msg);

    // Parsing is harmless whatever the checksum says; the window just
    // does not use the values then.
    checkParse(msg, len);
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
