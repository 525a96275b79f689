// The Data Logging tab: the log file's format, the record schedule counted in
// readout passes, and what happens when the file cannot be written.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "display/readouttext.h"
#include "logging/logrecord.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
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

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The record lines after the header; fails the test on a partial line.
QList<QByteArray> records(const QString &path)
{
    const QByteArray all = contents(path);
    if (!all.startsWith(kHeader) || !all.endsWith('\n'))
        return {QByteArray("<broken file>")};
    QList<QByteArray> lines = all.mid(kHeader.size()).split('\n');
    lines.removeLast();
    return lines;
}

// Every pass gets its own elapsed time (pass n reads n seconds), so the time
// column tells which pass wrote a record.
Passes passesOf(const QList<QByteArray> &lines)
{
    Passes out;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> hms = line.split(',').value(0).split(':');
        out << (hms.size() == 3 ? hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt() : -1);
    }
    return out;
}

void runPass(QuelmarStatus *w, double seconds, const Entries &entries = {})
{
    double vals[150] = {};
    vals[2] = seconds;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        vals[it.key()] = it.value();
    w->UpdateDisp(vals);
}

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
    void columns_data();
    void columns();
    void startTruncates();
    void widgetStates_data();
    void widgetStates();
    void clearFirst_data();
    void clearFirst();
    void startRefused_data();
    void startRefused();
    void blockedRecordWaits_data();
    void blockedRecordWaits();
    void noPartialLine_data();
    void noPartialLine();
    void chooseFile_data();
    void chooseFile();

private:
    std::unique_ptr<QuelmarStatus> openWindow();
    void start(QuelmarStatus *w, int period, bool clearFirst = true);
    QTemporaryDir settingsDir;
    std::unique_ptr<QTemporaryDir> dir;
    QString logPath;
    PtyPair pty;
};

void tst_DataLog::initTestCase()
{
    // The log's numbers must not pick up a decimal comma from the locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(settingsDir.isValid());
    QVERIFY(pty.isValid());
    useSettingsFolder(settingsDir.path());
}

void tst_DataLog::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    logPath = dir->filePath(QStringLiteral("log.csv"));
}

std::unique_ptr<QuelmarStatus> tst_DataLog::openWindow()
{
    storePortName(pty.path());
    auto w = std::make_unique<QuelmarStatus>();
    pollTimer->stop();
    pendingCommand[0] = 'S';
    return w;
}

void tst_DataLog::start(QuelmarStatus *w, int period, bool clearFirst)
{
    w->form()->fileEdit->setText(logPath);
    w->form()->lperiod->setValue(period);
    w->form()->logclear->setChecked(clearFirst);
    w->startlogging();
}

void tst_DataLog::schedule_data()
{
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("passes");
    QTest::addColumn<Passes>("expected");
    QTest::newRow("1 s") << 1 << 7 << Passes{2, 4, 6};
    QTest::newRow("2 s") << 2 << 10 << Passes{2, 6, 10};
    QTest::newRow("5 s") << 5 << 23 << Passes{2, 12, 22};
    QTest::newRow("99 s") << 99 << 200 << Passes{2, 200};
}

void tst_DataLog::schedule()
{
    QFETCH(int, period);
    QFETCH(int, passes);
    QFETCH(Passes, expected);
    auto w = openWindow();
    start(w.get(), period);
    QCOMPARE(contents(logPath), kHeader);
    for (int pass = 1; pass <= passes; ++pass)
        runPass(w.get(), pass);
    QCOMPARE(passesOf(records(logPath)), expected);
}

void tst_DataLog::columns_data()
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
    QTest::newRow("mWh range")
        << Entries{{2, 59.99}, {3, 12.5 * 3600}, {5, 1000}, {7, -3}, {8, 1}}
        << QByteArray("00:00:59,12.500,0.000,0.00,0.000,0.000,lag,0.000") << "12.500 mWh";
}

void tst_DataLog::columns()
{
    QFETCH(Entries, entries);
    QFETCH(QByteArray, record);
    QFETCH(QString, energyShown);
    auto w = openWindow();
    start(w.get(), 1);
    runPass(w.get(), entries.value(2), entries);
    runPass(w.get(), entries.value(2), entries);

    const QList<QByteArray> lines = records(logPath);
    QCOMPARE(lines, QList<QByteArray>{record});
    const QList<QByteArray> f = record.split(',');
    QCOMPARE(f.size(), 8);

    // Each column is the readout's text of the same pass without its suffix;
    // only the energy keeps its milliwatt-hours.
    const Ui_QuelmarStatus *ui = w->form();
    QCOMPARE(ui->EnergyDisp->text(), energyShown);
    const auto bare = [](const QLineEdit *e, int suffix) { return e->text().chopped(suffix).toLatin1(); };
    QCOMPARE(bare(ui->TimeDisp, 4), f[0]);
    QCOMPARE(bare(ui->PowerDisp, 6), f[2]);
    QCOMPARE(bare(ui->VoltsDisp, 7), f[3]);
    QCOMPARE(bare(ui->CurrentDisp, 7), f[4]);
    QCOMPARE(bare(ui->PFDisp, 5), f[5]);
    QCOMPARE(ui->PFDisp->text().endsWith(QLatin1String(" Lead")), f[6] == "Lead");
    QCOMPARE(bare(ui->VADisp, 6), f[7]);
}

void tst_DataLog::startTruncates()
{
    {
        QFile old(logPath);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("left over\nfrom another run,1,2,3\n");
    }
    auto w = openWindow();
    start(w.get(), 1);
    QCOMPARE(contents(logPath), kHeader);
    for (int pass = 1; pass <= 2; ++pass)
        runPass(w.get(), pass);
    QCOMPARE(passesOf(records(logPath)), Passes{2});

    // Stopped, passes write nothing; START again begins a fresh file.
    w->stoplogging();
    for (int pass = 3; pass <= 6; ++pass)
        runPass(w.get(), pass);
    QCOMPARE(passesOf(records(logPath)), Passes{2});
    w->startlogging();
    QCOMPARE(contents(logPath), kHeader);
}

void tst_DataLog::widgetStates_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QList<bool>>("enabled");
    QTest::newRow("new window") << "" << kIdle;
    QTest::newRow("started") << "start" << kLogging;
    QTest::newRow("stopped") << "start stop" << kIdle;
    QTest::newRow("restarted") << "start stop start" << kLogging;
    QTest::newRow("refused") << "refuse" << kIdle;
}

void tst_DataLog::widgetStates()
{
    QFETCH(QString, action);
    QFETCH(QList<bool>, enabled);
    ModalWatcher watcher;
    auto w = openWindow();
    for (const QString &step : action.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("start"))
            start(w.get(), 3);
        else if (step == QLatin1String("stop"))
            w->stoplogging();
        else
            w->startlogging(); // no file name yet
    }
    QCOMPARE(logWidgetsEnabled(w->form()), enabled);
}

void tst_DataLog::clearFirst_data()
{
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QByteArray>("pending");
    QTest::newRow("clear first") << true << QByteArray("E");
    QTest::newRow("keep data") << false << QByteArray("S");
}

void tst_DataLog::clearFirst()
{
    QFETCH(bool, checked);
    QFETCH(QByteArray, pending);
    auto w = openWindow();
    start(w.get(), 1, checked);
    QCOMPARE(QByteArray(pendingCommand), pending);
}

void tst_DataLog::startRefused_data()
{
    QTest::addColumn<QString>("name"); // relative to the test folder; empty: none
    QTest::newRow("no name") << "";
    QTest::newRow("a folder") << "folder";
    QTest::newRow("missing folder") << "missing/log.csv";
}

void tst_DataLog::startRefused()
{
    QFETCH(QString, name);
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("folder")));
    const QString path = name.isEmpty() ? QString() : dir->filePath(name);
    ModalWatcher watcher;
    auto w = openWindow();
    w->form()->fileEdit->setText(path);
    w->form()->logclear->setChecked(true);
    w->startlogging();

    QCOMPARE(watcher.texts(), QStringList{kRefused});
    QCOMPARE(logWidgetsEnabled(w->form()), kIdle);
    // Refused, it asks the meter for nothing and later passes log nothing.
    QCOMPARE(QByteArray(pendingCommand), QByteArray("S"));
    for (int pass = 1; pass <= 4; ++pass)
        runPass(w.get(), pass);
    QCOMPARE(QDir(dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"folder"});
}

void tst_DataLog::blockedRecordWaits_data()
{
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("blockFrom"); // passes during which the file is a folder
    QTest::addColumn<int>("blockTo");
    QTest::addColumn<int>("passes");
    QTest::addColumn<Passes>("expected");
    QTest::newRow("1 s, first record late") << 1 << 2 << 3 << 8 << Passes{4, 6, 8};
    QTest::newRow("3 s, first record late") << 3 << 2 << 5 << 18 << Passes{6, 12, 18};
    QTest::newRow("2 s, one pass blocked") << 2 << 6 << 6 << 12 << Passes{2, 7, 11};
}

void tst_DataLog::blockedRecordWaits()
{
    QFETCH(int, period);
    QFETCH(int, blockFrom);
    QFETCH(int, blockTo);
    QFETCH(int, passes);
    QFETCH(Passes, expected);
    auto w = openWindow();
    start(w.get(), period);
    const QString aside = logPath + QStringLiteral(".aside");
    for (int pass = 1; pass <= passes; ++pass) {
        if (pass == blockFrom)
            QVERIFY(QFile::rename(logPath, aside) && QDir().mkdir(logPath));
        runPass(w.get(), pass);
        if (pass == blockTo)
            QVERIFY(QDir().rmdir(logPath) && QFile::rename(aside, logPath));
    }
    QCOMPARE(passesOf(records(logPath)), expected);
}

void tst_DataLog::noPartialLine_data()
{
    QTest::addColumn<bool>("viaWindow");
    QTest::addColumn<int>("room"); // bytes the file may still grow by; -1: all but the line end
    QTest::newRow("no room") << false << 0;
    QTest::newRow("a few bytes") << false << 5;
    QTest::newRow("all but the line end") << false << -1;
    QTest::newRow("window, a few bytes") << true << 5;
}

void tst_DataLog::noPartialLine()
{
    QFETCH(bool, viaWindow);
    QFETCH(int, room);
    auto w = openWindow();
    start(w.get(), 1);
    runPass(w.get(), 1);
    double vals[150] = {};
    vals[2] = 2;
    vals[3] = 3600e6;
    const QByteArray record = quelmar::logRecord(quelmar::readoutTexts(vals));
    if (room < 0)
        room = int(record.size());
    const qint64 before = QFileInfo(logPath).size();

    const pid_t child = fork();
    if (child == 0) {
        // Only this process gets the size limit.
        const rlim_t limit = rlim_t(before + room);
        const rlimit lim{limit, limit};
        setrlimit(RLIMIT_FSIZE, &lim);
        signal(SIGXFSZ, SIG_IGN);
        bool written;
        if (viaWindow) {
            w->UpdateDisp(vals);
            written = logcount != 2; // a refused record holds the countdown
        } else {
            written = quelmar::appendLogRecord(logPath, record);
        }
        _exit(written ? 0 : 3);
    }
    QVERIFY(child > 0);
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 3);
    QCOMPARE(QFileInfo(logPath).size(), before);
    QCOMPARE(records(logPath), QList<QByteArray>{});

    // Without the limit the same record lands whole.
    if (viaWindow)
        w->UpdateDisp(vals);
    else
        QVERIFY(quelmar::appendLogRecord(logPath, record));
    QCOMPARE(records(logPath), QList<QByteArray>{record});
}

void tst_DataLog::chooseFile_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("chosen") << "chosen.csv";
    QTest::newRow("cancelled") << "";
}

void tst_DataLog::chooseFile()
{
    QFETCH(QString, answer);
    const QString path = answer.isEmpty() ? QString() : dir->filePath(answer);
    ModalWatcher watcher;
    watcher.setFileAnswer(path);
    auto w = openWindow();
    w->form()->fileEdit->setText(QStringLiteral("earlier.csv"));
    w->setSaveFileName();
    QCOMPARE(w->form()->fileEdit->text(), path);

    // START then logs to the chosen file, or refuses when there is none.
    w->startlogging();
    QStringList boxes{QStringLiteral("Enter Log filename")};
    if (path.isEmpty())
        boxes << kRefused;
    QCOMPARE(watcher.texts(), boxes);
    QCOMPARE(logWidgetsEnabled(w->form()), path.isEmpty() ? kIdle : kLogging);
    if (!path.isEmpty())
        QCOMPARE(contents(path), kHeader);
}

QTEST_MAIN(tst_DataLog)
#include "tst_datalog.moc"
