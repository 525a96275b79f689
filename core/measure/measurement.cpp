// SPDX-License-Identifier: GPL-3.0-or-later
#include "measurement.h"

namespace quelmar {

Measurement Measurement::fromArray(const double *vals)
{
    Measurement m;
    m.seconds = vals[2];
    m.energyMws = vals[3];
    m.watts = vals[4] / 1000;
    m.volts = vals[5] / 1000000;
    m.amps = vals[6] / 1000000;
    // NaN compares unequal too, so a flag that is not a number lags.
    m.lead = vals[7] == 0.0;
    m.powerFactor = vals[8] / 1000000;
    m.voltAmperes = vals[9] / 1000;
    return m;
}

} // namespace quelmar
