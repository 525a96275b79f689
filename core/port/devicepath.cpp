// SPDX-License-Identifier: GPL-3.0-or-later
#include "devicepath.h"

namespace quelmar {

QString devicePath(const QString &portName)
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\") + portName;
#else
    if (portName.isEmpty())
        return QString();
    if (portName.startsWith(QLatin1Char('/')))
        return portName;
    if (portName.size() > 3 && portName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        bool ok = false;
        const int n = portName.mid(3).toInt(&ok);
        // Digits only, no sign, no leading zero: "COM3" but not "COM+3" or "COM03".
        const bool plainNumber = ok && portName.at(3).isDigit() && portName.at(3) != QLatin1Char('0');
        if (plainNumber && n >= 1)
            return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return QStringLiteral("/dev/") + portName;
#endif
}

} // namespace quelmar
