// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>

#include <memory>

class QLabel;
class QLineEdit;
class QSerialPort;
class QEvent;
class Ui_QuelmarStatus;
namespace quelmar {
class ChartTab;
class LogSink;
class MeterSession;
struct Measurement;
struct ReadoutTexts;
struct Record;
} // namespace quelmar

// The one window over a meter session. Its public slots are what the user
// and the poll timer set off; each subsystem folder defines the slots it
// owns, each a call into the session and the widgets it updates.
class QuelmarStatus : public QMainWindow
{
    Q_OBJECT

public:
    // What comerr says when the meter does not answer (the form's own text
    // has two blanks; this one has one).
    static constexpr char kCommunicationError[] = "Communication Error";

    // `port`: a port named on the command line, used instead of the
    // remembered one and remembered in its place.
    explicit QuelmarStatus(QWidget *parent = nullptr, const QString &port = QString());
    ~QuelmarStatus() override;

    quelmar::MeterSession &session() const { return *meter; }
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

    // What the window shows of a cycle, of a reading and of its costs.
    void showCycle(int result, const quelmar::Measurement &m);
    void showReadout(const quelmar::ReadoutTexts &t);
    void showCosts(const quelmar::Measurement &m);
    // START's question before it replaces a file that holds readings; true
    // to go on.
    bool mayReplaceLog(const QString &path);
    // The log step: a record the session made due goes into the log, and
    // the Data Logging tab says when one could not.
    void writeRecord(const quelmar::Record &r);
    void setUpLogging();

    Ui_QuelmarStatus *ui = nullptr;
    quelmar::MeterSession *meter = nullptr;
    std::unique_ptr<quelmar::LogSink> logSink;
    // The Data Logging tab's word on records that could not be written.
    QLabel *logerr = nullptr;
    // The Chart tab's page, owned by the tab widget.
    quelmar::ChartTab *chart = nullptr;
    const QString portOverride;
};
