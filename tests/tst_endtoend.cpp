// SPDX-License-Identifier: GPL-3.0-or-later
// The program against the simulated meter when things go wrong in the field:
// a meter that is silent, noisy, slow or gone, a log file that vanishes or
// cannot be written, a full disk, a killed process. Also the simulated
// meter's fridge, which the benchmarks and the report's tests lean on.
#include "app/quelmarstatus.h"
#include "core/session/metersession.h"
#include "meter.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <csignal>

namespace {

const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power";

// The log as lines: a header first, then whole records; anything else, a
// tail without its line end included, is broken.
struct Log {
    bool header = false;
    QList<QByteArray> records, broken;
};

Log readLog(const QString &path)
{
    static const QRegularExpression record(QStringLiteral("^\\d{2,}:\\d\\d:\\d\\d,-?\\d+\\.\\d{3},-?\\d+\\.\\d{3},"
                                                          "-?\\d+\\.\\d\\d,-?\\d+\\.\\d{3},-?\\d+\\.\\d{3},(Lead|lag),-?\\d+\\.\\d{3}$"));
    Log log;
    QList<QByteArray> lines = fileBytes(path).split('\n');
    if (!lines.takeLast().isEmpty())
        log.broken << "<no line end>";
    log.header = !lines.isEmpty() && lines.first() == kHeader;
    for (const QByteArray &line : lines.mid(log.header ? 1 : 0))
        (record.match(QString::fromLatin1(line)).hasMatch() ? log.records : log.broken) << line;
    return log;
}

// One poll as the timer would run it, then time for the meter to answer:
// a while for its first byte, then until the line has been quiet. True when
// the poll got an answer.
bool cycle(QuelmarStatus &w)
{
    w.poller();
    for (int ms = 300; w.serialPort()->isOpen() && w.serialPort()->waitForReadyRead(ms); ms = 80) {
    }
    return textOf(w, "comerr").isEmpty();
}

// The window on `port`, logging every second to `log`.
std::unique_ptr<QuelmarStatus> loggingOn(const QString &port, const QString &log)
{
    auto w = port.isEmpty() ? nullptr : openWindowOn(port);
    if (w && !log.isEmpty()) {
        w->findChild<QLineEdit *>("fileEdit")->setText(log);
        w->findChild<QCheckBox *>("logclear")->setChecked(false);
        w->startlogging();
    }
    return w;
}

} // namespace

class tst_EndToEnd : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QString logPath() const { return dir.filePath(QStringLiteral("%1.csv").arg(QTest::currentDataTag())); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        useSettingsFolder(dir.path());
    }

    void linkFaults_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("failing"); // no poll gets an answer, nothing reaches the readout
        QTest::newRow("silent meter") << QStringList{"--drop", "1"} << true;
        // With this seed no read that starts at a reply passes the checksum.
        QTest::newRow("garbage") << QStringList{"--garbage", "1", "--seed", "40", "--no-pacing"} << true;
        QTest::newRow("bad checksums") << QStringList{"--corrupt", "1", "--no-pacing"} << true;
        // At 9600 baud a reply arrives after the poll's reads: the next poll reads it.
        QTest::newRow("paced, in four pieces") << QStringList{"--split", "4"} << false;
    }
    void linkFaults()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, failing);
        ModalWatcher watcher;
        MeterSim sim;
        auto w = loggingOn(sim.start(args), logPath());
        QVERIFY(w);
        int passes = 0;
        for (int i = 0; i < 6; ++i) {
            if (!cycle(*w))
                continue;
            ++passes;
            // Whatever got through is the meter's own reading, never noise.
            QCOMPARE(textOf(*w, "PowerDisp"), QStringLiteral("120.000 W    "));
        }
        QCOMPARE(passes == 0, failing);
        QCOMPARE(textOf(*w, "TimeDisp").isEmpty(), failing);
        // A record for every second answered poll, whole, and no box.
        const Log after = readLog(logPath());
        QVERIFY(after.header && after.broken.isEmpty());
        QCOMPARE(after.records.size(), passes / 2);
        QCOMPARE(watcher.texts(), QStringList{});
    }

    void logger_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("before"); // the file's bytes before the run
        QTest::addColumn<QString>("fault");     // what happens while it logs
        QTest::addColumn<int>("exitCode");
        const QByteArray held = kHeader + "\n00:00:09,0.300,120.000,230.00,0.580,0.900,lag,133.333\n";
        QTest::newRow("new log until SIGINT") << QStringList{"--period", "1"} << QByteArray() << "" << 0;
        QTest::newRow("new log until SIGTERM") << QStringList{} << QByteArray() << "term" << 0;
        QTest::newRow("SIGKILL") << QStringList{} << QByteArray() << "kill" << -1;
        // Room for the header and part of a record, then room again.
        QTest::newRow("disk full for a while") << QStringList{} << QByteArray() << "full" << 0;
        QTest::newRow("a log with records is refused") << QStringList{} << held << "" << 4;
        QTest::newRow("--append adds to it") << QStringList{"--append"} << held << "" << 0;
        QTest::newRow("period 0") << QStringList{"--period", "0"} << QByteArray() << "" << 2;
        QTest::newRow("a folder for a file") << QStringList{"--append"} << QByteArray() << "folder" << 4;
        QTest::newRow("port never opens") << QStringList{"--port", "/nonexistent/tty", "--duration", "1"} << QByteArray() << "" << 3;
    }
    void logger()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, before);
        QFETCH(QString, fault);
        QFETCH(int, exitCode);
        MeterSim sim;
        const QString port = sim.start({"--no-pacing"});
        QVERIFY(fault == QLatin1String("folder") ? QDir().mkpath(logPath()) : writeFile(logPath(), before));
        const int held = readLog(logPath()).records.size();
        QProcess log;
        const QStringList command = QStringList{LOGGER_EXE, "--port", port} + args + QStringList{logPath()};
        if (fault == QLatin1String("full")) {
            log.start("prlimit", QStringList{"--fsize=116:unlimited"} + command);
            QTest::qWait(2500);
            QCOMPARE(QFileInfo(logPath()).size(), kHeader.size() + 1);
            QProcess::execute("prlimit", {"--pid", QString::number(log.processId()), "--fsize=unlimited"});
        } else {
            log.start(command.first(), command.mid(1));
        }
        if (exitCode <= 0) {
            QTRY_VERIFY_WITH_TIMEOUT(readLog(logPath()).records.size() >= held + 2, 10000);
            ::kill(log.processId(), fault == QLatin1String("kill") ? SIGKILL : fault == QLatin1String("term") ? SIGTERM : SIGINT);
        }
        QVERIFY(log.waitForFinished(10000));
        QCOMPARE(log.exitStatus() == QProcess::CrashExit ? -1 : log.exitCode(), exitCode);
        const Log after = readLog(logPath());
        QCOMPARE(after.records.size() > held, exitCode <= 0);
        if (exitCode > 0)
            return;
        // One header, whole records, the first kept, the new ones the meter's.
        QVERIFY(after.header && after.broken.isEmpty());
        QCOMPARE(after.records.first() == before.mid(kHeader.size() + 1).trimmed(), held > 0);
        QCOMPARE(after.records.last().split(',').mid(2),
                 QList<QByteArray>({"120.000", "230.00", "0.580", "0.900", "lag", "133.333"}));
    }

    // 4294968 s is 49.7 days; cut to 32 bits of milliseconds it would be 704 ms.
    void longDuration()
    {
        QProcess log;
        log.start(QStringLiteral(LOGGER_EXE), {"--port", "/nonexistent/tty", "--duration", "4294968", dir.filePath("long.csv")});
        QVERIFY(!log.waitForFinished(2500));
        log.kill();
        log.waitForFinished();
    }

    // The remembered port and standard output: the header and whole records
    // on stdout, and on a pipe no status line on stderr.
    void loggerDefaults()
    {
        MeterSim sim;
        storePortName(sim.start({"--no-pacing"}));
        QProcess log;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.path());
        log.setProcessEnvironment(env);
        log.start(QStringLiteral(LOGGER_EXE), {"--duration", "3", "-"});
        QVERIFY(log.waitForFinished(10000));
        QCOMPARE(log.exitCode(), 0);
        QCOMPARE(log.readAllStandardError(), QByteArray());
        const QList<QByteArray> lines = log.readAllStandardOutput().split('\n');
        QCOMPARE(lines.first(), kHeader);
        QCOMPARE(lines.last(), QByteArray());
        QVERIFY(lines.size() >= 4);
        for (const QByteArray &record : lines.mid(1, lines.size() - 2))
            QCOMPARE(record.split(',').mid(2), QList<QByteArray>({"120.000", "230.00", "0.580", "0.900", "lag", "133.333"}));
    }

    // The meter hangs up and a new one appears at the same path: polling
    // and logging come back by themselves, into the same file, and the new
    // meter is addressed first. A clear asked for while the line is down
    // (the button, START with Clear Data First, the logger's --clear) goes
    // out right after that address change.
    void reconnect_data()
    {
        QTest::addColumn<bool>("window");
        QTest::addColumn<QString>("clear"); // what asks for a clear while the line is down
        QTest::addColumn<QString>("frames"); // what the new meter gets before its first poll
        const QString addressed = "(<FFA,01;015A\n)+";
        const QString cleared = addressed + "(<01E,;00D2\n)+";
        QTest::newRow("window") << true << "" << addressed;
        QTest::newRow("logger") << false << "" << addressed;
        QTest::newRow("window, Clear Data") << true << "button" << cleared;
        QTest::newRow("window, START with Clear Data First") << true << "start" << cleared;
        QTest::newRow("logger, --clear") << false << "--clear" << cleared;
    }
    void reconnect()
    {
        QFETCH(bool, window);
        QFETCH(QString, clear);
        QFETCH(QString, frames);
        ModalWatcher watcher;
        const QString link = dir.filePath(QStringLiteral("meter-%1").arg(QTest::currentDataTag()));
        // The logger with --clear starts while there is no meter yet.
        MeterSim first;
        QVERIFY(clear == "--clear" || !first.start({"--no-pacing", "--hangup-after", "8", "--link", link}).isEmpty());
        std::unique_ptr<QuelmarStatus> w;
        QProcess log;
        if (window) {
            w = loggingOn(link, clear == "start" ? QString() : logPath());
            w->session().startPolling();
        } else if (clear.isEmpty()) {
            log.start(QStringLiteral(LOGGER_EXE), {"--port", link, logPath()});
        }
        QTRY_VERIFY_WITH_TIMEOUT(first.process().state() == QProcess::NotRunning, 10000);
        if (w)
            QTRY_VERIFY_WITH_TIMEOUT(!w->serialPort()->isOpen(), 5000);
        if (clear == "button") {
            w->ClearData();
        } else if (clear == "start") {
            w->findChild<QLineEdit *>("fileEdit")->setText(logPath());
            w->findChild<QCheckBox *>("logclear")->setChecked(true);
            w->startlogging();
        } else if (clear == "--clear") {
            log.start(QStringLiteral(LOGGER_EXE), {"--port", link, "--clear", logPath()});
            QTest::qWait(500);
        }
        MeterSim second;
        QVERIFY(!second.start({"--no-pacing", "--trace", "--watts", "75", "--link", link}).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(readLog(logPath()).records.join(' ').contains(",75.000,"), 15000);
        QByteArray all, trace;
        QTRY_VERIFY_WITH_TIMEOUT((all += second.process().readAllStandardError()).contains("<01S"), 5000);
        for (const QByteArray &line : all.split('\n')) {
            if (line.startsWith("<01S"))
                break;
            if (line.startsWith('<'))
                trace += line + '\n';
        }
        QVERIFY2(QRegularExpression('^' + frames + '$').match(QString::fromLatin1(trace)).hasMatch(), trace.constData());
        const Log after = readLog(logPath());
        QVERIFY(after.header && after.broken.isEmpty());
        // Only the first meter's readings came before the line was lost.
        QCOMPARE(after.records.first().contains(",120.000,"), clear.isEmpty() || clear == "button");
        QCOMPARE(watcher.texts(), QStringList{});
        if (!window) {
            ::kill(log.processId(), SIGINT);
            QVERIFY(log.waitForFinished(5000));
        }
    }

    // The simulated fridge after a minute: 2 s at 480 W, 38 s at 120 W and
    // 20 s at 2 W are 5560 J.
    void simulatedFridge()
    {
        double clock = 1000;
        quelmar::sim::LoadConfig load;
        load.profile = quelmar::sim::Profile::Fridge;
        quelmar::sim::LoadModel model(load, [&] { return clock; });
        quelmar::sim::Session session(1, model, {}, 7);
        clock += 60;
        QByteArray out;
        for (const QByteArrayList &reply : session.feed("<01S,;00E0\r"))
            out += reply.join();
        QCOMPARE(out, QByteArray(">01S,1,0,60,5560000,2000,230000000,9662,1,900000,2222;0A03\r"));
    }
};

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
