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

void RecordPeriod::step(qint64 ms)
{
    const qint64 slot = (ms + 50) / 100;
    if (slot < 1 || slot >= kSlots)
        return;
    const qint64 n = ++m_counts[slot];
    // Ties go to the shorter step.
    if (n > m_counts[m_best] || (n == m_counts[m_best] && slot < m_best))
        m_best = int(slot);
}

qint64 msToClear(qint64 beforeMs, qint64 afterMs, double afterSeconds)
{
    const double ms = double(afterMs) - afterSeconds * 1000 - double(beforeMs);
    return ms > 0 ? qint64(ms) : 0;
}

Measured measuredEnergy(bool restarted, double counter, double wattsBefore, qint64 toClearMs, qint64 periodMs)
{
    Measured m;
    if (!std::isfinite(counter)) {
        m.gap = true;
        return m;
    }
    m.mWh = counter;
    if (!restarted)
        return m;
    if (toClearMs >= 0 && periodMs > 0 && toClearMs <= 3 * periodMs && std::isfinite(wattsBefore)) {
        // W times ms over 3600 is mWh.
        m.mWh += wattsBefore * double(toClearMs) / 3600;
        return m;
    }
    m.gap = true;
    m.gapMs = toClearMs;
    return m;
}

SpanStats spanStats(const ReadingHistory &h, int first, Series s, bool clock)
{
    SpanStats st;
    double sum = 0;
    RecordPeriod period;
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
        const bool restarted = h.afterClearAt(i);
        const qint64 before = h.timeAt(i - 1), after = h.timeAt(i);
        const Measured m = measuredEnergy(restarted, h.energyStepAt(i), h.valueAt(i - 1, Series::RealPower),
                                          clock ? msToClear(before, after, h.meterTimeAt(i)) : -1, period.ms());
        st.energy += m.mWh;
        st.gaps += m.gap;
        if (!restarted)
            period.step(after - before);
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
    QString text = QCoreApplication::translate("quelmar::ChartTab", "Min %1  Mean %2  Max %3  Energy %4")
                       .arg(number(st.min), number(st.mean), number(st.max), energyText(st.energy).trimmed());
    // The energy leaves out what the meter did not measure: say so.
    if (st.gaps > 0)
        text += st.gaps == 1 ? QCoreApplication::translate("quelmar::ChartTab", "  (1 gap not measured)")
                             : QCoreApplication::translate("quelmar::ChartTab", "  (%1 gaps not measured)").arg(st.gaps);
    return text;
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
    if (clockTime && step >= kDay) {
        // Local days are not all 24 hours long: step by calendar days, on
        // days that are whole multiples of the step, so the ticks stay put
        // as the span moves.
        const qint64 days = step / kDay;
        QDate d = QDateTime::fromMSecsSinceEpoch(fromMs).date();
        if (QDateTime(d, QTime(0, 0)).toMSecsSinceEpoch() < fromMs)
            d = d.addDays(1);
        d = d.addDays((days - d.toJulianDay() % days) % days);
        for (; ticks.size() < maxTicks; d = d.addDays(days)) {
            const qint64 t = QDateTime(d, QTime(0, 0)).toMSecsSinceEpoch();
            if (t > toMs)
                break;
            ticks << TimeTick{t, d.toString(Qt::ISODate)};
        }
        return ticks;
    }
    // Clock ticks fall on round local times.
    const qint64 offset = clockTime ? qint64(QDateTime::fromMSecsSinceEpoch(fromMs).offsetFromUtc()) * kSecond : 0;
    qint64 t = ((fromMs + offset + step - 1) / step) * step - offset;
    for (; t <= toMs && ticks.size() < maxTicks; t += step) {
        const QString label = clockTime ? QDateTime::fromMSecsSinceEpoch(t).toString(step < kMinute ? QStringLiteral("HH:mm:ss")
                                                                                                    : QStringLiteral("HH:mm"))
                                        : elapsedText(double(t / kSecond));
        ticks << TimeTick{t, label};
    }
    return ticks;
}

} // namespace quelmar
