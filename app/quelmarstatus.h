// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>

#include "logging/logsink.h"

class QLineEdit;
class QSerialPort;
class QEvent;
class Ui_QuelmarStatus;
namespace quelmar {
class ChartTab;
class PollEngine;
struct ReadoutTexts;
} // namespace quelmar

// The one window. Its public slots are the program's whole logic; each
// subsystem folder defines the slots it owns.
class QuelmarStatus : public QMainWindow
{
    Q_OBJECT

public:
    // The poll timer's period, and what comerr says when the meter does not
    // answer (the form's own text has two blanks; this one has one).
    static constexpr int kPollPeriodMs = 500;
    static constexpr char kCommunicationError[] = "Communication Error";

    explicit QuelmarStatus(QWidget *parent = nullptr);
    ~QuelmarStatus() override;

    QSerialPort *serialPort() const;

public slots:
    void ClearData();
    void poller();
    int RcvdVal(char msg[256], double vals[]);
    int Rcvmsg(int add, double cmvals[]);
    int chkadd(int Add, char msg[256]);
    int rxchksum(char *msg);
    void Txmsg(int add, char *cmd, int val1);
    void UpdateDisp(double vals[150]);
    void PortChanged();
    void PortOpen();
    void AddChange();
    void CostCalc(double vals[150]);
    void setSaveFileName();
    void startlogging();
    void stoplogging();
    void AddtData();
    void CleartData();
    void readSettings();
    void writeSettings();

protected:
    void changeEvent(QEvent *e) override;

private:
    // Setting a line edit's text lays it out and repaints it even when the
    // text is the one it already shows. Most fields keep their text from one
    // poll to the next, so the slots set a field only when its text changes.
    static void setFieldText(QLineEdit *field, const QString &text);

    // The data log's share of a readout pass.
    void logStep(const quelmar::ReadoutTexts &texts);
    // START's question before it replaces a file that holds readings; true
    // to go on.
    bool mayReplaceLog(const QString &path);

    Ui_QuelmarStatus *ui = nullptr;
    quelmar::PollEngine *engine = nullptr; // owns the serial port object
    quelmar::LogSink logSink;
    // The Chart tab's page, owned by the tab widget; it keeps the history.
    quelmar::ChartTab *chart = nullptr;
};
