// Choosing and opening the serial port.
#include "app/quelmarstatus.h"

#include "app/programstate.h"
#include "link/pollengine.h"
#include "ui_quelmarstatus.h"

#include <QMessageBox>
#include <QTimer>

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
        QMessageBox box;
        box.setInformativeText(
            QStringLiteral("Seriel Port could not open. Another application maybe using this port."));
        box.exec();
    }
    pollTimer->start(kPollPeriodMs);
}
