// SPDX-License-Identifier: GPL-3.0-or-later
#include "seriallink.h"

#include "core/port/devicepath.h"
#include "core/port/portfailure.h"
#include "core/wire/protocol.h"

#include <QSerialPort>

namespace quelmar {

namespace {

// A hang-up or a failing line: the port is no use until it is opened again.
bool lineFailed(const QSerialPort *port)
{
    const auto error = port->error();
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
}

} // namespace

SerialLink::SerialLink(QObject *parent)
    : QObject(parent)
{
    m_retry.setInterval(kRetryMs);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &SerialLink::retry);
}

SerialLink::~SerialLink()
{
    // QSerialPort closes an open port when it is destroyed.
    delete m_port;
}

void SerialLink::setPort(const QString &name)
{
    m_retry.stop();
    m_name = name;
    if (m_port)
        m_port->close();
    // A fresh object every time, even for the same name: no error state or
    // buffered bytes of the old line carry over.
    delete m_port;
    m_port = new QSerialPort(devicePath(name));
    // Unlimited, Qt reserves a fresh 32 KiB block for every byte that
    // trickles in at 9600 baud, megabytes per reply that the heap keeps.
    // A few replies' worth is all a read takes; the rest waits in the system.
    m_port->setReadBufferSize(4 * kReplyCapacity);
}

bool SerialLink::openPort()
{
    // QSerialPort refuses the Unbuffered flag; its reads never block, so a
    // read timeout has nothing to apply to either.
    if (!m_port->open(QIODevice::ReadWrite)) {
        emit portState(false, failureText());
        return false;
    }
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setStopBits(QSerialPort::OneStop);
    emit portState(true, QString());
    return true;
}

QString SerialLink::failureText() const
{
    const QString device = devicePath(m_name);
    return portFailureText(m_name, device, portFaultOf(*m_port, device), m_port->errorString());
}

bool SerialLink::open()
{
    const bool opened = openPort();
    // There is nothing to come back for a port without a name.
    if (!opened && !m_name.isEmpty())
        m_retry.start();
    return opened;
}

bool SerialLink::isUp() const
{
    return m_port && m_port->isOpen();
}

void SerialLink::lose(const QString &why)
{
    // Every attempt on a closed port ends here; the retry must not be put
    // off by each of them.
    if (!m_retry.isActive()) {
        m_retry.start();
        emit portState(false, QStringLiteral("Lost %1: %2.").arg(m_name, why));
    }
}

void SerialLink::retry()
{
    setPort(m_name);
    if (!openPort()) {
        m_retry.start();
        return;
    }
    emit reopened();
}

void SerialLink::send(int add, const char *cmd)
{
    char frame[kFrameBufferSize];
    const int length = buildFrame(add, cmd, frame);
    emit frameSent(QByteArray(frame, length));

    // A closed port (after a hang-up) fails the write without Qt's warning.
    const bool wasOpen = m_port->isOpen();
    if (wasOpen && m_port->write(frame, length) != -1) {
        m_port->flush(); // so the frame leaves within this attempt
        return;
    }
    const QString why = m_port->errorString();
    m_port->close();
    if (wasOpen)
        lose(why);
}

int SerialLink::receive(int add, double *vals)
{
    char msg[kReplyBufferSize] = {};
    qint64 count = -1;
    const bool wasOpen = m_port->isOpen();
    if (wasOpen) {
        // Qt's buffer fills only in the event loop; this takes in what the
        // system already holds, without waiting.
        m_port->waitForReadyRead(0);
        if (!lineFailed(m_port))
            count = m_port->read(msg, qMin<qint64>(m_port->bytesAvailable(), kReplyCapacity));
    }
    if (count < 0) {
        const QString why = m_port->errorString();
        m_port->close();
        if (wasOpen)
            lose(why);
    }

    emit replyRead(QByteArray(msg));
    return acceptReply(add, msg, vals);
}

} // namespace quelmar
