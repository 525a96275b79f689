// SPDX-License-Identifier: GPL-3.0-or-later
#include "logreport.h"

#include "core/cost/costmath.h"
#include "core/history/chartmath.h"
#include "core/logfile/logreader.h"
#include "core/measure/readouttext.h"

#include <QCryptographicHash>
#include <QDate>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace quelmar {

namespace {

constexpr int kEpochDay = 2440588;  // the Julian day of 1970-01-01
constexpr qint64 kDayMs = 86400000;
// Logs that start alike are compared whole; this much says they do.
constexpr qint64 kHeadBytes = 64 * 1024;

// How many readings had each power, in milliwatts, the log's own
// resolution: exact for the standby figure, and its size follows the
// distinct values seen, not the rows. One flat table, probed in a line.
class PowerCounts
{
public:
    void add(qint64 mW, qint64 n)
    {
        if (2 * (m_used + 1) > m_slots.size())
            grow();
        std::size_t i = slot(mW);
        while (m_slots[i].second != 0 && m_slots[i].first != mW)
            i = (i + 1) & (m_slots.size() - 1);
        m_used += m_slots[i].second == 0;
        m_slots[i] = {mW, m_slots[i].second + n};
    }
    // The values seen and their counts, lowest first.
    std::vector<std::pair<qint64, qint64>> sorted() const
    {
        std::vector<std::pair<qint64, qint64>> out;
        out.reserve(m_used);
        for (const auto &s : m_slots) {
            if (s.second != 0)
                out.push_back(s);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    std::size_t slot(qint64 mW) const
    {
        return std::size_t((quint64(mW) * 0x9E3779B97F4A7C15ULL) >> 32) & (m_slots.size() - 1);
    }
    void grow()
    {
        std::vector<std::pair<qint64, qint64>> old(std::max<std::size_t>(64, 2 * m_slots.size()));
        old.swap(m_slots);
        m_used = 0;
        for (const auto &s : old) {
            if (s.second != 0)
                add(s.first, s.second);
        }
    }

    std::vector<std::pair<qint64, qint64>> m_slots;  // value, count; a count of 0 is a free slot
    std::size_t m_used = 0;
};

// The readings of one group.
class Group
{
public:
    void add(double watts, const Measured &m, double cents)
    {
        const qint64 mW = std::llround(watts * 1000);
        m_counts.add(mW, 1);
        m_sum += mW;
        ++m_line.readings;
        m_line.energy += m.mWh;
        m_line.timedCents += cents;
        if (m.gap) {
            ++m_line.gaps;
            if (m.gapMs < 0)
                m_line.gapUnknown = true;
            else
                m_line.gapMs += m.gapMs;
        }
    }

    void mergeInto(Group &to) const
    {
        for (const auto &[mW, count] : m_counts.sorted())
            to.m_counts.add(mW, count);
        to.m_sum += m_sum;
        ReportLine &t = to.m_line;
        t.readings += m_line.readings;
        t.energy += m_line.energy;
        t.timedCents += m_line.timedCents;
        t.gaps += m_line.gaps;
        t.gapMs += m_line.gapMs;
        t.gapUnknown = t.gapUnknown || m_line.gapUnknown;
    }

    ReportLine finish(const QString &name, int firstDay, int lastDay) const
    {
        ReportLine line = m_line;
        line.name = name;
        line.firstDay = firstDay;
        line.lastDay = lastDay;
        if (line.readings == 0)
            return line;
        const std::vector<std::pair<qint64, qint64>> values = m_counts.sorted();
        // The lowest 5%, at least one reading.
        const qint64 lowest = (line.readings + 19) / 20;
        qint64 taken = 0, lowSum = 0, above = 0;
        for (const auto &[mW, count] : values) {
            const qint64 take = std::min(count, lowest - taken);
            lowSum += take * mW;
            taken += take;
        }
        // A real meter's readings wander a little: a reading is above standby
        // when it is more than twice it and more than 1 W above it, with
        // standby = lowSum / lowest, in whole numbers. Powers are within
        // ±10^8 mW and readings far below 10^10, so none of it overflows.
        for (const auto &[mW, count] : values) {
            if (mW * lowest > 2 * lowSum && (mW - 1000) * lowest > lowSum)
                above += count;
        }
        line.min = values.front().first / 1000.0;
        line.max = values.back().first / 1000.0;
        line.mean = double(m_sum) / double(line.readings) / 1000.0;
        line.standby = double(lowSum) / double(lowest) / 1000.0;
        line.above = double(above) / double(line.readings);
        return line;
    }

private:
    PowerCounts m_counts;
    qint64 m_sum = 0;  // mW
    ReportLine m_line;
};

struct Source {
    QString name;
    int index = 0;  // in the order given
    bool clock = false;
    qint64 first = std::numeric_limits<qint64>::max();  // its first record's clock time
    qint64 size = -1;
    QByteArray headHash;
    qint64 unreadable = 0;
    qint64 overlapping = 0;
};

std::unique_ptr<QIODevice> openFile(const QString &name, QString *why)
{
    auto file = std::make_unique<QFile>(name);
    // Read in blocks of the reader's own; a second buffer would only copy.
    if (file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return file;
    if (why)
        *why = file->errorString();
    return nullptr;
}

bool sameContent(const LogOpener &open, const QString &a, const QString &b)
{
    const std::unique_ptr<QIODevice> x = open(a, nullptr), y = open(b, nullptr);
    if (!x || !y)
        return false;
    for (;;) {
        const QByteArray p = x->read(kHeadBytes), q = y->read(kHeadBytes);
        if (p != q)
            return false;
        if (p.isEmpty())
            return true;
    }
}

QString dayText(int julianDay)
{
    return QDate::fromJulianDay(julianDay).toString(Qt::ISODate);
}

// A local date and time as "2026-03-29 03:00:00", from seconds since the
// epoch of local time.
QString localText(qint64 localSeconds)
{
    const qint64 day = localSeconds >= 0 ? localSeconds / 86400 : (localSeconds - 86399) / 86400;
    return dayText(int(day + kEpochDay)) + QLatin1Char(' ') + elapsedText(double(localSeconds - day * 86400));
}

qint64 localSecondsOf(const LogRow &row)
{
    return qint64(row.localDay - kEpochDay) * 86400 + row.localSeconds;
}

QString gapNote(const QString &file, bool clock, const LogRow &before, const LogRow &after, const Measured &m)
{
    if (!clock)
        return QStringLiteral("%1: a gap of unknown length between the rows at %2 and %3: the meter's time went back "
                              "(a clear or a restart), and without the clock column the time it was off is not known; "
                              "nothing was counted for it")
            .arg(file, elapsedText(before.reading.meterTime), elapsedText(after.reading.meterTime));
    const qint64 clear = localSecondsOf(after) - qint64(after.reading.meterTime);
    return QStringLiteral("%1: a gap of %2 from %3 to %4: the meter was cleared or restarted, and nothing was counted "
                          "for the time before it")
        .arg(file, elapsedText(double(m.gapMs / 1000)), localText(localSecondsOf(before)), localText(clear));
}

// "1 row could not be read and was left out", "2 rows ... were ...".
QString rowsText(qint64 n, const char *why)
{
    return n == 1 ? QStringLiteral("1 row %1 and was left out").arg(QLatin1String(why))
                  : QStringLiteral("%1 rows %2 and were left out").arg(n).arg(QLatin1String(why));
}

// The UTC date of a clock time, as a Julian day.
int utcDay(qint64 ms)
{
    return int((ms >= 0 ? ms / kDayMs : (ms - kDayMs + 1) / kDayMs) + kEpochDay);
}

const char *const kHeadings[] = {"Day", "Week", "Month", "Hour"};

} // namespace

bool ReportOptions::needsClock() const
{
    return fromDay != 0 || toDay != 0 || by == Hours || standingCents >= 0 || (tariff && tariff->byTime());
}

LogReport makeReport(const QStringList &names, const ReportOptions &o, ReadingHistory *readings, const LogOpener &given)
{
    const LogOpener open = given ? given : LogOpener(openFile);
    LogReport report;
    report.heading = QLatin1String(kHeadings[o.by]);
    QList<QStringList> fileNotes(names.size());
    const auto lose = [&](int i, const QString &text) {
        fileNotes[i] << text;
        report.lost = true;
    };

    // First what each file is, and where its first record lies.
    std::vector<Source> sources;
    for (int i = 0; i < names.size(); ++i) {
        Source s;
        s.name = names[i];
        s.index = i;
        QString why;
        const std::unique_ptr<QIODevice> device = open(s.name, &why);
        if (!device) {
            lose(i, QStringLiteral("%1: cannot be read: %2; left out").arg(s.name, why));
            continue;
        }
        s.headHash = QCryptographicHash::hash(device->read(kHeadBytes), QCryptographicHash::Sha1);
        s.size = device->size();
        device->seek(0);
        LogRows rows(*device);
        LogRow row;
        const bool any = rows.next(row);
        if (!rows.error().isEmpty()) {
            lose(i, QStringLiteral("%1: cannot be read: %2; left out").arg(s.name, rows.error()));
            continue;
        }
        if (rows.isEmpty()) {
            fileNotes[i] << QStringLiteral("%1: empty, nothing to report").arg(s.name);
            continue;
        }
        if (rows.status() != LogContents::Loaded) {
            lose(i, QStringLiteral("%1: not a Quelmar log (its first line is not a log's header); left out").arg(s.name));
            continue;
        }
        if (!any && rows.skipped() == 0) {
            fileNotes[i] << QStringLiteral("%1: holds no records, nothing to report").arg(s.name);
            continue;
        }
        const auto same = std::find_if(sources.begin(), sources.end(), [&](const Source &t) {
            return t.size == s.size && t.headHash == s.headHash && sameContent(open, t.name, s.name);
        });
        if (same != sources.end()) {
            fileNotes[i] << QStringLiteral("%1: the same log as %2, counted once").arg(s.name, same->name);
            continue;
        }
        if (o.needsClock() && !rows.hasClock()) {
            lose(i, QStringLiteral("%1: has no clock column, so its records have no date or time of day to place "
                                   "or price them by; left out")
                        .arg(s.name));
            continue;
        }
        s.clock = rows.hasClock();
        if (s.clock && any)
            s.first = row.clockMs;
        sources.push_back(s);
    }
    // Logs on the calendar in time order, whatever order they were given in.
    std::stable_sort(sources.begin(), sources.end(), [](const Source &a, const Source &b) {
        return a.clock != b.clock ? a.clock : a.first < b.first;
    });
    const bool anyClock = !sources.empty() && sources.front().clock;

    Group total;
    // The groups on the calendar (or the hours) that are still open, by
    // their first day (or hour). A local date is never more than a day
    // before the UTC date, so a group ending before that is done.
    std::map<int, Group> openGroups;
    QStringList gapNotes;
    const auto groupSpan = [&o](int key, int &first, int &last, QString &name) {
        first = last = key;
        switch (o.by) {
        case ReportOptions::Days:
            name = dayText(key);
            break;
        case ReportOptions::Weeks:
            last = key + 6;
            name = dayText(key);
            break;
        case ReportOptions::Months: {
            const QDate d = QDate::fromJulianDay(key);
            last = key + d.daysInMonth() - 1;
            name = d.toString(QStringLiteral("yyyy-MM"));
            break;
        }
        case ReportOptions::Hours:
            first = last = 0;
            name = QStringLiteral("%1:00").arg(key, 2, 10, QLatin1Char('0'));
            break;
        }
    };
    const auto close = [&](int beforeDay) {
        while (!openGroups.empty()) {
            const auto it = openGroups.begin();
            int first, last;
            QString name;
            groupSpan(it->first, first, last, name);
            if (last >= beforeDay)
                break;
            it->second.mergeInto(total);
            report.lines << it->second.finish(name, first, last);
            openGroups.erase(it);
        }
    };
    const auto keyOf = [&o](const LogRow &row) {
        switch (o.by) {
        case ReportOptions::Days:
            return row.localDay;
        case ReportOptions::Weeks:
            return row.localDay - row.localDay % 7;  // Julian day 0 was a Monday
        case ReportOptions::Months:
            return row.localDay - QDate::fromJulianDay(row.localDay).day() + 1;
        case ReportOptions::Hours:
            break;
        }
        return row.localSeconds / 3600;
    };

    int rangeFirst = 0, rangeLast = 0;  // the local dates of the first and last record counted
    LogRow prev;
    bool havePrev = false;
    RecordPeriod period;
    qint64 chartBase = 0, chartLast = 0;  // for the chart, times of logs without the clock column
    int lastDay = 0, lastKey = -1;
    Group *group = nullptr;
    for (Source &s : sources) {
        QString why;
        const std::unique_ptr<QIODevice> device = open(s.name, &why);
        if (!device) {
            lose(s.index, QStringLiteral("%1: cannot be read: %2; left out").arg(s.name, why));
            continue;
        }
        LogRows rows(*device);
        Group own;
        if (!s.clock) {
            // A log of its own, after every log on the calendar.
            close(std::numeric_limits<int>::max());
            group = &own;
            havePrev = false;
            chartBase = chartLast;
        }
        LogRow row;
        while (rows.next(row)) {
            const Reading &r = row.reading, &p = prev.reading;
            if (s.clock && havePrev
                && (row.clockMs < prev.clockMs
                    || (row.clockMs == prev.clockMs && r.meterTime == p.meterTime && r.energy == p.energy))) {
                ++s.overlapping;
                continue;
            }
            Measured m;
            const bool restarted = havePrev && (r.meterTime < p.meterTime || r.energy < p.energy);
            if (havePrev) {
                m = measuredEnergy(restarted, restarted ? r.energy : r.energy - p.energy, p.power,
                                   s.clock ? msToClear(prev.clockMs, row.clockMs, r.meterTime) : -1, period.ms());
                if (s.clock && !restarted)
                    period.step(row.clockMs - prev.clockMs);
            }
            const bool counted = !s.clock || ((o.fromDay == 0 || row.localDay >= o.fromDay)
                                              && (o.toDay == 0 || row.localDay <= o.toDay));
            if (counted) {
                if (s.clock && (row.localDay != lastDay || o.by == ReportOptions::Hours)) {
                    if (row.localDay != lastDay && o.by != ReportOptions::Hours) {
                        close(utcDay(row.clockMs) - 1);
                        lastKey = -1;
                    }
                    lastDay = row.localDay;
                    const int key = keyOf(row);
                    if (key != lastKey) {
                        lastKey = key;
                        group = &openGroups[key];
                    }
                    rangeFirst = rangeFirst ? std::min(rangeFirst, row.localDay) : row.localDay;
                    rangeLast = std::max(rangeLast, row.localDay);
                }
                const double cents = o.tariff && o.tariff->byTime() ? m.mWh * o.tariff->centsAt(row.localSeconds) / 1e6 : 0;
                group->add(r.power, m, cents);
                if (m.gap)
                    gapNotes << gapNote(s.name, s.clock, prev, row, m);
            }
            if (readings && (s.clock || !anyClock)) {
                Reading shown = r;
                if (!s.clock && restarted)
                    chartBase = chartLast;
                shown.timeMs = s.clock ? row.clockMs : chartBase + qint64(r.meterTime) * 1000;
                chartLast = shown.timeMs;
                readings->add(shown);
            }
            prev = row;
            havePrev = true;
        }
        s.unreadable = rows.skipped();
        report.unreadable += s.unreadable;
        if (readings && anyClock && !s.clock)
            fileNotes[s.index] << QStringLiteral("%1: no clock column, so not on the chart beside logs with one").arg(s.name);
        if (!rows.error().isEmpty())
            lose(s.index, QStringLiteral("%1: reading stopped early: %2").arg(s.name, rows.error()));
        if (s.unreadable > 0)
            lose(s.index, s.name + QStringLiteral(": ") + rowsText(s.unreadable, "could not be read"));
        if (s.overlapping > 0)
            fileNotes[s.index] << s.name + QStringLiteral(": ") + rowsText(s.overlapping, "came no later than the row before");
        if (!s.clock) {
            own.mergeInto(total);
            report.lines << own.finish(s.name, 0, 0);
        }
    }
    // The days of the standing charge: every day from the first to the last
    // counted, or of the range asked for.
    close(std::numeric_limits<int>::max());
    if (o.fromDay)
        rangeFirst = o.fromDay;
    if (o.toDay)
        rangeLast = o.toDay;
    const auto daysWithin = [&](int first, int last) {
        return rangeFirst && rangeLast ? std::max(0, std::min(last, rangeLast) - std::max(first, rangeFirst) + 1) : 0;
    };
    for (ReportLine &line : report.lines)
        line.standingDays = line.firstDay ? daysWithin(line.firstDay, line.lastDay) : 0;
    ReportLine sum = total.finish(QStringLiteral("Total"), rangeFirst, rangeLast);
    sum.standingDays = daysWithin(rangeFirst, rangeLast);
    report.lines << sum;

    for (const QStringList &notes : fileNotes)
        report.notes << notes;
    report.notes << gapNotes;
    return report;
}

double lineCost(const ReportLine &line, const ReportOptions &o)
{
    double cents = 0;
    if (o.tariff)
        cents = o.tariff->byTime() ? line.timedCents : line.energy / 1e6 * o.tariff->centsAt(0);
    if (o.standingCents > 0)
        cents += o.standingCents * line.standingDays;
    return cents / 100;
}

namespace {

// The report's cells, the first column a name and the rest numbers.
QList<QStringList> cells(const LogReport &report, const ReportOptions &o, bool csv)
{
    const bool cost = o.priced();
    QStringList head{report.heading, QStringLiteral("Readings")};
    if (csv) {
        head << QStringLiteral("Energy (kWh)");
        if (cost)
            head << QStringLiteral("Cost ($)");
        head << QStringLiteral("Min (W)") << QStringLiteral("Mean (W)") << QStringLiteral("Max (W)")
             << QStringLiteral("Standby (W)") << QStringLiteral("Above standby (%)") << QStringLiteral("Gaps")
             << QStringLiteral("Gap time (s)");
    } else {
        head << QStringLiteral("kWh");
        if (cost)
            head << QStringLiteral("Cost");
        head << QStringLiteral("Min W") << QStringLiteral("Mean W") << QStringLiteral("Max W")
             << QStringLiteral("Standby W") << QStringLiteral("Above") << QStringLiteral("Gaps");
    }
    QList<QStringList> table{head};
    for (const ReportLine &l : report.lines) {
        QString name = l.name;
        // The table stays within 100 columns for a year of what a plug can
        // draw (16 A): a long path is cut to its end, which says most, and
        // the figures are rounded; the CSV has them whole.
        if (!csv && name.size() > 16)
            name = QStringLiteral("...") + name.right(13);
        const int watts = csv ? 3 : 1;
        const double kWh = l.energy / 1e6;
        QStringList row{name, QString::number(l.readings), numberText(kWh, csv ? 6 : 3)};
        if (cost) {
            const double dollars = lineCost(l, o);
            row << (csv ? moneyText(dollars).mid(1) : QLatin1Char('$') + numberText(dollars, 2));
        }
        if (l.readings > 0) {
            row << numberText(l.min, watts) << numberText(l.mean, watts) << numberText(l.max, watts)
                << numberText(l.standby, watts) << numberText(l.above * 100, 1) + (csv ? QString() : QStringLiteral("%"));
        } else {
            for (int i = 0; i < 5; ++i)
                row << (csv ? QString() : QStringLiteral("-"));
        }
        row << QString::number(l.gaps);
        if (csv)
            row << (l.gapUnknown ? QString() : QString::number(l.gapMs / 1000));
        table << row;
    }
    return table;
}

} // namespace

QString reportTable(const LogReport &report, const ReportOptions &options)
{
    const QList<QStringList> table = cells(report, options, false);
    QList<qsizetype> widths(table.first().size(), 0);
    for (const QStringList &row : table) {
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    }
    QString out;
    for (const QStringList &row : table) {
        QString line = row.first().leftJustified(widths.first());
        for (qsizetype c = 1; c < row.size(); ++c)
            line += QStringLiteral("  ") + row[c].rightJustified(widths[c]);
        out += line + QLatin1Char('\n');
    }
    return out;
}

QString reportNotes(const LogReport &report)
{
    QString out;
    for (const QString &note : report.notes)
        out += note + QLatin1Char('\n');
    return out;
}

QString reportCsv(const LogReport &report, const ReportOptions &options)
{
    QString out;
    for (QStringList row : cells(report, options, true)) {
        // A file name may hold a comma or a quote.
        QString &name = row.first();
        if (name.contains(QLatin1Char(',')) || name.contains(QLatin1Char('"')))
            name = QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
        out += row.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out;
}

} // namespace quelmar
