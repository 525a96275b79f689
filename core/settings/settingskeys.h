// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <QString>

namespace quelmar {

inline constexpr char kSettingsOrganisation[] = "Norvane";
inline constexpr char kSettingsApplication[] = "Tovrik Communicator";
inline constexpr char kPortKey[] = "ComPort";

// The port was always written under "Quelmarstatus" and read under
// "QuelmarStatus", which meet only in a store that ignores case (the Windows
// registry). Elsewhere both spellings are folded to one group.
inline constexpr char kWriteGroup[] = "Quelmarstatus";
inline constexpr char kReadGroup[] = "QuelmarStatus";

inline QString settingsGroup(const char *spelling)
{
#ifdef Q_OS_WIN
    return QString::fromLatin1(spelling);
#else
    return QString::fromLatin1(spelling).toLower();
#endif
}

// The remembered port name; empty when none is stored.
inline QString storedPort()
{
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    settings.beginGroup(settingsGroup(kReadGroup));
    return settings.value(kPortKey).toString();
}

} // namespace quelmar
