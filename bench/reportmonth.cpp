// SPDX-License-Identifier: GPL-3.0-or-later
// The report over a month of logs: a fridge logged every second with the
// clock column, one file a day, 86,400 rows each. Writes 3 and then 30 days
// of them, runs `quelmar-log --report` on each set as its own process, and
// prints the time and the peak memory of both side by side: the memory
// should not grow with the rows.
//
//   quelmar-bench-report [FOLDER]   (default: a temporary folder, removed after)
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kDaySeconds = 24 * 60 * 60;

// The simulated fridge's cycle: 2 s at 480 W, 38 s at 120 W, 80 s at 2 W,
// each reading off by up to 1% as a real meter's are.
double fridgeWatts(long long t, std::uint64_t &noise)
{
    const long long phase = t % 120;
    const double base = phase < 2 ? 480 : phase < 40 ? 120 : 2;
    noise = noise * 6364136223846793005ULL + 1442695040888963407ULL;
    return base * (1 + (double(noise >> 40) / double(1 << 24) - 0.5) / 50);
}

// Day `day` of March 2026 (from 1) as one daily log, continuing the meter's
// counter in `mWh`.
bool writeDay(const QString &folder, int day, double &mWh, std::uint64_t &noise, long long &rows)
{
    const QString name = QStringLiteral("%1/fridge-2026-03-%2.csv").arg(folder).arg(day, 2, 10, QLatin1Char('0'));
    FILE *f = std::fopen(name.toLocal8Bit().constData(), "w");
    if (!f)
        return false;
    std::fputs("Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power,Local Time\n", f);
    for (int s = 0; s < kDaySeconds; ++s, ++rows) {
        const long long t = (day - 1LL) * kDaySeconds + s;  // the meter's elapsed seconds
        const double w = fridgeWatts(t, noise);
        mWh += w / 3.6;
        std::fprintf(f, "%02lld:%02lld:%02lld,%.3f,%.3f,230.00,%.3f,0.900,lag,%.3f,2026-03-%02dT%02d:%02d:%02d+00:00\n",
                     t / 3600, t / 60 % 60, t % 60, mWh, w, w / 207, w / 0.9, day, s / 3600, s / 60 % 60, s % 60);
    }
    return std::fclose(f) == 0;
}

struct Run {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

// `quelmar-log --report` over the files, as a child of its own so that its
// peak memory is its alone.
Run report(const std::vector<std::string> &files)
{
    std::vector<char *> argv{const_cast<char *>(LOGGER_EXE), const_cast<char *>("--report"),
                             const_cast<char *>("--cents"), const_cast<char *>("30")};
    for (const std::string &f : files)
        argv.push_back(const_cast<char *>(f.c_str()));
    argv.push_back(nullptr);
    Run run;
    QElapsedTimer wall;
    wall.start();
    const pid_t child = fork();
    if (child == 0) {
        // The table goes nowhere; errors still show.
        if (!std::freopen("/dev/null", "w", stdout))
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    rusage usage = {};
    if (child > 0 && wait4(child, &run.status, 0, &usage) == child) {
        run.seconds = double(wall.nsecsElapsed()) * 1e-9;
        run.peakKiB = usage.ru_maxrss;
    }
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "quelmar-bench-report: cannot make %s\n", qPrintable(folder));
        return 1;
    }
    double mWh = 0;
    std::uint64_t noise = 1;
    long long rows = 0;
    std::vector<std::string> files;
    Run runs[2];
    long long sizes[2] = {};
    for (int day = 1; day <= 30; ++day) {
        if (!writeDay(folder, day, mWh, noise, rows)) {
            std::fprintf(stderr, "quelmar-bench-report: cannot write the logs in %s\n", qPrintable(folder));
            return 1;
        }
        files.push_back(QStringLiteral("%1/fridge-2026-03-%2.csv").arg(folder).arg(day, 2, 10, QLatin1Char('0')).toStdString());
        if (day == 3 || day == 30) {
            const int k = day == 3 ? 0 : 1;
            sizes[k] = rows;
            runs[k] = report(files);
        }
    }
    std::printf("%-10s %10s %10s %14s\n", "logs", "rows", "wall s", "peak memory");
    for (int k = 0; k < 2; ++k)
        std::printf("%-10s %10lld %10.2f %10.1f MiB\n", k == 0 ? "3 days" : "30 days", sizes[k], runs[k].seconds,
                    double(runs[k].peakKiB) / 1024);
    std::printf("30 days / 3 days: rows x%.1f, time x%.2f, peak memory x%.2f\n", double(sizes[1]) / double(sizes[0]),
                runs[1].seconds / runs[0].seconds, double(runs[1].peakKiB) / double(runs[0].peakKiB));
    const bool ok = runs[0].status == 0 && runs[1].status == 0;
    if (!ok)
        std::fprintf(stderr, "quelmar-bench-report: the report failed\n");
    return ok ? 0 : 1;
}
