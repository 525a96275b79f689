// SPDX-License-Identifier: GPL-3.0-or-later
// Program-wide state shared by the window's slots. It lives for the whole
// process. The serial port, its lock, the pending command and the open
// failure belong to the poll engine; the log's countdown to the log sink.
#pragma once

#include <QString>

class QTimer;

extern QString portName;      // the port as the user sees and we persist it
extern QString portOverride;  // --port NAME: used instead of the stored name
extern QTimer *pollTimer;     // owned by the window
extern int meterAddress;      // always 1
