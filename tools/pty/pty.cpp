// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace quelmar {

bool openPty(Pty &pty)
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    termios tio;
    tcgetattr(slave, &tio);
    // Raw bytes both ways. The speed stays the terminal's default, so that
    // what the program sets can be seen from here.
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // Children such as a program started by the probe must not inherit them.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    pty.master = master;
    pty.keeper = slave;
    pty.path = name;
    return true;
}

void closePty(Pty &pty)
{
    if (pty.keeper >= 0)
        ::close(pty.keeper);
    if (pty.master >= 0)
        ::close(pty.master);
    pty.keeper = pty.master = -1;
}

} // namespace quelmar
