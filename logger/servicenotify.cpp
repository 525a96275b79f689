// SPDX-License-Identifier: GPL-3.0-or-later
#include "servicenotify.h"

#include <QByteArray>

#ifdef QUELMAR_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace quelmar {

ServiceNotifier::ServiceNotifier()
{
#ifdef QUELMAR_HAVE_SYSTEMD
    m_service = qEnvironmentVariableIsSet("NOTIFY_SOCKET");
    uint64_t usec = 0;
    m_watchdog = m_service && sd_watchdog_enabled(0, &usec) > 0;
#endif
}

void ServiceNotifier::notify(const QByteArray &state)
{
#ifdef QUELMAR_HAVE_SYSTEMD
    if (m_service)
        sd_notify(0, state.constData());
#else
    Q_UNUSED(state);
#endif
}

void ServiceNotifier::ready()
{
    m_ready = true;
    notify("READY=1\nSTATUS=" + m_status.toUtf8());
}

void ServiceNotifier::status(const QString &status)
{
    if (status == m_status)
        return;
    m_status = status;
    if (m_ready)
        notify("STATUS=" + status.toUtf8());
}

void ServiceNotifier::alive()
{
    if (m_watchdog)
        notify("WATCHDOG=1");
}

void ServiceNotifier::stopping()
{
    notify("STOPPING=1");
}

} // namespace quelmar
