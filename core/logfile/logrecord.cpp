// SPDX-License-Identifier: GPL-3.0-or-later
#include "logrecord.h"

#include "core/measure/readouttext.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace quelmar {

const char kLogHeader[] = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power";

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

bool writeLogHeader(const QString &path, bool append, QString *why)
{
    QFile file;
    const bool opened = !path.isEmpty() && openLog(file, path, append ? QIODevice::Append : QIODevice::Truncate);
    // Appending to a file that holds lines adds no second header.
    if (opened && ((append && file.size() > 0) || writeLine(file, kLogHeader)))
        return true;
    if (why) {
        *why = path.isEmpty() ? QStringLiteral("No file name selected!")
                              : QStringLiteral("Cannot %1 %2: %3")
                                    .arg(opened ? QStringLiteral("write") : QStringLiteral("create"), path,
                                         file.errorString());
    }
    return false;
}

bool appendLogRecord(const QString &path, const QByteArray &record)
{
    QFile file;
    if (!openLog(file, path, QIODevice::Append))
        return false;
    const qint64 before = file.size();
    if (writeLine(file, record))
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
