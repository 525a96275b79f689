// SPDX-License-Identifier: GPL-3.0-or-later
// One reading of the meter in the units people read: the only place that
// knows which entry of a reply's measurement array holds what, in which
// unit, and how the lead/lag flag reads.
#pragma once

namespace quelmar {

struct Measurement {
    double seconds = 0;     // elapsed since the meter's last clear
    double energyMws = 0;   // milliwatt-seconds, the meter's own counter unit
    double watts = 0;       // real power
    double volts = 0;
    double amps = 0;
    double powerFactor = 0; // 0 to 1
    double voltAmperes = 0; // apparent power
    bool lead = false;      // only a flag of exactly 0 leads; anything else lags

    // The energy counter in milliwatt-hours.
    double milliwattHours() const { return energyMws / 3600; }

    // Entries 2 to 9 of a measurement array: elapsed s, energy mW·s, real
    // power mW, voltage µV, current µA, lead/lag flag, power factor in
    // millionths, apparent power mVA. No other entry is read.
    static Measurement fromArray(const double *vals);
};

} // namespace quelmar
