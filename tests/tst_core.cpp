// The widget-free library: frames and checksums, reply checks and parsing,
// device paths, readout and log texts, money and cost arithmetic, and whole
// log records. Every expected byte and text below was worked out by hand.
#include "cost/costmath.h"
#include "display/readouttext.h"
#include "link/devicepath.h"
#include "link/protocol.h"
#include "logging/logrecord.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <limits>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using Values = QList<double>;

class tst_Core : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A decimal comma or grouping from the locale would show in every text.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    void frames_data()
    {
        QTest::addColumn<int>("add");
        QTest::addColumn<QByteArray>("cmd");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("poll") << 1 << QByteArray("S") << QByteArray::fromHex("3C3031532C3B303045300D");
        QTest::newRow("address change to FF") << 1 << QByteArray("A") << QByteArray::fromHex("3C4646412C30313B303135410D");
        QTest::newRow("clear") << 1 << QByteArray("E") << QByteArray::fromHex("3C3031452C3B303044320D");
        QTest::newRow("address 26") << 26 << QByteArray("S") << QByteArray("<1AS,;00F1\r");
        QTest::newRow("sum of exactly 0x100") << 16 << QByteArray("s") << QByteArray("<10s,;0100\r");
        QTest::newRow("sum above 0xFFF") << 255 << QByteArray(40, 'z') << "<FF" + QByteArray(40, 'z') + ",;13C8\r";
        // 0x30 + 0x31 - 0x17 + 0x2C: a byte above 0x7F counts negative.
        QTest::newRow("high byte") << 1 << QByteArray("\xe9") << QByteArray("<01\xe9,;0076\r");
    }
    void frames()
    {
        QFETCH(int, add);
        QFETCH(QByteArray, cmd);
        QFETCH(QByteArray, frame);
        char out[quelmar::kFrameBufferSize];
        QCOMPARE(QByteArray(out, quelmar::buildFrame(add, cmd.constData(), out)), frame);
    }

    void checks_data()
    {
        QTest::addColumn<QByteArray>("msg");
        QTest::addColumn<int>("checksum");
        QTest::addColumn<int>("addressIsOne");
        QTest::newRow("right") << QByteArray(">01S,5,6;0177\r") << 1 << 1;
        QTest::newRow("lower-case digits") << QByteArray(">01S,5,6,7;01da\r") << 1 << 1;
        QTest::newRow("blank before digits") << QByteArray(">01S,5,6; 177\r") << 1 << 1;
        QTest::newRow("one too large") << QByteArray(">01S,5,6;0178\r") << 0 << 1;
        QTest::newRow("no checksum mark") << QByteArray(">01S,5,6\r") << 0 << 1;
        QTest::newRow("no digits") << QByteArray(">01S,5,6;") << 0 << 1;
        QTest::newRow("huge number") << QByteArray(">01S;FFFFFFFFFFFFFFFFFFFFFFFFB4") << 0 << 1;
        QTest::newRow("first character never counts") << QByteArray("x;0") << 1 << 0;
        // 0x41 - 1: summed unsigned it would be 0x140.
        QTest::newRow("high byte counts negative") << QByteArray(">A\xff;40") << 1 << 0;
        QTest::newRow("other address") << QByteArray(">02S,;00E1") << 1 << 0;
        QTest::newRow("third digit ignored") << QByteArray(">012") << 0 << 1;
        QTest::newRow("a frame, not a reply") << QByteArray("<01S,;00E0\r") << 1 << 0;
    }
    void checks()
    {
        QFETCH(QByteArray, msg);
        QFETCH(int, checksum);
        QFETCH(int, addressIsOne);
        QCOMPARE(quelmar::checkChecksum(msg.constData()), checksum);
        QCOMPARE(quelmar::checkAddress(1, msg.constData()), addressIsOne);
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("msg");
        QTest::addColumn<Values>("entries");
        QTest::newRow("checksum read as hex") << QByteArray(">01S,5,6;0177\r") << Values{5, 6, 375};
        QTest::newRow("nothing after the mark") << QByteArray(">01S,5,6;") << Values{5, 6, 0};
        QTest::newRow("decimals, sign, junk") << QByteArray(">01S,-1.5,2e3,x,;1") << Values{-1.5, 2000, 0, 0, 1};
        QTest::newRow("two replies in one read")
            << QByteArray(">01S,5,6;0177\r>01S,7,8;017B\r") << Values{5, 6, 0, 7, 8, 0x17B};
        QTest::newRow("no comma") << QByteArray(">01S;00B4\r") << Values{};
    }
    void parse()
    {
        QFETCH(QByteArray, msg);
        QFETCH(Values, entries);
        Values vals(quelmar::kMeasurementCount, -7.0);
        QCOMPARE(quelmar::parseReply(msg.constData(), vals.data()), entries.size());
        // The entries, then zeros up to the reply's length, and nothing beyond.
        QCOMPARE(vals.mid(0, msg.size() + 1), entries + Values(msg.size() - entries.size(), 0.0) + Values{-7.0});
    }

    void devicePath_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::newRow("COM1") << "COM1" << "/dev/ttyS0";
        QTest::newRow("any case") << "com10" << "/dev/ttyS9";
        QTest::newRow("absolute") << "/dev/pts/7" << "/dev/pts/7";
        QTest::newRow("device name") << "ttyUSB0" << "/dev/ttyUSB0";
        QTest::newRow("empty opens nothing") << "" << "";
        QTest::newRow("COM0 is no port number") << "COM0" << "/dev/COM0";
        QTest::newRow("leading zero") << "COM03" << "/dev/COM03";
    }
    void devicePath()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QCOMPARE(quelmar::devicePath(name), path);
    }

    // Entries 2 to 9 of a reading; the seven readout fields joined by "|";
    // the log record of the same pass.
    void readout_data()
    {
        QTest::addColumn<Values>("vals");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("record");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("idle") << Values{0, 0, 0, 0, 0, 0, 0, 0}
                              << "00:00:00 HMS|0.000 mWh|0.000 W    |0.00 V     |0.000 A     |0.000 Lead|0.000 VA   "
                              << QByteArray("00:00:00,0.000,0.000,0.00,0.000,0.000,Lead,0.000");
        QTest::newRow("kettle, lag") << Values{3725, 2500.0 * 3600, 1500000, 230120000, 6520000, 1, 950000, 1530000}
                                     << "01:02:05 HMS|2.500 Wh  |1500.000 W    |230.12 V     |6.520 A     |0.950 Lag |1530.000 VA   "
                                     << QByteArray("01:02:05,2500.000,1500.000,230.12,6.520,0.950,lag,1530.000");
        QTest::newRow("100 h, kWh, negatives") << Values{360059.99, 1e6 * 3600, -25000, 229996000, -1000, nan, 1000000, 0}
                                               << "100:00:59 HMS|1.000 kWh|-25.000 W    |230.00 V     |-0.001 A     |1.000 Lag |0.000 VA   "
                                               << QByteArray("100:00:59,1000000.000,-25.000,230.00,-0.001,1.000,lag,0.000");
        QTest::newRow("1000 mWh, -0 leads") << Values{59.99, 1000.0 * 3600, 0, 0, 0, -0.0, 0, 0}
                                            << "00:00:59 HMS|1.000 Wh  |0.000 W    |0.00 V     |0.000 A     |0.000 Lead|0.000 VA   "
                                            << QByteArray("00:00:59,1000.000,0.000,0.00,0.000,0.000,Lead,0.000");
        QTest::newRow("range before rounding") << Values{0, 999.9996 * 3600, 0, 0, 0, 1e-300, 0, 0}
                                               << "00:00:00 HMS|1000.000 mWh|0.000 W    |0.00 V     |0.000 A     |0.000 Lag |0.000 VA   "
                                               << QByteArray("00:00:00,1000.000,0.000,0.00,0.000,0.000,lag,0.000");
        QTest::newRow("-1000 mWh") << Values{0, -1000.0 * 3600, 0, 0, 0, 0, 0, 0}
                                   << "00:00:00 HMS|-1.000 Wh  |0.000 W    |0.00 V     |0.000 A     |0.000 Lead|0.000 VA   "
                                   << QByteArray("00:00:00,-1000.000,0.000,0.00,0.000,0.000,Lead,0.000");
    }
    void readout()
    {
        QFETCH(Values, vals);
        QFETCH(QString, shown);
        QFETCH(QByteArray, record);
        const quelmar::ReadoutTexts t = quelmar::readoutTexts((Values{0, 0} + vals).constData());
        const QStringList fields{quelmar::timeField(t),    t.energyShown,
                                 quelmar::powerField(t),   quelmar::voltsField(t),
                                 quelmar::currentField(t), quelmar::powerFactorField(t),
                                 quelmar::apparentField(t)};
        QCOMPARE(fields.join(QLatin1Char('|')), shown);
        QCOMPARE(quelmar::logRecord(t), record);
    }

    // Elapsed seconds, energy in milliwatt-seconds, cents per kWh, hours a day.
    void costs_data()
    {
        QTest::addColumn<Values>("given");
        QTest::addColumn<QStringList>("costs"); // now, per hour, week, quarter, year
        QTest::newRow("1 kWh in an hour")
            << Values{3600, 3.6e9, 18, 24} << QStringList{"$0.18000", "$0.18000", "$30.24000", "$394.47000", "$1577.88000"};
        QTest::newRow("no hours of use")
            << Values{3600, 3.6e9, 18, 0} << QStringList{"$0.18000", "$0.18000", "$0.00000", "$0.00000", "$0.00000"};
        // 12.34 enters as a float; in double the year would be $1081.72440.
        QTest::newRow("tariff in single precision")
            << Values{3600, 3.6e9, 12.34, 24} << QStringList{"$0.12340", "$0.12340", "$20.73120", "$270.43110", "$1081.72441"};
        QTest::newRow("no elapsed time")
            << Values{0, 3.6e9, 18, 24} << QStringList{"$0.18000", "$inf", "$inf", "$inf", "$inf"};
    }
    void costs()
    {
        QFETCH(Values, given);
        QFETCH(QStringList, costs);
        const quelmar::Costs c = quelmar::runningCosts(float(given[0]), given[1], float(given[2]), float(given[3]));
        QCOMPARE((QStringList{quelmar::moneyText(c.now), quelmar::moneyText(c.perHour), quelmar::moneyText(c.perWeek),
                              quelmar::moneyText(c.perQuarter), quelmar::moneyText(c.perYear)}),
                 costs);
    }

    void totals_data()
    {
        QTest::addColumn<QString>("total");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("sum");
        QTest::newRow("empty total") << "" << "$0.18000" << "$0.18000";
        QTest::newRow("second appliance") << "$1577.88000" << "$1577.88000" << "$3155.76001";
        QTest::newRow("total read as float") << "$1081.72441" << "$0.00000" << "$1081.72437";
        QTest::newRow("typed text") << "lots" << "$0.18000" << "$0.18000";
        QTest::newRow("infinite total") << "$inf" << "$30.24000" << "$30.24000";
    }
    void totals()
    {
        QFETCH(QString, total);
        QFETCH(QString, current);
        QFETCH(QString, sum);
        QCOMPARE(quelmar::addToTotal(total, current), sum);
    }

    // A record lands whole or not at all: with room for only part of it the
    // file keeps its old length, and the next try writes it.
    void recordLandsWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.csv"));
        QVERIFY(quelmar::writeLogHeader(path));
        const pid_t child = fork();
        if (child == 0) {
            const rlimit lim{76 + 5, 76 + 5};
            setrlimit(RLIMIT_FSIZE, &lim);
            signal(SIGXFSZ, SIG_IGN);
            _exit(quelmar::appendLogRecord(path, "00:00:02,0.067") ? 1 : 0);
        }
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QCOMPARE(status, 0);
        QFile file(path);
        QCOMPARE(file.size(), 76);
        QVERIFY(quelmar::appendLogRecord(path, "00:00:02,0.067"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power\n"
                                 "00:00:02,0.067\n");
    }
};

QTEST_GUILESS_MAIN(tst_Core)
#include "tst_core.moc"
