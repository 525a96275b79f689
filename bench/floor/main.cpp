// SPDX-License-Identifier: GPL-3.0-or-later
// quelmar-floor: the least a Qt program polling the meter can cost. A main
// window of the communicator's size with three empty tabs; every 500 ms the
// status frame goes out on the port and whatever has arrived is read and
// dropped: no parsing, no widget updates. The port I/O is the same calls
// the communicator makes, so the difference between the two is the work
// the communicator adds.
#include <QApplication>
#include <QMainWindow>
#include <QSerialPort>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quelmar-floor PORT-PATH\n");
        return 2;
    }

    QMainWindow window;
    window.resize(449, 416);
    auto *tabs = new QTabWidget;
    for (const char *title : {"Meter", "Cost Calculator", "Data Logging"})
        tabs->addTab(new QWidget, QString::fromLatin1(title));
    window.setCentralWidget(tabs);

    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "quelmar-floor: cannot open %s\n", argv[1]);
        return 1;
    }
    port.setBaudRate(QSerialPort::Baud9600);
    port.setFlowControl(QSerialPort::NoFlowControl);
    port.setParity(QSerialPort::NoParity);
    port.setDataBits(QSerialPort::Data8);
    port.setStopBits(QSerialPort::OneStop);

    static const char frame[] = "<01S,;00E0\r";
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&port] {
        port.write(frame, sizeof frame - 1);
        port.flush();
        port.waitForReadyRead(0);
        char reply[1024];
        port.read(reply, qMin<qint64>(port.bytesAvailable(), sizeof reply));
    });
    poll.start(500);

    window.show();
    return app.exec();
}
