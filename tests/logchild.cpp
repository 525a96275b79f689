// The program logging in a process of its own, for the tests that kill it or
// run it under a file size limit. It plays the meter itself on a
// pseudo-terminal: before each poll it sends one good reply whose elapsed
// time is the number of the pass, so the log's time column tells which pass
// wrote a record.
//
//   quelmar-logchild LOG
//       logs to LOG every second pass, as fast as it can, until killed
//   quelmar-logchild LOG PASSES FIT SPARE
//       runs PASSES passes with room in LOG for FIT more records and SPARE
//       bytes (-1: all of a record but its line end), prints "limited" and
//       the file's size, then PASSES passes without the limit, and exits
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "display/readouttext.h"
#include "link/protocol.h"
#include "logging/logrecord.h"
#include "testsupport.h"
#include "ui_quelmarstatus.h"

#include <QApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

namespace {

// Field 3 is the elapsed time; the rest is a steady 120 W load.
const double kFields[] = {0, 0, 0, 432000, 120000, 230000000, 579710, 1, 900000, 133333};

QByteArray reply(long long pass)
{
    QByteArray body = ">01S";
    for (int i = 0; i < 10; ++i)
        body += ',' + QByteArray::number(i == 0 || i == 2 ? double(pass) : kFields[i], 'f', 0);
    char sum[11];
    quelmar::checksumText(quelmar::byteSum(body.constData() + 1, body.constData() + body.size()), sum);
    return body + ';' + sum + '\r';
}

// The soft limit only: the hard one stays, so the limit can be lifted.
bool limitFileSize(rlim_t bytes)
{
    rlimit lim{};
    if (getrlimit(RLIMIT_FSIZE, &lim) != 0)
        return false;
    lim.rlim_cur = lim.rlim_max == RLIM_INFINITY ? bytes : qMin(bytes, lim.rlim_max);
    return setrlimit(RLIMIT_FSIZE, &lim) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 5) {
        std::fprintf(stderr, "usage: %s LOG [PASSES FIT SPARE]\n", argv[0]);
        return 2;
    }
    // A write past the limit must fail, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString log = QString::fromLocal8Bit(argv[1]);
    const bool limited = argc == 5;
    const long long passes = limited ? QByteArray(argv[2]).toLongLong() : -1;

    // Settings go beside the log, so a killed run leaves nothing elsewhere.
    PtyPair pty;
    if (!pty.isValid())
        return 3;
    useSettingsFolder(QFileInfo(log).absolutePath() + QStringLiteral("/settings"));
    storePortName(pty.path());
    ModalWatcher watcher;
    QuelmarStatus w;
    pollTimer->stop();
    Ui_QuelmarStatus *ui = w.form();
    ui->fileEdit->setText(log);
    ui->lperiod->setValue(1);
    ui->logclear->setChecked(false);
    w.startlogging();
    if (!watcher.texts().isEmpty() || ui->startButton->isEnabled())
        return 4;

    if (limited) {
        double vals[quelmar::kMeasurementCount] = {};
        for (int i = 0; i < 10; ++i)
            vals[i] = kFields[i];
        vals[2] = 1;
        const qint64 record = quelmar::logRecord(quelmar::readoutTexts(vals)).size();
        const int fit = QByteArray(argv[3]).toInt();
        const int spare = QByteArray(argv[4]).toInt();
        const qint64 room = fit * (record + 1) + (spare < 0 ? record : spare);
        if (!limitFileSize(rlim_t(QFileInfo(log).size() + room)))
            return 5;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    for (long long pass = 1; !limited || pass <= 2 * passes; ++pass) {
        if (limited && pass == passes + 1) {
            std::printf("limited %lld\n", QFileInfo(log).size());
            std::fflush(stdout);
            if (!limitFileSize(RLIM_INFINITY))
                return 5;
        }
        pty.send(reply(pass));
        w.poller();
        pty.receive(0); // the program's frames, so the line never backs up
        if (!ui->comerr->text().isEmpty())
            return 6;
    }
    return 0;
}
