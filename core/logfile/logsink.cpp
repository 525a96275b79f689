// SPDX-License-Identifier: GPL-3.0-or-later
#include "logsink.h"

#include "core/measure/record.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

namespace quelmar {

namespace {

QString lockName(const QString &path)
{
    return path + QStringLiteral(".lock");
}

// Holds `path` against every other writer of it. Empty when it holds, or
// when there is nothing to hold; else why another writer has it.
QString lockLog(const QString &path, std::unique_ptr<QLockFile> &lock)
{
    // Standard output, a device or a FIFO is no file two writers could
    // interleave records in.
    const QFileInfo info(path);
    if (path == QLatin1String("-") || (info.exists() && !info.isFile()))
        return {};
    auto held = std::make_unique<QLockFile>(lockName(path));
    // However long a logger has held its log, the lock is stale only when
    // its process is gone.
    held->setStaleLockTime(0);
    if (held->tryLock(0)) {
        lock = std::move(held);
        return {};
    }
    if (held->error() != QLockFile::LockFailedError) {
        // No lock can be made beside it (a folder the user may not write
        // in): the log itself says soon enough whether it can be written.
        return {};
    }
    qint64 pid = 0;
    QString host, program;
    held->getLockInfo(&pid, &host, &program);
    // A log on a shared folder may be held from another computer.
    const bool here = host.isEmpty() || host == QSysInfo::machineHostName();
    return QStringLiteral("%1 is being written by %2 (process %3%4).")
        .arg(path, program.isEmpty() ? QStringLiteral("another program") : program)
        .arg(pid)
        .arg(here ? QString() : QStringLiteral(" on ") + host);
}

// Whether a record could go into `file` later, without making it now.
bool canWrite(const QString &file, QString *why)
{
    QString reason;
    if (QFileInfo::exists(file)) {
        QFile f(file);
        if (f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
            return true;
        reason = f.errorString();
    } else {
        const QFileInfo folder(QFileInfo(file).absolutePath());
        if (folder.isDir() && folder.isWritable())
            return true;
        reason = folder.isDir() ? QStringLiteral("Permission denied") : QStringLiteral("No such file or directory");
    }
    if (why)
        *why = QStringLiteral("Cannot create %1: %2").arg(file, reason);
    return false;
}

} // namespace

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

LogSink::LogSink() = default;
LogSink::~LogSink() = default;

bool LogSink::start(const QString &path, bool append, QString *why, const LogOptions &options, qint64 nowMs)
{
    stop();
    m_path = path;
    m_options = options;
    m_file = logFileAt(m_path, m_options.rotation, nowMs);
    m_written = m_missed = m_failing = 0;
    m_lastWhy.clear();
    const QString held = path.isEmpty() ? QString() : lockLog(m_path, m_lock);
    if (!held.isEmpty()) {
        if (why)
            *why = held;
        return false;
    }
    m_on = m_options.rotation == LogOptions::Rotation::None
               ? writeLogHeader(m_file, append, why, logHeader(options.clock))
               : canWrite(m_file, why);
    if (!m_on)
        release();
    return m_on;
}

void LogSink::stop()
{
    m_on = false;
    release();
}

void LogSink::release()
{
    // Qt warns on stderr when a lock's file is gone at unlock; give it one
    // to remove.
    if (m_lock && !QFileInfo::exists(lockName(m_path)))
        QFile(lockName(m_path)).open(QIODevice::WriteOnly);
    m_lock.reset();
}

void LogSink::holdAgain()
{
    if (!m_lock || QFileInfo::exists(lockName(m_path)))
        return;
    release();
    lockLog(m_path, m_lock);
}

LogStep LogSink::write(const Record &r)
{
    LogStep step;
    if (!m_on)
        return step;
    const QString file = logFileAt(m_path, m_options.rotation, r.atMs);
    // The first record of a rotation's file brings the header.
    const bool header = m_options.reopen || m_options.rotation != LogOptions::Rotation::None || file != m_file;
    const LogWrite w = appendLogRecord(file, logRecord(r, m_options.clock), header ? logHeader(m_options.clock) : QByteArray());
    m_file = file;
    if (w.written) {
        ++m_written;
        step.written = true;
        step.newFile = w.header;
        if (w.header)
            holdAgain();
        step.resumedAfter = m_failing;
        m_failing = 0;
        m_lastWhy.clear();
        return step;
    }
    ++m_missed;
    ++m_failing;
    step.why = QStringLiteral("Cannot write %1: %2").arg(file == QLatin1String("-") ? QStringLiteral("standard output") : file, w.why);
    step.firstFailure = step.why != m_lastWhy;
    m_lastWhy = step.why;
    return step;
}

} // namespace quelmar
