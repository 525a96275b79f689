// SPDX-License-Identifier: GPL-3.0-or-later
// The Data Logging tab and the log step of every readout pass.
#include "app/quelmarstatus.h"

#include "core/logfile/logrecord.h"
#include "core/logfile/logsink.h"
#include "core/session/metersession.h"
#include "ui_quelmarstatus.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

namespace {

QString documentsFolder()
{
#ifdef Q_OS_WIN
    QSettings shell(QSettings::UserScope, QStringLiteral("Microsoft"), QStringLiteral("Windows"));
    shell.beginGroup(QStringLiteral("CurrentVersion/Explorer/Shell Folders"));
    return shell.value(QStringLiteral("Personal")).toString();
#else
    // A documents folder that does not exist would only be offered as a
    // file name; the dialog's own default is the better start then.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(documents).exists() ? documents : QString();
#endif
}

} // namespace

void QuelmarStatus::setUpLogging()
{
    logSink = std::make_unique<quelmar::LogSink>();
    connect(meter, &quelmar::MeterSession::recordDue, this, &QuelmarStatus::writeRecord);
    // Below the tab's controls, in the red of the window's error label.
    logerr = new QLabel(ui->tab_3);
    logerr->setObjectName(QStringLiteral("logerr"));
    logerr->setGeometry(30, 175, 361, 100);
    logerr->setWordWrap(true);
    logerr->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    logerr->setPalette(ui->comerr->palette());
}

void QuelmarStatus::writeRecord(const quelmar::Record &r)
{
    const quelmar::LogStep step = logSink->write(r);
    if (step.written && step.resumedAfter == 0)
        return;
    const QString missed = QStringLiteral("%1 %2 could not be written")
                               .arg(logSink->missed())
                               .arg(logSink->missed() == 1 ? QStringLiteral("record") : QStringLiteral("records"));
    // While it fails, the reason; once it works again, what was lost stays
    // in sight until the next START.
    logerr->setText(step.written ? QStringLiteral("%1 to %2.").arg(missed, logSink->file())
                                 : QStringLiteral("%1. %2 so far.").arg(step.why, missed));
}

void QuelmarStatus::setSaveFileName()
{
    // A cancelled dialog empties the field on purpose: START then refuses.
    const QString name =
        QFileDialog::getSaveFileName(this, tr("Enter Log filename"), documentsFolder(), tr("CSV Files (*.csv)"));
    // The filter promises a CSV file; a name typed without a suffix gets one.
    ui->fileEdit->setText(quelmar::withLogSuffix(name));
}

void QuelmarStatus::startlogging()
{
    // Asked while still idle: no log step may write to the file meanwhile.
    if (!mayReplaceLog(ui->fileEdit->text()))
        return;
    ui->startButton->setEnabled(false);
    ui->stopButton->setEnabled(true);

    QString why;
    logerr->clear();
    if (!logSink->start(ui->fileEdit->text(), false, &why)) {
        stoplogging();
        QMessageBox box;
        box.setText(QStringLiteral("Log File Error."));
        box.setInformativeText(why);
        box.exec();
        return;
    }

    meter->startRecords(ui->lperiod->value());
    ui->lperiod->setEnabled(false);
    if (ui->logclear->isChecked())
        ClearData();
    ui->logclear->setEnabled(false);
    ui->browseButton->setEnabled(false);
    ui->fileEdit->setEnabled(false);
}

void QuelmarStatus::stoplogging()
{
    logSink->stop();
    meter->stopRecords();
    ui->stopButton->setEnabled(false);
    ui->startButton->setEnabled(true);
    ui->lperiod->setEnabled(true);
    ui->logclear->setEnabled(true);
    ui->browseButton->setEnabled(true);
    ui->fileEdit->setEnabled(true);
    // Otherwise focus leaves the disabled STOP for the next widget in line,
    // the Transmit field out of sight below the tabs.
    ui->startButton->setFocus();
}

bool QuelmarStatus::mayReplaceLog(const QString &path)
{
    const qint64 records = quelmar::countLogRecords(path);
    if (records == 0)
        return true;
    QMessageBox box(this);
    box.setIcon(QMessageBox::Question);
    box.setText(QStringLiteral("%1 already holds %2 %3. Replace it?")
                    .arg(path)
                    .arg(records)
                    .arg(records == 1 ? QStringLiteral("reading") : QStringLiteral("readings")));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::Cancel);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Replace"));
    box.setDefaultButton(QMessageBox::Cancel);
    // Closing the box counts as Cancel.
    return box.exec() == QMessageBox::Yes;
}
