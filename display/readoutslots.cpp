// SPDX-License-Identifier: GPL-3.0-or-later
// The Meter tab's readout.
#include "app/quelmarstatus.h"

#include "core/measure/readouttext.h"
#include "core/session/metersession.h"
#include "ui_quelmarstatus.h"

void QuelmarStatus::UpdateDisp(double vals[150])
{
    // The session logs and keeps the reading, then has it shown.
    meter->pass(quelmar::Measurement::fromArray(vals));
}

void QuelmarStatus::showReadout(const quelmar::ReadoutTexts &t)
{
    setFieldText(ui->TimeDisp, quelmar::timeField(t));
    setFieldText(ui->EnergyDisp, t.energyShown);
    setFieldText(ui->PowerDisp, quelmar::powerField(t));
    setFieldText(ui->VoltsDisp, quelmar::voltsField(t));
    setFieldText(ui->CurrentDisp, quelmar::currentField(t));
    setFieldText(ui->PFDisp, quelmar::powerFactorField(t));
    setFieldText(ui->VADisp, quelmar::apparentField(t));
}
