// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include "core/publish/mqttoptions.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QElapsedTimer>

#include <algorithm>
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

namespace {

// A local date, "2026-03-29", as a Julian day; 0 when it is none.
int julianDay(const QString &text)
{
    const QDate d = QDate::fromString(text, Qt::ISODate);
    return d.isValid() && text.size() == 10 ? int(d.toJulianDay()) : 0;
}

// A number of cents, 0 or more; -1 when it is none.
double cents(const QString &text)
{
    bool ok = false;
    const double c = text.toDouble(&ok);
    return ok && std::isfinite(c) && c >= 0 ? c : -1;
}

bool reportOptions(const QCommandLineParser &p, ReportOptions &r, QString *why)
{
    const auto fail = [why](const QString &text) {
        *why = text;
        return false;
    };
    if (p.isSet(QStringLiteral("cents")) && p.isSet(QStringLiteral("tariff")))
        return fail(QStringLiteral("give --cents or --tariff, not both"));
    if (p.isSet(QStringLiteral("cents"))) {
        const double c = cents(p.value(QStringLiteral("cents")));
        if (c < 0)
            return fail(QStringLiteral("--cents must be a number of cents per kWh, 0 or more"));
        r.tariff = Tariff(c);
    }
    if (p.isSet(QStringLiteral("tariff"))) {
        const QString path = p.value(QStringLiteral("tariff"));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("--tariff %1: %2").arg(path, file.errorString()));
        Tariff t;
        QString problem;
        if (!Tariff::parse(file.read(1 << 20), t, &problem))
            return fail(QStringLiteral("--tariff %1: %2").arg(path, problem));
        r.tariff = t;
    }
    if (p.isSet(QStringLiteral("standing"))) {
        r.standingCents = cents(p.value(QStringLiteral("standing")));
        if (r.standingCents < 0)
            return fail(QStringLiteral("--standing must be a number of cents per day, 0 or more"));
    }
    if (p.isSet(QStringLiteral("by"))) {
        const qsizetype by = QStringList{"day", "week", "month"}.indexOf(p.value(QStringLiteral("by")));
        if (by < 0)
            return fail(QStringLiteral("--by must be day, week or month"));
        if (p.isSet(QStringLiteral("hours")))
            return fail(QStringLiteral("give --by or --hours, not both"));
        r.by = ReportOptions::Grouping(by);
    }
    if (p.isSet(QStringLiteral("hours")))
        r.by = ReportOptions::Hours;
    for (const char *name : {"from", "to"}) {
        if (!p.isSet(QLatin1String(name)))
            continue;
        const int day = julianDay(p.value(QLatin1String(name)));
        if (day == 0)
            return fail(QStringLiteral("--%1 must be a date such as 2026-03-29").arg(QLatin1String(name)));
        (name[0] == 'f' ? r.fromDay : r.toDay) = day;
    }
    if (r.fromDay && r.toDay && r.fromDay > r.toDay)
        return fail(QStringLiteral("--from must not be after --to"));
    return true;
}

// "PORT", "ADDRESS:PORT" or "[IPv6]:PORT"; no address is the loopback one.
// Whether the address is one is for the server to say. No regular
// expression: compiling one costs the logger 400 KiB.
bool parseListen(const QString &text, QString *address, int *port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    const QString digits = text.mid(colon + 1);
    *address = text.left(std::max<qsizetype>(colon, 0));
    if (address->startsWith(QLatin1Char('[')) && address->endsWith(QLatin1Char(']')))
        *address = address->mid(1, address->size() - 2);
    else if (address->contains(QLatin1Char(':')))
        return false;
    if (address->isEmpty() || *address == QLatin1String("localhost"))
        *address = QStringLiteral("127.0.0.1");
    const bool digitsOnly = std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return c >= '0' && c <= '9'; });
    *port = digits.toInt();
    return digitsOnly && !digits.isEmpty() && digits.size() <= 5 && *port <= 65535;
}

} // namespace

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
        "A record that cannot be written is counted, not retried; the next is written as\n"
        "soon as writing works. Every change of state is a line on standard error.\n"
        "FILE.lock is held while logging: a log another logger or the window writes is refused.\n"
        "SIGINT or SIGTERM ends it after the record in progress.\n\n"
        "With --mqtt it also publishes them to an MQTT broker, with Home Assistant discovery;\n"
        "FILE is then optional. The broker password comes from --mqtt-password-file or the\n"
        "environment variable QUELMAR_MQTT_PASSWORD.\n\n"
        "quelmar-log --report [--by day|week|month | --hours] [--from DATE] [--to DATE]\n"
        "[--cents C | --tariff FILE] [--standing CENTS] [--csv] FILE... logs nothing: it reads\n"
        "the logs (in any order, rotated or not) and prints per day, week or month (per log\n"
        "for logs without the clock column), or per hour of the day, and in total: readings,\n"
        "energy in kWh, cost, the lowest, mean and highest power, standby power (the mean of\n"
        "the lowest 5% of readings), the share of readings above standby (over twice it and\n"
        "over 1 W above it) and the gaps. Energy is what the meter counted: after a clear or\n"
        "a restart, its counter since then, and the time before the clear at the power before\n"
        "it only when that is at most three record periods long (with the clock column);\n"
        "a longer or unknown stretch is a gap, named, with nothing counted for it.\n"
        "A log given twice is read once. Rows that cannot be read, or hold a number no mains\n"
        "meter reports (power beyond 100 kW, a counter beyond 10^12 Wh, NaN), are counted\n"
        "and named, never guessed; so is a file that is not a log, and the rest is reported.\n\n"
        "Exit codes: 0 done, every record written and the meter answering all along;\n"
        "1 the system refused a pipe for the signals, or --listen's module is missing;\n"
        "2 usage error, a --listen port in use too;\n"
        "3 the port never opened within --duration, or the meter did not answer for 3 s or more;\n"
        "4 the file cannot be written, is written by another program or already holds records\n"
        "(without --append), records could not be written, or standard output failed;\n"
        "with --report, 4 a FILE, or rows of one, could not be read or used (after the report),\n"
        "or the report could not be written;\n"
        "5 the MQTT broker refused the user name or password, or TLS failed, before it ever\n"
        "accepted the logger; with --mqtt-remove, also a broker that cannot be reached or a\n"
        "removal stopped before the broker took it; 6 the MQTT client library is missing or\n"
        "unusable.\n\n"
        "With --listen it also serves, read-only: a live page at /, the latest record at /state.json\n"
        "(as the broker's state), and /metrics for Prometheus."));
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
        {"cents", "With --report: the price in cents per kWh, for a cost column; with --listen: for "
                  "the cost of today's energy on the page.", "C"},
        {"tariff", "With --report: prices by the time of day, from lines like '07:00-23:00 30.5' "
                   "(cents per kWh) in FILE that cover the day once.", "FILE"},
        {"standing", "With --report: a standing charge of CENTS per day in the cost.", "CENTS"},
        {"by", "With --report: a line per local day (the default), week (Monday to Sunday, "
               "named by its Monday) or month.", "day|week|month"},
        {"hours", "With --report: a line per hour of the day over the dates instead."},
        {"from", "With --report: the first local date counted, e.g. 2026-03-01.", "DATE"},
        {"to", "With --report: the last local date counted.", "DATE"},
        {"csv", "With --report: CSV instead of a table, every figure to the last digit."},
    });
    addMqttOptions(p);
    p.addOption({"listen", "Serve the page, /state.json and /metrics on PORT (0: any free one) at ADDRESS "
                           "(default 127.0.0.1; 0.0.0.0 or :: for every network).", "[ADDRESS:]PORT"});
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

    const QStringList reportOnly{"cents", "tariff", "standing", "by", "hours", "from", "to", "csv"};
    if (p.isSet(QStringLiteral("report"))) {
        for (const char *option : {"port", "period", "clear", "duration", "append", "rotate", "clock", "mqtt", "listen"}) {
            if (p.isSet(QLatin1String(option)))
                return error(QStringLiteral("--report does not take --%1").arg(QLatin1String(option)));
        }
        if (o.files.isEmpty())
            return error(QStringLiteral("give the logs to report on"));
        QString why;
        if (!reportOptions(p, o.report, &why))
            return error(why);
        o.csv = p.isSet(QStringLiteral("csv"));
        o.action = LoggerOptions::Report;
        return o;
    }
    for (const QString &option : reportOnly) {
        // The page of --listen shows today's cost at --cents.
        if (p.isSet(option) && !(option == QLatin1String("cents") && p.isSet(QStringLiteral("listen"))))
            return error(QStringLiteral("--%1 goes with --report%2")
                             .arg(option, option == QLatin1String("cents") ? QStringLiteral(" or --listen") : QString()));
    }
    if (p.isSet(QStringLiteral("cents"))) {
        o.cents = cents(p.value(QStringLiteral("cents")));
        if (o.cents < 0)
            return error(QStringLiteral("--cents must be a number of cents per kWh, 0 or more"));
    }
    if (p.isSet(QStringLiteral("listen")) && !parseListen(p.value(QStringLiteral("listen")), &o.listenAddress, &o.listenPort))
        return error(QStringLiteral("--listen must be PORT or ADDRESS:PORT, the port 0 to 65535"));

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
