// SPDX-License-Identifier: GPL-3.0-or-later
#include "meterlogger.h"

#include "stopsignals.h"

#include "core/logfile/logreader.h"
#include "core/logfile/logrecord.h"
#include "core/measure/record.h"
#include "core/publish/mqttpublisher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace quelmar {

namespace {

// Appending rows of the other kind would leave a file that cannot all be
// read back: the reason, when `path` is a log of the other kind.
QString otherKind(const QString &path, bool clock)
{
    // Only a regular file is read: a device such as /dev/full never ends.
    QFile existing(path);
    if (!QFileInfo(path).isFile() || !existing.open(QIODevice::ReadOnly))
        return {};
    const LogRows rows(existing);
    if (rows.status() != LogContents::Loaded || rows.hasClock() == clock)
        return {};
    return QStringLiteral("%1 is a log %2 the clock column; %3 --clock to append to it")
        .arg(path, rows.hasClock() ? QStringLiteral("with") : QStringLiteral("without"),
             rows.hasClock() ? QStringLiteral("add") : QStringLiteral("leave out"));
}

QString counted(qint64 n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// "3 h 2 min 5 s", the larger units only where they count.
QString durationText(qint64 ms)
{
    const qint64 s = ms / 1000;
    QString text = QStringLiteral("%1 s").arg(s % 60);
    if (s >= 60)
        text.prepend(QStringLiteral("%1 min ").arg(s / 60 % 60));
    if (s >= 3600)
        text.prepend(QStringLiteral("%1 h ").arg(s / 3600 % 24));
    if (s >= 86400)
        text.prepend(QStringLiteral("%1 d ").arg(s / 86400));
    return text;
}

// A pipe whose reader has gone: nothing written to it will ever be read.
bool outputClosed()
{
    pollfd out = {STDOUT_FILENO, POLLOUT, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & POLLERR);
}

} // namespace

MeterLogger::MeterLogger(const LoggerOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    // No chart to feed but the page's hour: a day of history would only hold
    // memory.
    , m_session(nullptr, options.listenPort >= 0 ? kHourOfReadings : 1)
    , m_status(stderr)
{
    m_stopAt.setSingleShot(true);
    connect(&m_stopAt, &QTimer::timeout, this, &MeterLogger::deadline);
}

MeterLogger::~MeterLogger() = default;

QString MeterLogger::logName(const QString &file) const
{
    return file == QLatin1String("-") ? QStringLiteral("standard output") : file;
}

int MeterLogger::prepare()
{
    if (!m_service.problem().isEmpty())
        m_status.say(StatusLines::Other, m_service.problem());
    QString why;
    // A publisher that cannot run refuses before any file or port is touched.
    if (m_options.mqtt && !MqttPublisher::loadClient(&why)) {
        m_status.say(StatusLines::Other, why);
        return ExitNoMqttLibrary;
    }
    if (qEnvironmentVariableIsSet(kClockVariable)) {
        std::function<qint64()> clock;
        if (!clockFrom(qEnvironmentVariable(kClockVariable), clock)) {
            m_status.say(StatusLines::Other, QStringLiteral("%1 must be a date and time such as 2026-03-28T22:00:00+01:00, "
                                                            "optionally with ,RATE")
                                                 .arg(QLatin1String(kClockVariable)));
            return ExitUsage;
        }
        m_session.setClock(clock);
    }
    if (m_options.mqtt) {
        m_publisher = std::make_unique<MqttPublisher>(m_options.broker);
        if (!m_publisher->setUp(&why)) {
            m_status.say(StatusLines::Other, QStringLiteral("MQTT: ") + why);
            return ExitUsage;
        }
    }
    if (m_options.listenPort >= 0) {
        if (const int refused = serve(); refused != ExitDone)
            return refused;
    }
    // With --mqtt alone there is no file to write.
    const QString file = m_options.files.value(0);
    if (file.isEmpty())
        return ExitDone;
    const QString first = logFileAt(file, m_options.log.rotation, m_session.now());
    // "-" is standard output, not a file of that name in the current folder.
    const bool stdOut = file == QLatin1String("-");
    const qint64 held = stdOut ? 0 : countLogRecords(first);
    if (!m_options.append && held > 0) {
        m_status.say(StatusLines::Other, QStringLiteral("%1 already holds %2; use --append to add to it")
                                             .arg(first, counted(held, "reading", "readings")));
        return ExitNoFile;
    }
    // A header alone decides the kind too: rows of the other kind under it
    // could never be read back.
    if (m_options.append && !stdOut)
        why = otherKind(first, m_options.log.clock);
    if (!why.isEmpty() || !m_log.start(file, m_options.append, &why, m_options.log, m_session.now())) {
        m_status.say(StatusLines::Other, why);
        return ExitNoFile;
    }
    return ExitDone;
}

int MeterLogger::serve()
{
    // Beside the logger in the build tree, in the package's library folder
    // once installed.
    const QDir here(QCoreApplication::applicationDirPath());
    QString module = here.filePath(QLatin1String(kWebModule));
    if (!QFile::exists(module))
        module = here.filePath(QLatin1String(QUELMAR_WEB_MODULE_DIR "/") + QLatin1String(kWebModule));
    QLibrary library(module);
    const auto entry = reinterpret_cast<WebEntry>(library.resolve(kWebEntry));
    if (!entry) {
        m_status.say(StatusLines::Other, QStringLiteral("--listen cannot load its module: %1").arg(library.errorString()));
        return ExitSystem;
    }
    WebConfig config;
    config.address = m_options.listenAddress;
    config.port = m_options.listenPort;
    config.meterPort = m_options.port;
    config.mqttId = m_options.mqtt ? m_options.broker.id : QString();
    config.cents = m_options.cents;
    config.history = &m_session.history();
    config.now = [this] { return m_session.now(); };
    config.counts = [this] {
        return WebCounts{m_log.isOn(), m_log.written(), m_log.missed(),
                         m_publisher ? int(m_broker == QLatin1String("broker up")) : -1};
    };
    m_web.reset(entry(config));
    QString why;
    if (!m_web->listen(&why)) {
        m_status.say(StatusLines::Other, why);
        return ExitUsage;
    }
    return ExitDone;
}

int MeterLogger::run()
{
    if (const int refused = prepare(); refused != ExitDone)
        return refused;
    // Told once nothing can refuse the run any more.
    if (m_web) {
        m_status.say(StatusLines::Other, QStringLiteral("serving the readings on %1").arg(m_web->url()));
        if (!m_web->isLoopback())
            m_status.say(StatusLines::Other, QStringLiteral("%1 is not a loopback address: the readings are visible to "
                                                            "anyone on the network who can reach this computer")
                                                 .arg(m_options.listenAddress));
        if (const QString missing = m_web->missing(); !missing.isEmpty())
            m_status.say(StatusLines::Other, missing);
    }
    const int wake = stopsignals::deferToLoop();
    if (wake < 0) {
        m_status.say(StatusLines::Other, QStringLiteral("cannot watch for SIGINT and SIGTERM: %1")
                                             .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return ExitSystem;
    }
    m_signals = new QSocketNotifier(wake, QSocketNotifier::Read, this);
    connect(m_signals, &QSocketNotifier::activated, this, &MeterLogger::stopSignal);
    if (m_options.broker.remove)
        return removeFromBroker();

    connect(&m_session.link(), &SerialLink::portState, this, &MeterLogger::portState);
    connect(&m_session, &MeterSession::linkChanged, this, &MeterLogger::meterState);
    connect(&m_session, &MeterSession::polled, this, [this](int result) {
        if (isAnswer(result))
            m_lastAnswerMs = m_session.now();
        m_service.alive();
    });
    // The log before the broker: every state sent is a record the log was given.
    connect(&m_session, &MeterSession::recordDue, this, &MeterLogger::record);
    if (m_web) {
        // After the log's slot, so that the counts it serves include the record.
        connect(&m_session, &MeterSession::recordDue, this, [this](const Record &r) { m_web->record(r); });
        connect(&m_session, &MeterSession::polled, this, [this](int result) { m_web->polled(result); });
        connect(&m_session, &MeterSession::linkChanged, this, [this](bool up) { m_web->meterChanged(up); });
    }
    if (m_publisher) {
        using Broker = MqttPublisher::Broker;
        m_publisher->follow(m_session);
        // Credentials or a certificate that are wrong from the start will
        // not come right by trying again.
        connect(m_publisher.get(), &MqttPublisher::refused, this, [this](const QString &why) {
            m_status.say(StatusLines::Broker, QStringLiteral("the MQTT broker %1 refused the connection: %2")
                                                  .arg(m_publisher->address(), why));
            quit(ExitBrokerRefused);
        });
        connect(m_publisher.get(), &MqttPublisher::brokerChanged, this, [this](Broker state, const QString &why) {
            if (m_code >= 0)
                return;
            m_broker = state == Broker::Up ? QStringLiteral("broker up") : QStringLiteral("broker down");
            m_status.say(StatusLines::Broker, QStringLiteral("MQTT broker %1 %2")
                                                  .arg(m_publisher->address(), state == Broker::Up
                                                                                   ? QStringLiteral("connected, publishing as ") + m_options.broker.id
                                                                                   : QStringLiteral("down: ") + why));
            showStatus();
        });
        m_broker = QStringLiteral("broker connecting");
        m_publisher->connectToBroker();
    }

    // The meter is cleared once the address change has gone out.
    if (m_options.clear)
        m_session.setPending(Command::Clear);
    m_session.startRecords(m_options.period);
    m_session.begin(m_options.port);
    m_session.startPolling();
    if (m_options.durationMs > 0) {
        m_deadline = QDeadlineTimer(m_options.durationMs);
        deadline();
    }
    showStatus();
    m_service.ready();

    const int loop = QCoreApplication::exec();
    int code = m_code >= 0 ? m_code : loop;
    m_session.stopPolling();
    m_service.stopping();
    if (m_publisher)
        m_publisher->stop();
    m_status.end();
    if (m_log.missed() > 0) {
        m_status.say(StatusLines::Other, QStringLiteral("%1 could not be written to %2")
                                             .arg(counted(m_log.missed(), "record", "records"),
                                                  logName(m_options.files.value(0))));
        if (code == ExitDone)
            code = ExitNoFile;
    }
    endSilence(m_session.now());
    QString silence;
    if (m_everOpen && m_lastAnswerMs == 0)
        silence = QStringLiteral("the meter never answered on %1").arg(m_options.port);
    else if (m_silentMs > 0)
        silence = QStringLiteral("the meter did not answer for %1 in all; there are no records for that time")
                      .arg(durationText(m_silentMs));
    if (!silence.isEmpty()) {
        m_status.say(StatusLines::Other, silence);
        if (code == ExitDone)
            code = ExitNoPort;
    }
    return code;
}

int MeterLogger::removeFromBroker()
{
    using Broker = MqttPublisher::Broker;
    const QString id = m_options.broker.id;
    connect(m_publisher.get(), &MqttPublisher::removed, this, [this, id] {
        m_removed = true;
        m_status.say(StatusLines::Broker, QStringLiteral("removed %1 from the MQTT broker %2").arg(id, m_publisher->address()));
        quit(ExitDone);
    });
    // Nobody waits for a broker that may never come: the first failure ends it.
    connect(m_publisher.get(), &MqttPublisher::brokerChanged, this, [this, id](Broker state, const QString &why) {
        if (state != Broker::Down)
            return;
        m_status.say(StatusLines::Broker, QStringLiteral("%1 was not removed: the MQTT broker %2 is down: %3")
                                              .arg(id, m_publisher->address(), why));
        quit(ExitBrokerRefused);
    });
    m_publisher->connectToBroker();
    QCoreApplication::exec();
    m_publisher->stop();
    if (m_removed || m_code != ExitDone)
        return m_code;
    m_status.say(StatusLines::Other, QStringLiteral("%1 was not removed: stopped before the broker took it").arg(id));
    return ExitBrokerRefused;
}

void MeterLogger::endSilence(qint64 nowMs)
{
    if (m_silentSinceMs >= 0)
        m_silentMs += nowMs - m_silentSinceMs;
    m_silentSinceMs = -1;
}

void MeterLogger::quit(int code)
{
    if (m_code < 0)
        m_code = code;
    QCoreApplication::exit(code);
}

void MeterLogger::stopSignal()
{
    char sig = 0;
    while (::read(int(m_signals->socket()), &sig, 1) == 1) {
    }
    quit(ExitDone);
}

void MeterLogger::deadline()
{
    // A timer's interval is an int of milliseconds, under 25 days: a longer
    // run waits for its deadline a day at a time.
    if (!m_deadline.hasExpired()) {
        m_stopAt.start(int(std::min<qint64>(m_deadline.remainingTime(), 86400000)));
        return;
    }
    if (m_everOpen) {
        quit(ExitDone);
        return;
    }
    m_status.say(StatusLines::Port, QStringLiteral("%1 never opened within --duration: %2")
                                        .arg(m_options.port, m_portWhy));
    quit(ExitNoPort);
}

void MeterLogger::portState(bool open, const QString &why)
{
    if (open) {
        m_everOpen = true;
        m_portWhy.clear();
        m_status.say(StatusLines::Port, QStringLiteral("%1 is open").arg(m_options.port));
    } else {
        m_portWhy = why;
        m_status.say(StatusLines::Port, QStringLiteral("%1 Trying again every %2 s.").arg(why).arg(SerialLink::kRetryMs / 1000));
    }
    showStatus();
}

void MeterLogger::meterState(bool up)
{
    m_meterUp = up;
    if (up)
        endSilence(m_session.now());
    else
        m_silentSinceMs = m_lastAnswerMs;
    if (up)
        m_status.say(StatusLines::Meter, QStringLiteral("the meter answers"));
    else
        m_status.say(StatusLines::Meter, QStringLiteral("the meter has not answered since %1")
                                             .arg(QString::fromLatin1(clockText(m_lastAnswerMs))));
    showStatus();
}

void MeterLogger::record(const Record &r)
{
    m_lastTime = QString::fromLatin1(elapsedColumn(r));
    m_lastPower = QString::fromLatin1(numberColumn(r.watts, kPowerDecimals));
    if (m_log.isOn()) {
        LogStep step;
        {
            // A FIFO nobody reads, or a pipe that is full, holds the write.
            stopsignals::BlockingWrite blocking;
            step = m_log.write(r);
        }
        const QString file = logName(m_log.file());
        if (step.written && step.resumedAfter > 0)
            m_status.say(StatusLines::Log, QStringLiteral("writing to %1 again; %2 could not be written")
                                               .arg(file, counted(step.resumedAfter, "record", "records")));
        if (step.newFile)
            m_status.say(StatusLines::Log, QStringLiteral("started %1").arg(file));
        if (step.firstFailure)
            m_status.say(StatusLines::Log, step.why + QStringLiteral("; the records are counted until writing works again"));
        if (!step.written && m_log.file() == QLatin1String("-") && outputClosed()) {
            m_status.say(StatusLines::Log, QStringLiteral("standard output was closed"));
            quit(ExitNoFile);
        }
    }
    showStatus();
}

void MeterLogger::showStatus()
{
    const QString missed = m_log.missed() > 0 ? QStringLiteral(", %1 missed").arg(m_log.missed()) : QString();
    const QString link = m_meterUp ? QStringLiteral("link up") : QStringLiteral("link down");
    const QString broker = m_broker.isEmpty() ? QString() : QStringLiteral(", ") + m_broker;
    m_status.show(QStringLiteral("%1  %2 W  %3%4  %5%6")
                      .arg(m_lastTime.isEmpty() ? QStringLiteral("--:--:--") : m_lastTime,
                           m_lastPower.isEmpty() ? QStringLiteral("-") : m_lastPower,
                           counted(m_log.written(), "record", "records"), missed, link, broker));
    m_service.status(QStringLiteral("%1, %2 written%3%4")
                         .arg(link, counted(m_log.written(), "record", "records"), missed, broker));
}

} // namespace quelmar
