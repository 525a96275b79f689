// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-log: logs the meter's readings to a CSV file without a window,
// the same records the window's Data Logging tab writes, for days on a
// small computer next to the appliance, over SSH or as a service; and
// publishes them to an MQTT broker for home automation.
#include "core/logfile/logrecord.h"
#include "core/measure/readouttext.h"
#include "core/session/metersession.h"
#include "core/settings/settingskeys.h"
#include "core/version.h"
#include "publish/mqttoptions.h"
#include "publish/mqttpublisher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Exit codes, as --help and the man page list them.
enum Exit { Done = 0, Usage = 2, NoPort = 3, NoFile = 4, BrokerRefused = 5 };

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

int usage(const QString &why)
{
    std::fprintf(stderr, "quelmar-log: %s\nTry --help.\n", qPrintable(why));
    return Usage;
}

// "90", "90s", "15m", "2h" or "3d" in milliseconds; -1 when it is none of them.
qint64 durationMs(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,9})([smhd]?)$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return -1;
    const qint64 seconds[] = {1, 60, 3600, 86400};
    const qsizetype unit = m.captured(2).isEmpty() ? 0 : QStringLiteral("smhd").indexOf(m.captured(2));
    return m.captured(1).toLongLong() * seconds[unit] * 1000;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quelmar-log"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUELMAR_VERSION_TEXT));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Logs the Quelmar meter's readings to FILE ('-' for standard output) without a window:\n"
        "a poll every 500 ms, a record every period, the same CSV as the window's log.\n"
        "A lost or missing port is tried again every 2 seconds. SIGINT or SIGTERM ends it\n"
        "after the record in progress.\n\n"
        "With --mqtt it also publishes them to an MQTT broker, with Home Assistant discovery;\n"
        "FILE is then optional. The broker password comes from --mqtt-password-file or the\n"
        "environment variable QUELMAR_MQTT_PASSWORD.\n\n"
        "Exit codes: 0 done, 2 usage error, 3 the port never opened within --duration,\n"
        "4 the file cannot be written or already holds records (without --append),\n"
        "5 the MQTT broker refused the user name or password, or TLS failed, before it ever\n"
        "accepted the logger."));
    p.addVersionOption();
    p.addOptions({
        {{"h", "help"}, "Show this help and exit."},
        {"port", "Serial port (default: the one the window remembers).", "NAME"},
        {"period", "Seconds between records, 1 to 99 (default 1).", "SECONDS"},
        {"clear", "Clear the meter's data first."},
        {"duration", "Stop after TIME: seconds, or a number with s, m, h or d.", "TIME"},
        {"append", "Add records to an existing log instead of refusing it."},
    });
    quelmar::addMqttOptions(p);
    p.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The CSV file, or - for standard output."), QStringLiteral("[FILE]"));
    if (!p.parse(app.arguments()))
        return usage(p.errorText());
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return Done;
    }
    if (p.isSet(QStringLiteral("version")))
        p.showVersion();

    const bool mqtt = p.isSet(QStringLiteral("mqtt"));
    const QStringList files = p.positionalArguments();
    if (files.size() > 1 || (files.isEmpty() && !mqtt))
        return usage(QStringLiteral("give exactly one FILE, or --mqtt"));
    const QString file = files.value(0);
    bool ok = true;
    const int period = p.isSet(QStringLiteral("period")) ? p.value(QStringLiteral("period")).toInt(&ok) : 1;
    if (!ok || period < 1 || period > 99)
        return usage(QStringLiteral("--period must be a whole number from 1 to 99"));
    const qint64 duration = p.isSet(QStringLiteral("duration")) ? durationMs(p.value(QStringLiteral("duration"))) : 0;
    if (duration < 0)
        return usage(QStringLiteral("--duration must be seconds, or a number with s, m, h or d"));
    const QString port = p.isSet(QStringLiteral("port")) ? p.value(QStringLiteral("port")) : quelmar::storedPort();
    if (port.isEmpty())
        return usage(QStringLiteral("no --port given and none remembered"));
    quelmar::MqttPublisher::Config broker;
    QString why;
    if (!quelmar::mqttConfig(p, port, &broker, &why))
        return usage(why);

    const bool append = p.isSet(QStringLiteral("append"));
    const qint64 held = file.isEmpty() ? 0 : quelmar::countLogRecords(file);
    if (!append && held > 0) {
        std::fprintf(stderr, "quelmar-log: %s already holds %lld readings; use --append to add to it\n",
                     qPrintable(file), held);
        return NoFile;
    }
    quelmar::MeterSession session;
    if (!file.isEmpty() && !session.log().start(file, period, append, &why)) {
        std::fprintf(stderr, "quelmar-log: %s\n", qPrintable(why));
        return NoFile;
    }

    // A signal only wakes the event loop; the record in progress is written
    // whole before the loop sees it.
    if (::pipe2(signalPipe, O_CLOEXEC) != 0)
        return NoFile;
    QSocketNotifier wake(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &app, [] { QCoreApplication::exit(Done); });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A full disk or a file size limit fails the write, which is retried;
    // it must not end the logger.
    std::signal(SIGXFSZ, SIG_IGN);

    // One status line on a terminal, rewritten with each record and each
    // change of the link; nothing on a pipe.
    const bool status = ::isatty(STDERR_FILENO);
    bool linkUp = false;
    quelmar::ReadoutTexts last;
    const char *brokerState = "";
    const auto showStatus = [&] {
        if (status)
            std::fprintf(stderr, "\r%s  %s W  %d records  %s%s   ", qPrintable(last.time.isEmpty() ? "--:--:--" : last.time),
                         qPrintable(last.power.isEmpty() ? "-" : last.power), session.log().written(),
                         linkUp ? "link up" : "link down", brokerState);
    };
    int shownRecords = 0;
    QObject::connect(&session, &quelmar::MeterSession::measured,
                     [&](const quelmar::Measurement &, const quelmar::ReadoutTexts &t) {
                         last = t;
                         if (session.log().written() != shownRecords) {
                             shownRecords = session.log().written();
                             showStatus();
                         }
                     });
    QObject::connect(&session, &quelmar::MeterSession::linkChanged, [&](bool up) {
        linkUp = up;
        showStatus();
    });
    std::unique_ptr<quelmar::MqttPublisher> publisher;
    bool refusedNow = false;
    if (mqtt) {
        publisher = std::make_unique<quelmar::MqttPublisher>(broker);
        using Broker = quelmar::MqttPublisher::Broker;
        brokerState = "  broker connecting";
        publisher->follow(session);
        // Credentials or a certificate that are wrong from the start will
        // not come right by trying again.
        QObject::connect(publisher.get(), &quelmar::MqttPublisher::refused, [&](const QString &reason) {
            std::fprintf(stderr, "%squelmar-log: the MQTT broker %s refused the connection: %s\n", status ? "\n" : "",
                         qPrintable(publisher->address()), qPrintable(reason));
            refusedNow = true;
            QCoreApplication::exit(BrokerRefused);
        });
        // Each change on a line of its own, for a journal as much as a terminal.
        QObject::connect(publisher.get(), &quelmar::MqttPublisher::brokerChanged, [&](Broker state, const QString &reason) {
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
            return Usage;
        }
    }
    bool everOpen = false;
    QObject::connect(&session, &quelmar::MeterSession::polled, [&] { everOpen = everOpen || session.link().isUp(); });
    showStatus();

    // The meter is cleared once the address change has gone out.
    if (p.isSet(QStringLiteral("clear")))
        session.setPending(quelmar::Command::Clear);
    everOpen = session.begin(port);
    session.startPolling();

    QTimer stopAt;
    stopAt.setSingleShot(true);
    QObject::connect(&stopAt, &QTimer::timeout, [&] { QCoreApplication::exit(everOpen ? Done : NoPort); });
    if (duration > 0)
        stopAt.start(std::chrono::milliseconds(duration));

    const int code = app.exec();
    if (status)
        std::fputc('\n', stderr);
    return code;
}
