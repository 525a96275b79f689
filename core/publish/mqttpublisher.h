// SPDX-License-Identifier: GPL-3.0-or-later
// Publishes a meter session's records to an MQTT broker: discovery configs
// and availability (retained) and the latest record's state on every
// connect and whenever Home Assistant says it has started, a state on the
// first record of every period, "offline" when the meter stops answering,
// on stop() and, as the broker's will, when the process dies without a
// word. Or, with Config::remove, the device's retained configs and
// availability cleared, and nothing else.
//
// The network runs on a thread of its own (connecting, TLS, waiting for
// the broker), so no poll ever waits for it; what it learns reaches this
// object through the event loop. A lost or unreachable broker is tried
// again with a growing wait of at most kMaxRetryMs.
#pragma once

#include <QObject>
#include <QString>

#include "core/measure/record.h"

#include <memory>
#include <optional>
#include <thread>

struct mosquitto;

namespace quelmar {

class MeterSession;

class MqttPublisher : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxRetryMs = 5000;
    // A broker that takes the connection and sends no CONNACK in this long
    // is given up on, and tried again.
    static constexpr int kConnectWaitMs = 10000;

    struct Config {
        QString host;
        int port = 1883;
        QString id;
        QString clientId;     // the broker's name for the connection
        QString base = QStringLiteral("quelmar");
        QString user;
        QString password;     // used only with a user
        bool tls = false;     // with the broker's certificate and name verified
        QString caFile;       // TLS against this authority; none: the system's store
        QString certFile;     // a client certificate and its key, for mutual TLS
        QString keyFile;
        int keepAlive = 30;   // seconds
        int period = 10;      // seconds between states, at least
        int recordPeriod = 1; // seconds between the session's records
        bool discovery = true;
        QString discoveryPrefix = QStringLiteral("homeassistant");
        QString device;       // the meter's name in Home Assistant
        bool remove = false;  // clear the device at the broker instead of publishing
    };

    enum class Broker { Connecting, Up, Down };

    explicit MqttPublisher(const Config &config, QObject *parent = nullptr);
    // stop(), then the client is freed.
    ~MqttPublisher() override;

    // Loads the MQTT client library, once per process. False, with `why`
    // naming the library's file and what it lacks, when it is missing or
    // unusable.
    static bool loadClient(QString *why);
    // Sets the client up. False, with `why`, when it cannot even try (an
    // unreadable CA file, say).
    bool setUp(QString *why);
    // Starts connecting, in the background, after setUp().
    void connectToBroker();
    // Says "offline" if connected, disconnects cleanly and ends the network
    // thread, waiting a few seconds at most.
    void stop();

    // Publishes the records of `session` and the availability of its meter.
    void follow(MeterSession &session);

    // A record of the session: the first record and then the first of every
    // `period` seconds are published, so every state is a record the log was
    // given. The latest is kept for a broker or a Home Assistant that comes
    // back.
    void record(const Record &r);
    // Seconds between states: the period rounded up to whole records.
    int interval() const;
    // The meter began or stopped answering.
    void setMeterUp(bool up);

    // "host:port" as messages name it.
    QString address() const;

signals:
    // The broker's state changed; `why` says why it is down.
    void brokerChanged(quelmar::MqttPublisher::Broker broker, const QString &why);
    // Before any connection succeeded the broker refused the user name or
    // password, or TLS failed (its certificate did not verify, say). It is
    // still tried again.
    void refused(const QString &why);
    // With Config::remove: the broker has taken every removal.
    void removed();

private:
    struct Network;
    static void run(const std::shared_ptr<Network> &net, const QByteArray &host, int port);
    // TLS as configured; why it cannot be, or "".
    QString setUpTls(mosquitto *client);
    void connected();
    void failed(bool refusal, const QString &why);
    // Configs, availability and the latest state, as a fresh subscriber
    // needs them.
    void publishAll();
    void publishRemoval();
    void published();
    void publish(const QString &topic, const QByteArray &payload, bool retain);
    void sayAvailability();

    Config m_config;
    Broker m_broker = Broker::Connecting;
    bool m_everUp = false;
    bool m_meterUp = false;
    QString m_lastWhy;
    std::optional<Record> m_last; // the latest record of the session
    int m_unacknowledged = 0;     // removals the broker has not yet taken

    // The client and what the network thread shares with this object.
    std::shared_ptr<Network> m_net;
    std::thread m_thread;
};

} // namespace quelmar
