// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqttpublisher.h"

#include "mqttpayload.h"

#include "core/session/metersession.h"

#include <mosquitto.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

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
    X(mosquitto_connect_callback_set) X(mosquitto_log_callback_set) X(mosquitto_message_callback_set)              \
    X(mosquitto_publish_callback_set) X(mosquitto_will_set) X(mosquitto_username_pw_set) X(mosquitto_int_option)   \
    X(mosquitto_void_option) X(mosquitto_connect) X(mosquitto_loop) X(mosquitto_want_write)   \
    X(mosquitto_subscribe) X(mosquitto_publish) X(mosquitto_disconnect) X(mosquitto_strerror)                      \
    X(mosquitto_connack_string)
// The client's TLS library, already loaded with it. The TLS context is
// made here, so that a refused certificate has its reason, which the client
// does not tell.
#define QUELMAR_OPENSSL(X)                                                                                          \
    X(TLS_client_method) X(SSL_CTX_new) X(SSL_CTX_free) X(SSL_CTX_set_verify) X(SSL_CTX_load_verify_locations)    \
    X(SSL_CTX_set_default_verify_paths) X(SSL_CTX_use_certificate_chain_file) X(SSL_CTX_use_PrivateKey_file)       \
    X(SSL_CTX_get0_param) X(X509_VERIFY_PARAM_set1_host)                                                           \
    X(X509_VERIFY_PARAM_set1_ip_asc) X(SSL_CTX_set_info_callback) X(SSL_CTX_set_client_cert_cb)                    \
    X(SSL_get_verify_result) X(X509_verify_cert_error_string)
#define QUELMAR_DECLARE(name) decltype(&::name) name = nullptr;
QUELMAR_MOSQUITTO(QUELMAR_DECLARE)
QUELMAR_OPENSSL(QUELMAR_DECLARE)
#undef QUELMAR_DECLARE

// The files the libraries are loaded from, as the dynamic linker looks for
// them.
constexpr char kClientLibrary[] = "libmosquitto.so.1";
constexpr char kTlsLibrary[] = "libssl.so.3";

// What the last handshake on this thread learnt: each publisher connects
// on a thread of its own.
thread_local long tlsVerifyResult = X509_V_OK; // as the alert we sent was
thread_local bool tlsCertificateAsked = false; // for a client certificate we lack

void onTlsInfo(const SSL *ssl, int where, int)
{
    if ((where & SSL_CB_WRITE_ALERT) == SSL_CB_WRITE_ALERT)
        tlsVerifyResult = SSL_get_verify_result(ssl);
}

int onCertificateAsked(SSL *, X509 **, EVP_PKEY **)
{
    tlsCertificateAsked = true;
    return 0;
}

// Why the broker's certificate was refused, in words that tell a wrong
// authority from a wrong name; "" when it was not.
QString certificateWhy(long result, const QString &host, const QString &caFile)
{
    switch (result) {
    case X509_V_OK:
        return {};
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return QStringLiteral("the broker's certificate does not name %1").arg(host);
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return caFile.isEmpty() ? QStringLiteral("the broker's certificate is not signed by an authority this computer trusts")
                                : QStringLiteral("the broker's certificate is not signed by the authority in %1").arg(caFile);
    default:
        return QStringLiteral("the broker's certificate: %1").arg(QString::fromUtf8(X509_verify_cert_error_string(result)));
    }
}

// Resolves `name` in `library` into `f`; false, with `missing` saying so,
// when it has no such function.
template <typename F>
bool resolve(void *library, const char *file, const char *name, F &f, QString *missing)
{
    f = reinterpret_cast<F>(::dlsym(library, name));
    if (!f)
        *missing = QStringLiteral("the MQTT client library %1 has no function %2").arg(QLatin1String(file), QLatin1String(name));
    return f != nullptr;
}

} // namespace

bool MqttPublisher::loadClient(QString *why)
{
    static QString missing;
    static const bool loaded = [] {
        // By the exact names the linker looks for, so that its own reason
        // (no such file, not a library) is the one the user reads.
        void *library = ::dlopen(kClientLibrary, RTLD_LAZY | RTLD_LOCAL);
        void *tls = library ? ::dlopen(kTlsLibrary, RTLD_LAZY | RTLD_LOCAL) : nullptr;
        if (!library || !tls) {
            missing = QStringLiteral("cannot load the MQTT client library %1: %2")
                          .arg(QLatin1String(library ? kTlsLibrary : kClientLibrary), QString::fromLocal8Bit(::dlerror()));
            return false;
        }
        bool ok = true;
#define QUELMAR_RESOLVE(name) ok = ok && resolve(library, kClientLibrary, #name, name, &missing);
        QUELMAR_MOSQUITTO(QUELMAR_RESOLVE)
#undef QUELMAR_RESOLVE
#define QUELMAR_RESOLVE(name) ok = ok && resolve(tls, kTlsLibrary, #name, name, &missing);
        QUELMAR_OPENSSL(QUELMAR_RESOLVE)
#undef QUELMAR_RESOLVE
        if (ok)
            mosquitto_lib_init();
        return ok;
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
    QString host;                   // as the certificate must name it
    QString caFile;
    int keepAlive = 30;
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
    // Home Assistant's status: "online" when it has started. A retained one
    // is old news, not a start.
    static void onMessage(mosquitto *, void *self, const mosquitto_message *m)
    {
        if (!m->retain && m->payloadlen == 6 && std::memcmp(m->payload, "online", 6) == 0)
            static_cast<Network *>(self)->post([](MqttPublisher *p) { p->publishAll(); });
    }
    static void onPublish(mosquitto *, void *self, int)
    {
        static_cast<Network *>(self)->post([](MqttPublisher *p) { p->published(); });
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
    const QByteArray clientId = m_config.clientId.toUtf8();
    mosquitto *client = m_net->client = mosquitto_new(clientId.isEmpty() ? nullptr : clientId.constData(), true, m_net.get());
    if (!client) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_net->host = m_config.host;
    m_net->caFile = m_config.caFile;
    m_net->keepAlive = m_config.keepAlive;
    // Publishing from this thread while the network thread runs the loop.
    mosquitto_threaded_set(client, true);
    mosquitto_connect_callback_set(client, &Network::onConnect);
    mosquitto_log_callback_set(client, &Network::onLog);
    mosquitto_message_callback_set(client, &Network::onMessage);
    int rc = MOSQ_ERR_SUCCESS;
    // A removal's only messages are the removals, acknowledged.
    if (m_config.remove) {
        mosquitto_publish_callback_set(client, &Network::onPublish);
    } else {
        const QByteArray availability = mqtt::availabilityTopic(m_config.base, m_config.id).toUtf8();
        rc = mosquitto_will_set(client, availability.constData(), 7, "offline", 1, true);
    }
    if (rc == MOSQ_ERR_SUCCESS && !m_config.user.isEmpty()) {
        const QByteArray user = m_config.user.toUtf8();
        const QByteArray password = m_config.password.toUtf8();
        rc = mosquitto_username_pw_set(client, user.constData(), m_config.password.isEmpty() ? nullptr : password.constData());
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *why = QString::fromUtf8(mosquitto_strerror(rc));
        return false;
    }
    if (m_config.tls)
        *why = setUpTls(client);
    return why->isEmpty();
}

QString MqttPublisher::setUpTls(mosquitto *client)
{
    // A context of our own, not the library's: the library does not tell a
    // wrong authority from a wrong name. With ours it checks nothing itself,
    // so everything is set here; it holds a reference of its own to it.
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    if (!context)
        return QString::fromLocal8Bit(std::strerror(ENOMEM));
    const QByteArray ca = QFile::encodeName(m_config.caFile);
    const QByteArray cert = QFile::encodeName(m_config.certFile);
    const QByteArray key = QFile::encodeName(m_config.keyFile);
    const QByteArray host = m_config.host.toUtf8();
    QString why;
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    if (!(ca.isEmpty() ? SSL_CTX_set_default_verify_paths(context) : SSL_CTX_load_verify_locations(context, ca.constData(), nullptr)))
        why = QStringLiteral("cannot load the certificate authorities of %1").arg(ca.isEmpty() ? QStringLiteral("the system") : m_config.caFile);
    // The key is checked against the certificate as it loads.
    if (!cert.isEmpty() && !(SSL_CTX_use_certificate_chain_file(context, cert.constData()) &&
                             SSL_CTX_use_PrivateKey_file(context, key.constData(), SSL_FILETYPE_PEM)))
        why = QStringLiteral("the client certificate %1 and the key %2 do not go together").arg(m_config.certFile, m_config.keyFile);
    // The certificate must name the host: an address as an address.
    if (!X509_VERIFY_PARAM_set1_ip_asc(SSL_CTX_get0_param(context), host.constData()))
        X509_VERIFY_PARAM_set1_host(SSL_CTX_get0_param(context), host.constData(), 0);
    SSL_CTX_set_info_callback(context, &onTlsInfo);
    SSL_CTX_set_client_cert_cb(context, &onCertificateAsked);
    if (why.isEmpty() && (mosquitto_void_option(client, MOSQ_OPT_SSL_CTX, context) != MOSQ_ERR_SUCCESS ||
                          mosquitto_int_option(client, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0) != MOSQ_ERR_SUCCESS))
        why = QStringLiteral("the MQTT client takes no TLS settings");
    SSL_CTX_free(context);
    return why;
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
        tlsVerifyResult = X509_V_OK;
        tlsCertificateAsked = false;
        // Connecting blocks this thread, not the event loop: the name
        // lookup, the TCP connect and the TLS handshake each fail here at
        // once and in words, which the library's asynchronous connect does
        // not do for every TLS failure.
        int rc = mosquitto_connect(net->client, host.constData(), port, net->keepAlive);
        const auto connectBy = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectWaitMs);
        bool unanswered = false;
        // While stopping, the loop runs only until the goodbye is written.
        while (rc == MOSQ_ERR_SUCCESS && !(net->stopping && !mosquitto_want_write(net->client))) {
            rc = mosquitto_loop(net->client, 1000, 1);
            // The library would wait a whole keep-alive for a CONNACK.
            if (!net->wasUp && !net->stopping && std::chrono::steady_clock::now() > connectBy) {
                unanswered = true;
                break;
            }
        }
        const int error = errno;
        if (net->stopping)
            break;
        // A broker that asks for a certificate we lack may close the
        // connection before its alert is read.
        bool refusal = rc == MOSQ_ERR_TLS || (!net->wasUp && tlsCertificateAsked);
        QString why;
        {
            std::lock_guard<std::mutex> lock(net->mutex);
            const QString certificate = certificateWhy(tlsVerifyResult, net->host, net->caFile);
            if (unanswered) {
                mosquitto_disconnect(net->client);
                why = QStringLiteral("no answer from the broker within %1 s of connecting").arg(kConnectWaitMs / 1000);
            } else if (rc == MOSQ_ERR_CONN_REFUSED) {
                refusal = net->refusal == kBadUserOrPassword || net->refusal == kNotAuthorised;
                why = QString::fromUtf8(mosquitto_connack_string(net->refusal));
            } else if (!net->wasUp && tlsCertificateAsked) {
                why = QStringLiteral("the broker asks for a client certificate (--mqtt-cert and --mqtt-key)");
            } else if (rc == MOSQ_ERR_KEEPALIVE) {
                why = QStringLiteral("no answer from the broker to a keep-alive ping in %1 s").arg(net->keepAlive);
            } else if (rc == MOSQ_ERR_TLS && !(certificate.isEmpty() && net->tlsError.isEmpty())) {
                why = certificate.isEmpty() ? net->tlsError : certificate;
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
    if (m_config.remove) {
        publishRemoval();
    } else {
        const QByteArray status = mqtt::statusTopic(m_config.discoveryPrefix).toUtf8();
        mosquitto_subscribe(m_net->client, nullptr, status.constData(), 1);
        publishAll();
    }
    emit brokerChanged(m_broker, QString());
}

void MqttPublisher::publishAll()
{
    // The broker may have restarted without its retained messages, and Home
    // Assistant without the last state.
    if (m_config.discovery) {
        // A state may be missed once, and come late by the meter's seconds
        // of grace, before the values show as unavailable.
        const mqtt::Device device{m_config.id, m_config.base, m_config.device, 2 * interval() + 10};
        for (const mqtt::Sensor &sensor : mqtt::kSensors)
            publish(mqtt::discoveryTopic(m_config.discoveryPrefix, m_config.id, sensor.key),
                    mqtt::discoveryPayload(sensor, device), true);
    }
    sayAvailability();
    if (m_last && m_meterUp)
        publish(mqtt::stateTopic(m_config.base, m_config.id), mqtt::statePayload(*m_last), false);
}

void MqttPublisher::publishRemoval()
{
    // An empty retained message clears the retained one; Home Assistant
    // removes the entity whose config is cleared.
    for (const mqtt::Sensor &sensor : mqtt::kSensors)
        publish(mqtt::discoveryTopic(m_config.discoveryPrefix, m_config.id, sensor.key), {}, true);
    publish(mqtt::availabilityTopic(m_config.base, m_config.id), {}, true);
    m_unacknowledged = int(std::size(mqtt::kSensors)) + 1;
}

void MqttPublisher::published()
{
    if (m_config.remove && --m_unacknowledged == 0)
        emit removed();
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
    publish(mqtt::availabilityTopic(m_config.base, m_config.id), m_meterUp ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"),
            true);
}

void MqttPublisher::follow(MeterSession &session)
{
    connect(&session, &MeterSession::recordDue, this, &MqttPublisher::record);
    connect(&session, &MeterSession::linkChanged, this, &MqttPublisher::setMeterUp);
}

int MqttPublisher::interval() const
{
    return mqtt::recordsPerState(m_config.period, m_config.recordPeriod) * std::max(m_config.recordPeriod, 1);
}

void MqttPublisher::record(const Record &r)
{
    m_last = r;
    if (mqtt::isPublished(r.index, m_config.period, m_config.recordPeriod) && m_broker == Broker::Up)
        publish(mqtt::stateTopic(m_config.base, m_config.id), mqtt::statePayload(r), false);
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
    if (m_broker == Broker::Up && !m_config.remove) {
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
