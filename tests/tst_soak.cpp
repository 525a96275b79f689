// A long run against the simulated meter with logging on: memory must level
// off, and the log must hold one whole record for every second readout pass.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#if defined(__SANITIZE_ADDRESS__)
#define QUELMAR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUELMAR_ASAN 1
#endif
#endif

namespace {

const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power";

// Resident set size in KiB, or -1 when /proc does not tell.
qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

class tst_Soak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twentyThousandPolls();

private:
    QTemporaryDir dir;
};

void tst_Soak::initTestCase()
{
    QVERIFY(dir.isValid());
    useSettingsFolder(dir.path());
}

void tst_Soak::twentyThousandPolls()
{
    const int kPasses = 20000;
    const int kWarmUp = 2000;

    ModalWatcher watcher;
    MeterSim sim;
    const QString path = sim.start({"--no-pacing"});
    QVERIFY(!path.isEmpty());
    storePortName(path);
    QuelmarStatus w;
    pollTimer->stop();
    Ui_QuelmarStatus *ui = w.form();
    QSerialPort *port = w.serialPort();
    QVERIFY(port->isOpen());

    const QString log = dir.filePath(QStringLiteral("soak.csv"));
    ui->fileEdit->setText(log);
    ui->lperiod->setValue(1);
    ui->logclear->setChecked(false);
    w.startlogging();
    QVERIFY(!ui->startButton->isEnabled());

    // The first poll finds nothing: the frame has only just gone out. It
    // sends the address change three times; all three answers are collected
    // before the next poll, which reads them together. From then on one
    // frame is in flight, and each poll first waits for its answer.
    w.poller();
    while (port->waitForReadyRead(100)) {
    }

    QElapsedTimer clock;
    clock.start();
    int passes = 0;
    int failed = 0;
    qint64 warm = -1;
    while (passes < kPasses && failed < 2000) {
        // Now and then a poll reads its own frame's answer too, and the next
        // finds nothing in flight: it fails, sends three frames, and the
        // polls after it catch up. So the wait is short, and polls are
        // counted by their outcome.
        if (port->bytesAvailable() == 0)
            port->waitForReadyRead(50);
        w.poller();
        // A poll that got an answer ran one readout pass: no read here holds
        // more than a few replies.
        if (ui->comerr->text().isEmpty())
            ++passes;
        else
            ++failed;
        if (passes == kWarmUp && warm < 0)
            warm = residentKiB();
    }
    const qint64 end = residentKiB();
    const qint64 ms = clock.elapsed();
    qInfo("%d passes, %d failed polls, %lld ms; VmRSS %lld KiB after %d passes, %lld KiB at the end (%+lld KiB)",
          passes, failed, ms, warm, kWarmUp, end, end - warm);
    QCOMPARE(passes, kPasses);
    QVERIFY(warm > 0 && end > 0);
#ifndef QUELMAR_ASAN
    // The sanitizer's quarantine holds freed memory back: its resident size
    // says nothing about leaks, which it reports itself at exit.
    QVERIFY2(end - warm < 1024, qPrintable(QStringLiteral("%1 KiB").arg(end - warm)));
#endif

    // Records on passes 2, 4, 6, ...: one for every two passes.
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray all = file.readAll();
    QVERIFY(all.endsWith('\n'));
    QList<QByteArray> lines = all.split('\n');
    lines.removeLast();
    QCOMPARE(lines.value(0), kHeader);
    QCOMPARE(lines.size() - 1, kPasses / 2);
    static const QRegularExpression record(QStringLiteral(
        "^\\d{2,}:\\d\\d:\\d\\d,\\d+\\.\\d{3},120\\.000,230\\.00,0\\.580,0\\.900,lag,133\\.333$"));
    for (int i = 1; i < lines.size(); ++i)
        QVERIFY2(record.match(QString::fromLatin1(lines[i])).hasMatch(), lines[i].constData());
    QCOMPARE(watcher.texts(), QStringList{});
}

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
