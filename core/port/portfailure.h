// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QSerialPort;

namespace quelmar {

// Why a serial port did not open, as far as the user can act on it.
enum class PortFault { Missing, NoPermission, Busy, Other };

// The main text of the box shown when a port does not open: the port as the
// user named it, the device it stands for when that differs, and the reason.
// An empty name is no port at all, whatever the fault.
// `systemReason` is used for PortFault::Other only.
QString portFailureText(const QString &portName, const QString &device, PortFault fault,
                        const QString &systemReason = QString());

// The fault of a port object whose open() failed on `device`.
PortFault portFaultOf(const QSerialPort &port, const QString &device);

} // namespace quelmar
