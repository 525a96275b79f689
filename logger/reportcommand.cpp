// SPDX-License-Identifier: GPL-3.0-or-later
#include "reportcommand.h"

#include "options.h"

#include "core/report/logreport.h"

#include <cstdio>

namespace quelmar {

int runReport(const LoggerOptions &o)
{
    const LogReport r = makeReport(o.files, o.report);
    std::fputs(qPrintable(o.csv ? reportCsv(r, o.report) : reportTable(r, o.report)), stdout);
    // The notes go under the table on a terminal, and apart from it in a pipe.
    const QString notes = reportNotes(r);
    if (!notes.isEmpty()) {
        std::fflush(stdout);
        std::fputs(qPrintable((o.csv ? QString() : QStringLiteral("\n")) + notes), stderr);
    }
    return r.lost ? ExitNoFile : ExitDone;
}

} // namespace quelmar
