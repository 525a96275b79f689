// SPDX-License-Identifier: GPL-3.0-or-later
#include "programstate.h"

QString portName;
QString portOverride;
QTimer *pollTimer = nullptr;
int meterAddress = 1;
