// SPDX-License-Identifier: GPL-3.0-or-later
#include "logrecord.h"

#include "core/measure/readouttext.h"

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

QByteArray logRecord(const ReadoutTexts &t)
{
    QByteArray line;
    line.reserve(96);
    const QString fields[] = {t.time, t.energyBase, t.power, t.volts, t.current, t.powerFactor};
    for (const QString &f : fields) {
        line += f.toLatin1();
        line += ',';
    }
    line += t.lead ? "Lead," : "lag,";
    line += t.apparent.toLatin1();
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
    return file.write(whole) == whole.size();
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
        *why = path.isEmpty() ? QStringLiteral("No file name selected!")
                              : QStringLiteral("Cannot %1 %2: %3")
                                    .arg(opened ? QStringLiteral("write") : QStringLiteral("create"), path,
                                         file.errorString());
    }
    return false;
}

bool appendLogRecord(const QString &path, const QByteArray &record, const QByteArray &header)
{
    QFile file;
    if (!openLog(file, path, QIODevice::Append))
        return false;
    const qint64 before = file.size();
    // A log moved away, deleted or emptied under us starts again readable.
    // Standard output and pipes have no size to go by.
    const bool fresh = !header.isEmpty() && before == 0 && !file.isSequential() && path != QLatin1String("-");
    if (writeLine(file, fresh ? header + '\n' + record : record))
        return true;
    // Never leave half a line behind: the next pass retries the record.
    file.resize(before);
    return false;
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
    // The header, with either platform's line end, is no reading.
    if (lines > 0 && file.seek(0) && file.readLine(sizeof kLogHeader + 2).trimmed() == kLogHeader)
        --lines;
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
