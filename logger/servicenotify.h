// SPDX-License-Identifier: GPL-3.0-or-later
// The logger as a systemd service of Type=notify: it says when it is ready,
// how it is doing (shown by systemctl status) and, from every poll cycle,
// that its loop still turns, so that a logger whose loop is stuck is
// restarted by the service manager's watchdog. Outside a service every call
// does nothing.
#pragma once

#include <QString>

namespace quelmar {

class ServiceNotifier
{
public:
    ServiceNotifier();

    // Ready, with the status so far.
    void ready();
    // Said when it changed, from ready() on.
    void status(const QString &status);
    // A poll cycle ran.
    void alive();
    void stopping();
    // Why a service manager that listens cannot be told, if it cannot.
    QString problem() const { return m_problem; }

private:
    void notify(const QByteArray &state);

    int (*m_notify)(int, const char *) = nullptr;
    QString m_problem;
    bool m_watchdog = false;
    bool m_ready = false;
    QString m_status;
};

} // namespace quelmar
