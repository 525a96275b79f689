// SPDX-License-Identifier: GPL-3.0-or-later
#include "quelmarstatus.h"

#include "chart/charttab.h"
#include "core/logfile/logsink.h"
#include "core/session/metersession.h"
#include "core/version.h"
#include "ui_quelmarstatus.h"

#include <QEvent>
#include <QLineEdit>
#include <QSerialPort>

QuelmarStatus::QuelmarStatus(QWidget *parent, const QString &port)
    : QMainWindow(parent)
    , portOverride(port)
{
    ui = new Ui_QuelmarStatus;
    ui->setupUi(this);
    meter = new quelmar::MeterSession(this);

    for (int n = 1; n <= 20; ++n)
        ui->ComPort->addItem(QStringLiteral("COM%1").arg(n));

    AddChange();

    ui->stopButton->setEnabled(false);

    // After the form's three tabs, so their indexes stay as they are.
    chart = new quelmar::ChartTab(meter->history());
    chart->setPrice([this] { return ui->cents->value(); });
    ui->tabWidget->addTab(chart, tr("Chart"));
    setUpLogging();

    connect(ui->ClearButton, SIGNAL(clicked()), this, SLOT(ClearData()));
    connect(ui->ClearButton_M, SIGNAL(clicked()), this, SLOT(ClearData()));
    connect(ui->ComPort, SIGNAL(activated(int)), this, SLOT(PortChanged()));
    connect(ui->browseButton, SIGNAL(clicked()), this, SLOT(setSaveFileName()));
    connect(ui->startButton, SIGNAL(clicked()), this, SLOT(startlogging()));
    connect(ui->stopButton, SIGNAL(clicked()), this, SLOT(stoplogging()));
    connect(ui->addtButton, SIGNAL(clicked()), this, SLOT(AddtData()));
    connect(ui->cleartButton, SIGNAL(clicked()), this, SLOT(CleartData()));
    // The poll timer's ticks run the session's cycle, as poller() does;
    // the window follows what the session reports.
    connect(meter, &quelmar::MeterSession::polled, this, &QuelmarStatus::showCycle);
    connect(meter, &quelmar::MeterSession::measured, this,
            [this](const quelmar::Measurement &, const quelmar::ReadoutTexts &t) {
                showReadout(t);
                chart->follow();
            });
    connect(&meter->link(), &quelmar::SerialLink::frameSent, this,
            [this](const QByteArray &frame) { setFieldText(ui->TxLine, QString::fromLatin1(frame)); });
    connect(&meter->link(), &quelmar::SerialLink::replyRead, this,
            [this](const QByteArray &text) { setFieldText(ui->RcdLine, QString::fromLatin1(text)); });

    setWindowTitle(tr("Quelmar Communicator " QUELMAR_VERSION_TEXT));

    // Reads the port name into the session, which makes its port object.
    readSettings();

    ui->ComPort->setEditText(meter->link().portName());

    PortOpen();
}

QuelmarStatus::~QuelmarStatus()
{
    writeSettings();
    // The session closes and deletes the serial port object.
    delete meter;
    meter = nullptr;
    delete ui;
}

void QuelmarStatus::changeEvent(QEvent *e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void QuelmarStatus::setFieldText(QLineEdit *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

QSerialPort *QuelmarStatus::serialPort() const
{
    return meter->link().port();
}
