#include "history.h"

#include <algorithm>
#include <cmath>

namespace quelmar {

namespace {

constexpr std::uint16_t kNoValue = 0xFFFF;
constexpr std::int16_t kNoFactor = std::numeric_limits<std::int16_t>::min();
constexpr std::uint16_t kLead = 1;
constexpr std::uint16_t kAfterClear = 2;
const double NaN = std::numeric_limits<double>::quiet_NaN();

// A meter can send any number; one beyond a float's range becomes an
// infinity (which the chart leaves out) instead of an undefined conversion.
float narrow(double v)
{
    if (std::fabs(v) > double(std::numeric_limits<float>::max()))
        return v > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return float(v);
}

std::uint16_t fixed(double v, double scale)
{
    const double n = std::round(v * scale);
    return n >= 0 && n < kNoValue ? std::uint16_t(n) : kNoValue;  // NaN fails both
}

double unfixed(std::uint16_t n, double scale)
{
    return n == kNoValue ? NaN : n / scale;
}

} // namespace

double Reading::value(Series s) const
{
    switch (s) {
    case Series::RealPower: return power;
    case Series::ApparentPower: return apparent;
    case Series::Voltage: return volts;
    case Series::Current: return amps;
    case Series::PowerFactor: return pf;
    }
    return power;
}

void ReadingHistory::add(const Reading &r)
{
    if (count == 0 && blocks.empty())
        start = newestTime = r.timeMs;
    // Equal to the newest time when earlier, and at most 13 years on.
    const qint64 tenths = std::min<qint64>((std::max(r.timeMs, newestTime) - start) / 100, UINT32_MAX);
    newestTime = start + tenths * 100;

    Stored s;
    s.time = std::uint32_t(tenths);
    s.energyStep = count == 0 ? 0.0f : narrow(r.energy - newestEnergy);
    newestEnergy = r.energy;
    s.power = narrow(r.power);
    s.apparent = narrow(r.apparent);
    s.meterTime = narrow(r.meterTime);
    s.volts = fixed(r.volts, 100);
    s.amps = fixed(r.amps, 1000);
    const double pf = std::round(r.pf * 1000);
    s.pf = pf > kNoFactor && pf <= std::numeric_limits<std::int16_t>::max() ? std::int16_t(pf) : kNoFactor;
    s.flags = (r.lead ? kLead : 0) | (r.afterClear || clearPending ? kAfterClear : 0);
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

void ReadingHistory::addReading(qint64 timeMs, const double *vals)
{
    Reading r;
    r.timeMs = timeMs;
    r.meterTime = vals[2];
    r.energy = vals[3] / 3600;
    r.power = vals[4] / 1000;
    r.volts = vals[5] / 1000000;
    r.amps = vals[6] / 1000000;
    // The readout's rule: only a flag of exactly 0 leads.
    r.lead = vals[7] == 0.0;
    r.pf = vals[8] / 1000000;
    r.apparent = vals[9] / 1000;
    add(r);
}

Reading ReadingHistory::at(int i) const
{
    const Stored &s = slot(i);
    Reading r;
    r.timeMs = start + qint64(s.time) * 100;
    r.energy = NaN;
    r.energyStep = s.energyStep;
    r.power = s.power;
    r.apparent = s.apparent;
    r.volts = unfixed(s.volts, 100);
    r.amps = unfixed(s.amps, 1000);
    r.pf = s.pf == kNoFactor ? NaN : s.pf / 1000.0;
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
