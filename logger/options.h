// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-log's command line: what it accepts, what --help says, and the
// exit codes it promises.
#pragma once

#include "core/logfile/logsink.h"
#include "core/publish/mqttpublisher.h"
#include "core/report/logreport.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace quelmar {

// Exit codes, as --help and the man page list them.
enum LoggerExit {
    ExitDone = 0,
    ExitSystem = 1,
    ExitUsage = 2,
    ExitNoPort = 3,
    ExitNoFile = 4,
    ExitBrokerRefused = 5,
    ExitNoMqttLibrary = 6,
};

struct LoggerOptions {
    enum Action { Run, Report, Help, Version, Error };
    Action action = Run;
    QString text;          // Help: the help text; Error: what was wrong
    QString port;          // Run: --port, or else the port the window remembers
    QStringList files;     // Run: the log ("-" for standard output), none with --mqtt; Report: the logs
    int period = 1;        // seconds between records
    qint64 durationMs = 0; // 0: until stopped
    bool clear = false;
    bool append = false;
    LogOptions log;        // rotation and the clock column
    ReportOptions report;  // Report: grouping, dates and prices
    double cents = -1;     // Run, for the page of --listen: cents per kWh; -1 for none
    bool csv = false;      // Report: CSV instead of a table
    bool mqtt = false;     // Run: also publish to `broker`
    MqttPublisher::Config broker;
    QString listenAddress; // Run: --listen's numeric address
    int listenPort = -1;   // Run: --listen's port, 0 for any free one; -1 without --listen
};

// `arguments` as QCoreApplication::arguments() gives them, program first;
// `rememberedPort` gives the port a run without --port uses. It is asked
// only then: reading the settings costs the logger half a MiB.
LoggerOptions parseLoggerOptions(const QStringList &arguments, const std::function<QString()> &rememberedPort);

// "90", "90s", "15m", "2h" or "3d" in milliseconds; -1 when it is none of
// them.
qint64 durationMs(const QString &text);

// The environment variable that sets the clock the logger writes by, for
// trying rotation without waiting for midnight.
inline constexpr char kClockVariable[] = "QUELMAR_LOG_CLOCK";

// "2026-03-28T22:00:00+01:00" or the same with ",RATE": a clock (ms since
// the epoch) that starts there now and runs RATE times as fast as real
// time. False when the text is neither.
bool clockFrom(const QString &text, std::function<qint64()> &clock);

} // namespace quelmar
