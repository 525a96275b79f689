// A long run against the simulated meter with logging on: memory must level
// off, and the log must hold one whole record for every second readout pass.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QFile>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Resident set size in KiB; 0 when /proc does not tell.
qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    static const QRegularExpression vmRss(QStringLiteral("VmRSS:\\s*(\\d+)"));
    return status.open(QIODevice::ReadOnly) ? vmRss.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong()
                                            : 0;
}

} // namespace

class tst_Soak : public QObject
{
    Q_OBJECT

private slots:
    void twentyThousandPolls()
    {
        const int kPasses = 20000;
        const int kWarmUp = 2000;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        useSettingsFolder(dir.path());
        ModalWatcher watcher;
        MeterSim sim;
        storePortName(sim.start({"--no-pacing"}));
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

        // One frame is in flight and each poll first waits for its answer. Now
        // and then a poll reads its own frame's answer too; the next then fails
        // and sends three frames that later polls catch up on. So polls are
        // counted by outcome: an answered poll runs one readout pass.
        int passes = 0;
        int polls = 0;
        qint64 warm = 0;
        for (; passes < kPasses && polls < kPasses + 2000; ++polls) {
            if (port->bytesAvailable() == 0)
                port->waitForReadyRead(50);
            w.poller();
            passes += ui->comerr->text().isEmpty();
            if (passes == kWarmUp && warm == 0)
                warm = residentKiB();
        }
        const qint64 end = residentKiB();
        qInfo("%d passes in %d polls; VmRSS %lld KiB after %d passes, %+lld KiB at the end", passes, polls, warm,
              kWarmUp, end - warm);
        QCOMPARE(passes, kPasses);
        QVERIFY(warm > 0 && end > 0);
#ifndef __SANITIZE_ADDRESS__
        // The sanitizer's quarantine holds freed memory back; it reports
        // leaks itself at exit.
        QVERIFY2(end - warm < 1024, qPrintable(QStringLiteral("%1 KiB").arg(end - warm)));
#endif

        // Records on passes 2, 4, 6, ...: one for every two passes, each whole.
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.takeLast(), QByteArray()); // the file ends with a line end
        QCOMPARE(lines.takeFirst(), "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power");
        QCOMPARE(lines.size(), kPasses / 2);
        static const QRegularExpression record(QStringLiteral(
            "^\\d{2,}:\\d\\d:\\d\\d,\\d+\\.\\d{3},120\\.000,230\\.00,0\\.580,0\\.900,lag,133\\.333$"));
        for (const QByteArray &line : lines)
            QVERIFY2(record.match(QString::fromLatin1(line)).hasMatch(), line.constData());
        QCOMPARE(watcher.texts(), QStringList{});
    }
};

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
