// SPDX-License-Identifier: GPL-3.0-or-later
// The widget-free library: frames and checksums, reply checks and parsing,
// device paths, readout and log texts, money and cost arithmetic, and the
// chart's thinning to pixel columns, span statistics and the log reader under
// it. Every expected byte and text below was worked out by hand.
#include "core/cost/costmath.h"
#include "core/history/chartmath.h"
#include "core/logfile/logreader.h"
#include "core/logfile/logrecord.h"
#include "core/measure/measurement.h"
#include "core/measure/readouttext.h"
#include "core/measure/record.h"
#include "core/port/devicepath.h"
#include "core/report/logreport.h"
#include "core/wire/protocol.h"

#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using Values = QList<double>;
using Points = QList<QPointF>;
const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power\n";
const QByteArray kFridge = "00:00:04,343.250,120.000,230.00,0.580,0.900,lag,133.250\n"
                           "00:00:14,676.500,120.000,230.00,0.580,0.900,lag,133.250\n";

class tst_Core : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

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
        QTest::newRow("address 26") << 26 << QByteArray("S") << QByteArray("<1AS,;00F1\r");
        QTest::newRow("sum of exactly 0x100") << 16 << QByteArray("s") << QByteArray("<10s,;0100\r");
        // 0x60 + 32 * 0x7A + 0x33 + 0x2C: the last sum with a "0" in front.
        QTest::newRow("sum of exactly 0xFFF") << 0 << QByteArray(32, 'z') + '3' << "<00" + QByteArray(32, 'z') + "3,;0FFF\r";
        QTest::newRow("sum above 0xFFF") << 255 << QByteArray(40, 'z') << "<FF" + QByteArray(40, 'z') + ",;13C8\r";
        // 0x30 + 0x31 - 0x17 + 0x2C: a byte above 0x7F counts negative.
        QTest::newRow("high byte") << 1 << QByteArray("\xe9") << QByteArray("<01\xe9,;0076\r");
    }
    void frames()
    {
        QFETCH(int, add);
        QFETCH(QByteArray, cmd);
        char out[quelmar::kFrameBufferSize];
        QTEST(QByteArray(out, quelmar::buildFrame(add, cmd.constData(), out)), "frame");
    }

    // One read through the reply rules: its checksum and address (meter 1)
    // checks, the result, and whether it was parsed, leaving the entries,
    // then zeros up to the read's length; a refused read leaves the array.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("msg");
        QTest::addColumn<int>("checksum");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("parsed");
        QTest::addColumn<Values>("entries");
        QTest::newRow("lower-case digits") << QByteArray(">01S,5,6,7;01da\r") << 1 << 1 << 4 << true << Values{5, 6, 7, 0x1DA};
        QTest::newRow("one too large") << QByteArray(">01S,5,6;0178\r") << 0 << 1 << 0 << false << Values{};
        QTest::newRow("no checksum mark") << QByteArray(">01S,5,6\r") << 0 << 1 << 0 << false << Values{};
        QTest::newRow("no digits") << QByteArray(">01S,5,6;") << 0 << 1 << 0 << false << Values{};
        QTest::newRow("huge number") << QByteArray(">01S;FFFFFFFFFFFFFFFFFFFFFFFFB4") << 0 << 1 << 0 << false << Values{};
        QTest::newRow("decimals, sign, junk") << QByteArray(">01S,-1.5,2e3,x,;0367") << 1 << 1 << 5 << true << Values{-1.5, 2000, 0, 0, 0x367};
        QTest::newRow("two replies") << QByteArray(">01S,5,6;0177\r>01S,7,8;017B\r") << 1 << 1 << 6 << true << Values{5, 6, 0, 7, 8, 0x17B};
        QTest::newRow("no comma") << QByteArray(">01S;00B4\r") << 1 << 1 << 0 << true << Values{};
        QTest::newRow("other address") << QByteArray(">02S,5,6;0178\r") << 1 << 0 << 3 << true << Values{5, 6, 0x178};
        // 0x41 - 1: summed unsigned it would be 0x140.
        QTest::newRow("high byte counts negative") << QByteArray(">A\xff;40") << 1 << 0 << 0 << true << Values{};
        QTest::newRow("clear acknowledgement, bad checksum") << QByteArray(">01E;FFFF") << 0 << 1 << 99 << false << Values{};
        // Noise whose empty byte sum a "0" matches, and a frame echoed back.
        QTest::newRow("noise, ';' at 1") << QByteArray("\xff;0,0,0,7200,7200000000,0,0,0,0,0\r") << 1 << 0 << 0 << false << Values{};
        QTest::newRow("reply, ';' at 1") << QByteArray(">;0,5,0,7200;\r") << 1 << 0 << 0 << false << Values{};
        QTest::newRow("a frame") << QByteArray("<01S,;00E0\r") << 1 << 0 << 0 << false << Values{};
        QTest::newRow("nothing") << QByteArray() << 0 << 0 << 0 << false << Values{};
    }
    void replies()
    {
        QFETCH(QByteArray, msg);
        QFETCH(bool, parsed);
        QFETCH(Values, entries);
        QTEST(quelmar::checkChecksum(msg.constData()), "checksum");
        QTEST(quelmar::checkAddress(1, msg.constData()), "address");
        Values vals(quelmar::kMeasurementCount, -7.0);
        QTEST(quelmar::acceptReply(1, msg.constData(), vals.data()), "result");
        QCOMPARE(vals.mid(0, msg.size() + 1),
                 parsed ? entries + Values(msg.size() - entries.size(), 0.0) + Values{-7.0} : Values(msg.size() + 1, -7.0));
    }

    void devicePath_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::newRow("COM1") << "COM1" << "/dev/ttyS0";
        QTest::newRow("any case") << "com10" << "/dev/ttyS9";
        QTest::newRow("empty opens nothing") << "" << "";
        QTest::newRow("leading zero") << "COM03" << "/dev/COM03";
    }
    void devicePath()
    {
        QFETCH(QString, name);
        QTEST(quelmar::devicePath(name), "path");
    }

    // Entries 2 to 9 of a reading; the seven readout fields joined by "|";
    // the log record of the same pass.
    void readout_data()
    {
        QTest::addColumn<Values>("vals");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("record");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("kettle, lag") << Values{3725, 2500.0 * 3600, 1500000, 230120000, 6520000, 1, 950000, 1530000}
                                     << "01:02:05 HMS|2.500 Wh  |1500.000 W    |230.12 V     |6.520 A     |0.950 Lag |1530.000 VA   "
                                     << QByteArray("01:02:05,2500.000,1500.000,230.12,6.520,0.950,lag,1530.000");
        QTest::newRow("100 h, kWh, negatives") << Values{360059.99, 1e6 * 3600, -25000, 229996000, -1000, nan, 1000000, 0}
                                               << "100:00:59 HMS|1.000 kWh|-25.000 W    |230.00 V     |-0.001 A     |1.000 Lag |0.000 VA   "
                                               << QByteArray("100:00:59,1000000.000,-25.000,230.00,-0.001,1.000,lag,0.000");
        // Rounded once for the record, on the exact value: 230.005 is stored
        // as 230.00499..., and 0.0005 W as 0.000500...01; a tiny negative
        // keeps its sign as its text does.
        QTest::newRow("halves, exactly") << Values{0, -0.36, 0.5, 230005000, 2500, 1, 999500, 1500}
                                         << "00:00:00 HMS|-0.000 mWh|0.001 W    |230.00 V     |0.003 A     |1.000 Lag |1.500 VA   "
                                         << QByteArray("00:00:00,-0.000,0.001,230.00,0.003,1.000,lag,1.500");
        QTest::newRow("1000 mWh, -0 leads") << Values{59.99, 1000.0 * 3600, 0, 0, 0, -0.0, 0, 0}
                                            << "00:00:59 HMS|1.000 Wh  |0.000 W    |0.00 V     |0.000 A     |0.000 Lead|0.000 VA   "
                                            << QByteArray("00:00:59,1000.000,0.000,0.00,0.000,0.000,Lead,0.000");
        QTest::newRow("range before rounding") << Values{0, 999.9996 * 3600, 0, 0, 0, 1e-300, 0, 0}
                                               << "00:00:00 HMS|1000.000 mWh|0.000 W    |0.00 V     |0.000 A     |0.000 Lag |0.000 VA   "
                                               << QByteArray("00:00:00,1000.000,0.000,0.00,0.000,0.000,lag,0.000");
    }
    void readout()
    {
        QFETCH(Values, vals);

        const quelmar::ReadoutTexts t = quelmar::readoutTexts(quelmar::Measurement::fromArray((Values{0, 0} + vals).constData()));
        const QStringList fields{quelmar::timeField(t),    t.energyShown,
                                 quelmar::powerField(t),   quelmar::voltsField(t),
                                 quelmar::currentField(t), quelmar::powerFactorField(t),
                                 quelmar::apparentField(t)};
        QTEST(fields.join(QLatin1Char('|')), "shown");
        QTEST(quelmar::logRecord(quelmar::Record::of(quelmar::Measurement::fromArray((Values{0, 0} + vals).constData()), 0, 0)), "record");
    }

    // The Meter tab's energy across and between the boundaries of its units:
    // mWh below 1 Wh, Wh below 1 kWh, kWh from there on, either sign.
    void energyRanges_data()
    {
        QTest::addColumn<double>("mWh");
        QTest::addColumn<QString>("shown");
        QTest::newRow("-999.999 mWh") << -999.999 << "-999.999 mWh";
        QTest::newRow("-1 Wh") << -1000.0 << "-1.000 Wh  ";
        QTest::newRow("100 Wh") << 100000.0 << "100.000 Wh  ";
        QTest::newRow("999.999 Wh") << 999999.0 << "999.999 Wh  ";
        QTest::newRow("-999.999 Wh") << -999999.0 << "-999.999 Wh  ";
        // The range is chosen before the figure is rounded.
        QTest::newRow("1 kWh less 0.0004 mWh") << 999999.9996 << "1000.000 Wh  ";
        QTest::newRow("-1 kWh") << -1e6 << "-1.000 kWh";
        QTest::newRow("1000 kWh: no larger unit") << 1e9 << "1000.000 kWh";
    }
    void energyRanges()
    {
        QFETCH(double, mWh);
        QTEST(quelmar::energyText(mWh), "shown");
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
        QTest::newRow("no elapsed time")
            << Values{0, 3.6e9, 18, 24} << QStringList{"$0.18000", "$inf", "$inf", "$inf", "$inf"};
        // 1 kW for a year and a second: the odd second is lost to single
        // precision (31557601 s reads as 31557600 s), so the rate runs 3.2e-8 high.
        QTest::newRow("elapsed time in single precision")
            << Values{31557601, 31557601e6, 18, 24} << QStringList{"$1577.88005", "$0.18000", "$30.24000", "$394.47001", "$1577.88005"};
        // 23.33 h reads as 23.3299999237 h; in double the week would be $163.29367.
        QTest::newRow("hours in single precision")
            << Values{3600, 3.6e9, 99.99, 23.33} << QStringList{"$0.99990", "$0.99990", "$163.29366", "$2130.10754", "$8520.43016"};
    }
    void costs()
    {
        QFETCH(Values, given);
        const double vals[10] = {0, 0, given[0], given[1]};
        const quelmar::Costs c = quelmar::runningCosts(quelmar::Measurement::fromArray(vals), given[2], given[3]);
        QTEST((QStringList{quelmar::moneyText(c.now), quelmar::moneyText(c.perHour), quelmar::moneyText(c.perWeek),
                           quelmar::moneyText(c.perQuarter), quelmar::moneyText(c.perYear)}),
              "costs");
    }

    void totals_data()
    {
        QTest::addColumn<QString>("total");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("sum");
        QTest::newRow("typed amount, then an appliance") << "1577.88" << "$1577.88000" << "$3155.76001";
        QTest::newRow("typed text") << "lots" << "$0.18000" << "$0.18000";
        QTest::newRow("infinite total") << "$inf" << "$30.24000" << "$30.24000";
    }
    void totals()
    {
        QFETCH(QString, total);
        QFETCH(QString, current);
        QTEST(quelmar::addToTotal(total, current), "sum");
    }

    void decimation_data()
    {
        // y at x = 0, 1, 2, ... over two columns of five.
        QTest::addColumn<Values>("ys");
        QTest::addColumn<Points>("points");
        QTest::newRow("flat") << Values{3, 3, 3, 3, 3, 3, 3, 3, 3, 3} << Points{{0, 3}, {5, 3}};
        QTest::newRow("spike") << Values{1, 1, 1, 1, 1, 1, 9, 1, 1, 1} << Points{{0, 1}, {5, 1}, {6, 9}};
        QTest::newRow("step") << Values{0, 0, 0, 5, 5, 5, 5, 5, 5, 5} << Points{{0, 0}, {3, 5}, {5, 5}};
        QTest::newRow("empty") << Values{} << Points{};
        QTest::newRow("one point") << Values{2} << Points{{0, 2}};
    }

    void decimation()
    {
        QFETCH(Values, ys);
        Points out;
        quelmar::ColumnDecimator d(0, 10, 2, out);
        for (int x = 0; x < ys.size(); ++x)
            d.add(x, ys[x]);
        d.finish();
        QTEST(out, "points");
    }

    // A history's statistics over times that are no clock's (a log without
    // the clock column), which cannot date a clear. Readings as ms, counter
    // mWh, W, 1 for the first after a clear: count, min, mean, max, mWh, gaps.
    void statistics()
    {
        const Values readings{0, 10, 18, 0, 1000, 11, 54, 0, 2000, 11.5, 18, 1, 3000, 12.5, 54, 0};
        quelmar::ReadingHistory h;
        for (int i = 0; i + 3 < readings.size(); i += 4) {
            if (readings[i + 3] != 0)
                h.markClear();
            const double vals[10] = {0, 0, 0, readings[i + 1] * 3600, readings[i + 2] * 1000};
            h.add(qint64(readings[i]), quelmar::Measurement::fromArray(vals));
        }
        const quelmar::SpanStats st = quelmar::spanStats(h, 0, quelmar::Series::RealPower, false);
        QCOMPARE((Values{double(st.count), st.min, st.mean, st.max, st.energy, double(st.gaps)}), (Values{4, 18, 36, 54, 13.5, 1}));
    }

    // A day of readings and one more: the oldest goes, and the statistics
    // cover the newest day. Power n W at n * 500 ms: the dropped reading is 0 W.
    void historyWrap()
    {
        quelmar::ReadingHistory h;
        double vals[10] = {};
        for (int n = 0; n <= quelmar::kDayOfReadings; ++n) {
            vals[4] = n * 1000.0;
            h.add(qint64(n) * 500, quelmar::Measurement::fromArray(vals));
        }
        QCOMPARE(h.timeAt(0), qint64(500));
        QCOMPARE(h.timeAt(h.size() - 1), qint64(86400000));
        const quelmar::SpanStats st = quelmar::spanStats(h, 0, quelmar::Series::RealPower);
        QCOMPARE((Values{double(st.count), st.min, st.max}), (Values{172800, 1, 172800}));
    }

    // A log through the report's reader into a history, as the Chart tab
    // opens it: readings, rows skipped, something lost; of the last reading:
    // ms, counter step (after a clear its own counter) mWh, W, V, A, factor, VA, lead, after a clear.
    void logReader_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Values>("expected");
        const Values fridge{2, 0, 0, 14000, 333.25, 120, 230, 0.58, 0.9, 133.25, 0, 0};
        QTest::newRow("good") << kHeader + kFridge << fridge;
        QTest::newRow("CR LF") << QByteArray(kHeader + kFridge).replace("\n", "\r\n") << fridge;
        // Then numbers no mains meter reports: ±100 kW, 10^12 Wh, 1000 V, 1000 A, a factor of 1.
        QTest::newRow("malformed rows") << kHeader + kFridge + "00:00:1x,1,2,230,0.5,0.9,lag,1\n00:00:20,1.0\n\n"
                                           "00:61:00,1,2,230,0.5,0.9,lag,1\n00:00:24,nan,2,230,0.5,0.9,lag,1\n"
                                           "00:00:24,1,2,230,0.5,0.9,sideways,1\n00:00:24,1,2,230,0.5,0.9,lag,inf\n"
                                           "00:00:24,1e16,2,230,0.5,0.9,lag,1\n00:00:24,1,2,1000.01,0.5,0.9,lag,1\n"
                                           "00:00:24,1,2,230,-1000.5,0.9,lag,1\n00:00:24,1,2,230,0.5,1.001,lag,1\n"
                                           "00:00:24,1,100000.001,230,0.5,0.9,lag,1\n00:00:24,1,2,230,0.5,0.9,lag,-100000.01\n"
                                           "101:00:00,700,-5.5,229.99,0.25,0.876,Lead,6\n"
                                        << Values{3, 12, 1, 363600000, 23.5, -5.5, 229.99, 0.25, 0.876, 6, 1, 0};
        QTest::newRow("cleared while logging") << kHeader + kFridge + "00:00:03,0.5,60,230,0.58,0.9,lag,66\n"
                                               << Values{3, 0, 0, 17000, 0.5, 60, 230, 0.58, 0.9, 66, 0, 1};
        // Read in blocks of 128 KiB: lines across their ends. Each pair after the first
        // follows a clear and goes on from the pair before, 14 s later.
        QTest::newRow("longer than a block") << kHeader + kFridge.repeated(1500) << Values{3000, 0, 0, 21000000, 333.25, 120, 230, 0.58, 0.9, 133.25, 0, 0};
        // What the window's own log code writes.
        const QString path = dir.filePath("written.csv");
        const double vals[10] = {0, 0, 3725, 2500.0 * 3600, 1500000, 230120000, 6520000, 0, 950000, 1530000};
        QVERIFY(quelmar::writeLogHeader(path));
        QVERIFY(quelmar::appendLogRecord(path, quelmar::logRecord(quelmar::Record::of(quelmar::Measurement::fromArray(vals), 0, 0))).written);
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QTest::newRow("round trip") << written.readAll() << Values{1, 0, 0, 3725000, 0, 1500, 230.12, 6.52, 0.95, 1530, 1, 0};
    }

    // How many readings a file holds before a log replaces or refuses it.
    void recordsHeld_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("held");
        const QByteArray row = "00:00:01,1.000,6.000,230.00,0.029,0.900,lag,6.667";
        const QByteArray clock = ",2026-03-29T00:00:00+01:00\n";
        const QByteArray clockHeader = kHeader.chopped(1) + ",Local Time\n";
        QTest::newRow("clock header only") << clockHeader << 0;
        QTest::newRow("three with the clock") << clockHeader + row + clock + row + clock + row + clock << 3;
        QTest::newRow("CR LF, last line cut") << kHeader.chopped(1) + "\r\n" + row + "\r\n" + row.left(9) << 2;
        QTest::newRow("no header") << row + '\n' + row + '\n' << 2;
    }
    void recordsHeld()
    {
        QFETCH(QByteArray, content);
        const QString path = dir.filePath(QStringLiteral("held-%1.csv").arg(QTest::currentDataTag()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        QTEST(int(quelmar::countLogRecords(path)), "held");
    }

    void logReader()
    {
        QFETCH(QByteArray, content);
        quelmar::ReadingHistory h(quelmar::ReadingHistory::kUnbounded);
        QFile file(dir.filePath(QStringLiteral("read-%1.csv").arg(QTest::currentDataTag())));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        const quelmar::LogReport report = quelmar::makeReport({file.fileName()}, {}, &h);
        Values got{double(h.size()), double(report.unreadable), double(report.lost)};
        if (!h.isEmpty()) {
            const quelmar::Reading r = h.at(h.size() - 1);
            got << double(r.timeMs) << r.energyStep << r.power << r.volts << r.amps << r.pf << r.apparent << r.lead
                << r.afterClear;
        }
        QTEST(got, "expected");
    }
};

QTEST_GUILESS_MAIN(tst_Core)
#include "tst_core.moc"
