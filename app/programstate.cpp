#include "programstate.h"

// Defined in this order: the name is set up before the mutex and outlives it.
QString portName;
QMutex portMutex;
QTimer *pollTimer = nullptr;
int meterAddress = 1;
char pendingCommand[2] = {0, 0};
bool portOpenFailed = false;
int logcount = 0;
