// The one remembered value: the port name.
#include "app/quelmarstatus.h"

#include "app/programstate.h"
#include "settings/settingskeys.h"

#include <QSettings>

void QuelmarStatus::readSettings()
{
    portName = quelmar::storedPort();
}

void QuelmarStatus::writeSettings()
{
    QSettings settings(quelmar::kSettingsOrganisation, quelmar::kSettingsApplication);
    settings.beginGroup(quelmar::settingsGroup(quelmar::kWriteGroup));
    settings.setValue(quelmar::kPortKey, portName);
    settings.endGroup();
}
