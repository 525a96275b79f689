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

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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
        // The logger started without --port reads the port the test stored.
        qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    }

    // The simulated meter's options as the window meets them: the readout
    // of every reply that got through (power, voltage, current, power
    // factor, apparent power), logged, or "" when none did, and the signal
    // that then stops it; or the simulator's exit code and why it refused to start.
    void simulator_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("stop");
        QTest::newRow("silent meter") << QStringList{"--drop", "1"} << "" << SIGHUP;
        // With this seed no read that starts at a reply passes the checksum.
        QTest::newRow("garbage") << QStringList{"--garbage", "1", "--seed", "40", "--no-pacing"} << "" << SIGTERM;
        QTest::newRow("bad checksums") << QStringList{"--corrupt", "1", "--no-pacing"} << "" << SIGHUP;
        // A meter at address 2 answers the address change, sent to every address, and no poll.
        QTest::newRow("another address") << QStringList{"--address", "2", "--no-pacing"} << "120.000 W|230.00 V|0.580 A|0.900 Lag|133.333 VA" << SIGINT;
        // At 9600 baud a reply arrives after the poll's reads: the next poll reads it.
        QTest::newRow("paced, in four pieces") << QStringList{"--split", "4"} << "120.000 W|230.00 V|0.580 A|0.900 Lag|133.333 VA" << SIGHUP;
        QTest::newRow("volts, amps, factor, lead") << QStringList{"--volts", "120", "--amps", "2", "--pf", "0.5", "--lead", "--no-pacing"}
                                                   << "120.000 W|120.00 V|2.000 A|0.500 Lead|240.000 VA" << SIGHUP;
        QTest::newRow("watts") << QStringList{"--watts", "60", "--no-pacing"} << "60.000 W|230.00 V|0.290 A|0.900 Lag|66.667 VA" << SIGHUP;
        QTest::newRow("a factor above 1") << QStringList{"--pf", "1.5"} << "2 quelmar-meter-sim: --pf must be a number from 0 to 1\n" << 0;
        QTest::newRow("address 255") << QStringList{"--address", "255"} << "2 quelmar-meter-sim: --address must be a whole number from 0 to 254\n" << 0;
        QTest::newRow("amps and watts") << QStringList{"--amps", "1", "--watts", "1"} << "2 quelmar-meter-sim: --amps and --watts exclude each other\n" << 0;
        QTest::newRow("lead and lag") << QStringList{"--lead", "--lag"} << "2 quelmar-meter-sim: --lead and --lag exclude each other\n" << 0;
        QTest::newRow("an unknown profile") << QStringList{"--profile", "oven"} << "2 quelmar-meter-sim: unknown profile 'oven'\n" << 0;
        QTest::newRow("an unknown option") << QStringList{"--colour"} << "2 quelmar-meter-sim: Unknown option 'colour'.\nTry --help.\n" << 0;
        QTest::newRow("a link in no folder") << QStringList{"--link", "/nonexistent/meter"} << "1 quelmar-meter-sim: /nonexistent/meter: No such file or directory\n" << 0;
        QTest::newRow("a file where the link goes") << QStringList{"--link", "FILE"} << "1 quelmar-meter-sim: FILE exists and is not a link\n" << 0;
    }
    void simulator()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, shown);
        QFETCH(int, stop);
        ModalWatcher watcher;
        MeterSim sim;
        const QString file = dir.filePath("not-a-link");
        QVERIFY(writeFile(file, "kept"));
        const QString port = sim.start(args.replaceInStrings("FILE", file));
        if (shown.contains("quelmar-meter-sim")) {
            QVERIFY(port.isEmpty());
            sim.process().waitForFinished(5000);
            QCOMPARE(QString::number(sim.process().exitCode()) + ' ' + sim.process().readAllStandardError(), shown.replace("FILE", file));
            QCOMPARE(fileBytes(file), "kept");
            return;
        }
        auto w = loggingOn(port, logPath());
        QVERIFY(w);
        int passes = 0;
        for (int i = 0; i < 6; ++i) {
            if (!cycle(*w))
                continue;
            ++passes;
            // Whatever got through is the meter's own reading, never noise.
            QStringList got;
            for (const char *field : {"PowerDisp", "VoltsDisp", "CurrentDisp", "PFDisp", "VADisp"})
                got << textOf(*w, field).trimmed();
            QCOMPARE(got.join('|'), shown);
        }
        QCOMPARE(passes == 0, shown.isEmpty());
        QCOMPARE(passes == 1, args.first() == "--address");
        QCOMPARE(textOf(*w, "TimeDisp").isEmpty(), shown.isEmpty());
        // A record for every second answered poll, whole, and no box.
        const Log after = readLog(logPath());
        QVERIFY(after.header && after.broken.isEmpty());
        QCOMPARE(after.records.size(), passes / 2);
        QCOMPARE(watcher.texts(), QStringList{});
        // SIGINT, SIGTERM and a hang-up of its terminal stop the simulator: exit code 0.
        ::kill(sim.process().processId(), stop);
        QVERIFY(sim.process().waitForFinished(5000) && sim.process().exitStatus() == QProcess::NormalExit && sim.process().exitCode() == 0);
    }

    // What the logger tells on stderr, a pipe here as in the journal: each
    // row's whole stderr matches `said`, where %1 is the meter's port, %2
    // the log, %3 and %4 the name and process id of another writer of it.
    void logger_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("before"); // the file's bytes before the run
        QTest::addColumn<QString>("fault");     // what happens while it logs
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QByteArray held = kHeader + "\n00:00:09,0.300,120.000,230.00,0.580,0.900,lag,133.333\n";
        const QString up = "quelmar-log: %1 is open\nquelmar-log: the meter answers\n";
        const QString lost = "quelmar-log: Cannot write %2: %3; the records are counted until writing works again\n"
                             "quelmar-log: writing to %2 again; (\\d+) records? could not be written\n%4"
                             "quelmar-log: \\1 records? could not be written to %2\n";
        QTest::newRow("--clear") << QStringList{"--clear"} << QByteArray() << "" << 0 << up;
        // In a terminal a status line follows: elapsed time, power, records, the link, the broker.
        QTest::newRow("a terminal") << QStringList{"--mqtt", "127.0.0.1:1"} << QByteArray() << "terminal" << 0
                                    << "(.|\n)*\r\x1b\\[K\\d\\d:\\d\\d:\\d\\d  120\\.000 W  \\d+ records  link up, broker down\n";
        QTest::newRow("SIGKILL") << QStringList{} << QByteArray() << "kill" << -1 << up;
        // Room for the header and part of a record, then room again.
        QTest::newRow("disk full for a while") << QStringList{} << QByteArray() << "full" << 4
                                               << up + QString(lost).replace("%3", "File too large").replace("%4", "");
        QTest::newRow("the folder gone for a while") << QStringList{} << QByteArray() << "gone" << 4
                                                     << up + QString(lost).replace("%3", "No such file or directory").replace("%4", "quelmar-log: started %2\\n");
        QTest::newRow("a log with records is refused") << QStringList{} << held << "" << 4
                                                       << "quelmar-log: %2 already holds 1 reading; use --append to add to it\n";
        QTest::newRow("--append adds to it") << QStringList{"--append"} << held << "" << 0 << up;
        QTest::newRow("--append --clock to a log without it") << QStringList{"--append", "--clock"} << held << "" << 4
                                                              << "quelmar-log: %2 is a log without the clock column; leave out --clock to append to it\n";
        QTest::newRow("--append to a header with the clock column") << QStringList{"--append"} << kHeader + ",Local Time\n" << "" << 4
                                                                   << "quelmar-log: %2 is a log with the clock column; add --clock to append to it\n";
        // One writer per log, whatever its lock's age; a lock whose process is gone is taken over.
        const QString writing = "quelmar-log: %2 is being written by %3 \\(process %4\\).\n";
        QTest::newRow("a log another logger writes") << QStringList{"--append"} << QByteArray() << "logger" << 4 << writing;
        QTest::newRow("a log the window writes") << QStringList{"--append"} << QByteArray() << "window" << 4 << writing;
        QTest::newRow("the lock of a killed logger") << QStringList{"--append"} << QByteArray() << "killed logger" << 0 << up;
        QTest::newRow("period 0") << QStringList{"--period", "0"} << QByteArray() << "" << 2
                                  << "quelmar-log: --period must be a whole number from 1 to 99\nTry --help.\n";
        QTest::newRow("a folder for a file") << QStringList{"--append"} << QByteArray() << "folder" << 4
                                             << "quelmar-log: Cannot create %2: Is a directory\n";
        QTest::newRow("a log on /dev/full") << QStringList{"--append"} << QByteArray() << "/dev/full" << 4
                                            << "quelmar-log: Cannot write %2: No space left on device\n";
        const QString never = "Cannot open /nonexistent/tty: no such device.";
        QTest::newRow("the meter never answers") << QStringList{"--duration", "3"} << QByteArray() << "silent" << 3
                                                 << "quelmar-log: %1 is open\nquelmar-log: the meter never answered on %1\n";
        // 4294968 s is 49.7 days; cut to 32 bits of milliseconds it would be 704 ms.
        QTest::newRow("a duration past 32 bits of ms") << QStringList{"--port", "/nonexistent/tty", "--duration", "4294968"} << QByteArray() << "long" << -1
                                                       << "quelmar-log: Cannot open /nonexistent/tty: no such device. Trying again every 2 s.\n";
        QTest::newRow("port never opens") << QStringList{"--port", "/nonexistent/tty", "--duration", "1"} << QByteArray() << "" << 3
                                          << "quelmar-log: " + never + " Trying again every 2 s.\nquelmar-log: /nonexistent/tty never opened within --duration: " + never + '\n';
        const QString retry = "(quelmar-log: Cannot open %1: no such device. Trying again every 2 s.\n)?";
        QTest::newRow("the meter hangs up") << QStringList{"--duration", "7"} << QByteArray() << "hangup" << 3
                                            << up + "quelmar-log: Lost %1: Input/output error. Trying again every 2 s.\n" + retry +
                                                   "quelmar-log: the meter has not answered since \\d{4}-\\d\\d-\\d\\dT[0-9:]{8}[+-]\\d\\d:\\d\\d\n" + retry +
                                                   "quelmar-log: the meter did not answer for \\d s in all; there are no records for that time\n";
    }
    void logger()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, before);
        QFETCH(QString, fault);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        MeterSim sim;
        // A link of its own: another test's meter may get the same terminal.
        const QString link = dir.filePath("gone-meter");
        const QString started = sim.start(fault == "hangup" ? QStringList{"--no-pacing", "--hangup-after", "4", "--link", link}
                                                            : QStringList{"--no-pacing", fault == "silent" ? "--drop=1" : "--trace"});
        const QString port = fault == "hangup" && !started.isEmpty() ? link : started;
        const QString log = fault == "gone" ? dir.filePath("gone/log.csv") : logPath();
        QVERIFY(QDir().mkpath(fault == "folder" ? log : QFileInfo(log).path()));
        QVERIFY(fault == "folder" || (fault == "/dev/full" ? QFile::link(fault, log) : writeFile(log, before)));
        // /dev/full reads as zeros without end.
        const int held = fault == "/dev/full" ? 0 : readLog(log).records.size();
        QProcess first;
        const auto stopFirst = qScopeGuard([&] { first.terminate(); first.waitForFinished(5000); });
        std::unique_ptr<QuelmarStatus> w = fault == "window" ? loggingOn(port, log) : nullptr;
        if (fault.endsWith("logger")) {
            first.start(LOGGER_EXE, {"--port", port, log});
            QTRY_VERIFY_WITH_TIMEOUT(readLog(log).records.size() >= 1, 10000);
        }
        if (fault == "killed logger") {
            first.kill();
            QVERIFY(first.waitForFinished(5000));
        }
        QFile lock(log + ".lock");
        QVERIFY((!w && fault != "logger") || (lock.open(QIODevice::ReadWrite) && lock.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime)));
        lock.close();
        QProcess run;
        PtyPair terminal;
        if (fault == "terminal")
            run.setStandardErrorFile(terminal.path());
        const QStringList command = QStringList{LOGGER_EXE, "--port", port} + args + QStringList{log};
        if (fault == "full") {
            run.start("prlimit", QStringList{"--fsize=116:unlimited"} + command);
            QTest::qWait(2500);
            QCOMPARE(QFileInfo(log).size(), kHeader.size() + 1);
            QProcess::execute("prlimit", {"--pid", QString::number(run.processId()), "--fsize=unlimited"});
        } else {
            run.start(command.first(), command.mid(1));
        }
        if (fault == "gone") {
            QTRY_VERIFY_WITH_TIMEOUT(readLog(log).records.size() >= 1, 10000);
            QVERIFY(QDir(QFileInfo(log).path()).removeRecursively());
            QTest::qWait(2000);
            QVERIFY(QDir().mkpath(QFileInfo(log).path()));
        }
        if (fault == "long")
            QVERIFY(!run.waitForFinished(2500));
        else if (exitCode <= 0 || fault == "full" || fault == "gone")
            QTRY_VERIFY_WITH_TIMEOUT(readLog(log).records.size() >= held + 2, 10000);
        if (exitCode <= 0 || fault == "full" || fault == "gone")
            ::kill(run.processId(), fault == "kill" || fault == "long" ? SIGKILL : SIGINT);
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(run.exitStatus() == QProcess::CrashExit ? -1 : run.exitCode(), exitCode);
        const QString stderrText = QString::fromUtf8(fault == "terminal" ? terminal.receive(100) : run.readAllStandardError());
        said.replace("%1", QRegularExpression::escape(port)).replace("%2", QRegularExpression::escape(log));
        said.replace("%3", w ? QCoreApplication::applicationName() : "quelmar-log").replace("%4", QString::number(w ? QCoreApplication::applicationPid() : first.processId()));
        QVERIFY2(QRegularExpression('^' + said + '$').match(stderrText).hasMatch(), qPrintable(stderrText));
        if ((exitCode != 0 && exitCode != -1 && fault != "full" && fault != "gone") || fault == "long")
            return;
        // The meter there from the start is addressed, cleared (with --clear), then polled.
        QByteArray trace;
        QTRY_VERIFY_WITH_TIMEOUT((trace += sim.process().readAllStandardError()).contains("<01S"), 5000);
        const QString frames = args.contains("--clear") ? "(<FFA,01;015A\n)+(<01E,;00D2\n)+<01S" : "(<FFA,01;015A\n)+<01S";
        QVERIFY2(QRegularExpression("^[^<]*" + frames).match(trace).hasMatch(), trace.constData());
        const Log after = readLog(log);
        QVERIFY(after.broken.isEmpty());
        // One header, whole records, the first kept, the new ones the meter's.
        QVERIFY(after.header && after.records.size() > held);
        QCOMPARE(after.records.first() == before.mid(kHeader.size() + 1).trimmed(), held > 0);
        QCOMPARE(after.records.last().split(',').mid(2),
                 QList<QByteArray>({"120.000", "230.00", "0.580", "0.900", "lag", "133.333"}));
    }

    // Signals end the logger promptly wherever it waits, and output that
    // cannot be written is never a finished run.
    void stops_data()
    {
        QTest::addColumn<QStringList>("args"); // FIFO stands for a FIFO nobody opens, LOG for a log, NEW for none
        QTest::addColumn<QString>("how");      // or the folder of the MQTT client library to load
        QTest::addColumn<int>("exitCode");     // -1: ended by the signal
        QTest::addColumn<QString>("said");
        QTest::newRow("--report on a FIFO") << QStringList{"--report", "FIFO"} << "term" << -1 << "quelmar-log: stopped by SIGTERM\n";
        QTest::newRow("a log on a FIFO") << QStringList{"--port", "/nonexistent/tty", "FIFO"} << "int" << -1 << "quelmar-log: stopped by SIGINT\n";
        QTest::newRow("a FIFO whose reader went") << QStringList{"FIFO"} << "reader gone" << -1
                                                  << "(.|\n)*\nquelmar-log: stopped by SIGTERM while writing a record was blocked; that record was not written\n";
        QTest::newRow("--report to /dev/full") << QStringList{"--report", "LOG"} << "full" << 4
                                               << "quelmar-log: cannot write to standard output: No space left on device\n";
        QTest::newRow("standard output closed") << QStringList{"--append", "--clock", "-"} << "close" << 4
                                                << "quelmar-log: \\S+ is open\nquelmar-log: the meter answers\n"
                                                   "quelmar-log: Cannot write standard output: Broken pipe; the records are counted until writing works again\n"
                                                   "quelmar-log: standard output was closed\nquelmar-log: 1 record could not be written to standard output\n";
        // A logger with no web module beside it, nor where the package puts it.
        QTest::newRow("--listen without its module") << QStringList{"--listen", "0", "NEW"} << "alone" << 1 << "quelmar-log: --listen cannot load its module: .*\n";
        // A client library that is no use stops the logger before it makes its log.
        QTest::newRow("a library without the functions") << QStringList{"--mqtt", "localhost", "NEW"} << NOT_MOSQUITTO_DIR << 6
                                                         << "quelmar-log: the MQTT client library libmosquitto.so.1 has no function mosquitto_lib_init\n";
        QTest::newRow("a library that is not one") << QStringList{"--mqtt", "localhost", "NEW"} << dir.filePath("empty-lib") << 6
                                                   << "quelmar-log: cannot load the MQTT client library libmosquitto.so.1: \\S+/empty-lib/libmosquitto.so.1: file too short\n";
    }
    void stops()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, how);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        const QString fifo = dir.filePath("fifo"), log = dir.filePath("one.csv");
        QVERIFY(QFileInfo::exists(fifo) || ::mkfifo(qPrintable(fifo), 0600) == 0);
        // A file named "-" where the logger runs is not its standard output.
        const QByteArray held = kHeader + "\n00:00:01,1.000,120.000,230.00,0.580,0.900,lag,133.333\n";
        QVERIFY(writeFile(log, held) && writeFile(dir.filePath("-"), held));
        MeterSim sim;
        storePortName(sim.start({"--no-pacing"}));
        QProcess run;
        run.setWorkingDirectory(dir.path());
        if (how == "full")
            run.setStandardOutputFile("/dev/full");
        QVERIFY(!how.endsWith("empty-lib") || (QDir().mkpath(how) && writeFile(how + "/libmosquitto.so.1", "")));
        QVERIFY(how != "alone" || QFile::exists(dir.filePath("alone")) || QFile::copy(LOGGER_EXE, dir.filePath("alone")));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_LIBRARY_PATH", how);
        run.setProcessEnvironment(env);
        args.replaceInStrings("FIFO", fifo).replaceInStrings("LOG", log).replaceInStrings("NEW", dir.filePath("new.csv"));
        // The reader takes a byte of the header and goes.
        if (how == "close")
            run.start("bash", QStringList{"-c", "\"$0\" \"$@\" | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}", LOGGER_EXE} + args);
        else
            run.start(how == "alone" ? dir.filePath("alone") : QStringLiteral(LOGGER_EXE), args);
        // The header closes the FIFO behind it, which ends its reader; the
        // next record's open waits for another.
        QProcess reader;
        QByteArray err;
        if (how == "reader gone") {
            reader.start("cat", {fifo});
            QVERIFY(reader.waitForFinished(5000) && reader.readAllStandardOutput() == kHeader + '\n');
            // The first record falls due a pass after the meter answers, however busy the computer.
            QTRY_VERIFY_WITH_TIMEOUT((err += run.readAllStandardError()).contains("the meter answers"), 10000);
        }
        if (how == "term" || how == "int" || how == "reader gone") {
            QTest::qWait(1500);
            ::kill(run.processId(), how == "int" ? SIGINT : SIGTERM);
        }
        QVERIFY(run.waitForFinished(how == "close" ? 5000 : 1000));
        QCOMPARE(run.exitStatus() == QProcess::CrashExit ? -1 : run.exitCode(), exitCode);
        const QString stderrText = QString::fromUtf8(err + run.readAllStandardError());
        QVERIFY2(QRegularExpression('^' + said + '$').match(stderrText).hasMatch(), qPrintable(stderrText));
        QVERIFY(!QFileInfo::exists(dir.filePath("new.csv")));
    }

    // As a service: what the service manager reads on its socket.
    void service()
    {
        const QString path = dir.filePath("notify");
        const int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, qPrintable(path), sizeof address.sun_path - 1);
        QVERIFY(manager >= 0 && ::bind(manager, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        MeterSim sim;
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("NOTIFY_SOCKET", path);
        env.insert("WATCHDOG_USEC", "30000000");
        run.setProcessEnvironment(env);
        run.start(LOGGER_EXE, {"--port", sim.start({"--no-pacing"}), "--duration", "3", "--period", "99", logPath()});
        // Read as the service manager does, as they come: a socket that fills
        // up holds the sender.
        QStringList said;
        int pings = 0;
        const auto drain = [&] {
            char message[512];
            for (ssize_t n; (n = ::recv(manager, message, sizeof message, 0)) > 0;) {
                if (QByteArray(message, n) == "WATCHDOG=1")
                    ++pings;
                else
                    said << QString::fromUtf8(message, int(n));
            }
            return run.state() == QProcess::NotRunning;
        };
        QTRY_VERIFY_WITH_TIMEOUT(drain(), 10000);
        drain();
        ::close(manager);
        // A cycle every 500 ms pings the watchdog.
        QVERIFY2(pings >= 4, qPrintable(QString::number(pings)));
        QCOMPARE(said.mid(0, 3), QStringList({"READY=1\nSTATUS=link down, 0 records written", "STATUS=link up, 0 records written",
                                               "STATUS=link up, 1 record written"}));
        // The next record is 99 s away: nothing changes until the end.
        QCOMPARE(said.mid(3), QStringList{"STOPPING=1"});
    }

    // The meter hangs up and a new one appears at the same path: polling
    // and logging come back by themselves, into the same file, and the new
    // meter is addressed first. A clear asked for while the line is down
    // (the button, which START with Clear Data First presses, or the
    // logger's --clear) goes out right after that address change.
    void reconnect_data()
    {
        QTest::addColumn<bool>("window");
        QTest::addColumn<QString>("clear"); // what asks for a clear while the line is down
        QTest::addColumn<QString>("frames"); // what the new meter gets before its first poll
        const QString addressed = "(<FFA,01;015A\n)+";
        const QString cleared = addressed + "(<01E,;00D2\n)+";
        QTest::newRow("logger") << false << "" << addressed;
        QTest::newRow("window, Clear Data") << true << "button" << cleared;
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
            w = loggingOn(link, logPath());
            w->session().startPolling();
        } else if (clear.isEmpty()) {
            log.start(QStringLiteral(LOGGER_EXE), {"--port", link, logPath()});
        }
        QTRY_VERIFY_WITH_TIMEOUT(first.process().state() == QProcess::NotRunning, 10000);
        QVERIFY(!QFileInfo(link).isSymLink() && first.process().exitCode() == 0); // it hung up, taking its link with it
        if (w)
            QTRY_VERIFY_WITH_TIMEOUT(!w->serialPort()->isOpen(), 5000);
        if (clear == "button") {
            w->ClearData();
        } else if (clear == "--clear") {
            log.start(QStringLiteral(LOGGER_EXE), {"--port", link, "--clear", logPath()});
            QTest::qWait(500);
        }
        MeterSim second;
        QVERIFY(!second.start({"--no-pacing", "--trace", "--watts", "75", "--link", link}).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(readLog(logPath()).records.join(' ').contains(",75.000,"), 15000);
        QByteArray trace;
        QTRY_VERIFY_WITH_TIMEOUT((trace += second.process().readAllStandardError()).contains("<01S"), 5000);
        QVERIFY2(QRegularExpression("^[^<]*" + frames + "<01S").match(trace).hasMatch(), trace.constData());
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
    // 20 s at 2 W are 5560 J. Cleared then, 61 s on it is a second into the
    // surge of its next 120 s cycle: 60 s at 2 W and 1 s at 480 W, 600 J.
    // Each reply in four pieces, cut at a quarter of its bytes; after three
    // frames it hangs up and answers no more.
    void simulatedFridge()
    {
        double clock = 1000;
        quelmar::sim::LoadConfig load;
        load.profile = quelmar::sim::Profile::Fridge;
        quelmar::sim::LoadModel model(load, [&] { return clock; });
        quelmar::sim::Session session(1, model, {0, 0, 0, 4}, 7);
        session.setFrameLimit(3);
        const auto poll = [&] {
            QByteArray out;
            for (const QByteArrayList &reply : session.feed("<01S,;00E0\r"))
                out += reply.join('|');
            return out;
        };
        clock += 60;
        QCOMPARE(poll(), QByteArray(">01S,1,0,60,55|60000,2000,2300|00000,9662,1,90|0000,2222;0A03\r"));
        session.feed("<01E,;00D2\r");
        clock += 61;
        QCOMPARE(poll(), QByteArray(">01S,2,0,61,6000|00,480000,230000|000,2318841,1,90|0000,533333;0B35\r"));
        QCOMPARE(poll(), QByteArray());
    }
};

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
