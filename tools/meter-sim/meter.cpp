// SPDX-License-Identifier: GPL-3.0-or-later
#include "meter.h"

#include "core/wire/protocol.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace quelmar::sim {

namespace {

constexpr double kCycle = 120.0;      // fridge cycle, s
constexpr double kSurgeEnd = 2.0;     // surge from 0 to here
constexpr double kRunEnd = 40.0;      // compressor runs from 0 to here
constexpr double kSurgeFactor = 4.0;
constexpr double kIdleFactor = 1.0 / 60.0;

// Integral of the fridge factor over [0, phase], phase within one cycle.
double fridgePartial(double phase)
{
    return kSurgeFactor * std::min(phase, kSurgeEnd)
        + std::max(0.0, std::min(phase, kRunEnd) - kSurgeEnd)
        + kIdleFactor * std::max(0.0, phase - kRunEnd);
}

} // namespace

LoadModel::LoadModel(const LoadConfig &config, Clock clock)
    : m_config(config), m_clock(std::move(clock)), m_start(m_clock())
{
}

double LoadModel::meterTime() const
{
    return std::max(0.0, (m_clock() - m_start) * m_config.timeScale);
}

double LoadModel::factor(double t) const
{
    if (m_config.profile == Profile::Constant)
        return 1.0;
    const double phase = std::fmod(t, kCycle);
    if (phase < kSurgeEnd)
        return kSurgeFactor;
    return phase < kRunEnd ? 1.0 : kIdleFactor;
}

double LoadModel::integral(double t) const
{
    if (m_config.profile == Profile::Constant)
        return t;
    const double cycles = std::floor(t / kCycle);
    return cycles * fridgePartial(kCycle) + fridgePartial(t - cycles * kCycle);
}

void LoadModel::clear()
{
    m_clearedAt = meterTime();
}

Reading LoadModel::read() const
{
    const LoadConfig &c = m_config;
    const double t = meterTime();
    const double amps = c.amps * factor(t);
    // Every derived field comes from the same exact values, so the fields
    // agree with each other to within their last digit.
    const double runningMilliwatts = c.volts * c.amps * c.pf * 1e3;
    Reading r;
    r.elapsed = (long long)std::floor(t - m_clearedAt);
    r.energy = std::llround(runningMilliwatts * (integral(t) - integral(m_clearedAt)));
    r.power = std::llround(c.volts * amps * c.pf * 1e3);
    r.voltage = std::llround(c.volts * 1e6);
    r.current = std::llround(amps * 1e6);
    r.lag = c.lag ? 1 : 0;
    r.pf = std::llround(c.pf * 1e6);
    r.apparent = std::llround(c.volts * amps * 1e3);
    return r;
}

Session::Session(int address, LoadModel &model, const Faults &faults, std::uint64_t seed)
    : m_address(address), m_model(model), m_faults(faults), m_rng(seed)
{
}

bool Session::chance(double p)
{
    // Drawn from the raw generator so a seed gives the same run everywhere.
    return p > 0.0 && double(m_rng() >> 11) * 0x1.0p-53 < p;
}

QList<QByteArrayList> Session::feed(QByteArrayView bytes)
{
    m_pending.append(bytes.data(), bytes.size());
    QList<QByteArrayList> out;
    while (!finished()) {
        const qsizetype cr = m_pending.indexOf('\r');
        if (cr < 0)
            break;
        // The last '<' before the CR starts the frame; anything before it is
        // line noise or a broken frame.
        const qsizetype start = cr > 0 ? m_pending.lastIndexOf('<', cr - 1) : -1;
        const QByteArray frame = start >= 0 ? m_pending.mid(start, cr - start) : QByteArray();
        m_pending.remove(0, cr + 1);
        if (m_observer && !frame.isEmpty())
            m_observer(frame);
        const QByteArray payload = answer(frame);
        if (payload.isEmpty())
            continue;
        ++m_handled;
        QByteArrayList pieces = deliver(payload);
        if (!pieces.isEmpty())
            out.append(pieces);
    }
    // Keep only what can still become a frame, and never more than a frame's
    // worth, so a stream without CRs cannot grow the buffer.
    const qsizetype start = m_pending.lastIndexOf('<');
    if (start < 0 || m_pending.size() - start > kReplyCapacity)
        m_pending.clear();
    else
        m_pending.remove(0, start);
    return out;
}

QByteArray Session::answer(const QByteArray &frame)
{
    if (frame.size() < 5 || frame.size() > kReplyCapacity || frame[4] != ','
        || !std::isxdigit((unsigned char)frame[1]) || !std::isxdigit((unsigned char)frame[2])
        || !checkChecksum(frame.constData()))
        return {};
    QByteArray header = frame;
    header[0] = '>';  // the address check reads a reply header
    const char command = frame[3];
    if (!checkAddress(m_address, header.constData())
        && !(command == 'A' && checkAddress(0xFF, header.constData())))
        return {};

    QByteArray fields;
    if (command == 'S' || command == 'A') {
        const Reading r = m_model.read();
        fields = QByteArray::number(++m_replies) + ",0";
        for (long long v : {r.elapsed, r.energy, r.power, r.voltage, r.current, r.lag, r.pf,
                            r.apparent})
            fields += ',' + QByteArray::number(v);
    } else if (command == 'E') {
        m_model.clear();
    } else {
        return {};
    }
    char add[10];
    addressText(m_address, add);
    return '>' + QByteArray(add) + command + ',' + fields + ';';
}

QByteArrayList Session::deliver(QByteArray reply)
{
    if (chance(m_faults.drop))
        return {};
    int sum = byteSum(reply.constData() + 1, reply.constData() + reply.size() - 1);
    if (chance(m_faults.corrupt))
        sum += 1;
    char text[11];
    checksumText(sum, text);
    reply += text;
    reply += '\r';

    if (chance(m_faults.garbage)) {
        QByteArray junk(qsizetype(1 + m_rng() % 16), '\0');
        for (char &c : junk)
            c = char(m_rng() & 0xFF);
        reply = (m_rng() & 1) ? junk + reply : junk;
    }

    const qsizetype count = std::clamp<qsizetype>(m_faults.split, 1, reply.size());
    QByteArrayList pieces;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype from = reply.size() * i / count;
        pieces.append(reply.mid(from, reply.size() * (i + 1) / count - from));
    }
    return pieces;
}

} // namespace quelmar::sim
