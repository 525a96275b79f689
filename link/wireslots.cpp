// The wire slots: one frame out, whatever has arrived in.
#include "app/quelmarstatus.h"

#include "app/programstate.h"
#include "link/protocol.h"
#include "ui_quelmarstatus.h"

#include <QSerialPort>

namespace {

// A hang-up or a failing line: the port is no use until one is chosen again.
bool lineLost(const QSerialPort *port)
{
    const auto error = port->error();
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
}

} // namespace

void QuelmarStatus::Txmsg(int add, char *cmd, int val1)
{
    Q_UNUSED(val1);
    char frame[quelmar::kFrameBufferSize];
    const int length = quelmar::buildFrame(add, cmd, frame);
    setFieldText(ui->TxLine, QString::fromLatin1(frame, length));

    QMutexLocker lock(&portMutex);
    // A closed port (after a hang-up) fails the write without Qt's warning.
    const qint64 written = port->isOpen() ? port->write(frame, length) : -1;
    if (written == -1)
        port->close();
    else
        port->flush(); // so the frame leaves within this attempt
}

int QuelmarStatus::Rcvmsg(int add, double cmvals[])
{
    char msg[quelmar::kReplyBufferSize] = {};
    qint64 count = -1;
    {
        QMutexLocker lock(&portMutex);
        if (port->isOpen()) {
            // Qt's buffer fills only in the event loop; this takes in what the
            // system already holds, without waiting.
            port->waitForReadyRead(0);
            if (!lineLost(port)) {
                const qint64 waiting = qMin<qint64>(port->bytesAvailable(), quelmar::kReplyCapacity);
                count = port->read(msg, waiting);
            }
        }
        if (count < 0)
            port->close();
    }

    int result = 0;
    if (count > 0) {
        // The address check runs on every reply, but its result does not
        // decide: there is one meter on the line, and its answer to an
        // address change may still carry another address. Only a reply whose
        // checksum is right may fill the array.
        (void)chkadd(add, msg);
        if (rxchksum(msg))
            result = RcvdVal(msg, cmvals);
    }

    setFieldText(ui->RcdLine, QString::fromLatin1(msg));

    if (quelmar::isClearAck(add, msg))
        return quelmar::kClearAckResult;
    return result;
}

int QuelmarStatus::RcvdVal(char msg[256], double vals[])
{
    return quelmar::parseReply(msg, vals);
}

int QuelmarStatus::chkadd(int Add, char msg[256])
{
    return quelmar::checkAddress(Add, msg);
}

int QuelmarStatus::rxchksum(char *msg)
{
    return quelmar::checkChecksum(msg);
}
