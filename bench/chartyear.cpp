// SPDX-License-Identifier: GPL-3.0-or-later
// The Chart tab over a year of logs: a fridge logged every minute with the
// clock column, one file a day (365 files, 525,600 rows). Times Open Log…
// on all of them, from the call to the days drawn on the screen, beside the
// same rows as one log shown as power, as Open Log… showed a single log
// before. The budget for the year as days is 2 s.
//
//   QT_QPA_PLATFORM=offscreen quelmar-bench-chart [FOLDER]
#include "chart/charttab.h"

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

#include <sys/resource.h>

namespace {

constexpr int kDays = 365;
const char kHeader[] = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power,Local Time\n";

// The fridge's minute: 120 W for 20 minutes of each hour, 2 W the rest.
bool write(FILE *f, int day, int minute, double &mWh)
{
    const long long t = (day * 1440LL + minute) * 60;
    const double w = minute % 60 < 20 ? 120 : 2;
    mWh += w * 1000 / 60;
    const QByteArray date = QDate(2026, 1, 1).addDays(day).toString(Qt::ISODate).toLatin1();
    return std::fprintf(f, "%lld:%02lld:%02lld,%.3f,%.3f,230.00,%.3f,0.900,lag,%.3f,%sT%02d:%02d:00+00:00\n", t / 3600,
                        t / 60 % 60, t % 60, mWh, w, w / 207, w / 0.9, date.constData(), minute / 60, minute % 60)
           > 0;
}

// Seconds from openLogs() to the chart painted.
double timeOpen(const QStringList &paths)
{
    quelmar::ReadingHistory session;
    quelmar::ChartTab tab(session);
    tab.resize(800, 500);
    tab.show();
    QApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    if (!tab.openLogs(paths))
        return -1;
    tab.grab();
    const double seconds = double(clock.nsecsElapsed()) * 1e-9;
    std::printf("  shown as: %s\n", qPrintable(tab.findChild<QComboBox *>("chartSeries")->currentText()));
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    QStringList days;
    const QString whole = folder + QStringLiteral("/fridge-year.csv");
    FILE *all = std::fopen(whole.toLocal8Bit().constData(), "w");
    bool ok = QDir().mkpath(folder) && all && std::fputs(kHeader, all) >= 0;
    double mWh = 0, allMWh = 0;
    for (int day = 0; day < kDays && ok; ++day) {
        days << QStringLiteral("%1/fridge-%2.csv").arg(folder, QDate(2026, 1, 1).addDays(day).toString(Qt::ISODate));
        FILE *f = std::fopen(days.last().toLocal8Bit().constData(), "w");
        ok = f && std::fputs(kHeader, f) >= 0;
        for (int minute = 0; minute < 1440 && ok; ++minute)
            ok = write(f, day, minute, mWh) && write(all, day, minute, allMWh);
        ok = f && std::fclose(f) == 0 && ok;
    }
    ok = all && std::fclose(all) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "quelmar-bench-chart: cannot write the logs in %s\n", qPrintable(folder));
        return 1;
    }
    std::printf("A year of one-minute logs, 525,600 rows:\n");
    const double asDays = timeOpen(days);
    std::printf("  365 daily logs: %.2f s (budget 2 s)\n", asDays);
    const double asOne = timeOpen({whole});
    std::printf("  one log of the same rows, also as days: %.2f s\n", asOne);
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("  peak memory of the process: %.1f MiB\n", double(usage.ru_maxrss) / 1024);
    return asDays >= 0 && asOne >= 0 ? 0 : 1;
}
