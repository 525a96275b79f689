// The Cost Calculator tab.
#include "app/quelmarstatus.h"

#include "cost/costmath.h"
#include "ui_quelmarstatus.h"

void QuelmarStatus::CostCalc(double vals[150])
{
    const quelmar::Costs c = quelmar::runningCosts(float(vals[2]), vals[3], float(ui->cents->value()),
                                                   float(ui->hoursperday->value()));
    ui->cost->setText(quelmar::moneyText(c.now));
    ui->costph->setText(quelmar::moneyText(c.perHour));
    ui->costpw->setText(quelmar::moneyText(c.perWeek));
    ui->costpq->setText(quelmar::moneyText(c.perQuarter));
    ui->costpy->setText(quelmar::moneyText(c.perYear));
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
