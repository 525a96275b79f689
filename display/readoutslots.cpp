// The Meter tab's readout.
#include "app/quelmarstatus.h"

#include "display/readouttext.h"
#include "ui_quelmarstatus.h"

void QuelmarStatus::UpdateDisp(double vals[150])
{
    const quelmar::ReadoutTexts t = quelmar::readoutTexts(vals);
    ui->TimeDisp->setText(quelmar::timeField(t));
    ui->EnergyDisp->setText(t.energyShown);
    ui->PowerDisp->setText(quelmar::powerField(t));
    ui->VoltsDisp->setText(quelmar::voltsField(t));
    ui->CurrentDisp->setText(quelmar::currentField(t));
    ui->PFDisp->setText(quelmar::powerFactorField(t));
    ui->VADisp->setText(quelmar::apparentField(t));
    logStep(t);
}
