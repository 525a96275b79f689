// What a new user meets: texts that fit at the program's font, log and port
// boxes that say what went wrong, START that asks before it replaces
// readings, and the command line.
#include "app/appfont.h"
#include "app/quelmarstatus.h"
#include "testsupport.h"

#include <QtTest>
#include <QtWidgets>

// The width a widget leaves its text, as the style lays it out: a label all
// of its contents rectangle, a button less its frame, a check box less its
// indicator, a line edit less its frame and the two pixels it keeps free on
// either side of its text.
static int room(QWidget *wdg)
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

class tst_Usability : public QObject
{
    Q_OBJECT
    QTemporaryDir settingsDir;
    PtyPair pty;
    std::unique_ptr<QuelmarStatus> w; // last, so it closes before the line goes

private slots:
    void initTestCase()
    {
        useSettingsFolder(settingsDir.path());
        useProgramFont();
        QCOMPARE(QFontInfo(QApplication::font()).family(), QStringLiteral("Liberation Sans"));
        w = openWindowOn(pty.path());
        w->show();
        for (QLayout *layout : w->findChildren<QLayout *>()) // the hidden pages' too
            layout->activate();
        // The tabs take the width of their titles, unless the bar is too narrow.
        QTabBar *tabs = w->findChild<QTabBar *>();
        QVERIFY(tabs->sizeHint().width() <= tabs->width());
    }

    void textsFit_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        // Every fixed text: labels (comerr's own too), buttons and the check box.
        for (QWidget *wdg : w->findChildren<QWidget *>()) {
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
        QWidget *wdg = w->findChild<QWidget *>(name);
        const int width = QFontMetrics(wdg->font()).horizontalAdvance(text);
        QVERIFY2(width <= room(wdg), qPrintable(QStringLiteral("%1 px for %2 px").arg(room(wdg)).arg(width)));
    }

    void logStart_data()
    {
        QTest::addColumn<QString>("name");      // in a fresh folder; one without a suffix is typed in the dialog
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<bool>("replace");      // the answer to a question; else Cancel
        QTest::addColumn<QString>("box");       // "%1" stands for the folder
        QTest::addColumn<QByteArray>("after");
        const QByteArray header = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power\n";
        const QByteArray two = header + "00:00:01,30.556,110.000,230.00,0.500,0.957,Lead,115.000\n"
                                        "00:00:02,61.111,110.000,230.00,0.500,0.957,Lead,115.000\n";
        const QString asked = "%1/x.csv already holds 2 readings. Replace it?|";
        QTest::newRow("missing folder") << "gone/x.csv" << QByteArray() << false
                                        << "Log File Error.|Cannot create %1/gone/x.csv: No such file or directory"
                                        << QByteArray();
        QTest::newRow("records, Cancel") << "x.csv" << two << false << asked << two;
        QTest::newRow("records, Replace") << "x.csv" << two << true << asked << header;
        QTest::newRow("header only") << "x.csv" << header << false << "" << header;
        QTest::newRow("no suffix") << "x" << QByteArray() << false << "Enter Log filename" << header;
    }
    void logStart()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, before);
        QFETCH(bool, replace);
        QFETCH(QString, box);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        QFile log(dir.filePath(name));
        QVERIFY(before.isNull() || (log.open(QIODevice::WriteOnly) && log.write(before) && log.flush()));
        auto *fileEdit = w->findChild<QLineEdit *>("fileEdit");
        fileEdit->setText(log.fileName());
        ModalWatcher watcher;
        watcher.setAnswer(replace ? QMessageBox::Yes : QMessageBox::Cancel);
        watcher.setFileAnswer(log.fileName());
        if (QFileInfo(name).suffix().isEmpty())
            w->setSaveFileName();
        auto *start = w->findChild<QWidget *>("startButton");
        w->startlogging();
        QCOMPARE(watcher.texts().join(';'), box.replace("%1", dir.path()));
        QFile written(fileEdit->text());
        QCOMPARE(QFileInfo(written).suffix(), "csv");
        QCOMPARE(written.open(QIODevice::ReadOnly) ? written.readAll() : QByteArray(), after);
        // A file of the header alone is a log started.
        QCOMPARE(start->isEnabled(), after.count('\n') != 1);
        // Focus goes back to START, not on to the next widget in line.
        w->findChild<QWidget *>("stopButton")->setFocus();
        w->stoplogging();
        QCOMPARE(w->focusWidget(), start);
    }

    void portFailure_data()
    {
        QTest::addColumn<QString>("name"); // empty: a file in a fresh folder that nobody may read
        QTest::addColumn<QString>("text"); // "%1" stands for the name
        QTest::newRow("busy") << pty.path() << "Cannot open %1: busy, another program holds it."; // our window's
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
        if (name.isEmpty() && QFileInfo(device).isReadable())
            QSKIP("root reads a file whatever its permissions: run the tests as a user for this row");
        storePortName(name = name.isEmpty() ? device.fileName() : name);
        ModalWatcher watcher;
        QuelmarStatus other;
        QCOMPARE(watcher.texts(), QStringList{text.replace("%1", name) + "|Seriel Port could not open. "
                                                                         "Another application maybe using this port."});
    }

    void commandLine_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("--help") << "--help" << QByteArray("Usage: quelmar-communicator [--port NAME]");
        QTest::newRow("--version") << "--version" << QByteArray("quelmar-communicator 2.0.1beta\n");
        // With a port the program runs: its first poll reaches that line.
        QTest::newRow("--port") << "--port" << QByteArray("<FFA,01;015A\r");
    }
    void commandLine()
    {
        QFETCH(QString, option);
        QFETCH(QByteArray, output);
        PtyPair line;
        QProcess program;
        // Without a display only a program that opens no window gets anywhere.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", option == "--port" ? "offscreen" : "xcb");
        env.remove("DISPLAY");
        program.setProcessEnvironment(env);
        program.start(PROGRAM_EXE, {option, line.path()});
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += program.readAllStandardOutput() + line.receive(20)).startsWith(output), 10000);
        program.kill();
        program.waitForFinished();
    }
};

QTEST_MAIN(tst_Usability)
#include "tst_usability.moc"
