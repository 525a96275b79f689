// SPDX-License-Identifier: GPL-3.0-or-later
#include "appfont.h"

#include <QApplication>
#include <QFontDatabase>

void useProgramFont()
{
    // The window's fixed layout was drawn for Arial's metrics, at 8 points.
    // Liberation Sans has the same metrics and is free; another family at
    // the same size cuts off labels and leading digits of the readings.
    QFont font = QApplication::font();
    const QStringList installed = QFontDatabase::families();
    for (const char *family : {"Liberation Sans", "Arial"}) {
        if (installed.contains(QLatin1String(family))) {
            font.setFamily(QLatin1String(family));
            break;
        }
    }
    font.setPointSize(8);
    QApplication::setFont(font);
}
