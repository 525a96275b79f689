// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-startprobe: times a program's start-up from the outside.
//
//   quelmar-startprobe [--link PATH] [--watch TEXT] [--timeout S] -- COMMAND [ARG...]
//
// Opens a pseudo-terminal for the program to use as its serial port (an
// argument "{port}" is replaced by its path; --link also makes a symbolic
// link PATH to it), starts COMMAND with its standard error on a pipe, and
// prints, in milliseconds from just before the program was started:
//   shown_ms  when a line containing TEXT first came out on standard error
//             (the caller has the program log its first window paint);
//   frame_ms  when the first byte the program wrote reached the line.
// Then it ends the program with SIGTERM. A value never seen prints as -1.

#include "tools/pty/pty.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: quelmar-startprobe [--link PATH] [--watch TEXT] [--timeout S] -- COMMAND [ARG...]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string link;
    std::string watch;
    double timeout = 10.0;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            break;
        if (i + 1 >= argc)
            return usage();
        if (arg == "--link")
            link = argv[++i];
        else if (arg == "--watch")
            watch = argv[++i];
        else if (arg == "--timeout")
            timeout = std::atof(argv[++i]);
        else
            return usage();
    }
    if (i + 1 >= argc || timeout <= 0)
        return usage();

    quelmar::Pty pty;
    if (!quelmar::openPty(pty)) {
        std::perror("quelmar-startprobe: openpty");
        return 1;
    }
    const int master = pty.master;
    const char *name = pty.path.c_str();
    std::string port = name;
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(name, link.c_str()) != 0) {
            std::perror("quelmar-startprobe: symlink");
            return 1;
        }
        port = link;
    }

    std::vector<std::string> args(argv + i + 1, argv + argc);
    std::vector<char *> cargs;
    for (std::string &a : args) {
        if (a == "{port}")
            a = port;
        cargs.push_back(a.data());
    }
    cargs.push_back(nullptr);

    int errPipe[2];
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        std::perror("quelmar-startprobe: pipe");
        return 1;
    }

    const double start = now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(errPipe[1], STDERR_FILENO);
        execvp(cargs[0], cargs.data());
        std::_Exit(127);
    }
    ::close(errPipe[1]);
    if (child < 0) {
        std::perror("quelmar-startprobe: fork");
        return 1;
    }

    double shown = -1;
    double frame = -1;
    std::string errText;
    bool errOpen = true;
    while ((frame < 0 || (shown < 0 && !watch.empty() && errOpen)) && now() - start < timeout) {
        pollfd fds[2] = {{master, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        if (::poll(fds, 2, 50) < 0 && errno != EINTR)
            break;
        const double at = now();
        if (fds[0].revents & POLLIN) {
            char buf[256];
            if (::read(master, buf, sizeof buf) > 0 && frame < 0)
                frame = at;
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buf[4096];
            const ssize_t n = ::read(errPipe[0], buf, sizeof buf);
            if (n <= 0) {
                errOpen = false;
            } else {
                errText.append(buf, size_t(n));
                if (shown < 0 && !watch.empty() && errText.find(watch) != std::string::npos)
                    shown = at;
                // Only the tail can still hold the start of a match.
                if (errText.size() > 65536)
                    errText.erase(0, errText.size() - watch.size());
            }
        }
        int status;
        if (waitpid(child, &status, WNOHANG) == child) {
            std::fprintf(stderr, "quelmar-startprobe: %s ended early\n", cargs[0]);
            return 1;
        }
    }

    ::kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    if (!link.empty())
        ::unlink(link.c_str());

    auto ms = [start](double at) { return at < 0 ? -1.0 : (at - start) * 1000.0; };
    std::printf("shown_ms %.1f\nframe_ms %.1f\n", ms(shown), ms(frame));
    return frame < 0 || (!watch.empty() && shown < 0) ? 1 : 0;
}
