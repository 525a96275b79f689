// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-log: logs the meter's readings to a CSV file without a window,
// the same records the window's Data Logging tab writes, for days on a
// small computer next to the appliance, over SSH or as a service.
#include "options.h"

#include "core/logfile/logrecord.h"
#include "core/measure/readouttext.h"
#include "core/session/metersession.h"
#include "core/settings/settingskeys.h"
#include "core/version.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

int usage(const QString &why)
{
    std::fprintf(stderr, "quelmar-log: %s\nTry --help.\n", qPrintable(why));
    return quelmar::ExitUsage;
}

} // namespace

int main(int argc, char *argv[])
{
    using namespace quelmar;
    // SIGINT and SIGTERM are read from a descriptor in the event loop, so
    // the record in progress is written whole before the loop sees them.
    // Blocked before anything else runs, so every thread inherits the mask.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    // A full disk or a file size limit fails the write, which is retried;
    // it must not end the logger.
    std::signal(SIGXFSZ, SIG_IGN);

    // Timers, the serial line and a signal descriptor need no GLib main
    // loop; Qt's own event dispatcher spares the logger GLib's memory.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quelmar-log"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUELMAR_VERSION_TEXT));

    const LoggerOptions o = parseLoggerOptions(app.arguments());
    switch (o.action) {
    case LoggerOptions::Help:
        std::fputs(qPrintable(o.text), stdout);
        return ExitDone;
    case LoggerOptions::Version:
        std::printf("quelmar-log %s\n", QUELMAR_VERSION_TEXT);
        return ExitDone;
    case LoggerOptions::Error:
        return usage(o.text);
    case LoggerOptions::Run:
        break;
    }
    const QString port = o.port.isEmpty() ? storedPort() : o.port;
    if (port.isEmpty())
        return usage(QStringLiteral("no --port given and none remembered"));

    const qint64 held = countLogRecords(o.file);
    if (!o.append && held > 0) {
        std::fprintf(stderr, "quelmar-log: %s already holds %lld readings; use --append to add to it\n",
                     qPrintable(o.file), held);
        return ExitNoFile;
    }
    // No chart to feed: a day of history would only hold memory.
    MeterSession session(nullptr, 1);
    QString why;
    if (!session.log().start(o.file, o.period, o.append, &why)) {
        std::fprintf(stderr, "quelmar-log: %s\n", qPrintable(why));
        return ExitNoFile;
    }

    const int stopSignals = signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
    if (stopSignals < 0)
        return ExitNoFile;
    QSocketNotifier wake(stopSignals, QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &app, [] { QCoreApplication::exit(ExitDone); });

    // One status line on a terminal, rewritten with each record and each
    // change of the link; nothing on a pipe.
    const bool status = ::isatty(STDERR_FILENO);
    bool linkUp = false;
    ReadoutTexts last;
    const auto showStatus = [&] {
        if (status)
            std::fprintf(stderr, "\r%s  %s W  %d records  %s   ", qPrintable(last.time.isEmpty() ? "--:--:--" : last.time),
                         qPrintable(last.power.isEmpty() ? "-" : last.power), session.log().written(),
                         linkUp ? "link up" : "link down");
    };
    int shownRecords = 0;
    QObject::connect(&session, &MeterSession::measured, [&](const Measurement &, const ReadoutTexts &t) {
        last = t;
        if (session.log().written() != shownRecords) {
            shownRecords = session.log().written();
            showStatus();
        }
    });
    QObject::connect(&session, &MeterSession::linkChanged, [&](bool up) {
        linkUp = up;
        showStatus();
    });
    bool everOpen = false;
    QObject::connect(&session, &MeterSession::polled, [&] { everOpen = everOpen || session.link().isUp(); });
    showStatus();

    // The meter is cleared once the address change has gone out.
    if (o.clear)
        session.setPending(Command::Clear);
    everOpen = session.begin(port);
    session.startPolling();

    // A timer's interval is an int of milliseconds, under 25 days: a longer
    // run waits for its deadline a day at a time.
    const QDeadlineTimer deadline(o.durationMs);
    QTimer stopAt;
    stopAt.setSingleShot(true);
    const auto waitForDeadline = [&] { stopAt.start(int(std::min<qint64>(deadline.remainingTime(), 86400000))); };
    QObject::connect(&stopAt, &QTimer::timeout, [&] {
        if (deadline.hasExpired())
            QCoreApplication::exit(everOpen ? ExitDone : ExitNoPort);
        else
            waitForDeadline();
    });
    if (o.durationMs > 0)
        waitForDeadline();

    const int code = app.exec();
    if (status)
        std::fputc('\n', stderr);
    ::close(stopSignals);
    return code;
}
