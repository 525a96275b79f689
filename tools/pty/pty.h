// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal playing a serial line: the program under test or under
// measure opens path, whoever plays the meter reads and writes master.
// Shared by the simulated meter, the tests and the benchmarks.
#pragma once

#include <string>

namespace quelmar {

struct Pty {
    int master = -1;   // non-blocking, close-on-exec
    int keeper = -1;   // our own descriptor on the terminal side
    std::string path;  // the terminal the program opens
};

// Opens a pair in raw mode (8 bits, no parity, no flow control). The keeper descriptor
// holds the line up while the program closes and reopens it; without it the
// master reads EIO in between. False with errno set when no pair can be had.
bool openPty(Pty &pty);

// Closes both descriptors: the program sees a hang-up.
void closePty(Pty &pty);

} // namespace quelmar
