// The Meter tab's readout: the seven fields one pass writes.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using Entries = QMap<int, double>;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

QStringList fieldTexts(const Ui_QuelmarStatus *ui)
{
    return {ui->TimeDisp->text(),    ui->EnergyDisp->text(), ui->PowerDisp->text(), ui->VoltsDisp->text(),
            ui->CurrentDisp->text(), ui->PFDisp->text(),     ui->VADisp->text()};
}

} // namespace

class tst_Readout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fields_data();
    void fields();
    void fieldsAreOverwritten();

private:
    QTemporaryDir settingsDir;
    PtyPair pty;
};

void tst_Readout::initTestCase()
{
    // A decimal comma or grouping from the locale would show up in every row.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(settingsDir.isValid());
    QVERIFY(pty.isValid());
    useSettingsFolder(settingsDir.path());
}

void tst_Readout::fields_data()
{
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");

    QTest::newRow("t 0") << Entries{{2, 0}} << "TimeDisp" << "00:00:00 HMS";
    QTest::newRow("t 3725") << Entries{{2, 3725}} << "TimeDisp" << "01:02:05 HMS";
    QTest::newRow("t 59.99 truncates") << Entries{{2, 59.99}} << "TimeDisp" << "00:00:59 HMS";
    QTest::newRow("t 360000") << Entries{{2, 360000}} << "TimeDisp" << "100:00:00 HMS";
    // Energy arrives in milliwatt-seconds; the range is picked before rounding.
    QTest::newRow("1000 mWh") << Entries{{3, 1000.0 * 3600}} << "EnergyDisp" << "1.000 Wh  ";
    QTest::newRow("-1000 mWh") << Entries{{3, -1000.0 * 3600}} << "EnergyDisp" << "-1.000 Wh  ";
    QTest::newRow("1000000 mWh") << Entries{{3, 1000000.0 * 3600}} << "EnergyDisp" << "1.000 kWh";
    QTest::newRow("999.9996 mWh") << Entries{{3, 999.9996 * 3600}} << "EnergyDisp" << "1000.000 mWh";
    QTest::newRow("2500 mWh") << Entries{{3, 2500.0 * 3600}} << "EnergyDisp" << "2.500 Wh  ";
    QTest::newRow("NaN energy") << Entries{{3, NaN}} << "EnergyDisp" << "nan kWh";
    QTest::newRow("1500000 mW") << Entries{{4, 1500000}} << "PowerDisp" << "1500.000 W    ";
    QTest::newRow("negative power") << Entries{{4, -1500000}} << "PowerDisp" << "-1500.000 W    ";
    QTest::newRow("230120000 uV") << Entries{{5, 230120000}} << "VoltsDisp" << "230.12 V     ";
    // Only a flag of exactly 0 leads.
    QTest::newRow("pf lead") << Entries{{7, 0}, {8, 950000}} << "PFDisp" << "0.950 Lead";
    QTest::newRow("pf lag") << Entries{{7, 1}, {8, 950000}} << "PFDisp" << "0.950 Lag ";
    QTest::newRow("pf flag NaN lags") << Entries{{7, NaN}, {8, 950000}} << "PFDisp" << "0.950 Lag ";
    QTest::newRow("pf flag tiny lags") << Entries{{7, 1e-300}, {8, 1000000}} << "PFDisp" << "1.000 Lag ";
    QTest::newRow("pf flag -0 leads") << Entries{{7, -0.0}, {8, 1000000}} << "PFDisp" << "1.000 Lead";
}

void tst_Readout::fields()
{
    QFETCH(Entries, entries);
    QFETCH(QString, field);
    QFETCH(QString, text);
    auto w = openWindowOn(pty.path());
    double vals[150] = {};
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        vals[it.key()] = it.value();
    w->UpdateDisp(vals);
    auto *edit = w->findChild<QLineEdit *>(field);
    QVERIFY(edit);
    QCOMPARE(edit->text(), text);
}

void tst_Readout::fieldsAreOverwritten()
{
    auto w = openWindowOn(pty.path());
    Ui_QuelmarStatus *ui = w->form();
    for (QLineEdit *edit : {ui->TimeDisp, ui->EnergyDisp, ui->PowerDisp, ui->VoltsDisp, ui->CurrentDisp, ui->PFDisp,
                            ui->VADisp})
        edit->setText(QStringLiteral("typed by hand"));
    double vals[150] = {0, 0, 61, 3600, 1000, 1000000, 1000000, 0, 500000, 2000};
    w->UpdateDisp(vals);
    QCOMPARE(fieldTexts(ui), (QStringList{"00:01:01 HMS", "1.000 mWh", "1.000 W    ", "1.00 V     ", "1.000 A     ",
                                          "0.500 Lead", "2.000 VA   "}));

    // Every field takes the next pass's text; entries outside 2 to 9 are not read.
    double next[150] = {777777, 777777, 7322, 7200000, -2500, 229990000, 250000, 1, 875600, 9};
    for (int i = 10; i < 150; ++i)
        next[i] = -123456789;
    w->UpdateDisp(next);
    QCOMPARE(fieldTexts(ui), (QStringList{"02:02:02 HMS", "2.000 Wh  ", "-2.500 W    ", "229.99 V     ",
                                          "0.250 A     ", "0.876 Lag ", "0.009 VA   "}));
}

QTEST_MAIN(tst_Readout)
#include "tst_readout.moc"
