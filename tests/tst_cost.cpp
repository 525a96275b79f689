// The Cost Calculator tab: running costs, money texts and the audit totals.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "cost/costmath.h"
#include "link/protocol.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// A ten-field reply whose entries 2 and 3 carry the elapsed time and energy.
QByteArray replyWith(double seconds, double energy)
{
    QByteArray body = ">01S,0,0," + QByteArray::number(seconds, 'f', 0) + ',' + QByteArray::number(energy, 'f', 0);
    for (int i = 5; i <= 10; ++i)
        body += ",0";
    char sum[11];
    quelmar::checksumText(quelmar::byteSum(body.constData() + 1, body.constData() + body.size()), sum);
    return body + ';' + sum + '\r';
}

QStringList currentCosts(const Ui_QuelmarStatus *ui)
{
    return {ui->cost->text(), ui->costph->text(), ui->costpw->text(), ui->costpq->text(), ui->costpy->text()};
}

QStringList totals(const Ui_QuelmarStatus *ui)
{
    return {ui->tcostph->text(), ui->tcostpw->text(), ui->tcostpq->text(), ui->tcostpy->text()};
}

const QStringList kOneKwhAnHour{"$0.18000", "$0.18000", "$30.24000", "$394.47000", "$1577.88000"};

} // namespace

class tst_Cost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void costCalc_data();
    void costCalc();
    void addToTotal_data();
    void addToTotal();
    void addButton_data();
    void addButton();
    void clearTotals();
    void onlyOnCostTab_data();
    void onlyOnCostTab();

private:
    std::unique_ptr<QuelmarStatus> openWindow();
    void calc(QuelmarStatus *w, double seconds, double energy, double cents = 18.0, double hours = 24.0);
    QTemporaryDir settingsDir;
    PtyPair pty;
};

void tst_Cost::initTestCase()
{
    // Money texts must keep "." and no grouping whatever the user's locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(settingsDir.isValid());
    QVERIFY(pty.isValid());
    useSettingsFolder(settingsDir.path());
}

std::unique_ptr<QuelmarStatus> tst_Cost::openWindow()
{
    storePortName(pty.path());
    auto w = std::make_unique<QuelmarStatus>();
    pollTimer->stop();
    return w;
}

void tst_Cost::calc(QuelmarStatus *w, double seconds, double energy, double cents, double hours)
{
    w->form()->cents->setValue(cents);
    w->form()->hoursperday->setValue(hours);
    double vals[150] = {};
    vals[2] = seconds;
    vals[3] = energy;
    w->CostCalc(vals);
}

void tst_Cost::costCalc_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("energy");
    QTest::addColumn<double>("cents");
    QTest::addColumn<double>("hours");
    QTest::addColumn<QStringList>("texts"); // now, hour, week, quarter, year

    QTest::newRow("1 kWh in an hour") << 3600.0 << 3.6e9 << 18.0 << 24.0 << kOneKwhAnHour;
    QTest::newRow("no hours of use")
        << 3600.0 << 3.6e9 << 18.0 << 0.0 << QStringList{"$0.18000", "$0.18000", "$0.00000", "$0.00000", "$0.00000"};
    // 12.34 enters as a float; in double the year would be $1081.72440.
    QTest::newRow("tariff in single precision")
        << 3600.0 << 3.6e9 << 12.34 << 24.0
        << QStringList{"$0.12340", "$0.12340", "$20.73120", "$270.43110", "$1081.72441"};
    QTest::newRow("half a day, 2 kWh over 4 h")
        << 14400.0 << 7.2e9 << 20.0 << 12.0
        << QStringList{"$0.40000", "$0.10000", "$8.40000", "$109.57500", "$438.30000"};
    QTest::newRow("negative energy")
        << 3600.0 << -3.6e9 << 18.0 << 24.0
        << QStringList{"$-0.18000", "$-0.18000", "$-30.24000", "$-394.47000", "$-1577.88000"};
    QTest::newRow("no time, some energy")
        << 0.0 << 3.6e9 << 18.0 << 24.0 << QStringList{"$0.18000", "$inf", "$inf", "$inf", "$inf"};
    QTest::newRow("no time, no energy")
        << 0.0 << 0.0 << 18.0 << 24.0 << QStringList{"$0.00000", "$nan", "$nan", "$nan", "$nan"};
}

void tst_Cost::costCalc()
{
    QFETCH(double, seconds);
    QFETCH(double, energy);
    QFETCH(double, cents);
    QFETCH(double, hours);
    QFETCH(QStringList, texts);
    auto w = openWindow();
    calc(w.get(), seconds, energy, cents, hours);
    QCOMPARE(currentCosts(w->form()), texts);
}

void tst_Cost::addToTotal_data()
{
    QTest::addColumn<QString>("total");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("sum");

    QTest::newRow("empty total") << "" << "$0.18000" << "$0.18000";
    QTest::newRow("two amounts") << "$0.18000" << "$0.18000" << "$0.36000";
    QTest::newRow("year twice") << "$1577.88000" << "$1577.88000" << "$3155.76001";
    QTest::newRow("total parsed as float") << "$1081.72441" << "$0.00000" << "$1081.72437";
    QTest::newRow("typed words count as 0") << "lots" << "$0.18000" << "$0.18000";
    QTest::newRow("decimal comma counts as 0") << "$1,5" << "$1.00000" << "$1.00000";
    QTest::newRow("every $ removed") << "$$2.5" << "1.5" << "$4.00000";
    QTest::newRow("negative") << "$-1.00000" << "$0.25000" << "$-0.75000";
    QTest::newRow("inf counts as 0") << "$inf" << "$0.18000" << "$0.18000";
    QTest::newRow("nan counts as 0") << "$0.18000" << "$nan" << "$0.18000";
    QTest::newRow("-inf counts as 0") << "$-inf" << "$inf" << "$0.00000";
    QTest::newRow("float overflow counts as 0") << "$1e39" << "$2.00000" << "$2.00000";
}

void tst_Cost::addToTotal()
{
    QFETCH(QString, total);
    QFETCH(QString, current);
    QFETCH(QString, sum);
    QCOMPARE(quelmar::addToTotal(total, current), sum);
}

void tst_Cost::addButton_data()
{
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one") << 1 << kOneKwhAnHour.mid(1);
    QTest::newRow("two") << 2 << QStringList{"$0.36000", "$60.48000", "$788.94000", "$3155.76001"};
    QTest::newRow("three") << 3 << QStringList{"$0.54000", "$90.72000", "$1183.41000", "$4733.64001"};
}

void tst_Cost::addButton()
{
    QFETCH(int, clicks);
    QFETCH(QStringList, expected);
    auto w = openWindow();
    Ui_QuelmarStatus *ui = w->form();

    // A zero elapsed time first: its non-finite amounts add nothing.
    calc(w.get(), 0, 3.6e9);
    ui->addtButton->click();
    QCOMPARE(totals(ui), QStringList(4, "$0.00000"));

    calc(w.get(), 3600, 3.6e9);
    for (int i = 0; i < clicks; ++i)
        ui->addtButton->click();
    QCOMPARE(totals(ui), expected);
    QCOMPARE(currentCosts(ui), kOneKwhAnHour);
}

void tst_Cost::clearTotals()
{
    auto w = openWindow();
    Ui_QuelmarStatus *ui = w->form();
    calc(w.get(), 3600, 3.6e9);
    ui->addtButton->click();
    QCOMPARE(totals(ui), kOneKwhAnHour.mid(1));

    ui->cleartButton->click();
    QCOMPARE(totals(ui), QStringList(4, QString()));
    QCOMPARE(currentCosts(ui), kOneKwhAnHour);

    // Cleared totals start again from nothing.
    ui->addtButton->click();
    QCOMPARE(totals(ui), kOneKwhAnHour.mid(1));
}

void tst_Cost::onlyOnCostTab_data()
{
    QTest::addColumn<int>("tab");
    QTest::newRow("Meter") << 0;
    QTest::newRow("Cost Calculator") << 1;
    QTest::newRow("Data Logging") << 2;
}

void tst_Cost::onlyOnCostTab()
{
    QFETCH(int, tab);
    const bool costTab = tab == 1;
    auto w = openWindow();
    Ui_QuelmarStatus *ui = w->form();

    ui->tabWidget->setCurrentIndex(tab);
    pty.send(replyWith(3600, 3.6e9));
    w->poller();
    pty.receive(200);
    // The poll itself succeeded whatever the tab.
    QCOMPARE(ui->TimeDisp->text(), QStringLiteral("01:00:00 HMS"));
    QCOMPARE(currentCosts(ui), costTab ? kOneKwhAnHour : QStringList(5, QString()));

    ui->tabWidget->setCurrentIndex(1);
    pty.send(replyWith(3600, 3.6e9));
    w->poller();
    pty.receive(200);
    QCOMPARE(currentCosts(ui), kOneKwhAnHour);

    // Away from the tab the fields keep their last texts.
    ui->tabWidget->setCurrentIndex(tab);
    pty.send(replyWith(7200, 3.6e9));
    w->poller();
    pty.receive(200);
    QCOMPARE(ui->TimeDisp->text(), QStringLiteral("02:00:00 HMS"));
    QCOMPARE(currentCosts(ui).at(1), costTab ? QStringLiteral("$0.09000") : QStringLiteral("$0.18000"));
}

QTEST_MAIN(tst_Cost)
#include "tst_cost.moc"
