// SPDX-License-Identifier: GPL-3.0-or-later
// Reads data logs back, for the chart and for the report: the file the Data
// Logging tab writes, and the logger's with the clock column.
#pragma once

#include "core/history/history.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class QIODevice;

namespace quelmar {

// What a log's first line made of it.
struct LogContents {
    enum Status { Loaded, Unreadable, NotALog };
};

// What a mains plug-in meter can report, and so what a row may hold: a
// number beyond these is no reading and its row cannot be read.
inline constexpr double kMostWatts = 100000;        // real and apparent power, either sign
inline constexpr double kMostMilliwattHours = 1e15; // the counter: 10^12 Wh, either sign
inline constexpr double kMostVolts = 1000;
inline constexpr double kMostAmps = 1000;

// One row of a log as it was written.
struct LogRow {
    Reading reading;       // meterTime and the counter in `energy`; timeMs unset
    qint64 clockMs = 0;    // the clock column as ms since the epoch, or 0
    int localDay = 0;      // the clock column's own date as a Julian day, or 0
    int localSeconds = 0;  // its time of day in seconds
    int offsetSeconds = 0; // its offset from UTC
};

// The rows of one log, one at a time, so a file of any length costs a
// buffer of memory.
class LogRows
{
public:
    // Reads the header from `device`, which must stay open while rows are read.
    explicit LogRows(QIODevice &device);
    // Loaded or NotALog.
    LogContents::Status status() const { return m_status; }
    // The device held nothing at all: not a log, but no loss either.
    bool isEmpty() const { return m_empty; }
    bool hasClock() const { return m_clock; }
    // The next whole row; false at the end. Rows that do not parse, and rows
    // with a number out of the bounds above, are counted and passed over:
    // every row must be a whole record ("h:mm:ss", six numbers, "Lead" or
    // "lag", and the clock column where the header names it). Blank lines
    // are not rows.
    bool next(LogRow &row);
    qint64 skipped() const { return m_skipped; }
    // Why reading stopped before the end of the file; empty when it did not.
    QString error() const { return m_error; }

private:
    bool nextLine(QByteArrayView &line, bool &tooLong);
    void fill();

    QIODevice &m_device;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_end = 0;
    bool m_atEnd = false;
    bool m_skipping = false;  // inside a line too long to be a record
    LogContents::Status m_status = LogContents::NotALog;
    bool m_clock = false;
    bool m_empty = false;
    qint64 m_skipped = 0;
    QString m_error;
};

} // namespace quelmar
