// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as logs through the reader and the report, with any grouping,
// range and prices: nothing overflows, every figure stays finite, and the
// lines add up to the total.
//
// Input: the first byte chooses the options; the rest is split at NUL bytes
// into a tariff and up to four logs, named a.csv to d.csv (the fifth name
// given is a.csv again).
#include "fuzzcheck.h"
#include "core/history/history.h"
#include "core/logfile/logreader.h"
#include "core/report/logreport.h"

#include <QBuffer>
#include <QList>

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QList<QByteArray> parts = QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1)).split('\0');
    const uint8_t choice = data[0];
    quelmar::ReportOptions o;
    o.by = quelmar::ReportOptions::Grouping(choice & 3);
    if (choice & 4)
        o.fromDay = 2461100;  // 2026-04-06
    if (choice & 8)
        o.toDay = 2461130;
    if (choice & 16)
        o.standingCents = 10;
    quelmar::Tariff tariff(30);
    if ((choice & 32) && quelmar::Tariff::parse(parts.value(0), tariff, nullptr)) {
        for (int s = 0; s < 86400; s += 60)
            FUZZ_REQUIRE(tariff.centsAt(s) >= 0 && std::isfinite(tariff.centsAt(s)));
    }
    if (choice & 64)
        o.tariff = tariff;
    QStringList names;
    for (qsizetype i = 1; i < parts.size() && i <= 5; ++i)
        names << QStringLiteral("%1.csv").arg(QLatin1Char(char('a' + (i - 1) % 4)));
    const auto open = [&](const QString &name, QString *) -> std::unique_ptr<QIODevice> {
        auto file = std::make_unique<QBuffer>();
        file->setData(parts.value(name[0].unicode() - 'a' + 1));
        return file->open(QIODevice::ReadOnly) ? std::move(file) : nullptr;
    };
    quelmar::ReadingHistory readings(quelmar::ReadingHistory::kUnbounded);
    const quelmar::LogReport r = quelmar::makeReport(names, o, &readings, open);
    FUZZ_REQUIRE(!r.lines.isEmpty() && r.lines.last().name == QLatin1String("Total"));
    qint64 readingsSum = 0;
    for (const quelmar::ReportLine &l : r.lines) {
        FUZZ_REQUIRE(std::isfinite(l.energy) && std::isfinite(quelmar::lineCost(l, o)) && l.readings >= 0);
        FUZZ_REQUIRE(l.readings == 0
                     || (l.min <= l.mean + 1e-9 && l.mean <= l.max + 1e-9 && l.min >= -quelmar::kMostWatts
                         && l.max <= quelmar::kMostWatts && l.standby >= l.min && l.above >= 0 && l.above <= 1));
        readingsSum += l.readings;
    }
    FUZZ_REQUIRE(readingsSum == 2 * r.lines.last().readings);
    FUZZ_REQUIRE(!quelmar::reportTable(r, o).isEmpty() && !quelmar::reportCsv(r, o).isEmpty());
    quelmar::reportNotes(r);
    return 0;
}
