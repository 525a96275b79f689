// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-log: logs the meter's readings to a CSV file without a window,
// the same records the window's Data Logging tab writes, for days on a
// small computer next to the appliance, over SSH or as a service; publishes
// them to an MQTT broker for home automation; and reports what such logs
// add up to.
#include "meterlogger.h"
#include "options.h"
#include "reportcommand.h"
#include "stopsignals.h"

#include "core/settings/settingskeys.h"
#include "core/version.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

using namespace quelmar;

int usage(const QString &why)
{
    std::fprintf(stderr, "quelmar-log: %s\nTry --help.\n", qPrintable(why));
    return ExitUsage;
}

// What went to standard output, whole, or exit code 4 with the reason: a
// full disk or a closed pipe must not pass for a finished report.
int written(int code)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return code;
    std::fprintf(stderr, "quelmar-log: cannot write to standard output: %s\n", std::strerror(errno));
    return ExitNoFile;
}

int report(const LoggerOptions &o)
{
    return written(runReport(o));
}

} // namespace

int main(int argc, char *argv[])
{
    // Before anything else, so that no moment is deaf to them.
    stopsignals::install();
    // Timers, the serial line and a pipe need no GLib main loop; Qt's own
    // event dispatcher spares the logger GLib's memory.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quelmar-log"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUELMAR_VERSION_TEXT));

    const LoggerOptions o = parseLoggerOptions(app.arguments(), storedPort);
    switch (o.action) {
    case LoggerOptions::Help:
        std::fputs(qPrintable(o.text), stdout);
        return written(ExitDone);
    case LoggerOptions::Version:
        std::printf("quelmar-log %s\n", QUELMAR_VERSION_TEXT);
        return written(ExitDone);
    case LoggerOptions::Error:
        return usage(o.text);
    case LoggerOptions::Report:
        return report(o);
    case LoggerOptions::Run:
        break;
    }
    MeterLogger logger(o);
    return logger.run();
}
