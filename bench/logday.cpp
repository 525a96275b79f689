// SPDX-License-Identifier: GPL-3.0-or-later
// A day of logging driven directly: 172,800 readout passes (one every
// 500 ms for 24 hours) on a window logging every second, with no event loop
// and no serial traffic in between. Prints the time taken and checks that
// the log holds one record per second of the day.
#include "replies.h"

#include "core/session/metersession.h"
#include "app/quelmarstatus.h"
#include "testsupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr long long kPasses = 2LL * 24 * 60 * 60;
constexpr long long kRecords = kPasses / 2;

double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

QByteArray timeColumn(const QByteArray &record)
{
    return record.left(record.indexOf(','));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    PtyPair meter;
    if (!dir.isValid() || !meter.isValid()) {
        std::fprintf(stderr, "quelmar-logday: no temporary folder or pseudo-terminal\n");
        return 1;
    }
    useSettingsFolder(dir.path());
    storePortName(meter.path());

    QuelmarStatus window;
    window.session().stopPolling(); // the passes are driven from here
    window.show();
    const QString logPath = dir.filePath(QStringLiteral("day.csv"));
    window.findChild<QLineEdit *>("fileEdit")->setText(logPath);
    window.findChild<QSpinBox *>("lperiod")->setValue(1);
    auto *start = window.findChild<QPushButton *>("startButton");
    start->click();
    if (start->isEnabled()) {
        std::fprintf(stderr, "quelmar-logday: logging did not start\n");
        return 1;
    }

    // The arrays are made up front so only the window's work is timed.
    std::vector<double> vals(size_t(kPasses) * 10);
    double one[quelmar::kMeasurementCount];
    for (long long p = 0; p < kPasses; ++p) {
        quelmar::bench::meterValues(p, false, one);
        std::copy(one, one + 10, vals.begin() + p * 10);
    }

    double all[quelmar::kMeasurementCount] = {};
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = cpuSeconds();
    for (long long p = 0; p < kPasses; ++p) {
        std::copy(vals.begin() + p * 10, vals.begin() + p * 10 + 10, all);
        window.UpdateDisp(all);
    }
    const double cpu = cpuSeconds() - cpuStart;
    const double seconds = double(wall.nsecsElapsed()) * 1e-9;
    window.findChild<QPushButton *>("stopButton")->click();

    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "quelmar-logday: cannot read the log back\n");
        return 1;
    }
    const QList<QByteArray> lines = log.readAll().split('\n');
    // Header, one line per record, and the empty piece after the last line end.
    const long long records = lines.size() - 2;
    const QByteArray first = records > 0 ? timeColumn(lines[1]) : QByteArray();
    const QByteArray last = records > 0 ? timeColumn(lines[lines.size() - 2]) : QByteArray();

    std::printf("passes %lld, records %lld (expected %lld), first %s, last %s\n", kPasses, records,
                kRecords, first.constData(), last.constData());
    std::printf("wall %.3f s, cpu %.3f s, %.2f us cpu per pass\n", seconds, cpu, cpu / double(kPasses) * 1e6);
    const bool ok = records == kRecords && first == "00:00:00" && last == "23:59:59";
    if (!ok)
        std::fprintf(stderr, "quelmar-logday: the log is not one record per second of the day\n");
    return ok ? 0 : 1;
}
