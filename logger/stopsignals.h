// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM for the logger. Until the logging loop runs they end
// the program at once, with a word on stderr: reading reports and opening a
// log (a FIFO's open waits for a reader) stop promptly. While the loop runs
// they end it after the record in progress, except while a write of the log
// is blocked, which nothing else would end.
#pragma once

namespace quelmar::stopsignals {

// The first thing main() does. Also makes a write to a closed pipe fail
// instead of killing the logger.
void install();

// From now on a signal is a byte on the returned descriptor (the signal's
// number), read by the loop; -1, with errno, when no pipe could be made.
int deferToLoop();

// Around a write that may block: a signal meanwhile ends the program at
// once, saying that a record was not written.
class BlockingWrite
{
public:
    BlockingWrite();
    ~BlockingWrite();
    BlockingWrite(const BlockingWrite &) = delete;
    BlockingWrite &operator=(const BlockingWrite &) = delete;

private:
    int m_before;
};

} // namespace quelmar::stopsignals
