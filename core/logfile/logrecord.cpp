// SPDX-License-Identifier: GPL-3.0-or-later
#include "logrecord.h"

#include "core/measure/readouttext.h"
#include "core/measure/record.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdlib>
#include <cstdio>

namespace quelmar {

const char kLogHeader[] = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power";
QByteArray logHeader(bool clock)
{
    return clock ? QByteArray(kLogHeader) + ",Local Time" : QByteArray(kLogHeader);
}

QByteArray elapsedColumn(const Record &r)
{
    return elapsedText(r.seconds).toLatin1();
}

QByteArray numberColumn(double value, int decimals)
{
    return numberText(value, decimals).toLatin1();
}

QByteArray logRecord(const Record &r, bool clock)
{
    QByteArray line;
    line.reserve(128);
    line += elapsedColumn(r);
    const std::pair<double, int> numbers[] = {{r.milliwattHours, kEnergyDecimals}, {r.watts, kPowerDecimals},
                                              {r.volts, kVoltDecimals},            {r.amps, kCurrentDecimals},
                                              {r.powerFactor, kPowerFactorDecimals}};
    for (const auto &[value, decimals] : numbers) {
        line += ',';
        line += numberColumn(value, decimals);
    }
    line += r.lead ? ",Lead," : ",lag,";
    line += numberColumn(r.voltAmperes, kPowerDecimals);
    if (clock)
        line += ',' + clockText(r.atMs);
    return line;
}

QByteArray clockText(qint64 ms)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    const QDate d = t.date();
    const QTime h = t.time();
    const int offset = t.offsetFromUtc() / 60;
    const int away = std::abs(offset);
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", d.year(), d.month(), d.day(), h.hour(),
                             h.minute(), h.second(), offset < 0 ? '-' : '+', away / 60, away % 60)
        .toLatin1();
}

namespace {

// Writes `line` and a line end in one go through an unbuffered, text-mode
// file, so a short write is seen here and not later at close.
bool writeLine(QFile &file, const QByteArray &line)
{
    QByteArray whole = line;
    whole += '\n';
    qint64 done = file.write(whole);
    // The system takes what fits and fails only the rest: write the rest,
    // for the reason.
    if (done > 0 && done < whole.size()) {
        const qint64 more = file.write(whole.constData() + done, whole.size() - done);
        done += more > 0 ? more : 0;
    }
    return done == whole.size();
}

// The system's reason for a failed open or write; a short write that the
// system took without complaint has no reason of its own.
QString failureOf(const QFile &file)
{
    return file.error() == QFileDevice::NoError ? QStringLiteral("only part of the record was written") : file.errorString();
}

// Opens the log for one write, unbuffered so that a short write is seen
// here; "-" is standard output.
bool openLog(QFile &file, const QString &path, QIODevice::OpenMode mode)
{
    mode |= QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered;
    // Straight to the descriptor: a stdio buffer would hold records back.
    if (path == QLatin1String("-"))
        return file.open(fileno(stdout), mode & ~(QIODevice::Truncate | QIODevice::Append), QFileDevice::DontCloseHandle);
    file.setFileName(path);
    // A device or a FIFO has no end to append at (Qt would warn of a seek),
    // and nothing to truncate either.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        mode &= ~QIODevice::Append;
    return file.open(mode);
}

} // namespace

bool writeLogHeader(const QString &path, bool append, QString *why, const QByteArray &header)
{
    QFile file;
    const bool opened = !path.isEmpty() && openLog(file, path, append ? QIODevice::Append : QIODevice::Truncate);
    // Appending to a file that holds lines adds no second header.
    if (opened && ((append && file.size() > 0) || writeLine(file, header)))
        return true;
    if (why) {
        const QString name = path == QLatin1String("-") ? QStringLiteral("standard output") : path;
        *why = path.isEmpty() ? QStringLiteral("No file name selected!")
                              : QStringLiteral("Cannot %1 %2: %3")
                                    .arg(opened ? QStringLiteral("write") : QStringLiteral("create"), name,
                                         failureOf(file));
    }
    return false;
}

LogWrite appendLogRecord(const QString &path, const QByteArray &record, const QByteArray &header)
{
    LogWrite result;
    QFile file;
    if (!openLog(file, path, QIODevice::Append)) {
        result.why = failureOf(file);
        return result;
    }
    const qint64 before = file.size();
    // A log moved away, deleted or emptied under us starts again readable.
    // Standard output and pipes have no size to go by.
    result.header = !header.isEmpty() && before == 0 && !file.isSequential() && path != QLatin1String("-");
    result.written = writeLine(file, result.header ? header + '\n' + record : record);
    if (!result.written) {
        result.why = failureOf(file);
        result.header = false;
        // Never leave half a line behind.
        file.resize(before);
    }
    return result;
}

qint64 countLogRecords(const QString &path)
{
    // Only a regular file holds readings: reading a device such as /dev/zero
    // would never end, and opening a FIFO would wait for a writer.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return 0;
    // In blocks, not lines: a file of any size or content costs one buffer.
    qint64 lines = 0;
    char last = '\n';
    char block[16384];
    for (qint64 n; (n = file.read(block, sizeof block)) > 0;) {
        lines += std::count(block, block + n, '\n');
        last = block[n - 1];
    }
    if (last != '\n')
        ++lines;
    // The header, with or without the clock column and with either
    // platform's line end, is no reading.
    const QByteArray clockHeader = logHeader(true);
    if (lines > 0 && file.seek(0)) {
        const QByteArray first = file.readLine(clockHeader.size() + 3).trimmed();
        if (first == kLogHeader || first == clockHeader)
            --lines;
    }
    return lines;
}

QString withLogSuffix(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    // "name." has an empty suffix too; it gets "csv", not ".csv".
    return path + (path.endsWith(QLatin1Char('.')) ? QStringLiteral("csv") : QStringLiteral(".csv"));
}

} // namespace quelmar
