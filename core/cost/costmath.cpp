// SPDX-License-Identifier: GPL-3.0-or-later
#include "costmath.h"

#include "core/measure/measurement.h"

#include <cmath>
#include <limits>

namespace quelmar {

namespace {

// A value rounded to single precision; one beyond a float's range becomes an
// infinity instead of an undefined conversion.
double single(double v)
{
    if (std::fabs(v) > double(std::numeric_limits<float>::max()))
        return v > 0 ? HUGE_VAL : -HUGE_VAL;
    return float(v);
}

} // namespace

Costs runningCosts(const Measurement &m, double centsPerKWh, double hoursPerDay)
{
    const double t = single(m.seconds);
    const double tariff = single(centsPerKWh);
    const double hours = single(hoursPerDay);

    const double kwh = m.energyMws / 3600000 / 1000;
    // No guard for t == 0: the amounts then become inf or nan and are shown
    // as such, which tells the user there is nothing to average yet.
    const double rate = kwh / t;

    Costs c;
    c.now = kwh * tariff / 100;
    c.perHour = (rate * 3600 * tariff) / 100;
    c.perWeek = (hours * 7 * 60 * 60 * rate * tariff) / 100;
    c.perQuarter = (hours * 91.3125 * 60 * 60 * rate * tariff) / 100;
    c.perYear = (hours * 365.25 * 60 * 60 * rate * tariff) / 100;
    return c;
}

QString moneyText(double amount)
{
    return QLatin1Char('$') + QString::number(amount, 'f', 5);
}

float parseMoney(const QString &text)
{
    QString digits = text;
    digits.remove(QLatin1Char('$'));
    bool ok = false;
    const float value = digits.toFloat(&ok);
    // A non-finite total ("$inf" after a zero elapsed time) must not poison
    // every later sum.
    return ok && std::isfinite(value) ? value : 0.0f;
}

QString addToTotal(const QString &total, const QString &current)
{
    const double addend = parseMoney(current);
    const double old = parseMoney(total);
    return moneyText(addend + old);
}

} // namespace quelmar
