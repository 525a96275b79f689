// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the tests and the benchmarks: a real pseudo-terminal to play the
// meter on, a watcher that answers modal boxes so no test can hang on one,
// the simulated meter as a child process, and a private settings store.
#pragma once

#include "tools/pty/pty.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

class QuelmarStatus;
class QWidget;

// A pseudo-terminal pair. The program opens path(); the test reads what the
// program sent and answers on the master side.
class PtyPair
{
public:
    PtyPair() { quelmar::openPty(pty); }
    ~PtyPair() { quelmar::closePty(pty); }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return pty.master >= 0; }
    QString path() const { return QString::fromStdString(pty.path); }
    int masterFd() const { return pty.master; }
    // Writes bytes as the meter and waits until the program's side of the
    // line can read them (a pty hands bytes over asynchronously).
    void send(const QByteArray &bytes);
    // Whatever the program has written so far, waiting up to `ms` for the
    // first byte.
    QByteArray receive(int ms = 0);

private:
    quelmar::Pty pty;
};

// Answers every modal box or dialog that opens while it lives, recording
// "text|informative text" of boxes and the titles of dialogs. A test that
// expects no box checks that texts() is empty.
class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    ModalWatcher();
    QStringList texts() const { return seen; }
    // A file dialog gets this path; with none set it is cancelled.
    void setFileAnswer(const QString &path) { fileAnswer = path; }
    // A question gets this button (Yes unless set); a box without it is
    // accepted.
    void setAnswer(int button) { answer = button; }

private:
    void poll();
    QTimer timer;
    QStringList seen;
    QString fileAnswer;
    int answer = 0x4000; // QMessageBox::Yes
};

// The simulated meter as a child process on its own pseudo-terminal.
class MeterSim
{
public:
    ~MeterSim();
    // Starts it with `args` and returns its terminal's path, or an empty
    // string when it did not come up within a few seconds.
    QString start(const QStringList &args);
    QProcess &process() { return proc; }

private:
    QProcess proc;
};

// A reply as the meter sends it: ">01S", the fields, ";", the checksum, CR.
// The checksum is summed here, not by the program's own code.
QByteArray meterReply(const QList<double> &fields);

// The bytes of a file, empty when it cannot be read; and a file written
// whole, false when it could not be.
QByteArray fileBytes(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);

// The text a line edit or label of the window shows.
QString textOf(const QWidget &window, const char *objectName);

// A window on the given line with its poll timer stopped, so the test
// drives the ticks. The port name is stored first, as a user's would be.
// Ends the test process when the window shows a box instead.
std::unique_ptr<QuelmarStatus> openWindowOn(const QString &portPath);

// Points QSettings at a private folder, and the port name stored there in
// the program's group ("quelmarstatus" on this platform).
void useSettingsFolder(const QString &folder);
void storePortName(const QString &name);
QString storedPortName();
