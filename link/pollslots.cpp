// SPDX-License-Identifier: GPL-3.0-or-later
// The poll cycle and the commands it sends.
#include "app/quelmarstatus.h"

#include "core/session/metersession.h"
#include "ui_quelmarstatus.h"

namespace {

constexpr int kCostTab = 1;

} // namespace

void QuelmarStatus::poller()
{
    meter->poll();
}

void QuelmarStatus::showCycle(int result, const quelmar::Measurement &m)
{
    if (!quelmar::isAnswer(result)) {
        ui->comerr->setText(QLatin1String(kCommunicationError));
        return;
    }
    // Clearing an empty label still repaints it: clear only an error.
    if (!ui->comerr->text().isEmpty())
        ui->comerr->clear();
    // Costs follow any answer, the clear acknowledgement's too.
    if (ui->tabWidget->currentIndex() == kCostTab)
        showCosts(m);
}

void QuelmarStatus::AddChange()
{
    meter->setPending(quelmar::Command::AddressChange);
}

void QuelmarStatus::ClearData()
{
    meter->setPending(quelmar::Command::Clear);
}
