// The Data Logging tab: the log file's format, the record schedule counted in
// readout passes, and what happens when the file cannot be opened or written.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using Entries = QMap<int, double>;
using Passes = QList<int>;

namespace {

const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power\n";
const QString kRefused = QStringLiteral("Log File Error.|No file name selected!");

// The record lines after the header, none for a file that is the header
// exactly; a missing header or a partial line makes it "<broken file>".
QList<QByteArray> records(const QString &path)
{
    QFile f(path);
    const QByteArray all = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    if (!all.startsWith(kHeader) || !all.endsWith('\n'))
        return {QByteArray("<broken file>")};
    QList<QByteArray> lines = all.mid(kHeader.size()).split('\n');
    lines.removeLast();
    return lines;
}

// Pass n reads n seconds (n < 60), so the seconds column tells which pass
// wrote a record.
Passes passesOf(const QString &path)
{
    Passes out;
    for (const QByteArray &line : records(path))
        out << line.mid(6, 2).toInt();
    return out;
}

// START, STOP, the period, Clear First, Browse and the file name.
QList<bool> logWidgetsEnabled(const Ui_QuelmarStatus *ui)
{
    return {ui->startButton->isEnabled(), ui->stopButton->isEnabled(), ui->lperiod->isEnabled(),
            ui->logclear->isEnabled(),    ui->browseButton->isEnabled(), ui->fileEdit->isEnabled()};
}

const QList<bool> kIdle{true, false, true, true, true, true};
const QList<bool> kLogging{false, true, false, false, false, false};

} // namespace

class tst_DataLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void schedule_data();
    void schedule();
    void recordLine_data();
    void recordLine();
    void startAndStop();

private:
    void start(int period);
    void runPass(double seconds, const Entries &entries = {});
    QTemporaryDir settingsDir;
    std::unique_ptr<QTemporaryDir> dir;
    QString logPath;
    PtyPair pty;
    std::unique_ptr<QuelmarStatus> w; // last, so it closes before the line goes
};

void tst_DataLog::initTestCase()
{
    // The log's numbers must not pick up a decimal comma from the locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(settingsDir.isValid());
    QVERIFY(pty.isValid());
    useSettingsFolder(settingsDir.path());
    storePortName(pty.path());
}

void tst_DataLog::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    logPath = dir->filePath(QStringLiteral("log.csv"));
    w.reset(); // it holds the port the next window opens
    w = openWindowOn(pty.path());
    pendingCommand[0] = 'S';
}

void tst_DataLog::start(int period)
{
    w->form()->fileEdit->setText(logPath);
    w->form()->lperiod->setValue(period);
    w->startlogging();
}

void tst_DataLog::runPass(double seconds, const Entries &entries)
{
    double vals[150] = {};
    vals[2] = seconds;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        vals[it.key()] = it.value();
    w->UpdateDisp(vals);
}

void tst_DataLog::schedule_data()
{
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("blockFrom"); // passes during which the file is a folder; 0: none
    QTest::addColumn<int>("blockTo");
    QTest::addColumn<Passes>("expected"); // one pass more runs
    QTest::newRow("1 s") << 1 << 0 << 0 << Passes{2, 4, 6};
    QTest::newRow("5 s") << 5 << 0 << 0 << Passes{2, 12, 22};
    // A record that cannot be written waits for the first pass that can.
    QTest::newRow("1 s, first record late") << 1 << 2 << 3 << Passes{4, 6, 8};
    QTest::newRow("2 s, one pass blocked") << 2 << 6 << 6 << Passes{2, 7, 11};
}

void tst_DataLog::schedule()
{
    QFETCH(int, period);
    QFETCH(int, blockFrom);
    QFETCH(int, blockTo);
    QFETCH(Passes, expected);
    start(period);
    QCOMPARE(records(logPath), QList<QByteArray>{});
    const QString aside = logPath + QStringLiteral(".aside");
    for (int pass = 1; pass <= expected.last() + 1; ++pass) {
        if (pass == blockFrom)
            QVERIFY(QFile::rename(logPath, aside) && QDir().mkdir(logPath));
        runPass(pass);
        if (pass == blockTo)
            QVERIFY(QDir().rmdir(logPath) && QFile::rename(aside, logPath));
    }
    QCOMPARE(passesOf(logPath), expected);
}

void tst_DataLog::recordLine_data()
{
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("energyShown");

    QTest::newRow("Wh range, lead")
        << Entries{{2, 3725}, {3, 2500.0 * 3600}, {4, 1500000}, {5, 230120000}, {6, 6520000}, {7, 0}, {8, 950000},
                   {9, 1530000}}
        << QByteArray("01:02:05,2500.000,1500.000,230.12,6.520,0.950,Lead,1530.000") << "2.500 Wh  ";
    QTest::newRow("kWh range, lag, 100 h")
        << Entries{{2, 360061}, {3, 1234567.875 * 3600}, {4, -25000}, {5, 229996000}, {6, -1000}, {7, 1},
                   {8, 1000000}, {9, 0}}
        << QByteArray("100:01:01,1234567.875,-25.000,230.00,-0.001,1.000,lag,0.000") << "1.235 kWh";
}

void tst_DataLog::recordLine()
{
    QFETCH(Entries, entries);
    QFETCH(QByteArray, record);
    QFETCH(QString, energyShown);
    start(1);
    runPass(entries.value(2), entries);
    const qint64 before = QFileInfo(logPath).size();

    // The due record is first written with room for only part of it, in a
    // child: the only process to get the size limit.
    const pid_t child = fork();
    if (child == 0) {
        const rlimit lim{rlim_t(before + 5), rlim_t(before + 5)};
        setrlimit(RLIMIT_FSIZE, &lim);
        signal(SIGXFSZ, SIG_IGN);
        runPass(entries.value(2), entries);
        _exit(0);
    }
    QVERIFY(child > 0);
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QCOMPARE(QFileInfo(logPath).size(), before);

    // Without the limit the same pass writes it whole.
    runPass(entries.value(2), entries);
    QCOMPARE(records(logPath), QList<QByteArray>{record});
    // The log keeps milliwatt-hours whatever range the readout shows.
    QCOMPARE(w->form()->EnergyDisp->text(), energyShown);
}

void tst_DataLog::startAndStop()
{
    ModalWatcher watcher;
    Ui_QuelmarStatus *ui = w->form();
    QCOMPARE(logWidgetsEnabled(ui), kIdle);
    ui->logclear->setChecked(true);
    ui->lperiod->setValue(1);

    // No file name (a cancelled dialog empties the field) or a folder: START
    // refuses and asks the meter for nothing.
    ui->fileEdit->setText(QStringLiteral("earlier.csv"));
    w->setSaveFileName();
    QCOMPARE(ui->fileEdit->text(), QString());
    for (const QString &unopenable : {QString(), dir->path()}) {
        ui->fileEdit->setText(unopenable);
        w->startlogging();
        QCOMPARE(watcher.texts().last(), kRefused);
        QCOMPARE(logWidgetsEnabled(ui), kIdle);
        QCOMPARE(QByteArray(pendingCommand), QByteArray("S"));
    }

    watcher.setFileAnswer(logPath);
    w->setSaveFileName();
    QCOMPARE(ui->fileEdit->text(), logPath);
    {
        QFile old(logPath); // START truncates it
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("left over\nfrom another run,1,2,3\n");
    }
    w->startlogging();
    QCOMPARE(watcher.texts(), (QStringList{"Enter Log filename", kRefused, kRefused, "Enter Log filename"}));
    QCOMPARE(records(logPath), QList<QByteArray>{});
    QCOMPARE(logWidgetsEnabled(ui), kLogging);
    QCOMPARE(QByteArray(pendingCommand), QByteArray("E")); // Clear First clears the meter
    for (int pass = 1; pass <= 2; ++pass)
        runPass(pass);
    QCOMPARE(passesOf(logPath), Passes{2});

    // Stopped, passes write nothing; START again begins a fresh file.
    w->stoplogging();
    QCOMPARE(logWidgetsEnabled(ui), kIdle);
    for (int pass = 3; pass <= 6; ++pass)
        runPass(pass);
    QCOMPARE(passesOf(logPath), Passes{2});
    pendingCommand[0] = 'S';
    ui->logclear->setChecked(false);
    w->startlogging();
    QCOMPARE(records(logPath), QList<QByteArray>{});
    QCOMPARE(logWidgetsEnabled(ui), kLogging);
    QCOMPARE(QByteArray(pendingCommand), QByteArray("S"));
}

QTEST_MAIN(tst_DataLog)
#include "tst_datalog.moc"
