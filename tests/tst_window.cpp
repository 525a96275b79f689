// The window on a real pseudo-terminal with the test playing the meter:
// start-up, the poll cycle and its commands, replies as the line delivers
// them, port changes, the remembered port, and what the readout, the cost
// calculator and the data log make of the readings.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "testsupport.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <termios.h>

using Values = QList<double>;

namespace {

const QString kOpenFailure = QStringLiteral("|Seriel Port could not open. Another application maybe using this port.");
const QString kMissing = QStringLiteral("Cannot open ttyQuelmarMissing (/dev/ttyQuelmarMissing): no such device.");
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
    QFile f(path);
    const QByteArray all = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    if (!all.startsWith(kHeader) || !all.endsWith('\n'))
        return {-1};
    QList<int> out;
    for (const QByteArray &line : all.mid(kHeader.size()).chopped(1).split('\n'))
        out << (line.isEmpty() ? -1 : line.mid(6, 2).toInt());
    return all.size() == kHeader.size() ? QList<int>{} : out;
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

} // namespace

class tst_Window : public QObject
{
    Q_OBJECT
    QTemporaryDir settingsDir;
    PtyPair pty;

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
    }
    void init() { QFile::remove(settingsDir.filePath("Norvane/Tovrik Communicator.conf")); }

    void startWithNothingStored()
    {
        ModalWatcher watcher;
        QuelmarStatus w;
        // The box came and went while the window was being built.
        QCOMPARE(watcher.texts(), QStringList{"No port chosen." + kOpenFailure});
        QVERIFY(!w.isVisible());
        QVERIFY(pollTimer->isActive());
        QCOMPARE(pollTimer->interval(), 500);
        QCOMPARE(w.windowTitle(), QStringLiteral("Quelmar Communicator 2.0.1beta"));
        auto *box = child<QComboBox>(w, "ComPort");
        QCOMPARE(QStringList({box->itemText(0), box->itemText(19), box->currentText()}),
                 QStringList({"COM1", "COM20", ""}));
        QCOMPARE(box->count(), 20);
        QVERIFY(!child(w, "stopButton")->isEnabled());
        // Every tick reports the failure and sends nothing.
        QTRY_COMPARE_WITH_TIMEOUT(textOf(w, "comerr"), kError, 2000);
        QCOMPARE(textOf(w, "TxLine"), QString());
    }

    void startOnLine()
    {
        ModalWatcher watcher;
        auto w = openWindowOn(pty.path());
        QCOMPARE(child<QComboBox>(*w, "ComPort")->currentText(), pty.path());
        // What the line really got, read from the meter's side of it.
        termios tio;
        QCOMPARE(tcgetattr(pty.masterFd(), &tio), 0);
        QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
        QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));

        // Nothing answers the address change: three attempts, then the error.
        w->poller();
        QCOMPARE(pty.receive(1000), kAddressChange + kAddressChange + kAddressChange);
        QCOMPARE(textOf(*w, "comerr"), kError);
        // The late answer is read by the next tick's first attempt.
        pty.send(replyWithFields(10));
        w->poller();
        QCOMPARE(pty.receive(1000), kPoll);
        QCOMPARE(texts(*w, {"comerr", "TimeDisp", "TxLine"}), QStringList({"", "00:00:03 HMS", kPoll}));
        QCOMPARE(watcher.texts(), QStringList());
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("result");
        QTest::addColumn<Values>("entries");
        QTest::newRow("short reply") << QByteArray(">01S,5,6;0177\r") << 3 << Values{5, 6, 375};
        QTest::newRow("ten fields") << replyWithFields(10) << 11 << Values{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x4AA};
        QTest::newRow("two replies") << QByteArray(">01S,5,6;0177\r>01S,7,8;017B\r") << 6 << Values{5, 6, 0, 7, 8, 0x17B};
        QTest::newRow("clear acknowledgement") << kClearAck << 99 << Values{0, 0xD2};
        QTest::newRow("clear acknowledgement, bad checksum") << QByteArray(">01E;FFFF") << 99 << Values{0};
        QTest::newRow("nothing") << QByteArray() << 0 << Values{0};
        QTest::newRow("no checksum mark") << QByteArray(">01S,5,6\r") << 0 << Values{0, 0};
        QTest::newRow("bad checksum fills nothing") << QByteArray(">01S,5,6;0178\r") << 0 << Values{0, 0, 0};
        QTest::newRow("other address") << QByteArray(">02S,5,6;0178\r") << 3 << Values{5, 6, 0x178};
        QTest::newRow("NUL ends the text") << QByteArray("\x01\x00>01S,5;00", 10) << 0 << Values{0};
        // Noise whose empty byte sum a "0" matches, and a frame echoed back.
        QTest::newRow("noise, ';' at 1") << QByteArray("\xff;0,0,0,7200,7200000000,0,0,0,0,0\r") << 0 << Values{0, 0, 0};
        QTest::newRow("reply, ';' at 1") << QByteArray(">;0,5,0,7200;\r") << 0 << Values{0, 0, 0};
        QTest::newRow("no '>'") << QByteArray("<01S,;00E0\r") << 0 << Values{0};
        QTest::newRow("1100 bytes: two reads") << QByteArray(1100, 'x') << 0 << Values{0};
    }
    void replies()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, result);
        QFETCH(Values, entries);
        auto w = openWindowOn(pty.path());
        pty.send(bytes);
        Values vals(1024, 0.0);
        QCOMPARE(w->Rcvmsg(meterAddress, vals.data()), result);
        QCOMPARE(vals.mid(0, entries.size()), entries);
        QCOMPARE(textOf(*w, "RcdLine"), QString::fromLatin1(bytes.constData()).left(1024));
        // What did not fit stays for the next read.
        w->Rcvmsg(meterAddress, vals.data());
        QCOMPARE(textOf(*w, "RcdLine"), QString::fromLatin1(bytes.mid(1024)));
    }

    void tick_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("tab");
        QTest::addColumn<bool>("readout");
        QTest::addColumn<bool>("costs");
        QTest::newRow("reading, Meter tab") << replyWithFields(10) << 0 << true << false;
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
        QFETCH(bool, readout);
        QFETCH(bool, costs);
        auto w = openWindowOn(pty.path());
        child<QLabel>(*w, "comerr")->setText("stale");
        child<QTabWidget>(*w, "tabWidget")->setCurrentIndex(tab);
        pty.send(reply);
        w->poller();
        QCOMPARE(pty.receive(1000), kAddressChange); // one attempt sufficed
        QCOMPARE(textOf(*w, "comerr"), QString());
        QCOMPARE(textOf(*w, "TimeDisp"), readout ? "00:00:03 HMS" : "");
        QCOMPARE(textOf(*w, "costpy").isEmpty(), !costs);
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
    }

    void portChanges()
    {
        ModalWatcher watcher;
        auto w = openWindowOn(pty.path());
        auto *box = child<QComboBox>(*w, "ComPort");
        const auto choose = [&](const QString &name) {
            box->setEditText(name);
            emit box->activated(0);
            QVERIFY(pollTimer->isActive());
            pollTimer->stop();
        };
        QPointer<QSerialPort> old = w->serialPort();
        w->ClearData();
        choose(pty.path()); // the same port again: a new port object, and "A" replaces "E"
        QVERIFY(old.isNull() && w->serialPort()->isOpen());
        w->poller();
        QCOMPARE(pty.receive(1000), kAddressChange + kAddressChange + kAddressChange);
        QCOMPARE(watcher.texts(), QStringList());

        choose(QStringLiteral("ttyQuelmarMissing"));
        QCOMPARE(watcher.texts(), QStringList{kMissing + kOpenFailure});
        w->ClearData();
        w->poller();
        QCOMPARE(textOf(*w, "comerr"), kError);
        QCOMPARE(pty.receive(100), QByteArray());

        choose(pty.path());
        w->poller();
        QCOMPARE(pty.receive(1000), kAddressChange + kAddressChange + kAddressChange);
        QCOMPARE(watcher.texts().size(), 1);
    }

    void rememberedPort_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::newRow("nothing chosen") << QString();
        QTest::newRow("listed port that fails") << "COM7";
        QTest::newRow("typed name") << "ttyQuelmarTyped";
        QTest::newRow("typed path") << "/dev/quelmar/missing";
    }
    void rememberedPort()
    {
        QFETCH(QString, chosen);
        ModalWatcher watcher;
        {
            QuelmarStatus w;
            child<QComboBox>(w, "ComPort")->setEditText(chosen);
            if (!chosen.isEmpty())
                w.PortChanged();
        }
        QCOMPARE(storedPortName(), chosen);
        QuelmarStatus again;
        QCOMPARE(child<QComboBox>(again, "ComPort")->currentText(), chosen);
    }

    void readoutFields()
    {
        auto w = openWindowOn(pty.path());
        const QList<const char *> fields{"TimeDisp", "EnergyDisp", "PowerDisp", "VoltsDisp", "CurrentDisp", "PFDisp", "VADisp"};
        for (const char *name : fields)
            child<QLineEdit>(*w, name)->setText("typed by hand");
        double vals[150] = {7, 7, 3725, 2500.0 * 3600, 1500000, 230120000, 6520000, 1, 950000, 1530000};
        w->UpdateDisp(vals);
        QCOMPARE(texts(*w, fields), QStringList({"01:02:05 HMS", "2.500 Wh  ", "1500.000 W    ", "230.12 V     ",
                                                 "6.520 A     ", "0.950 Lag ", "1530.000 VA   "}));
    }

    void costTab()
    {
        auto w = openWindowOn(pty.path());
        child<QDoubleSpinBox>(*w, "cents")->setValue(12.34); // read at single precision
        double vals[150] = {0, 0, 3600, 3.6e9};
        w->CostCalc(vals);
        const QStringList current{"$0.12340", "$20.73120", "$270.43110", "$1081.72441"};
        QCOMPARE(texts(*w, {"cost", "costph", "costpw", "costpq", "costpy"}), QStringList{"$0.12340"} + current);
        const QList<const char *> totals{"tcostph", "tcostpw", "tcostpq", "tcostpy"};
        // Read back at single precision on the way in.
        child<QPushButton>(*w, "addtButton")->click();
        QCOMPARE(texts(*w, totals), QStringList({"$0.12340", "$20.73120", "$270.43109", "$1081.72437"}));
        child<QPushButton>(*w, "addtButton")->click();
        QCOMPARE(texts(*w, totals), QStringList({"$0.24680", "$41.46240", "$540.86218", "$2163.44873"}));
        child<QPushButton>(*w, "cleartButton")->click();
        QCOMPARE(texts(*w, totals), QStringList(4, QString()));
        QCOMPARE(texts(*w, {"costph", "costpw", "costpq", "costpy"}), current);
    }

    void logSchedule_data()
    {
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("blockFrom"); // passes during which the file is a folder; 0: none
        QTest::addColumn<int>("blockTo");
        QTest::addColumn<QList<int>>("expected"); // one pass more runs
        QTest::newRow("1 s") << 1 << 0 << 0 << QList<int>{2, 4, 6};
        QTest::newRow("5 s") << 5 << 0 << 0 << QList<int>{2, 12, 22};
        // A record that cannot be written waits for the first pass that can.
        QTest::newRow("1 s, first record late") << 1 << 2 << 3 << QList<int>{4, 6, 8};
        QTest::newRow("2 s, one pass blocked") << 2 << 6 << 6 << QList<int>{2, 7, 11};
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
        child<QSpinBox>(*w, "lperiod")->setValue(period);
        w->startlogging();
        QCOMPARE(recordedSeconds(log), QList<int>{});
        for (int n = 1; n <= expected.last() + 1; ++n) {
            if (n == blockFrom)
                QVERIFY(QFile::rename(log, log + ".aside") && QDir().mkdir(log));
            pass(*w, n);
            if (n == blockTo)
                QVERIFY(QDir().rmdir(log) && QFile::rename(log + ".aside", log));
        }
        QCOMPARE(recordedSeconds(log), expected);
    }

    void logStartAndStop()
    {
        ModalWatcher watcher;
        QTemporaryDir dir;
        const QString log = dir.filePath("log.csv");
        auto w = openWindowOn(pty.path());
        pty.send(replyWithFields(10));
        w->poller();
        pty.receive(1000);
        QCOMPARE(logWidgetsEnabled(*w), kIdle);
        // A cancelled dialog empties the name, and START refuses it.
        child<QLineEdit>(*w, "fileEdit")->setText("earlier.csv");
        child<QPushButton>(*w, "browseButton")->click();
        child<QPushButton>(*w, "startButton")->click();
        QCOMPARE(watcher.texts(), QStringList({"Enter Log filename", "Log File Error.|No file name selected!"}));
        QCOMPARE(logWidgetsEnabled(*w), kIdle);

        watcher.setFileAnswer(log);
        child<QPushButton>(*w, "browseButton")->click();
        QCOMPARE(textOf(*w, "fileEdit"), log);
        child<QPushButton>(*w, "startButton")->click();
        QCOMPARE(logWidgetsEnabled(*w), kLogging);
        QCOMPARE(recordedSeconds(log), QList<int>{});
        w->poller(); // Clear Data First asks the meter to clear
        QCOMPARE(pty.receive(1000), kClear + kClear + kClear);
        for (int n = 1; n <= 2; ++n)
            pass(*w, n);
        child<QPushButton>(*w, "stopButton")->click();
        QCOMPARE(logWidgetsEnabled(*w), kIdle);
        for (int n = 3; n <= 6; ++n)
            pass(*w, n);
        QCOMPARE(recordedSeconds(log), QList<int>{2});
        QCOMPARE(watcher.texts().size(), 3);
    }
};

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
