// SPDX-License-Identifier: GPL-3.0-or-later
#include "webtexts.h"

#include "core/cost/costmath.h"
#include "core/history/chartmath.h"
#include "core/logfile/logrecord.h"
#include "core/measure/readouttext.h"
#include "core/publish/mqttpayload.h"

#include <QDateTime>

#include <cmath>

namespace quelmar {

namespace {

constexpr qint64 kHourMs = 3600 * 1000;

qint64 localDay(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).date().toJulianDay();
}

// A label value as the text format escapes it.
QByteArray labelValue(const QString &text)
{
    return text.toUtf8().replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
}

QByteArray json(const QString &text)
{
    QByteArray out = text.toUtf8().replace('\\', "\\\\").replace('"', "\\\"");
    for (char c = 0; c < 0x20; ++c)
        out.replace(c, "\\u00" + QByteArray::number(c, 16).rightJustified(2, '0'));
    return '"' + out + '"';
}

} // namespace

void DayEnergy::add(const Record &r)
{
    const qint64 day = localDay(r.atMs);
    if (!m_any || day != m_day) {
        m_since = m_any ? QDateTime::fromMSecsSinceEpoch(r.atMs).date().startOfDay().toMSecsSinceEpoch() : r.atMs;
        m_day = day;
        m_energy = 0;
    }
    // The report's rule from one record to the next, with the records'
    // clock: after a clear or a restart, the counter since then and at most
    // three record periods before it, else nothing for the gap.
    if (m_any) {
        const bool restarted = r.seconds < m_last.seconds || r.milliwattHours < m_last.milliwattHours;
        m_energy += measuredEnergy(restarted, restarted ? r.milliwattHours : r.milliwattHours - m_last.milliwattHours,
                                   m_last.watts, msToClear(m_last.atMs, r.atMs, r.seconds), m_period.ms())
                        .mWh;
        if (!restarted)
            m_period.step(r.atMs - m_last.atMs);
    }
    m_last = r;
    m_any = true;
}

bool DayEnergy::isOn(qint64 nowMs) const
{
    return m_any && localDay(nowMs) == m_day;
}

QByteArray metricsText(const WebFigures &f)
{
    QByteArray labels = "{port=" + ('"' + labelValue(f.config->meterPort) + '"');
    if (!f.config->mqttId.isEmpty())
        labels += ",mqtt_id=\"" + labelValue(f.config->mqttId) + '"';
    labels += "} ";
    QByteArray out;
    const auto family = [&](const char *name, const char *type, const char *help, const QByteArray &value) {
        out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
        if (!value.isEmpty())
            out += name + labels + value + '\n';
    };
    // The log's digits; nothing for a value not known.
    const auto reading = [&](double Record::*field, int decimals, double scale = 1) {
        const double v = f.record ? f.record->*field / scale : NAN;
        return std::isfinite(v) ? numberColumn(v, decimals) : QByteArray();
    };
    family("quelmar_power_watts", "gauge", "Real power of the latest record.", reading(&Record::watts, kPowerDecimals));
    family("quelmar_apparent_power_volt_amperes", "gauge", "Apparent power of the latest record.",
           reading(&Record::voltAmperes, kPowerDecimals));
    family("quelmar_voltage_volts", "gauge", "Voltage of the latest record.", reading(&Record::volts, kVoltDecimals));
    family("quelmar_current_amperes", "gauge", "Current of the latest record.", reading(&Record::amps, kCurrentDecimals));
    family("quelmar_power_factor_ratio", "gauge", "Power factor of the latest record, 0 to 1.",
           reading(&Record::powerFactor, kPowerFactorDecimals));
    family("quelmar_current_leading", "gauge", "1 when the current leads the voltage, 0 when it lags.",
           f.record ? QByteArray(f.record->lead ? "1" : "0") : QByteArray());
    family("quelmar_energy_watthours_total", "counter", "The meter's energy counter; 0 again after a clear.",
           reading(&Record::milliwattHours, kEnergyDecimals + 3, 1000));
    family("quelmar_meter_elapsed_seconds", "gauge", "Time since the meter was last cleared.", reading(&Record::seconds, 0));
    family("quelmar_meter_up", "gauge", "1 while the meter answers, 0 once it has not for 3 s.", f.meterUp ? "1" : "0");
    family("quelmar_poll_failures_total", "counter", "Polls the meter did not answer.", QByteArray::number(f.pollFailures));
    if (f.counts.log) {
        family("quelmar_records_written_total", "counter", "Records written to the log.", QByteArray::number(f.counts.written));
        family("quelmar_records_missed_total", "counter", "Records that could not be written to the log.",
               QByteArray::number(f.counts.missed));
    }
    if (f.counts.broker >= 0)
        family("quelmar_broker_up", "gauge", "1 while the MQTT broker is connected.", QByteArray::number(f.counts.broker));
    return out;
}

QByteArray liveJson(const WebFigures &f)
{
    QByteArray out = "{\"port\":" + json(f.config->meterPort) + ",\"meter\":" + (f.meterUp ? "true" : "false");
    out += ",\"state\":" + (f.record ? mqtt::statePayload(*f.record) : QByteArray("null"));
    out += ",\"at\":" + (f.record ? '"' + clockText(f.record->atMs) + '"' : QByteArray("null"));
    out += ",\"today\":";
    if (f.today->isOn(f.nowMs)) {
        const double kWh = f.today->milliwattHours() / 1e6;
        // The report's texts: kWh to six decimals, the cost in its money text.
        out += "{\"kwh\":\"" + numberText(kWh, 6).toLatin1() + "\",\"since\":\"" + clockText(f.today->sinceMs()) +
               "\",\"cost\":" + (f.config->cents >= 0 ? json(moneyText(kWh * f.config->cents / 100)) : "null") + '}';
    } else {
        out += "null";
    }
    if (f.counts.log)
        out += ",\"written\":" + QByteArray::number(f.counts.written) + ",\"missed\":" + QByteArray::number(f.counts.missed);
    if (f.counts.broker >= 0)
        out += QByteArray(",\"broker\":") + (f.counts.broker ? "true" : "false");
    return out + '}';
}

QByteArray historyJson(const ReadingHistory &h, qint64 nowMs)
{
    const qint64 from = nowMs - kHourMs;
    const int first = h.lowerBound(from);
    QByteArray out = "{\"from\":" + QByteArray::number(from) + ",\"to\":" + QByteArray::number(nowMs) + ",\"points\":[";
    const QList<QPointF> points = chartPoints(h, first, Series::RealPower, double(from), double(nowMs), kHistoryColumns);
    for (const QPointF &p : points)
        out += '[' + QByteArray::number(qint64(p.x())) + ',' + QByteArray::number(p.y(), 'f', 3) + "],";
    if (!points.isEmpty())
        out.chop(1);
    // A line drawn across a silence would show readings nobody took.
    out += "],\"gaps\":[";
    const qint64 column = kHourMs / kHistoryColumns;
    bool any = false;
    for (int i = std::max(first, 0) + 1; i < h.size(); ++i) {
        if (h.timeAt(i) - h.timeAt(i - 1) > column) {
            out += '[' + QByteArray::number(h.timeAt(i - 1)) + ',' + QByteArray::number(h.timeAt(i)) + "],";
            any = true;
        }
    }
    if (any)
        out.chop(1);
    return out + "]}";
}

} // namespace quelmar
