// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol.h"

#include <QByteArrayView>

#include <cstdio>
#include <cstring>

namespace quelmar {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int boundedLength(const char *msg)
{
    return int(strnlen(msg, kReplyCapacity));
}

// Index of the first c in msg[from, end), or -1.
int find(const char *msg, int from, int end, char c)
{
    const void *hit = from < end ? std::memchr(msg + from, c, size_t(end - from)) : nullptr;
    return hit ? int(static_cast<const char *>(hit) - msg) : -1;
}

} // namespace

void addressText(int add, char out[10])
{
    if (add > 15)
        std::snprintf(out, 10, "%X", unsigned(add));
    else
        std::snprintf(out, 10, "0%X", unsigned(add));
}

void checksumText(int sum, char out[11])
{
    if (sum > 0xFFF)
        std::snprintf(out, 11, "%X", unsigned(sum));
    else if (sum >= 0x100)
        std::snprintf(out, 11, "0%X", unsigned(sum));
    else
        std::snprintf(out, 11, "00%X", unsigned(sum));
}

int byteSum(const char *begin, const char *end)
{
    int sum = 0;
    for (const char *p = begin; p < end; ++p)
        sum += static_cast<signed char>(*p);
    return sum;
}

int buildFrame(int add, const char *cmd, char out[kFrameBufferSize])
{
    std::memset(out, 0, kFrameBufferSize);
    char address[10];
    addressText(add, address);
    const bool addressChange = cmd[0] == 'A';

    int n = 0;
    auto append = [&](const char *s, size_t len) {
        std::memcpy(out + n, s, len);
        n += int(len);
    };
    out[n++] = '<';
    if (addressChange)
        append("FF", 2);
    else
        append(address, std::strlen(address));
    append(cmd, strnlen(cmd, 200));
    out[n++] = ',';
    if (addressChange)
        append(address, std::strlen(address));
    out[n++] = ';';

    char sum[11];
    checksumText(byteSum(out + 1, out + n - 1), sum);
    append(sum, std::strlen(sum));
    out[n++] = '\r';
    return n;
}

int checkAddress(int add, const char *msg)
{
    if (msg[0] != '>')
        return 0;
    int value = 0;
    for (int k = 1; k <= 2; ++k) {
        const int d = hexDigit(msg[k]);
        if (d < 0)
            break;
        value = value * 16 + d;
    }
    return value == add ? 1 : 0;
}

int checkChecksum(const char *msg)
{
    const int len = boundedLength(msg);
    const int semi = find(msg, 0, len, ';');
    if (semi < 0)
        return 0;
    const long long sum = semi > 1 ? byteSum(msg + 1, msg + semi) : 0;

    int p = semi + 1;
    while (p < len && isSpace(msg[p]))
        ++p;
    // Digits past what a byte sum of 1024 bytes can reach can never match;
    // stop accumulating before the value could overflow.
    long long value = 0;
    bool tooLarge = false;
    // A reply without checksum digits is no reply: junk such as "x;" would
    // otherwise match its empty sum.
    if (p >= len || hexDigit(msg[p]) < 0)
        return 0;
    for (int d; p < len && (d = hexDigit(msg[p])) >= 0; ++p) {
        if (value > 0xFFFFFFFFLL)
            tooLarge = true;
        else
            value = value * 16 + d;
    }
    return !tooLarge && value == sum ? 1 : 0;
}

int parseReply(const char *msg, double *vals)
{
    const int len = boundedLength(msg);
    for (int k = 0; k < len; ++k)
        vals[k] = 0.0;

    int sep = find(msg, 0, len, ',');
    if (sep < 0)
        return 0;

    int i = 0;
    for (;;) {
        // A ";" ends a field just as a "," does, so that a second reply in
        // the same read cannot swallow the last field of the first.
        int next = sep + 1;
        while (next < len && msg[next] != ',' && msg[next] != ';')
            ++next;
        if (next == len)
            next = -1;
        const char *field = msg + sep + 1;
        if (next >= 0) {
            vals[i] = QByteArrayView(field, next - sep - 1).toDouble();
        } else {
            vals[i] = QByteArrayView(field, len - sep - 1).toInt(nullptr, 16);
        }
        ++i;
        if (next < 0 || i >= len)
            return i;
        sep = next;
    }
}

bool hasReplyShape(const char *msg)
{
    const int semi = find(msg, 0, boundedLength(msg), ';');
    return msg[0] == '>' && semi >= 2;
}

bool isClearAck(int add, const char *msg)
{
    char ack[16];
    const int n = std::snprintf(ack, sizeof ack, ">%02dE", add);
    return strncmp(msg, ack, size_t(n)) == 0;
}

int acceptReply(int add, const char *msg, double *vals)
{
    int result = 0;
    // The address does not decide: there is one meter on the line, and its
    // answer to an address change may still carry another address. Only a
    // reply whose checksum is right may fill the array, and noise that is
    // not shaped like a reply is refused before its checksum is looked at.
    if (hasReplyShape(msg) && checkChecksum(msg))
        result = parseReply(msg, vals);
    return isClearAck(add, msg) ? kClearAckResult : result;
}

} // namespace quelmar
