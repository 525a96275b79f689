// SPDX-License-Identifier: GPL-3.0-or-later
#include "logsink.h"

#include "core/measure/readouttext.h"
#include "core/logfile/logrecord.h"

namespace quelmar {

bool LogSink::start(const QString &path, int period, bool append, QString *why)
{
    m_on = writeLogHeader(path, append, why);
    m_path = path;
    m_period = period;
    m_countdown = 2 * m_period + 1;
    m_written = 0;
    return m_on;
}

bool LogSink::step(const ReadoutTexts &texts)
{
    bool wrote = false;
    if (m_on && m_countdown == 2 * m_period) {
        // A record that cannot be written whole waits for the next pass,
        // with the countdown held where it is.
        if (!appendLogRecord(m_path, logRecord(texts)))
            return false;
        wrote = true;
        ++m_written;
    }
    // The countdown runs on every pass, logging or not.
    if (--m_countdown == 0)
        m_countdown = 2 * m_period;
    return wrote;
}

} // namespace quelmar
