// SPDX-License-Identifier: GPL-3.0-or-later
// The one remembered value: the port name.
#include "app/quelmarstatus.h"

#include "core/session/metersession.h"
#include "core/settings/settingskeys.h"

#include <QSettings>

void QuelmarStatus::readSettings()
{
    // A port named on the command line stands in for the stored one; the
    // destructor then stores it as it would a chosen port.
    meter->link().setPort(portOverride.isEmpty() ? quelmar::storedPort() : portOverride);
}

void QuelmarStatus::writeSettings()
{
    QSettings settings(quelmar::kSettingsOrganisation, quelmar::kSettingsApplication);
    settings.beginGroup(quelmar::settingsGroup(quelmar::kWriteGroup));
    settings.setValue(quelmar::kPortKey, meter->link().portName());
    settings.endGroup();
}
