// The window as a whole: its slot table, start-up with and without a
// usable port, port changes, the language-change hook and the remembered
// port across restarts.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QFile>
#include <QMetaMethod>
#include <QPointer>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <termios.h>

namespace {
const QString kOpenFailure =
    QStringLiteral("|Seriel Port could not open. Another application maybe using this port.");
}

class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void slotTable_data();
    void slotTable();
    void connections_data();
    void connections();

    void startWithNothingStored();
    void startOnPseudoTerminal();
    void startWithNameOutsideList();
    void portChangeMakesNewPort();
    void portChangeToUnopenablePort();
    void languageChange();

    void settingsSurviveRestart_data();
    void settingsSurviveRestart();
    void settingsFile();

private:
    QString confPath() const { return settingsDir.path() + "/Norvane/Tovrik Communicator.conf"; }
    QTemporaryDir settingsDir;
};

void tst_Window::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    useSettingsFolder(settingsDir.path());
}

void tst_Window::init()
{
    QFile::remove(confPath());
}

void tst_Window::slotTable_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArray>("returnType");
    const char *rows[][2] = {
        {"ClearData()", "void"},
        {"poller()", "void"},
        {"RcvdVal(char[256],double[])", "int"},
        {"Rcvmsg(int,double[])", "int"},
        {"chkadd(int,char[256])", "int"},
        {"rxchksum(char*)", "int"},
        {"Txmsg(int,char*,int)", "void"},
        {"UpdateDisp(double[150])", "void"},
        {"PortChanged()", "void"},
        {"PortOpen()", "void"},
        {"AddChange()", "void"},
        {"CostCalc(double[150])", "void"},
        {"setSaveFileName()", "void"},
        {"startlogging()", "void"},
        {"stoplogging()", "void"},
        {"AddtData()", "void"},
        {"CleartData()", "void"},
        {"readSettings()", "void"},
        {"writeSettings()", "void"},
    };
    int index = 0;
    for (const auto &row : rows) {
        QTest::newRow(row[0]) << index << QByteArray(row[0]) << QByteArray(row[1]);
        ++index;
    }
}

void tst_Window::slotTable()
{
    QFETCH(int, index);
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, returnType);
    const QMetaObject &mo = QuelmarStatus::staticMetaObject;
    QCOMPARE(mo.className(), "QuelmarStatus");
    QCOMPARE(mo.superClass(), &QMainWindow::staticMetaObject);
    // Exactly the 19 public slots, no signals, no properties of its own.
    QCOMPARE(mo.methodCount() - mo.methodOffset(), 19);
    QCOMPARE(mo.propertyCount() - mo.propertyOffset(), 0);
    const QMetaMethod m = mo.method(mo.methodOffset() + index);
    QCOMPARE(m.methodSignature(), signature);
    QCOMPARE(m.methodType(), QMetaMethod::Slot);
    QCOMPARE(m.access(), QMetaMethod::Public);
    QCOMPARE(QByteArray(m.typeName()), returnType);
}

void tst_Window::connections_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QByteArray>("slot");
    QTest::newRow("ClearButton") << "ClearButton" << QByteArray(SIGNAL(clicked())) << QByteArray(SLOT(ClearData()));
    QTest::newRow("ClearButton_M") << "ClearButton_M" << QByteArray(SIGNAL(clicked())) << QByteArray(SLOT(ClearData()));
    QTest::newRow("ComPort") << "ComPort" << QByteArray(SIGNAL(activated(int))) << QByteArray(SLOT(PortChanged()));
    QTest::newRow("browseButton") << "browseButton" << QByteArray(SIGNAL(clicked())) << QByteArray(SLOT(setSaveFileName()));
    QTest::newRow("startButton") << "startButton" << QByteArray(SIGNAL(clicked())) << QByteArray(SLOT(startlogging()));
    QTest::newRow("stopButton") << "stopButton" << QByteArray(SIGNAL(clicked())) << QByteArray(SLOT(stoplogging()));
    QTest::newRow("addtButton") << "addtButton" << QByteArray(SIGNAL(clicked())) << QByteArray(SLOT(AddtData()));
    QTest::newRow("cleartButton") << "cleartButton" << QByteArray(SIGNAL(clicked())) << QByteArray(SLOT(CleartData()));
    QTest::newRow("poll timer") << QString() << QByteArray(SIGNAL(timeout())) << QByteArray(SLOT(poller()));
}

void tst_Window::connections()
{
    QFETCH(QString, sender);
    QFETCH(QByteArray, signal);
    QFETCH(QByteArray, slot);
    PtyPair pty;
    storePortName(pty.path());
    QuelmarStatus w;
    QObject *from = sender.isEmpty() ? static_cast<QObject *>(pollTimer) : w.findChild<QObject *>(sender);
    QVERIFY(from);
    // disconnect() succeeds only for a connection that was made.
    QVERIFY(QObject::disconnect(from, signal.constData(), &w, slot.constData()));
    // And there was exactly one.
    QVERIFY(!QObject::disconnect(from, signal.constData(), &w, slot.constData()));
}

void tst_Window::startWithNothingStored()
{
    ModalWatcher watcher;
    QuelmarStatus w;
    // The box came and went while the window was being built, before show().
    QCOMPARE(watcher.texts(), QStringList{kOpenFailure});
    QVERIFY(!w.isVisible());
    w.show();
    QVERIFY(portOpenFailed);
    QVERIFY(!w.serialPort()->isOpen());
    QVERIFY(pollTimer->isActive());
    QCOMPARE(pollTimer->interval(), 500);
    QCOMPARE(w.windowTitle(), QStringLiteral("Quelmar Communicator 2.0.1beta"));
    QCOMPARE(QByteArray(pendingCommand), QByteArray("A"));

    Ui_QuelmarStatus *ui = w.form();
    QCOMPARE(ui->ComPort->count(), 20);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(ui->ComPort->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    QCOMPARE(ui->ComPort->currentText(), QString());
    QVERIFY(!ui->stopButton->isEnabled());
    QVERIFY(ui->startButton->isEnabled());

    // Once running, every tick reports the failure.
    QTRY_COMPARE_WITH_TIMEOUT(ui->comerr->text(), QStringLiteral("Communication Error"), 2000);
}

void tst_Window::startOnPseudoTerminal()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    storePortName(pty.path());
    ModalWatcher watcher;
    QuelmarStatus w;
    QCOMPARE(watcher.texts(), QStringList());
    QVERIFY(!portOpenFailed);
    QVERIFY(w.serialPort()->isOpen());
    QCOMPARE(w.form()->ComPort->currentText(), pty.path());

    // What the line really got, read from the test's own side of it.
    termios tio;
    QCOMPARE(tcgetattr(pty.masterFd(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(cfgetispeed(&tio), speed_t(B9600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));

    QVERIFY(pollTimer->isActive());
    QCOMPARE(pollTimer->interval(), 500);
    // The first tick sends the address change.
    QByteArray sent;
    QTRY_VERIFY_WITH_TIMEOUT((sent += pty.receive()).startsWith("<FFA,01;015A\r"), 2000);
}

void tst_Window::startWithNameOutsideList()
{
    storePortName(QStringLiteral("COM25"));
    ModalWatcher watcher;
    QuelmarStatus w;
    QCOMPARE(w.form()->ComPort->currentText(), QStringLiteral("COM25"));
    QCOMPARE(w.form()->ComPort->count(), 20);
    QCOMPARE(w.serialPort()->portName(), QStringLiteral("ttyS24"));
}

void tst_Window::portChangeMakesNewPort()
{
    PtyPair pty;
    storePortName(pty.path());
    ModalWatcher watcher;
    QuelmarStatus w;
    for (int round = 0; round < 2; ++round) {
        QPointer<QSerialPort> old = w.serialPort();
        w.ClearData();
        w.form()->ComPort->setEditText(pty.path()); // the same name again
        w.PortChanged();
        QVERIFY(old.isNull());
        QVERIFY(w.serialPort()->isOpen());
        QCOMPARE(QByteArray(pendingCommand), QByteArray("A"));
        QVERIFY(pollTimer->isActive());
    }
    QCOMPARE(watcher.texts(), QStringList());
}

void tst_Window::portChangeToUnopenablePort()
{
    PtyPair pty;
    storePortName(pty.path());
    ModalWatcher watcher;
    QuelmarStatus w;
    w.form()->ComPort->setEditText(QStringLiteral("ttyQuelmarMissing"));
    w.PortChanged();
    QCOMPARE(watcher.texts(), QStringList{kOpenFailure});
    QVERIFY(portOpenFailed);
    QVERIFY(pollTimer->isActive());
    // Choosing a good port again clears the failure.
    w.form()->ComPort->setEditText(pty.path());
    w.PortChanged();
    QVERIFY(!portOpenFailed);
    QCOMPARE(watcher.texts().size(), 1);
}

void tst_Window::languageChange()
{
    PtyPair pty;
    storePortName(pty.path());
    QuelmarStatus w;
    w.form()->comerr->setText(QString());
    w.form()->lperiod->setValue(7);
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&w, &change);
    QCOMPARE(w.form()->comerr->text(), QStringLiteral("Communication  Error"));
    QCOMPARE(w.windowTitle(), QStringLiteral("QuelmarStatus"));
    QCOMPARE(w.form()->lperiod->value(), 7); // values are not texts
}

void tst_Window::settingsSurviveRestart_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("boxes");
    QTest::newRow("listed port that fails") << "COM7" << 2;
    QTest::newRow("typed device name") << "ttyQuelmarTyped" << 2;
    QTest::newRow("typed path") << "/dev/quelmar/missing" << 2;
}

void tst_Window::settingsSurviveRestart()
{
    QFETCH(QString, chosen);
    QFETCH(int, boxes);
    ModalWatcher watcher;
    {
        QuelmarStatus w;
        w.form()->ComPort->setEditText(chosen);
        w.PortChanged();
    }
    QCOMPARE(watcher.texts().size(), boxes);
    QCOMPARE(storedPortName(), chosen);

    QuelmarStatus again;
    QCOMPARE(again.form()->ComPort->currentText(), chosen);
    QCOMPARE(portName, chosen);
}

void tst_Window::settingsFile()
{
    ModalWatcher watcher;
    {
        // A first run with nothing chosen still stores the (empty) name.
        QuelmarStatus w;
    }
    QVERIFY(hasStoredPortName());
    QCOMPARE(storedPortName(), QString());

    // Both spellings of the group meet in one lower-case group on disk.
    QFile file(confPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(text.contains("[quelmarstatus]\nComPort="), text.constData());
    QVERIFY(!text.contains("[Quelmar"));
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
