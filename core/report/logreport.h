// SPDX-License-Identifier: GPL-3.0-or-later
// What logs of weeks add up to: energy, cost, power and standby per day and
// in total, read a row at a time from any number of logs.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace quelmar {

// One group of readings: a local day, a log without the clock column, or
// everything.
struct ReportLine {
    QString name;         // "2026-03-29", the log's path, or "Total"
    qint64 readings = 0;
    double energy = 0;    // mWh
    double min = 0;       // W
    double mean = 0;      // W, over the readings
    double max = 0;       // W
    double standby = 0;   // W: the mean of the lowest 5% of readings
    double above = 0;     // share of readings above standby: over twice it and over 1 W above it
};

// Rows of one log that the report left out.
struct ReportFile {
    QString path;
    int unreadable = 0;   // rows that did not parse
    int overlapping = 0;  // rows not later than one already counted
};

struct LogReport {
    // The days in time order, then each log without the clock column in
    // the order given, then the total.
    QList<ReportLine> lines;
    QList<ReportFile> files;
};

// Reads the logs at `paths`, in any order. Logs with the clock column are
// laid on the calendar together, sorted by their first record: each record
// counts on its own local date, and the energy between two records on the
// day of the later one. A record not later than the one before it (the same
// log given twice, overlapping logs, the clock set back) is left out and
// counted. Each log without the clock column is a group of its own. False,
// with `why`, when a file cannot be read or is not a log.
bool makeReport(const QStringList &paths, LogReport &report, QString *why);

// The report as an aligned table, or as CSV with a header line. The cost
// column is there when `centsPerKWh` is not negative.
QString reportTable(const LogReport &report, double centsPerKWh);
QString reportCsv(const LogReport &report, double centsPerKWh);
// A line for each log with rows left out, and why; empty when none were.
QString reportNotes(const LogReport &report);

} // namespace quelmar
