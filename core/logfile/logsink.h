// SPDX-License-Identifier: GPL-3.0-or-later
// The data log's state and its step: the file, the period, the countdown of
// readout passes to the next record, on or off. The window's Data Logging
// tab and the command-line logger both run it once per readout pass.
#pragma once

#include <QString>

namespace quelmar {

struct ReadoutTexts;

// What the command-line logger adds to the window's log; all off there.
struct LogOptions {
    enum class Rotation { None, Daily, Weekly, Monthly };
    // A file per local day, week (from Monday) or month, named after the day
    // it starts: "fridge.csv" is written as "fridge-2026-03-30.csv".
    Rotation rotation = Rotation::None;
    // A ninth column with the local date and time of the record.
    bool clock = false;
    // A file that is gone or empty when a record falls due (moved away,
    // deleted, emptied by logrotate) gets the header again first. The
    // first record of a rotation's new file always brings it.
    bool reopen = false;
};

class LogSink
{
public:
    // Starts a log in `path` ("-" for standard output) with a record every
    // `period` seconds of readout passes, the first on the second pass.
    // Without `append` the file is created or truncated and gets the header;
    // with it, what the file holds stays and only an empty file gets the
    // header. With a rotation the file is the one of `nowMs` (ms since the
    // epoch). False, and off, when the header cannot be written; then `why`
    // says why, in words for the user.
    bool start(const QString &path, int period, bool append = false, QString *why = nullptr,
               const LogOptions &options = {}, qint64 nowMs = 0);
    void stop() { m_on = false; }
    // Records written since start().
    int written() const { return m_written; }

    // One readout pass at `nowMs`. True when it wrote a record.
    bool step(const ReadoutTexts &texts, qint64 nowMs);

private:
    QString m_path;
    QString m_file;  // the file of the last record, or of start()
    LogOptions m_options;
    int m_period = 1;
    int m_countdown = 0; // passes down to the next record
    int m_written = 0;
    bool m_on = false;
};

// The file of a log started as `path` that a record taken at `ms` (since the
// epoch) goes to: with a rotation, `path` with the local date its day, week
// or month starts on as "-yyyy-MM-dd" before its suffix, or at its end
// without one.
QString logFileAt(const QString &path, LogOptions::Rotation rotation, qint64 ms);

} // namespace quelmar
