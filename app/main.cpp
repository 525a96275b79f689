// SPDX-License-Identifier: GPL-3.0-or-later
#include "quelmarstatus.h"

#include "appfont.h"
#include "commandline.h"

#include <QApplication>
#include <QIcon>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    const quelmar::CommandLine line = quelmar::parseCommandLine(argc, argv);
    switch (line.action) {
    case quelmar::CommandLine::Help:
        std::fputs(qPrintable(quelmar::usageText()), stdout);
        return 0;
    case quelmar::CommandLine::Version:
        std::fputs(qPrintable(quelmar::versionText()), stdout);
        return 0;
    case quelmar::CommandLine::Error:
        std::fprintf(stderr, "quelmar-communicator: %s (try --help)\n", qPrintable(line.error));
        return 2;
    case quelmar::CommandLine::Run:
        break;
    }
    // A full disk or a file size limit fails a log record's write, which is
    // tried again on the next pass; it must not end the program.
    std::signal(SIGXFSZ, SIG_IGN);

    QApplication app(argc, argv);
    useProgramFont();
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/quelmar-communicator-256.png")));
    // Lets Wayland compositors match the window to its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.norvane.QuelmarCommunicator"));
    QuelmarStatus window(nullptr, line.port);
    window.show();
    return app.exec();
}
