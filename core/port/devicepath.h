// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace quelmar {

// The device the serial port object opens for the port name the user sees.
// Windows: the device namespace "\\.\" and the name. Elsewhere: COM<n> (any
// case) is /dev/ttyS<n-1>, an absolute path stands as it is, another name is
// looked up under /dev, and an empty name gives an empty path (opens nothing).
QString devicePath(const QString &portName);

} // namespace quelmar
