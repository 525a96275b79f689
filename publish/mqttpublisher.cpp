// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqttpublisher.h"

#include "mqttpayload.h"

#include "core/session/metersession.h"

#include <mosquitto.h>

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace quelmar {

namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kFirstRetryMs = 500;
// How long stop() lets the network thread say goodbye.
constexpr auto kStopWait = std::chrono::seconds(3);
// CONNACK codes of MQTT 3.1.1 that mean the credentials.
constexpr int kBadUserOrPassword = 4;
constexpr int kNotAuthorised = 5;

} // namespace

MqttPublisher::MqttPublisher(const Config &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
{
    // Once per process, and the library counts its users.
    static const int init = mosquitto_lib_init();
    Q_UNUSED(init);
}

MqttPublisher::~MqttPublisher()
{
    stop();
    if (m_client)
        mosquitto_destroy(m_client);
}

QString MqttPublisher::address() const
{
    const QString host = m_config.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + m_config.host + QLatin1Char(']')
                                                                   : m_config.host;
    return host + QLatin1Char(':') + QString::number(m_config.port);
}

bool MqttPublisher::start(QString *why)
{
    m_client = mosquitto_new(nullptr, true, this);
    if (!m_client) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // Publishing from this thread while the network thread runs the loop.
    mosquitto_threaded_set(m_client, true);
    mosquitto_connect_callback_set(m_client, &MqttPublisher::onConnect);
    mosquitto_log_callback_set(m_client, &MqttPublisher::onLog);
    const QByteArray availability = mqtt::availabilityTopic(m_config.id).toUtf8();
    int rc = mosquitto_will_set(m_client, availability.constData(), 7, "offline", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !m_config.user.isEmpty()) {
        const QByteArray user = m_config.user.toUtf8();
        const QByteArray password = m_config.password.toUtf8();
        rc = mosquitto_username_pw_set(m_client, user.constData(),
                                       m_config.password.isEmpty() ? nullptr : password.constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && !m_config.caFile.isEmpty()) {
        // The library checks the peer's certificate and host name by default.
        rc = mosquitto_tls_set(m_client, QFile::encodeName(m_config.caFile).constData(), nullptr, nullptr, nullptr,
                               nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *why = QString::fromUtf8(mosquitto_strerror(rc));
        return false;
    }
    m_thread = std::thread(&MqttPublisher::run, this);
    return true;
}

void MqttPublisher::run()
{
    const QByteArray host = m_config.host.toUtf8();
    int retryMs = kFirstRetryMs;
    for (;;) {
        m_wasUp = false;
        // Connecting blocks this thread, not the event loop: the name
        // lookup, the TCP connect and the TLS handshake each fail here at
        // once and in words, which the library's asynchronous connect does
        // not do for every TLS failure.
        int rc = mosquitto_connect(m_client, host.constData(), m_config.port, kKeepAliveSeconds);
        // While stopping, the loop runs only until the goodbye is written.
        while (rc == MOSQ_ERR_SUCCESS && !(m_stopping && !mosquitto_want_write(m_client)))
            rc = mosquitto_loop(m_client, 1000, 1);
        const int error = errno;
        if (m_stopping)
            break;
        bool refusal = rc == MOSQ_ERR_TLS;
        QString why;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (rc == MOSQ_ERR_CONN_REFUSED) {
                refusal = m_refusal == kBadUserOrPassword || m_refusal == kNotAuthorised;
                why = QString::fromUtf8(mosquitto_connack_string(m_refusal));
            } else if (rc == MOSQ_ERR_TLS && !m_tlsError.isEmpty()) {
                why = m_tlsError;
            } else {
                why = QString::fromLocal8Bit(rc == MOSQ_ERR_ERRNO ? std::strerror(error) : mosquitto_strerror(rc));
            }
            m_tlsError.clear();
        }
        QMetaObject::invokeMethod(this, [this, refusal, why] { failed(refusal, why); }, Qt::QueuedConnection);
        // A broker that was up is tried again soon; one that keeps failing
        // less often.
        if (m_wasUp)
            retryMs = kFirstRetryMs;
        if (!waitRetry(retryMs))
            break;
        retryMs = std::min(2 * retryMs, kMaxRetryMs);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
    m_wake.notify_all();
}

bool MqttPublisher::waitRetry(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping.load(); });
}

void MqttPublisher::onConnect(mosquitto *, void *self, int rc)
{
    auto *p = static_cast<MqttPublisher *>(self);
    if (rc == 0) {
        p->m_wasUp = true;
        QMetaObject::invokeMethod(p, [p] { p->connected(); }, Qt::QueuedConnection);
    } else {
        std::lock_guard<std::mutex> lock(p->m_mutex);
        p->m_refusal = rc;
    }
}

void MqttPublisher::onLog(mosquitto *, void *self, int level, const char *text)
{
    // "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify
    // failed": the words after the last colon are the reason.
    if (level != MOSQ_LOG_ERR || std::strncmp(text, "OpenSSL Error", 13) != 0)
        return;
    auto *p = static_cast<MqttPublisher *>(self);
    std::lock_guard<std::mutex> lock(p->m_mutex);
    p->m_tlsError = QString::fromUtf8(text).section(QLatin1Char(':'), -1).trimmed();
}

void MqttPublisher::connected()
{
    m_broker = Broker::Up;
    m_everUp = true;
    // The broker may have restarted without its retained messages.
    if (m_config.discovery) {
        for (const mqtt::Sensor &sensor : mqtt::kSensors)
            publish(mqtt::discoveryTopic(m_config.discoveryPrefix, m_config.id, sensor.key),
                    mqtt::discoveryPayload(sensor, m_config.id, m_config.device), true);
    }
    sayAvailability();
    emit brokerChanged(m_broker, QString());
}

void MqttPublisher::failed(bool refusal, const QString &why)
{
    if (refusal && !m_everUp)
        emit refused(why);
    if (m_broker == Broker::Down && why == m_lastWhy)
        return;
    m_broker = Broker::Down;
    m_lastWhy = why;
    emit brokerChanged(m_broker, why);
}

void MqttPublisher::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    // Retained messages must arrive; a missed state is followed by the next.
    const QByteArray name = topic.toUtf8();
    mosquitto_publish(m_client, nullptr, name.constData(), int(payload.size()), payload.constData(), retain ? 1 : 0,
                      retain);
}

void MqttPublisher::sayAvailability()
{
    publish(mqtt::availabilityTopic(m_config.id), m_meterUp ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"),
            true);
}

void MqttPublisher::follow(MeterSession &session)
{
    connect(&session, &MeterSession::measured, this, [this](const Measurement &, const ReadoutTexts &t) { reading(t); });
    connect(&session, &MeterSession::linkChanged, this, &MqttPublisher::setMeterUp);
}

void MqttPublisher::reading(const ReadoutTexts &texts)
{
    if (--m_countdown > 0)
        return;
    m_countdown = 2 * m_config.period;
    if (m_broker == Broker::Up)
        publish(mqtt::stateTopic(m_config.id), mqtt::statePayload(texts), false);
}

void MqttPublisher::setMeterUp(bool up)
{
    m_meterUp = up;
    if (m_broker == Broker::Up)
        sayAvailability();
}

void MqttPublisher::stop()
{
    if (!m_thread.joinable())
        return;
    // The goodbye is queued before the network thread may see the flag.
    if (m_broker == Broker::Up) {
        m_meterUp = false;
        sayAvailability();
    }
    mosquitto_disconnect(m_client);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool finished = m_wake.wait_for(lock, kStopWait, [this] { return m_finished; });
    lock.unlock();
    if (finished) {
        m_thread.join();
    } else {
        // Still connecting to a broker that does not answer: the process is
        // ending, so the client is left to it rather than freed under it.
        m_thread.detach();
        m_client = nullptr;
    }
    m_broker = Broker::Down;
}

} // namespace quelmar
