#include "quelmarstatus.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The window's geometry is fixed; at the common 9 or 10 point desktop
    // default its labels and amounts are cut off, at 8 points they fit.
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/quelmar-communicator-256.png")));
    // Lets Wayland compositors match the window to its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.norvane.QuelmarCommunicator"));
    QuelmarStatus window;
    window.show();
    return app.exec();
}
