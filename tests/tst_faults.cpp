// What goes wrong in the field: a meter that is silent, noisy, slow or gone,
// a log file that vanishes or cannot be written, a full disk, a killed
// process, a settings store that refuses the last write. The program runs
// against the simulated meter; the test drives the polls and, between them,
// lets the meter finish answering.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power";
const QString kLinkError = QStringLiteral("Communication Error");
const QString kAddressFrame = QStringLiteral("<FFA,01;015A\r");

// The log as lines: the header counts only as the first line; every other
// line, and a tail without its line end, must be a whole record.
struct Log {
    bool header = false;
    QList<QByteArray> records, broken;
};

Log readLog(const QString &path)
{
    static const QRegularExpression record(QStringLiteral(
        "^\\d{2,}:\\d\\d:\\d\\d,-?\\d+\\.\\d{3},-?\\d+\\.\\d{3},-?\\d+\\.\\d{2},-?\\d+\\.\\d{3},"
        "-?\\d+\\.\\d{3},(Lead|lag),-?\\d+\\.\\d{3}$"));
    Log log;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return log;
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.last().isEmpty())
        log.broken << lines.last();
    lines.removeLast();
    log.header = !lines.isEmpty() && lines.first() == kHeader;
    for (const QByteArray &line : lines.mid(log.header ? 1 : 0))
        (record.match(QString::fromLatin1(line)).hasMatch() ? log.records : log.broken) << line;
    return log;
}

// Waits a while for the meter's first byte, then until the line has been
// quiet. The bytes stay in the port for the next poll.
void settle(QSerialPort *port)
{
    for (int ms = 300; port->isOpen() && port->waitForReadyRead(ms); ms = 80) {
    }
}

// One poll as the timer would run it, then time for the meter to answer.
// True when the poll got an answer.
bool cycle(QuelmarStatus &w)
{
    w.poller();
    settle(w.serialPort());
    return w.form()->comerr->text().isEmpty();
}

// Polls until `n` polls have got an answer. A few may miss: a poll that
// catches the start of its own answer leaves the next one a read that starts
// mid-reply, or nothing at all.
bool answeredPolls(QuelmarStatus &w, int n)
{
    for (int misses = 0; n > 0 && misses <= 8;)
        cycle(w) ? --n : ++misses;
    return n == 0;
}

void startLog(QuelmarStatus &w, const QString &path)
{
    w.form()->fileEdit->setText(path);
    w.form()->lperiod->setValue(1);
    w.form()->logclear->setChecked(false);
    w.startlogging();
}

// Opening a port restarts the poll timer; the test drives the polls itself.
void choosePort(QuelmarStatus &w, const QString &path)
{
    w.form()->ComPort->setEditText(path);
    w.PortChanged();
    pollTimer->stop();
}

// The window on a freshly started meter.
std::unique_ptr<QuelmarStatus> openOn(MeterSim &sim, const QStringList &args)
{
    const QString path = sim.start(args);
    if (path.isEmpty())
        return nullptr;
    storePortName(path);
    auto w = std::make_unique<QuelmarStatus>();
    pollTimer->stop();
    if (!w->serialPort()->isOpen())
        w.reset();
    return w;
}

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT
    QTemporaryDir settingsDir;
    std::unique_ptr<QTemporaryDir> dir;
    QString logPath() const { return dir->filePath(QStringLiteral("log.csv")); }

private slots:
    void init()
    {
        QVERIFY(settingsDir.isValid());
        useSettingsFolder(settingsDir.path());
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void linkFaults_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("failing");     // every poll fails and nothing reaches the readout
        QTest::addColumn<QString>("received"); // some text the receive line shows; empty: it shows none
        const QString reply = QStringLiteral("^>01[AS],\\d+,0,");
        QTest::newRow("silent meter") << QStringList{"--drop", "1"} << true << QString();
        // With this seed no read that starts at a reply passes the checksum.
        QTest::newRow("garbage") << QStringList{"--garbage", "1", "--seed", "40", "--no-pacing"} << true << "^.";
        QTest::newRow("bad checksums") << QStringList{"--corrupt", "1", "--no-pacing"} << true << reply;
        QTest::newRow("half the replies lost")
            << QStringList{"--drop", "0.5", "--seed", "3", "--no-pacing"} << false << reply;
        // At 9600 baud a reply arrives after the poll's reads: the next poll reads it.
        QTest::newRow("paced") << QStringList{} << false << reply;
        QTest::newRow("paced, in four pieces") << QStringList{"--split", "4"} << false << reply;
        QTest::newRow("hang-up mid-run") << QStringList{"--hangup-after", "5", "--no-pacing"} << false << reply;
        QTest::newRow("sound meter") << QStringList{"--no-pacing"} << false << reply;
    }

    void linkFaults()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, failing);
        QFETCH(QString, received);
        const bool hangsUp = args.contains(QStringLiteral("--hangup-after"));
        ModalWatcher watcher;
        MeterSim sim;
        auto w = openOn(sim, args);
        QVERIFY(w);
        Ui_QuelmarStatus *ui = w->form();
        startLog(*w, logPath());

        // Every text the receive line shows, not only the last attempt's.
        QStringList shown;
        connect(ui->RcdLine, &QLineEdit::textChanged, this, [&](const QString &text) {
            if (!text.isEmpty())
                shown << text;
        });
        if (args.contains(QStringLiteral("--split"))) {
            // A tick while an answer is still arriving reads a piece, which
            // is no reading; the rest heads the next read and spoils it too.
            w->poller();
            QVERIFY(w->serialPort()->waitForReadyRead(2000));
            w->poller();
            QCOMPARE(ui->comerr->text(), kLinkError);
            settle(w->serialPort());
            QVERIFY(!cycle(*w));
        }
        int passes = 0;
        for (int i = 0; i < 6; ++i) {
            const bool answered = cycle(*w);
            passes += answered;
            // Whatever got through is the meter's own reading, never noise.
            if (answered) {
                QVERIFY2(ui->PowerDisp->text().startsWith(QLatin1String("120.000 W")), qPrintable(ui->PowerDisp->text()));
                QVERIFY2(ui->VoltsDisp->text().startsWith(QLatin1String("230.00 V")), qPrintable(ui->VoltsDisp->text()));
            }
        }
        if (hangsUp) {
            // What arrived before the hang-up may still be read once; then
            // every poll fails and the port stays shut until one is chosen.
            QVERIFY(sim.process().waitForFinished(3000));
            passes += cycle(*w);
            QVERIFY(!cycle(*w));
        }
        if (failing || hangsUp)
            QCOMPARE(ui->comerr->text(), kLinkError);
        QCOMPARE(ui->TimeDisp->text().isEmpty(), failing); // empty only if no reading ever got through
        disconnect(ui->RcdLine, nullptr, this, nullptr);
        if (received.isEmpty())
            QCOMPARE(shown, QStringList{});
        else
            QVERIFY(!shown.filter(QRegularExpression(received)).isEmpty());
        QCOMPARE(passes > 0, !failing);
        QCOMPARE(w->serialPort()->isOpen(), !hangsUp);
        QVERIFY(!portOpenFailed);
        const QList<QByteArray> before = readLog(logPath()).records;

        // The user picks another meter; polling and logging carry on with it.
        MeterSim next;
        choosePort(*w, next.start({"--no-pacing", "--watts", "75"}));
        QVERIFY(w->serialPort()->isOpen());
        passes += cycle(*w);
        QCOMPARE(ui->TxLine->text(), kAddressFrame);
        QVERIFY(answeredPolls(*w, 3));
        passes += 3;
        QVERIFY2(ui->PowerDisp->text().startsWith(QLatin1String("75.000 W")), qPrintable(ui->PowerDisp->text()));
        const Log after = readLog(logPath());
        QVERIFY(after.header);
        QCOMPARE(after.records.size(), passes / 2);
        QCOMPARE(after.broken, QList<QByteArray>{});
        QCOMPARE(after.records.mid(0, before.size()), before);
        QCOMPARE(watcher.texts(), QStringList{});
    }

    void twoRepliesInOneRead()
    {
        MeterSim sim;
        auto w = openOn(sim, {"--no-pacing"});
        QVERIFY(w);
        // Both answers wait together for the tick, which reads them (and
        // perhaps its own frame's answer) at once.
        w->Txmsg(meterAddress, pendingCommand, 0);
        w->Txmsg(meterAddress, pendingCommand, 0);
        settle(w->serialPort());
        w->poller();
        QCOMPARE(w->form()->comerr->text(), QString());
        QVERIFY(w->form()->RcdLine->text().count(QLatin1Char('>')) >= 2);
        QVERIFY(w->form()->PowerDisp->text().startsWith(QLatin1String("120.000 W")));
    }

    void logFileFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("header"); // the file afterwards still starts with the header
        QTest::addColumn<int>("records");
        // Passes 2 and 4 write before the fault; it lasts passes 5 to 8; three
        // more follow.
        QTest::newRow("file deleted") << "delete" << false << 3;            // 6, 8, 10
        QTest::newRow("file replaced by a folder") << "folder" << true << 4; // 2, 4, 9, 11
        QTest::newRow("folder removed") << "rmdir" << false << 2;           // 9, 11
    }

    void logFileFaults()
    {
        QFETCH(QString, fault);
        QFETCH(bool, header);
        QFETCH(int, records);
        const bool blocks = fault != QLatin1String("delete"); // nothing can be written until undone
        ModalWatcher watcher;
        MeterSim sim;
        const QString folder = dir->filePath(QStringLiteral("logs"));
        const QString log = folder + QStringLiteral("/log.csv");
        const QString aside = dir->filePath(QStringLiteral("aside.csv"));
        QVERIFY(QDir().mkpath(folder));
        auto w = openOn(sim, {"--no-pacing"});
        QVERIFY(w);
        QVERIFY(answeredPolls(*w, 1));
        startLog(*w, log);
        // The schedule counts readout passes: one for each answered poll.
        QVERIFY(answeredPolls(*w, 4));
        QCOMPARE(readLog(log).records.size(), 2);

        if (fault == QLatin1String("delete"))
            QVERIFY(QFile::remove(log));
        else if (fault == QLatin1String("folder"))
            QVERIFY(QFile::rename(log, aside) && QDir().mkdir(log));
        else
            QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(answeredPolls(*w, 4));
        // The log's trouble is nobody's business on screen.
        QCOMPARE(w->form()->comerr->text(), QString());
        QCOMPARE(QFileInfo(log).isFile(), !blocks);
        QCOMPARE(readLog(log).records.size(), blocks ? 0 : 2);

        if (fault == QLatin1String("folder"))
            QVERIFY(QDir().rmdir(log) && QFile::rename(aside, log));
        else if (fault == QLatin1String("rmdir"))
            QVERIFY(QDir().mkpath(folder));
        // A record that waited lands on the first pass that can write it.
        QVERIFY(answeredPolls(*w, 3));
        const Log after = readLog(log);
        QCOMPARE(after.header, header);
        QCOMPARE(after.records.size(), records);
        QCOMPARE(after.broken, QList<QByteArray>{});
        QCOMPARE(watcher.texts(), QStringList{});
    }

    void logChild_data()
    {
        QTest::addColumn<QStringList>("args"); // after the log's path
        QTest::addColumn<int>("killAfter");    // records written before a SIGKILL; -1: none, it runs to its end
        QTest::addColumn<QList<int>>("passes"); // those whose records the log holds; empty: 2, 4, 6, ...
        // A file size limit for eight passes, then eight without: the refused
        // record lands on the first pass after the limit is lifted.
        QTest::newRow("disk full at START") << QStringList{"0", "0"} << -1 << QList<int>{9, 11, 13, 15};
        QTest::newRow("disk full but for a line end") << QStringList{"2", "-1"} << -1 << QList<int>{2, 4, 9, 11, 13, 15};
        QTest::newRow("killed right after START") << QStringList{} << 0 << QList<int>{};
        QTest::newRow("killed while busy") << QStringList{} << 200 << QList<int>{};
        QTest::newRow("killed much later") << QStringList{} << 3000 << QList<int>{};
    }

    // The program logging in a child process: a size limit must not touch
    // this one, and forking a process with a running GUI is no way to get one.
    void logChild()
    {
        QFETCH(QStringList, args);
        QFETCH(int, killAfter);
        QFETCH(QList<int>, passes);
        QProcess child;
        child.start(QStringLiteral(LOGCHILD_EXE), QStringList{logPath()} + args);
        if (killAfter < 0) {
            QVERIFY(child.waitForFinished(30000));
            QCOMPARE(child.exitStatus(), QProcess::NormalExit); // not ended by SIGXFSZ
            QCOMPARE(child.exitCode(), 0);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(logPath()).size() >= kHeader.size() + 1 + killAfter * 60, 60000);
            child.kill();
            QVERIFY(child.waitForFinished(10000));
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        }
        // Header first, whole records only; the time column is the pass.
        const Log written = readLog(logPath());
        QVERIFY(written.header);
        QCOMPARE(written.broken, QList<QByteArray>{});
        QVERIFY(written.records.size() >= killAfter);
        QList<int> got;
        for (const QByteArray &line : written.records) {
            const QList<QByteArray> hms = line.left(line.indexOf(',')).split(':');
            got << hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt();
            if (killAfter >= 0)
                passes << 2 * int(got.size());
        }
        QCOMPARE(got, passes);
    }

    // The settings folder cannot be made: a file stands where it would go.
    void settingsUnwritableAtClose()
    {
        ModalWatcher watcher;
        PtyPair first;
        PtyPair second;
        storePortName(first.path());
        auto w = std::make_unique<QuelmarStatus>();
        choosePort(*w, second.path());
        QVERIFY(w->serialPort()->isOpen());
        QFile blocker(dir->filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly) && blocker.write("kept\n") == 5);
        blocker.close();
        useSettingsFolder(dir->filePath(QStringLiteral("blocker/settings")));

        // Closing stores the port; the store refuses, and the window still
        // goes, quietly, leaving the file alone.
        w.reset();
        QCOMPARE(watcher.texts(), QStringList{});
        QVERIFY(!hasStoredPortName());
        QVERIFY(blocker.open(QIODevice::ReadOnly));
        QCOMPARE(blocker.readAll(), QByteArray("kept\n"));

        // The store that worked still holds the port it held.
        useSettingsFolder(settingsDir.path());
        QCOMPARE(storedPortName(), first.path());
    }
};

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
