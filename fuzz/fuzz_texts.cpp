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

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

using namespace quelmar;

namespace {

// Digits, at most a leading minus and a full stop before exactly `decimals`
// digits, reading back to the value rounded to them.
void checkNumberText(double v, int decimals)
{
    const QString text = numberText(v, decimals);
    if (!std::isfinite(v)) {
        FUZZ_REQUIRE(text == QLatin1String("nan") || text == QLatin1String("inf") || text == QLatin1String("-inf"));
        return;
    }
    const int point = int(text.indexOf(QLatin1Char('.')));
    FUZZ_REQUIRE(decimals == 0 ? point < 0 : point == text.size() - 1 - decimals);
    for (int k = 0; k < text.size(); ++k) {
        const char16_t c = text.at(k).unicode();
        FUZZ_REQUIRE((c >= u'0' && c <= u'9') || (c == u'.' && k == point) || (c == u'-' && k == 0));
    }
    bool ok = false;
    const double back = text.toDouble(&ok);
    FUZZ_REQUIRE(ok && std::fabs(back - v) <= 0.5 * std::pow(10.0, -decimals) + std::fabs(v) * 0x1p-51);
}

// Three parts of at least two digits; for times in int range they add up to
// the whole seconds, minutes and seconds stay below 60, and a time that is
// not negative shows no minus sign.
void checkElapsedText(double t)
{
    const QString text = elapsedText(t);
    const QStringList parts = text.split(QLatin1Char(':'));
    FUZZ_REQUIRE(parts.size() == 3 && parts[0].size() >= 2 && parts[1].size() >= 2 && parts[2].size() >= 2);
    if (std::fabs(t) <= 2147483647.0) {
        const double h = parts[0].toDouble(), m = parts[1].toDouble(), s = parts[2].toDouble();
        FUZZ_REQUIRE(h * 3600 + m * 60 + s == std::trunc(t) && std::fabs(m) < 60 && std::fabs(s) < 60);
        FUZZ_REQUIRE(t < 0 || !text.contains(QLatin1Char('-')));
    }
}

// A money text reads back as a finite float: the amount at single
// precision, or 0 when it is not finite.
void checkMoney(double v)
{
    const QString text = moneyText(v);
    FUZZ_REQUIRE(text.startsWith(QLatin1Char('$')) && !text.contains(QLatin1Char(',')));
    const float back = parseMoney(text);
    FUZZ_REQUIRE(std::isfinite(back));
    FUZZ_REQUIRE(std::isfinite(v) || back == 0.0f);
    FUZZ_REQUIRE(!(std::fabs(v) <= 1e38) || std::fabs(double(back) - v) <= 1e-5 + std::fabs(v) * 0x1p-23);
}

// Whatever the texts, the total is a finite sum that does not depend on the
// order: no "$inf" or "$nan" can come out of any input.
void checkTotals(const QString &a, const QString &b)
{
    const double sum = double(parseMoney(a)) + double(parseMoney(b));
    const QString total = addToTotal(a, b);
    FUZZ_REQUIRE(std::isfinite(sum) && addToTotal(b, a) == total);
    FUZZ_REQUIRE(!total.contains(QLatin1String("inf")) && !total.contains(QLatin1String("nan")));
    FUZZ_REQUIRE(!(std::fabs(sum) <= 1e38) || std::fabs(double(parseMoney(total)) - sum) <= 1e-5 + std::fabs(sum) * 0x1p-23);
}

// A log record is one line of exactly eight columns, the lead/lag one
// following the flag entry.
void checkReadout(const double *vals)
{
    const ReadoutTexts t = readoutTexts(vals);
    FUZZ_REQUIRE(t.lead == (vals[7] == 0.0));
    const QByteArray record = logRecord(t);
    const QList<QByteArray> columns = record.split(',');
    FUZZ_REQUIRE(columns.size() == 8 && !record.contains('\n') && !record.contains('\r'));
    FUZZ_REQUIRE(columns[6] == (t.lead ? "Lead" : "lag"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    // Without a locale that writes "," the checks on "." would prove nothing.
    FUZZ_REQUIRE(QLocale().toString(1.5) == QLatin1String("1,5"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    double vals[10] = {};
    const size_t valueBytes = std::min(size, sizeof vals);
    std::memcpy(vals, data, valueBytes);

    // Each slot has its own number of decimals and the fuzzer moves values
    // between slots: every decimals for every value would spend most of the
    // time formatting the same huge numbers.
    for (int k = 0; k < 10; ++k) {
        checkNumberText(vals[k], k % 7);
        checkElapsedText(vals[k]);
        checkMoney(vals[k]);
    }
    checkReadout(vals);

    const QByteArray rest(reinterpret_cast<const char *>(data) + valueBytes, qsizetype(size - valueBytes));
    const qsizetype newline = rest.contains('\n') ? rest.indexOf('\n') : rest.size();
    checkTotals(QString::fromUtf8(rest.left(newline)), QString::fromUtf8(rest.mid(newline + 1)));
    checkTotals(moneyText(vals[0]), moneyText(vals[1]));
    return 0;
}
