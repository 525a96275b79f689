// SPDX-License-Identifier: GPL-3.0-or-later
// The data log's state and its step: the file, the period, the countdown of
// readout passes to the next record, on or off. The window's Data Logging
// tab and the command-line logger both run it once per readout pass.
#pragma once

#include <QString>

namespace quelmar {

struct ReadoutTexts;

class LogSink
{
public:
    // Starts a log in `path` ("-" for standard output) with a record every
    // `period` seconds of readout passes, the first on the second pass.
    // Without `append` the file is created or truncated and gets the header;
    // with it, what the file holds stays and only an empty file gets the
    // header. False, and off, when the header cannot be written; then `why`
    // says why, in words for the user.
    bool start(const QString &path, int period, bool append = false, QString *why = nullptr);
    void stop() { m_on = false; }
    // Records written since start().
    int written() const { return m_written; }

    // One readout pass. True when it wrote a record.
    bool step(const ReadoutTexts &texts);

private:
    QString m_path;
    int m_period = 1;
    int m_countdown = 0; // passes down to the next record
    int m_written = 0;
    bool m_on = false;
};

} // namespace quelmar
