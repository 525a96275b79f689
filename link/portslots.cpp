// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing and opening the serial port.
#include "app/quelmarstatus.h"

#include "app/programstate.h"
#include "link/devicepath.h"
#include "link/pollengine.h"
#include "link/portfailure.h"
#include "ui_quelmarstatus.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QSerialPort>
#include <QTimer>

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
    portName = ui->ComPort->currentText();
    engine->setPort(portName);
    // The port's lock is not held here: the box below runs its own event loop.
    PortOpen();
    AddChange();
}

void QuelmarStatus::PortOpen()
{
    // No poll may start while the box below runs its own event loop. A port
    // that does not open is tried again by the engine, without a box.
    pollTimer->stop();
    if (!engine->open()) {
        // Built only when it is shown: no box to make and destroy on every
        // successful open.
        const QString device = quelmar::devicePath(portName);
        const QSerialPort &port = *engine->port();
        QMessageBox box;
        box.setText(quelmar::portFailureText(portName, device, faultOf(port, device), port.errorString()));
        box.setInformativeText(
            QStringLiteral("Seriel Port could not open. Another application maybe using this port."));
        box.exec();
    }
    pollTimer->start(kPollPeriodMs);
}
