// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a data log back for the chart: the file the Data Logging tab writes.
#pragma once

#include "core/history/history.h"

#include <QString>

class QIODevice;

namespace quelmar {

struct LogContents {
    enum Status { Loaded, Unreadable, NotALog };
    Status status = Unreadable;
    // Time is the log's elapsed time in ms. Where the time column starts
    // again from a lower value (the meter was cleared while logging) the
    // reading is marked as after a clear and the time goes on from the
    // reading before, so the chart keeps one time order.
    ReadingHistory readings{ReadingHistory::kUnbounded};
    int skipped = 0;  // rows that did not parse
};

// NotALog when the first line is not the log's header; every other row must
// be a whole record ("h:mm:ss", six finite numbers, "Lead" or "lag") or it
// is skipped and counted. Blank lines are not rows.
LogContents readLog(const QString &path);
// The same from an open device; Unreadable only from the path's form.
LogContents readLog(QIODevice &device);

} // namespace quelmar
