// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include "core/version.h"

#include <QByteArray>

namespace quelmar {

CommandLine parseCommandLine(int &argc, char **argv)
{
    CommandLine line;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        QByteArray port;
        if (arg == "-h" || arg == "--help") {
            if (line.action == CommandLine::Run)
                line.action = CommandLine::Help;
        } else if (arg == "-v" || arg == "--version") {
            if (line.action == CommandLine::Run)
                line.action = CommandLine::Version;
        } else if (arg == "--port" || arg.startsWith("--port=")) {
            if (arg == "--port" && i + 1 < argc)
                port = argv[++i];
            else if (arg != "--port")
                port = arg.mid(7);
            if (port.isEmpty()) {
                line.action = CommandLine::Error;
                line.error = QStringLiteral("--port needs a port name, such as COM1 or /dev/ttyUSB0");
                break;
            }
            line.port = QString::fromLocal8Bit(port);
        } else {
            argv[kept++] = argv[i];
        }
    }
    // What is left ends with a null pointer, as argv did.
    if (kept < argc)
        argv[kept] = nullptr;
    argc = kept;
    return line;
}

QString usageText()
{
    return QStringLiteral(
        "Usage: quelmar-communicator [--port NAME] [Qt options]\n"
        "Reads, logs and costs the readings of a Quelmar power meter.\n"
        "\n"
        "  --port NAME    start on the serial port NAME (COM1 to COM20, ttyUSB0,\n"
        "                 /dev/ttyUSB0, ...) instead of the remembered one; it is\n"
        "                 remembered in its place when the window closes\n"
        "  -h, --help     print this help and exit\n"
        "  -v, --version  print the version and exit\n"
        "\n"
        "Qt's own options, such as -platform and -style, are accepted too.\n");
}

QString versionText()
{
    return QStringLiteral("quelmar-communicator " QUELMAR_VERSION_TEXT "\n");
}

} // namespace quelmar
