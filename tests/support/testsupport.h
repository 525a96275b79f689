// Shared by the GUI tests: a real pseudo-terminal to play the meter on, a
// watcher that answers modal boxes so no test can hang on one, and a
// private settings store.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "tools/pty/pty.h"

#include <memory>

class QuelmarStatus;

// A pseudo-terminal pair. The program opens path(); the test reads what the
// program sent and answers on the master side.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
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
    // Drops the meter's side: the program sees a hang-up.
    void hangUp();

private:
    quelmar::Pty pty;
};

// Answers every modal box or dialog that opens while it lives, recording
// the texts it saw. A test that expected no box checks texts() is empty.
class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ModalWatcher(QObject *parent = nullptr);
    QStringList texts() const { return seen; }
    // A file dialog gets this path; with none set it is cancelled.
    void setFileAnswer(const QString &path) { fileAnswer = path; }

private:
    void poll();
    QTimer timer;
    QStringList seen;
    QString fileAnswer;
};

// The simulated meter as a child process on its own pseudo-terminal.
class MeterSim
{
public:
    ~MeterSim() { stop(); }
    // Starts the simulator with `args` and returns its terminal's path, or an
    // empty string when it did not come up within a few seconds.
    QString start(const QStringList &args);
    void stop();
    QProcess &process() { return proc; }

private:
    QProcess proc;
};

// A reply as the meter sends it: ">01S", the fields, ";", the checksum, CR.
QByteArray meterReply(const QList<double> &fields);

// A window on the given line with its poll timer stopped, so the test
// drives the ticks. The port name is stored first, as a user's would be.
std::unique_ptr<QuelmarStatus> openWindowOn(const QString &portPath);

// Points QSettings at a private folder and writes or reads the port name
// where the program keeps it.
void useSettingsFolder(const QString &folder);
void storePortName(const QString &name);
QString storedPortName();
bool hasStoredPortName();
