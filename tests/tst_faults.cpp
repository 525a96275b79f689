// What goes wrong in the field: a meter that is silent, noisy, slow or gone,
// a log file that vanishes or cannot be written, a disk that fills, a
// process that is killed, a settings store that refuses the last write. The
// program runs against the simulated meter; the test drives the polls itself
// and, between them, waits for the meter to finish answering.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "link/protocol.h"
#include "settings/settingskeys.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power";
const QString kLinkError = QStringLiteral("Communication Error");
const QString kAddressFrame = QStringLiteral("<FFA,01;015A\r");

// The log as lines: a header only counts as the first line, every other line
// must be a whole record, and the file must end with its line end.
struct Log {
    bool header = false;
    QList<QByteArray> records;
    QList<QByteArray> broken;
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
    QByteArray all = file.readAll();
    const qsizetype end = all.lastIndexOf('\n') + 1;
    if (end < all.size())
        log.broken << all.mid(end);
    all.truncate(end);
    QList<QByteArray> lines = all.split('\n');
    lines.removeLast();
    if (!lines.isEmpty() && lines.first() == kHeader) {
        log.header = true;
        lines.removeFirst();
    }
    for (const QByteArray &line : lines)
        (record.match(QString::fromLatin1(line)).hasMatch() ? log.records : log.broken) << line;
    return log;
}

// Waits for the meter to answer what is in flight: up to `firstMs` for its
// first byte, then until the line has been quiet for `quietMs`. The bytes
// stay in the port for the next poll to read.
void settle(QSerialPort *port, int firstMs = 300, int quietMs = 80)
{
    if (!port->isOpen() || !port->waitForReadyRead(firstMs))
        return;
    while (port->waitForReadyRead(quietMs)) {
    }
}

// One poll as the timer would run it, then time for the meter to answer all
// that the poll sent. True when the poll got an answer.
bool cycle(QuelmarStatus &w)
{
    w.poller();
    settle(w.serialPort());
    return w.form()->comerr->text().isEmpty();
}

// Polls until `n` polls have got an answer. Some may get none: now and then
// a frame's answer, or the first piece of it, arrives within the very poll
// that sent it; the next poll then finds nothing waiting, or a read that
// starts mid-reply.
bool answeredPolls(QuelmarStatus &w, int n)
{
    for (int misses = 0; n > 0;) {
        if (cycle(w))
            --n;
        else if (++misses > 8)
            return false;
    }
    return true;
}

// The meter numbers its replies in the first field; this is the number of
// the last reply in a read.
int lastReplyNumber(const QString &read)
{
    return read.mid(read.lastIndexOf(QLatin1Char('>'))).section(QLatin1Char(','), 1, 1).toInt();
}

void startLog(QuelmarStatus &w, const QString &path)
{
    Ui_QuelmarStatus *ui = w.form();
    ui->fileEdit->setText(path);
    ui->lperiod->setValue(1);
    ui->logclear->setChecked(false);
    w.startlogging();
}

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void linkFaults_data();
    void linkFaults();
    void pacedAnswersReadNextTick();
    void splitRepliesReadMidway();
    void severalRepliesInOneRead_data();
    void severalRepliesInOneRead();
    void hangUpThenPortChosenAgain_data();
    void hangUpThenPortChosenAgain();

    void logFileFaults_data();
    void logFileFaults();
    void diskFull_data();
    void diskFull();
    void killedWhileLogging_data();
    void killedWhileLogging();

    void settingsUnwritableAtClose_data();
    void settingsUnwritableAtClose();

private:
    // The window on a freshly started meter, its poll timer stopped.
    std::unique_ptr<QuelmarStatus> openOn(MeterSim &sim, const QStringList &args);
    // Chooses the port of a freshly started meter, as the user would.
    bool chooseMeter(QuelmarStatus &w, MeterSim &sim, const QStringList &args);

    QTemporaryDir settingsDir;
    std::unique_ptr<QTemporaryDir> dir;
};

void tst_Faults::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useSettingsFolder(settingsDir.path());
}

void tst_Faults::init()
{
    useSettingsFolder(settingsDir.path());
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

std::unique_ptr<QuelmarStatus> tst_Faults::openOn(MeterSim &sim, const QStringList &args)
{
    const QString path = sim.start(args);
    if (path.isEmpty())
        return nullptr;
    storePortName(path);
    auto w = std::make_unique<QuelmarStatus>();
    pollTimer->stop();
    if (!w->serialPort()->isOpen())
        return nullptr;
    return w;
}

bool tst_Faults::chooseMeter(QuelmarStatus &w, MeterSim &sim, const QStringList &args)
{
    const QString path = sim.start(args);
    if (path.isEmpty())
        return false;
    w.form()->ComPort->setEditText(path);
    w.PortChanged();
    pollTimer->stop(); // opening restarts it
    return w.serialPort()->isOpen();
}

void tst_Faults::linkFaults_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("failing");  // every poll fails and nothing reaches the readout
    QTest::addColumn<QString>("received"); // some text the receive line shows; empty: it shows none

    const QString reply = QStringLiteral("^>01[AS],\\d+,0,");
    QTest::newRow("silent meter") << QStringList{"--drop", "1"} << true << QString();
    // With this seed no read that starts at a reply passes the checksum.
    QTest::newRow("garbage") << QStringList{"--garbage", "1", "--seed", "40", "--no-pacing"} << true << "^.";
    QTest::newRow("bad checksums") << QStringList{"--corrupt", "1", "--no-pacing"} << true << reply;
    QTest::newRow("half the replies lost") << QStringList{"--drop", "0.5", "--seed", "3", "--no-pacing"} << false
                                           << reply;
    QTest::newRow("paced, in four pieces") << QStringList{"--split", "4"} << false << reply;
    QTest::newRow("sound meter") << QStringList{"--no-pacing"} << false << reply;
}

void tst_Faults::linkFaults()
{
    QFETCH(QStringList, args);
    QFETCH(bool, failing);
    QFETCH(QString, received);
    ModalWatcher watcher;
    MeterSim sim;
    auto w = openOn(sim, args);
    QVERIFY(w);
    Ui_QuelmarStatus *ui = w->form();
    const QString log = dir->filePath(QStringLiteral("log.csv"));
    startLog(*w, log);
    QVERIFY(!ui->startButton->isEnabled());

    // Every text the receive line shows, not only the last attempt's.
    QStringList shown;
    connect(ui->RcdLine, &QLineEdit::textChanged, this, [&](const QString &text) { shown << text; });
    int passes = 0;
    for (int i = 0; i < 6; ++i) {
        const bool answered = cycle(*w);
        passes += answered;
        if (failing) {
            QCOMPARE(ui->comerr->text(), kLinkError);
            QCOMPARE(ui->TimeDisp->text(), QString());
        }
        // Whatever got through is the meter's own reading, never noise.
        if (answered) {
            QVERIFY2(ui->PowerDisp->text().startsWith(QLatin1String("120.000 W")), qPrintable(ui->PowerDisp->text()));
            QVERIFY2(ui->VoltsDisp->text().startsWith(QLatin1String("230.00 V")), qPrintable(ui->VoltsDisp->text()));
        }
    }
    disconnect(ui->RcdLine, nullptr, this, nullptr);
    shown.removeAll(QString());
    if (received.isEmpty())
        QCOMPARE(shown, QStringList{});
    else
        QVERIFY(!shown.filter(QRegularExpression(received)).isEmpty());
    QCOMPARE(passes > 0, !failing);
    QVERIFY(!portOpenFailed);
    QVERIFY(w->serialPort()->isOpen());
    Log before = readLog(log);
    QVERIFY(before.header);
    QCOMPARE(before.records.size(), passes / 2);
    QCOMPARE(before.broken, QList<QByteArray>{});

    // The user picks another meter; polling and logging carry on with it.
    MeterSim next;
    QVERIFY(chooseMeter(*w, next, {"--no-pacing", "--watts", "75"}));
    QCOMPARE(pendingCommand, "A");
    passes += cycle(*w);
    QCOMPARE(ui->TxLine->text(), kAddressFrame);
    QVERIFY(answeredPolls(*w, 3));
    passes += 3;
    QVERIFY2(ui->PowerDisp->text().startsWith(QLatin1String("75.000 W")), qPrintable(ui->PowerDisp->text()));
    const Log after = readLog(log);
    QVERIFY(after.header);
    QCOMPARE(after.records.size(), passes / 2);
    QCOMPARE(after.broken, QList<QByteArray>{});
    QCOMPARE(after.records.mid(0, before.records.size()), before.records);
    QCOMPARE(watcher.texts(), QStringList{});
}

void tst_Faults::pacedAnswersReadNextTick()
{
    MeterSim sim;
    auto w = openOn(sim, {});
    QVERIFY(w);
    Ui_QuelmarStatus *ui = w->form();
    QStringList shown;
    connect(ui->RcdLine, &QLineEdit::textChanged, this, [&](const QString &text) { shown << text; });

    // A reply takes some 70 ms at 9600 baud: all three attempts of the first
    // tick find nothing whole.
    w->poller();
    disconnect(ui->RcdLine, nullptr, this, nullptr);
    QCOMPARE(ui->comerr->text(), kLinkError);
    QCOMPARE(ui->TxLine->text(), kAddressFrame);
    QCOMPARE(ui->TimeDisp->text(), QString());
    settle(w->serialPort());

    // The next tick sends the regular poll and reads the three answers to
    // the address change. (Unless the first tick caught the start of one:
    // then the rest of it spoils this read.)
    if (shown.isEmpty()) {
        QVERIFY(cycle(*w));
        QCOMPARE(ui->TxLine->text(), QStringLiteral("<01S,;00E0\r"));
        QVERIFY(ui->RcdLine->text().startsWith(QLatin1String(">01A,1,")));
        QCOMPARE(ui->RcdLine->text().count(QLatin1String(">01A,")), 3);
    }

    // From then on a tick reads the answer to the tick before: one frame
    // out, one earlier reply in, numbered one on from the last. A tick that
    // catches the start of its own answer breaks the run for a tick or two.
    int steady = 0;
    int last = -1;
    for (int tick = 0; tick < 12 && steady < 4; ++tick) {
        const bool answered = cycle(*w);
        const QString read = ui->RcdLine->text();
        const bool single = answered && read.startsWith(QLatin1String(">01S,")) && read.endsWith(QLatin1Char('\r'))
            && read.count(QLatin1Char('>')) == 1;
        if (single && last >= 0) {
            QCOMPARE(lastReplyNumber(read), last + 1);
            ++steady;
        }
        last = single ? lastReplyNumber(read) : -1;
    }
    QVERIFY2(steady >= 2, qPrintable(QString::number(steady)));
}

void tst_Faults::splitRepliesReadMidway()
{
    MeterSim sim;
    auto w = openOn(sim, {"--split", "4", "--watts", "100"});
    QVERIFY(w);
    Ui_QuelmarStatus *ui = w->form();
    const QString log = dir->filePath(QStringLiteral("log.csv"));
    QVERIFY(answeredPolls(*w, 1));
    startLog(*w, log);
    // This poll reads the answer that is waiting; its own is on its way.
    w->poller();
    for (int i = 0; i < 3 && !ui->comerr->text().isEmpty(); ++i) {
        settle(w->serialPort());
        w->poller();
    }
    QCOMPARE(ui->comerr->text(), QString());
    QVERIFY(ui->PowerDisp->text().startsWith(QLatin1String("100.000 W")));
    const int countdown = logcount; // moves with every readout pass

    // The tick comes while that answer is still arriving: it reads a piece,
    // which is no reading.
    QVERIFY(w->serialPort()->waitForReadyRead(2000));
    w->poller();
    QCOMPARE(ui->comerr->text(), kLinkError);
    QCOMPARE(logcount, countdown);

    // The rest of that answer heads the next read, and spoils it.
    settle(w->serialPort());
    QVERIFY(!cycle(*w));
    QCOMPARE(logcount, countdown);

    // A read that starts at a reply again is good.
    QVERIFY(answeredPolls(*w, 1));
    QVERIFY(ui->PowerDisp->text().startsWith(QLatin1String("100.000 W")));

    // Two passes since START: one record, and every line whole.
    Log written = readLog(log);
    QVERIFY(written.header);
    QCOMPARE(written.records.size(), 1);
    QCOMPARE(written.broken, QList<QByteArray>{});
    QVERIFY(answeredPolls(*w, 2));
    written = readLog(log);
    QCOMPARE(written.records.size(), 2);
    QCOMPARE(written.broken, QList<QByteArray>{});
}

void tst_Faults::severalRepliesInOneRead_data()
{
    QTest::addColumn<int>("frames");
    // Each reply brings ten fields, and its checksum joined to the next
    // reply's header makes one more.
    QTest::newRow("one") << 1;
    QTest::newRow("two") << 2;
    QTest::newRow("three") << 3;
    QTest::newRow("nine") << 9;
    QTest::newRow("twelve") << 12;
}

void tst_Faults::severalRepliesInOneRead()
{
    QFETCH(int, frames);
    MeterSim sim;
    auto w = openOn(sim, {"--no-pacing"});
    QVERIFY(w);
    Ui_QuelmarStatus *ui = w->form();

    for (int i = 0; i < frames; ++i)
        w->Txmsg(meterAddress, pendingCommand, 0);
    settle(w->serialPort());
    std::vector<double> vals(quelmar::kMeasurementCount, -1.0);
    QCOMPARE(w->Rcvmsg(meterAddress, vals.data()), 11 * frames);
    for (int k = 0; k < frames; ++k) {
        QCOMPARE(vals[11 * k], vals[0] + k); // the meter's reply numbers
        QCOMPARE(vals[11 * k + 4], 120000.0); // milliwatts
        if (k > 0)
            QCOMPARE(vals[11 * k - 1], 0.0);
    }

    // The same through the poll: a good exchange either way, shown only while
    // the count stays under 90. (Its own frame's answer may join the read;
    // that cannot move any of these counts across the line.)
    for (int i = 0; i < frames; ++i)
        w->Txmsg(meterAddress, pendingCommand, 0);
    settle(w->serialPort());
    w->poller();
    QCOMPARE(ui->comerr->text(), QString());
    QCOMPARE(ui->TimeDisp->text().isEmpty(), 11 * frames >= 90);
}

void tst_Faults::hangUpThenPortChosenAgain_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("after the first answer") << QStringList{"--hangup-after", "1"};
    QTest::newRow("mid-run") << QStringList{"--hangup-after", "5", "--no-pacing"};
    QTest::newRow("mid-run, in pieces") << QStringList{"--hangup-after", "6", "--split", "2"};
}

void tst_Faults::hangUpThenPortChosenAgain()
{
    QFETCH(QStringList, args);
    ModalWatcher watcher;
    MeterSim sim;
    auto w = openOn(sim, args);
    QVERIFY(w);
    Ui_QuelmarStatus *ui = w->form();
    const QString log = dir->filePath(QStringLiteral("log.csv"));
    startLog(*w, log);

    int passes = 0;
    for (int i = 0; i < 12 && !sim.process().waitForFinished(20); ++i)
        passes += cycle(*w);
    QCOMPARE(sim.process().state(), QProcess::NotRunning);

    // The line is dead. What arrived before the hang-up may still be read
    // once; after that every poll fails, and the port stays shut until a
    // port is chosen, without counting as a failed open.
    passes += cycle(*w);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(!cycle(*w));
        QCOMPARE(ui->comerr->text(), kLinkError);
    }
    QVERIFY(!w->serialPort()->isOpen());
    QVERIFY(!portOpenFailed);
    const Log dead = readLog(log);
    QVERIFY(dead.header);
    QCOMPARE(dead.records.size(), passes / 2);

    MeterSim next;
    QVERIFY(chooseMeter(*w, next, {"--no-pacing", "--watts", "75"}));
    passes += cycle(*w);
    QCOMPARE(ui->TxLine->text(), kAddressFrame);
    QVERIFY(answeredPolls(*w, 4));
    passes += 4;
    QVERIFY(ui->PowerDisp->text().startsWith(QLatin1String("75.000 W")));

    const Log after = readLog(log);
    QVERIFY(after.header);
    QCOMPARE(after.records.size(), passes / 2);
    QVERIFY(after.records.size() > dead.records.size());
    QCOMPARE(after.broken, QList<QByteArray>{});
    QCOMPARE(watcher.texts(), QStringList{});
}

void tst_Faults::logFileFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("blocks");     // records cannot be written until it is undone
    QTest::addColumn<bool>("header");     // the file afterwards still starts with the header
    QTest::addColumn<int>("records");

    // Passes 2 and 4 write before the fault; it lasts passes 5 to 8; three
    // more passes follow.
    QTest::newRow("file deleted") << "delete" << false << false << 3;        // 6, 8, 10
    QTest::newRow("file replaced by a folder") << "folder" << true << true << 4; // 2, 4, 9, 11
    QTest::newRow("folder removed") << "rmdir" << true << false << 2;        // 9, 11
    QTest::newRow("folder replaced by a file") << "notdir" << true << false << 2; // 9, 11
}

void tst_Faults::logFileFaults()
{
    QFETCH(QString, fault);
    QFETCH(bool, blocks);
    QFETCH(bool, header);
    QFETCH(int, records);
    ModalWatcher watcher;
    MeterSim sim;
    auto w = openOn(sim, {"--no-pacing"});
    QVERIFY(w);
    Ui_QuelmarStatus *ui = w->form();
    const QString folder = dir->filePath(QStringLiteral("logs"));
    const QString log = folder + QStringLiteral("/log.csv");
    const QString aside = dir->filePath(QStringLiteral("aside.csv"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(answeredPolls(*w, 1));
    startLog(*w, log);

    // The log's schedule counts readout passes: one for each answered poll.
    auto passes = [&](int n) { return answeredPolls(*w, n); };
    QVERIFY(passes(4));
    QCOMPARE(readLog(log).records.size(), 2);

    if (fault == QLatin1String("delete")) {
        QVERIFY(QFile::remove(log));
    } else if (fault == QLatin1String("folder")) {
        QVERIFY(QFile::rename(log, aside));
        QVERIFY(QDir().mkdir(log));
    } else {
        QVERIFY(QDir(folder).removeRecursively());
        if (fault == QLatin1String("notdir")) {
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
    QVERIFY(passes(4));
    // The log's trouble is nobody's business on screen.
    QCOMPARE(ui->comerr->text(), QString());
    QCOMPARE(watcher.texts(), QStringList{});
    QVERIFY(!ui->startButton->isEnabled());
    if (blocks) {
        QVERIFY(!QFileInfo(log).isFile());
    } else {
        const Log fresh = readLog(log);
        QVERIFY(!fresh.header);
        QCOMPARE(fresh.records.size(), 2);
    }

    if (fault == QLatin1String("folder")) {
        QVERIFY(QDir().rmdir(log));
        QVERIFY(QFile::rename(aside, log));
    } else if (fault != QLatin1String("delete")) {
        QVERIFY(QFile::remove(folder) || !QFileInfo::exists(folder));
        QVERIFY(QDir().mkpath(folder));
    }
    const qsizetype waiting = readLog(log).records.size();
    QVERIFY(passes(1));
    // The record that waited lands on the first pass that can write it.
    if (blocks)
        QCOMPARE(readLog(log).records.size(), waiting + 1);
    QVERIFY(passes(2));

    const Log after = readLog(log);
    QCOMPARE(after.header, header);
    QCOMPARE(after.records.size(), records);
    QCOMPARE(after.broken, QList<QByteArray>{});
}

void tst_Faults::diskFull_data()
{
    QTest::addColumn<int>("fit");   // whole records the file has room for
    QTest::addColumn<int>("spare"); // and bytes beyond them, less than a record; -1: all of one but its line end
    QTest::newRow("full at START") << 0 << 0;
    QTest::newRow("room for part of one") << 0 << 20;
    QTest::newRow("room for one") << 1 << 0;
    QTest::newRow("room for two and a bit") << 2 << 45;
    QTest::newRow("all but the line end") << 3 << -1;
}

void tst_Faults::diskFull()
{
    QFETCH(int, fit);
    QFETCH(int, spare);
    // The size limit is set in a process of its own: it must not touch this
    // one, and forking a process with a running GUI is no way to get one.
    const int limited = 8;
    const QString log = dir->filePath(QStringLiteral("log.csv"));
    QProcess child;
    child.start(QStringLiteral(LOGCHILD_EXE),
                {log, QString::number(limited), QString::number(fit), QString::number(spare)});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit); // not ended by SIGXFSZ
    QCOMPARE(child.exitCode(), 0);
    const QList<QByteArray> out = child.readAllStandardOutput().split('\n');
    QCOMPARE(out.value(0), QByteArray("ready"));
    QVERIFY(out.value(1).startsWith("limited "));

    // While the file was full it held the header and the records that fit,
    // and nothing of the one that did not.
    const qint64 headerSize = kHeader.size() + 1;
    const Log written = readLog(log);
    QVERIFY(written.header);
    QCOMPARE(written.broken, QList<QByteArray>{});
    QVERIFY(!written.records.isEmpty());
    const qint64 recordSize = written.records.first().size() + 1;
    QCOMPARE(out.value(1).mid(8).toLongLong(), headerSize + fit * recordSize);

    // The child's pass n reads n seconds: records on passes 2, 4, ... while
    // there was room; the refused one waits and lands on the first pass after
    // the limit is lifted, and every second pass after it.
    QStringList times;
    for (const QByteArray &line : written.records)
        times << QString::fromLatin1(line.left(line.indexOf(',')));
    QStringList expected;
    for (int k = 1; k <= fit; ++k)
        expected << QStringLiteral("00:00:%1").arg(2 * k, 2, 10, QLatin1Char('0'));
    for (int pass = limited + 1; pass <= 2 * limited; pass += 2)
        expected << QStringLiteral("00:00:%1").arg(pass, 2, 10, QLatin1Char('0'));
    QCOMPARE(times, expected);
}

void tst_Faults::killedWhileLogging_data()
{
    QTest::addColumn<int>("minRecords"); // written before the kill is timed
    QTest::addColumn<int>("delayMs");
    QTest::newRow("right after START") << 0 << 0;
    QTest::newRow("early") << 5 << 3;
    QTest::newRow("busy") << 200 << 17;
    QTest::newRow("later") << 1000 << 111;
    QTest::newRow("much later") << 3000 << 250;
}

void tst_Faults::killedWhileLogging()
{
    QFETCH(int, minRecords);
    QFETCH(int, delayMs);
    const QString log = dir->filePath(QStringLiteral("log.csv"));
    QProcess child;
    child.start(QStringLiteral(LOGCHILD_EXE), {log});
    QVERIFY(child.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(child.canReadLine(), 20000);
    QCOMPARE(child.readLine(), QByteArray("ready\n"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() >= (kHeader.size() + 1) + minRecords * 60, 60000);
    QThread::msleep(delayMs);
    child.kill();
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    // Header first, whole records only, each two passes on from the last.
    const Log written = readLog(log);
    QVERIFY(written.header);
    QCOMPARE(written.broken, QList<QByteArray>{});
    QVERIFY(written.records.size() >= minRecords);
    qint64 previous = 0;
    for (const QByteArray &line : written.records) {
        const QList<QByteArray> hms = line.left(line.indexOf(',')).split(':');
        const qint64 seconds = hms[0].toLongLong() * 3600 + hms[1].toInt() * 60 + hms[2].toInt();
        QCOMPARE(seconds, previous + 2);
        previous = seconds;
    }
}

void tst_Faults::settingsUnwritableAtClose_data()
{
    QTest::addColumn<QString>("blocker"); // made a regular file (or, ending in "/", a folder)
    QTest::addColumn<QString>("folder");  // the settings folder at close, both relative to the test folder
    QTest::newRow("folder inside a file") << "blocker" << "blocker/settings";
    QTest::newRow("organisation folder is a file") << "settings/Norvane" << "settings";
    QTest::newRow("settings file is a folder") << "settings/Norvane/Tovrik Communicator.conf/" << "settings";
}

void tst_Faults::settingsUnwritableAtClose()
{
    QFETCH(QString, blocker);
    QFETCH(QString, folder);
    ModalWatcher watcher;
    PtyPair first;
    PtyPair second;
    storePortName(first.path());
    auto w = std::make_unique<QuelmarStatus>();
    pollTimer->stop();
    w->form()->ComPort->setEditText(second.path());
    w->PortChanged();
    pollTimer->stop();
    QVERIFY(w->serialPort()->isOpen());

    const QString blockerPath = dir->filePath(blocker);
    if (blocker.endsWith(QLatin1Char('/'))) {
        QVERIFY(QDir().mkpath(blockerPath));
    } else {
        QVERIFY(QDir().mkpath(QFileInfo(blockerPath).path()));
        QFile file(blockerPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("kept\n");
    }
    useSettingsFolder(dir->filePath(folder));
    {
        QSettings probe(quelmar::kSettingsOrganisation, quelmar::kSettingsApplication);
        QVERIFY(probe.fileName().startsWith(dir->filePath(folder)));
    }

    // Closing stores the port; the store refuses, and the window still goes.
    w.reset();
    QCOMPARE(watcher.texts(), QStringList{});
    if (blocker.endsWith(QLatin1Char('/'))) {
        QVERIFY(QFileInfo(blockerPath).isDir());
        QCOMPARE(QDir(blockerPath).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{});
    } else {
        QFile file(blockerPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("kept\n"));
    }
    QVERIFY(!hasStoredPortName());

    // The store that worked still holds the port it held.
    useSettingsFolder(settingsDir.path());
    QCOMPARE(storedPortName(), first.path());
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
