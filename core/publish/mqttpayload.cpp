// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqttpayload.h"

#include "core/logfile/logrecord.h"
#include "core/measure/record.h"
#include "core/version.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace quelmar::mqtt {

// An enum sensor takes no state class: Home Assistant refuses one there.
// Each number is shown with the window's decimals, so the two never seem to
// disagree; the energy to a whole Wh, as the Energy dashboard counts it.
const Sensor kSensors[8] = {
    {"power", "Power", "power", "W", "measurement", kPowerDecimals, false},
    {"apparent_power", "Apparent power", "apparent_power", "VA", "measurement", kPowerDecimals, false},
    {"voltage", "Voltage", "voltage", "V", "measurement", kVoltDecimals, false},
    {"current", "Current", "current", "A", "measurement", kCurrentDecimals, false},
    {"power_factor", "Power factor", "power_factor", "", "measurement", kPowerFactorDecimals, false},
    {"lead_lag", "Lead or lag", "enum", "", "", -1, true},
    // A clear of the meter starts the counter at 0 again, which
    // total_increasing reads as a new meter cycle.
    {"energy", "Energy", "energy", "Wh", "total_increasing", 0, false},
    {"elapsed", "Elapsed time", "duration", "s", "measurement", 0, true},
};

QString serialIdOf(const QString &devicePath, const QString &byIdDir)
{
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty())
        return {};
    const QFileInfoList links = QDir(byIdDir).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links) {
        if (link.canonicalFilePath() == device)
            return link.fileName();
    }
    return {};
}

QString defaultId(const QString &host, const QString &port, const QString &serialId)
{
    QString id = (serialId.isEmpty() ? QStringLiteral("quelmar_%1_%2").arg(host, port.section(QLatin1Char('/'), -1))
                                     : QStringLiteral("quelmar_") + serialId)
                     .toLower();
    for (QChar &c : id) {
        if (!(c.isDigit() || c == QLatin1Char('_') || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))))
            c = QLatin1Char('_');
    }
    return id.left(kMaxIdLength);
}

bool isValidId(const QString &id)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9_-]{1,%1}$").arg(kMaxIdLength));
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

int recordsPerState(int period, int recordPeriod)
{
    const int each = std::max(recordPeriod, 1);
    return std::max((period + each - 1) / each, 1);
}

bool isPublished(qint64 index, int period, int recordPeriod)
{
    return index % recordsPerState(period, recordPeriod) == 0;
}

bool isValidPrefix(const QString &prefix)
{
    static const QRegularExpression bad(QStringLiteral("[+#]|^/|/$"));
    return !prefix.isEmpty() && !prefix.contains(bad);
}

QString stateTopic(const QString &base, const QString &id) { return QStringLiteral("%1/%2/state").arg(base, id); }
QString availabilityTopic(const QString &base, const QString &id) { return QStringLiteral("%1/%2/availability").arg(base, id); }
QString statusTopic(const QString &prefix) { return prefix + QStringLiteral("/status"); }

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

QByteArray discoveryPayload(const Sensor &sensor, const Device &d)
{
    const QString key = QLatin1String(sensor.key);
    QJsonObject config{
        {"unique_id", d.id + QLatin1Char('_') + key},
        {"name", sensor.name},
        {"state_topic", stateTopic(d.base, d.id)},
        {"value_template", QStringLiteral("{{ value_json.%1 }}").arg(key)},
        {"availability_topic", availabilityTopic(d.base, d.id)},
        {"expire_after", d.expireAfter},
        {"device_class", sensor.deviceClass},
        {"device", QJsonObject{{"identifiers", QJsonArray{d.id}},
                               {"name", d.name},
                               {"manufacturer", "Norvane"},
                               {"model", "Quelmar meter"},
                               {"sw_version", "quelmar-log " QUELMAR_VERSION_TEXT}}},
        {"origin", QJsonObject{{"name", "quelmar-log"}, {"sw_version", QUELMAR_VERSION_TEXT}}},
    };
    if (*sensor.unit)
        config.insert(QStringLiteral("unit_of_measurement"), sensor.unit);
    if (*sensor.stateClass)
        config.insert(QStringLiteral("state_class"), sensor.stateClass);
    if (sensor.precision >= 0)
        config.insert(QStringLiteral("suggested_display_precision"), sensor.precision);
    if (sensor.diagnostic)
        config.insert(QStringLiteral("entity_category"), QStringLiteral("diagnostic"));
    if (config.value(QStringLiteral("device_class")) == QLatin1String("enum"))
        config.insert(QStringLiteral("options"), QJsonArray{"lead", "lag"});
    return QJsonDocument(config).toJson(QJsonDocument::Compact);
}

} // namespace quelmar::mqtt
