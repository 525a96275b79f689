// SPDX-License-Identifier: GPL-3.0-or-later
// Logs kept for months: files by day, week or month, a log moved away while
// it is written, the clock column, the chart and the report reading it, and
// the logger doing all of it against the simulated meter. Berlin's clock
// changes of 29 March and 25 October 2026 make the daylight-saving rows.
// Every expected figure was worked out by hand.
#include "chart/charttab.h"
#include "core/logfile/logsink.h"
#include "core/measure/measurement.h"
#include "core/measure/record.h"
#include "core/report/logreport.h"
#include "testsupport.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <csignal>
#include <ctime>

namespace {

const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power";
const QByteArray kClockHeader = kHeader + ",Local Time";
const QByteArray kRow = "00:00:10,1.000,120.000,230.00,0.580,0.900,lag,133.333";

} // namespace

class tst_LogFiles : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    // A folder of its own for each row, made and made current.
    QString folder() const
    {
        const QString path = dir.filePath(QString::fromLatin1(QTest::currentTestFunction()) + '-' + QTest::currentDataTag());
        return QDir().mkpath(path) && QDir::setCurrent(path) ? path : QString();
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QVERIFY(dir.isValid());
        useSettingsFolder(dir.path());
    }

    // The sink on log.csv with a record at each time of `steps`, started at
    // the first ("@" starts it there without a record); "append" starts it
    // again with --append, "move" and "empty" do that to log.csv. Each file
    // then: its name, "headless" without its header, and the last field of
    // each record.
    void files_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("files");
        const QString a = "2026-03-28T23:59:59+01:00", b = "2026-03-29T00:00:00+01:00";
        QTest::newRow("daily, spring forward") << 1 << "clock" << "2026-03-29T01:59:59+01:00 2026-03-29T03:00:00+02:00 2026-03-29T23:59:59+02:00 2026-03-30T00:00:00+02:00"
                                               << "log-2026-03-29.csv 2026-03-29T01:59:59+01:00 2026-03-29T03:00:00+02:00 2026-03-29T23:59:59+02:00 | log-2026-03-30.csv 2026-03-30T00:00:00+02:00";
        QTest::newRow("daily, fall back") << 1 << "clock" << "2026-10-25T02:30:00+02:00 2026-10-25T02:30:00+01:00 2026-10-25T23:59:59+01:00 2026-10-26T00:00:00+01:00"
                                          << "log-2026-10-25.csv 2026-10-25T02:30:00+02:00 2026-10-25T02:30:00+01:00 2026-10-25T23:59:59+01:00 | log-2026-10-26.csv 2026-10-26T00:00:00+01:00";
        QTest::newRow("weekly from Monday, no clock") << 2 << "" << "2026-03-29T23:59:59+02:00 2026-03-30T00:00:00+02:00" << "log-2026-03-23.csv 133.333 | log-2026-03-30.csv 133.333";
        QTest::newRow("monthly") << 3 << "clock" << "2026-03-31T23:59:59+02:00 2026-04-01T00:00:00+02:00"
                                 << "log-2026-03-01.csv 2026-03-31T23:59:59+02:00 | log-2026-04-01.csv 2026-04-01T00:00:00+02:00";
        QTest::newRow("midnight, restart with --append") << 1 << "clock" << "2026-03-28T23:00:00+01:00 append " + a + ' ' + b
                                               << "log-2026-03-28.csv 2026-03-28T23:00:00+01:00 " + a + " | log-2026-03-29.csv " + b;
        // No file until a record goes into it: none for the Sunday.
        QTest::newRow("weekly, started a minute before Monday") << 2 << "clock" << "@2026-03-29T23:59:00+02:00 2026-03-30T00:00:30+02:00"
                                                                << "log-2026-03-30.csv 2026-03-30T00:00:30+02:00";
        QTest::newRow("moved away") << 0 << "reopen" << a + " move " + b << "log.csv 133.333 | old.csv 133.333";
        QTest::newRow("emptied") << 0 << "clock reopen" << a + " empty " + b << "log.csv " + b;
        // The window's log adds no second header, wherever its file went.
        QTest::newRow("the window's log moved") << 0 << "" << a + " move " + b << "log.csv headless 133.333 | old.csv 133.333";
    }
    void files()
    {
        QFETCH(int, rotation);
        QFETCH(QString, options);
        QFETCH(QString, steps);
        const QString path = folder() + "/log.csv";
        const double vals[10] = {0, 0, 10, 1200, 120000, 230000000, 580000, 1, 900000, 133333};
        const quelmar::Measurement m = quelmar::Measurement::fromArray(vals);
        const bool clock = options.contains("clock");
        quelmar::LogSink sink;
        bool start = true, append = false;
        for (const QString &step : steps.split(' ')) {
            const qint64 ms = QDateTime::fromString(step.mid(step.startsWith('@')), Qt::ISODate).toMSecsSinceEpoch();
            if (std::exchange(start, false))
                QVERIFY(sink.start(path, append, nullptr, {quelmar::LogOptions::Rotation(rotation), clock, options.contains("reopen")}, ms));
            if (step == "move" || step == "empty")
                QVERIFY(step == "move" ? QFile::rename(path, "old.csv") : QFile::resize(path, 0));
            start = append = step == "append";
            QVERIFY(start || step.size() < 20 || step.startsWith('@') || sink.write(quelmar::Record::of(m, ms, 0)).written);
        }
        QString files;
        for (const QString &name : QDir().entryList({"*.csv"}, QDir::Files, QDir::Name)) {
            const QByteArray text = fileBytes(name), header = clock ? kClockHeader : kHeader;
            files += (files.isEmpty() ? "" : " | ") + name + (text.startsWith(header + '\n') ? "" : " headless");
            for (const QByteArray &line : text.split('\n'))
                files += line.startsWith("00:") ? ' ' + line.split(',').last() : "";
        }
        QTEST(files, "files");
    }

    // Open Log… on three days of logs across the autumn change, chosen at once:
    // a bar per day, a tick at each local midnight, the total and its cost at
    // 30 c below. The counter rose 1000 and 2000 mWh: 0.003 kWh, 0.09 c. Then
    // their readings on the clock, and a log without the clock column on its
    // Time column.
    void chartDays()
    {
        const QString at = folder(), r = ",120.000,230.00,0.580,0.900,lag,133.333,2026-10-";
        QVERIFY(writeFile("d-24.csv", kClockHeader + "\n00:00:10,1000.000" + r.toLatin1() + "24T12:00:00+02:00\n"));
        QVERIFY(writeFile("d-25.csv", kClockHeader + "\n00:00:20,2000.000" + r.toLatin1() + "25T12:00:00+01:00\n"));
        QVERIFY(writeFile("d-26.csv", kClockHeader + "\n00:00:30,4000.000" + r.toLatin1() + "26T12:00:00+01:00\n00:00:40,5000.0\n"));
        quelmar::ReadingHistory session;
        quelmar::ChartTab tab(session);
        tab.setPrice([] { return 30.0; });
        tab.show();
        ModalWatcher watcher;
        QVERIFY(!tab.openLogs({"none.csv"}));
        watcher.setFileAnswer(QStringLiteral("\"%1/d-26.csv\" \"%1/d-24.csv\" \"%1/d-25.csv\"").arg(at));
        tab.findChild<QPushButton *>("chartOpenLog")->click();
        const QString cut = "d-26.csv: 1 row could not be read and was left out";
        QCOMPARE(watcher.texts(), (QStringList{"No Readings.|Nothing was loaded.\nnone.csv: cannot be read: No such file or directory; left out",
                                                      "Open Log", "Logs Left Out.|The rest is shown.\n" + at + "/" + cut}));
        QCOMPARE(tab.findChild<QComboBox *>("chartSeries")->currentText(), "Energy per day");
        QChart *chart = tab.findChild<QChartView *>()->chart();
        const auto ticks = [chart] { return qobject_cast<QCategoryAxis *>(chart->axes(Qt::Horizontal)[0])->categoriesLabels().join(' '); };
        QCOMPARE(ticks(), "2026-10-24 2026-10-25 2026-10-26 2026-10-27");
        QLabel *stats = tab.findChild<QLabel *>("chartStats");
        QCOMPARE(stats->text(), "Total: 0.003 kWh, $0.00090 at 30.00 cents per kWh");
        emit qobject_cast<QAreaSeries *>(chart->series().last())->hovered(QPointF(1792836000000, 0), true);
        QCOMPARE(stats->text(), "2026-10-24: 0.000 kWh, $0.00000 at 30.00 cents per kWh");
        QCOMPARE(tab.findChild<QPlainTextEdit *>("chartNotes")->toPlainText(), at + '/' + cut);
        // The line at the bottom: the logs, the days, the readings and the rows skipped.
        QLabel *source = tab.findChild<QLabel *>("chartSource");
        QCOMPARE(source->text(), "3 logs: 3 days, 3 readings, 1 rows skipped");
        tab.findChild<QComboBox *>("chartSeries")->setCurrentIndex(0);
        tab.findChild<QComboBox *>("chartSpan")->setCurrentIndex(3);
        QCOMPARE(source->text(), "3 logs: 3 readings, 1 rows skipped");
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d( \\d\\d:\\d\\d)*$").match(ticks()).hasMatch(), qPrintable(ticks()));
        // Save Image… adds the suffix and writes the chart as it shows.
        watcher.setFileAnswer(at + "/chart");
        tab.findChild<QPushButton *>("chartSaveImage")->click();
        QCOMPARE(QImage(at + "/chart.png", "PNG").size(), tab.findChild<QChartView *>()->size());
        // One day with the clock column offers its bar but shows the readings; a log without the column offers no days.
        QVERIFY(tab.openLogs({"d-24.csv"}));
        QCOMPARE(source->text() + '|' + tab.findChild<QComboBox *>("chartSeries")->itemText(5), "d-24.csv: 1 readings, 0 rows skipped|Energy per day");
        QVERIFY(writeFile("plain.csv", kHeader + "\n" + kRow + "\n02:00:00,2.000,1,230,0.5,0.9,lag,1\n") && tab.openLogs({"plain.csv"}));
        QCOMPARE(tab.findChild<QComboBox *>("chartSeries")->count(), 5);
        QVERIFY2(QRegularExpression("^0[0-2]:[0-5]\\d:00( 0[0-2]:[0-5]\\d:00)*$").match(ticks()).hasMatch(), qPrintable(ticks()));
    }

    // quelmar-log --report with the logs written first (each its name, a
    // line end and its lines): its exit code, standard output and error.
    void command_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QList<QByteArray>>("logs");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        // The README's worked example, which the user guide repeats: "$ cat NAME"
        // and the lines under it make a log, "$ quelmar-log ..." prints the lines under it.
        const auto example = [](const QString &document) {
            const QString text = QString::fromUtf8(fileBytes(SOURCE_DIR "/" + document));
            const qsizetype from = text.indexOf("    $ cat ");
            QString block = text.mid(from, text.indexOf(QRegularExpression("\n\n[^ \n]"), from) + 1 - from);
            return block.remove(QRegularExpression("^    ", QRegularExpression::MultilineOption)).split("$ ", Qt::SkipEmptyParts);
        };
        const QStringList steps = example("README.md");
        QCOMPARE(example("docs/USER.md"), steps);
        QTest::newRow("the README's example") << steps.value(2).section('\n', 0, 0).split(' ').mid(1)
                                              << QList<QByteArray>{steps.value(0).mid(4).toUtf8(), steps.value(1).mid(4).toUtf8()} << 4
                                              << steps.value(2).section('\n', 1);
        const QList<QByteArray> plain{"heater-in-the-garage.csv\n" + kHeader + "\n" + kRow + "\n", "b.csv\nTime\n"};
        // 40 readings: the lowest 5% are 10 W and 20 W; no cost without --cents.
        QByteArray many = "a.csv\n" + kHeader + "\n";
        for (int i = 0; i < 40; ++i)
            many += QString::asprintf("00:00:%02d,%d.000,%d.000,230.00,0.435,0.900,lag,1.000\n", i, i, i == 0 ? 10 : i == 1 ? 20 : 100).toLatin1();
        QTest::newRow("standby of 40 readings") << QStringList{"--report", "--csv", "a.csv"} << QList<QByteArray>{many} << 0
                                                << "Day,Readings,Energy (kWh),Min (W),Mean (W),Max (W),Standby (W),Above standby (%),Gaps,Gap time (s)\n"
                                                   "a.csv,40,0.000039,10.000,95.750,100.000,15.000,95.0,0,0\nTotal,40,0.000039,10.000,95.750,100.000,15.000,95.0,0,0\n";
        // What is no log is named, and the rest reported; a long name is cut to its last 13 characters.
        QTest::newRow("--report on what is no log") << QStringList{"--report", "b.csv", "heater-in-the-garage.csv"} << plain << 4
                                                    << "Day               Readings    kWh  Min W  Mean W  Max W  Standby W  Above  Gaps\n"
                                                       "...he-garage.csv         1  0.000  120.0   120.0  120.0      120.0   0.0%     0\n"
                                                       "Total                    1  0.000  120.0   120.0  120.0      120.0   0.0%     0\n\n"
                                                       "b.csv: not a Quelmar log (its first line is not a log's header); left out\n";
    }
    void command()
    {
        QFETCH(QStringList, args);
        QFETCH(QList<QByteArray>, logs);
        QVERIFY(!folder().isEmpty());
        for (const QByteArray &log : logs)
            QVERIFY(writeFile(log.left(log.indexOf('\n')), log.mid(log.indexOf('\n') + 1)));
        QProcess p;
        p.start(LOGGER_EXE, args);
        QVERIFY(p.waitForFinished(10000));
        QTEST(p.exitCode(), "exitCode");
        const QByteArray out = p.readAllStandardOutput();
        // What was left out is told on standard error, every line naming a file.
        QVERIFY(!out.contains(": "));
        QTEST(QString(out + p.readAllStandardError()), "output");
    }

    // quelmar-log --rotate daily --clock against the simulated meter, both at
    // an hour a second, from 18:00 on the eve of the spring change (the 28th's
    // file comes with its first record, however slow the start); the 29th's
    // log moved away after two records.
    void logger()
    {
        QVERIFY(!folder().isEmpty());
        MeterSim sim;
        QProcess log;
        qputenv("QUELMAR_LOG_CLOCK", "2026-03-28T18:00:00+01:00,3600");
        log.start(LOGGER_EXE, {"--rotate", "daily", "--clock", "--clear", "--port",
                               sim.start({"--no-pacing", "--profile", "fridge", "--time-scale", "3600"}), "log.csv"});
        qunsetenv("QUELMAR_LOG_CLOCK");
        QTRY_VERIFY_WITH_TIMEOUT(fileBytes("log-2026-03-29.csv").count('\n') > 2, 25000);
        // One lock, beside the name given.
        QCOMPARE(QDir().entryList({"*.lock"}, QDir::Files | QDir::Hidden), QStringList{"log.csv.lock"});
        QVERIFY(QFile::rename("log-2026-03-29.csv", "old.csv"));
        // Two more records, past the clock change.
        QTRY_VERIFY_WITH_TIMEOUT(fileBytes("log-2026-03-29.csv").count('\n') > 2, 15000);
        ::kill(log.processId(), SIGINT);
        QVERIFY(log.waitForFinished(5000));
        const QStringList names{"log-2026-03-28.csv", "log-2026-03-29.csv", "old.csv"};
        QCOMPARE(QDir().entryList(QDir::Files), names);
        // Each whole, each record in the file of its date, on Berlin's clocks.
        QByteArray all;
        for (const QString &name : {names[0], names[2], names[1]}) {
            const QByteArray text = fileBytes(name);
            QVERIFY(text.startsWith(kClockHeader + '\n') && text.endsWith('\n') && !text.contains(name == names[0] ? "2026-03-29" : "2026-03-28"));
            all += text.mid(kClockHeader.size() + 1);
        }
        QVERIFY(!QString(all).contains(QRegularExpression("29T(0[3-9]|1\\d|2[0-3]):..:..\\+01|(28T..|29T0[01]):..:..\\+02|29T02|,,")));
        // The report's total is what the meter counted from the first record to the last;
        // the meter's own clock ran an hour a second too.
        const QList<QByteArray> records = all.split('\n');
        QVERIFY(!records[records.size() - 2].startsWith("00:"));
        const quelmar::LogReport r = quelmar::makeReport(names, {});
        QVERIFY2(r.notes.isEmpty(), qPrintable(r.notes.join('\n')));
        QCOMPARE(r.lines.size(), 3);
        QCOMPARE(r.lines.last().energy, records[records.size() - 2].split(',')[1].toDouble() - records[0].split(',')[1].toDouble());
    }
};

QTEST_MAIN(tst_LogFiles)
#include "tst_logfiles.moc"
