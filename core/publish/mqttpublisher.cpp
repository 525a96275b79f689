// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqttpublisher.h"

#include "mqttpayload.h"

#include "core/session/metersession.h"

#include <mosquitto.h>

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include <dlfcn.h>

namespace quelmar {

namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kFirstRetryMs = 500;
// How long stop() lets the network thread say goodbye.
constexpr auto kStopWait = std::chrono::seconds(3);
// CONNACK codes of MQTT 3.1.1 that mean the credentials.
constexpr int kBadUserOrPassword = 4;
constexpr int kNotAuthorised = 5;

// The MQTT client, and the TLS libraries it brings (about 2 MiB resident),
// are loaded when a publisher starts, so a logger without --mqtt never maps
// them. These pointers hide the library's functions of the same names.
#define QUELMAR_MOSQUITTO(X)                                                                                        \
    X(mosquitto_lib_init) X(mosquitto_new) X(mosquitto_destroy) X(mosquitto_threaded_set)                          \
    X(mosquitto_connect_callback_set) X(mosquitto_log_callback_set) X(mosquitto_will_set)                          \
    X(mosquitto_username_pw_set) X(mosquitto_tls_set) X(mosquitto_connect) X(mosquitto_loop)                      \
    X(mosquitto_want_write) X(mosquitto_publish) X(mosquitto_disconnect) X(mosquitto_strerror)                     \
    X(mosquitto_connack_string)
#define QUELMAR_DECLARE(name) decltype(&::name) name = nullptr;
QUELMAR_MOSQUITTO(QUELMAR_DECLARE)
#undef QUELMAR_DECLARE

// The file the client library is loaded from, as the dynamic linker
// looks for it.
constexpr char kClientLibrary[] = "libmosquitto.so.1";

} // namespace

bool MqttPublisher::loadClient(QString *why)
{
    static QString missing;
    static const bool loaded = [] {
        // By the exact name the linker looks for, so that its own reason
        // (no such file, not a library) is the one the user reads.
        void *library = ::dlopen(kClientLibrary, RTLD_LAZY | RTLD_LOCAL);
        if (!library) {
            missing = QStringLiteral("cannot load the MQTT client library %1: %2")
                          .arg(QLatin1String(kClientLibrary), QString::fromLocal8Bit(::dlerror()));
            return false;
        }
#define QUELMAR_RESOLVE(name)                                                                                       \
    name = reinterpret_cast<decltype(name)>(::dlsym(library, #name));                                               \
    if (!name) {                                                                                                    \
        missing = QStringLiteral("the MQTT client library %1 has no function %2")                                   \
                      .arg(QLatin1String(kClientLibrary), QLatin1String(#name));                                    \
        return false;                                                                                               \
    }
        QUELMAR_MOSQUITTO(QUELMAR_RESOLVE)
#undef QUELMAR_RESOLVE
        mosquitto_lib_init();
        return true;
    }();
    if (!loaded && why)
        *why = missing;
    return loaded;
}

// The client and what the network thread shares with the publisher. The
// thread holds it too, so that a thread still connecting when the publisher
// goes away finishes on memory of its own; it reaches the publisher only
// through post(), which does nothing once the publisher has stopped.
struct MqttPublisher::Network {
    mosquitto *client = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    MqttPublisher *owner = nullptr; // null from stop() on
    std::atomic_bool stopping{false};
    std::atomic_bool wasUp{false};  // connected since the last failure
    bool finished = false;
    int refusal = 0;                // the last CONNACK's refusal code
    QString tlsError;               // the last TLS error the library logged

    ~Network()
    {
        if (client)
            mosquitto_destroy(client);
    }

    // Runs `f(publisher)` on the publisher's thread while it lives.
    template <typename F>
    void post(F f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (MqttPublisher *p = owner)
            QMetaObject::invokeMethod(p, [p, f] { f(p); }, Qt::QueuedConnection);
    }
    // Waits `ms`; false when stop() came first.
    bool waitRetry(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping.load(); });
    }

    static void onConnect(mosquitto *, void *self, int rc)
    {
        auto *net = static_cast<Network *>(self);
        if (rc == 0) {
            net->wasUp = true;
            net->post([](MqttPublisher *p) { p->connected(); });
        } else {
            std::lock_guard<std::mutex> lock(net->mutex);
            net->refusal = rc;
        }
    }
    static void onLog(mosquitto *, void *self, int level, const char *text)
    {
        // "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify
        // failed": the words after the last colon are the reason.
        if (level != MOSQ_LOG_ERR || std::strncmp(text, "OpenSSL Error", 13) != 0)
            return;
        auto *net = static_cast<Network *>(self);
        std::lock_guard<std::mutex> lock(net->mutex);
        net->tlsError = QString::fromUtf8(text).section(QLatin1Char(':'), -1).trimmed();
    }
};

MqttPublisher::MqttPublisher(const Config &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_net(std::make_shared<Network>())
{
    m_net->owner = this;
}

MqttPublisher::~MqttPublisher()
{
    stop();
}

QString MqttPublisher::address() const
{
    const QString host = m_config.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + m_config.host + QLatin1Char(']')
                                                                   : m_config.host;
    return host + QLatin1Char(':') + QString::number(m_config.port);
}

bool MqttPublisher::setUp(QString *why)
{
    if (!loadClient(why))
        return false;
    mosquitto *client = m_net->client = mosquitto_new(nullptr, true, m_net.get());
    if (!client) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // Publishing from this thread while the network thread runs the loop.
    mosquitto_threaded_set(client, true);
    mosquitto_connect_callback_set(client, &Network::onConnect);
    mosquitto_log_callback_set(client, &Network::onLog);
    const QByteArray availability = mqtt::availabilityTopic(m_config.id).toUtf8();
    int rc = mosquitto_will_set(client, availability.constData(), 7, "offline", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !m_config.user.isEmpty()) {
        const QByteArray user = m_config.user.toUtf8();
        const QByteArray password = m_config.password.toUtf8();
        rc = mosquitto_username_pw_set(client, user.constData(), m_config.password.isEmpty() ? nullptr : password.constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && !m_config.caFile.isEmpty()) {
        // The library checks the peer's certificate and host name by default.
        rc = mosquitto_tls_set(client, QFile::encodeName(m_config.caFile).constData(), nullptr, nullptr, nullptr, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *why = QString::fromUtf8(mosquitto_strerror(rc));
        return false;
    }
    return true;
}

void MqttPublisher::connectToBroker()
{
    m_thread = std::thread(&MqttPublisher::run, m_net, m_config.host.toUtf8(), m_config.port);
}

void MqttPublisher::run(const std::shared_ptr<Network> &net, const QByteArray &host, int port)
{
    int retryMs = kFirstRetryMs;
    for (;;) {
        net->wasUp = false;
        // Connecting blocks this thread, not the event loop: the name
        // lookup, the TCP connect and the TLS handshake each fail here at
        // once and in words, which the library's asynchronous connect does
        // not do for every TLS failure.
        int rc = mosquitto_connect(net->client, host.constData(), port, kKeepAliveSeconds);
        // While stopping, the loop runs only until the goodbye is written.
        while (rc == MOSQ_ERR_SUCCESS && !(net->stopping && !mosquitto_want_write(net->client)))
            rc = mosquitto_loop(net->client, 1000, 1);
        const int error = errno;
        if (net->stopping)
            break;
        bool refusal = rc == MOSQ_ERR_TLS;
        QString why;
        {
            std::lock_guard<std::mutex> lock(net->mutex);
            if (rc == MOSQ_ERR_CONN_REFUSED) {
                refusal = net->refusal == kBadUserOrPassword || net->refusal == kNotAuthorised;
                why = QString::fromUtf8(mosquitto_connack_string(net->refusal));
            } else if (rc == MOSQ_ERR_TLS && !net->tlsError.isEmpty()) {
                why = net->tlsError;
            } else {
                why = QString::fromLocal8Bit(rc == MOSQ_ERR_ERRNO ? std::strerror(error) : mosquitto_strerror(rc));
            }
            net->tlsError.clear();
        }
        net->post([refusal, why](MqttPublisher *p) { p->failed(refusal, why); });
        // A broker that was up is tried again soon; one that keeps failing
        // less often.
        if (net->wasUp)
            retryMs = kFirstRetryMs;
        if (!net->waitRetry(retryMs))
            break;
        retryMs = std::min(2 * retryMs, kMaxRetryMs);
    }
    std::lock_guard<std::mutex> lock(net->mutex);
    net->finished = true;
    net->wake.notify_all();
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
    mosquitto_publish(m_net->client, nullptr, name.constData(), int(payload.size()), payload.constData(), retain ? 1 : 0,
                      retain);
}

void MqttPublisher::sayAvailability()
{
    publish(mqtt::availabilityTopic(m_config.id), m_meterUp ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"),
            true);
}

void MqttPublisher::follow(MeterSession &session)
{
    connect(&session, &MeterSession::recordDue, this,
            [this, &session](const Record &r) { record(r, session.recordPeriod()); });
    connect(&session, &MeterSession::linkChanged, this, &MqttPublisher::setMeterUp);
}

void MqttPublisher::record(const Record &r, int recordPeriod)
{
    if (mqtt::isPublished(r.index, m_config.period, recordPeriod) && m_broker == Broker::Up)
        publish(mqtt::stateTopic(m_config.id), mqtt::statePayload(r), false);
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
    mosquitto_disconnect(m_net->client);
    std::unique_lock<std::mutex> lock(m_net->mutex);
    m_net->stopping = true;
    m_net->owner = nullptr;
    m_net->wake.notify_all();
    const bool finished = m_net->wake.wait_for(lock, kStopWait, [this] { return m_net->finished; });
    lock.unlock();
    // A thread still connecting to a broker that does not answer is left to
    // finish on its own; the process is ending.
    if (finished)
        m_thread.join();
    else
        m_thread.detach();
    m_broker = Broker::Down;
}

} // namespace quelmar
