// SPDX-License-Identifier: GPL-3.0-or-later
#include "logreport.h"

#include "core/cost/costmath.h"
#include "core/history/chartmath.h"
#include "core/logfile/logreader.h"
#include "core/measure/readouttext.h"

#include <QDate>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quelmar {

namespace {

// The readings of one group. Power is kept as a count per milliwatt value,
// the log's own resolution: that is exact for the standby figure, and its
// size follows the distinct values seen, not the number of rows.
class Group
{
public:
    void add(double watts, double energy)
    {
        const qint64 mW = std::llround(watts * 1000);
        ++m_counts[mW];
        m_sum += mW;
        ++m_readings;
        m_energy += energy;
    }

    ReportLine finish(const QString &name)
    {
        ReportLine line;
        line.name = name;
        line.readings = m_readings;
        line.energy = m_energy;
        if (m_readings > 0) {
            std::vector<std::pair<qint64, qint64>> values(m_counts.begin(), m_counts.end());
            std::sort(values.begin(), values.end());
            // The lowest 5%, at least one reading.
            const qint64 lowest = (m_readings + 19) / 20;
            qint64 taken = 0, lowSum = 0, above = 0;
            for (const auto &[mW, count] : values) {
                const qint64 take = std::min(count, lowest - taken);
                lowSum += take * mW;
                taken += take;
            }
            // A real meter's readings wander a little: a reading is above
            // standby when it is more than twice it and more than 1 W above
            // it, with standby = lowSum / lowest, in whole numbers.
            for (const auto &[mW, count] : values) {
                if (mW * lowest > 2 * lowSum && (mW - 1000) * lowest > lowSum)
                    above += count;
            }
            line.min = values.front().first / 1000.0;
            line.max = values.back().first / 1000.0;
            line.mean = double(m_sum) / double(m_readings) / 1000.0;
            line.standby = double(lowSum) / double(lowest) / 1000.0;
            line.above = double(above) / double(m_readings);
        }
        *this = Group();
        return line;
    }

private:
    std::unordered_map<qint64, qint64> m_counts;
    qint64 m_sum = 0;  // mW
    qint64 m_readings = 0;
    double m_energy = 0;
};

struct Source {
    QString path;
    int index = 0;                 // into LogReport::files
    bool clock = false;
    qint64 first = std::numeric_limits<qint64>::max();  // its first record's clock time
};

bool open(QFile &file, const QString &path, QString *why)
{
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly))
        return true;
    if (why)
        *why = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    return false;
}

QString dayName(int julianDay)
{
    return QDate::fromJulianDay(julianDay).toString(Qt::ISODate);
}

} // namespace

bool makeReport(const QStringList &paths, LogReport &report, QString *why)
{
    report = LogReport();
    std::vector<Source> sources;
    for (const QString &path : paths) {
        QFile file;
        if (!open(file, path, why))
            return false;
        LogRows rows(file);
        if (rows.status() != LogContents::Loaded) {
            if (why)
                *why = QStringLiteral("%1 is not a Quelmar log: its first line is not a log's header").arg(path);
            return false;
        }
        Source s{path, int(sources.size()), rows.hasClock()};
        LogRow row;
        if (s.clock && rows.next(row))
            s.first = row.clockMs;
        sources.push_back(s);
        report.files << ReportFile{path};
    }
    // Logs on the calendar in time order, whatever order they were given in.
    std::stable_sort(sources.begin(), sources.end(), [](const Source &a, const Source &b) {
        return a.clock != b.clock ? a.clock : a.first < b.first;
    });

    Group total, group;
    int day = 0;  // the local date of the day group, 0 before the first
    const auto endDay = [&] {
        if (day != 0)
            report.lines << group.finish(dayName(day));
        day = 0;
    };
    LogRow prev;
    bool havePrev = false;
    for (const Source &s : sources) {
        QFile file;
        if (!open(file, s.path, why))
            return false;
        LogRows rows(file);
        ReportFile &counts = report.files[s.index];
        if (!s.clock) {
            // A log of its own, after every log on the calendar.
            endDay();
            havePrev = false;
        }
        LogRow row;
        while (rows.next(row)) {
            const Reading &r = row.reading, &p = prev.reading;
            if (s.clock && havePrev
                && (row.clockMs < prev.clockMs
                    || (row.clockMs == prev.clockMs && r.meterTime == p.meterTime && r.energy == p.energy))) {
                ++counts.overlapping;
                continue;
            }
            double energy = 0;
            if (havePrev) {
                const bool cleared = r.meterTime < p.meterTime;
                // Without a clock, the time since the clear is all that is known.
                const qint64 ms = s.clock ? row.clockMs - prev.clockMs
                                          : qint64((cleared ? r.meterTime : r.meterTime - p.meterTime) * 1000);
                energy = energyBetween(r.energy - p.energy, cleared, p.power, r.power, ms);
            }
            if (s.clock && row.localDay != day) {
                endDay();
                day = row.localDay;
            }
            group.add(r.power, energy);
            total.add(r.power, energy);
            prev = row;
            havePrev = true;
        }
        counts.unreadable = rows.skipped();
        if (!s.clock)
            report.lines << group.finish(s.path);
    }
    endDay();
    report.lines << total.finish(QStringLiteral("Total"));
    return true;
}

namespace {

// The report's cells, the first column a name and the rest numbers.
QList<QStringList> cells(const LogReport &report, double cents, bool csv)
{
    const bool cost = cents >= 0;
    QStringList head{QStringLiteral("Day"), QStringLiteral("Readings"), QStringLiteral("Energy (kWh)")};
    if (cost)
        head << (csv ? QStringLiteral("Cost ($)") : QStringLiteral("Cost"));
    head << QStringLiteral("Min (W)") << QStringLiteral("Mean (W)") << QStringLiteral("Max (W)")
         << QStringLiteral("Standby (W)") << QStringLiteral("Above standby") + (csv ? QStringLiteral(" (%)") : QString());
    QList<QStringList> table{head};
    for (const ReportLine &l : report.lines) {
        const double kWh = l.energy / 1e6;
        QStringList row{l.name, QString::number(l.readings), numberText(kWh, 6)};
        if (cost) {
            const QString money = moneyText(kWh * cents / 100);
            row << (csv ? money.mid(1) : money);
        }
        if (l.readings > 0) {
            row << numberText(l.min, 3) << numberText(l.mean, 3) << numberText(l.max, 3)
                << numberText(l.standby, 3) << numberText(l.above * 100, 1) + (csv ? QString() : QStringLiteral("%"));
        } else {
            for (int i = 0; i < 5; ++i)
                row << (csv ? QString() : QStringLiteral("-"));
        }
        table << row;
    }
    return table;
}

} // namespace

QString reportTable(const LogReport &report, double centsPerKWh)
{
    const QList<QStringList> table = cells(report, centsPerKWh, false);
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

namespace {

QString rows(int n)
{
    return n == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(n);
}

} // namespace

QString reportNotes(const LogReport &report)
{
    QString out;
    for (const ReportFile &f : report.files) {
        if (f.unreadable > 0)
            out += QStringLiteral("%1: %2 could not be read and %3 left out\n")
                       .arg(f.path, rows(f.unreadable), f.unreadable == 1 ? QStringLiteral("was") : QStringLiteral("were"));
        if (f.overlapping > 0)
            out += QStringLiteral("%1: %2 not later than the row before %3 left out\n")
                       .arg(f.path, rows(f.overlapping), f.overlapping == 1 ? QStringLiteral("was") : QStringLiteral("were"));
    }
    return out;
}

QString reportCsv(const LogReport &report, double centsPerKWh)
{
    QString out;
    for (QStringList row : cells(report, centsPerKWh, true)) {
        // A file name may hold a comma or a quote.
        QString &name = row.first();
        if (name.contains(QLatin1Char(',')) || name.contains(QLatin1Char('"')))
            name = QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
        out += row.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out;
}

} // namespace quelmar
