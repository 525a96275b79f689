// Choosing and opening the serial port.
#include "app/quelmarstatus.h"

#include "app/programstate.h"
#include "link/devicepath.h"
#include "ui_quelmarstatus.h"

#include <QMessageBox>
#include <QSerialPort>
#include <QTimer>

void QuelmarStatus::PortChanged()
{
    portMutex.lock();
    portName = ui->ComPort->currentText();
    port->close();
    // A fresh object every time, even for the same name: no error state or
    // buffered bytes of the old line carry over.
    delete port;
    port = new QSerialPort(quelmar::devicePath(portName));
    PortOpen();
    portMutex.unlock();
    AddChange();
}

void QuelmarStatus::PortOpen()
{
    // No poll may start while the box below runs its own event loop.
    pollTimer->stop();
    // QSerialPort refuses the Unbuffered flag; its reads never block, so a
    // read timeout has nothing to apply to either.
    if (port->open(QIODevice::ReadWrite)) {
        port->setBaudRate(QSerialPort::Baud9600);
        port->setFlowControl(QSerialPort::NoFlowControl);
        port->setParity(QSerialPort::NoParity);
        port->setDataBits(QSerialPort::Data8);
        port->setStopBits(QSerialPort::OneStop);
        portOpenFailed = false;
    } else {
        // Built only when it is shown: no box to make and destroy on every
        // successful open.
        QMessageBox box;
        box.setInformativeText(
            QStringLiteral("Seriel Port could not open. Another application maybe using this port."));
        box.exec();
        portOpenFailed = true;
    }
    pollTimer->start(kPollPeriodMs);
}
