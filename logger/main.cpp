// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-log: logs the meter's readings to a CSV file without a window,
// the same records the window's Data Logging tab writes, for days on a
// small computer next to the appliance, over SSH or as a service; publishes
// them to an MQTT broker for home automation; and reports what such logs
// add up to.
#include "options.h"
#include "reportcommand.h"

#include "core/logfile/logreader.h"
#include "core/logfile/logrecord.h"
#include "core/measure/readouttext.h"
#include "core/report/logreport.h"
#include "core/session/metersession.h"
#include "core/settings/settingskeys.h"
#include "core/version.h"
#include "core/publish/mqttpublisher.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using namespace quelmar;

int usage(const QString &why)
{
    std::fprintf(stderr, "quelmar-log: %s\nTry --help.\n", qPrintable(why));
    return ExitUsage;
}

// Appending rows of the other kind would leave a file that cannot all be
// read back: true, after saying so, when `path` is a log of the other kind.
bool otherKind(const QString &path, bool clock)
{
    QFile existing(path);
    const bool opened = existing.open(QIODevice::ReadOnly);
    const LogRows rows(existing);
    if (!opened || rows.status() != LogContents::Loaded || rows.hasClock() == clock)
        return false;
    std::fprintf(stderr, "quelmar-log: %s is a log %s the clock column; %s --clock to append to it\n",
                 qPrintable(path), rows.hasClock() ? "with" : "without", rows.hasClock() ? "add" : "leave out");
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
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

    const LoggerOptions o = parseLoggerOptions(app.arguments(), storedPort);
    switch (o.action) {
    case LoggerOptions::Help:
        std::fputs(qPrintable(o.text), stdout);
        return ExitDone;
    case LoggerOptions::Version:
        std::printf("quelmar-log %s\n", QUELMAR_VERSION_TEXT);
        return ExitDone;
    case LoggerOptions::Error:
        return usage(o.text);
    case LoggerOptions::Report:
        return runReport(o);
    case LoggerOptions::Run:
        break;
    }
    // No chart to feed: a day of history would only hold memory.
    MeterSession session(nullptr, 1);
    if (qEnvironmentVariableIsSet(kClockVariable)) {
        std::function<qint64()> clock;
        if (!clockFrom(qEnvironmentVariable(kClockVariable), clock))
            return usage(QStringLiteral("%1 must be a date and time such as 2026-03-28T22:00:00+01:00, "
                                        "optionally with ,RATE")
                             .arg(QLatin1String(kClockVariable)));
        session.setClock(clock);
    }

    // With --mqtt alone there is no file to write.
    const QString file = o.files.value(0);
    const QString first = file.isEmpty() ? file : logFileAt(file, o.log.rotation, session.now());
    const qint64 held = file.isEmpty() ? 0 : countLogRecords(first);
    if (!o.append && held > 0) {
        std::fprintf(stderr, "quelmar-log: %s already holds %lld readings; use --append to add to it\n",
                     qPrintable(first), held);
        return ExitNoFile;
    }
    if (o.append && held > 0 && otherKind(first, o.log.clock))
        return ExitNoFile;
    QString why;
    if (!file.isEmpty() && !session.log().start(file, o.period, o.append, &why, o.log, session.now())) {
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
    const char *brokerState = "";
    const auto showStatus = [&] {
        if (status)
            std::fprintf(stderr, "\r%s  %s W  %d records  %s%s   ", qPrintable(last.time.isEmpty() ? "--:--:--" : last.time),
                         qPrintable(last.power.isEmpty() ? "-" : last.power), session.log().written(),
                         linkUp ? "link up" : "link down", brokerState);
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
    std::unique_ptr<MqttPublisher> publisher;
    bool refusedNow = false;
    if (o.mqtt) {
        publisher = std::make_unique<MqttPublisher>(o.broker);
        using Broker = MqttPublisher::Broker;
        brokerState = "  broker connecting";
        publisher->follow(session);
        // Credentials or a certificate that are wrong from the start will
        // not come right by trying again.
        QObject::connect(publisher.get(), &MqttPublisher::refused, [&](const QString &reason) {
            std::fprintf(stderr, "%squelmar-log: the MQTT broker %s refused the connection: %s\n", status ? "\n" : "",
                         qPrintable(publisher->address()), qPrintable(reason));
            refusedNow = true;
            QCoreApplication::exit(ExitBrokerRefused);
        });
        // Each change on a line of its own, for a journal as much as a terminal.
        QObject::connect(publisher.get(), &MqttPublisher::brokerChanged, [&](Broker state, const QString &reason) {
            if (refusedNow)
                return;
            brokerState = state == Broker::Up ? "  broker up" : "  broker down";
            std::fprintf(stderr, "%squelmar-log: MQTT broker %s %s%s\n", status ? "\n" : "",
                         qPrintable(publisher->address()), state == Broker::Up ? "connected" : "down: ",
                         qPrintable(reason));
            showStatus();
        });
        if (!publisher->start(&why)) {
            std::fprintf(stderr, "quelmar-log: MQTT: %s\n", qPrintable(why));
            return ExitUsage;
        }
    }
    bool everOpen = false;
    QObject::connect(&session, &MeterSession::polled, [&] { everOpen = everOpen || session.link().isUp(); });
    showStatus();

    // The meter is cleared once the address change has gone out.
    if (o.clear)
        session.setPending(Command::Clear);
    everOpen = session.begin(o.port);
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
