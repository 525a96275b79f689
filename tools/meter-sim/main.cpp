// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-meter-sim: a Quelmar meter on a pseudo-terminal, for trying the
// communicator without hardware.

#include "meter.h"

#include "tools/pty/pty.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

using namespace quelmar::sim;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

constexpr double kByteTime = 10.0 / 9600.0;  // start + 8 data + stop bits
constexpr double kPiecePause = 0.030;

double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void sleepUntil(double when)
{
    timespec ts;
    ts.tv_sec = time_t(when);
    ts.tv_nsec = long((when - double(ts.tv_sec)) * 1e9);
    while (!g_stop && clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// Writes bytes at the line's speed. Byte i is due at start + i + 1 byte
// times, once its ten bits are over the line, counted from one start per
// piece, so the rate does not drift with the time each write takes. No
// reply can reach the program within the same instant its frame left, on a
// real line or here.
class Line {
public:
    Line(int fd, bool paced) : m_fd(fd), m_paced(paced) {}

    void send(const QByteArray &bytes)
    {
        const double start = std::max(now(), m_free);
        qsizetype sent = 0;
        while (sent < bytes.size() && !g_stop) {
            qsizetype due = bytes.size();
            if (m_paced) {
                sleepUntil(start + double(sent + 1) * kByteTime);
                due = std::min<qsizetype>(bytes.size(), qsizetype((now() - start) / kByteTime));
            }
            const ssize_t n = ::write(m_fd, bytes.constData() + sent, size_t(due - sent));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;  // nobody reads and the buffer is full: lost, as on a real line
            sent += n;
        }
        m_free = m_paced ? start + double(bytes.size()) * kByteTime : now();
    }

private:
    int m_fd;
    bool m_paced;
    double m_free = 0.0;
};

// Reads option `name` into out when given; false (with a message) when its
// value is not a number in [min, max], or not whole where a count is meant.
bool number(const QCommandLineParser &p, const QString &name, double min, double max,
            double &out, bool whole = false)
{
    if (!p.isSet(name))
        return true;
    bool ok = false;
    const double v = p.value(name).toDouble(&ok);
    if (!ok || !(v >= min && v <= max) || (whole && v != std::floor(v))) {
        std::fprintf(stderr, "quelmar-meter-sim: --%s must be a%s number from %g to %g\n",
                     qPrintable(name), whole ? " whole" : "", min, max);
        return false;
    }
    out = v;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quelmar-meter-sim");

    QCommandLineParser p;
    p.setApplicationDescription(
        "Simulated Quelmar meter on a pseudo-terminal. Prints the terminal's path as the\n"
        "first line and answers S, A and E frames at 9600 baud until SIGINT or SIGTERM.\n"
        "Load: real power = V x A x pf, apparent power = V x A, energy integrates real\n"
        "power over the elapsed time. Profile 'fridge' repeats a 120 s cycle: the\n"
        "compressor starts with a 2 s surge of four times the load, runs 40 s, then the\n"
        "fridge idles 80 s at 1/60 of the load (default load 120 W: 480 W, 120 W, 2 W).");
    p.addOptions({
        {{"h", "help"}, "Show this help and exit."},
        {"address", "Meter address, 0 to 254 (default 1).", "N"},
        {"volts", "Mains voltage (default 230).", "V"},
        {"amps", "Load current in amperes.", "A"},
        {"watts", "Load real power in watts (default 120); sets the current.", "W"},
        {"pf", "Power factor, 0 to 1 (default 0.9).", "X"},
        {"lead", "Current leads the voltage."},
        {"lag", "Current lags the voltage (default)."},
        {"profile", "Load profile: constant (default) or fridge.", "NAME"},
        {"time-scale", "Meter time runs K times as fast as real time (default 1).", "K"},
        {"no-pacing", "Send replies at once instead of at 9600 baud."},
        {"drop", "Share of replies not sent, 0 to 1.", "P"},
        {"corrupt", "Share of replies sent with a wrong checksum, 0 to 1.", "P"},
        {"garbage", "Share of replies preceded or replaced by random bytes, 0 to 1.", "P"},
        {"split", "Send each reply in N pieces, 30 ms apart (default 1).", "N"},
        {"hangup-after", "Hang up the line and exit after answering N frames.", "N"},
        {"seed", "Seed for the fault decisions (default: random).", "S"},
        {"link", "Make a symbolic link PATH to the terminal, removed at exit.", "PATH"},
        {"trace", "Print each frame received on standard error, one a line."},
    });
    const bool parsed = p.parse(app.arguments());
    if (!parsed || !p.positionalArguments().isEmpty()) {
        const QString why = parsed ? "unexpected argument " + p.positionalArguments().first()
                                   : p.errorText();
        std::fprintf(stderr, "quelmar-meter-sim: %s\nTry --help.\n", qPrintable(why));
        return 2;
    }
    if (p.isSet("help")) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return 0;
    }

    LoadConfig load;
    Faults faults;
    double address = 1, watts = 120, amps = -1, split = 1, hangup = 0;
    double seed = double(std::random_device{}() & 0xFFFFFFFF);
    const QString profile = p.value("profile");
    bool ok = number(p, "address", 0, 254, address, true) && number(p, "volts", 1, 1000, load.volts)
        && number(p, "amps", 0, 1000, amps) && number(p, "watts", 0, 1e6, watts)
        && number(p, "pf", 0, 1, load.pf) && number(p, "time-scale", 1e-3, 1e6, load.timeScale)
        && number(p, "drop", 0, 1, faults.drop) && number(p, "corrupt", 0, 1, faults.corrupt)
        && number(p, "garbage", 0, 1, faults.garbage) && number(p, "split", 1, 64, split, true)
        && number(p, "hangup-after", 1, 1e9, hangup, true)
        && number(p, "seed", 0, 0x1p53, seed, true);
    const char *conflict = p.isSet("amps") && p.isSet("watts") ? "--amps and --watts"
        : p.isSet("lead") && p.isSet("lag")                   ? "--lead and --lag"
                                                               : nullptr;
    if (ok && conflict) {
        std::fprintf(stderr, "quelmar-meter-sim: %s exclude each other\n", conflict);
        ok = false;
    }
    if (ok && !profile.isEmpty() && profile != "constant" && profile != "fridge") {
        std::fprintf(stderr, "quelmar-meter-sim: unknown profile '%s'\n", qPrintable(profile));
        ok = false;
    }
    if (ok && amps < 0 && watts > 0 && load.pf == 0) {
        std::fprintf(stderr, "quelmar-meter-sim: no real power at power factor 0\n");
        ok = false;
    }
    if (!ok)
        return 2;
    load.amps = amps >= 0 ? amps : (watts > 0 ? watts / (load.volts * load.pf) : 0.0);
    load.lag = !p.isSet("lead");
    load.profile = profile == "fridge" ? Profile::Fridge : Profile::Constant;
    faults.split = int(split);

    quelmar::Pty pty;
    if (!quelmar::openPty(pty)) {
        std::fprintf(stderr, "quelmar-meter-sim: pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const int master = pty.master;
    const int slave = pty.keeper;
    const std::string &path = pty.path;

    const QByteArray link = p.value("link").toLocal8Bit();
    if (!link.isEmpty()) {
        struct stat st;
        if (lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "quelmar-meter-sim: %s exists and is not a link\n",
                         link.constData());
            return 1;
        }
        ::unlink(link.constData());
        if (::symlink(path.c_str(), link.constData()) != 0) {
            std::fprintf(stderr, "quelmar-meter-sim: %s: %s\n", link.constData(),
                         std::strerror(errno));
            return 1;
        }
    }

    struct sigaction sa = {};
    sa.sa_handler = onSignal;  // no SA_RESTART: poll and sleeps return at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    // The seed is shown so that a run with faults can be repeated.
    std::fprintf(stderr, "quelmar-meter-sim: meter %d on %s, seed %.0f\n", int(address),
                 path.c_str(), seed);

    LoadModel model(load, now);
    Session session(int(address), model, faults, std::uint64_t(seed));
    session.setFrameLimit(int(hangup));
    if (p.isSet("trace")) {
        session.setFrameObserver([](const QByteArray &frame) {
            std::fprintf(stderr, "%s\n", frame.constData());
            std::fflush(stderr);
        });
    }
    Line line(master, !p.isSet("no-pacing"));
    char buf[512];
    while (!g_stop && !session.finished()) {
        pollfd pfd = {master, POLLIN, 0};
        if (::poll(&pfd, 1, 250) <= 0)
            continue;
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) {
            if (!(pfd.revents & POLLIN))
                sleepUntil(now() + 0.05);  // a hang-up must not spin the loop
            continue;
        }
        for (const QByteArrayList &reply : session.feed(QByteArrayView(buf, n))) {
            for (qsizetype i = 0; i < reply.size(); ++i) {
                if (i > 0)
                    sleepUntil(now() + kPiecePause);
                line.send(reply[i]);
            }
        }
    }

    if (session.finished()) {
        // Let the program collect the last reply before the line goes dead.
        const double deadline = now() + 1.0;
        int waiting = 0;
        do {
            sleepUntil(now() + 0.02);
        } while (!g_stop && ioctl(slave, FIONREAD, &waiting) == 0 && waiting > 0
                 && now() < deadline);
    }
    quelmar::closePty(pty);
    char target[4096];
    const ssize_t len = link.isEmpty() ? -1 : readlink(link.constData(), target, sizeof target);
    if (len >= 0 && std::string(target, size_t(len)) == path)
        ::unlink(link.constData());
    return 0;
}
