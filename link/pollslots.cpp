// SPDX-License-Identifier: GPL-3.0-or-later
// The poll cycle and the commands it sends.
#include "app/quelmarstatus.h"

#include "app/programstate.h"
#include "chart/charttab.h"
#include "link/pollengine.h"
#include "link/protocol.h"
#include "ui_quelmarstatus.h"

namespace {

constexpr int kCostTab = 1;

} // namespace

void QuelmarStatus::poller()
{
    // A fresh array every cycle: no reading outlives the cycle that read it.
    double vals[quelmar::kMeasurementCount] = {};
    const int r = engine->poll(meterAddress, vals);
    if (r <= 0) {
        ui->comerr->setText(QLatin1String(kCommunicationError));
        return;
    }
    // Clearing an empty label still repaints it: clear only an error.
    if (!ui->comerr->text().isEmpty())
        ui->comerr->clear();
    if (r == quelmar::kClearAckResult)
        chart->markClear();
    if (quelmar::isReading(r))
        UpdateDisp(vals);
    if (ui->tabWidget->currentIndex() == kCostTab)
        CostCalc(vals);
}

void QuelmarStatus::AddChange()
{
    engine->setPending('A');
}

void QuelmarStatus::ClearData()
{
    engine->setPending('E');
}
