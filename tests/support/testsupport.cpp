// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include "app/quelmarstatus.h"
#include "core/session/metersession.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>

#include <poll.h>
#include <unistd.h>

void PtyPair::send(const QByteArray &bytes)
{
    // A test's bytes fit the terminal's buffer in one write.
    pollfd delivered{pty.keeper, POLLIN, 0};
    if (::write(pty.master, bytes.constData(), size_t(bytes.size())) > 0)
        ::poll(&delivered, 1, 1000);
}

QByteArray PtyPair::receive(int ms)
{
    QByteArray got;
    pollfd in{pty.master, POLLIN, 0};
    if (pty.master < 0 || ::poll(&in, 1, ms) <= 0)
        return got;
    char buf[4096];
    for (ssize_t n; (n = ::read(pty.master, buf, sizeof buf)) > 0;)
        got.append(buf, n);
    return got;
}

ModalWatcher::ModalWatcher()
{
    connect(&timer, &QTimer::timeout, this, &ModalWatcher::poll);
    timer.start(20);
}

void ModalWatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        seen << box->text() + QLatin1Char('|') + box->informativeText();
        // A question takes its answer; accept() alone would count as No.
        if (QAbstractButton *button = box->button(QMessageBox::StandardButton(answer)))
            button->click();
        else
            box->accept();
    } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        seen << dialog->windowTitle();
        if (fileAnswer.isEmpty())
            return dialog->reject();
        // A focused name field ignores selectFile().
        if (QWidget *focused = dialog->focusWidget())
            focused->clearFocus();
        dialog->selectFile(fileAnswer);
        QMetaObject::invokeMethod(dialog, "accept");
    } else if (modal) {
        seen << modal->metaObject()->className();
        modal->close();
    }
}

QString MeterSim::start(const QStringList &args)
{
    proc.start(QStringLiteral(METERSIM_EXE), args);
    if (!proc.waitForStarted(5000))
        return QString();
    for (int waited = 0; !proc.canReadLine() && waited < 5000; waited += 50)
        proc.waitForReadyRead(50);
    return QString::fromLocal8Bit(proc.readLine()).trimmed();
}

MeterSim::~MeterSim()
{
    proc.terminate();
    if (proc.state() != QProcess::NotRunning && !proc.waitForFinished(3000))
        proc.kill();
    proc.waitForFinished(1000);
}

QByteArray meterReply(const QList<double> &fields)
{
    QByteArray body = ">01S";
    for (double field : fields)
        body += ',' + QByteArray::number(field, 'f', 0);
    int sum = 0;
    for (char c : body.mid(1))
        sum += c;
    return body + ';' + QByteArray::number(sum, 16).toUpper().rightJustified(4, '0') + '\r';
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString textOf(const QWidget &window, const char *objectName)
{
    const QWidget *widget = window.findChild<QWidget *>(objectName);
    return widget ? widget->property("text").toString() : QStringLiteral("<no %1>").arg(objectName);
}

std::unique_ptr<QuelmarStatus> openWindowOn(const QString &portPath)
{
    storePortName(portPath);
    ModalWatcher watcher;
    auto w = std::make_unique<QuelmarStatus>();
    w->session().stopPolling();
    // The port must open; a box would leave the test waiting for nothing.
    if (!watcher.texts().isEmpty())
        qFatal("The window did not open %s: %s", qPrintable(portPath), qPrintable(watcher.texts().join(' ')));
    return w;
}

void useSettingsFolder(const QString &folder)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
}

void storePortName(const QString &name)
{
    QSettings("Norvane", "Tovrik Communicator").setValue("quelmarstatus/ComPort", name);
}

QString storedPortName()
{
    return QSettings("Norvane", "Tovrik Communicator").value("quelmarstatus/ComPort", "<none>").toString();
}
