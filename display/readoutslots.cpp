// The Meter tab's readout.
#include "app/quelmarstatus.h"

#include "app/fieldtext.h"

#include "display/readouttext.h"
#include "ui_quelmarstatus.h"

void QuelmarStatus::UpdateDisp(double vals[150])
{
    const quelmar::ReadoutTexts t = quelmar::readoutTexts(vals);
    quelmar::setTextIfChanged(ui->TimeDisp, quelmar::timeField(t));
    quelmar::setTextIfChanged(ui->EnergyDisp, t.energyShown);
    quelmar::setTextIfChanged(ui->PowerDisp, quelmar::powerField(t));
    quelmar::setTextIfChanged(ui->VoltsDisp, quelmar::voltsField(t));
    quelmar::setTextIfChanged(ui->CurrentDisp, quelmar::currentField(t));
    quelmar::setTextIfChanged(ui->PFDisp, quelmar::powerFactorField(t));
    quelmar::setTextIfChanged(ui->VADisp, quelmar::apparentField(t));
    logStep(t);
}
