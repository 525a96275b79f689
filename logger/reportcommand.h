// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-log --report: the report over the logs given, printed.
#pragma once

namespace quelmar {

struct LoggerOptions;

// Prints the report of `o.files` on standard output and its notes on
// standard error; returns the exit code: ExitNoFile when a file, or rows of
// one, could not be used, else ExitDone.
int runReport(const LoggerOptions &o);

} // namespace quelmar
