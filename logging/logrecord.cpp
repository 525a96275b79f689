#include "logrecord.h"

#include "display/readouttext.h"

#include <QFile>

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

bool writeLogHeader(const QString &path)
{
    QFile file;
    return openLog(file, path, QIODevice::Truncate) && writeLine(file, kLogHeader);
}

bool appendLogHeader(const QString &path)
{
    QFile file;
    return openLog(file, path, QIODevice::Append) && (file.size() > 0 || writeLine(file, kLogHeader));
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

int countLogRecords(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    int lines = 0;
    bool header = false;
    for (QByteArray line; !(line = file.readLine()).isEmpty();) {
        const QByteArray text = line.trimmed();
        if (lines == 0 && !header && text == kLogHeader)
            header = true;
        else if (!text.isEmpty())
            ++lines;
    }
    return lines;
}

} // namespace quelmar
