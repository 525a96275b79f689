// The simulated meter: its replies and readings through the session, its
// fault injection, and the executable on a real pseudo-terminal.
#include <QtTest>

#include "link/protocol.h"
#include "meter.h"

#include <cmath>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
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
    explicit Meter(const LoadConfig &load = {}, const Faults &faults = {}, int address = 1,
                   quint64 seed = 7)
        : model(load, [this] { return clock; }), session(address, model, faults, seed) {}
    B ask(const B &in)
    {
        B out;
        for (const Chunks &reply : session.feed(in))
            out += reply.join();
        return out;
    }
    double clock = 1000.0;
    LoadModel model;
    Session session;
};

// The reply's fields as the program stores them, checksum entry included.
QList<double> parse(const B &reply)
{
    QList<double> v(kMeasurementCount);
    v.resize(parseReply(reply.constData(), v.data()));
    return v;
}

// The program's end of the line: raw, non-blocking.
int openLine(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio;
    if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// Writes a frame, waits `delay` ms, then reads until a CR arrives or a few
// seconds pass.
B exchange(int fd, const B &frame, int delay = 0)
{
    if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size())
        return "write failed";
    QThread::msleep(delay);
    B out;
    QDeadlineTimer deadline(3000);
    while (!out.endsWith('\r') && !deadline.hasExpired()) {
        pollfd pfd = {fd, POLLIN, 0};
        if (::poll(&pfd, 1, int(deadline.remainingTime())) <= 0 || !(pfd.revents & POLLIN))
            break;
        char buf[256];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

// The executable, stopped when the test ends however it ends.
struct Sim {
    QProcess proc;
    QString path;
    bool start(const QStringList &args)
    {
        proc.start(METERSIM_EXE, args);
        QDeadlineTimer deadline(5000);
        while (!proc.canReadLine() && proc.waitForReadyRead(int(deadline.remainingTime()))) {
        }
        path = QString::fromLocal8Bit(proc.readLine()).trimmed();
        return !path.isEmpty();
    }
    ~Sim()
    {
        proc.terminate();
        if (!proc.waitForFinished(3000))
            proc.kill();
    }
};

} // namespace

class tst_MeterSim : public QObject
{
    Q_OBJECT
private slots:
    void commands_data()
    {
        QTest::addColumn<int>("meter");
        QTest::addColumn<int>("to");
        QTest::addColumn<B>("cmd");
        QTest::addColumn<B>("header");  // empty: no answer
        QTest::newRow("poll") << 1 << 1 << B("S") << B(">01S");
        QTest::newRow("address change via FF") << 1 << 1 << B("A") << B(">01A");
        QTest::newRow("address change, meter 2") << 2 << 7 << B("A") << B(">02A");
        QTest::newRow("clear") << 1 << 1 << B("E") << B(">01E");
        QTest::newRow("poll, meter 26") << 26 << 26 << B("S") << B(">1AS");
        QTest::newRow("poll for another meter") << 1 << 2 << B("S") << B();
        QTest::newRow("clear for another meter") << 1 << 2 << B("E") << B();
        QTest::newRow("unknown command") << 1 << 1 << B("Q") << B();
    }
    void commands()
    {
        QFETCH(int, meter);
        QFETCH(int, to);
        QFETCH(B, cmd);
        QFETCH(B, header);
        Meter m({}, {}, meter);
        const B out = m.ask(frame(to, cmd.constData()));
        if (header.isEmpty()) {
            QVERIFY2(out.isEmpty(), out.constData());
            return;
        }
        QVERIFY2(out.startsWith(header) && out.endsWith('\r') && out.count('\r') == 1, out);
        QCOMPARE(checkChecksum(out.constData()), 1);
        QCOMPARE(checkAddress(meter, out.constData()), 1);
        if (cmd == "E")
            QVERIFY(isClearAck(meter, out.constData()));
        else
            QCOMPARE(parse(out).size(), 11);
    }

    void input_data()
    {
        const B s = frame(1, "S");
        QTest::addColumn<Chunks>("chunks");
        QTest::addColumn<QList<int>>("replies");  // replies after each chunk
        Chunks bytes;
        QList<int> counts;
        for (char c : s) {
            bytes << B(1, c);
            counts << (c == '\r' ? 1 : 0);
        }
        QTest::newRow("one byte per read") << bytes << counts;
        QTest::newRow("split in the checksum") << Chunks{s.left(8), s.mid(8)} << QList<int>{0, 1};
        QTest::newRow("garbage around") << Chunks{B("\0\xff junk", 7) + s + "tail"} << QList<int>{1};
        QTest::newRow("broken frame before") << Chunks{"<01S,;0" + s} << QList<int>{1};
        QTest::newRow("two frames in one read") << Chunks{s + frame(1, "E")} << QList<int>{2};
        QTest::newRow("long noise, then a frame") << Chunks{B(5000, 'x'), s} << QList<int>{0, 1};
        QTest::newRow("lower-case checksum") << Chunks{"<01S,;00e0\r"} << QList<int>{1};
        QTest::newRow("wrong checksum") << Chunks{"<01S,;00E1\r"} << QList<int>{0};
        QTest::newRow("no checksum") << Chunks{"<01S,\r"} << QList<int>{0};
        QTest::newRow("NUL in the frame") << Chunks{B("<01S,\0;00E0\r", 12)} << QList<int>{0};
        QTest::newRow("one-digit address") << Chunks{"<1S,;00B0\r"} << QList<int>{0};
    }
    void input()
    {
        QFETCH(Chunks, chunks);
        QFETCH(QList<int>, replies);
        Meter m;
        for (qsizetype i = 0; i < chunks.size(); ++i)
            QCOMPARE(m.session.feed(chunks[i]).size(), replies[i]);
    }

    void readings_data()
    {
        QTest::addColumn<LoadConfig>("load");  // volts, amps, pf, lag, profile, time scale
        QTest::addColumn<double>("seconds");
        QTest::newRow("kettle, lag") << LoadConfig{230, 8.7, 1.0, true, Profile::Constant, 1} << 37.0;
        QTest::newRow("small load, lead") << LoadConfig{120, 0.0123, 0.37, false, Profile::Constant, 1} << 3600.0;
        QTest::newRow("pf 0: no real power") << LoadConfig{230, 1, 0, true, Profile::Constant, 1} << 10.0;
        QTest::newRow("no load") << LoadConfig{240, 0, 0.9, true, Profile::Constant, 1} << 10.0;
        QTest::newRow("time 60 times faster") << LoadConfig{230, 0.58, 0.9, true, Profile::Constant, 60} << 10.5;
        QTest::newRow("one day") << LoadConfig{230, 13, 0.95, true, Profile::Constant, 1} << 86400.0;
    }
    void readings()
    {
        QFETCH(LoadConfig, load);
        QFETCH(double, seconds);
        Meter m(load);
        m.clock += seconds;
        const QList<double> v = parse(m.ask(frame(1, "S")));
        QCOMPARE(v.size(), 11);
        QCOMPARE(v[2], std::floor(seconds * load.timeScale));
        QCOMPARE(v[5], load.volts * 1e6);
        QCOMPARE(v[6], std::round(load.amps * 1e6));
        QCOMPARE(v[7], load.lag ? 1.0 : 0.0);
        QCOMPARE(v[8], std::round(load.pf * 1e6));
        QVERIFY2(std::fabs(v[4] - v[5] * v[6] * v[8] / 1e15) <= 1.0, "P = V I pf");
        QVERIFY2(std::fabs(v[9] - v[5] * v[6] / 1e9) <= 1.0, "S = V I");
        const double exact = load.volts * load.amps * load.pf * 1e3 * seconds * load.timeScale;
        QVERIFY2(std::fabs(v[3] - exact) <= 1.0 + exact * 1e-9, "energy = P t");
    }

    void clearRestartsElapsedAndEnergy()
    {
        Meter m({230.0, 2.0, 1.0});
        m.clock += 50;
        QCOMPARE(parse(m.ask(frame(1, "S")))[2], 50.0);
        QVERIFY(isClearAck(1, m.ask(frame(1, "E")).constData()));
        QCOMPARE(parse(m.ask(frame(1, "S")))[3], 0.0);
        m.clock += 10;
        const QList<double> v = parse(m.ask(frame(1, "S")));
        QCOMPARE(v[2], 10.0);
        QCOMPARE(v[3], 460e3 * 10);
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
            const double p = parse(m.ask(frame(1, "S")))[4];
            sum += p;
            ++seconds[p > 3 * running ? 0 : p >= running - 1 ? 1 : 2];
        }
        const QList<double> v = parse(m.ask(frame(1, "S")));
        QCOMPARE(v[2], 240.0);
        QVERIFY2(std::fabs(v[3] - sum) <= 240, qPrintable(QString::number(v[3] - sum)));
        QCOMPARE(seconds, QList<int>({4, 76, 160}));
    }

    void faults_data()
    {
        QTest::addColumn<Faults>("faults");  // drop, corrupt, garbage, split
        QTest::newRow("none") << Faults{0, 0, 0, 1};
        QTest::newRow("drop all") << Faults{1, 0, 0, 1};
        QTest::newRow("corrupt all") << Faults{0, 1, 0, 1};
        QTest::newRow("garbage on all") << Faults{0, 0, 1, 1};
        QTest::newRow("four pieces") << Faults{0, 0, 0, 4};
        QTest::newRow("more pieces than bytes") << Faults{0, 0, 0, 64};
    }
    void faults()
    {
        QFETCH(Faults, faults);
        Meter m({}, faults, 1, 42);
        Meter clean;
        int garbledTail = 0;
        for (int i = 0; i < 20; ++i) {
            const QList<Chunks> out = m.session.feed(frame(1, "S"));
            const B expected = clean.ask(frame(1, "S"));
            QCOMPARE(out.size(), faults.drop == 1 ? 0 : 1);
            if (out.isEmpty())
                continue;
            const B reply = out[0].join();
            QCOMPARE(out[0].size(), std::min<qsizetype>(faults.split, reply.size()));
            QVERIFY(!out[0].contains(B()));
            if (faults.corrupt == 1) {
                QVERIFY(reply.startsWith(">01S,") && reply.endsWith('\r'));
                QCOMPARE(checkChecksum(reply.constData()), 0);
                QCOMPARE(parse(reply).size(), 11);
            } else if (faults.garbage == 1) {
                QVERIFY(!(reply.startsWith(">01S") && checkChecksum(reply.constData())));
                garbledTail += reply.endsWith(expected) ? 1 : 0;
            } else {
                QCOMPARE(reply, expected);
            }
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
        const qsizetype sent = a.count('\r');
        QVERIFY2(sent > 150 && sent < 250, qPrintable(QString::number(sent)));
    }

    void frameLimitStopsAnswering()
    {
        Meter m;
        m.session.setFrameLimit(2);
        const B s = frame(1, "S");
        QCOMPARE(m.session.feed(s + frame(2, "S") + s + s).size(), 2);
        QVERIFY(m.session.finished());
        QVERIFY(m.session.feed(s).isEmpty());
    }

    void overPty_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("address");
        QTest::addColumn<B>("cmd");
        QTest::newRow("paced poll") << QStringList{} << 1 << B("S");
        QTest::newRow("address change, meter 3") << QStringList{"--no-pacing", "--address", "3"} << 3 << B("A");
        QTest::newRow("clear") << QStringList{"--no-pacing"} << 1 << B("E");
        QTest::newRow("split reply") << QStringList{"--no-pacing", "--split", "3"} << 1 << B("S");
    }
    // Twice, closing the port in between as the program does when the user
    // picks the port again.
    void overPty()
    {
        QFETCH(QStringList, args);
        QFETCH(int, address);
        QFETCH(B, cmd);
        Sim sim;
        QVERIFY(sim.start(args));
        char add[10];
        addressText(address, add);
        for (int round = 0; round < 2; ++round) {
            const int fd = openLine(sim.path);
            QVERIFY(fd >= 0);
            QElapsedTimer timer;
            timer.start();
            const B reply = exchange(fd, frame(address, cmd.constData()));
            const qint64 ms = timer.elapsed();
            ::close(fd);
            QVERIFY2(reply.startsWith('>' + B(add) + cmd) && reply.endsWith('\r'), reply);
            QCOMPARE(checkChecksum(reply.constData()), 1);
            if (args.isEmpty())  // 10 bits a byte at 9600 baud
                QVERIFY2(ms >= (reply.size() - 1) * 10 * 0.9 / 9.6, qPrintable(QString::number(ms)));
        }
    }

    void hangUpAfterFrames()
    {
        Sim sim;
        QVERIFY(sim.start({"--no-pacing", "--hangup-after", "1"}));
        const int fd = openLine(sim.path);
        QVERIFY(fd >= 0);
        // A slow reader still gets the last reply before the hang-up.
        const B reply = exchange(fd, frame(1, "S"), 300);
        pollfd pfd = {fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, 3000);
        char c;
        const bool hungUp = ready == 1 && ((pfd.revents & POLLHUP) || ::read(fd, &c, 1) <= 0);
        ::close(fd);
        QVERIFY2(reply.startsWith(">01S"), reply);
        QVERIFY(hungUp);
        QVERIFY(sim.proc.waitForFinished(3000));
        QCOMPARE(sim.proc.exitCode(), 0);
    }

    void linkFollowsThePty()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("meter");
        QVERIFY(QFile::link("/nonexistent/stale", link));
        {
            Sim sim;
            QVERIFY(sim.start({"--no-pacing", "--link", link}));
            QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path);
            const int fd = openLine(link);
            QVERIFY(fd >= 0);
            const B reply = exchange(fd, frame(1, "S"));
            ::close(fd);
            QVERIFY2(reply.startsWith(">01S"), reply);
            sim.proc.terminate();
            QVERIFY(sim.proc.waitForFinished(3000));
            QCOMPARE(sim.proc.exitStatus(), QProcess::NormalExit);
            QCOMPARE(sim.proc.exitCode(), 0);
            QVERIFY(!QFileInfo(link).isSymLink());
        }
        // A file that is not a link is never replaced.
        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep") == 4);
        file.close();
        QProcess proc;
        proc.start(METERSIM_EXE, {"--link", link});
        QVERIFY(proc.waitForFinished(5000));
        QCOMPARE(proc.exitCode(), 1);
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
        QTest::newRow("missing value") << QStringList{"--pf"} << 2;
        QTest::newRow("pf above 1") << QStringList{"--pf", "1.5"} << 2;
        QTest::newRow("fractional split") << QStringList{"--split", "2.5"} << 2;
        QTest::newRow("amps and watts") << QStringList{"--amps", "1", "--watts", "100"} << 2;
        QTest::newRow("unknown profile") << QStringList{"--profile", "toaster"} << 2;
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
