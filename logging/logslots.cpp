// The Data Logging tab and the log step of every readout pass.
#include "app/quelmarstatus.h"

#include "display/readouttext.h"
#include "ui_quelmarstatus.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
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

void QuelmarStatus::setSaveFileName()
{
    // A cancelled dialog empties the field on purpose: START then refuses.
    const QString name =
        QFileDialog::getSaveFileName(this, tr("Enter Log filename"), documentsFolder(), tr("CSV Files (*.csv)"));
    ui->fileEdit->setText(name);
}

void QuelmarStatus::startlogging()
{
    ui->startButton->setEnabled(false);
    ui->stopButton->setEnabled(true);

    if (!logSink.start(ui->fileEdit->text(), ui->lperiod->value())) {
        stoplogging();
        QMessageBox box;
        box.setText(QStringLiteral("Log File Error."));
        box.setInformativeText(QStringLiteral("No file name selected!"));
        box.exec();
        return;
    }

    ui->lperiod->setEnabled(false);
    if (ui->logclear->isChecked())
        ClearData();
    ui->logclear->setEnabled(false);
    ui->browseButton->setEnabled(false);
    ui->fileEdit->setEnabled(false);
}

void QuelmarStatus::stoplogging()
{
    logSink.stop();
    ui->stopButton->setEnabled(false);
    ui->startButton->setEnabled(true);
    ui->lperiod->setEnabled(true);
    ui->logclear->setEnabled(true);
    ui->browseButton->setEnabled(true);
    ui->fileEdit->setEnabled(true);
}

void QuelmarStatus::logStep(const quelmar::ReadoutTexts &texts)
{
    logSink.step(texts);
}
