// SPDX-License-Identifier: GPL-3.0-or-later
// Any double a reply can produce (NaN, infinities, denormals, values far
// beyond any meter) through the log record, rounded once for it, and any
// text through the audit totals, under a locale that writes a decimal comma.
//
// Input: the first 80 bytes are ten doubles, bit for bit; the rest is a text.
#include "fuzzcheck.h"
#include "core/cost/costmath.h"
#include "core/logfile/logrecord.h"
#include "core/measure/measurement.h"
#include "core/measure/readouttext.h"
#include "core/measure/record.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstring>

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
    // One line of exactly eight columns, whatever the values.
    const quelmar::Measurement m = quelmar::Measurement::fromArray(vals);
    const QByteArray record = quelmar::logRecord(quelmar::Record::of(m, 0, 0));
    FUZZ_REQUIRE(record.count(',') == 7 && !record.contains('\n') && !record.contains('\r'));
    // Rounding for the record never changes a number's text: the log and
    // the readout say the same.
    for (int decimals = 0; decimals <= 3; ++decimals) {
        for (double v : vals)
            FUZZ_REQUIRE(quelmar::numberText(quelmar::roundedTo(v, decimals), decimals) == quelmar::numberText(v, decimals));
    }
    // A total stays a finite amount, whatever the text it starts from.
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data) + valueBytes, qsizetype(size - valueBytes));
    FUZZ_REQUIRE(std::isfinite(quelmar::parseMoney(quelmar::addToTotal(text, quelmar::moneyText(vals[0])))));
    return 0;
}
