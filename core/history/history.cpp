// SPDX-License-Identifier: GPL-3.0-or-later
#include "history.h"

#include "core/measure/measurement.h"

#include <algorithm>
#include <cmath>

namespace quelmar {

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// A meter can send any number; one beyond a float's range becomes an
// infinity (which the chart leaves out) instead of an undefined conversion.
float narrow(double v)
{
    if (std::fabs(v) > double(std::numeric_limits<float>::max()))
        return v > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return float(v);
}

// v times scale as a whole number below `none`, else `none` (NaN too).
std::uint16_t fixed(double v, double scale, std::uint16_t none)
{
    const double n = std::round(v * scale);
    return n >= 0 && n < none ? std::uint16_t(n) : none;
}

} // namespace

void ReadingHistory::add(const Reading &r)
{
    if (count == 0 && blocks.empty())
        start = newestTime = r.timeMs;
    // Equal to the newest time when earlier, and at most 13 years on.
    const qint64 tenths = std::min<qint64>((std::max(r.timeMs, newestTime) - start) / 100, UINT32_MAX);
    newestTime = start + tenths * 100;

    Stored s;
    s.time = std::uint32_t(tenths);
    // A counter that went back started again from zero: all of it is new.
    const bool restart = r.afterClear || clearPending
                         || (count > 0 && (r.meterTime < newestMeterTime || r.energy < newestEnergy));
    s.energyStep = count == 0 ? 0.0f : narrow(restart ? r.energy : r.energy - newestEnergy);
    newestEnergy = r.energy;
    newestMeterTime = r.meterTime;
    s.power = narrow(r.power);
    s.apparent = narrow(r.apparent);
    s.meterTime = narrow(r.meterTime);
    s.volts = fixed(r.volts, 100, kNoValue);
    s.amps = fixed(r.amps, 1000, kNoValue);
    const double pf = std::round(r.pf * 1000);
    s.pf = pf > kNoFactor && pf <= std::numeric_limits<std::int16_t>::max() ? std::int16_t(pf) : kNoFactor;
    s.flags = (r.lead ? kLead : 0) | (restart ? kAfterClear : 0);
    clearPending = false;

    std::size_t k = head;
    if (count < cap) {
        k = std::size_t(count);
        if ((k >> kBlockShift) == blocks.size()) {
            // Left uninitialised: pages are touched only as readings land.
            blocks.emplace_back(new Stored[std::min(kBlockSize, std::size_t(cap) - k)]);
        }
        ++count;
    } else if (++head == std::size_t(cap)) {
        head = 0;
    }
    blocks[k >> kBlockShift][k & (kBlockSize - 1)] = s;
}

void ReadingHistory::add(qint64 timeMs, const Measurement &m)
{
    Reading r;
    r.timeMs = timeMs;
    r.meterTime = m.seconds;
    r.energy = m.milliwattHours();
    r.power = m.watts;
    r.volts = m.volts;
    r.amps = m.amps;
    r.lead = m.lead;
    r.pf = m.powerFactor;
    r.apparent = m.voltAmperes;
    add(r);
}

Reading ReadingHistory::at(int i) const
{
    const Stored &s = slot(i);
    Reading r;
    r.timeMs = timeAt(i);
    r.energy = NaN;
    r.energyStep = s.energyStep;
    r.power = s.power;
    r.apparent = s.apparent;
    r.volts = valueAt(i, Series::Voltage);
    r.amps = valueAt(i, Series::Current);
    r.pf = valueAt(i, Series::PowerFactor);
    r.meterTime = s.meterTime;
    r.lead = s.flags & kLead;
    r.afterClear = s.flags & kAfterClear;
    return r;
}

int ReadingHistory::lowerBound(qint64 timeMs) const
{
    int lo = 0, hi = count;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (timeAt(mid) < timeMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::size_t ReadingHistory::bytesHeld() const
{
    std::size_t slots = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b)
        slots += std::min(kBlockSize, std::size_t(cap) - (b << kBlockShift));
    return slots * sizeof(Stored);
}

} // namespace quelmar
