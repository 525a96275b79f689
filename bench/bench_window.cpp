// SPDX-License-Identifier: GPL-3.0-or-later
// One poll cycle through the window, on a real pseudo-terminal with the
// meter's reply already waiting: the frame out, the reply in, the readout,
// the cost calculator when its tab is showing, the chart when its tab is;
// and the chart redrawing a day of readings.
#include "alloccount.h"
#include "replies.h"

#include "app/quelmarstatus.h"
#include "chart/charttab.h"
#include "core/session/metersession.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <benchmark/benchmark.h>

namespace {

// Kept out of line so a profiler can count the cycle's own instructions
// (valgrind --tool=callgrind --toggle-collect='*pollOnce*').
[[gnu::noinline]] void pollOnce(QuelmarStatus &window, bool paint)
{
    window.poller();
    if (paint)
        QCoreApplication::processEvents();
}

// Fills the session's history with a full day of a fridge's readings that
// end now, so the ring is full and every new reading drops the oldest.
quelmar::ChartTab *fillChartDay(QuelmarStatus &window)
{
    quelmar::MeterSession &session = window.session();
    // Only the history is filled: the window need not show each reading.
    const QSignalBlocker quiet(&session);
    qint64 clock = QDateTime::currentMSecsSinceEpoch() - 500LL * quelmar::kDayOfReadings;
    session.setClock([&clock] { return clock; });
    double vals[quelmar::kMeasurementCount] = {};
    for (long long n = 0; n < quelmar::kDayOfReadings; ++n, clock += 500) {
        quelmar::bench::fridgeValues(n, vals);
        session.pass(quelmar::Measurement::fromArray(vals));
    }
    session.setClock(&QDateTime::currentMSecsSinceEpoch);
    return window.findChild<quelmar::ChartTab *>("chartTab");
}

// Arguments: the tab showing (0 Meter, 1 Cost Calculator, which adds the
// cost slot, 3 Chart over "All", which redraws a full day of history on
// every reading), whether every reading moves (else only time and energy
// do), and whether the event loop then paints what the cycle changed. The
// history holds a full day on every tab.
void BM_PollCycle(benchmark::State &state)
{
    const int tab = int(state.range(0));
    const bool varying = state.range(1) != 0;
    const bool paint = state.range(2) != 0;

    PtyPair meter;
    const auto owned = openWindowOn(meter.path()); // the benchmark drives the cycles
    QuelmarStatus &window = *owned;
    fillChartDay(window);
    window.findChild<QTabWidget *>("tabWidget")->setCurrentIndex(tab);
    const QLabel *comerr = window.findChild<QLabel *>("comerr");
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        state.SkipWithError("window not shown");
        return;
    }
    // The chart's controls exist once its tab has been shown.
    if (tab == 3)
        window.findChild<QComboBox *>("chartSpan")->setCurrentIndex(3);
    QCoreApplication::processEvents();

    // A few cycles first, so the timed ones find the glyph and font caches
    // as a running program has them.
    long long n = 0;
    for (; n < 40; ++n) {
        meter.receive(0);
        meter.send(quelmar::bench::meterReply(n, varying));
        window.poller();
        QCoreApplication::processEvents();
    }

    const long long allocsBefore = quelmar::bench::allocationCount();
    long long allocsOutside = 0;
    long long unanswered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const long long pauseStart = quelmar::bench::allocationCount();
        if (!comerr->text().isEmpty())
            ++unanswered;
        meter.receive(0); // the frames of earlier cycles
        meter.send(quelmar::bench::meterReply(n++, varying));
        allocsOutside += quelmar::bench::allocationCount() - pauseStart;
        state.ResumeTiming();

        pollOnce(window, paint);
    }
    state.counters["allocs"] = benchmark::Counter(
        double(quelmar::bench::allocationCount() - allocsBefore - allocsOutside),
        benchmark::Counter::kAvgIterations);

    if (unanswered > 0 || !comerr->text().isEmpty())
        state.SkipWithError("a cycle saw no reply");
}
BENCHMARK(BM_PollCycle)
    ->ArgNames({"tab", "varying", "paint"})
    ->ArgsProduct({{0, 1, 3}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// Redrawing the chart over a span of the last 5 minutes (600 readings) or
// of 24 hours (172,800), and painting it.
void BM_ChartRedraw(benchmark::State &state)
{
    PtyPair meter;
    const auto owned = openWindowOn(meter.path());
    QuelmarStatus &window = *owned;
    quelmar::ChartTab *chart = fillChartDay(window);
    window.findChild<QTabWidget *>("tabWidget")->setCurrentIndex(3);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        state.SkipWithError("window not shown");
        return;
    }
    window.findChild<QComboBox *>("chartSpan")->setCurrentIndex(int(state.range(0)));
    QCoreApplication::processEvents();
    for (auto _ : state) {
        chart->redraw();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_ChartRedraw)->ArgName("span")->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settings;
    if (!settings.isValid())
        return 1;
    useSettingsFolder(settings.path());

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
