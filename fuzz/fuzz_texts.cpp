// Any double the meter's reply can produce - NaN, infinities, denormals,
// values far beyond anything a meter measures - through the readout, log
// and money texts, and arbitrary text through the cost calculator's totals.
// The default locale is German, so a text that followed the locale would
// show a decimal comma and break the log's columns.
//
// Input: the first 80 bytes are ten doubles, bit for bit (missing bytes
// count as zero); the rest is two texts separated by the first newline.
#include "fuzzcheck.h"
#include "cost/costmath.h"
#include "display/readouttext.h"
#include "logging/logrecord.h"

#include <QByteArray>
#include <QList>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

using namespace quelmar;

namespace {

constexpr int kValueCount = 10;

bool isNonFiniteText(const QString &text)
{
    return text == QLatin1String("nan") || text == QLatin1String("inf") || text == QLatin1String("-inf");
}

void checkNumberText(double v, int decimals)
{
    const QString text = numberText(v, decimals);
    FUZZ_REQUIRE(!text.contains(QLatin1Char(',')));
    if (!std::isfinite(v)) {
        FUZZ_REQUIRE(isNonFiniteText(text));
        return;
    }
    // Digits, at most a leading minus and one full stop followed by exactly
    // `decimals` digits.
    const int point = int(text.indexOf(QLatin1Char('.')));
    FUZZ_REQUIRE(decimals == 0 ? point < 0 : point == text.size() - 1 - decimals);
    for (int k = 0; k < text.size(); ++k) {
        const char16_t c = text.at(k).unicode();
        FUZZ_REQUIRE((c >= u'0' && c <= u'9') || (c == u'.' && k == point) || (c == u'-' && k == 0));
    }
    // And it reads back to the value, rounded to the decimals shown.
    bool ok = false;
    const double back = text.toDouble(&ok);
    FUZZ_REQUIRE(ok);
    const double tolerance = 0.5 * std::pow(10.0, -decimals) + std::fabs(v) * 0x1p-51;
    FUZZ_REQUIRE(std::fabs(back - v) <= tolerance);
}

void checkElapsedText(double t)
{
    const QString text = elapsedText(t);
    const QStringList parts = text.split(QLatin1Char(':'));
    FUZZ_REQUIRE(parts.size() == 3);
    for (const QString &part : parts)
        FUZZ_REQUIRE(part.size() >= 2);

    // For whole seconds in int range every part is exact: the parts add up
    // to the time, minutes and seconds stay below 60, and a time that is
    // not negative shows no minus sign.
    if (t == std::trunc(t) && std::fabs(t) <= 2147483647.0) {
        bool okH = false, okM = false, okS = false;
        const double h = parts[0].toDouble(&okH);
        const double m = parts[1].toDouble(&okM);
        const double s = parts[2].toDouble(&okS);
        FUZZ_REQUIRE(okH && okM && okS);
        FUZZ_REQUIRE(h * 3600 + m * 60 + s == t);
        FUZZ_REQUIRE(std::fabs(m) < 60 && std::fabs(s) < 60);
        if (t >= 0)
            FUZZ_REQUIRE(h >= 0 && m >= 0 && s >= 0 && !text.contains(QLatin1Char('-')));
    }
}

// A money text must read back as a finite float: the amount at single
// precision, or 0 when it is not finite or beyond a float.
void checkMoney(double v)
{
    const QString text = moneyText(v);
    FUZZ_REQUIRE(text.startsWith(QLatin1Char('$')));
    FUZZ_REQUIRE(!text.contains(QLatin1Char(',')));
    const float back = parseMoney(text);
    FUZZ_REQUIRE(std::isfinite(back));
    if (!std::isfinite(v))
        FUZZ_REQUIRE(back == 0.0f);
    else if (std::fabs(v) <= 1e38)
        FUZZ_REQUIRE(std::fabs(double(back) - v) <= 1e-5 + std::fabs(v) * 0x1p-23);
}

void checkTotals(const QString &a, const QString &b)
{
    const float pa = parseMoney(a);
    const float pb = parseMoney(b);
    FUZZ_REQUIRE(std::isfinite(pa) && std::isfinite(pb));

    // Two finite floats added in double stay finite: no "$inf" or "$nan"
    // total can come out of any input.
    const QString total = addToTotal(a, b);
    FUZZ_REQUIRE(total == moneyText(double(pa) + double(pb)));
    FUZZ_REQUIRE(!total.contains(QLatin1String("inf")) && !total.contains(QLatin1String("nan")));
    FUZZ_REQUIRE(addToTotal(b, a) == total);
}

void checkReadout(const double *vals)
{
    const ReadoutTexts t = readoutTexts(vals);
    FUZZ_REQUIRE(t.lead == (vals[7] == 0.0));
    FUZZ_REQUIRE(t.time == elapsedText(vals[2]));
    FUZZ_REQUIRE(t.energyShown.endsWith(QLatin1String(" mWh")) || t.energyShown.endsWith(QLatin1String(" Wh  "))
                 || t.energyShown.endsWith(QLatin1String(" kWh")));
    FUZZ_REQUIRE(powerFactorField(t).endsWith(t.lead ? QLatin1String(" Lead") : QLatin1String(" Lag ")));

    // Exactly eight columns, in the header's order.
    const QByteArray record = logRecord(t);
    FUZZ_REQUIRE(record.count(',') == 7);
    FUZZ_REQUIRE(!record.contains('\n') && !record.contains('\r'));
    const QList<QByteArray> columns = record.split(',');
    FUZZ_REQUIRE(columns.size() == 8);
    FUZZ_REQUIRE(columns[0] == t.time.toLatin1());
    FUZZ_REQUIRE(columns[1] == t.energyBase.toLatin1());
    FUZZ_REQUIRE(columns[2] == t.power.toLatin1());
    FUZZ_REQUIRE(columns[3] == t.volts.toLatin1());
    FUZZ_REQUIRE(columns[4] == t.current.toLatin1());
    FUZZ_REQUIRE(columns[5] == t.powerFactor.toLatin1());
    FUZZ_REQUIRE(columns[6] == (t.lead ? "Lead" : "lag"));
    FUZZ_REQUIRE(columns[7] == t.apparent.toLatin1());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    // Without a locale that writes "," the checks on "." would prove nothing.
    if (QLocale().toString(1.5) != QLatin1String("1,5")) {
        std::fprintf(stderr, "the German default locale did not take\n");
        __builtin_trap();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    double vals[kValueCount] = {};
    const size_t valueBytes = std::min(size, sizeof vals);
    std::memcpy(vals, data, valueBytes);

    // Each slot has its own number of decimals; the fuzzer moves values
    // between slots. (Every decimals for every value would spend most of
    // the time formatting the same huge numbers over and over.)
    for (int k = 0; k < kValueCount; ++k) {
        checkNumberText(vals[k], k % 7);
        checkElapsedText(vals[k]);
        checkMoney(vals[k]);
    }
    checkReadout(vals);

    const QByteArray rest(reinterpret_cast<const char *>(data) + valueBytes, qsizetype(size - valueBytes));
    const qsizetype newline = rest.indexOf('\n');
    const QString a = QString::fromUtf8(newline < 0 ? rest : rest.left(newline));
    const QString b = newline < 0 ? QString() : QString::fromUtf8(rest.mid(newline + 1));
    checkTotals(a, b);
    checkTotals(moneyText(vals[0]), moneyText(vals[1]));
    checkTotals(a, moneyText(vals[2]));
    return 0;
}
