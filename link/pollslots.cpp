// The poll cycle and the commands it sends.
#include "app/quelmarstatus.h"

#include "app/programstate.h"
#include "chart/charttab.h"
#include "link/protocol.h"
#include "ui_quelmarstatus.h"

#include <cstring>

namespace {

constexpr int kAttempts = 3;
constexpr int kCostTab = 1;

void setPending(char letter)
{
    pendingCommand[0] = letter;
    pendingCommand[1] = 0;
}

} // namespace

void QuelmarStatus::poller()
{
    if (portOpenFailed) {
        ui->comerr->setText(QLatin1String(kCommunicationError));
        return;
    }

    // A fresh array every cycle: no reading outlives the cycle that read it.
    double vals[quelmar::kMeasurementCount] = {};
    bool answered = false;
    for (int attempt = 0; attempt < kAttempts && !answered; ++attempt) {
        Txmsg(meterAddress, pendingCommand, 0);
        const int r = Rcvmsg(meterAddress, vals);
        if (r > 0) {
            answered = true;
            // Clearing an empty label still repaints it: clear only an error.
            if (!ui->comerr->text().isEmpty())
                ui->comerr->clear();
            if (r == quelmar::kClearAckResult)
                chart->markClear();
            if (r < quelmar::kFirstNotShown)
                UpdateDisp(vals);
            if (ui->tabWidget->currentIndex() == kCostTab)
                CostCalc(vals);
        }
    }
    if (!answered)
        ui->comerr->setText(QLatin1String(kCommunicationError));
    setPending('S');
}

void QuelmarStatus::AddChange()
{
    setPending('A');
}

void QuelmarStatus::ClearData()
{
    setPending('E');
}
