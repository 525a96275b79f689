// SPDX-License-Identifier: GPL-3.0-or-later
// The meter's ASCII wire format: command frames we send, replies we accept.
// Plain functions over bounded character buffers, shared by the window, the
// simulated meter, the tests, the benchmarks and the fuzz targets.
#pragma once

#include <cstddef>

namespace quelmar {

// A command frame is built in a zero-filled buffer of this size.
constexpr int kFrameBufferSize = 255;
// One read takes at most this many bytes; the reply buffer holds one more
// for the terminating NUL.
constexpr int kReplyCapacity = 1024;
constexpr int kReplyBufferSize = kReplyCapacity + 1;
// Entries in one poll cycle's measurement array.
constexpr int kMeasurementCount = 1024;

// The commands the meter takes, by the letter that stands for each in a frame.
enum class Command : char { Poll = 'S', AddressChange = 'A', Clear = 'E' };

// What a read of a reply, or a poll cycle, comes to: the clear
// acknowledgement, a count of stored entries, nothing usable (0), or, for a
// cycle, kNotPolled when the line was down and nothing was sent. Counts from
// kFirstNotShown up come from reads holding several replies: not one reading
// to show.
constexpr int kNotPolled = -1;
constexpr int kNoReply = 0;
constexpr int kClearAckResult = 99;
constexpr int kFirstNotShown = 90;

// Two-character address text: "0%X" for 0..15, "%X" above. Writes at most
// 9 characters and the NUL into out (which must hold 10).
void addressText(int add, char out[10]);

// Checksum text: "%X" of the sum with "0" in front for 0x100 to 0xFFF and
// "00" in front below 0x100, so every frame we send has four digits (a sum
// below 0x10 would have three). Writes at most 10 characters and the NUL.
void checksumText(int sum, char out[11]);

// Sum of the bytes in [begin, end), each taken as a signed 8-bit value.
int byteSum(const char *begin, const char *end);

// Builds the command frame for address `add` and command text `cmd`
// (at most 200 characters of it are used) into out, NUL-terminated, and
// returns its length in bytes (the carriage return included, the NUL not).
int buildFrame(int add, const char *cmd, char out[kFrameBufferSize]);

// The command text of a frame: the command's letter alone.
struct CommandText {
    char text[2];
    explicit CommandText(Command c) : text{char(c), 0} {}
    operator const char *() const { return text; }
};

// 1 when msg starts with ">" and the two characters after it read as the
// hexadecimal number `add`; else 0.
int checkAddress(int add, const char *msg);

// 1 when the hexadecimal number after the first ";" equals the signed byte
// sum from character 1 up to that ";"; else 0 (also when there is no ";" or
// no digit after it).
// Reads at most kReplyCapacity characters of msg.
int checkChecksum(const char *msg);

// Parses the fields after the header into vals and returns how many entries
// it stored. vals must hold kMeasurementCount entries; msg is read up to its
// NUL or kReplyCapacity characters, whichever comes first.
int parseReply(const char *msg, double *vals);

// True when msg has the shape of a reply: ">" first, and a first ";" at
// index 2 or later, so that its checksum covers at least one byte. Line
// noise such as "\xff;0,..." or ">;0,..." has an empty byte sum that a
// checksum of "0" matches. Reads at most kReplyCapacity characters of msg.
bool hasReplyShape(const char *msg);

// True when msg starts with the clear acknowledgement ">%02dE" for `add`.
bool isClearAck(int add, const char *msg);

// The reply rules for one read (msg, NUL-terminated): the clear
// acknowledgement gives kClearAckResult whatever else holds; otherwise a
// read of a reply's shape whose checksum is right is parsed into vals and
// the count of stored entries is the result; anything else gives 0 and
// leaves vals alone.
int acceptReply(int add, const char *msg, double *vals);

// A result that tells the meter answered.
inline bool isAnswer(int result)
{
    return result > kNoReply;
}

// A result that carries one reading to show and log.
inline bool isReading(int result)
{
    return isAnswer(result) && result < kFirstNotShown;
}

} // namespace quelmar
