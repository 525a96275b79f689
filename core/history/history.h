// SPDX-License-Identifier: GPL-3.0-or-later
// The readings of a session (or of a log read back) in time order, kept
// compactly: a day of them at two a second takes under 5 MB, and a session
// holds only what it has read so far.
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace quelmar {

struct Measurement;

// The quantities a chart can show, in the order the Chart tab offers them.
enum class Series { RealPower, ApparentPower, Voltage, Current, PowerFactor };
constexpr int kSeriesCount = 5;

// One reading in the units the readout shows. A value the history could not
// keep (see ReadingHistory) reads back as NaN.
struct Reading {
    qint64 timeMs = 0;       // clock time (ms since the epoch) or a log's elapsed ms
    double energy = 0;       // mWh, the meter's counter: what add() takes
    // What at() gives: mWh the counter moved since the reading before, or
    // for the first reading after a clear or a restart, its own counter.
    double energyStep = 0;
    double power = 0;        // W
    double apparent = 0;     // VA
    double volts = 0;        // V
    double amps = 0;         // A
    double pf = 0;
    double meterTime = 0;    // s since the meter's last clear
    bool lead = false;
    bool afterClear = false; // first reading after a clear or a restart of the meter
};

// Two readings a second for 24 hours.
constexpr int kDayOfReadings = 2 * 24 * 60 * 60;

// A ring of readings that grows as they come, up to `capacity`, and then
// drops the oldest for each new one. It grows by blocks that stay where
// they are, so nothing is copied as it grows and nothing is held beyond the
// newest block.
//
// Each reading takes 28 bytes: the time in tenths of a second from the
// first reading (13 years), the step of the energy counter, power, apparent
// power and meter time as floats, and voltage, current and power factor at
// the readout's decimals (up to 655.34 V and 65.534 A; a plug-in meter's
// range).
class ReadingHistory
{
public:
    static constexpr int kUnbounded = std::numeric_limits<int>::max();

    explicit ReadingHistory(int capacity = kDayOfReadings) : cap(capacity < 1 ? 1 : capacity) {}

    // Appends in time order: a time before the newest one's is raised to it,
    // so the history stays sorted for the span look-ups. A reading whose
    // meter time or counter went back from the newest one's follows a clear
    // or a restart of the meter, and is marked so.
    void add(const Reading &r);
    // One reading of the meter taken at `timeMs`.
    void add(qint64 timeMs, const Measurement &m);
    // The meter acknowledged a clear: the next reading is marked.
    void markClear() { clearPending = true; }

    int size() const { return count; }
    bool isEmpty() const { return count == 0; }
    // 0 is the oldest reading kept.
    Reading at(int i) const;
    // Parts of reading i, for loops over many readings.
    qint64 timeAt(int i) const { return start + qint64(slot(i).time) * 100; }
    double valueAt(int i, Series s) const;
    double energyStepAt(int i) const { return slot(i).energyStep; }
    bool afterClearAt(int i) const { return slot(i).flags & kAfterClear; }
    double meterTimeAt(int i) const { return slot(i).meterTime; }
    // Index of the first reading at or after `timeMs` (size() if none).
    int lowerBound(qint64 timeMs) const;
    // Bytes of the blocks held.
    std::size_t bytesHeld() const;

private:
    static constexpr std::uint16_t kNoValue = 0xFFFF;
    static constexpr std::int16_t kNoFactor = std::numeric_limits<std::int16_t>::min();
    static constexpr std::uint16_t kLead = 1;
    static constexpr std::uint16_t kAfterClear = 2;
    static constexpr int kBlockShift = 11;
    static constexpr std::size_t kBlockSize = std::size_t(1) << kBlockShift;

    struct Stored {
        std::uint32_t time;  // tenths of a second after `start`
        float energyStep;
        float power;
        float apparent;
        float meterTime;
        std::uint16_t volts;  // hundredths; kNoValue when out of range
        std::uint16_t amps;   // thousandths; kNoValue when out of range
        std::int16_t pf;      // thousandths; kNoFactor when out of range
        std::uint16_t flags;
    };
    static_assert(sizeof(Stored) == 28, "a day of readings should stay under 5 MB");

    const Stored &slot(int i) const
    {
        std::size_t k = head + std::size_t(i);
        if (k >= std::size_t(cap))
            k -= std::size_t(cap);
        return blocks[k >> kBlockShift][k & (kBlockSize - 1)];
    }

    std::vector<std::unique_ptr<Stored[]>> blocks;
    std::size_t head = 0;  // slot of the oldest, once the ring is full
    int count = 0;
    int cap;
    qint64 start = 0;      // time of the first reading ever added, ms
    qint64 newestTime = 0;
    double newestEnergy = 0;
    double newestMeterTime = 0;
    bool clearPending = false;
};

inline double ReadingHistory::valueAt(int i, Series s) const
{
    const Stored &r = slot(i);
    const double none = std::numeric_limits<double>::quiet_NaN();
    switch (s) {
    case Series::RealPower: return r.power;
    case Series::ApparentPower: return r.apparent;
    case Series::Voltage: return r.volts == kNoValue ? none : r.volts / 100.0;
    case Series::Current: return r.amps == kNoValue ? none : r.amps / 1000.0;
    case Series::PowerFactor: return r.pf == kNoFactor ? none : r.pf / 1000.0;
    }
    return none;
}

} // namespace quelmar
