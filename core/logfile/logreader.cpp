// SPDX-License-Identifier: GPL-3.0-or-later
#include "logreader.h"

#include "core/logfile/logrecord.h"

#include <QDate>
#include <QIODevice>

#include <charconv>
#include <cmath>
#include <cstring>

namespace quelmar {

namespace {

// No record of ours comes near this; a longer line is not one.
constexpr qsizetype kLongestLine = 512;
// Read in large blocks: a year of logs is gigabytes.
constexpr qsizetype kBlock = 128 * 1024;

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

// A number within ±most: NaN fails every comparison.
bool parseNumber(QByteArrayView f, double most, double &value)
{
    const char *end = f.data() + f.size();
    const auto [ptr, ec] = std::from_chars(f.data(), end, value);
    return ec == std::errc() && ptr == end && value >= -most && value <= most;
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
// the instant, and the local date, time and offset as written.
bool parseClock(QByteArrayView f, LogRow &row)
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
    row.localDay = int(date.toJulianDay());
    row.localSeconds = h * 3600 + mi * 60 + s;
    row.offsetSeconds = (f[19] == '-' ? -1 : 1) * (oh * 3600 + om * 60);
    // The Julian day of 1970-01-01 is 2440588.
    row.clockMs = ((row.localDay - 2440588LL) * 86400 + row.localSeconds - row.offsetSeconds) * 1000;
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
    Reading &r = row.reading;
    if (!parseNumber(f[1], kMostMilliwattHours, r.energy) || !parseNumber(f[2], kMostWatts, r.power)
        || !parseNumber(f[3], kMostVolts, r.volts) || !parseNumber(f[4], kMostAmps, r.amps)
        || !parseNumber(f[5], 1, r.pf) || !parseNumber(f[7], kMostWatts, r.apparent))
        return false;
    if (f[6].compare("Lead", Qt::CaseInsensitive) == 0)
        r.lead = true;
    else if (f[6].compare("lag", Qt::CaseInsensitive) == 0)
        r.lead = false;
    else
        return false;
    if (clock && !parseClock(f[8], row))
        return false;
    r.meterTime = double(seconds);
    return true;
}

} // namespace

LogRows::LogRows(QIODevice &device)
    : m_device(device)
    , m_buffer(kBlock, Qt::Uninitialized)
{
    QByteArrayView line;
    bool tooLong = false;
    if (!nextLine(line, tooLong)) {
        m_empty = m_error.isEmpty();
        return;
    }
    // A spreadsheet that saved the file again may have put a byte order mark in front.
    if (line.startsWith("\xEF\xBB\xBF"))
        line = line.sliced(3);
    if (tooLong)
        return;
    m_clock = line == logHeader(true);
    if (m_clock || line == logHeader(false))
        m_status = LogContents::Loaded;
}

void LogRows::fill()
{
    // The unfinished line moves to the front; the rest of the block is read.
    std::memmove(m_buffer.data(), m_buffer.constData() + m_pos, size_t(m_end - m_pos));
    m_end -= m_pos;
    m_pos = 0;
    const qint64 got = m_device.read(m_buffer.data() + m_end, kBlock - m_end);
    if (got > 0) {
        m_end += got;
        return;
    }
    m_atEnd = true;
    if (got < 0)
        m_error = m_device.errorString();
}

// The next line without its line ends, a view into the buffer until the next
// call; false at the end. A line longer than kLongestLine is passed over to
// its end and given back empty with `tooLong` set.
bool LogRows::nextLine(QByteArrayView &line, bool &tooLong)
{
    for (;;) {
        const char *start = m_buffer.constData() + m_pos;
        const qsizetype have = m_end - m_pos;
        const char *end = have > 0 ? static_cast<const char *>(std::memchr(start, '\n', size_t(have))) : nullptr;
        if (end || (m_atEnd && (have > 0 || m_skipping))) {
            qsizetype n = end ? end - start : have;
            m_pos += end ? n + 1 : n;
            tooLong = m_skipping || n > kLongestLine;
            m_skipping = false;
            while (n > 0 && start[n - 1] == '\r')
                --n;
            line = tooLong ? QByteArrayView() : QByteArrayView(start, n);
            return true;
        }
        if (m_atEnd)
            return false;
        // Not even the start of a line this long is kept.
        if (have > kLongestLine) {
            m_skipping = true;
            m_pos = m_end;
        }
        fill();
    }
}

bool LogRows::next(LogRow &row)
{
    if (m_status != LogContents::Loaded)
        return false;
    QByteArrayView line;
    bool tooLong = false;
    while (nextLine(line, tooLong)) {
        if (line.isEmpty() && !tooLong)
            continue;
        row = LogRow();
        if (!tooLong && parseRecord(line, m_clock, row))
            return true;
        ++m_skipped;
    }
    return false;
}

} // namespace quelmar
