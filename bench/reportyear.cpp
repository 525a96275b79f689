// SPDX-License-Identifier: GPL-3.0-or-later
// The report over a year of logs: a fridge logged every second with the
// clock column, one file a day, 86,400 rows each. Writes 365 days of them
// (31,536,000 rows, 2.6 GB), runs `quelmar-log --report` over the first 3,
// 30 and all 365 as a process of its own each, and prints the time and the
// peak memory of each beside `quelmar-log --version`'s, the program's own at
// start: the memory should not grow with the rows. The budget for the year
// is 10 s and 16 MiB above the program's own.
//
//   quelmar-bench-report [FOLDER]   (default: a temporary folder, removed after)
//
// QUELMAR_BENCH_LOGGER names another quelmar-log to measure on the same
// files, an older build for one.
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kDaySeconds = 24 * 60 * 60;
constexpr int kDays = 365;

// The simulated fridge's cycle: 2 s at 480 W, 38 s at 120 W, 80 s at 2 W,
// each reading off by up to 1% as a real meter's are.
double fridgeWatts(long long t, std::uint64_t &noise)
{
    const long long phase = t % 120;
    const double base = phase < 2 ? 480 : phase < 40 ? 120 : 2;
    noise = noise * 6364136223846793005ULL + 1442695040888963407ULL;
    return base * (1 + (double(noise >> 40) / double(1 << 24) - 0.5) / 50);
}

// The log of `date`, day `day` of the year (from 0), continuing the meter's
// counter in `mWh`.
bool writeDay(const QString &name, const QDate &date, int day, double &mWh, std::uint64_t &noise, long long &rows)
{
    const QByteArray d = date.toString(Qt::ISODate).toLatin1();
    FILE *f = std::fopen(name.toLocal8Bit().constData(), "w");
    if (!f)
        return false;
    std::fputs("Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power,Local Time\n", f);
    for (int s = 0; s < kDaySeconds; ++s, ++rows) {
        const long long t = (day * 1LL) * kDaySeconds + s;  // the meter's elapsed seconds
        const double w = fridgeWatts(t, noise);
        mWh += w / 3.6;
        std::fprintf(f, "%02lld:%02lld:%02lld,%.3f,%.3f,230.00,%.3f,0.900,lag,%.3f,%sT%02d:%02d:%02d+00:00\n",
                     t / 3600, t / 60 % 60, t % 60, mWh, w, w / 207, w / 0.9, d.constData(), s / 3600, s / 60 % 60, s % 60);
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
Run run(const char *logger, const std::vector<std::string> &files)
{
    std::vector<char *> argv{const_cast<char *>(logger)};
    if (files.empty())
        argv.push_back(const_cast<char *>("--version"));
    else
        argv.insert(argv.end(), {const_cast<char *>("--report"), const_cast<char *>("--cents"), const_cast<char *>("30")});
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
    const char *logger = std::getenv("QUELMAR_BENCH_LOGGER") ? std::getenv("QUELMAR_BENCH_LOGGER") : LOGGER_EXE;
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "quelmar-bench-report: cannot make %s\n", qPrintable(folder));
        return 1;
    }
    double mWh = 0;
    std::uint64_t noise = 1;
    long long rows = 0;
    std::vector<std::string> files;
    const int measured[] = {3, 30, kDays};
    Run runs[3];
    long long sizes[3] = {};
    for (int day = 0; day < kDays; ++day) {
        const QDate date = QDate(2026, 1, 1).addDays(day);
        const QString name = QStringLiteral("%1/fridge-%2.csv").arg(folder, date.toString(Qt::ISODate));
        // A folder of an earlier run is used again as it is.
        if (!QFileInfo::exists(name) && !writeDay(name, date, day, mWh, noise, rows)) {
            std::fprintf(stderr, "quelmar-bench-report: cannot write the logs in %s\n", qPrintable(folder));
            return 1;
        }
        files.push_back(name.toStdString());
        for (int k = 0; k < 3; ++k) {
            if (day + 1 == measured[k]) {
                sizes[k] = (day + 1LL) * kDaySeconds;
                runs[k] = run(logger, files);
            }
        }
    }
    const Run start = run(logger, {});
    std::printf("%-18s %10s %10s %14s\n", "logs", "rows", "wall s", "peak memory");
    std::printf("%-18s %10s %10s %10.1f MiB\n", "none (--version)", "-", "-", double(start.peakKiB) / 1024);
    bool ok = start.status == 0;
    for (int k = 0; k < 3; ++k) {
        std::printf("%3d days %9s %10lld %10.2f %10.1f MiB\n", measured[k], "", sizes[k], runs[k].seconds,
                    double(runs[k].peakKiB) / 1024);
        ok = ok && runs[k].status == 0;
    }
    std::printf("365 days / 30 days: rows x%.1f, time x%.2f, peak memory x%.2f\n", double(sizes[2]) / double(sizes[1]),
                runs[2].seconds / runs[1].seconds, double(runs[2].peakKiB) / double(runs[1].peakKiB));
    std::printf("a year: %.2f s (budget 10 s), %.1f MiB above the program's own at start (budget 16 MiB)\n",
                runs[2].seconds, double(runs[2].peakKiB - start.peakKiB) / 1024);
    if (!ok)
        std::fprintf(stderr, "quelmar-bench-report: the report failed\n");
    return ok ? 0 : 1;
}
