// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqttoptions.h"

#include "mqttpayload.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

namespace quelmar {

namespace {

const QList<QCommandLineOption> kOptions = {
    {"mqtt-id", "The meter's name in the topics (default: quelmar_HOSTNAME_PORT).", "ID"},
    {"mqtt-period", "Seconds between published readings, 1 to 3600 (default 10).", "SECONDS"},
    {"mqtt-user", "User name at the broker.", "NAME"},
    {"mqtt-password-file", "Read the broker password from the first line of FILE.", "FILE"},
    {"mqtt-cafile", "Use TLS; verify the broker's certificate and name against this CA.", "FILE"},
    {"no-discovery", "Publish no Home Assistant discovery configs."},
    {"discovery-prefix", "Topic prefix of the discovery configs (default homeassistant).", "PREFIX"},
};

} // namespace

void addMqttOptions(QCommandLineParser &parser)
{
    parser.addOption({"mqtt", "Also publish to the MQTT broker at HOST (port 1883, or 8883 with --mqtt-cafile).", "HOST[:PORT]"});
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
    c->port = c->caFile.isEmpty() ? 1883 : 8883;
    if (!mqtt::parseBroker(value("mqtt"), &c->host, &c->port)) {
        *why = QStringLiteral("--mqtt must be HOST or HOST:PORT, with a port from 1 to 65535");
        return false;
    }
    c->id = p.isSet(QStringLiteral("mqtt-id")) ? value("mqtt-id") : mqtt::defaultId(QSysInfo::machineHostName(), port);
    if (!mqtt::isValidId(c->id)) {
        *why = QStringLiteral("--mqtt-id takes only letters, digits, _ and -");
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
    if (!c->caFile.isEmpty() && !QFile(c->caFile).open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read --mqtt-cafile %1").arg(c->caFile);
        return false;
    }
    c->discovery = !p.isSet(QStringLiteral("no-discovery"));
    if (p.isSet(QStringLiteral("discovery-prefix")))
        c->discoveryPrefix = value("discovery-prefix");
    if (c->discoveryPrefix.isEmpty() || c->discoveryPrefix.contains(QRegularExpression(QStringLiteral("[+#]|^/|/$")))) {
        *why = QStringLiteral("--discovery-prefix must be a topic without +, # or a leading or trailing /");
        return false;
    }
    c->device = QStringLiteral("Quelmar meter ") + port.section(QLatin1Char('/'), -1);
    return true;
}


} // namespace quelmar
