// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own command-line options. They are read before the
// application object exists, so --help and --version need no display.
#pragma once

#include <QString>

namespace quelmar {

struct CommandLine {
    enum Action { Run, Help, Version, Error };
    Action action = Run;
    QString port;   // --port NAME; empty: the remembered port
    QString error;  // what was wrong, for Error
};

// Takes our options out of argv (and lowers argc); everything else stays
// for Qt, which has options of its own such as -platform and -style.
CommandLine parseCommandLine(int &argc, char **argv);

// What --help prints, and what --version prints; each ends with a line end.
QString usageText();
QString versionText();

} // namespace quelmar
