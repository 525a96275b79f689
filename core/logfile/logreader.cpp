// SPDX-License-Identifier: GPL-3.0-or-later
#include "logreader.h"

#include "core/logfile/logrecord.h"

#include <QByteArrayView>
#include <QDate>
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

// A number of exactly `n` digits.
bool digits(QByteArrayView f, qsizetype at, int n, int &value)
{
    value = 0;
    for (qsizetype i = at; i < at + n; ++i) {
        if (f[i] < '0' || f[i] > '9')
            return false;
        value = value * 10 + (f[i] - '0');
    }
    return true;
}

// The clock column as clockText() writes it, "2026-03-29T03:00:00+02:00":
// the instant, and the local date as written.
bool parseClock(QByteArrayView f, qint64 &ms, int &localDay)
{
    int y, mo, d, h, mi, s, oh, om;
    if (f.size() != 25 || f[4] != '-' || f[7] != '-' || f[10] != 'T' || f[13] != ':' || f[16] != ':'
        || (f[19] != '+' && f[19] != '-') || f[22] != ':' || !digits(f, 0, 4, y) || !digits(f, 5, 2, mo)
        || !digits(f, 8, 2, d) || !digits(f, 11, 2, h) || !digits(f, 14, 2, mi) || !digits(f, 17, 2, s)
        || !digits(f, 20, 2, oh) || !digits(f, 23, 2, om) || h > 23 || mi > 59 || s > 59 || oh > 23 || om > 59)
        return false;
    const QDate date(y, mo, d);
    if (!date.isValid())
        return false;
    localDay = int(date.toJulianDay());
    const qint64 offset = (f[19] == '-' ? -1 : 1) * (oh * 3600 + om * 60);
    // The Julian day of 1970-01-01 is 2440588.
    ms = ((localDay - 2440588LL) * 86400 + h * 3600 + mi * 60 + s - offset) * 1000;
    return true;
}

bool parseRecord(QByteArrayView line, bool clock, LogRow &row)
{
    const int columns = clock ? 9 : 8;
    QByteArrayView f[9];
    int n = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != ',')
            continue;
        if (n == columns)
            return false;
        f[n++] = line.sliced(start, i - start);
        start = i + 1;
    }
    qint64 seconds = 0;
    if (n != columns || !parseTime(f[0], seconds))
        return false;
    double v[6];
    for (int k = 0; k < 6; ++k) {
        const int field = k < 5 ? k + 1 : 7;  // the lead flag sits before apparent power
        if (!parseNumber(f[field], v[k]))
            return false;
    }
    Reading &r = row.reading;
    if (f[6].compare("Lead", Qt::CaseInsensitive) == 0)
        r.lead = true;
    else if (f[6].compare("lag", Qt::CaseInsensitive) == 0)
        r.lead = false;
    else
        return false;
    if (clock && !parseClock(f[8], row.clockMs, row.localDay))
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

LogRows::LogRows(QIODevice &device)
    : m_device(device)
{
    bool tooLong = false;
    if (!nextLine(m_device, m_line, tooLong))
        m_line.clear();
    // A spreadsheet that saved the file again may have put a byte order mark in front.
    if (m_line.startsWith("\xEF\xBB\xBF"))
        m_line.remove(0, 3);
    if (tooLong)
        return;
    m_clock = m_line == logHeader(true);
    if (m_clock || m_line == kLogHeader)
        m_status = LogContents::Loaded;
}

bool LogRows::next(LogRow &row)
{
    if (m_status != LogContents::Loaded)
        return false;
    bool tooLong = false;
    while (nextLine(m_device, m_line, tooLong)) {
        if (m_line.isEmpty() && !tooLong)
            continue;
        row = LogRow();
        if (!tooLong && parseRecord(m_line, m_clock, row))
            return true;
        ++m_skipped;
    }
    return false;
}

LogContents readLog(QIODevice &file)
{
    LogContents log;
    LogRows rows(file);
    log.status = rows.status();
    log.clock = rows.hasClock();
    double lastSeconds = -1;
    qint64 base = 0;  // ms added to the time column after it started again
    LogRow row;
    while (rows.next(row)) {
        Reading &r = row.reading;
        if (r.meterTime < lastSeconds) {
            base = log.readings.timeAt(log.readings.size() - 1);
            r.afterClear = true;
        }
        lastSeconds = r.meterTime;
        r.timeMs = log.clock ? row.clockMs : base + qint64(r.meterTime) * 1000;
        log.readings.add(r);
    }
    log.skipped = rows.skipped();
    return log;
}

} // namespace quelmar
