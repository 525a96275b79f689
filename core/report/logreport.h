// SPDX-License-Identifier: GPL-3.0-or-later
// What logs of months add up to: energy, cost, power and standby per day,
// week, month or hour of the day and in total, read a row at a time from any
// number of logs.
#pragma once

#include "core/cost/tariff.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QIODevice;

namespace quelmar {

class ReadingHistory;

struct ReportOptions {
    enum Grouping { Days, Weeks, Months, Hours };
    Grouping by = Days;
    int fromDay = 0;                // the first local date counted, as a Julian day; 0 for no bound
    int toDay = 0;                  // the last, likewise
    std::optional<Tariff> tariff;   // no cost without one
    double standingCents = -1;      // a charge per day, in cents; negative for none
    bool priced() const { return tariff || standingCents >= 0; }
    // Only logs with the clock column can be placed in a range, in the hours
    // of a day, priced by the time of day or charged by the day.
    bool needsClock() const;
};

// One group of readings: a local day, week (named by its Monday), month or
// hour of the day, a log without the clock column, or everything.
struct ReportLine {
    QString name;           // "2026-03-29", "2026-03", "07:00", the log's name, or "Total"
    int firstDay = 0;       // the calendar days it stands for (Julian days), 0 for none
    int lastDay = 0;
    qint64 readings = 0;
    double energy = 0;      // mWh
    double timedCents = 0;  // the energy priced at each record's time of day, with a tariff by time
    int standingDays = 0;   // days of the standing charge
    double min = 0;         // W
    double mean = 0;        // W, over the readings
    double max = 0;         // W
    double standby = 0;     // W: the mean of the lowest 5% of readings
    double above = 0;       // share of readings above standby: over twice it and over 1 W above it
    qint64 gaps = 0;        // stretches the meter did not measure, not counted
    qint64 gapMs = 0;       // their length, where it is known
    bool gapUnknown = false;  // some gap's length is not known
};

struct LogReport {
    QString heading;        // what the lines are: "Day", "Week", "Month" or "Hour"
    QList<ReportLine> lines;  // the groups in time order, then each log without the clock column, then the total
    QStringList notes;      // in words: each gap, each log or row left out, and why
    qint64 unreadable = 0;  // rows that could not be read, in all logs
    bool lost = false;      // something given could not be used: a file, or rows of one
};

// Opens a log by its name: a file by default. Null, with `why`, when it
// cannot be opened.
using LogOpener = std::function<std::unique_ptr<QIODevice>(const QString &name, QString *why)>;

// Reads the logs named, in any order. Logs with the clock column are laid on
// the calendar together, sorted by their first record: each record counts on
// its own local date, the energy from the record before it too, whatever the
// offset. A record not later than the one before it is left out and
// counted. Each log without the clock column is a group of its own. A log
// given twice (the same content) is read once; an empty or header-only log
// is a note; a file that cannot be read or is not a log is named and left
// out. With `readings`, every record read also goes there, on the clock when
// any log has the clock column (logs without it are then left out of it).
LogReport makeReport(const QStringList &names, const ReportOptions &options, ReadingHistory *readings = nullptr,
                     const LogOpener &open = {});

// A line's cost in dollars at the options' tariff and standing charge.
double lineCost(const ReportLine &line, const ReportOptions &options);

// The report as an aligned table of at most 100 columns, or as CSV with a
// header line and every figure to the last digit. There is a cost column
// when the options price the energy.
QString reportTable(const LogReport &report, const ReportOptions &options);
QString reportCsv(const LogReport &report, const ReportOptions &options);
// The notes, a line each; empty when there are none.
QString reportNotes(const LogReport &report);

} // namespace quelmar
