// SPDX-License-Identifier: GPL-3.0-or-later
#include "logsink.h"

#include "core/measure/readouttext.h"
#include "core/logfile/logrecord.h"

#include <QDateTime>

namespace quelmar {

QString logFileAt(const QString &path, LogOptions::Rotation rotation, qint64 ms)
{
    if (rotation == LogOptions::Rotation::None)
        return path;
    QDate d = QDateTime::fromMSecsSinceEpoch(ms).date();
    if (rotation == LogOptions::Rotation::Weekly)
        d = d.addDays(1 - d.dayOfWeek());
    else if (rotation == LogOptions::Rotation::Monthly)
        d = QDate(d.year(), d.month(), 1);
    const QString date = QString::asprintf("-%04d-%02d-%02d", d.year(), d.month(), d.day());
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    // A dot that starts the name (".csv") or sits in a folder's name is no suffix.
    if (dot > slash + 1)
        return path.left(dot) + date + path.mid(dot);
    return path + date;
}

bool LogSink::start(const QString &path, int period, bool append, QString *why, const LogOptions &options,
                    qint64 nowMs)
{
    m_path = path;
    m_options = options;
    m_file = logFileAt(m_path, m_options.rotation, nowMs);
    m_on = writeLogHeader(m_file, append, why, logHeader(options.clock));
    m_period = period;
    m_countdown = 2 * m_period + 1;
    m_written = 0;
    return m_on;
}

bool LogSink::step(const ReadoutTexts &texts, qint64 nowMs)
{
    bool wrote = false;
    if (m_on && m_countdown == 2 * m_period) {
        QByteArray record = logRecord(texts);
        if (m_options.clock)
            record += ',' + clockText(nowMs);
        // The first record of a rotation's new file brings the header.
        const QString file = logFileAt(m_path, m_options.rotation, nowMs);
        const bool header = m_options.reopen || file != m_file;
        // A record that cannot be written whole waits for the next pass,
        // with the countdown held where it is.
        if (!appendLogRecord(file, record, header ? logHeader(m_options.clock) : QByteArray()))
            return false;
        m_file = file;
        wrote = true;
        ++m_written;
    }
    // The countdown runs on every pass, logging or not.
    if (--m_countdown == 0)
        m_countdown = 2 * m_period;
    return wrote;
}

} // namespace quelmar
