// SPDX-License-Identifier: GPL-3.0-or-later
#include "record.h"

#include "measurement.h"

#include <cmath>

namespace quelmar {

double roundedTo(double value, int decimals)
{
    static const double scales[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
    const double scale = scales[qBound(0, decimals, 6)];
    const double product = value * scale;
    if (!std::isfinite(product) || std::fabs(product) >= 0x1p52)
        return value;
    // value * scale = product + error exactly: fma gives what the
    // multiplication rounded away, which decides a near-half.
    const double error = std::fma(value, scale, -product);
    double whole = std::trunc(product);
    // How far past the half the fraction lies, away from zero; exact
    // wherever it could be near 0.
    const double pastHalf = std::fabs(product - whole) - 0.5 + (product < 0 ? -error : error);
    if (pastHalf >= 0)
        whole += product < 0 ? -1 : 1;
    if (whole != 0)
        return whole / scale;
    // -0.0 would lose the minus sign that "-0.000" shows.
    return value < 0 ? value : 0.0;
}

Record Record::of(const Measurement &m, qint64 atMs, qint64 index)
{
    Record r;
    r.index = index;
    r.atMs = atMs;
    r.seconds = std::isfinite(m.seconds) ? std::trunc(m.seconds) : m.seconds;
    r.milliwattHours = roundedTo(m.milliwattHours(), kEnergyDecimals);
    r.watts = roundedTo(m.watts, kPowerDecimals);
    r.volts = roundedTo(m.volts, kVoltDecimals);
    r.amps = roundedTo(m.amps, kCurrentDecimals);
    r.powerFactor = roundedTo(m.powerFactor, kPowerFactorDecimals);
    r.voltAmperes = roundedTo(m.voltAmperes, kPowerDecimals);
    r.lead = m.lead;
    return r;
}

} // namespace quelmar
