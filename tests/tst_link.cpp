// The meter link: frames, reply checks and parsing, device paths, and the
// poll cycle over a real pseudo-terminal with the test playing the meter.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "link/devicepath.h"
#include "link/protocol.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QPointer>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

using Values = QList<double>;

namespace {

QByteArray frame(int add, const char *cmd)
{
    char out[quelmar::kFrameBufferSize];
    const int n = quelmar::buildFrame(add, cmd, out);
    return QByteArray(out, n);
}

// A reply with `fields` numeric fields 1, 2, 3, ... and a correct checksum.
QByteArray replyWithFields(int fields)
{
    QList<double> values;
    for (int i = 1; i <= fields; ++i)
        values << i;
    return meterReply(values);
}

} // namespace

class tst_Link : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void frames_data();
    void frames();
    void checksumText_data();
    void checksumText();
    void address_data();
    void address();
    void checksum_data();
    void checksum();
    void parse_data();
    void parse();
    void devicePath_data();
    void devicePath();

    void replies_data();
    void replies();
    void oversizedRead();

    void firstTickSendsAddressChange();
    void clearRequestGoesOutNextTick();
    void resultThreshold_data();
    void resultThreshold();
    void failedOpenSendsNothing();
    void hangUpClosesUntilPortChosen();

private:
    QTemporaryDir settingsDir;
};

void tst_Link::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useSettingsFolder(settingsDir.path());
}

void tst_Link::frames_data()
{
    QTest::addColumn<int>("add");
    QTest::addColumn<QByteArray>("cmd");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("poll") << 1 << QByteArray("S") << QByteArray::fromHex("3C303153 2C3B30304530 0D");
    QTest::newRow("address change") << 1 << QByteArray("A") << QByteArray::fromHex("3C464641 2C30313B30313541 0D");
    QTest::newRow("clear") << 1 << QByteArray("E") << QByteArray::fromHex("3C303145 2C3B30304432 0D");
    QTest::newRow("address 26") << 26 << QByteArray("S") << QByteArray("<1AS,;00F1\r");
    QTest::newRow("address 255") << 255 << QByteArray("S") << QByteArray("<FFS,;010B\r");
}

void tst_Link::frames()
{
    QFETCH(int, add);
    QFETCH(QByteArray, cmd);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame(add, cmd.constData()), expected);
}

void tst_Link::checksumText_data()
{
    QTest::addColumn<int>("sum");
    QTest::addColumn<QByteArray>("text");
    // Sums below 0x100 get two zeros in front, so a tiny sum stays short.
    QTest::newRow("0") << 0 << QByteArray("000");
    QTest::newRow("0xF") << 0xF << QByteArray("00F");
    QTest::newRow("0xFF") << 0xFF << QByteArray("00FF");
    QTest::newRow("0x100") << 0x100 << QByteArray("0100");
    QTest::newRow("0xFFF") << 0xFFF << QByteArray("0FFF");
    QTest::newRow("0x1000") << 0x1000 << QByteArray("1000");
}

void tst_Link::checksumText()
{
    QFETCH(int, sum);
    QFETCH(QByteArray, text);
    char out[11];
    quelmar::checksumText(sum, out);
    QCOMPARE(QByteArray(out), text);
}

void tst_Link::address_data()
{
    QTest::addColumn<int>("add");
    QTest::addColumn<QByteArray>("msg");
    QTest::addColumn<int>("result");
    QTest::newRow("match") << 1 << QByteArray(">01S,1;0") << 1;
    QTest::newRow("lower case") << 0x1a << QByteArray(">1aS") << 1;
    QTest::newRow("other address") << 1 << QByteArray(">02S") << 0;
    QTest::newRow("not a reply") << 1 << QByteArray("<01S") << 0;
    QTest::newRow("one digit then separator") << 1 << QByteArray(">1,") << 1;
    QTest::newRow("third digit ignored") << 0x12 << QByteArray(">123") << 1;
    QTest::newRow("no digits reads as 0") << 0 << QByteArray(">zz") << 1;
}

void tst_Link::address()
{
    QFETCH(int, add);
    QFETCH(QByteArray, msg);
    QFETCH(int, result);
    QCOMPARE(quelmar::checkAddress(add, msg.constData()), result);
}

void tst_Link::checksum_data()
{
    QTest::addColumn<QByteArray>("msg");
    QTest::addColumn<int>("result");
    QTest::newRow("right") << QByteArray(">01S,5,6;0177\r") << 1;
    QTest::newRow("lower case digits") << QByteArray(">01S,5,6,7;01da\r") << 1;
    QTest::newRow("blank before digits") << QByteArray(">01S,5,6; 177\r") << 1;
    QTest::newRow("off by one") << QByteArray(">01S,5,6;0178\r") << 0;
    QTest::newRow("no separator") << QByteArray(">01S,5,6\r") << 0;
    QTest::newRow("nothing after it") << QByteArray(">01S,5,6;") << 0;
    QTest::newRow("separator first, no digits") << QByteArray(";") << 0;
    QTest::newRow("empty sum, no digits") << QByteArray("x;\r") << 0;
    QTest::newRow("separator first, zero") << QByteArray(";0") << 1;
    QTest::newRow("first character never counts") << QByteArray("x;0") << 1;
    QTest::newRow("high bytes count negative") << QByteArray(">\xff;FFFFFFFF") << 0;
    QTest::newRow("huge number") << QByteArray(">01S;FFFFFFFFFFFFFFFFFFFFFFFFB4") << 0;
}

void tst_Link::checksum()
{
    QFETCH(QByteArray, msg);
    QFETCH(int, result);
    QCOMPARE(quelmar::checkChecksum(msg.constData()), result);
}

void tst_Link::parse_data()
{
    QTest::addColumn<QByteArray>("msg");
    QTest::addColumn<int>("count");
    QTest::addColumn<Values>("entries");
    QTest::newRow("nothing after checksum mark") << QByteArray(">01S,5,6;") << 3 << Values{5, 6, 0};
    QTest::newRow("decimals and sign") << QByteArray(">01S,-1.5,2e3;0") << 3 << Values{-1.5, 2000, 0};
    QTest::newRow("fields after checksum mark") << QByteArray(">01S,1;2,3") << 3 << Values{1, 2, 3};
    QTest::newRow("empty fields") << QByteArray(">01S,,;") << 3 << Values{0, 0, 0};
}

void tst_Link::parse()
{
    QFETCH(QByteArray, msg);
    QFETCH(int, count);
    QFETCH(Values, entries);
    std::vector<double> vals(quelmar::kMeasurementCount, -7.0);
    QCOMPARE(quelmar::parseReply(msg.constData(), vals.data()), count);
    for (int i = 0; i < entries.size(); ++i)
        QCOMPARE(vals[i], entries[i]);
    // Entries past the reply's length are left alone.
    QCOMPARE(vals[msg.size()], -7.0);
}

void tst_Link::devicePath_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("COM1") << "COM1" << "/dev/ttyS0";
    QTest::newRow("lower case") << "com10" << "/dev/ttyS9";
    QTest::newRow("absolute") << "/dev/pts/7" << "/dev/pts/7";
    QTest::newRow("usb adapter") << "ttyUSB0" << "/dev/ttyUSB0";
    QTest::newRow("empty opens nothing") << "" << "";
    QTest::newRow("COM0 is no number") << "COM0" << "/dev/COM0";
    QTest::newRow("leading zero") << "COM03" << "/dev/COM03";
    QTest::newRow("trailing letters") << "COM3x" << "/dev/COM3x";
}

void tst_Link::devicePath()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    QCOMPARE(quelmar::devicePath(name), path);
}

void tst_Link::replies_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("result");
    QTest::addColumn<Values>("entries");

    QTest::newRow("short reply") << QByteArray(">01S,5,6;0177\r") << 3 << Values{5, 6, 375};
    QTest::newRow("lower case checksum") << QByteArray(">01S,5,6,7;01da\r") << 4 << Values{5, 6, 7, 0x1DA};
    QTest::newRow("ten fields") << replyWithFields(10) << 11 << Values{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    QTest::newRow("clear acknowledgement") << QByteArray(">01E,;00D2\r") << 99 << Values{0};
    QTest::newRow("clear acknowledgement, bad checksum") << QByteArray(">01E;FFFF") << 99 << Values{0};
    QTest::newRow("nothing read") << QByteArray() << 0 << Values{0};
    QTest::newRow("two replies in one read")
        << QByteArray(">01S,5,6;0177\r>01S,7,8;017B\r") << 6 << Values{5, 6, 0, 7, 8, 0x17B};
    QTest::newRow("no comma") << QByteArray(">01S;00B4\r") << 0 << Values{0};
    QTest::newRow("no checksum mark") << QByteArray(">01S,5,6\r") << 0 << Values{0, 0};
    // One meter per line: a right checksum is enough, whatever the address.
    QTest::newRow("other address") << QByteArray(">02S,5,6;0178\r") << 3 << Values{5, 6, 0x178};
    // A wrong checksum must not leave its numbers in the array.
    QTest::newRow("right address, wrong checksum") << QByteArray(">01S,5,6;0178\r") << 0 << Values{0, 0, 0};
    QTest::newRow("garbage with NUL") << QByteArray("\x01\x00>01S,5;00", 10) << 0 << Values{0};
}

void tst_Link::replies()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, result);
    QFETCH(Values, entries);

    PtyPair pty;
    QVERIFY(pty.isValid());
    auto w = openWindowOn(pty.path());
    pty.send(bytes);

    std::vector<double> vals(quelmar::kMeasurementCount, 0.0);
    QCOMPARE(w->Rcvmsg(meterAddress, vals.data()), result);
    for (int i = 0; i < entries.size(); ++i)
        QCOMPARE(vals[i], entries[i]);
    // The receive line shows the text up to its first NUL.
    QCOMPARE(w->form()->RcdLine->text(), QString::fromLatin1(bytes.constData()));
}

void tst_Link::oversizedRead()
{
    PtyPair pty;
    auto w = openWindowOn(pty.path());
    const QByteArray bytes = QByteArray(1100, 'x');
    pty.send(bytes);

    std::vector<double> vals(quelmar::kMeasurementCount, 0.0);
    QCOMPARE(w->Rcvmsg(meterAddress, vals.data()), 0);
    QCOMPARE(w->form()->RcdLine->text().size(), quelmar::kReplyCapacity);
    QCOMPARE(w->Rcvmsg(meterAddress, vals.data()), 0);
    QCOMPARE(w->form()->RcdLine->text().size(), 1100 - quelmar::kReplyCapacity);
}

void tst_Link::firstTickSendsAddressChange()
{
    PtyPair pty;
    auto w = openWindowOn(pty.path());
    QCOMPARE(pendingCommand, "A");

    // Nothing answers: the frame goes out three times and the error shows.
    w->poller();
    QCOMPARE(pty.receive(1000), frame(1, "A") + frame(1, "A") + frame(1, "A"));
    QCOMPARE(w->form()->comerr->text(), QStringLiteral("Communication Error"));
    QCOMPARE(w->form()->TxLine->text(), QString::fromLatin1(frame(1, "A")));
    QCOMPARE(pendingCommand, "S");

    // The answer arrives late; the next tick reads it at its first attempt.
    pty.send(replyWithFields(10));
    w->poller();
    QCOMPARE(pty.receive(1000), frame(1, "S"));
    QCOMPARE(w->form()->comerr->text(), QString());
    QCOMPARE(w->form()->TimeDisp->text(), QStringLiteral("00:00:03 HMS"));
}

void tst_Link::clearRequestGoesOutNextTick()
{
    PtyPair pty;
    auto w = openWindowOn(pty.path());
    pty.send(replyWithFields(10));
    w->poller();
    pty.receive(1000);

    QTest::mouseClick(w->form()->ClearButton_M, Qt::LeftButton);
    QCOMPARE(pendingCommand, "E");
    QCOMPARE(pty.receive(50), QByteArray()); // nothing goes out before the tick

    w->poller();
    QCOMPARE(pty.receive(1000), frame(1, "E") + frame(1, "E") + frame(1, "E"));
    // A clear whose attempts all failed is not repeated.
    w->poller();
    QCOMPARE(pty.receive(1000), frame(1, "S") + frame(1, "S") + frame(1, "S"));
}

void tst_Link::resultThreshold_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("shown");
    QTest::newRow("89 entries") << replyWithFields(88) << true;
    QTest::newRow("90 entries") << replyWithFields(89) << false;
    QTest::newRow("clear acknowledgement") << QByteArray(">01E,;00D2\r") << false;
}

void tst_Link::resultThreshold()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, shown);
    PtyPair pty;
    auto w = openWindowOn(pty.path());
    w->form()->comerr->setText(QStringLiteral("stale"));
    pty.send(reply);
    w->poller();
    QCOMPARE(w->form()->comerr->text(), QString());
    QCOMPARE(w->form()->TimeDisp->text().isEmpty(), !shown);
    QCOMPARE(pty.receive(1000), frame(1, "A")); // one attempt sufficed
}

void tst_Link::failedOpenSendsNothing()
{
    storePortName(QStringLiteral("/nonexistent/quelmar-port"));
    ModalWatcher watcher;
    QuelmarStatus w;
    QCOMPARE(watcher.texts().size(), 1);
    QVERIFY(portOpenFailed);

    w.ClearData();
    w.poller();
    QCOMPARE(w.form()->comerr->text(), QStringLiteral("Communication Error"));
    QCOMPARE(w.form()->TxLine->text(), QString());
    QCOMPARE(pendingCommand, "E");
}

void tst_Link::hangUpClosesUntilPortChosen()
{
    PtyPair pty;
    auto w = openWindowOn(pty.path());
    pty.send(replyWithFields(10));
    w->poller();
    QCOMPARE(w->form()->comerr->text(), QString());

    pty.hangUp();
    for (int tick = 0; tick < 3; ++tick) {
        w->poller();
        QCOMPARE(w->form()->comerr->text(), QStringLiteral("Communication Error"));
        QVERIFY(!w->serialPort()->isOpen());
    }
    QVERIFY(!portOpenFailed);

    PtyPair next;
    w->form()->ComPort->setEditText(next.path());
    w->PortChanged();
    pollTimer->stop();
    next.send(replyWithFields(10));
    w->poller();
    QCOMPARE(w->form()->comerr->text(), QString());
    QCOMPARE(next.receive(1000), frame(1, "A"));
}

QTEST_MAIN(tst_Link)
#include "tst_link.moc"
