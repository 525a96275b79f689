// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Makes the program's font the application font: Liberation Sans at 8
// points, else Arial, else the platform's default family at 8 points.
// Call it once the application object exists, before the window is built.
void useProgramFont();
