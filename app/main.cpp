#include "quelmarstatus.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/quelmar-communicator.png")));
    // Lets Wayland compositors match the window to its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.norvane.QuelmarCommunicator"));
    QuelmarStatus window;
    window.show();
    return app.exec();
}
