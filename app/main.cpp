#include "quelmarstatus.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QuelmarStatus window;
    window.show();
    return app.exec();
}
