// The Cost Calculator tab: running costs, money texts and the audit totals.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "link/protocol.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// A ten-field reply whose entries 2 and 3 carry the elapsed time and energy.
QByteArray replyWith(double seconds, double energy)
{
    return meterReply({0, 0, seconds, energy, 0, 0, 0, 0, 0, 0});
}

// The current costs (now, per hour, week, quarter, year), then the four totals.
QStringList costTexts(const Ui_QuelmarStatus *ui)
{
    return {ui->cost->text(),    ui->costph->text(),  ui->costpw->text(),  ui->costpq->text(), ui->costpy->text(),
            ui->tcostph->text(), ui->tcostpw->text(), ui->tcostpq->text(), ui->tcostpy->text()};
}

// 1 kWh over an hour at 18 cents, 24 h a day.
const QStringList kOneKwhAnHour{"$0.18000", "$0.18000", "$30.24000", "$394.47000", "$1577.88000"};

} // namespace

class tst_Cost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void costsAndTotals_data();
    void costsAndTotals();
    void onlyOnCostTab_data();
    void onlyOnCostTab();

private:
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
    storePortName(pty.path());
}

void tst_Cost::costsAndTotals_data()
{
    // Elapsed seconds, energy in milliwatt-seconds, cents per kWh, hours a day.
    QTest::addColumn<QList<double>>("given");
    QTest::addColumn<QStringList>("costs");
    QTest::addColumn<QString>("before"); // in every total field
    QTest::addColumn<QList<QStringList>>("sums"); // the totals after each Add

    using Sums = QList<QStringList>;
    QTest::newRow("1 kWh in an hour")
        << QList<double>{3600, 3.6e9, 18, 24} << kOneKwhAnHour << ""
        << Sums{kOneKwhAnHour.mid(1), {"$0.36000", "$60.48000", "$788.94000", "$3155.76001"}};
    QTest::newRow("no hours of use") << QList<double>{3600, 3.6e9, 18, 0}
                                     << QStringList{"$0.18000", "$0.18000", "$0.00000", "$0.00000", "$0.00000"} << ""
                                     << Sums{{"$0.18000", "$0.00000", "$0.00000", "$0.00000"}};
    // 12.34 enters as a float; in double the year would be $1081.72440.
    QTest::newRow("tariff in single precision")
        << QList<double>{3600, 3.6e9, 12.34, 24}
        << QStringList{"$0.12340", "$0.12340", "$20.73120", "$270.43110", "$1081.72441"} << "" << Sums{};
    // The totals are read back at single precision.
    QTest::newRow("total read as float") << QList<double>{3600, 0, 18, 24} << QStringList(5, "$0.00000")
                                         << "$1081.72441" << Sums{QStringList(4, "$1081.72437")};
    QTest::newRow("total not a number")
        << QList<double>{3600, 3.6e9, 18, 24} << kOneKwhAnHour << "lots" << Sums{kOneKwhAnHour.mid(1)};
    // Nothing to average yet: shown as such, but it adds nothing.
    QTest::newRow("no elapsed time") << QList<double>{0, 3.6e9, 18, 24}
                                     << QStringList{"$0.18000", "$inf", "$inf", "$inf", "$inf"} << ""
                                     << Sums{QStringList(4, "$0.00000")};
}

void tst_Cost::costsAndTotals()
{
    QFETCH(QList<double>, given);
    QFETCH(QStringList, costs);
    QFETCH(QString, before);
    QFETCH(QList<QStringList>, sums);
    QuelmarStatus w;
    pollTimer->stop();
    Ui_QuelmarStatus *ui = w.form();
    ui->cents->setValue(given[2]);
    ui->hoursperday->setValue(given[3]);
    for (QLineEdit *total : {ui->tcostph, ui->tcostpw, ui->tcostpq, ui->tcostpy})
        total->setText(before);
    double vals[150] = {0, 0, given[0], given[1]};
    w.CostCalc(vals);
    QCOMPARE(costTexts(ui), costs + QStringList(4, before));
    for (const QStringList &sum : sums) {
        ui->addtButton->click();
        QCOMPARE(costTexts(ui), costs + sum);
    }
    // Clear Totals leaves the current costs.
    ui->cleartButton->click();
    QCOMPARE(costTexts(ui), costs + QStringList(4, QString()));
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
    QuelmarStatus w;
    pollTimer->stop();
    Ui_QuelmarStatus *ui = w.form();
    const auto pollOn = [&](int index, double seconds) {
        ui->tabWidget->setCurrentIndex(index);
        pty.send(replyWith(seconds, 3.6e9));
        w.poller();
        pty.receive(200);
    };

    pollOn(1, 3600);
    QCOMPARE(costTexts(ui).mid(0, 5), kOneKwhAnHour);
    pollOn(tab, 7200);
    // The poll itself landed; away from the tab the costs keep their last texts.
    QCOMPARE(ui->TimeDisp->text(), QStringLiteral("02:00:00 HMS"));
    const QStringList halfTheRate{"$0.18000", "$0.09000", "$15.12000", "$197.23500", "$788.94000"};
    QCOMPARE(costTexts(ui).mid(0, 5), costTab ? halfTheRate : kOneKwhAnHour);
}

QTEST_MAIN(tst_Cost)
#include "tst_cost.moc"
