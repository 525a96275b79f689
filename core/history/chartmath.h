// SPDX-License-Identifier: GPL-3.0-or-later
// What the Chart tab draws and writes below the chart, worked out without
// widgets: points thinned to the pixel columns, span statistics, time ticks.
#pragma once

#include "core/history/history.h"

#include <QList>
#include <QPointF>
#include <QString>

namespace quelmar {

struct SeriesInfo {
    const char *name;  // for the axis title, marked for translation
    const char *unit;  // empty for the power factor
    int decimals;      // as the readout shows it
};
const SeriesInfo &seriesInfo(Series s);

// Thins points given in ascending x to at most two per pixel column of
// [x0, x1): the lowest and the highest of each column, in their x order, so
// every peak and dip stays on the chart. A column whose lowest and highest
// are one point gives that point once. Points with a non-finite y are left
// out.
class ColumnDecimator
{
public:
    ColumnDecimator(double x0, double x1, int columns, QList<QPointF> &out);
    void add(double x, double y);
    // Writes the last column; call once after the last point.
    void finish();

private:
    void flush();

    double x0;
    double scale;
    int columns;
    QList<QPointF> &out;
    int column = -1;
    QPointF lo, hi;
};

// The points of series `s` from reading `first` on, thinned to `columns`
// over [x0, x1] (x is the reading's time in ms).
QList<QPointF> chartPoints(const ReadingHistory &h, int first, Series s, double x0, double x1, int columns);

// What the meter measured between two readings, and the stretch it did not.
struct Measured {
    double mWh = 0;       // counted
    bool gap = false;     // a stretch before a clear or restart was not counted
    qint64 gapMs = -1;    // its length, -1 when it cannot be known
};

// The time between a log's records (or a session's readings): the most
// common step seen so far, in tenths of a second up to 100 s. 0 before the
// first step.
class RecordPeriod
{
public:
    void step(qint64 ms);
    qint64 ms() const { return m_best * 100; }

private:
    static constexpr int kSlots = 1000;
    qint64 m_counts[kSlots] = {};
    int m_best = 0;
};

// The energy between a reading and the next. Where the meter ran on
// (`restarted` false), `counter` is its counter's rise. After a clear or a
// restart it is the later reading's own counter, the energy since the clear;
// the stretch of `toClearMs` from the earlier reading to the clear (-1 when
// it cannot be known) is estimated at `wattsBefore`, the earlier reading's
// power, only when it is at most three periods of `periodMs`. A longer or
// unknown stretch is a gap: nothing is counted for it.
Measured measuredEnergy(bool restarted, double counter, double wattsBefore, qint64 toClearMs, qint64 periodMs);

// From a reading at `beforeMs` to the clear before a reading at `afterMs`
// whose meter time is `afterSeconds`; 0 when the clear seems to come first.
qint64 msToClear(qint64 beforeMs, qint64 afterMs, double afterSeconds);

struct SpanStats {
    int count = 0;        // readings with a finite value of the series
    double min = 0;
    double mean = 0;
    double max = 0;
    double energy = 0;    // mWh measured between the span's first and last reading
    int gaps = 0;         // stretches of it not measured
};

// Statistics of series `s` over the readings from `first` to the newest.
// The energy is measuredEnergy() between each reading and the one before;
// `clock` says the readings' times are clock times, which date a clear.
SpanStats spanStats(const ReadingHistory &h, int first, Series s, bool clock = true);

// "Min 2.000 W  Mean 41.333 W  Max 480.000 W  Energy 1.234 Wh", in the
// readout's decimals and energy ranges.
QString statsText(const SpanStats &st, Series s);

struct TimeTick {
    qint64 ms;
    QString label;
    bool operator==(const TimeTick &o) const { return ms == o.ms && label == o.label; }
    bool operator!=(const TimeTick &o) const { return !(*this == o); }
};

// At most `maxTicks` ticks at round times within [fromMs, toMs]: local clock
// times ("14:05", or "14:05:30" for ticks under a minute apart, or
// "2026-03-29" for ticks a day or more apart), or for a log without clock
// times, elapsed times ("01:30:00").
QList<TimeTick> timeTicks(qint64 fromMs, qint64 toMs, bool clockTime, int maxTicks);

} // namespace quelmar
