// SPDX-License-Identifier: GPL-3.0-or-later
#include "servicenotify.h"

#include <QByteArray>

#ifdef QUELMAR_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>

#include <dlfcn.h>
#endif

namespace quelmar {

ServiceNotifier::ServiceNotifier()
{
#ifdef QUELMAR_HAVE_SYSTEMD
    if (!qEnvironmentVariableIsSet("NOTIFY_SOCKET"))
        return;
    // Only a service manager listens: the library, and the libraries it
    // brings, are loaded for it alone.
    void *library = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    m_notify = library ? reinterpret_cast<decltype(m_notify)>(::dlsym(library, "sd_notify")) : nullptr;
    const auto watchdogEnabled =
        library ? reinterpret_cast<decltype(&sd_watchdog_enabled)>(::dlsym(library, "sd_watchdog_enabled")) : nullptr;
    if (!m_notify || !watchdogEnabled) {
        m_problem = QStringLiteral("cannot tell the service manager how the logger is doing: %1")
                        .arg(QString::fromLocal8Bit(library ? "libsystemd.so.0 lacks sd_notify" : ::dlerror()));
        m_notify = nullptr;
        return;
    }
    uint64_t usec = 0;
    m_watchdog = watchdogEnabled(0, &usec) > 0;
#endif
}

void ServiceNotifier::notify(const QByteArray &state)
{
    if (m_notify)
        m_notify(0, state.constData());
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
