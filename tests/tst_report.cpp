// SPDX-License-Identifier: GPL-3.0-or-later
// The report over logs written for each row, with the options as quelmar-log
// reads them: energy across clears and restarts, the rules for what is no log,
// grouping, dates and prices. Every expected figure was worked out by hand.
#include "options.h"

#include <QtTest>

namespace {

const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power\n";
const QByteArray kClock = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power,Local Time\n";
const QString kHead = "Day,Readings,Energy (kWh),Min (W),Mean (W),Max (W),Standby (W),Above standby (%),Gaps,Gap time (s)\n";
const QString kCostHead = "Day,Readings,Energy (kWh),Cost ($),Min (W),Mean (W),Max (W),Standby (W),Above standby (%),Gaps,Gap time (s)\n";
const QString kGap = ": the meter was cleared or restarted, and nothing was counted for the time before it\n";

// A record with the clock column: the meter's time, its counter in mWh, the power and the clock.
QByteArray rec(const char *time, double mWh, double watts, const char *clock)
{
    return QString::asprintf("%s,%.3f,%.3f,230.00,0.500,0.900,lag,%.3f,%s\n", time, mWh, watts, watts, clock).toLatin1();
}

// The same readings at `watts`, every line after the first.
QString same(const QString &name, const char *rest, double watts)
{
    const QString w = QString::number(watts, 'f', 3);
    return name + rest + QStringLiteral(",%1,%1,%1,%1,0.0,").arg(w);
}

} // namespace

class tst_Report : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(dir.path()));
        QFile tariff("night.txt");
        QVERIFY(tariff.open(QIODevice::WriteOnly) && tariff.write("07:00-23:00 30\n23:00-07:00 10\n") > 0);
    }

    // The command line after --report; the logs, each "name\ncontent"; the
    // CSV, the notes, and "lost" when something given could not be used.
    void report_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QList<QByteArray>>("logs");
        QTest::addColumn<QString>("expected");
        // Friday's counter rose 2000 and 2000 mWh. Monday's first record follows a
        // clear 2 minutes earlier, 60 h 58 min after Friday's last: a gap, and the 200 mWh since.
        // Friday's counter rose 2000 and 2000 mWh; a copy of its end overlaps it. Monday's
        // first record follows a clear 2 minutes earlier, 60 h 58 min after Friday's last:
        // a gap, and the 200 mWh since.
        const QByteArray fri = rec("1:01:00", 4000, 120, "2026-03-27T17:59:00+01:00") + rec("1:02:00", 6000, 120, "2026-03-27T18:00:00+01:00");
        QTest::newRow("Friday to Monday, a clear") << QStringList{"mon.csv", "fri.csv", "end.csv"}
            << QList<QByteArray>{"fri.csv\n" + kClock + rec("1:00:00", 2000, 120, "2026-03-27T17:58:00+01:00") + fri, "end.csv\n" + kClock + fri,
                                 "mon.csv\n" + kClock + rec("0:02:00", 200, 6, "2026-03-30T08:00:00+02:00") + rec("0:03:00", 400, 6, "2026-03-30T08:01:00+02:00")}
            << kHead + same("2026-03-27", ",3,0.004000", 120) + "0,0\n" + same("2026-03-30", ",2,0.000400", 6) + "1,219480\n"
                   "Total,5,0.004400,6.000,74.400,120.000,6.000,60.0,1,219480\nend.csv: 2 rows came no later than the row before and were left out\n"
                   "mon.csv: a gap of 60:58:00 from 2026-03-27 18:00:00 to 2026-03-30 07:58:00" + kGap;
        // Back at 13:05 at 6 W: the meter's time is on, but its counter went back.
        QTest::newRow("unplugged from 08:00 to 13:00") << QStringList{"u.csv"}
            << QList<QByteArray>{"u.csv\n" + kClock + rec("0:01:00", 1000, 60, "2026-06-10T07:58:00+02:00") + rec("0:02:00", 2000, 60, "2026-06-10T07:59:00+02:00")
                                     + rec("0:03:00", 3000, 60, "2026-06-10T08:00:00+02:00") + rec("0:05:00", 500, 6, "2026-06-10T13:05:00+02:00")
                                     + rec("0:06:00", 600, 6, "2026-06-10T13:06:00+02:00")}
            << kHead + "2026-06-10,5,0.002600,6.000,38.400,60.000,6.000,60.0,1,18000\nTotal,5,0.002600,6.000,38.400,60.000,6.000,60.0,1,18000\n"
                   "u.csv: a gap of 05:00:00 from 2026-06-10 08:00:00 to 2026-06-10 13:00:00" + kGap;
        // Steps of 60, 60 and 30 s: the period is 60 s. Cleared at 12:05:30, three periods
        // after the record before: 60 W for 180 s is 3000 mWh, and 4000 mWh since, though
        // the counter did not go back; 1000, 1000, 500 and 8000 mWh besides.
        QTest::newRow("midday clear, three periods on") << QStringList{"c.csv"}
            << QList<QByteArray>{"c.csv\n" + kClock + rec("1:00:00", 500, 60, "2026-06-11T12:00:00+02:00") + rec("1:01:00", 1500, 60, "2026-06-11T12:01:00+02:00")
                                     + rec("1:02:00", 2500, 60, "2026-06-11T12:02:00+02:00") + rec("1:02:30", 3000, 60, "2026-06-11T12:02:30+02:00")
                                     + rec("0:00:30", 4000, 480, "2026-06-11T12:06:00+02:00") + rec("0:01:30", 12000, 480, "2026-06-11T12:07:00+02:00")}
            << kHead + "2026-06-11,6,0.017500,60.000,200.000,480.000,60.000,33.3,0,0\nTotal,6,0.017500,60.000,200.000,480.000,60.000,33.3,0,0\n";
        // Without the clock column a clear is a gap of unknown length, and the 2 mWh since.
        const QByteArray plain = kHeader + "0:00:10,1.000,120.000,230.00,0.580,0.900,lag,133.333\n0:00:20,3.000,120.000,230.00,0.580,0.900,lag,133.333\n"
                                           "0:00:05,2.000,120.000,230.00,0.580,0.900,lag,133.333\n";
        QTest::newRow("a log twice, empty ones, what is no log") << QStringList{"a.csv", "e.csv", "b.csv", "n.csv", "h.csv", "a.csv"}
            << QList<QByteArray>{"a.csv\n" + plain, "b.csv\n" + plain, "e.csv\n", "h.csv\n" + kHeader, "n.csv\nTime\n"}
            << kHead + same("a.csv", ",3,0.000004", 120) + "1,\n" + same("Total", ",3,0.000004", 120) + "1,\n"
                   "e.csv: empty, nothing to report\nb.csv: the same log as a.csv, counted once\n"
                   "n.csv: not a Quelmar log (its first line is not a log's header); left out\nh.csv: holds no records, nothing to report\n"
                   "a.csv: the same log as a.csv, counted once\na.csv: a gap of unknown length between the rows at 00:00:20 and 00:00:05: "
                   "the meter's time went back (a clear or a restart), and without the clock column the time it was off is not known; "
                   "nothing was counted for it\nlost\n";
        QTest::newRow("huge and non-finite numbers") << QStringList{"x.csv"}
            << QList<QByteArray>{"x.csv\n" + kClock + rec("0:00:01", 1, 100, "2026-05-01T12:00:00+02:00") + rec("0:00:02", 2, 100000, "2026-05-01T12:00:01+02:00")
                                     + "0:00:03,3,9300000000000000.000,230,0.5,0.9,lag,1,2026-05-01T12:00:02+02:00\n"
                                       "0:00:04,4,1e300,230,0.5,0.9,lag,1,2026-05-01T12:00:03+02:00\n0:00:05,-inf,nan,230,0.5,0.9,lag,1,2026-05-01T12:00:04+02:00\n"
                                       "0:00:06,6,1,230,0.5,0.9,lag,1,2026-02-29T12:00:05+01:00\n"}
            << kHead + "2026-05-01,2,0.000001,100.000,50050.000,100000.000,100.000,50.0,0,0\nTotal,2,0.000001,100.000,50050.000,100000.000,100.000,50.0,0,0\n"
                       "x.csv: 4 rows could not be read and were left out\nlost\n";
        // West from +02:00 to -04:00 just after midnight: the 1st comes back.
        QTest::newRow("a time-zone change") << QStringList{"tz.csv"}
            << QList<QByteArray>{"tz.csv\n" + kClock + rec("0:01:00", 1000, 60, "2026-07-01T23:58:00+02:00") + rec("0:02:00", 2000, 60, "2026-07-01T23:59:00+02:00")
                                     + rec("0:03:00", 3000, 60, "2026-07-02T00:00:00+02:00") + rec("3:04:00", 4000, 60, "2026-07-01T21:01:00-04:00")}
            << kHead + same("2026-07-01", ",3,0.002000", 60) + "0,0\n" + same("2026-07-02", ",1,0.001000", 60) + "0,0\n" + same("Total", ",4,0.003000", 60) + "0,0\n";
        // Sunday the 28th, Monday the 29th, Thursday the 1st, Monday the 5th.
        const QList<QByteArray> year{"y.csv\n" + kClock + rec("1:00:00", 1000, 10, "2025-12-28T12:00:00+01:00") + rec("25:00:00", 2000, 20, "2025-12-29T12:00:00+01:00")
                                     + rec("97:00:00", 4000, 30, "2026-01-01T12:00:00+01:00") + rec("193:00:00", 8000, 40, "2026-01-05T12:00:00+01:00")};
        const QString yearTotal = "Total,4,0.007000,10.000,25.000,40.000,10.000,50.0,0,0\n";
        QTest::newRow("weeks across the year's end") << QStringList{"--by", "week", "y.csv"} << year
            << "Week" + kHead.mid(3) + same("2025-12-22", ",1,0.000000", 10) + "0,0\n2025-12-29,2,0.003000,20.000,25.000,30.000,20.000,0.0,0,0\n"
                   + same("2026-01-05", ",1,0.004000", 40) + "0,0\n" + yearTotal;
        QTest::newRow("months across the year's end") << QStringList{"--by", "month", "y.csv"} << year
            << "Month" + kHead.mid(3) + "2025-12,2,0.001000,10.000,15.000,20.000,10.000,0.0,0,0\n2026-01,2,0.006000,30.000,35.000,40.000,30.000,0.0,0,0\n" + yearTotal;
        // Seven days of 10 cents, five of them without a record.
        QTest::newRow("a date range, a standing charge") << QStringList{"--from", "2025-12-29", "--to", "2026-01-04", "--standing", "10", "y.csv"} << year
            << kCostHead + same("2025-12-29", ",1,0.001000,0.10000", 20) + "0,0\n" + same("2026-01-01", ",1,0.002000,0.10000", 30) + "0,0\n"
                   "Total,2,0.003000,0.70000,20.000,25.000,30.000,20.000,0.0,0,0\n";
        // 1 kWh at 22:30 at 30 c; 2 kWh at 00:30 at 10 c and 1 kWh at 07:30 at 30 c; 5 c a day.
        const QByteArray night = "t.csv\n" + kClock + rec("1:00:00", 0, 1000, "2026-03-10T22:00:00+01:00") + rec("1:30:00", 1e6, 1000, "2026-03-10T22:30:00+01:00")
                                 + rec("3:30:00", 3e6, 1000, "2026-03-11T00:30:00+01:00") + rec("10:30:00", 4e6, 1000, "2026-03-11T07:30:00+01:00");
        QTest::newRow("a tariff across midnight, a standing charge") << QStringList{"--tariff", "night.txt", "--standing", "5", "--to", "2026-03-11", "t.csv"} << QList<QByteArray>{night}
            << kCostHead + same("2026-03-10", ",2,1.000000,0.35000", 1000) + "0,0\n" + same("2026-03-11", ",2,3.000000,0.55000", 1000) + "0,0\n"
                   + same("Total", ",4,4.000000,0.90000", 1000) + "0,0\n";
        QTest::newRow("hours of the day") << QStringList{"--hours", "--tariff", "night.txt", "t.csv", "a.csv"} << QList<QByteArray>{night, "a.csv\n" + plain}
            << "Hour" + kCostHead.mid(3) + same("00:00", ",1,2.000000,0.20000", 1000) + "0,0\n" + same("07:00", ",1,1.000000,0.30000", 1000) + "0,0\n"
                   + same("22:00", ",2,1.000000,0.30000", 1000) + "0,0\n" + same("Total", ",4,4.000000,0.80000", 1000) + "0,0\n"
                   "a.csv: has no clock column, so its records have no date or time of day to place or price them by; left out\nlost\n";
        // 0 cents is a price: a free supply, or the sun's. 1.2 W is more than twice the 0.5 W at rest
        // but not 1 W above it: not above standby.
        QTest::newRow("a free supply, a meter's wander") << QStringList{"--cents", "0", "f.csv"}
            << QList<QByteArray>{"f.csv\n" + kClock + rec("1:00:00", 0, 0.5, "2026-06-10T12:00:00+02:00") + rec("1:01:00", 20, 1.2, "2026-06-10T12:01:00+02:00")}
            << kCostHead + "2026-06-10,2,0.000020,0.00000,0.500,0.850,1.200,0.500,0.0,0,0\nTotal,2,0.000020,0.00000,0.500,0.850,1.200,0.500,0.0,0,0\n";
        // 3.68 kW, what a plug takes, for a year at 50 c: the table still fits.
        QTest::newRow("a year of a heater") << QStringList{"--cents", "50", "kitchen/heater-in-the-garage.csv"}
            << QList<QByteArray>{"kitchen/heater-in-the-garage.csv\n" + kHeader + "0:00:00,0.000,3680.000,230.00,16.000,1.000,lag,3680.000\n"
                                                                            "8760:00:00,32236800000.000,3680.000,230.00,16.000,1.000,lag,3680.000\n"}
            << kCostHead + same("kitchen/heater-in-the-garage.csv", ",2,32236.800000,16118.40000", 3680) + "0,0\n"
                   + same("Total", ",2,32236.800000,16118.40000", 3680) + "0,0\n";
    }
    void report()
    {
        QFETCH(QStringList, args);
        QFETCH(QList<QByteArray>, logs);
        const quelmar::LoggerOptions o = quelmar::parseLoggerOptions(QStringList{"quelmar-log", "--report"} + args, {});
        QCOMPARE(o.action, quelmar::LoggerOptions::Report);
        for (const QByteArray &log : logs) {
            QFile file(QString::fromUtf8(log.left(log.indexOf('\n'))));
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly) && file.write(log.mid(log.indexOf('\n') + 1)) >= 0);
        }
        const quelmar::LogReport r = quelmar::makeReport(o.files, o.report);
        for (const QString &line : quelmar::reportTable(r, o.report).split('\n'))
            QVERIFY2(line.size() <= 100, qPrintable(line));
        QTEST(quelmar::reportCsv(r, o.report) + quelmar::reportNotes(r) + (r.lost ? "lost\n" : ""), "expected");
    }
};

QTEST_GUILESS_MAIN(tst_Report)
#include "tst_report.moc"
