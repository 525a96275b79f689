// SPDX-License-Identifier: GPL-3.0-or-later
#include "logreader.h"

#include "core/logfile/logrecord.h"

#include <QByteArrayView>
#include <QFile>

#include <charconv>
#include <cmath>

namespace quelmar {

namespace {

// No record of ours comes near this; a longer line is not one.
constexpr qint64 kLongestLine = 512;

// Reads the next line without its line end into `line`; false at the end
// of the file. A line longer than kLongestLine is read to its end and given
// back empty with `tooLong` set.
bool nextLine(QIODevice &file, QByteArray &line, bool &tooLong)
{
    tooLong = false;
    if (file.atEnd())
        return false;
    line = file.readLine(kLongestLine);
    if (!line.endsWith('\n') && !file.atEnd()) {
        tooLong = true;
        while (!file.atEnd() && !file.readLine(kLongestLine).endsWith('\n')) {
        }
        line.clear();
        return true;
    }
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return true;
}

bool twoDigits(QByteArrayView f, int &value)
{
    if (f.size() != 2 || f[0] < '0' || f[0] > '5' || f[1] < '0' || f[1] > '9')
        return false;
    value = (f[0] - '0') * 10 + (f[1] - '0');
    return true;
}

// "h:mm:ss" as the log writes it: hours of at least one digit, minutes and
// seconds of two, below 60.
bool parseTime(QByteArrayView f, qint64 &seconds)
{
    const qsizetype c1 = f.indexOf(':');
    if (c1 < 1 || c1 > 9 || f.size() != c1 + 6 || f[c1 + 3] != ':')
        return false;
    qint64 h = 0;
    for (qsizetype i = 0; i < c1; ++i) {
        if (f[i] < '0' || f[i] > '9')
            return false;
        h = h * 10 + (f[i] - '0');
    }
    int m = 0, s = 0;
    if (!twoDigits(f.sliced(c1 + 1, 2), m) || !twoDigits(f.sliced(c1 + 4, 2), s))
        return false;
    seconds = h * 3600 + m * 60 + s;
    return true;
}

bool parseNumber(QByteArrayView f, double &value)
{
    const char *end = f.data() + f.size();
    const auto [ptr, ec] = std::from_chars(f.data(), end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value);
}

bool parseRecord(QByteArrayView line, qint64 &seconds, Reading &r)
{
    QByteArrayView f[8];
    int n = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != ',')
            continue;
        if (n == 8)
            return false;
        f[n++] = line.sliced(start, i - start);
        start = i + 1;
    }
    if (n != 8 || !parseTime(f[0], seconds))
        return false;
    double v[6];
    for (int k = 0; k < 6; ++k) {
        const int field = k < 5 ? k + 1 : 7;  // the lead flag sits before apparent power
        if (!parseNumber(f[field], v[k]))
            return false;
    }
    if (f[6].compare("Lead", Qt::CaseInsensitive) == 0)
        r.lead = true;
    else if (f[6].compare("lag", Qt::CaseInsensitive) != 0)
        return false;
    r.meterTime = double(seconds);
    r.energy = v[0];
    r.power = v[1];
    r.volts = v[2];
    r.amps = v[3];
    r.pf = v[4];
    r.apparent = v[5];
    return true;
}

} // namespace

LogContents readLog(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return LogContents();
    return readLog(file);
}

LogContents readLog(QIODevice &file)
{
    LogContents log;
    QByteArray line;
    bool tooLong = false;
    if (!nextLine(file, line, tooLong))
        line.clear();
    // A spreadsheet that saved the file again may have put a byte order mark in front.
    if (line.startsWith("\xEF\xBB\xBF"))
        line.remove(0, 3);
    if (tooLong || line != kLogHeader) {
        log.status = LogContents::NotALog;
        return log;
    }
    log.status = LogContents::Loaded;

    qint64 lastSeconds = -1;
    qint64 base = 0;  // ms added to the time column after it started again
    while (nextLine(file, line, tooLong)) {
        if (line.isEmpty() && !tooLong)
            continue;
        qint64 seconds = 0;
        Reading r;
        if (tooLong || !parseRecord(line, seconds, r)) {
            ++log.skipped;
            continue;
        }
        if (seconds < lastSeconds) {
            base = log.readings.timeAt(log.readings.size() - 1);
            r.afterClear = true;
        }
        lastSeconds = seconds;
        r.timeMs = base + seconds * 1000;
        log.readings.add(r);
    }
    return log;
}

} // namespace quelmar
