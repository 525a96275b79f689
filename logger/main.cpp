// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-log: logs the meter's readings to a CSV file without a window,
// the same records the window's Data Logging tab writes, for days on a
// small computer next to the appliance, over SSH or as a service; and
// reports what such logs add up to.
#include "core/logfile/logreader.h"
#include "core/logfile/logrecord.h"
#include "core/measure/readouttext.h"
#include "core/report/logreport.h"
#include "core/session/metersession.h"
#include "core/settings/settingskeys.h"
#include "core/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Exit codes, as --help and the man page list them.
enum Exit { Done = 0, Usage = 2, NoPort = 3, NoFile = 4 };

// For trying rotation without waiting for midnight: the clock the logger
// writes by starts at a given time and may run faster than real time.
const char kClockVariable[] = "QUELMAR_LOG_CLOCK";

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

int usage(const QString &why)
{
    std::fprintf(stderr, "quelmar-log: %s\nTry --help.\n", qPrintable(why));
    return Usage;
}

// "90", "90s", "15m", "2h" or "3d" in milliseconds; -1 when it is none of them.
qint64 durationMs(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,9})([smhd]?)$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return -1;
    const qint64 seconds[] = {1, 60, 3600, 86400};
    const qsizetype unit = m.captured(2).isEmpty() ? 0 : QStringLiteral("smhd").indexOf(m.captured(2));
    return m.captured(1).toLongLong() * seconds[unit] * 1000;
}

// "2026-03-28T22:00:00+01:00" or the same with ",RATE": a clock that starts
// there now and runs RATE times as fast as real time. False when the text
// is neither.
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

int report(const QCommandLineParser &p)
{
    for (const char *option : {"port", "period", "clear", "duration", "append", "rotate", "clock"}) {
        if (p.isSet(QLatin1String(option)))
            return usage(QStringLiteral("--report takes only --cents and --csv, not --%1").arg(QLatin1String(option)));
    }
    if (p.positionalArguments().isEmpty())
        return usage(QStringLiteral("give the logs to report on"));
    bool ok = true;
    const double cents = p.isSet(QStringLiteral("cents")) ? p.value(QStringLiteral("cents")).toDouble(&ok) : -1;
    if (!ok || !std::isfinite(cents) || (p.isSet(QStringLiteral("cents")) && cents < 0))
        return usage(QStringLiteral("--cents must be a number of cents per kWh, 0 or more"));
    quelmar::LogReport r;
    QString why;
    if (!quelmar::makeReport(p.positionalArguments(), r, &why)) {
        std::fprintf(stderr, "quelmar-log: %s\n", qPrintable(why));
        return NoFile;
    }
    const QString notes = quelmar::reportNotes(r);
    if (p.isSet(QStringLiteral("csv"))) {
        std::fputs(qPrintable(quelmar::reportCsv(r, cents)), stdout);
        std::fputs(qPrintable(notes), stderr);
    } else {
        std::fputs(qPrintable(quelmar::reportTable(r, cents)), stdout);
        if (!notes.isEmpty())
            std::fputs(qPrintable(QLatin1Char('\n') + notes), stdout);
    }
    return Done;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quelmar-log"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUELMAR_VERSION_TEXT));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Logs the Quelmar meter's readings to FILE ('-' for standard output) without a window:\n"
        "a poll every 500 ms, a record every period, the same CSV as the window's log.\n"
        "A lost or missing port is tried again every 2 seconds. A log file that is moved\n"
        "away, deleted or emptied starts again with its header at the next record.\n"
        "SIGINT or SIGTERM ends it after the record in progress.\n\n"
        "quelmar-log --report [--cents C] [--csv] FILE... logs nothing: it reads the logs\n"
        "(in any order, rotated or not) and prints per day (per log for logs without the\n"
        "clock column) and in total: readings, energy in kWh (the meter's counter, and\n"
        "across a clear the integral of power), cost, the lowest, mean and highest power,\n"
        "standby power (the mean of the lowest 5% of readings) and the share of readings\n"
        "above standby (over twice it and over 1 W above it).\n"
        "Rows that cannot be read are counted and named, never guessed.\n\n"
        "Exit codes: 0 done, 2 usage error, 3 the port never opened within --duration,\n"
        "4 the file cannot be written or already holds records (without --append);\n"
        "with --report, 4 a FILE cannot be read or is not a log."));
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
    p.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The CSV file, or - for standard output."));
    if (!p.parse(app.arguments()))
        return usage(p.errorText());
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return Done;
    }
    if (p.isSet(QStringLiteral("version")))
        p.showVersion();
    if (p.isSet(QStringLiteral("report")))
        return report(p);
    if (p.isSet(QStringLiteral("cents")) || p.isSet(QStringLiteral("csv")))
        return usage(QStringLiteral("--cents and --csv go with --report"));

    if (p.positionalArguments().size() != 1)
        return usage(QStringLiteral("give exactly one FILE"));
    const QString file = p.positionalArguments().first();
    bool ok = true;
    const int period = p.isSet(QStringLiteral("period")) ? p.value(QStringLiteral("period")).toInt(&ok) : 1;
    if (!ok || period < 1 || period > 99)
        return usage(QStringLiteral("--period must be a whole number from 1 to 99"));
    const qint64 duration = p.isSet(QStringLiteral("duration")) ? durationMs(p.value(QStringLiteral("duration"))) : 0;
    if (duration < 0)
        return usage(QStringLiteral("--duration must be seconds, or a number with s, m, h or d"));
    const QString port = p.isSet(QStringLiteral("port")) ? p.value(QStringLiteral("port")) : quelmar::storedPort();
    if (port.isEmpty())
        return usage(QStringLiteral("no --port given and none remembered"));

    quelmar::LogOptions options;
    options.reopen = true;
    options.clock = p.isSet(QStringLiteral("clock"));
    if (p.isSet(QStringLiteral("rotate"))) {
        const QStringList names{"daily", "weekly", "monthly"};
        const qsizetype r = names.indexOf(p.value(QStringLiteral("rotate")));
        if (r < 0)
            return usage(QStringLiteral("--rotate must be daily, weekly or monthly"));
        if (file == QLatin1String("-"))
            return usage(QStringLiteral("--rotate needs a file name, not -"));
        options.rotation = quelmar::LogOptions::Rotation(r + 1);
    }
    quelmar::MeterSession session;
    if (qEnvironmentVariableIsSet(kClockVariable)) {
        std::function<qint64()> clock;
        if (!clockFrom(qEnvironmentVariable(kClockVariable), clock))
            return usage(QStringLiteral("%1 must be a date and time such as 2026-03-28T22:00:00+01:00, "
                                        "optionally with ,RATE")
                             .arg(QLatin1String(kClockVariable)));
        session.setClock(clock);
    }

    const bool append = p.isSet(QStringLiteral("append"));
    const QString first = quelmar::logFileAt(file, options.rotation, session.now());
    const qint64 held = quelmar::countLogRecords(first);
    if (!append && held > 0) {
        std::fprintf(stderr, "quelmar-log: %s already holds %lld readings; use --append to add to it\n",
                     qPrintable(first), held);
        return NoFile;
    }
    if (append && held > 0) {
        // Rows of both kinds in one file could not all be read back.
        QFile existing(first);
        const bool opened = existing.open(QIODevice::ReadOnly);
        const quelmar::LogRows rows(existing);
        if (opened && rows.status() == quelmar::LogContents::Loaded && rows.hasClock() != options.clock) {
            std::fprintf(stderr, "quelmar-log: %s is a log %s the clock column; %s --clock to append to it\n",
                         qPrintable(first), rows.hasClock() ? "with" : "without", rows.hasClock() ? "add" : "leave out");
            return NoFile;
        }
    }
    QString why;
    if (!session.log().start(file, period, append, &why, options, session.now())) {
        std::fprintf(stderr, "quelmar-log: %s\n", qPrintable(why));
        return NoFile;
    }

    // A signal only wakes the event loop; the record in progress is written
    // whole before the loop sees it.
    if (::pipe2(signalPipe, O_CLOEXEC) != 0)
        return NoFile;
    QSocketNotifier wake(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &app, [] { QCoreApplication::exit(Done); });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A full disk or a file size limit fails the write, which is retried;
    // it must not end the logger.
    std::signal(SIGXFSZ, SIG_IGN);

    // One status line on a terminal, rewritten with each record and each
    // change of the link; nothing on a pipe.
    const bool status = ::isatty(STDERR_FILENO);
    bool linkUp = false;
    quelmar::ReadoutTexts last;
    const auto showStatus = [&] {
        if (status)
            std::fprintf(stderr, "\r%s  %s W  %d records  %s   ", qPrintable(last.time.isEmpty() ? "--:--:--" : last.time),
                         qPrintable(last.power.isEmpty() ? "-" : last.power), session.log().written(),
                         linkUp ? "link up" : "link down");
    };
    int shownRecords = 0;
    QObject::connect(&session, &quelmar::MeterSession::measured,
                     [&](const quelmar::Measurement &, const quelmar::ReadoutTexts &t) {
                         last = t;
                         if (session.log().written() != shownRecords) {
                             shownRecords = session.log().written();
                             showStatus();
                         }
                     });
    QObject::connect(&session, &quelmar::MeterSession::linkChanged, [&](bool up) {
        linkUp = up;
        showStatus();
    });
    bool everOpen = false;
    QObject::connect(&session, &quelmar::MeterSession::polled, [&] { everOpen = everOpen || session.link().isUp(); });
    showStatus();

    // The meter is cleared once the address change has gone out.
    if (p.isSet(QStringLiteral("clear")))
        session.setPending(quelmar::Command::Clear);
    everOpen = session.begin(port);
    session.startPolling();

    QTimer stopAt;
    stopAt.setSingleShot(true);
    QObject::connect(&stopAt, &QTimer::timeout, [&] { QCoreApplication::exit(everOpen ? Done : NoPort); });
    if (duration > 0)
        stopAt.start(std::chrono::milliseconds(duration));

    const int code = app.exec();
    if (status)
        std::fputc('\n', stderr);
    return code;
}
