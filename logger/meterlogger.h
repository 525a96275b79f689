// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-log's logging run: a meter session, the log its records go to,
// the broker they are published to, the stop signals, the status lines and
// the service manager, from the checks before anything is written to the
// exit code.
#pragma once

#include "options.h"
#include "servicenotify.h"
#include "statuslines.h"

#include "core/logfile/logsink.h"
#include "core/session/metersession.h"
#include "core/web/webface.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <memory>

class QSocketNotifier;

namespace quelmar {

class MqttPublisher;

class MeterLogger : public QObject
{
    Q_OBJECT

public:
    explicit MeterLogger(const LoggerOptions &options, QObject *parent = nullptr);
    ~MeterLogger() override;

    // Logs until a signal, the end of --duration, or a failure that cannot
    // come right ends it; then the exit code.
    int run();

private:
    // Everything that can refuse the run, before the port is opened: the
    // MQTT client, the log's file, its lock, the broker's settings.
    int prepare();
    // --mqtt-remove: the meter's retained messages cleared at the broker.
    int removeFromBroker();
    void record(const Record &r);
    void portState(bool open, const QString &why);
    void meterState(bool up);
    void stopSignal();
    void deadline();
    void quit(int code);
    // The meter answered at `nowMs` after a silence, or the run ends.
    void endSilence(qint64 nowMs);
    void showStatus();
    // --listen: the web face, loaded and listening, or the exit code.
    int serve();
    // The log's name in messages.
    QString logName(const QString &file) const;

    const LoggerOptions &m_options;
    MeterSession m_session;
    LogSink m_log;
    std::unique_ptr<MqttPublisher> m_publisher;
    StatusLines m_status;
    ServiceNotifier m_service;
    QSocketNotifier *m_signals = nullptr;
    QDeadlineTimer m_deadline;
    QTimer m_stopAt;
    QString m_portWhy;       // why the port is not open, if it is not
    QString m_lastTime;      // the last record's elapsed time and power, for the status line
    QString m_lastPower;
    qint64 m_lastAnswerMs = 0;
    qint64 m_silentSinceMs = -1; // while the meter is gone: its last answer
    qint64 m_silentMs = 0;       // how long the meter was gone, in all
    bool m_everOpen = false;
    bool m_meterUp = false;
    bool m_removed = false;  // --mqtt-remove: the broker took it all
    QString m_broker;        // "", "broker up", "broker down"
    int m_code = -1;         // set by quit()
    std::unique_ptr<WebFace> m_web; // last, so it goes first: it reads the members above
};

} // namespace quelmar
