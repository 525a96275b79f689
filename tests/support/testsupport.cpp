#include "testsupport.h"

#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "link/protocol.h"
#include "settings/settingskeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    quelmar::openPty(pty);
}

PtyPair::~PtyPair()
{
    hangUp();
}

void PtyPair::send(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0 && pty.master >= 0) {
        const ssize_t n = ::write(pty.master, p, size_t(left));
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{pty.master, POLLOUT, 0};
            ::poll(&pfd, 1, 100);
            continue;
        }
        if (n <= 0)
            return;
        p += n;
        left -= n;
    }
    pollfd delivered{pty.keeper, POLLIN, 0};
    if (pty.keeper >= 0 && !bytes.isEmpty())
        ::poll(&delivered, 1, 1000);
}

QByteArray PtyPair::receive(int ms)
{
    QByteArray got;
    if (pty.master < 0)
        return got;
    pollfd pfd{pty.master, POLLIN, 0};
    if (::poll(&pfd, 1, ms) <= 0)
        return got;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(pty.master, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    return got;
}

void PtyPair::hangUp()
{
    quelmar::closePty(pty);
}

ModalWatcher::ModalWatcher(QObject *parent)
    : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &ModalWatcher::poll);
    timer.start(20);
}

void ModalWatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        seen << box->text() + QLatin1Char('|') + box->informativeText();
        // A question such as the file dialog's "replace it?" takes Yes;
        // accept() alone would count as No and bring the dialog back.
        if (QAbstractButton *yes = box->button(QMessageBox::Yes))
            yes->click();
        else
            box->accept();
    } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        seen << dialog->windowTitle();
        if (!fileAnswer.isEmpty()) {
            // A focused name field ignores selectFile().
            if (QWidget *focused = dialog->focusWidget())
                focused->clearFocus();
            dialog->selectFile(fileAnswer);
            QMetaObject::invokeMethod(dialog, "accept");
        } else {
            dialog->reject();
        }
    } else {
        seen << modal->metaObject()->className();
        modal->close();
    }
}

QString MeterSim::start(const QStringList &args)
{
    proc.setProgram(QStringLiteral(METERSIM_EXE));
    proc.setArguments(args);
    proc.setProcessChannelMode(QProcess::SeparateChannels);
    proc.start();
    if (!proc.waitForStarted(5000))
        return QString();
    for (int waited = 0; !proc.canReadLine() && waited < 5000; waited += 50)
        proc.waitForReadyRead(50);
    return QString::fromLocal8Bit(proc.readLine()).trimmed();
}

void MeterSim::stop()
{
    if (proc.state() == QProcess::NotRunning)
        return;
    proc.terminate();
    if (!proc.waitForFinished(3000))
        proc.kill();
    proc.waitForFinished(1000);
}

QByteArray meterReply(const QList<double> &fields)
{
    QByteArray body = ">01S";
    for (double field : fields)
        body += ',' + QByteArray::number(field, 'f', 0);
    char sum[11];
    quelmar::checksumText(quelmar::byteSum(body.constData() + 1, body.constData() + body.size()), sum);
    return body + ';' + sum + '\r';
}

std::unique_ptr<QuelmarStatus> openWindowOn(const QString &portPath)
{
    storePortName(portPath);
    auto w = std::make_unique<QuelmarStatus>();
    pollTimer->stop();
    return w;
}

void useSettingsFolder(const QString &folder)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
}

void storePortName(const QString &name)
{
    QSettings s(quelmar::kSettingsOrganisation, quelmar::kSettingsApplication);
    s.beginGroup(quelmar::settingsGroup("Quelmarstatus"));
    s.setValue(quelmar::kPortKey, name);
}

QString storedPortName()
{
    QSettings s(quelmar::kSettingsOrganisation, quelmar::kSettingsApplication);
    s.beginGroup(quelmar::settingsGroup("QuelmarStatus"));
    return s.value(quelmar::kPortKey).toString();
}

bool hasStoredPortName()
{
    QSettings s(quelmar::kSettingsOrganisation, quelmar::kSettingsApplication);
    s.beginGroup(quelmar::settingsGroup("QuelmarStatus"));
    return s.contains(quelmar::kPortKey);
}
