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

struct SpanStats {
    int count = 0;        // readings with a finite value of the series
    double min = 0;
    double mean = 0;
    double max = 0;
    double energy = 0;    // mWh used between the span's first and last reading
};

// mWh used between two readings `ms` apart: the step of the meter's counter
// where it ran on; across a clear, or where the counter went back without
// one (a meter unplugged, a log of several runs), the integral of real power
// between the two readings instead.
double energyBetween(double counterStep, bool afterClear, double powerBefore, double powerAfter, qint64 ms);

// Statistics of series `s` over the readings from `first` to the newest.
// The energy is energyBetween() each reading and the one before.
SpanStats spanStats(const ReadingHistory &h, int first, Series s);

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
