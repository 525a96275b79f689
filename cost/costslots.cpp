// SPDX-License-Identifier: GPL-3.0-or-later
// The Cost Calculator tab.
#include "app/quelmarstatus.h"

#include "core/cost/costmath.h"
#include "core/measure/measurement.h"
#include "ui_quelmarstatus.h"

void QuelmarStatus::CostCalc(double vals[150])
{
    showCosts(quelmar::Measurement::fromArray(vals));
}

void QuelmarStatus::showCosts(const quelmar::Measurement &m)
{
    const quelmar::Costs c = quelmar::runningCosts(m, ui->cents->value(), ui->hoursperday->value());
    setFieldText(ui->cost, quelmar::moneyText(c.now));
    setFieldText(ui->costph, quelmar::moneyText(c.perHour));
    setFieldText(ui->costpw, quelmar::moneyText(c.perWeek));
    setFieldText(ui->costpq, quelmar::moneyText(c.perQuarter));
    setFieldText(ui->costpy, quelmar::moneyText(c.perYear));
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
