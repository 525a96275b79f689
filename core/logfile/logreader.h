// SPDX-License-Identifier: GPL-3.0-or-later
// Reads data logs back, for the chart and for the report: the file the Data
// Logging tab writes, and the logger's with the clock column.
#pragma once

#include "core/history/history.h"

#include <QByteArray>
#include <QString>

class QIODevice;

namespace quelmar {

struct LogContents {
    enum Status { Loaded, Unreadable, NotALog };
    Status status = Unreadable;
    // With the clock column, time is the record's clock time (ms since the
    // epoch). Without it, time is the log's elapsed time in ms; where the
    // time column starts again from a lower value (the meter was cleared
    // while logging) the reading is marked as after a clear and the time
    // goes on from the reading before, so the chart keeps one time order.
    ReadingHistory readings{ReadingHistory::kUnbounded};
    int skipped = 0;  // rows that did not parse
    bool clock = false;
};

// One row of a log as it was written.
struct LogRow {
    Reading reading;    // meterTime and the counter in `energy`; timeMs unset
    qint64 clockMs = 0; // the clock column as ms since the epoch, or 0
    int localDay = 0;   // the clock column's own date as a Julian day, or 0
};

// The rows of one log, one at a time, so a file of any length costs one
// line of memory.
class LogRows
{
public:
    // Reads the header from `device`, which must stay open while rows are read.
    explicit LogRows(QIODevice &device);
    // Loaded or NotALog.
    LogContents::Status status() const { return m_status; }
    bool hasClock() const { return m_clock; }
    // The next whole row; false at the end. Rows that do not parse are
    // counted and passed over.
    bool next(LogRow &row);
    int skipped() const { return m_skipped; }

private:
    QIODevice &m_device;
    QByteArray m_line;
    LogContents::Status m_status = LogContents::NotALog;
    bool m_clock = false;
    int m_skipped = 0;
};

// NotALog when the first line is not a log's header; every other row must
// be a whole record ("h:mm:ss", six finite numbers, "Lead" or "lag", and
// the clock column where the header names it) or it is skipped and counted.
// Blank lines are not rows.
LogContents readLog(const QString &path);
// The same from an open device; Unreadable only from the path's form.
LogContents readLog(QIODevice &device);

} // namespace quelmar
