// SPDX-License-Identifier: GPL-3.0-or-later
#include "chartmath.h"

#include "core/measure/readouttext.h"

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace quelmar {

const SeriesInfo &seriesInfo(Series s)
{
    static const SeriesInfo infos[kSeriesCount] = {
        {QT_TRANSLATE_NOOP("quelmar::ChartTab", "Real power"), "W", 3},
        {QT_TRANSLATE_NOOP("quelmar::ChartTab", "Apparent power"), "VA", 3},
        {QT_TRANSLATE_NOOP("quelmar::ChartTab", "Voltage"), "V", 2},
        {QT_TRANSLATE_NOOP("quelmar::ChartTab", "Current"), "A", 3},
        {QT_TRANSLATE_NOOP("quelmar::ChartTab", "Power factor"), "", 3},
    };
    return infos[int(s)];
}

ColumnDecimator::ColumnDecimator(double x0, double x1, int columns, QList<QPointF> &out)
    : x0(x0), scale(x1 > x0 ? std::max(columns, 1) / (x1 - x0) : 0.0), columns(std::max(columns, 1)), out(out)
{
}

void ColumnDecimator::add(double x, double y)
{
    if (!std::isfinite(y))
        return;
    const double at = std::floor((x - x0) * scale);
    const int c = at <= 0 ? 0 : at >= columns - 1 ? columns - 1 : int(at);
    const QPointF p(x, y);
    if (c != column) {
        flush();
        column = c;
        lo = hi = p;
        return;
    }
    if (y < lo.y())
        lo = p;
    if (y > hi.y())
        hi = p;
}

void ColumnDecimator::flush()
{
    if (column < 0)
        return;
    if (lo == hi)
        out << lo;
    else if (lo.x() < hi.x())
        out << lo << hi;
    else
        out << hi << lo;
}

void ColumnDecimator::finish()
{
    flush();
    column = -1;
}

QList<QPointF> chartPoints(const ReadingHistory &h, int first, Series s, double x0, double x1, int columns)
{
    QList<QPointF> points;
    points.reserve(2 * std::max(columns, 1));
    ColumnDecimator d(x0, x1, columns, points);
    for (int i = std::max(first, 0); i < h.size(); ++i)
        d.add(double(h.timeAt(i)), h.valueAt(i, s));
    d.finish();
    return points;
}

double energyBetween(double counterStep, bool afterClear, double powerBefore, double powerAfter, qint64 ms)
{
    if (!afterClear && std::isfinite(counterStep) && counterStep >= 0)
        return counterStep;
    // W times ms over 3600 is mWh.
    const double e = (powerBefore + powerAfter) / 2 * double(ms) / 3600;
    return std::isfinite(e) ? e : 0.0;
}

SpanStats spanStats(const ReadingHistory &h, int first, Series s)
{
    SpanStats st;
    double sum = 0;
    first = std::max(first, 0);
    for (int i = first; i < h.size(); ++i) {
        const double v = h.valueAt(i, s);
        if (std::isfinite(v)) {
            if (st.count == 0 || v < st.min)
                st.min = v;
            if (st.count == 0 || v > st.max)
                st.max = v;
            sum += v;
            ++st.count;
        }
        if (i == first)
            continue;
        st.energy += energyBetween(h.energyStepAt(i), h.afterClearAt(i), h.valueAt(i - 1, Series::RealPower),
                                   h.valueAt(i, Series::RealPower), h.timeAt(i) - h.timeAt(i - 1));
    }
    if (st.count > 0)
        st.mean = sum / st.count;
    return st;
}

QString statsText(const SpanStats &st, Series s)
{
    if (st.count == 0)
        return QCoreApplication::translate("quelmar::ChartTab", "No readings in this span");
    const SeriesInfo &info = seriesInfo(s);
    const QString unit = *info.unit ? QLatin1Char(' ') + QLatin1String(info.unit) : QString();
    auto number = [&](double v) { return numberText(v, info.decimals) + unit; };
    return QCoreApplication::translate("quelmar::ChartTab", "Min %1  Mean %2  Max %3  Energy %4")
        .arg(number(st.min), number(st.mean), number(st.max), energyText(st.energy).trimmed());
}

namespace {

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

// The smallest round step that puts at most maxTicks ticks on the range.
qint64 tickStep(qint64 range, int maxTicks)
{
    static const qint64 steps[] = {kSecond,     2 * kSecond,  5 * kSecond,  10 * kSecond, 15 * kSecond,
                                   30 * kSecond, kMinute,     2 * kMinute,  5 * kMinute,  10 * kMinute,
                                   15 * kMinute, 30 * kMinute, kHour,       2 * kHour,    3 * kHour,
                                   6 * kHour,   12 * kHour,   kDay};
    for (qint64 step : steps) {
        if (range / step < maxTicks)
            return step;
    }
    return kDay * (range / kDay / maxTicks + 1);
}

} // namespace

QList<TimeTick> timeTicks(qint64 fromMs, qint64 toMs, bool clockTime, int maxTicks)
{
    QList<TimeTick> ticks;
    if (toMs < fromMs || maxTicks < 1)
        return ticks;
    const qint64 step = tickStep(toMs - fromMs, maxTicks);
    // Clock ticks fall on round local times.
    const qint64 offset = clockTime ? qint64(QDateTime::fromMSecsSinceEpoch(fromMs).offsetFromUtc()) * kSecond : 0;
    qint64 t = ((fromMs + offset + step - 1) / step) * step - offset;
    for (; t <= toMs && ticks.size() < maxTicks; t += step) {
        QString label;
        // Ticks a day or more apart all fall at midnight: they name the day.
        if (clockTime)
            label = QDateTime::fromMSecsSinceEpoch(t).toString(step < kMinute ? QStringLiteral("HH:mm:ss")
                                                               : step < kDay  ? QStringLiteral("HH:mm")
                                                                              : QStringLiteral("yyyy-MM-dd"));
        else
            label = elapsedText(double(t / kSecond));
        ticks << TimeTick{t, label};
    }
    return ticks;
}

} // namespace quelmar
