// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing and opening the serial port.
#include "app/quelmarstatus.h"

#include "core/port/devicepath.h"
#include "core/port/portfailure.h"
#include "core/session/metersession.h"
#include "ui_quelmarstatus.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QSerialPort>

namespace {

quelmar::PortFault faultOf(const QSerialPort &port, const QString &device)
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return quelmar::PortFault::Missing;
    case QSerialPort::PermissionError: {
        // Qt reports a port that another program holds (busy, or locked) as
        // a permission error too; the device's own access tells them apart.
#ifdef Q_OS_WIN
        Q_UNUSED(device);
        return quelmar::PortFault::Busy;
#else
        const QFileInfo info(device);
        return info.isReadable() && info.isWritable() ? quelmar::PortFault::Busy
                                                      : quelmar::PortFault::NoPermission;
#endif
    }
    default:
        return quelmar::PortFault::Other;
    }
}

} // namespace

void QuelmarStatus::PortChanged()
{
    meter->link().setPort(ui->ComPort->currentText());
    PortOpen();
    AddChange();
}

void QuelmarStatus::PortOpen()
{
    // No poll may start while the box below runs its own event loop. A port
    // that does not open is tried again by the session's line, without a box.
    meter->stopPolling();
    quelmar::SerialLink &link = meter->link();
    if (!link.open()) {
        // Built only when it is shown: no box to make and destroy on every
        // successful open.
        const QString device = quelmar::devicePath(link.portName());
        const QSerialPort &port = *link.port();
        QMessageBox box;
        box.setText(quelmar::portFailureText(link.portName(), device, faultOf(port, device), port.errorString()));
        box.setInformativeText(
            QStringLiteral("Seriel Port could not open. Another application maybe using this port."));
        box.exec();
    }
    meter->startPolling();
}
