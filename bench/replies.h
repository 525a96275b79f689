// SPDX-License-Identifier: GPL-3.0-or-later
// Meter replies and measurement arrays as the meter produces them while an
// appliance runs, one per poll, half a second apart.
#pragma once

#include "core/wire/protocol.h"

#include <QByteArray>

namespace quelmar::bench {

// The n-th reply (from 0) of a 120 W load on 230 V at power factor 0.9:
// ">01S,count,0,elapsed s,energy mW·s,power mW,µV,µA,lag,pf ppm,mVA;sum\r".
// With `varying`, every reading moves on every poll, as with a load that
// never settles; otherwise only the count, time and energy do.
inline QByteArray meterReply(long long n, bool varying = false)
{
    const long long elapsed = n / 2;
    const long long wobble = varying ? n % 997 : 0;
    const long long fields[] = {n + 1, 0, elapsed, elapsed * 120000, 120000 + 11 * wobble,
                                230000000 + 1013 * wobble, 579710 + 3 * wobble, 1,
                                900000 - 7 * wobble, 133333 + 13 * wobble};
    QByteArray reply = ">01S";
    for (long long f : fields)
        reply += ',' + QByteArray::number(f);
    reply += ';';
    char sum[11];
    quelmar::checksumText(quelmar::byteSum(reply.constData() + 1, reply.constData() + reply.size() - 1),
                          sum);
    reply += sum;
    reply += '\r';
    return reply;
}

// Replies back to back up to a full read of kReplyCapacity bytes; the last
// one is cut off where the read ends, as it is on the line.
inline QByteArray fullRead()
{
    QByteArray read;
    for (long long n = 0; read.size() < quelmar::kReplyCapacity; ++n)
        read += meterReply(n);
    read.truncate(quelmar::kReplyCapacity);
    return read;
}

// The measurement array the n-th reply fills.
inline void meterValues(long long n, bool varying, double *vals)
{
    const QByteArray reply = meterReply(n, varying);
    quelmar::parseReply(reply.constData(), vals);
}

// The n-th reading (half a second apart) of a fridge: 120 W while its
// compressor runs, 40 s of every 120 s, else 2 W; the energy counter runs on.
inline void fridgeValues(long long n, double *vals)
{
    const bool running = n % 240 < 80;
    const double watts = running ? 120 : 2;
    const long long cycles = n / 240, phase = n % 240;
    const double joules = cycles * (40 * 120.0 + 80 * 2.0) + (running ? phase * 60.0 : 40 * 120.0 + (phase - 80) * 1.0);
    vals[2] = double(n / 2);
    vals[3] = joules * 1000;            // mW·s
    vals[4] = watts * 1000;             // mW
    vals[5] = 230e6;                    // µV
    vals[6] = watts / (230 * 0.9) * 1e6; // µA
    vals[7] = 1;
    vals[8] = 900000;
    vals[9] = watts / 0.9 * 1000;       // mVA
}

} // namespace quelmar::bench
