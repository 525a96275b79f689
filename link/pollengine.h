// SPDX-License-Identifier: GPL-3.0-or-later
// The meter link without a window: the serial port object, the pending
// command, the poll cycle of up to three attempts, and reopening a line that
// was lost or would not open. The window's slots and the command-line
// logger both go through it.
#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>

class QSerialPort;

namespace quelmar {

class PollEngine : public QObject
{
    Q_OBJECT

public:
    // A lost line or a port that would not open is tried again this often.
    static constexpr int kRetryMs = 2000;
    // What poll() returns when the last open failed and nothing was sent.
    static constexpr int kNotPolled = -1;

    explicit PollEngine(QObject *parent = nullptr);
    ~PollEngine() override;

    // Replaces the serial port object with a new, closed one for `name` (as
    // the user sees it; devicePath() finds the device). No retry runs until
    // the next open().
    void setPort(const QString &name);
    QString portName() const { return m_name; }
    QSerialPort *port() const { return m_port; }

    // Opens the port at 9600 8N1 without flow control. On failure the port
    // is tried again every kRetryMs, silently, until it opens or another
    // port is set.
    bool open();

    // The command the next cycle sends: 'S', 'A' or 'E'.
    void setPending(char letter);

    // Builds the frame for `cmd`, reports it through frameSent, and writes
    // it. A failed write closes the port.
    void send(int add, const char *cmd);
    // Reads what has arrived (at most a reply's capacity), reports it
    // through replyRead, and returns the result of the reply rules: the
    // clear acknowledgement's kClearAckResult, a count of stored entries, or
    // 0. A failed read closes the port.
    int receive(int add, double *vals);
    // One poll cycle at meter address `add`: up to three attempts of the
    // pending command until one gets an answer, then 'S' is pending again.
    // Returns the last attempt's result, or kNotPolled.
    int poll(int add, double *vals);

signals:
    void frameSent(const QByteArray &frame);
    void replyRead(const QByteArray &text);

private:
    bool openPort();
    void lose();
    void retry();

    QString m_name;
    QSerialPort *m_port = nullptr;
    QMutex m_mutex; // every call on the serial port object
    QTimer m_retry;
    char m_pending[2] = {0, 0};
    bool m_openFailed = false;
};

} // namespace quelmar
