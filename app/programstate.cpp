#include "programstate.h"

QString portName;
QString portOverride;
QTimer *pollTimer = nullptr;
int meterAddress = 1;
