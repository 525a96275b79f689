// Program-wide state shared by the window's slots. It lives for the whole
// process, like the window's own settings of the meter link.
#pragma once

#include <QMutex>
#include <QString>

class QTimer;

extern QString portName;        // the port as the user sees and we persist it
extern QMutex portMutex;        // every call on the serial port object
extern QTimer *pollTimer;       // owned by the window
extern int meterAddress;        // always 1
extern char pendingCommand[2];  // "S", "A" or "E" for the next poll
extern bool portOpenFailed;     // the last open failed: poll nothing
extern int logcount;            // readout passes down to the next log record
