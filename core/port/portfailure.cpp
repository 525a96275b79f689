// SPDX-License-Identifier: GPL-3.0-or-later
#include "portfailure.h"

#include <QFileInfo>
#include <QSerialPort>

namespace quelmar {

QString portFailureText(const QString &portName, const QString &device, PortFault fault,
                        const QString &systemReason)
{
    if (portName.isEmpty())
        return QStringLiteral("No port chosen.");
    QString port = portName;
    if (!device.isEmpty() && device != portName)
        port += QStringLiteral(" (%1)").arg(device);
    switch (fault) {
    case PortFault::Missing:
        return QStringLiteral("Cannot open %1: no such device.").arg(port);
    case PortFault::NoPermission:
        return QStringLiteral("Cannot open %1: permission denied. Serial ports belong to the dialout "
                              "group: sudo usermod -aG dialout $USER, then log in again.")
            .arg(port);
    case PortFault::Busy:
        return QStringLiteral("Cannot open %1: busy, another program holds it.").arg(port);
    default:
        return QStringLiteral("Cannot open %1: %2.").arg(port, systemReason);
    }
}

PortFault portFaultOf(const QSerialPort &port, const QString &device)
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return PortFault::Missing;
    case QSerialPort::PermissionError: {
        // Qt reports a port that another program holds (busy, or locked) as
        // a permission error too; the device's own access tells them apart.
#ifdef Q_OS_WIN
        Q_UNUSED(device);
        return PortFault::Busy;
#else
        const QFileInfo info(device);
        return info.isReadable() && info.isWritable() ? PortFault::Busy : PortFault::NoPermission;
#endif
    }
    default:
        return PortFault::Other;
    }
}

} // namespace quelmar
