// SPDX-License-Identifier: GPL-3.0-or-later
// A data log being written: its file, its lock, and what became of each
// record handed to it. The meter session decides when a record is due; the
// window's Data Logging tab and the command-line logger each hand the
// session's records to a sink of their own.
#pragma once

#include "core/logfile/logrecord.h"

#include <QString>

#include <memory>

class QLockFile;

namespace quelmar {

struct Record;

// What the command-line logger adds to the window's log; all off there.
struct LogOptions {
    enum class Rotation { None, Daily, Weekly, Monthly };
    // A file per local day, week (from Monday) or month, named after the day
    // it starts: "fridge.csv" is written as "fridge-2026-03-30.csv". A file
    // is made only when a record goes into it.
    Rotation rotation = Rotation::None;
    // A ninth column with the local date and time of the record.
    bool clock = false;
    // A file that is gone or empty when a record falls due (moved away,
    // deleted, emptied by logrotate) gets the header again first. The
    // first record of a rotation's new file always brings it.
    bool reopen = false;
};

// One record handed to the sink, and what the user should hear of it.
struct LogStep {
    bool written = false;
    bool newFile = false;      // the record started a file: a rotation's next, or one moved away
    QString why;               // not written: why, naming the file
    bool firstFailure = false; // not written, after a write that worked or for another reason
    qint64 resumedAfter = 0;   // written, after this many records could not be
};

class LogSink
{
public:
    LogSink();
    ~LogSink();

    // Starts a log in `path` ("-" for standard output) and holds it against
    // every other writer (FILE.lock beside it; a lock whose process is gone
    // is taken over). Without `append` the file is created or truncated and
    // gets the header; with it, what the file holds stays and only an empty
    // file gets the header. With a rotation nothing is written until the
    // first record, which goes to the file of its own date. False, and
    // off, when the log cannot be started; then `why` says why, in words
    // for the user.
    bool start(const QString &path, bool append = false, QString *why = nullptr, const LogOptions &options = {},
               qint64 nowMs = 0);
    // Ends the log and lets other writers have it.
    void stop();
    bool isOn() const { return m_on; }

    // Writes `r` to the file of its date. A record that cannot be written
    // is missed, counted, and not tried again: the next record is written
    // as soon as writing works.
    LogStep write(const Record &r);

    // Since start().
    qint64 written() const { return m_written; }
    qint64 missed() const { return m_missed; }
    // The file the last record went to or was meant for; start()'s before
    // the first.
    QString file() const { return m_file; }

private:
    // Takes the lock again when its file went (with its folder, say).
    void holdAgain();
    void release();

    QString m_path;
    QString m_file;
    LogOptions m_options;
    std::unique_ptr<QLockFile> m_lock;
    qint64 m_written = 0;
    qint64 m_missed = 0;
    qint64 m_failing = 0; // missed since the last record written
    QString m_lastWhy;
    bool m_on = false;
};

// The file of a log started as `path` that a record taken at `ms` (since the
// epoch) goes to: with a rotation, `path` with the local date its day, week
// or month starts on as "-yyyy-MM-dd" before its suffix, or at its end
// without one.
QString logFileAt(const QString &path, LogOptions::Rotation rotation, qint64 ms);

} // namespace quelmar
