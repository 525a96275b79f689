// The widget-free work of a poll: the frame out, the reply in, the texts the
// readout, the cost calculator and the data log are made of.
#include "alloccount.h"
#include "replies.h"

#include "cost/costmath.h"
#include "display/readouttext.h"
#include "link/protocol.h"
#include "logging/logrecord.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

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
        const ReadoutTexts t = readoutTexts(vals);
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
        const Costs c = runningCosts(float(vals[2]), vals[3], 30.0f, 24.0f);
        for (double amount : {c.now, c.perHour, c.perWeek, c.perQuarter, c.perYear})
            benchmark::DoNotOptimize(moneyText(amount));
    }
}
BENCHMARK(BM_MoneyTexts);

void BM_LogRecord(benchmark::State &state)
{
    double vals[kMeasurementCount];
    bench::meterValues(7200, false, vals);
    const ReadoutTexts t = readoutTexts(vals);
    AllocationCounter allocs(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(logRecord(t));
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
    const ReadoutTexts t = readoutTexts(vals);
    AllocationCounter allocs(state);
    for (auto _ : state) {
        if (!appendLogRecord(path, logRecord(t))) {
            state.SkipWithError("append failed");
            break;
        }
    }
}
BENCHMARK(BM_AppendLogRecord);

} // namespace

BENCHMARK_MAIN();
