// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqttpayload.h"

#include "core/logfile/logrecord.h"
#include "core/measure/record.h"
#include "core/version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace quelmar::mqtt {

// An enum sensor takes no state class: Home Assistant refuses one there.
const Sensor kSensors[8] = {
    {"power", "Power", "power", "W", "measurement"},
    {"apparent_power", "Apparent power", "apparent_power", "VA", "measurement"},
    {"voltage", "Voltage", "voltage", "V", "measurement"},
    {"current", "Current", "current", "A", "measurement"},
    {"power_factor", "Power factor", "power_factor", "", "measurement"},
    {"lead_lag", "Lead or lag", "enum", "", ""},
    // A clear of the meter starts the counter at 0 again, which
    // total_increasing reads as a new meter cycle.
    {"energy", "Energy", "energy", "Wh", "total_increasing"},
    {"elapsed", "Elapsed time", "duration", "s", "measurement"},
};

QString defaultId(const QString &host, const QString &port)
{
    QString id = QStringLiteral("quelmar_%1_%2").arg(host, port.section(QLatin1Char('/'), -1)).toLower();
    for (QChar &c : id) {
        if (!(c.isDigit() || c == QLatin1Char('_') || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))))
            c = QLatin1Char('_');
    }
    return id;
}

bool isValidId(const QString &id)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9_-]+$"));
    return form.match(id).hasMatch();
}

bool parseBroker(const QString &text, QString *host, int *port)
{
    static const QRegularExpression form(QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^:\\[\\]/\\s]+))(?::(\\d{1,5}))?$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    if (m.hasCaptured(3)) {
        const int p = m.captured(3).toInt();
        if (p < 1 || p > 65535)
            return false;
        *port = p;
    }
    *host = m.hasCaptured(1) ? m.captured(1) : m.captured(2);
    return true;
}

bool isPublished(qint64 index, int period, int recordPeriod)
{
    const int each = std::max(recordPeriod, 1);
    return index % std::max((period + each - 1) / each, 1) == 0;
}

QString stateTopic(const QString &id) { return QStringLiteral("quelmar/%1/state").arg(id); }
QString availabilityTopic(const QString &id) { return QStringLiteral("quelmar/%1/availability").arg(id); }

QString discoveryTopic(const QString &prefix, const QString &id, const char *key)
{
    return QStringLiteral("%1/sensor/%2/%3/config").arg(prefix, id, QLatin1String(key));
}

namespace {

QByteArray number(double value, int decimals)
{
    return std::isfinite(value) ? numberColumn(value, decimals) : QByteArrayLiteral("null");
}

} // namespace

QByteArray statePayload(const Record &r)
{
    return "{\"power\":" + number(r.watts, kPowerDecimals) + ",\"apparent_power\":" +
           number(r.voltAmperes, kPowerDecimals) + ",\"voltage\":" + number(r.volts, kVoltDecimals) +
           ",\"current\":" + number(r.amps, kCurrentDecimals) + ",\"power_factor\":" +
           number(r.powerFactor, kPowerFactorDecimals) + ",\"lead_lag\":\"" + (r.lead ? "lead" : "lag") +
           "\",\"energy\":" + number(r.milliwattHours / 1000, kEnergyDecimals + 3) + ",\"elapsed\":" +
           number(r.seconds, 0) + '}';
}

QByteArray discoveryPayload(const Sensor &sensor, const QString &id, const QString &device)
{
    const QString key = QLatin1String(sensor.key);
    QJsonObject config{
        {"unique_id", id + QLatin1Char('_') + key},
        {"name", sensor.name},
        {"state_topic", stateTopic(id)},
        {"value_template", QStringLiteral("{{ value_json.%1 }}").arg(key)},
        {"availability_topic", availabilityTopic(id)},
        {"device_class", sensor.deviceClass},
        {"device", QJsonObject{{"identifiers", QJsonArray{id}},
                               {"name", device},
                               {"model", "Quelmar meter"},
                               {"sw_version", "quelmar-log " QUELMAR_VERSION_TEXT}}},
    };
    if (*sensor.unit)
        config.insert(QStringLiteral("unit_of_measurement"), sensor.unit);
    if (*sensor.stateClass)
        config.insert(QStringLiteral("state_class"), sensor.stateClass);
    if (config.value(QStringLiteral("device_class")) == QLatin1String("enum"))
        config.insert(QStringLiteral("options"), QJsonArray{"lead", "lag"});
    return QJsonDocument(config).toJson(QJsonDocument::Compact);
}

} // namespace quelmar::mqtt
