// SPDX-License-Identifier: GPL-3.0-or-later
#include "logreader.h"

#include "core/logfile/logrecord.h"

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

// Each field is read from `p` up to the comma after it, which it steps
// over, or up to `end` for the last; false when the field is not what it
// should be.

// "h:mm:ss" as the log writes it: hours of one to nine digits, minutes and
// seconds of two, below 60.
bool readTime(const char *&p, const char *end, double &seconds)
{
    qint64 h = 0;
    int n = 0;
    for (; p < end && *p >= '0' && *p <= '9' && n < 10; ++p, ++n)
        h = h * 10 + (*p - '0');
    if (n < 1 || n > 9 || end - p < 7 || p[0] != ':' || p[3] != ':' || p[6] != ',')
        return false;
    const auto sixty = [](const char *q) { return q[0] >= '0' && q[0] <= '5' && q[1] >= '0' && q[1] <= '9'; };
    if (!sixty(p + 1) || !sixty(p + 4))
        return false;
    seconds = double(h * 3600 + ((p[1] - '0') * 10 + p[2] - '0') * 60 + (p[4] - '0') * 10 + p[5] - '0');
    p += 7;
    return true;
}

constexpr double kTens[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A number within ±most: NaN fails every comparison.
bool readNumber(const char *&p, const char *end, bool last, double most, double &value)
{
    // The log's own form, "-123.456", at most 15 digits: whole digits over a
    // power of ten, both exact, so the division rounds as from_chars does.
    const char *start = p, *q = p;
    const bool minus = q < end && *q == '-';
    q += minus;
    qint64 digits = 0;
    int count = 0, decimals = -1;
    for (; q < end && count <= 15; ++q) {
        if (*q >= '0' && *q <= '9') {
            digits = digits * 10 + (*q - '0');
            ++count;
            decimals += decimals >= 0;
        } else if (*q == '.' && decimals < 0) {
            decimals = 0;
        } else {
            break;
        }
    }
    if ((q == end || *q == ',') && count > 0 && count <= 15 && decimals != 0) {
        value = double(digits) / kTens[std::max(decimals, 0)];
        value = minus ? -value : value;
    } else {
        // Anything else a spreadsheet may have written: "1.5e3", "5.".
        q = static_cast<const char *>(std::memchr(start, ',', size_t(end - start)));
        q = q ? q : end;
        const auto [ptr, ec] = std::from_chars(start, q, value);
        if (ec != std::errc() || ptr != q)
            return false;
    }
    if (last ? q != end : q == end)
        return false;
    p = q + !last;
    return value >= -most && value <= most;
}

// "lag" or "Lead", in any case.
bool readLead(const char *&p, const char *end, bool &lead)
{
    if (end - p >= 4 && std::memcmp(p, "lag,", 4) == 0) {
        lead = false;
        p += 4;
        return true;
    }
    const char *comma = static_cast<const char *>(std::memchr(p, ',', size_t(end - p)));
    if (!comma)
        return false;
    const QByteArrayView f(p, comma - p);
    lead = f.compare("Lead", Qt::CaseInsensitive) == 0;
    p = comma + 1;
    return lead || f.compare("lag", Qt::CaseInsensitive) == 0;
}

// A number of exactly `n` digits.
bool digits(const char *f, int n, int &value)
{
    value = 0;
    for (int i = 0; i < n; ++i) {
        if (f[i] < '0' || f[i] > '9')
            return false;
        value = value * 10 + (f[i] - '0');
    }
    return true;
}

// The Julian day of a date of the Gregorian calendar, 0 when there is no
// such date (QDate knows no year 0 either). Without QDate: it runs for every
// row of a year of logs.
int julianDay(int y, int m, int d)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
    if (y < 1 || m < 1 || m > 12 || d < 1 || d > days[m - 1] + (m == 2 && leap))
        return 0;
    // Days from 1 March of year 0, so that the leap day ends a year.
    y -= m <= 2;
    const int doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    return y * 365 + y / 4 - y / 100 + y / 400 + doy + 1721120;
}

// The clock column as clockText() writes it, "2026-03-29T03:00:00+02:00",
// the last field: the instant, and the local date, time and offset as
// written.
bool readClock(const char *p, const char *end, LogRow &row)
{
    int y, mo, d, h, mi, s, oh, om;
    if (end - p != 25 || p[4] != '-' || p[7] != '-' || p[10] != 'T' || p[13] != ':' || p[16] != ':'
        || (p[19] != '+' && p[19] != '-') || p[22] != ':' || !digits(p, 4, y) || !digits(p + 5, 2, mo)
        || !digits(p + 8, 2, d) || !digits(p + 11, 2, h) || !digits(p + 14, 2, mi) || !digits(p + 17, 2, s)
        || !digits(p + 20, 2, oh) || !digits(p + 23, 2, om) || h > 23 || mi > 59 || s > 59 || oh > 23 || om > 59)
        return false;
    row.localDay = julianDay(y, mo, d);
    if (row.localDay == 0)
        return false;
    row.localSeconds = h * 3600 + mi * 60 + s;
    row.offsetSeconds = (p[19] == '-' ? -1 : 1) * (oh * 3600 + om * 60);
    // The Julian day of 1970-01-01 is 2440588.
    row.clockMs = ((row.localDay - 2440588LL) * 86400 + row.localSeconds - row.offsetSeconds) * 1000;
    return true;
}

// Time, energy, power, voltage, current, factor, lead or lag, apparent
// power, and with `clock` the clock column: nothing more, nothing less.
bool parseRecord(QByteArrayView line, bool clock, LogRow &row)
{
    const char *p = line.data(), *end = p + line.size();
    Reading &r = row.reading;
    if (!readTime(p, end, r.meterTime) || !readNumber(p, end, false, kMostMilliwattHours, r.energy)
        || !readNumber(p, end, false, kMostWatts, r.power) || !readNumber(p, end, false, kMostVolts, r.volts)
        || !readNumber(p, end, false, kMostAmps, r.amps) || !readNumber(p, end, false, 1, r.pf)
        || !readLead(p, end, r.lead) || !readNumber(p, end, !clock, kMostWatts, r.apparent))
        return false;
    if (!clock) {
        row.clockMs = 0;
        row.localDay = row.localSeconds = row.offsetSeconds = 0;
        return true;
    }
    return readClock(p, end, row);
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
        if (!tooLong && parseRecord(line, m_clock, row))
            return true;
        ++m_skipped;
    }
    return false;
}

} // namespace quelmar
