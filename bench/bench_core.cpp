// SPDX-License-Identifier: GPL-3.0-or-later
// The widget-free work of a poll: the frame out, the reply in, the texts the
// readout, the cost calculator and the data log are made of.
#include "alloccount.h"
#include "replies.h"

#include "core/history/chartmath.h"
#include "core/report/logreport.h"
#include "core/cost/costmath.h"
#include "core/measure/readouttext.h"
#include "core/wire/protocol.h"
#include "core/logfile/logrecord.h"
#include "core/measure/measurement.h"
#include "core/measure/record.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace quelmar;
using quelmar::bench::allocationCount;

namespace {

// Reports heap allocations per iteration next to the times.
class AllocationCounter
{
public:
    explicit AllocationCounter(benchmark::State &state) : state(state), start(allocationCount()) {}
    ~AllocationCounter()
    {
        state.counters["allocs"] =
            benchmark::Counter(double(allocationCount() - start), benchmark::Counter::kAvgIterations);
    }

private:
    benchmark::State &state;
    long long start;
};

void BM_BuildFrame(benchmark::State &state)
{
    char frame[kFrameBufferSize];
    char command[2] = {'S', 0};
    AllocationCounter allocs(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(buildFrame(1, command, frame));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildFrame);

// What the receive slot does with a read: address, checksum, fields.
void parsePath(benchmark::State &state, const QByteArray &read)
{
    char msg[kReplyBufferSize] = {};
    std::memcpy(msg, read.constData(), size_t(read.size()));
    double vals[kMeasurementCount];
    AllocationCounter allocs(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(checkAddress(1, msg));
        if (checkChecksum(msg))
            benchmark::DoNotOptimize(parseReply(msg, vals));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * read.size());
}

void BM_ParseTypicalReply(benchmark::State &state)
{
    parsePath(state, bench::meterReply(7200));
}
BENCHMARK(BM_ParseTypicalReply);

void BM_ParseFullRead(benchmark::State &state)
{
    parsePath(state, bench::fullRead());
}
BENCHMARK(BM_ParseFullRead);

// The readout's eight number texts and the seven field texts made of them.
void BM_ReadoutTexts(benchmark::State &state)
{
    double vals[kMeasurementCount];
    bench::meterValues(7200, false, vals);
    AllocationCounter allocs(state);
    for (auto _ : state) {
        const ReadoutTexts t = readoutTexts(Measurement::fromArray(vals));
        benchmark::DoNotOptimize(timeField(t));
        benchmark::DoNotOptimize(t.energyShown);
        benchmark::DoNotOptimize(powerField(t));
        benchmark::DoNotOptimize(voltsField(t));
        benchmark::DoNotOptimize(currentField(t));
        benchmark::DoNotOptimize(powerFactorField(t));
        benchmark::DoNotOptimize(apparentField(t));
    }
}
BENCHMARK(BM_ReadoutTexts);

// The cost calculator's five amounts and their texts.
void BM_MoneyTexts(benchmark::State &state)
{
    double vals[kMeasurementCount];
    bench::meterValues(7200, false, vals);
    AllocationCounter allocs(state);
    for (auto _ : state) {
        const Costs c = runningCosts(Measurement::fromArray(vals), 30.0, 24.0);
        for (double amount : {c.now, c.perHour, c.perWeek, c.perQuarter, c.perYear})
            benchmark::DoNotOptimize(moneyText(amount));
    }
}
BENCHMARK(BM_MoneyTexts);

void BM_LogRecord(benchmark::State &state)
{
    double vals[kMeasurementCount];
    bench::meterValues(7200, false, vals);
    const Record r = Record::of(Measurement::fromArray(vals), 0, 0);
    AllocationCounter allocs(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(logRecord(r));
}
BENCHMARK(BM_LogRecord);

// One record formatted and appended whole to a log file on disk.
void BM_AppendLogRecord(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    if (!dir.isValid() || !writeLogHeader(path)) {
        state.SkipWithError("no temporary log file");
        return;
    }
    double vals[kMeasurementCount];
    bench::meterValues(7200, false, vals);
    const Record r = Record::of(Measurement::fromArray(vals), 0, 0);
    AllocationCounter allocs(state);
    for (auto _ : state) {
        if (!appendLogRecord(path, logRecord(r)).written) {
            state.SkipWithError("append failed");
            break;
        }
    }
}
BENCHMARK(BM_AppendLogRecord);

// A day of a fridge's readings, half a second apart, from clock time t0.
constexpr qint64 kT0 = 1767222000000;

void fillDay(ReadingHistory &h)
{
    double vals[kMeasurementCount] = {};
    for (long long n = 0; n < kDayOfReadings; ++n) {
        bench::fridgeValues(n, vals);
        h.add(kT0 + 500 * n, Measurement::fromArray(vals));
    }
}

long long residentBytes()
{
    long long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%lld %lld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * 4096;
}

// The memory of 24 hours of history: what its blocks hold, and how much the
// process's resident set grew while one was filled.
void BM_HistoryDay(benchmark::State &state)
{
    double held = 0, grown = 0;
    for (auto _ : state) {
        const long long before = residentBytes();
        ReadingHistory h;
        fillDay(h);
        grown = std::max(grown, double(residentBytes() - before));
        held = double(h.bytesHeld());
        benchmark::DoNotOptimize(h.size());
    }
    state.counters["held_MiB"] = held / (1 << 20);
    state.counters["rss_MiB"] = grown / (1 << 20);
    state.counters["per_reading_B"] = held / kDayOfReadings;
}
BENCHMARK(BM_HistoryDay)->Unit(benchmark::kMillisecond)->Iterations(3);

// What the chart works out for a span of a whole day (172,800 readings) on
// a plot 400 pixels wide: the thinned points and the statistics.
void BM_ChartSpanDay(benchmark::State &state)
{
    ReadingHistory h;
    fillDay(h);
    const double to = double(h.timeAt(h.size() - 1));
    std::size_t points = 0;
    for (auto _ : state) {
        const QList<QPointF> p = chartPoints(h, 0, Series::RealPower, double(kT0), to, 400);
        benchmark::DoNotOptimize(spanStats(h, 0, Series::RealPower));
        points = std::size_t(p.size());
    }
    state.counters["points"] = double(points);
}
BENCHMARK(BM_ChartSpanDay)->Unit(benchmark::kMillisecond);

// Reading back a log of 100,000 records written by the log code, as the
// Chart tab does: through the report into a history.
void BM_ReadLog100k(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    QFile file(path);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly)) {
        state.SkipWithError("no temporary log file");
        return;
    }
    file.write(kLogHeader);
    file.write("\n");
    double vals[kMeasurementCount] = {};
    for (long long n = 0; n < 100000; ++n) {
        bench::fridgeValues(2 * n, vals);
        file.write(logRecord(Record::of(Measurement::fromArray(vals), 0, 0)) + '\n');
    }
    file.close();
    int readings = 0;
    for (auto _ : state) {
        ReadingHistory h(ReadingHistory::kUnbounded);
        makeReport({path}, ReportOptions(), &h);
        readings = h.size();
    }
    state.counters["readings"] = readings;
    if (readings != 100000)
        state.SkipWithError("not every record was read");
}
BENCHMARK(BM_ReadLog100k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
