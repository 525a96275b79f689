// SPDX-License-Identifier: GPL-3.0-or-later
// Running-cost arithmetic and the money texts of the cost calculator.
#pragma once

#include <QString>

namespace quelmar {

struct Measurement;

struct Costs {
    double now = 0;
    double perHour = 0;
    double perWeek = 0;
    double perQuarter = 0;
    double perYear = 0;
};

// What the reading's energy cost at `centsPerKWh`, and what the appliance
// costs per hour, week, quarter and year at the reading's average power,
// used `hoursPerDay`. Elapsed time, tariff and hours per day are taken at
// single precision, as the meter's time and the spin boxes always were
// read; the energy at full precision. All arithmetic is done in double.
Costs runningCosts(const Measurement &m, double centsPerKWh, double hoursPerDay);

// "$" and the amount with five decimals, independent of the locale.
QString moneyText(double amount);

// Reads a money text back: every "$" removed, parsed at single precision.
// Text that is not a finite number counts as 0.
float parseMoney(const QString &text);

// The audit total after adding `current` to `total` (both money texts).
QString addToTotal(const QString &total, const QString &current);

} // namespace quelmar
