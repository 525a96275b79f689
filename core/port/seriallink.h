// SPDX-License-Identifier: GPL-3.0-or-later
// The serial line to the meter: the port object, one frame out, whatever has
// arrived in, and reopening a line that was lost or would not open.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QSerialPort;

namespace quelmar {

class SerialLink : public QObject
{
    Q_OBJECT

public:
    // A lost line or a port that would not open is tried again this often.
    static constexpr int kRetryMs = 2000;

    explicit SerialLink(QObject *parent = nullptr);
    ~SerialLink() override;

    // Replaces the serial port object with a new, closed one for `name` (as
    // the user sees it; devicePath() finds the device). No retry runs until
    // the next open().
    void setPort(const QString &name);
    QString portName() const { return m_name; }
    QSerialPort *port() const { return m_port; }

    // Opens the port at 9600 8N1 without flow control. On failure the port
    // is tried again every kRetryMs, until it opens or another port is set.
    bool open();
    // Why the last open() failed, in words for the user: the port, its
    // device and the reason.
    QString failureText() const;
    // True while frames can go out: the port opened and was not lost since.
    bool isUp() const;

    // Builds the frame for command text `cmd`, reports it through frameSent,
    // and writes it. A failed write closes the port.
    void send(int add, const char *cmd);
    // Reads what has arrived (at most a reply's capacity), reports it
    // through replyRead, and returns the result of the reply rules: the
    // clear acknowledgement's kClearAckResult, a count of stored entries, or
    // 0. A failed read closes the port.
    int receive(int add, double *vals);

signals:
    void frameSent(const QByteArray &frame);
    void replyRead(const QByteArray &text);
    // A lost line, or a port that would not open, opened again by itself.
    void reopened();
    // After every attempt to open the port, and when the line is lost:
    // whether it is open, and if not, why.
    void portState(bool open, const QString &why);

private:
    bool openPort();
    void lose(const QString &why);
    void retry();

    QString m_name;
    QSerialPort *m_port = nullptr;
    QTimer m_retry;
};

} // namespace quelmar
