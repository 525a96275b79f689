// SPDX-License-Identifier: GPL-3.0-or-later
#include "statuslines.h"

#include <unistd.h>

namespace quelmar {

StatusLines::StatusLines(std::FILE *out)
    : m_out(out)
    , m_terminal(::isatty(fileno(out)))
{
}

void StatusLines::say(Topic topic, const QString &line)
{
    if (topic != Other && m_said[topic] == line)
        return;
    m_said[topic] = line;
    // On a terminal the line takes the status line's place, which follows.
    std::fprintf(m_out, "%squelmar-log: %s\n", m_terminal ? "\r\033[K" : "", qPrintable(line));
    if (m_terminal && !m_status.isEmpty())
        std::fprintf(m_out, "%s", qPrintable(m_status));
    std::fflush(m_out);
}

void StatusLines::show(const QString &status)
{
    if (!m_terminal || status == m_status)
        return;
    m_status = status;
    std::fprintf(m_out, "\r\033[K%s", qPrintable(m_status));
    std::fflush(m_out);
}

void StatusLines::end()
{
    if (m_terminal && !m_status.isEmpty())
        std::fputc('\n', m_out);
    m_status.clear();
}

} // namespace quelmar
