// SPDX-License-Identifier: GPL-3.0-or-later
#include "quelmarstatus.h"

#include "programstate.h"
#include "app/version.h"
#include "chart/charttab.h"
#include "link/pollengine.h"
#include "ui_quelmarstatus.h"

#include <QEvent>
#include <QLineEdit>
#include <QTimer>

QuelmarStatus::QuelmarStatus(QWidget *parent)
    : QMainWindow(parent)
{
    ui = new Ui_QuelmarStatus;
    ui->setupUi(this);
    engine = new quelmar::PollEngine(this);

    for (int n = 1; n <= 20; ++n)
        ui->ComPort->addItem(QStringLiteral("COM%1").arg(n));

    AddChange();

    pollTimer = new QTimer(this);

    ui->stopButton->setEnabled(false);

    // After the form's three tabs, so their indexes stay as they are.
    chart = new quelmar::ChartTab;
    ui->tabWidget->addTab(chart, tr("Chart"));

    connect(ui->ClearButton, SIGNAL(clicked()), this, SLOT(ClearData()));
    connect(ui->ClearButton_M, SIGNAL(clicked()), this, SLOT(ClearData()));
    connect(ui->ComPort, SIGNAL(activated(int)), this, SLOT(PortChanged()));
    connect(ui->browseButton, SIGNAL(clicked()), this, SLOT(setSaveFileName()));
    connect(ui->startButton, SIGNAL(clicked()), this, SLOT(startlogging()));
    connect(ui->stopButton, SIGNAL(clicked()), this, SLOT(stoplogging()));
    connect(ui->addtButton, SIGNAL(clicked()), this, SLOT(AddtData()));
    connect(ui->cleartButton, SIGNAL(clicked()), this, SLOT(CleartData()));
    connect(pollTimer, SIGNAL(timeout()), this, SLOT(poller()));
    // The frames and replies of every attempt, as the engine makes them.
    connect(engine, &quelmar::PollEngine::frameSent, this,
            [this](const QByteArray &frame) { setFieldText(ui->TxLine, QString::fromLatin1(frame)); });
    connect(engine, &quelmar::PollEngine::replyRead, this,
            [this](const QByteArray &text) { setFieldText(ui->RcdLine, QString::fromLatin1(text)); });

    setWindowTitle(tr("Quelmar Communicator " QUELMAR_VERSION_TEXT));

    readSettings();

    engine->setPort(portName);

    ui->ComPort->setEditText(portName);

    PortOpen();
}

QuelmarStatus::~QuelmarStatus()
{
    // The engine closes and deletes the serial port object.
    delete engine;
    engine = nullptr;
    writeSettings();
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
    return engine->port();
}
