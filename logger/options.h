// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-log's command line: what it accepts, what --help says, and the
// exit codes it promises.
#pragma once

#include <QString>
#include <QStringList>

namespace quelmar {

// Exit codes, as --help and the man page list them.
enum LoggerExit { ExitDone = 0, ExitUsage = 2, ExitNoPort = 3, ExitNoFile = 4 };

struct LoggerOptions {
    enum Action { Run, Help, Version, Error };
    Action action = Run;
    QString text;          // Help: the help text; Error: what was wrong
    QString port;          // empty: the port the window remembers
    QString file;          // "-" for standard output
    int period = 1;        // seconds between records
    qint64 durationMs = 0; // 0: until stopped
    bool clear = false;
    bool append = false;
};

// `arguments` as QCoreApplication::arguments() gives them, program first.
LoggerOptions parseLoggerOptions(const QStringList &arguments);

// "90", "90s", "15m", "2h" or "3d" in milliseconds; -1 when it is none of
// them.
qint64 durationMs(const QString &text);

} // namespace quelmar
