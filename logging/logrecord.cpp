#include "logrecord.h"

#include "display/readouttext.h"

#include <QFile>

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

} // namespace

bool writeLogHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text | QIODevice::Unbuffered))
        return false;
    return writeLine(file, kLogHeader);
}

bool appendLogRecord(const QString &path, const QByteArray &record)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered))
        return false;
    const qint64 before = file.size();
    if (writeLine(file, record))
        return true;
    // Never leave half a line behind: the next pass retries the record.
    file.resize(before);
    return false;
}

} // namespace quelmar
