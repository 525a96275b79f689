// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing and opening the serial port.
#include "app/quelmarstatus.h"

#include "core/session/metersession.h"
#include "ui_quelmarstatus.h"

#include <QMessageBox>

void QuelmarStatus::PortChanged()
{
    meter->link().setPort(ui->ComPort->currentText());
    // Addressed as a reopened line is: a clear still pending goes out after
    // the address change instead of being lost to it.
    meter->addressFirst();
    PortOpen();
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
        QMessageBox box;
        box.setText(link.failureText());
        box.setInformativeText(
            QStringLiteral("Seriel Port could not open. Another application maybe using this port."));
        box.exec();
    }
    meter->startPolling();
}
