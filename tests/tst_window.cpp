// SPDX-License-Identifier: GPL-3.0-or-later
// The window on a real pseudo-terminal with the test playing the meter:
// start-up, the poll cycle and its commands, replies as the line delivers
// them, port changes, the remembered port, and what the readout, the cost
// calculator and the data log make of the readings. Then what a new user
// meets: texts that fit at the program's font, log and port boxes that say
// what went wrong, START that asks before it replaces readings, and the
// command line.
#include "app/appfont.h"
#include "app/quelmarstatus.h"
#include "chart/charttab.h"
#include "core/port/portfailure.h"
#include "core/session/metersession.h"
#include "core/version.h"
#include "testsupport.h"

#include <QChartView>
#include <QScatterSeries>
#include <QSerialPort>
#include <QtTest>
#include <QtWidgets>

#include <termios.h>

using Values = QList<double>;

namespace {

const QString kOpenFailure = QStringLiteral("|Seriel Port could not open. Another application maybe using this port.");
const QString kError = QStringLiteral("Communication Error");
const QByteArray kPoll = "<01S,;00E0\r";
const QByteArray kAddressChange = "<FFA,01;015A\r";
const QByteArray kClear = "<01E,;00D2\r";
const QByteArray kClearAck = ">01E,;00D2\r";
const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power\n";

// A reply with `fields` fields 1, 2, 3, ...: entry 2, the elapsed time, is 3 s.
QByteArray replyWithFields(int fields)
{
    Values values;
    for (int i = 1; i <= fields; ++i)
        values << i;
    return meterReply(values);
}

template <class T = QWidget>
T *child(QWidget &w, const char *name)
{
    return w.findChild<T *>(name);
}

QStringList texts(QWidget &w, const QList<const char *> &names)
{
    QStringList out;
    for (const char *name : names)
        out << textOf(w, name);
    return out;
}

// The seconds column of each record; a missing header or a partial line
// makes it {-1}.
QList<int> recordedSeconds(const QString &path)
{
    const QByteArray all = fileBytes(path);
    if (!all.startsWith(kHeader) || !all.endsWith('\n'))
        return {-1};
    QList<int> out;
    for (const QByteArray &line : all.mid(kHeader.size()).split('\n'))
        if (!line.isEmpty())
            out << line.mid(6, 2).toInt();
    return out;
}

// START, STOP, the period, Clear First, Browse and the file name.
QList<bool> logWidgetsEnabled(QWidget &w)
{
    QList<bool> out;
    for (const char *name : {"startButton", "stopButton", "lperiod", "logclear", "browseButton", "fileEdit"})
        out << child(w, name)->isEnabled();
    return out;
}
const QList<bool> kIdle{true, false, true, true, true, true};
const QList<bool> kLogging{false, true, false, false, false, false};

// The width a widget leaves its text, as the style lays it out: a label all
// of its contents rectangle, a button less its frame, a check box less its
// indicator, a line edit less its frame and the two pixels it keeps free on
// either side of its text.
int room(QWidget *wdg)
{
    const auto metric = [wdg](QStyle::PixelMetric m) { return wdg->style()->pixelMetric(m, nullptr, wdg); };
    const int frame = 2 * metric(QStyle::PM_DefaultFrameWidth);
    const int inset = qobject_cast<QLineEdit *>(wdg)    ? frame + 4
                      : qobject_cast<QPushButton *>(wdg) ? frame
                      : qobject_cast<QCheckBox *>(wdg)
                          ? metric(QStyle::PM_IndicatorWidth) + metric(QStyle::PM_CheckBoxLabelSpacing)
                          : 0;
    return wdg->contentsRect().width() - inset;
}

} // namespace

class tst_Window : public QObject
{
    Q_OBJECT
    QTemporaryDir settingsDir;
    PtyPair pty;
    PtyPair fitLine;
    std::unique_ptr<QuelmarStatus> fit; // at the program's font, on fitLine

    // One readout pass whose elapsed time is `seconds`.
    static void pass(QuelmarStatus &w, double seconds)
    {
        double vals[150] = {0, 0, seconds};
        w.UpdateDisp(vals);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(settingsDir.isValid() && pty.isValid());
        useSettingsFolder(settingsDir.path());
        useProgramFont();
        QCOMPARE(QFontInfo(QApplication::font()).family(), QStringLiteral("Liberation Sans"));
        fit = openWindowOn(fitLine.path());
        fit->show();
        for (QLayout *layout : fit->findChildren<QLayout *>()) // the hidden pages' too
            layout->activate();
        // The tabs take the width of their titles, unless the bar is too narrow.
        QTabBar *tabs = fit->findChild<QTabBar *>();
        QVERIFY(tabs->sizeHint().width() <= tabs->width());
    }
    void cleanupTestCase() { fit.reset(); }
    void init() { QFile::remove(settingsDir.filePath("Norvane/Tovrik Communicator.conf")); }

    void startWithNothingStored()
    {
        ModalWatcher watcher;
        QuelmarStatus w;
        // The box came and went while the window was being built.
        QCOMPARE(watcher.texts(), QStringList{"No port chosen." + kOpenFailure});
        QVERIFY(w.session().pollTimer().isActive());
        QCOMPARE(w.session().pollTimer().interval(), 500);
        QCOMPARE(w.windowTitle(), QStringLiteral("Quelmar Communicator " QUELMAR_VERSION_TEXT));
        auto *box = child<QComboBox>(w, "ComPort");
        QCOMPARE(QStringList({box->itemText(0), box->itemText(19), box->currentText(), QString::number(box->count())}),
                 QStringList({"COM1", "COM20", "", "20"}));
        QVERIFY(!child(w, "stopButton")->isEnabled());
        // Every tick reports the failure and sends nothing.
        QTRY_COMPARE_WITH_TIMEOUT(textOf(w, "comerr"), kError, 2000);
        QCOMPARE(textOf(w, "TxLine"), QString());
    }

    // What the line delivers, as Receive shows it and the reply rules take
    // it: the text ends at a NUL, and a read takes at most 1024 bytes.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("NUL ends the text") << QByteArray("\x01\x00>01S,5;00", 10);
        QTest::newRow("1100 bytes: two reads") << QByteArray(1100, 'x');
    }
    void replies()
    {
        QFETCH(QByteArray, bytes);
        auto w = openWindowOn(pty.path());
        pty.send(bytes);
        Values vals(1024, -7.0); // a refused read leaves the array alone
        QCOMPARE(w->Rcvmsg(1, vals.data()), 0);
        QCOMPARE(vals[0], -7.0);
        QCOMPARE(textOf(*w, "RcdLine"), QString::fromLatin1(bytes.constData()).left(1024));
        // What did not fit stays for the next read.
        w->Rcvmsg(1, vals.data());
        QCOMPARE(textOf(*w, "RcdLine"), QString::fromLatin1(bytes.mid(1024)));
    }

    void tick_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("tab");
        QTest::addColumn<bool>("readout");
        QTest::addColumn<bool>("costs");
        QTest::newRow("reading, cost tab") << replyWithFields(10) << 1 << true << true;
        QTest::newRow("89 entries") << replyWithFields(88) << 0 << true << false;
        QTest::newRow("90 entries, cost tab") << replyWithFields(89) << 1 << false << true;
        QTest::newRow("clear acknowledged, cost tab") << kClearAck << 1 << false << true;
        QTest::newRow("clear acknowledged, log tab") << kClearAck << 2 << false << false;
    }
    void tick()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, tab);
        auto w = openWindowOn(pty.path());
        child<QLabel>(*w, "comerr")->setText("stale");
        child<QTabWidget>(*w, "tabWidget")->setCurrentIndex(tab);
        pty.send(reply);
        w->poller();
        QCOMPARE(pty.receive(1000), kAddressChange); // one attempt sufficed
        QCOMPARE(textOf(*w, "TxLine") + '|' + textOf(*w, "RcdLine"), kAddressChange + '|' + reply);
        QCOMPARE(textOf(*w, "comerr"), QString());
        QTEST(textOf(*w, "TimeDisp") == "00:00:03 HMS", "readout");
        QTEST(!textOf(*w, "costpy").isEmpty(), "costs");
    }

    void clearData_data()
    {
        QTest::addColumn<QByteArray>("button");
        QTest::newRow("Meter tab") << QByteArray("ClearButton_M");
        QTest::newRow("Cost Calculator tab") << QByteArray("ClearButton");
    }
    void clearData()
    {
        QFETCH(QByteArray, button);
        auto w = openWindowOn(pty.path());
        pty.send(replyWithFields(10));
        w->poller();
        pty.receive(1000);
        child<QPushButton>(*w, button.constData())->click();
        QCOMPARE(pty.receive(50), QByteArray()); // it goes out with the tick
        w->poller();
        QCOMPARE(pty.receive(1000), kClear + kClear + kClear);
        // A clear whose attempts all failed is not repeated.
        w->poller();
        QCOMPARE(pty.receive(1000), kPoll + kPoll + kPoll);
        // A reading that was on its way as the clear went out is from
        // before it: it answers, but is neither shown nor logged.
        child<QPushButton>(*w, button.constData())->click();
        pty.send(meterReply({1, 2, 7, 4, 5, 6, 7, 8, 9, 10}));
        w->poller();
        QCOMPARE(pty.receive(1000), kClear);
        QCOMPARE(textOf(*w, "TimeDisp"), "00:00:03 HMS");
    }

    // The line as the meter's side sees it. Then it hangs up within a
    // clear's own cycle: the clear reached no meter, so it goes out after
    // the address change once the port is chosen again (Enter in the port
    // box), on a new port object, here for a new meter behind the same name.
    void portChanges()
    {
        ModalWatcher watcher;
        QTemporaryDir dir;
        const QString link = dir.filePath("meter");
        auto first = std::make_unique<PtyPair>();
        PtyPair second;
        QVERIFY(QFile::link(first->path(), link));
        auto w = openWindowOn(link);
        termios tio;
        QCOMPARE(tcgetattr(first->masterFd(), &tio), 0);
        QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
        QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));
        // A pseudo-terminal keeps 8 bits and no parity: asked for anything
        // else, the port object refuses it and keeps the error.
        QPointer<QSerialPort> old = w->serialPort();
        QCOMPARE(QList<int>({old->dataBits(), old->parity(), old->stopBits(), old->flowControl(), old->error()}),
                 QList<int>({8, 0, 1, 0, 0}));
        w->ClearData();
        first.reset();
        w->poller();
        QVERIFY(!w->serialPort()->isOpen());
        QVERIFY(QFile::remove(link) && QFile::link(second.path(), link));
        QTest::keyClick(child<QComboBox>(*w, "ComPort")->lineEdit(), Qt::Key_Return);
        QVERIFY(old.isNull() && w->serialPort()->isOpen() && w->session().pollTimer().isActive());
        w->session().stopPolling();
        second.send(replyWithFields(10));
        w->poller();
        QCOMPARE(second.receive(1000), kAddressChange);
        w->poller();
        QCOMPARE(second.receive(1000), kClear + kClear + kClear);
        QCOMPARE(watcher.texts(), QStringList());
    }

    void rememberedPort_data()
    {
        QTest::addColumn<QString>("given");  // with --port
        QTest::addColumn<QString>("chosen"); // in the port box
        QTest::addColumn<QString>("kept");
        QTest::newRow("nothing chosen") << "" << "" << "";
        QTest::newRow("listed port that fails") << "" << "COM7" << "COM7";
        QTest::newRow("typed name") << "" << "ttyQuelmarTyped" << "ttyQuelmarTyped";
        QTest::newRow("--port") << "ttyQuelmarGiven" << "" << "ttyQuelmarGiven";
        QTest::newRow("--port, then a choice") << "ttyQuelmarGiven" << "COM7" << "COM7";
    }
    void rememberedPort()
    {
        QFETCH(QString, given);
        QFETCH(QString, chosen);
        ModalWatcher watcher;
        {
            QuelmarStatus w(nullptr, given);
            QCOMPARE(child<QComboBox>(w, "ComPort")->currentText(), given);
            if (!chosen.isEmpty()) {
                child<QComboBox>(w, "ComPort")->setEditText(chosen);
                w.PortChanged();
            }
        }
        QTEST(storedPortName(), "kept");
        QuelmarStatus again;
        QTEST(child<QComboBox>(again, "ComPort")->currentText(), "kept");
    }

    void costTab()
    {
        auto w = openWindowOn(pty.path());
        QCOMPARE(texts(*w, {"cents", "hoursperday"}), QStringList({"18.00", "24.00"}));
        child<QDoubleSpinBox>(*w, "cents")->setValue(12.34); // read at single precision
        child<QDoubleSpinBox>(*w, "hoursperday")->setValue(12.25);
        double vals[150] = {0, 0, 3600, 3.6e9};
        w->CostCalc(vals);
        // 1 kW at 12.34 c for 12.25 h a day: 85.75, 1118.578125 and 4474.3125 kWh.
        const QStringList current{"$0.12340", "$10.58155", "$138.03254", "$552.13017"};
        QCOMPARE(texts(*w, {"cost", "costph", "costpw", "costpq", "costpy"}), QStringList{"$0.12340"} + current);
        const QList<const char *> totals{"tcostph", "tcostpw", "tcostpq", "tcostpy"};
        // Read back at single precision on the way in.
        child<QPushButton>(*w, "addtButton")->click();
        QCOMPARE(texts(*w, totals), QStringList({"$0.12340", "$10.58155", "$138.03255", "$552.13019"}));
        child<QPushButton>(*w, "cleartButton")->click();
        QCOMPARE(texts(*w, totals), QStringList(4, QString()));
        QCOMPARE(texts(*w, {"costph", "costpw", "costpq", "costpy"}), current);
    }

    // The Chart tab comes after the three others.
    void chartTab()
    {
        auto w = openWindowOn(pty.path());
        auto *tabs = w->findChild<QTabWidget *>("tabWidget");
        QStringList pages;
        for (int i = 0; i < tabs->count(); ++i)
            pages << tabs->tabText(i) + '/' + tabs->widget(i)->objectName();
        QCOMPARE(pages, (QStringList{"Meter/tab", "Cost Calculator/tab_2", "Data Logging/tab_3", "Chart/chartTab"}));
        w->show();
        // The meter acknowledges a clear: the next reading is marked on the chart.
        w->ClearData();
        pty.send(kClearAck);
        w->poller();
        QCOMPARE(pty.receive(1000), kClear);
        double vals[10] = {7, 7, 3725, 2500.0 * 3600, 1500000, 230120000, 6520000, 1, 950000, 1530000};
        w->UpdateDisp(vals);
        QCOMPARE(texts(*w, {"TimeDisp", "EnergyDisp", "PowerDisp", "VoltsDisp", "CurrentDisp", "PFDisp", "VADisp"}),
                 QStringList({"01:02:05 HMS", "2.500 Wh  ", "1500.000 W    ", "230.12 V     ", "6.520 A     ", "0.950 Lag ", "1530.000 VA   "}));
        // The chart shows what was kept while it was hidden, then follows the readings.
        tabs->setCurrentIndex(3);
        const QLabel *stats = w->findChild<QLabel *>("chartStats");
        vals[3] = 2600.0 * 3600;
        vals[4] = 500000;
        w->UpdateDisp(vals);
        QCOMPARE(stats->text(), "Min 500.000 W  Mean 1000.000 W  Max 1500.000 W  Energy 100.000 mWh");
        const QList<QPointF> marks = qobject_cast<QScatterSeries *>(w->findChild<QChartView *>()->chart()->series()[1])->points();
        QVERIFY(marks.size() == 1 && marks[0].y() == 1500);
        // Each quantity the first box offers, its unit on the axis and in the figures.
        const QStringList shown{"Real power (W)|Min 500.000 W", "Apparent power (VA)|Min 1530.000 VA", "Voltage (V)|Min 230.12 V",
                                "Current (A)|Min 6.520 A", "Power factor|Min 0.950"};
        for (int s = 0; s < shown.size(); ++s) {
            w->findChild<QComboBox *>("chartSeries")->setCurrentIndex(s);
            QCOMPARE(w->findChild<QChartView *>()->chart()->axes(Qt::Vertical)[0]->titleText() + '|' + stats->text().section("  Mean", 0, 0), shown[s]);
        }
        // Two days of a log, at the Cost Calculator's cents: 25000 mWh at 40 c is 1 c.
        child<QDoubleSpinBox>(*w, "cents")->setValue(40);
        QTemporaryDir dir;
        const QByteArray row = ",1.000,230.00,0.100,0.900,lag,1.000,2026-03-0";
        QVERIFY(writeFile(dir.filePath("a.csv"), "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power,Local Time\n"
                                                 "0:00:01,1000.000" + row + "1T12:00:00+01:00\n0:00:02,26000.000" + row + "2T12:00:00+01:00\n"));
        QVERIFY(w->findChild<quelmar::ChartTab *>()->openLogs({dir.filePath("a.csv")}));
        QCOMPARE(stats->text(), "Total: 0.025 kWh, $0.01000 at 40.00 cents per kWh");
        w->findChild<QPushButton *>("chartSession")->click();
        QCOMPARE(stats->text(), "Min 500.000 W  Mean 1000.000 W  Max 1500.000 W  Energy 100.000 mWh");
    }

    // The session's chart over each span, from readings 24 h, 1 h and 5 min
    // (give or take 10 s) before the newest: its figures, and the readings
    // marked red, by their power.
    void chartSpans_data()
    {
        QTest::addColumn<int>("span");
        QTest::addColumn<QString>("stats");
        QTest::addColumn<Values>("marks");
        QTest::newRow("Last 5 minutes") << 0 << "Min 32.000 W  Mean 48.000 W  Max 64.000 W  Energy 100.000 mWh" << Values{32};
        // A clear with no record period before it to judge its time by is a gap.
        QTest::newRow("Last hour") << 1 << "Min 8.000 W  Mean 30.000 W  Max 64.000 W  Energy 1.000 Wh  (1 gap not measured)" << Values{8, 32};
        QTest::newRow("Last 24 hours") << 2 << "Min 2.000 W  Mean 21.000 W  Max 64.000 W  Energy 1.000 Wh  (3 gaps not measured)" << Values{4, 8, 32};
        // After a step of 20 s the clears' time counts: 20 s at 4 W before the acknowledged one, 22.222 mWh,
        // and 15 s at 16 W before the restart, 66.667 mWh.
        QTest::newRow("All") << 3 << "Min 1.000 W  Mean 18.143 W  Max 64.000 W  Energy 1.189 Wh" << Values{4, 8, 32};
    }
    void chartSpans()
    {
        QFETCH(int, span);
        // Seconds before the newest, meter time in s, counter mWh, W, 1 after an acknowledged clear:
        // the meter restarts before the third reading (its counter back) and the sixth (its time back).
        const double readings[][5] = {{86410, 1000, 100, 1, 0}, {86390, 1020, 200, 2, 0}, {3610, 83800, 0, 4, 0}, {3590, 0, 0, 8, 1},
                                      {310, 3280, 400, 16, 0},  {290, 5, 500, 32, 0},     {0, 295, 600, 64, 0}};
        quelmar::ReadingHistory session;
        for (const auto &r : readings) {
            if (r[4] != 0)
                session.markClear();
            const double vals[10] = {0, 0, r[1], r[2] * 3600, r[3] * 1000};
            session.add(1781000000000 - qint64(r[0]) * 1000, quelmar::Measurement::fromArray(vals));
        }
        quelmar::ChartTab tab(session);
        tab.show();
        tab.findChild<QComboBox *>("chartSpan")->setCurrentIndex(span);
        QCOMPARE(tab.findChild<QComboBox *>("chartSpan")->currentText(), QTest::currentDataTag());
        QTEST(tab.findChild<QLabel *>("chartStats")->text(), "stats");
        Values marks;
        for (const QPointF &p : qobject_cast<QScatterSeries *>(tab.findChild<QChartView *>()->chart()->series()[1])->points())
            marks << p.y();
        QTEST(marks, "marks");
    }

    void logSchedule_data()
    {
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("blockFrom"); // passes during which the file is a folder; 0: none
        QTest::addColumn<int>("blockTo");
        QTest::addColumn<QList<int>>("expected"); // one pass more runs
        QTest::newRow("5 s") << 5 << 0 << 0 << QList<int>{2, 12, 22};
        // A record that cannot be written is missed and counted; the rhythm
        // goes on, and the next record due is written.
        QTest::newRow("1 s, first record missed") << 1 << 2 << 3 << QList<int>{4, 6, 8};
        QTest::newRow("2 s, one pass blocked") << 2 << 6 << 6 << QList<int>{2, 10, 14};
    }
    void logSchedule()
    {
        QFETCH(int, period);
        QFETCH(int, blockFrom);
        QFETCH(int, blockTo);
        QFETCH(QList<int>, expected);
        QTemporaryDir dir;
        const QString log = dir.filePath("log.csv");
        auto w = openWindowOn(pty.path());
        child<QLineEdit>(*w, "fileEdit")->setText(log);
        QCOMPARE(QList<int>({child<QSpinBox>(*w, "lperiod")->minimum(), child<QSpinBox>(*w, "lperiod")->maximum()}), QList<int>({1, 99}));
        child<QSpinBox>(*w, "lperiod")->setValue(period);
        QCOMPARE(logWidgetsEnabled(*w), kIdle);
        child<QPushButton>(*w, "startButton")->click();
        QCOMPARE(logWidgetsEnabled(*w), kLogging);
        QCOMPARE(recordedSeconds(log), QList<int>{});
        for (int n = 1; n <= expected.last() + 1; ++n) {
            if (n == blockFrom)
                QVERIFY(QFile::rename(log, log + ".aside") && QDir().mkdir(log));
            pass(*w, n);
            if (n == blockTo) {
                QCOMPARE(textOf(*w, "logerr"), "Cannot write " + log + ": Is a directory. 1 record could not be written so far.");
                QCOMPARE(child(*w, "logerr")->palette().color(QPalette::WindowText), QColor(Qt::red));
                QVERIFY(QDir().rmdir(log) && QFile::rename(log + ".aside", log));
            }
        }
        QCOMPARE(textOf(*w, "logerr"), blockTo ? "1 record could not be written to " + log + '.' : QString());
        // Stopped, passes write nothing more.
        child<QPushButton>(*w, "stopButton")->click();
        QCOMPARE(logWidgetsEnabled(*w), kIdle);
        pass(*w, 50);
        pass(*w, 51);
        QCOMPARE(recordedSeconds(log), expected);
        // The records missed stay in sight until the next START.
        ModalWatcher watcher;
        child<QPushButton>(*w, "startButton")->click();
        QCOMPARE(textOf(*w, "logerr"), QString());
        // "Clear Data First" asked the meter to clear.
        w->poller();
        QCOMPARE(pty.receive(1000), kClear + kClear + kClear);
    }

    void textsFit_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        // Every fixed text: labels (comerr's own too), buttons and the check box.
        for (QWidget *wdg : fit->findChildren<QWidget *>()) {
            if (qobject_cast<QLabel *>(wdg) || qobject_cast<QPushButton *>(wdg) || qobject_cast<QCheckBox *>(wdg))
                QTest::newRow(qPrintable(wdg->objectName())) << wdg->objectName() << wdg->property("text").toString();
        }
        // A 16 A load at 230 V and pf 0.95 lead; the widest time and energy.
        const char *readings[][2] = {{"PowerDisp", "3496.000 W    "}, {"VADisp", "3680.000 VA   "},
                                     {"CurrentDisp", "16.000 A     "}, {"PFDisp", "0.950 Lead"},
                                     {"TimeDisp", "99:59:59 HMS"},    {"EnergyDisp", "999.999 mWh"},
                                     {"EnergyDisp", "999.999 Wh  "},  {"comerr", "Communication Error"}};
        for (const auto &r : readings)
            QTest::newRow(r[1]) << r[0] << r[1];
        for (const char *money : {"cost", "costph", "costpw", "costpq", "costpy", "tcostph", "tcostpw", "tcostpq", "tcostpy"})
            QTest::newRow(money) << money << "$99999.99999";
    }
    void textsFit()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QWidget *wdg = fit->findChild<QWidget *>(name);
        const int width = QFontMetrics(wdg->font()).horizontalAdvance(text);
        QVERIFY2(width <= room(wdg), qPrintable(QStringLiteral("%1 px for %2 px").arg(room(wdg)).arg(width)));
    }

    void logStart_data()
    {
        QTest::addColumn<QString>("name");      // in a fresh folder; one without a suffix is typed in the dialog, which opens in Documents
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<bool>("replace");      // the answer to a question; else Cancel
        QTest::addColumn<QString>("box");       // "%1" stands for the folder, "%2" for this process's id
        QTest::addColumn<QByteArray>("after");
        const QByteArray two = kHeader + "00:00:01,30.556,110.000,230.00,0.500,0.957,Lead,115.000\n"
                                        "00:00:02,61.111,110.000,230.00,0.500,0.957,Lead,115.000\n";
        const QString asked = "%1/x.csv already holds 2 readings. Replace it?|";
        // A cancelled dialog empties the name, and START refuses it.
        QTest::newRow("no name") << "" << QByteArray() << false
                                 << "Enter Log filename;Log File Error.|No file name selected!" << QByteArray();
        QTest::newRow("missing folder") << "gone/x.csv" << QByteArray() << false
                                        << "Log File Error.|Cannot create %1/gone/x.csv: No such file or directory"
                                        << QByteArray();
        QTest::newRow("records, Cancel") << "x.csv" << two << false << asked << two;
        QTest::newRow("records, Replace") << "x.csv" << two << true << asked << kHeader;
        QTest::newRow("header only") << "x.csv" << kHeader << false << "" << kHeader;
        // Another program, this one, holds the log's lock.
        QTest::newRow("another program writes it") << "x.csv" << QByteArray() << false
                                                   << "Log File Error.|%1/x.csv is being written by tst_window (process %2)." << QByteArray();
        QTest::newRow("no suffix") << "Documents/x" << QByteArray() << false << "Enter Log filename" << kHeader;
    }
    void logStart()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, before);
        QFETCH(bool, replace);
        QFETCH(QString, box);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        QVERIFY(qputenv("HOME", dir.path().toLocal8Bit()) && QDir(dir.path()).mkdir("Documents")); // the row's own Documents
        QFile log(dir.filePath(name));
        QVERIFY(before.isNull() || (log.open(QIODevice::WriteOnly) && log.write(before) && log.flush()));
        QLockFile lock(log.fileName() + ".lock");
        QVERIFY(!box.contains("being written") || lock.tryLock());
        auto *fileEdit = fit->findChild<QLineEdit *>("fileEdit");
        fileEdit->setText(log.fileName());
        ModalWatcher watcher;
        watcher.setAnswer(replace ? QMessageBox::Yes : QMessageBox::Cancel);
        watcher.setFileAnswer(QFileInfo(name).fileName());
        if (QFileInfo(name).suffix().isEmpty())
            fit->findChild<QPushButton *>("browseButton")->click();
        auto *start = fit->findChild<QWidget *>("startButton");
        fit->startlogging();
        QCOMPARE(watcher.texts().join(';'), box.replace("%1", dir.path()).replace("%2", QString::number(QCoreApplication::applicationPid())));
        QFile written(fileEdit->text());
        QCOMPARE(fileEdit->text(), name.isEmpty() ? "" : dir.filePath(name.endsWith(".csv") ? name : name + ".csv"));
        QCOMPARE(written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray(), after);
        // A file of the header alone is a log started.
        QCOMPARE(start->isEnabled(), after.count('\n') != 1);
        // Focus goes back to START, not on to the next widget in line.
        fit->findChild<QWidget *>("stopButton")->setFocus();
        fit->stoplogging();
        QCOMPARE(fit->focusWidget(), start);
    }

    void portFailure_data()
    {
        QTest::addColumn<QString>("name"); // empty: a file in a fresh folder that nobody may read
        QTest::addColumn<QString>("text"); // "%1" stands for the name
        QTest::newRow("no such device") << "ttyQuelmarMissing" << "Cannot open %1 (/dev/%1): no such device.";
        QTest::newRow("busy") << fitLine.path() << "Cannot open %1: busy, another program holds it."; // our window's
        QTest::newRow("no permission") << "" << "Cannot open %1: permission denied. Serial ports belong to the "
                                                "dialout group: sudo usermod -aG dialout $USER, then log in again.";
    }
    void portFailure()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QTemporaryDir dir;
        QFile device(dir.filePath("device"));
        QVERIFY(device.open(QIODevice::WriteOnly) && device.setPermissions({}));
        // Root reads a file whatever its permissions: then the text alone (as a user, the whole row).
        if (name.isEmpty() && QFileInfo(device).isReadable()) {
            QCOMPARE(quelmar::portFailureText(device.fileName(), device.fileName(), quelmar::PortFault::NoPermission), text.replace("%1", device.fileName()));
            return;
        }
        storePortName(name = name.isEmpty() ? device.fileName() : name);
        ModalWatcher watcher;
        QuelmarStatus other;
        QCOMPARE(watcher.texts(), QStringList{text.replace("%1", name) + "|Seriel Port could not open. "
                                                                         "Another application maybe using this port."});
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args"); // LINE stands for a line of the test's
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("-h") << QStringList{"-h"} << QByteArray("Usage: quelmar-communicator [--port NAME]");
        QTest::newRow("--version") << QStringList{"--version"} << QByteArray("quelmar-communicator " QUELMAR_VERSION_TEXT "\n");
        QTest::newRow("-v") << QStringList{"-v"} << QByteArray("quelmar-communicator " QUELMAR_VERSION_TEXT "\n");
        // With a port (and a platform of Qt's own options) the program runs: its first poll reaches that line.
        QTest::newRow("--port, -platform") << QStringList{"-platform", "offscreen", "--port", "LINE"} << QByteArray("<FFA,01;015A\r");
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, output);
        PtyPair line;
        QProcess program;
        // Without a display only a program that opens no window gets anywhere.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("DISPLAY");
        program.setProcessEnvironment(env);
        program.start(PROGRAM_EXE, args.replaceInStrings("LINE", line.path()));
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += program.readAllStandardOutput() + line.receive(20)).startsWith(output), 10000);
        program.kill();
        program.waitForFinished();
    }
};

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
