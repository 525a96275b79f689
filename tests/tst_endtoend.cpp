// The program against the simulated meter, driven by its own poll timer.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// The meter numbers its replies in the first field.
int replyNumber(const QString &reply)
{
    return reply.section(QLatin1Char(','), 1, 1).toInt();
}

} // namespace

class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void traffic();
    void logMatchesLoad_data();
    void logMatchesLoad();

private:
    QTemporaryDir dir;
};

void tst_EndToEnd::initTestCase()
{
    QVERIFY(dir.isValid());
    useSettingsFolder(dir.path());
}

void tst_EndToEnd::traffic()
{
    MeterSim sim;
    const QString path = sim.start({});
    QVERIFY(!path.isEmpty());
    storePortName(path);
    QuelmarStatus w;
    int ticks = 0;
    connect(pollTimer, &QTimer::timeout, this, [&] { ++ticks; });
    Ui_QuelmarStatus *ui = w.form();

    QTRY_VERIFY_WITH_TIMEOUT(ui->RcdLine->text().startsWith(QLatin1String(">01S,")), 3000);
    QCOMPARE(ui->TxLine->text(), QStringLiteral("<01S,;00E0\r"));
    QCOMPARE(ui->comerr->text(), QString());
    QVERIFY(ui->TimeDisp->text().endsWith(QLatin1String(" HMS")));

    // Once replies flow, each tick sends one frame and reads one answer.
    const int firstTick = ticks;
    const int firstReply = replyNumber(ui->RcdLine->text());
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= firstTick + 4, 4000);
    QCOMPARE(replyNumber(ui->RcdLine->text()) - firstReply, ticks - firstTick);
    QCOMPARE(ui->comerr->text(), QString());
}

void tst_EndToEnd::logMatchesLoad_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected"); // power, volts, current, pf, lead/lag, VA
    QTest::newRow("100 W lead") << QStringList{"--watts", "100", "--volts", "230", "--pf", "0.9", "--lead"}
                                << QStringList{"100.000", "230.00", "0.483", "0.900", "Lead", "111.111"};
    QTest::newRow("2 A lag") << QStringList{"--volts", "240", "--amps", "2", "--pf", "0.5", "--lag"}
                             << QStringList{"240.000", "240.00", "2.000", "0.500", "lag", "480.000"};
}

void tst_EndToEnd::logMatchesLoad()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    MeterSim sim;
    const QString path = sim.start(args);
    QVERIFY(!path.isEmpty());
    storePortName(path);
    QuelmarStatus w;
    Ui_QuelmarStatus *ui = w.form();
    const QString log = dir.filePath(QStringLiteral("%1.csv").arg(QTest::currentDataTag()));

    ui->fileEdit->setText(log);
    QTest::mouseClick(ui->startButton, Qt::LeftButton);
    QVERIFY(!ui->startButton->isEnabled());

    auto contents = [&] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTRY_VERIFY_WITH_TIMEOUT(contents().count('\n') >= 4, 6000);
    const QList<QByteArray> lines = contents().split('\n');
    QCOMPARE(lines.first(), QByteArray("Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power"));
    QCOMPARE(lines.last(), QByteArray()); // whole lines only

    const double watts = expected[0].toDouble();
    for (int i = 1; i < lines.size() - 1; ++i) {
        const QList<QByteArray> f = lines[i].split(',');
        QCOMPARE(f.size(), 8);
        for (int k = 0; k < 6; ++k)
            QCOMPARE(QString::fromLatin1(f[2 + k]), expected[k]);
        // Energy integrates the power over the meter's time, which it
        // reports in whole seconds.
        const QList<QByteArray> hms = f[0].split(':');
        const double seconds = hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt();
        const double mWh = f[1].toDouble();
        QVERIFY2(mWh >= watts * seconds / 3.6 - 0.001 && mWh <= watts * (seconds + 1) / 3.6 + 0.001,
                 lines[i].constData());
    }
    QTest::mouseClick(ui->stopButton, Qt::LeftButton);
    QVERIFY(ui->startButton->isEnabled());
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
