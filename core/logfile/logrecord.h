// SPDX-License-Identifier: GPL-3.0-or-later
// The data log's file format and its whole-record file writes.
#pragma once

#include <QByteArray>
#include <QString>

namespace quelmar {

struct Record;

// The first line of every log, without its line end.
extern const char kLogHeader[];

// The header of a log with or without the clock column, which adds
// ",Local Time".
QByteArray logHeader(bool clock);

// One record's line without its line end: the eight columns, comma-
// separated, and with `clock` the ninth, the local date and time of
// `r.atMs`. The energy column is always in milliwatt-hours.
QByteArray logRecord(const Record &r, bool clock = false);

// The number text of each column, as the log writes it.
QByteArray elapsedColumn(const Record &r);
QByteArray numberColumn(double value, int decimals);

// The clock column: `ms` since the epoch as the local date and time with its
// offset from UTC, "2026-03-29T03:00:00+02:00", to the second.
QByteArray clockText(qint64 ms);

// "-" as a path is standard output, for each of these.
//
// Starts a log in `path`: creates or truncates it and writes the header
// line; with `append`, keeps what the file holds and writes the header only
// into an empty file. False when the file cannot be opened or the header
// does not reach it whole; then `why`, when given, gets the text to show the
// user: "No file name selected!" for an empty path, else the name and the
// system's reason.
bool writeLogHeader(const QString &path, bool append = false, QString *why = nullptr,
                    const QByteArray &header = kLogHeader);

// What became of a line appended to a log.
struct LogWrite {
    bool written = false;
    bool header = false; // the file was missing or empty and got the header first
    QString why;         // not written: the system's reason, in words
};

// Appends `record` and a line end to `path`. The line lands whole or not at
// all: after a failed or short write the file is cut back to its old length.
// With a `header`, a regular file that is missing or empty gets it first, in
// the same write.
LogWrite appendLogRecord(const QString &path, const QByteArray &record, const QByteArray &header = {});

// How many lines of `path` a new log would replace: every line but a leading
// header, with or without the clock column (a last line without its line
// end counts too). 0 for a file that is missing, empty, unreadable or the
// header alone, and for anything that is not a regular file.
qint64 countLogRecords(const QString &path);

// The name a log is written to: a name without a suffix gets ".csv".
QString withLogSuffix(const QString &path);

} // namespace quelmar
