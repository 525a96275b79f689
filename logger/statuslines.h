// SPDX-License-Identifier: GPL-3.0-or-later
// What the logger tells on stderr: each change of state on a line of its
// own, whether stderr is a terminal, a pipe or the journal; and on a
// terminal a status line under those lines, rewritten in place.
#pragma once

#include <QString>

#include <cstdio>

namespace quelmar {

class StatusLines
{
public:
    // What a line is about; a topic's line is said once until it changes.
    enum Topic { Port, Meter, Log, Broker, Other, kTopics };

    explicit StatusLines(std::FILE *out);

    void say(Topic topic, const QString &line);
    // The status line, shown only on a terminal.
    void show(const QString &status);
    // Leaves the terminal's line for the shell.
    void end();

private:
    std::FILE *m_out;
    bool m_terminal;
    QString m_status;
    QString m_said[kTopics];
};

} // namespace quelmar
