// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqttoptions.h"

#include "mqttpayload.h"

#include "core/port/devicepath.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

#include <tuple>

namespace quelmar {

namespace {

const QList<QCommandLineOption> kOptions = {
    {"mqtt-id", "The meter's name in the topics and Home Assistant's identifiers, up to 128 letters, digits, "
                "_ and - (default: quelmar_ and the adapter's name under /dev/serial/by-id, or else "
                "quelmar_HOSTNAME_PORT).", "ID"},
    {"mqtt-topic", "The prefix of the state and availability topics (default quelmar).", "BASE"},
    {"mqtt-client-id", "The client id the broker sees, up to 128 printable characters (default: the id).", "ID"},
    {"mqtt-period", "Seconds between published readings, 1 to 3600 (default 10).", "SECONDS"},
    {"mqtt-keepalive", "Seconds between keep-alive pings to the broker, 5 to 3600 (default 30).", "SECONDS"},
    {"mqtt-user", "User name at the broker.", "NAME"},
    {"mqtt-password-file", "Read the broker password from the first line of FILE.", "FILE"},
    {"mqtt-tls", "Use TLS; verify the broker's certificate and name against the system's authorities."},
    {"mqtt-cafile", "Use TLS; verify the broker's certificate and name against this CA (PEM).", "FILE"},
    {"mqtt-cert", "With TLS, show the broker this client certificate (PEM); needs --mqtt-key.", "FILE"},
    {"mqtt-key", "The client certificate's private key (PEM, without a passphrase).", "FILE"},
    {"no-discovery", "Publish no Home Assistant discovery configs."},
    {"discovery-prefix", "Topic prefix of the discovery configs (default homeassistant).", "PREFIX"},
    {"mqtt-remove", "Remove the meter's Home Assistant entities and availability from the broker, and exit."},
};

// Why the PEM file of --`option` will not do, or "": it cannot be read, has
// no block `begin`, or is locked by a passphrase nobody is there to give.
QString pemWhy(const QCommandLineParser &p, const char *option, const char *begin, const char *what)
{
    QFile file(p.value(QLatin1String(option)));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read --%1 %2: %3").arg(QLatin1String(option), file.fileName(), file.errorString());
    const QByteArray text = file.read(1 << 20);
    if (!text.contains(begin))
        return QStringLiteral("--%1 %2 is not %3 in PEM form").arg(QLatin1String(option), file.fileName(), QLatin1String(what));
    if (text.contains("ENCRYPTED"))
        return QStringLiteral("--%1 %2 needs a passphrase; give a key without one").arg(QLatin1String(option), file.fileName());
    return {};
}

} // namespace

void addMqttOptions(QCommandLineParser &parser)
{
    parser.addOption({"mqtt", "Also publish to the MQTT broker at HOST (port 1883, or 8883 with TLS).", "HOST[:PORT]"});
    parser.addOptions(kOptions);
}

bool mqttConfig(const QCommandLineParser &p, const QString &port, MqttPublisher::Config *c, QString *why)
{
    const auto value = [&](const char *name) { return p.value(QLatin1String(name)); };
    if (!p.isSet(QStringLiteral("mqtt"))) {
        for (const QCommandLineOption &option : kOptions) {
            if (p.isSet(option.names().first())) {
                *why = QStringLiteral("--%1 needs --mqtt").arg(option.names().first());
                return false;
            }
        }
        return true;
    }
    c->caFile = value("mqtt-cafile");
    c->tls = p.isSet(QStringLiteral("mqtt-tls")) || !c->caFile.isEmpty();
    c->port = !c->tls ? 1883 : 8883;
    if (!mqtt::parseBroker(value("mqtt"), &c->host, &c->port)) {
        *why = QStringLiteral("--mqtt must be HOST or HOST:PORT, with a port from 1 to 65535");
        return false;
    }
    c->id = p.isSet(QStringLiteral("mqtt-id"))
                ? value("mqtt-id")
                : mqtt::defaultId(QSysInfo::machineHostName(), port, mqtt::serialIdOf(devicePath(port), QStringLiteral("/dev/serial/by-id")));
    if (!mqtt::isValidId(c->id)) {
        *why = QStringLiteral("--mqtt-id takes 1 to %1 letters, digits, _ and -").arg(mqtt::kMaxIdLength);
        return false;
    }
    c->clientId = p.isSet(QStringLiteral("mqtt-client-id")) ? value("mqtt-client-id") : c->id;
    if (!QRegularExpression(QStringLiteral("^[!-~]{1,%1}$").arg(mqtt::kMaxIdLength)).match(c->clientId).hasMatch()) {
        *why = QStringLiteral("--mqtt-client-id takes 1 to %1 printable characters, no spaces").arg(mqtt::kMaxIdLength);
        return false;
    }
    if (p.isSet(QStringLiteral("mqtt-topic")))
        c->base = value("mqtt-topic");
    if (!mqtt::isValidPrefix(c->base)) {
        *why = QStringLiteral("--mqtt-topic must be a topic without +, # or a leading or trailing /");
        return false;
    }
    bool ok = true;
    c->period = p.isSet(QStringLiteral("mqtt-period")) ? value("mqtt-period").toInt(&ok) : 10;
    if (!ok || c->period < 1 || c->period > 3600) {
        *why = QStringLiteral("--mqtt-period must be a whole number from 1 to 3600");
        return false;
    }
    c->user = value("mqtt-user");
    // The environment's password is there for whoever names a user.
    if (p.isSet(QStringLiteral("mqtt-password-file"))) {
        QFile file(value("mqtt-password-file"));
        if (c->user.isEmpty()) {
            *why = QStringLiteral("--mqtt-password-file needs --mqtt-user");
            return false;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("cannot read the password file %1: %2").arg(file.fileName(), file.errorString());
            return false;
        }
        c->password = QString::fromUtf8(file.readLine()).remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
    } else if (!c->user.isEmpty()) {
        c->password = qEnvironmentVariable("QUELMAR_MQTT_PASSWORD");
    }
    c->certFile = value("mqtt-cert");
    c->keyFile = value("mqtt-key");
    if (c->certFile.isEmpty() != c->keyFile.isEmpty() || (!c->certFile.isEmpty() && !c->tls)) {
        *why = QStringLiteral("--mqtt-cert and --mqtt-key go together, with --mqtt-tls or --mqtt-cafile");
        return false;
    }
    // A file that would fail only at the TLS handshake is refused now.
    for (const auto &[option, begin, what] : {std::tuple{"mqtt-cafile", "-----BEGIN CERTIFICATE-----", "a certificate"},
                                              std::tuple{"mqtt-cert", "-----BEGIN CERTIFICATE-----", "a certificate"},
                                              std::tuple{"mqtt-key", "PRIVATE KEY-----", "a private key"}}) {
        if (p.isSet(QLatin1String(option)) && !(*why = pemWhy(p, option, begin, what)).isEmpty())
            return false;
    }
    if (p.isSet(QStringLiteral("mqtt-keepalive")))
        c->keepAlive = value("mqtt-keepalive").toInt(&ok);
    if (!ok || c->keepAlive < 5 || c->keepAlive > 3600) {
        *why = QStringLiteral("--mqtt-keepalive must be a whole number from 5 to 3600");
        return false;
    }
    c->discovery = !p.isSet(QStringLiteral("no-discovery"));
    if (p.isSet(QStringLiteral("discovery-prefix")))
        c->discoveryPrefix = value("discovery-prefix");
    if (!mqtt::isValidPrefix(c->discoveryPrefix)) {
        *why = QStringLiteral("--discovery-prefix must be a topic without +, # or a leading or trailing /");
        return false;
    }
    // Two computers each with a ttyUSB0 are told apart.
    c->device = QStringLiteral("Quelmar meter %1 on %2").arg(port.section(QLatin1Char('/'), -1), QSysInfo::machineHostName());
    c->remove = p.isSet(QStringLiteral("mqtt-remove"));
    return true;
}


} // namespace quelmar
