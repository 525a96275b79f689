// The Chart tab: thinning to pixel columns, span statistics, the log reader,
// and the tab in the window.
#include "app/quelmarstatus.h"
#include "chart/chartmath.h"
#include "chart/logreader.h"
#include "display/readouttext.h"
#include "logging/logrecord.h"
#include "testsupport.h"

#include <QtTest>
#include <QtWidgets>

using Points = QList<QPointF>;
using Values = QList<double>;
const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power\n";
const QByteArray kFridge = "00:00:04,343.250,120.000,230.00,0.580,0.900,lag,133.250\n"
                           "00:00:14,676.500,120.000,230.00,0.580,0.900,lag,133.250\n";
const double kLoaded = quelmar::LogContents::Loaded, kNotALog = quelmar::LogContents::NotALog;

class tst_Chart : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void decimation_data()
    {
        // y at x = 0, 1, 2, ... over two columns of five.
        QTest::addColumn<Values>("ys");
        QTest::addColumn<Points>("points");
        QTest::newRow("flat") << Values{3, 3, 3, 3, 3, 3, 3, 3, 3, 3} << Points{{0, 3}, {5, 3}};
        QTest::newRow("spike") << Values{1, 1, 1, 1, 1, 1, 9, 1, 1, 1} << Points{{0, 1}, {5, 1}, {6, 9}};
        QTest::newRow("dip after the top") << Values{4, 4, 4, 4, 4, 4, 4, -2, 4, 4} << Points{{0, 4}, {5, 4}, {7, -2}};
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

    void statistics_data()
    {
        // Readings as ms, counter mWh, W, 1 for the first after a clear; the span's start in ms.
        QTest::addColumn<Values>("readings");
        QTest::addColumn<int>("from");
        QTest::addColumn<Values>("expected");  // count, min, mean, max, mWh used
        QTest::newRow("counter runs") << Values{0, 10, 1, 0, 1000, 12, 2, 0, 2000, 15, 6, 0} << 0 << Values{3, 1, 3, 6, 5};
        // Across the clear (54 + 18) / 2 W for 1 s is 36 J, 10 mWh, whatever the counter says; 1 mWh either side.
        QTest::newRow("clear in span") << Values{0, 10, 18, 0, 1000, 11, 54, 0, 2000, 11.5, 18, 1, 3000, 12.5, 54, 0} << 0
                                       << Values{4, 18, 36, 54, 12};
        // Back with no clear seen: 15 W for 7.2 s is 108 J, 30 mWh.
        QTest::newRow("counter falls") << Values{0, 20, 10, 0, 7200, 5, 20, 0} << 0 << Values{2, 10, 15, 20, 30};
        QTest::newRow("from 1 s") << Values{0, 10, 100, 0, 1000, 12, 2, 0, 2000, 15, 6, 0} << 1000 << Values{2, 2, 4, 6, 3};
        QTest::newRow("one reading") << Values{0, 10, 7, 0} << 0 << Values{1, 7, 7, 7, 0};
    }

    void statistics()
    {
        QFETCH(Values, readings);
        QFETCH(int, from);
        quelmar::ReadingHistory h;
        for (int i = 0; i + 3 < readings.size(); i += 4) {
            if (readings[i + 3] != 0)
                h.markClear();
            const double vals[10] = {0, 0, 0, readings[i + 1] * 3600, readings[i + 2] * 1000};
            h.addReading(qint64(readings[i]), vals);
        }
        const quelmar::SpanStats st = quelmar::spanStats(h, h.lowerBound(from), quelmar::Series::RealPower);
        QTEST((Values{double(st.count), st.min, st.mean, st.max, st.energy}), "expected");
    }

    void logReader_data()
    {
        // Status, readings, rows skipped; of the last: ms, counter step mWh, W, V, A, factor, VA, lead, after a clear.
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Values>("expected");
        const Values fridge{kLoaded, 2, 0, 14000, 333.25, 120, 230, 0.58, 0.9, 133.25, 0, 0};
        QTest::newRow("good") << kHeader + kFridge << fridge;
        QTest::newRow("CR LF") << QByteArray(kHeader + kFridge).replace("\n", "\r\n") << fridge;
        QTest::newRow("malformed rows") << kHeader + kFridge + "00:00:1x,1,2,230,0.5,0.9,lag,1\n00:00:20,1.0\n\n"
                                           "00:61:00,1,2,230,0.5,0.9,lag,1\n00:00:24,nan,2,230,0.5,0.9,lag,1\n"
                                           "00:00:24,1,2,230,0.5,0.9,sideways,1\n101:00:00,700,-5.5,229.99,0.25,0.876,Lead,6\n"
                                        << Values{kLoaded, 3, 5, 363600000, 23.5, -5.5, 229.99, 0.25, 0.876, 6, 1, 0};
        QTest::newRow("cleared while logging") << kHeader + kFridge + "00:00:03,0.5,60,230,0.58,0.9,lag,66\n"
                                               << Values{kLoaded, 3, 0, 17000, -676, 60, 230, 0.58, 0.9, 66, 0, 1};
        QTest::newRow("header only") << kHeader << Values{kLoaded, 0, 0};
        QTest::newRow("not a log") << "Time,Energy\n" + kFridge << Values{kNotALog, 0, 0};
        // What the window's own log code writes.
        const QString path = dir.filePath("written.csv");
        const double vals[10] = {0, 0, 3725, 2500.0 * 3600, 1500000, 230120000, 6520000, 0, 950000, 1530000};
        QVERIFY(quelmar::writeLogHeader(path));
        QVERIFY(quelmar::appendLogRecord(path, quelmar::logRecord(quelmar::readoutTexts(vals))));
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QTest::newRow("round trip") << written.readAll() << Values{kLoaded, 1, 0, 3725000, 0, 1500, 230.12, 6.52, 0.95, 1530, 1, 0};
    }

    void logReader()
    {
        QFETCH(QByteArray, content);
        QBuffer file(&content);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const quelmar::LogContents log = quelmar::readLog(file);
        Values got{double(log.status), double(log.readings.size()), double(log.skipped)};
        if (!log.readings.isEmpty()) {
            const quelmar::Reading r = log.readings.at(log.readings.size() - 1);
            got << double(r.timeMs) << r.energyStep << r.power << r.volts << r.amps << r.pf << r.apparent << r.lead
                << r.afterClear;
        }
        QTEST(got, "expected");
    }

    void tabInTheWindow()
    {
        useSettingsFolder(dir.path());
        PtyPair pty;
        auto w = openWindowOn(pty.path());
        auto *tabs = w->findChild<QTabWidget *>("tabWidget");
        QStringList pages;
        for (int i = 0; i < tabs->count(); ++i)
            pages << tabs->tabText(i) + '/' + tabs->widget(i)->objectName();
        QCOMPARE(pages, (QStringList{"Meter/tab", "Cost Calculator/tab_2", "Data Logging/tab_3", "Chart/chartTab"}));
        w->show();
        double vals[10] = {0, 0, 4, 2500.0 * 3600, 1500000, 230000000, 6520000, 1, 950000, 1530000};
        w->UpdateDisp(vals);
        // Qt Charts draws in a graphics view: none before the tab is shown; then it follows the readings.
        QVERIFY(w->findChildren<QGraphicsView *>().isEmpty());
        tabs->setCurrentIndex(3);
        QCOMPARE(w->findChildren<QGraphicsView *>().size(), 1);
        const QLabel *stats = w->findChild<QLabel *>("chartStats");
        QCOMPARE(stats->text(), "Min 1500.000 W  Mean 1500.000 W  Max 1500.000 W  Energy 0.000 mWh");
        vals[3] = 2600.0 * 3600;
        vals[4] = 500000;
        w->UpdateDisp(vals);
        QCOMPARE(stats->text(), "Min 500.000 W  Mean 1000.000 W  Max 1500.000 W  Energy 100.000 mWh");
    }
};

QTEST_MAIN(tst_Chart)
#include "tst_chart.moc"
