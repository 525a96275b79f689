// SPDX-License-Identifier: GPL-3.0-or-later
#include "stopsignals.h"

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace quelmar::stopsignals {

namespace {

// A signal handler reaches nothing but state at file scope, and only of
// this type.
enum Mode : int { AtOnce, InLoop, Blocked };
volatile std::sig_atomic_t g_mode = AtOnce;
volatile std::sig_atomic_t g_wake = -1; // the pipe's writing end

void say(const char *text)
{
    // Only async-signal-safe calls in here.
    const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void onSignal(int sig)
{
    if (g_mode == InLoop) {
        const char byte = char(sig);
        const ssize_t ignored = ::write(g_wake, &byte, 1);
        (void)ignored;
        return;
    }
    // In the loop a terminal's status line may stand where this begins.
    say(g_mode == Blocked ? "\n" : "");
    say(sig == SIGINT ? "quelmar-log: stopped by SIGINT" : "quelmar-log: stopped by SIGTERM");
    say(g_mode == Blocked ? " while writing a record was blocked; that record was not written\n" : "\n");
    // Ends as the signal would have without a handler, so the parent sees
    // which one it was.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

} // namespace

void install()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted calls go on; the handler ends them itself where it must.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A full disk or a file size limit fails the write, which is counted;
    // it must not end the logger.
    std::signal(SIGXFSZ, SIG_IGN);
}

int deferToLoop()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    g_wake = ends[1];
    g_mode = InLoop;
    return ends[0];
}

BlockingWrite::BlockingWrite()
    : m_before(g_mode)
{
    g_mode = Blocked;
}

BlockingWrite::~BlockingWrite()
{
    g_mode = m_before;
}

} // namespace quelmar::stopsignals
