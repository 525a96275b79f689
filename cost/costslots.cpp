// The Cost Calculator tab.
#include "app/quelmarstatus.h"

#include "app/fieldtext.h"

#include "cost/costmath.h"
#include "ui_quelmarstatus.h"

void QuelmarStatus::CostCalc(double vals[150])
{
    const quelmar::Costs c = quelmar::runningCosts(float(vals[2]), vals[3], float(ui->cents->value()),
                                                   float(ui->hoursperday->value()));
    quelmar::setTextIfChanged(ui->cost, quelmar::moneyText(c.now));
    quelmar::setTextIfChanged(ui->costph, quelmar::moneyText(c.perHour));
    quelmar::setTextIfChanged(ui->costpw, quelmar::moneyText(c.perWeek));
    quelmar::setTextIfChanged(ui->costpq, quelmar::moneyText(c.perQuarter));
    quelmar::setTextIfChanged(ui->costpy, quelmar::moneyText(c.perYear));
}

void QuelmarStatus::AddtData()
{
    const std::pair<QLineEdit *, QLineEdit *> pairs[] = {
        {ui->tcostph, ui->costph}, {ui->tcostpw, ui->costpw}, {ui->tcostpq, ui->costpq}, {ui->tcostpy, ui->costpy}};
    for (const auto &[total, current] : pairs)
        total->setText(quelmar::addToTotal(total->text(), current->text()));
}

void QuelmarStatus::CleartData()
{
    ui->tcostph->clear();
    ui->tcostpw->clear();
    ui->tcostpq->clear();
    ui->tcostpy->clear();
}
