// The simulated meter: its replies and readings through the session, its
// fault injection, and the executable on a real pseudo-terminal.
#include <QtTest>

#include "link/protocol.h"
#include "meter.h"

#include <cmath>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace quelmar;
using namespace quelmar::sim;
using B = QByteArray;
using Chunks = QByteArrayList;
Q_DECLARE_METATYPE(LoadConfig)
Q_DECLARE_METATYPE(Faults)

namespace {

B frame(int add, const char *cmd)
{
    char buf[kFrameBufferSize];
    return B(buf, buildFrame(add, cmd, buf));
}

// A meter on a clock that only the test moves.
struct Meter {
    explicit Meter(const LoadConfig &load = {}, const Faults &faults = {}, int address = 1, quint64 seed = 7)
        : model(load, [this] { return clock; }), session(address, model, faults, seed) {}
    B ask(const B &in)
    {
        B out;
        for (const Chunks &reply : session.feed(in))
            out += reply.join();
        return out;
    }
    // A poll's fields as the program stores them, checksum entry included.
    QList<double> poll()
    {
        QList<double> v(kMeasurementCount);
        v.resize(parseReply(ask(frame(1, "S")).constData(), v.data()));
        return v;
    }
    double clock = 1000.0;
    LoadModel model;
    Session session;
};

// The program's end of the line; the simulator has made it raw.
struct Line {
    explicit Line(const QString &path) : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Line() { ::close(fd); }
    // Sends a frame, waits `delay` ms, then reads until a CR or a few seconds pass.
    B ask(const B &frame, int delay = 0)
    {
        if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size())
            return "write failed";
        QThread::msleep(delay);
        B out;
        QDeadlineTimer deadline(3000);
        pollfd pfd = {fd, POLLIN, 0};
        char buf[256];
        ssize_t n = 0;
        while (!out.endsWith('\r') && ::poll(&pfd, 1, int(deadline.remainingTime())) > 0
               && (pfd.revents & POLLIN) && (n = ::read(fd, buf, sizeof buf)) > 0)
            out.append(buf, n);
        return out;
    }
    const int fd;
};

// Starts the executable and returns its first line, the terminal's path.
QString start(QProcess &sim, const QStringList &args)
{
    sim.start(METERSIM_EXE, args);
    for (QDeadlineTimer deadline(5000); !sim.canReadLine() && sim.waitForReadyRead(int(deadline.remainingTime()));) {
    }
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

} // namespace

class tst_MeterSim : public QObject
{
    Q_OBJECT
private slots:
    void frames_data()
    {
        const B s = frame(1, "S");
        Chunks bytes;
        for (char c : s)
            bytes << B(1, c);
        QTest::addColumn<int>("meter");
        QTest::addColumn<Chunks>("reads");
        QTest::addColumn<B>("replies");  // the command each reply answers, all after the last read
        QTest::newRow("poll") << 1 << Chunks{s} << B("S");
        QTest::newRow("address change via FF") << 2 << Chunks{frame(7, "A")} << B("A");
        QTest::newRow("clear") << 1 << Chunks{frame(1, "E")} << B("E");
        QTest::newRow("poll, meter 26") << 26 << Chunks{frame(26, "S")} << B("S");
        QTest::newRow("another meter") << 1 << Chunks{frame(2, "S")} << B();
        QTest::newRow("poll via FF") << 1 << Chunks{frame(0xFF, "S")} << B();
        QTest::newRow("unknown command") << 1 << Chunks{frame(1, "Q")} << B();
        QTest::newRow("wrong checksum") << 1 << Chunks{"<01S,;00E1\r"} << B();
        QTest::newRow("one byte per read") << 1 << bytes << B("S");
        QTest::newRow("noise, broken frame") << 1 << Chunks{B("\0\xff junk", 7) + "<01S,;0" + s + "tail"} << B("S");
        QTest::newRow("two frames in one read") << 1 << Chunks{s + frame(1, "E")} << B("SE");
        QTest::newRow("long noise, then a frame") << 1 << Chunks{B(5000, 'x'), s} << B("S");
    }
    void frames()
    {
        QFETCH(int, meter);
        QFETCH(Chunks, reads);
        QFETCH(B, replies);
        Meter m({}, {}, meter);
        for (qsizetype i = 0; i + 1 < reads.size(); ++i)
            QCOMPARE(m.session.feed(reads[i]).size(), 0);
        const QList<Chunks> out = m.session.feed(reads.last());
        QCOMPARE(out.size(), replies.size());
        char add[10];
        addressText(meter, add);
        for (qsizetype i = 0; i < out.size(); ++i) {
            const B r = out[i].join();
            QVERIFY2(r.startsWith('>' + B(add) + replies[i]) && r.endsWith('\r') && r.count('\r') == 1, r);
            QCOMPARE(checkChecksum(r.constData()), 1);
            QVERIFY(replies[i] == 'E' ? isClearAck(meter, r.constData()) : r.count(',') == 10);
        }
    }

    void readings_data()
    {
        QTest::addColumn<LoadConfig>("load");  // volts, amps, pf, lag, profile, time scale
        QTest::addColumn<double>("seconds");
        QTest::newRow("kettle, lag, a day") << LoadConfig{230, 8.7, 1.0, true, Profile::Constant, 1} << 86400.0;
        QTest::newRow("small load, lead") << LoadConfig{120, 0.0123, 0.37, false, Profile::Constant, 1} << 3600.0;
        QTest::newRow("pf 0: no real power") << LoadConfig{230, 1, 0, true, Profile::Constant, 1} << 10.0;
        QTest::newRow("time 60 times faster") << LoadConfig{230, 0.58, 0.9, true, Profile::Constant, 60} << 10.5;
    }
    // Each reading, then again after a clear: elapsed time and energy restart.
    void readings()
    {
        QFETCH(LoadConfig, load);
        QFETCH(double, seconds);
        Meter m(load);
        for (double t : {seconds, 7.0}) {
            m.clock += t;
            const QList<double> v = m.poll();
            QCOMPARE(v.size(), 11);
            QCOMPARE(v[2], std::floor(t * load.timeScale));
            // µV, µA, lag flag, pf in millionths
            QCOMPARE(v.mid(5, 4), QList<double>({load.volts * 1e6, std::round(load.amps * 1e6), double(load.lag), std::round(load.pf * 1e6)}));
            QVERIFY2(std::fabs(v[4] - v[5] * v[6] * v[8] / 1e15) <= 1.0, "P = V I pf");
            QVERIFY2(std::fabs(v[9] - v[5] * v[6] / 1e9) <= 1.0, "S = V I");
            // P is rounded to whole mW: at most half a mW off each second
            QVERIFY2(std::fabs(v[3] - v[4] * t * load.timeScale) <= 1 + t * load.timeScale / 2, "energy = P t");
            QVERIFY(isClearAck(1, m.ask(frame(1, "E")).constData()));
        }
    }

    // Energy must be the integral of the power the meter reports, through
    // surge, run and idle and across cycles.
    void fridgeEnergyFollowsPower()
    {
        const double running = 120e3;  // mW
        Meter m({230.0, 120.0 / 230.0, 1.0, true, Profile::Fridge});
        double sum = 0;
        QList<int> seconds(3);  // surge, run, idle
        for (int s = 0; s < 240; ++s, m.clock += 1) {
            const double p = m.poll()[4];
            sum += p;
            ++seconds[p > 3 * running ? 0 : p >= running - 1 ? 1 : 2];
        }
        const QList<double> v = m.poll();
        QCOMPARE(v[2], 240.0);
        QVERIFY2(std::fabs(v[3] - sum) <= 240, qPrintable(QString::number(v[3] - sum)));
        QCOMPARE(seconds, QList<int>({4, 76, 160}));
    }

    void faults_data()
    {
        QTest::addColumn<Faults>("faults");  // drop, corrupt, garbage, split
        QTest::newRow("drop all") << Faults{1, 0, 0, 1};
        QTest::newRow("corrupt all") << Faults{0, 1, 0, 1};
        QTest::newRow("garbage on all") << Faults{0, 0, 1, 1};
        QTest::newRow("four pieces") << Faults{0, 0, 0, 4};
        QTest::newRow("more pieces than bytes") << Faults{0, 0, 0, 64};
    }
    void faults()
    {
        QFETCH(Faults, faults);
        Meter m({}, faults, 1, 42), clean;
        int garbledTail = 0;
        for (int i = 0; i < 20; ++i) {
            const QList<Chunks> out = m.session.feed(frame(1, "S"));
            const B expected = clean.ask(frame(1, "S")), reply = out.value(0).join();
            QCOMPARE(out.size(), faults.drop == 1 ? 0 : 1);
            if (out.isEmpty())
                continue;
            QCOMPARE(out[0].size(), std::min<qsizetype>(faults.split, reply.size()));
            QVERIFY(!out[0].contains(B()));
            const bool sound = reply.startsWith(">01S,") && checkChecksum(reply.constData());
            QCOMPARE(sound, faults.corrupt == 0 && faults.garbage == 0);
            if (faults.corrupt == 1)  // the whole reading, only the checksum wrong
                QVERIFY(reply.startsWith(">01S,") && reply.endsWith('\r') && reply.count(',') == 10);
            else if (faults.garbage == 1)
                garbledTail += reply.endsWith(expected);
            else
                QCOMPARE(reply, expected);
        }
        if (faults.garbage == 1)  // garbage comes both before a reply and instead of one
            QVERIFY(garbledTail > 0 && garbledTail < 20);
    }

    void faultsFollowTheSeed()
    {
        auto run = [](quint64 seed) {
            Meter m({}, {0.5, 0.3, 0, 1}, 1, seed);
            B log;
            for (int i = 0; i < 400; ++i)
                log += m.ask(frame(1, "S")) + '|';
            return log;
        };
        const B a = run(42);
        QCOMPARE(run(42), a);
        QVERIFY(run(43) != a);
        QVERIFY2(a.count('\r') > 150 && a.count('\r') < 250, qPrintable(QString::number(a.count('\r'))));
    }

    // The path line, paced replies, the port closed and opened again as the
    // program does when the user picks it again, then the hang-up after the
    // last frame allowed.
    void overPty()
    {
        QProcess sim;
        const QString path = start(sim, {"--address", "3", "--hangup-after", "2"});
        QVERIFY(path.startsWith("/dev/"));
        for (const char *cmd : {"S", "A"}) {
            Line line(path);
            QElapsedTimer timer;
            timer.start();
            // A slow reader still gets the last reply before the hang-up.
            const B reply = line.ask(frame(3, cmd), *cmd == 'A' ? 300 : 0);
            QVERIFY2(reply.startsWith(">03" + B(cmd)) && reply.endsWith('\r') && checkChecksum(reply.constData()), reply);
            // 10 bits a byte at 9600 baud
            QVERIFY2(timer.elapsed() >= (reply.size() - 1) * 10 * 0.9 / 9.6, qPrintable(QString::number(timer.elapsed())));
            if (*cmd == 'A') {
                pollfd pfd = {line.fd, POLLIN, 0};
                char c;
                QVERIFY(::poll(&pfd, 1, 3000) == 1 && ((pfd.revents & POLLHUP) || ::read(line.fd, &c, 1) <= 0));
            }
        }
        QVERIFY(sim.waitForFinished(3000));
        QCOMPARE(sim.exitCode(), 0);
    }

    // A stale link is replaced and removed at exit; a file that is not a
    // link is never replaced.
    void linkFollowsThePty()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("meter");
        QVERIFY(QFile::link("/nonexistent/stale", link));
        QProcess sim;
        QCOMPARE(QFileInfo(link).symLinkTarget(), start(sim, {"--no-pacing", "--link", link}));
        QVERIFY(Line(link).ask(frame(1, "S")).startsWith(">01S"));
        sim.terminate();
        QVERIFY(sim.waitForFinished(3000));
        QVERIFY(sim.exitStatus() == QProcess::NormalExit && sim.exitCode() == 0);
        QVERIFY(!QFileInfo(link).isSymLink());

        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep") == 4);
        file.close();
        sim.start(METERSIM_EXE, {"--link", link});
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 1);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), B("keep"));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2;
        QTest::newRow("stray argument") << QStringList{"meter"} << 2;
        QTest::newRow("pf above 1") << QStringList{"--pf", "1.5"} << 2;
        QTest::newRow("amps and watts") << QStringList{"--amps", "1", "--watts", "100"} << 2;
        QTest::newRow("watts at pf 0") << QStringList{"--watts", "100", "--pf", "0"} << 2;
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QProcess proc;
        proc.start(METERSIM_EXE, args);
        QVERIFY(proc.waitForFinished(5000));
        QCOMPARE(proc.exitCode(), code);
        const QString help = proc.readAllStandardOutput();
        const QString options = "help address volts amps watts pf lead lag profile time-scale "
                                "no-pacing drop corrupt garbage split hangup-after seed link";
        for (const QString &option : options.split(' '))
            QVERIFY2(code != 0 || help.contains("--" + option + ' '), qPrintable(option));
    }
};

QTEST_MAIN(tst_MeterSim)
#include "tst_metersim.moc"
