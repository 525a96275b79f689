// The program logging in a process of its own, for the tests that kill it or
// limit its file size. It plays the meter on a pseudo-terminal: before each
// poll it sends one good reply whose elapsed time is the pass's number, so the
// log's time column tells which pass wrote a record.
//
//   quelmar-logchild LOG            logs every second pass until killed
//   quelmar-logchild LOG FIT SPARE  8 passes with room in LOG for FIT more
//                                   records and SPARE bytes (less than a
//                                   record; -1: all of one but its line end),
//                                   then 8 passes without the limit
#include "app/programstate.h"
#include "app/quelmarstatus.h"
#include "display/readouttext.h"
#include "link/protocol.h"
#include "logging/logrecord.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QFileInfo>

#include <csignal>
#include <sys/resource.h>

namespace {

const int kLimitedPasses = 8;

// A steady 120 W load.
QByteArray reply(int pass)
{
    return meterReply({double(pass), 0, double(pass), 432000, 120000, 230000000, 579710, 1, 900000, 133333});
}

// The hard limit stays open, so that the soft one can be lifted again.
bool limitFileSize(rlim_t bytes)
{
    const rlimit lim{bytes, RLIM_INFINITY};
    return setrlimit(RLIMIT_FSIZE, &lim) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 4)
        return 2;
    std::signal(SIGXFSZ, SIG_IGN); // a write past the limit must fail, not end the process
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString log = QString::fromLocal8Bit(argv[1]);
    const bool limited = argc == 4;

    // Settings go beside the log, so a killed run leaves nothing elsewhere.
    PtyPair pty;
    useSettingsFolder(QFileInfo(log).absolutePath() + QStringLiteral("/settings"));
    storePortName(pty.path());
    ModalWatcher watcher;
    QuelmarStatus w;
    pollTimer->stop();
    w.findChild<QLineEdit *>("fileEdit")->setText(log);
    w.findChild<QCheckBox *>("logclear")->setChecked(false);
    w.startlogging();
    if (!watcher.texts().isEmpty() || w.findChild<QPushButton *>("startButton")->isEnabled())
        return 4;

    if (limited) {
        double vals[quelmar::kMeasurementCount] = {};
        quelmar::parseReply(reply(1).constData(), vals);
        const qint64 record = quelmar::logRecord(quelmar::readoutTexts(vals)).size() + 1;
        const int spare = QByteArray(argv[3]).toInt();
        const qint64 room = QByteArray(argv[2]).toInt() * record + (spare < 0 ? record + spare : spare);
        if (!limitFileSize(rlim_t(QFileInfo(log).size() + room)))
            return 5;
    }
    for (int pass = 1; !limited || pass <= 2 * kLimitedPasses; ++pass) {
        if (limited && pass == kLimitedPasses + 1 && !limitFileSize(RLIM_INFINITY))
            return 5;
        pty.send(reply(pass));
        w.poller();
        pty.receive(0); // the program's frames, so the line never backs up
        if (!textOf(w, "comerr").isEmpty())
            return 6;
    }
    return 0;
}
