// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include "core/publish/mqttoptions.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>

#include <cmath>

namespace quelmar {

qint64 durationMs(const QString &text)
{
    static const QString units = QStringLiteral("smhd");
    static const qint64 seconds[] = {1, 60, 3600, 86400};
    QString digits = text;
    qsizetype unit = 0;
    if (!digits.isEmpty() && units.contains(digits.back())) {
        unit = units.indexOf(digits.back());
        digits.chop(1);
    }
    // At most nine digits: a plain count, no sign, no blanks, no overflow.
    if (digits.isEmpty() || digits.size() > 9)
        return -1;
    for (QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    return digits.toLongLong() * seconds[unit] * 1000;
}

bool clockFrom(const QString &text, std::function<qint64()> &clock)
{
    const QStringList parts = text.split(QLatin1Char(','));
    const QDateTime start = QDateTime::fromString(parts.first(), Qt::ISODate);
    bool ok = parts.size() <= 2;
    const double rate = parts.size() == 2 ? parts[1].toDouble(&ok) : 1.0;
    if (!start.isValid() || !ok || !(rate > 0 && rate <= 1e6))
        return false;
    QElapsedTimer since;
    since.start();
    const qint64 startMs = start.toMSecsSinceEpoch();
    clock = [=] { return startMs + qint64(double(since.nsecsElapsed()) / 1e6 * rate); };
    return true;
}

LoggerOptions parseLoggerOptions(const QStringList &arguments, const std::function<QString()> &rememberedPort)
{
    LoggerOptions o;
    const auto error = [&o](const QString &why) {
        o.action = LoggerOptions::Error;
        o.text = why;
        return o;
    };

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Logs the Quelmar meter's readings to FILE ('-' for standard output) without a window:\n"
        "a poll every 500 ms, a record every period, the same CSV as the window's log.\n"
        "A lost or missing port is tried again every 2 seconds. A log file that is moved\n"
        "away, deleted or emptied starts again with its header at the next record.\n"
        "SIGINT or SIGTERM ends it after the record in progress.\n\n"
        "With --mqtt it also publishes them to an MQTT broker, with Home Assistant discovery;\n"
        "FILE is then optional. The broker password comes from --mqtt-password-file or the\n"
        "environment variable QUELMAR_MQTT_PASSWORD.\n\n"
        "quelmar-log --report [--cents C] [--csv] FILE... logs nothing: it reads the logs\n"
        "(in any order, rotated or not) and prints per day (per log for logs without the\n"
        "clock column) and in total: readings, energy in kWh (the meter's counter, and\n"
        "across a clear the integral of power), cost, the lowest, mean and highest power,\n"
        "standby power (the mean of the lowest 5% of readings) and the share of readings\n"
        "above standby (over twice it and over 1 W above it).\n"
        "Rows that cannot be read are counted and named, never guessed.\n\n"
        "Exit codes: 0 done, 2 usage error, 3 the port never opened within --duration,\n"
        "4 the file cannot be written or already holds records (without --append);\n"
        "with --report, 4 a FILE cannot be read or is not a log;\n"
        "5 the MQTT broker refused the user name or password, or TLS failed, before it ever\n"
        "accepted the logger; with --mqtt-remove, also a broker that cannot be reached or a\n"
        "removal stopped before the broker took it."));
    p.addVersionOption();
    p.addOptions({
        {{"h", "help"}, "Show this help and exit."},
        {"port", "Serial port (default: the one the window remembers).", "NAME"},
        {"period", "Seconds between records, 1 to 99 (default 1).", "SECONDS"},
        {"clear", "Clear the meter's data first."},
        {"duration", "Stop after TIME: seconds, or a number with s, m, h or d.", "TIME"},
        {"append", "Add records to an existing log instead of refusing it."},
        {"rotate", "Write NAME-YYYY-MM-DD.csv beside FILE (NAME.csv), a new file each local day, "
                   "week (from Monday) or month, named after the day it starts.",
         "daily|weekly|monthly"},
        {"clock", "Add a ninth column: the local date and time with its UTC offset, "
                  "e.g. 2026-03-29T03:00:00+02:00."},
        {"report", "Report on the logs FILE... instead of logging."},
        {"cents", "With --report: the tariff, for a cost column.", "C"},
        {"csv", "With --report: CSV instead of a table."},
    });
    addMqttOptions(p);
    p.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The CSV file, or - for standard output."),
                            QStringLiteral("[FILE]"));
    if (!p.parse(arguments))
        return error(p.errorText());
    if (p.isSet(QStringLiteral("help"))) {
        o.action = LoggerOptions::Help;
        o.text = p.helpText();
        return o;
    }
    if (p.isSet(QStringLiteral("version"))) {
        o.action = LoggerOptions::Version;
        return o;
    }
    o.files = p.positionalArguments();

    if (p.isSet(QStringLiteral("report"))) {
        for (const char *option : {"port", "period", "clear", "duration", "append", "rotate", "clock", "mqtt"}) {
            if (p.isSet(QLatin1String(option)))
                return error(QStringLiteral("--report takes only --cents and --csv, not --%1").arg(QLatin1String(option)));
        }
        if (o.files.isEmpty())
            return error(QStringLiteral("give the logs to report on"));
        bool ok = true;
        if (p.isSet(QStringLiteral("cents")))
            o.cents = p.value(QStringLiteral("cents")).toDouble(&ok);
        if (!ok || !std::isfinite(o.cents) || (p.isSet(QStringLiteral("cents")) && o.cents < 0))
            return error(QStringLiteral("--cents must be a number of cents per kWh, 0 or more"));
        o.csv = p.isSet(QStringLiteral("csv"));
        o.action = LoggerOptions::Report;
        return o;
    }
    if (p.isSet(QStringLiteral("cents")) || p.isSet(QStringLiteral("csv")))
        return error(QStringLiteral("--cents and --csv go with --report"));

    o.mqtt = p.isSet(QStringLiteral("mqtt"));
    if (o.files.size() > 1 || (o.files.isEmpty() && !o.mqtt))
        return error(QStringLiteral("give exactly one FILE, or --mqtt"));
    bool ok = true;
    if (p.isSet(QStringLiteral("period")))
        o.period = p.value(QStringLiteral("period")).toInt(&ok);
    if (!ok || o.period < 1 || o.period > 99)
        return error(QStringLiteral("--period must be a whole number from 1 to 99"));
    if (p.isSet(QStringLiteral("duration")))
        o.durationMs = durationMs(p.value(QStringLiteral("duration")));
    if (o.durationMs < 0)
        return error(QStringLiteral("--duration must be seconds, or a number with s, m, h or d"));
    o.port = p.isSet(QStringLiteral("port")) ? p.value(QStringLiteral("port")) : rememberedPort();
    if (p.isSet(QStringLiteral("port")) && o.port.isEmpty())
        return error(QStringLiteral("--port needs a port name"));
    if (o.port.isEmpty())
        return error(QStringLiteral("no --port given and none remembered"));
    QString why;
    if (!mqttConfig(p, o.port, &o.broker, &why))
        return error(why);
    o.broker.recordPeriod = o.period;
    bool logging = !o.files.isEmpty();
    for (const char *option : {"period", "clear", "duration", "append", "rotate", "clock"})
        logging = logging || p.isSet(QLatin1String(option));
    if (o.broker.remove && logging)
        return error(QStringLiteral("--mqtt-remove only removes the meter from the broker: give it no FILE and no logging options"));
    o.clear = p.isSet(QStringLiteral("clear"));
    o.append = p.isSet(QStringLiteral("append"));

    // The logger re-creates a log that vanished; the window never needs to.
    o.log.reopen = true;
    o.log.clock = p.isSet(QStringLiteral("clock"));
    if (p.isSet(QStringLiteral("rotate"))) {
        const QStringList names{"daily", "weekly", "monthly"};
        const qsizetype r = names.indexOf(p.value(QStringLiteral("rotate")));
        if (r < 0)
            return error(QStringLiteral("--rotate must be daily, weekly or monthly"));
        if (o.files.value(0, QStringLiteral("-")) == QLatin1String("-"))
            return error(QStringLiteral("--rotate needs a file name, not -"));
        o.log.rotation = LogOptions::Rotation(r + 1);
    }
    return o;
}

} // namespace quelmar
