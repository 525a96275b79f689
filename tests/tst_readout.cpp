// The Meter tab's readout: number texts and the seven fields one pass writes.
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "display/readouttext.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using Entries = QMap<int, double>;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

struct Array {
    double v[150] = {};
    explicit Array(const Entries &e = {})
    {
        for (auto it = e.cbegin(); it != e.cend(); ++it)
            v[it.key()] = it.value();
    }
};

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

    void numberText_data();
    void numberText();
    void energyTexts_data();
    void energyTexts();
    void fields_data();
    void fields();
    void nonFiniteEnergy_data();
    void nonFiniteEnergy();
    void fieldsAreOverwritten();
    void readsOnlyItsEntries();

private:
    std::unique_ptr<QuelmarStatus> openWindow();
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

std::unique_ptr<QuelmarStatus> tst_Readout::openWindow()
{
    storePortName(pty.path());
    auto w = std::make_unique<QuelmarStatus>();
    pollTimer->stop();
    return w;
}

void tst_Readout::numberText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");
    QTest::newRow("no grouping") << 1234567.891 << 3 << "1234567.891";
    QTest::newRow("rounded up") << 0.9996 << 3 << "1.000";
    QTest::newRow("padded decimals") << 2.5 << 3 << "2.500";
    QTest::newRow("negative") << -12.3456 << 2 << "-12.35";
    QTest::newRow("no decimals, no point") << 42.0 << 0 << "42";
}

void tst_Readout::numberText()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QCOMPARE(quelmar::numberText(value, decimals), text);
}

void tst_Readout::energyTexts_data()
{
    QTest::addColumn<double>("mWh");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("shown");
    QTest::newRow("zero") << 0.0 << "0.000" << "0.000 mWh";
    QTest::newRow("just below 1 Wh") << 999.9996 << "1000.000" << "1000.000 mWh";
    QTest::newRow("1 Wh") << 1000.0 << "1000.000" << "1.000 Wh  ";
    QTest::newRow("-1 Wh") << -1000.0 << "-1000.000" << "-1.000 Wh  ";
    QTest::newRow("2.5 Wh") << 2500.0 << "2500.000" << "2.500 Wh  ";
    QTest::newRow("-999.5 mWh") << -999.5 << "-999.500" << "-999.500 mWh";
    QTest::newRow("1 kWh") << 1000000.0 << "1000000.000" << "1.000 kWh";
    QTest::newRow("-1 kWh") << -1000000.0 << "-1000000.000" << "-1.000 kWh";
    QTest::newRow("1234.5 kWh") << 1234567891.0 << "1234567891.000" << "1234.568 kWh";
}

void tst_Readout::energyTexts()
{
    QFETCH(double, mWh);
    QFETCH(QString, base);
    QFETCH(QString, shown);
    const Array a({{3, mWh * 3600}});
    const quelmar::ReadoutTexts t = quelmar::readoutTexts(a.v);
    QCOMPARE(t.energyBase, base);
    QCOMPARE(t.energyShown, shown);
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
    QTest::newRow("energy 1 Wh") << Entries{{3, 1000.0 * 3600}} << "EnergyDisp" << "1.000 Wh  ";
    QTest::newRow("energy -1 Wh") << Entries{{3, -1000.0 * 3600}} << "EnergyDisp" << "-1.000 Wh  ";
    QTest::newRow("energy 1 kWh") << Entries{{3, 1000000.0 * 3600}} << "EnergyDisp" << "1.000 kWh";
    QTest::newRow("energy rounds in mWh") << Entries{{3, 999.9996 * 3600}} << "EnergyDisp" << "1000.000 mWh";
    QTest::newRow("energy 2500 mWh") << Entries{{3, 2500.0 * 3600}} << "EnergyDisp" << "2.500 Wh  ";
    QTest::newRow("power 1500 W") << Entries{{4, 1500000}} << "PowerDisp" << "1500.000 W    ";
    QTest::newRow("power negative") << Entries{{4, -1500000}} << "PowerDisp" << "-1500.000 W    ";
    QTest::newRow("voltage") << Entries{{5, 230120000}} << "VoltsDisp" << "230.12 V     ";
    QTest::newRow("current") << Entries{{6, 1234567}} << "CurrentDisp" << "1.235 A     ";
    QTest::newRow("current negative") << Entries{{6, -4000}} << "CurrentDisp" << "-0.004 A     ";
    QTest::newRow("pf lead") << Entries{{7, 0}, {8, 950000}} << "PFDisp" << "0.950 Lead";
    QTest::newRow("pf lag") << Entries{{7, 1}, {8, 950000}} << "PFDisp" << "0.950 Lag ";
    QTest::newRow("pf flag NaN lags") << Entries{{7, NaN}, {8, 950000}} << "PFDisp" << "0.950 Lag ";
    QTest::newRow("pf flag tiny lags") << Entries{{7, 1e-300}, {8, 1000000}} << "PFDisp" << "1.000 Lag ";
    QTest::newRow("pf flag -0 leads") << Entries{{7, -0.0}, {8, 1000000}} << "PFDisp" << "1.000 Lead";
    QTest::newRow("apparent power") << Entries{{9, 1234567}} << "VADisp" << "1234.567 VA   ";
}

void tst_Readout::fields()
{
    QFETCH(Entries, entries);
    QFETCH(QString, field);
    QFETCH(QString, text);
    auto w = openWindow();
    Array a(entries);
    w->UpdateDisp(a.v);
    auto *edit = w->findChild<QLineEdit *>(field);
    QVERIFY(edit);
    QCOMPARE(edit->text(), text);
}

void tst_Readout::nonFiniteEnergy_data()
{
    QTest::addColumn<double>("energy");
    QTest::newRow("NaN") << NaN;
    QTest::newRow("inf") << Inf;
    QTest::newRow("-inf") << -Inf;
}

void tst_Readout::nonFiniteEnergy()
{
    QFETCH(double, energy);
    auto w = openWindow();
    Array a({{2, 10}, {3, energy}, {4, 5000}});
    w->UpdateDisp(a.v);
    // Fails both range tests, so it lands in the largest range.
    QVERIFY2(w->form()->EnergyDisp->text().endsWith(QLatin1String(" kWh")), qPrintable(w->form()->EnergyDisp->text()));
    // The rest of the pass still runs.
    QCOMPARE(w->form()->TimeDisp->text(), QStringLiteral("00:00:10 HMS"));
    QCOMPARE(w->form()->PowerDisp->text(), QStringLiteral("5.000 W    "));
}

void tst_Readout::fieldsAreOverwritten()
{
    auto w = openWindow();
    Ui_QuelmarStatus *ui = w->form();
    for (const QString &text : fieldTexts(ui))
        QVERIFY(text.isEmpty());

    for (QLineEdit *edit : {ui->TimeDisp, ui->EnergyDisp, ui->PowerDisp, ui->VoltsDisp, ui->CurrentDisp, ui->PFDisp,
                            ui->VADisp})
        edit->setText(QStringLiteral("typed by hand"));
    Array first({{2, 61}, {3, 3600}, {4, 1000}, {5, 1000000}, {6, 1000000}, {7, 0}, {8, 500000}, {9, 2000}});
    w->UpdateDisp(first.v);
    QCOMPARE(fieldTexts(ui), (QStringList{"00:01:01 HMS", "1.000 mWh", "1.000 W    ", "1.00 V     ", "1.000 A     ",
                                          "0.500 Lead", "2.000 VA   "}));

    Array second({{2, 7322}, {3, 7200000}, {4, -2500}, {5, 229990000}, {6, 250000}, {7, 1}, {8, 875600}, {9, 9}});
    w->UpdateDisp(second.v);
    QCOMPARE(fieldTexts(ui), (QStringList{"02:02:02 HMS", "2.000 Wh  ", "-2.500 W    ", "229.99 V     ",
                                          "0.250 A     ", "0.876 Lag ", "0.009 VA   "}));
}

void tst_Readout::readsOnlyItsEntries()
{
    auto w = openWindow();
    Array clean({{2, 3725}, {3, 3600e6}, {4, 1500000}, {5, 230120000}, {6, 6520000}, {8, 980000}, {9, 1530000}});
    w->UpdateDisp(clean.v);
    const QStringList expected = fieldTexts(w->form());

    Array noisy = clean;
    for (int i : {0, 1})
        noisy.v[i] = 777777;
    for (int i = 10; i < 150; ++i)
        noisy.v[i] = -123456789;
    w->UpdateDisp(noisy.v);
    QCOMPARE(fieldTexts(w->form()), expected);
}

QTEST_MAIN(tst_Readout)
#include "tst_readout.moc"
