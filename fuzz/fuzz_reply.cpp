// Whatever the line delivers goes through the reply path the way the window
// takes it in: at most kReplyCapacity bytes per read into a zero-filled
// buffer of kReplyBufferSize, so a NUL ends the reply early and the last
// byte always stays NUL. Longer input is what the next reads would find, so
// it is fed on in further reads.
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
// Parsing writes only +0.0 and field values, so entries it may not touch
// keep this pattern.
constexpr double kUntouched = -7.25e300;

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The reply's text up to its ";" (or all of it) with the checksum that
// checksumText gives its byte sum passes; one more, or no digits, does not.
// Digits for a negative sum (high bytes count negative) read as a large value.
void checkChecksumRoundTrip(const char *msg, int len)
{
    const char *semi = static_cast<const char *>(std::memchr(msg, ';', size_t(len)));
    const int head = std::min(semi ? int(semi - msg) : len, kReplyCapacity - 12);
    const int sum = head > 1 ? byteSum(msg + 1, msg + head) : 0;
    for (int off : {0, 1, -1}) {  // -1: no digits
        char rebuilt[kReplyBufferSize] = {};
        std::memcpy(rebuilt, msg, size_t(head));
        rebuilt[head] = ';';
        if (off >= 0)
            checksumText(sum + off, rebuilt + head + 1);
        rebuilt[std::strlen(rebuilt)] = '\r';
        FUZZ_REQUIRE(checkChecksum(rebuilt) == (off == 0 && sum >= 0 ? 1 : 0));
    }
}

// One read of n (at most kReplyCapacity) bytes, as the window handles it.
void oneRead(const uint8_t *bytes, size_t n)
{
    char msg[kReplyBufferSize] = {};
    std::memcpy(msg, bytes, n);
    const int len = int(strnlen(msg, kReplyCapacity));
    // The receive line shows the text up to the first NUL.
    FUZZ_REQUIRE(QString::fromLatin1(msg).size() == len);

    // Only a reply header carries an address or a clear acknowledgement.
    FUZZ_REQUIRE(msg[0] == '>' || (checkAddress(1, msg) == 0 && !isClearAck(1, msg)));
    FUZZ_REQUIRE(!isClearAck(1, msg) || checkAddress(1, msg) == 1);

    const int checksumOk = checkChecksum(msg);
    FUZZ_REQUIRE(checksumOk == 0 || checksumOk == 1);
    FUZZ_REQUIRE(!checksumOk || std::memchr(msg, ';', size_t(len)));
    checkChecksumRoundTrip(msg, len);

    // Parsed whatever the checksum says (the window then ignores the values):
    // fields only after a comma, entries up to the reply's length cleared,
    // none beyond it touched.
    static double vals[kMeasurementCount + kGuardCount];
    std::fill(std::begin(vals), std::end(vals), kUntouched);
    const int count = parseReply(msg, vals);
    FUZZ_REQUIRE(count >= 0 && count <= len);
    FUZZ_REQUIRE((count == 0) == (std::memchr(msg, ',', size_t(len)) == nullptr));
    for (int k = count; k < len; ++k)
        FUZZ_REQUIRE(sameBits(vals[k], 0.0));
    for (int k = len; k < kMeasurementCount + kGuardCount; ++k)
        FUZZ_REQUIRE(sameBits(vals[k], kUntouched));
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
