// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include <QCommandLineParser>

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

LoggerOptions parseLoggerOptions(const QStringList &arguments)
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
        "A lost or missing port is tried again every 2 seconds. SIGINT or SIGTERM ends it\n"
        "after the record in progress.\n\n"
        "Exit codes: 0 done, 2 usage error, 3 the port never opened within --duration,\n"
        "4 the file cannot be written or already holds records (without --append)."));
    p.addVersionOption();
    p.addOptions({
        {{"h", "help"}, "Show this help and exit."},
        {"port", "Serial port (default: the one the window remembers).", "NAME"},
        {"period", "Seconds between records, 1 to 99 (default 1).", "SECONDS"},
        {"clear", "Clear the meter's data first."},
        {"duration", "Stop after TIME: seconds, or a number with s, m, h or d.", "TIME"},
        {"append", "Add records to an existing log instead of refusing it."},
    });
    p.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The CSV file, or - for standard output."));
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

    if (p.positionalArguments().size() != 1)
        return error(QStringLiteral("give exactly one FILE"));
    o.file = p.positionalArguments().first();
    bool ok = true;
    if (p.isSet(QStringLiteral("period")))
        o.period = p.value(QStringLiteral("period")).toInt(&ok);
    if (!ok || o.period < 1 || o.period > 99)
        return error(QStringLiteral("--period must be a whole number from 1 to 99"));
    if (p.isSet(QStringLiteral("duration")))
        o.durationMs = durationMs(p.value(QStringLiteral("duration")));
    if (o.durationMs < 0)
        return error(QStringLiteral("--duration must be seconds, or a number with s, m, h or d"));
    o.port = p.value(QStringLiteral("port"));
    if (p.isSet(QStringLiteral("port")) && o.port.isEmpty())
        return error(QStringLiteral("--port needs a port name"));
    o.clear = p.isSet(QStringLiteral("clear"));
    o.append = p.isSet(QStringLiteral("append"));
    return o;
}

} // namespace quelmar
