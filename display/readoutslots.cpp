// SPDX-License-Identifier: GPL-3.0-or-later
// The Meter tab's readout.
#include "app/quelmarstatus.h"

#include "chart/charttab.h"
#include "display/readouttext.h"
#include "ui_quelmarstatus.h"

void QuelmarStatus::UpdateDisp(double vals[150])
{
    const quelmar::ReadoutTexts t = quelmar::readoutTexts(vals);
    setFieldText(ui->TimeDisp, quelmar::timeField(t));
    setFieldText(ui->EnergyDisp, t.energyShown);
    setFieldText(ui->PowerDisp, quelmar::powerField(t));
    setFieldText(ui->VoltsDisp, quelmar::voltsField(t));
    setFieldText(ui->CurrentDisp, quelmar::currentField(t));
    setFieldText(ui->PFDisp, quelmar::powerFactorField(t));
    setFieldText(ui->VADisp, quelmar::apparentField(t));
    logStep(t);
    chart->record(vals);
}
