// Any double a reply can produce (NaN, infinities, denormals, values far
// beyond any meter) through the readout, log and money texts, and any text
// through the audit totals, under a locale that writes a decimal comma.
//
// Input: the first 80 bytes are ten doubles, bit for bit; the rest is two
// texts separated by the first newline.
#include "fuzzcheck.h"
#include "cost/costmath.h"
#include "display/readouttext.h"
#include "logging/logrecord.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

using namespace quelmar;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    double vals[10] = {};
    const size_t valueBytes = std::min(size, sizeof vals);
    std::memcpy(vals, data, valueBytes);

    // A record is one line of exactly eight columns whatever the values.
    const ReadoutTexts t = readoutTexts(vals);
    const QByteArray record = logRecord(t);
    FUZZ_REQUIRE(record.count(',') == 7 && !record.contains('\n') && !record.contains('\r'));

    // Totals stay finite whatever the texts hold.
    const QByteArray rest(reinterpret_cast<const char *>(data) + valueBytes, qsizetype(size - valueBytes));
    const qsizetype newline = rest.contains('\n') ? rest.indexOf('\n') : rest.size();
    for (const QString &total : {addToTotal(QString::fromUtf8(rest.left(newline)), QString::fromUtf8(rest.mid(newline + 1))),
                                 addToTotal(moneyText(vals[0]), moneyText(vals[1]))})
        FUZZ_REQUIRE(std::isfinite(parseMoney(total)) && !total.contains(QLatin1String("inf")) && !total.contains(QLatin1String("nan")));
    return 0;
}
