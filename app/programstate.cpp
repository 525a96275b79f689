#include "programstate.h"

QString portName;
QTimer *pollTimer = nullptr;
int meterAddress = 1;
