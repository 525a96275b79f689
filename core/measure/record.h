// SPDX-License-Identifier: GPL-3.0-or-later
// One record of the meter session: a reading at the moment a record fell
// due, its numbers rounded once to the decimals the log writes. The log's
// line, the broker's state and every other output of a record are
// formatted from these numbers, so they cannot disagree.
#pragma once

#include <QtGlobal>

namespace quelmar {

struct Measurement;

// The log's decimals for each quantity.
inline constexpr int kEnergyDecimals = 3; // mWh
inline constexpr int kPowerDecimals = 3;  // W and VA
inline constexpr int kVoltDecimals = 2;
inline constexpr int kCurrentDecimals = 3;
inline constexpr int kPowerFactorDecimals = 3;

struct Record {
    qint64 index = 0;        // records due since the rhythm started, from 0
    qint64 atMs = 0;         // the computer's clock, ms since the epoch
    double seconds = 0;      // elapsed since the meter's clear, whole seconds
    double milliwattHours = 0;
    double watts = 0;
    double volts = 0;
    double amps = 0;
    double powerFactor = 0;
    double voltAmperes = 0;
    bool lead = false;

    static Record of(const Measurement &m, qint64 atMs, qint64 index);
};

// `value` rounded to `decimals` (0 to 6) the way fixed-point text rounds
// it: to nearest, halves away from zero, on the exact binary value. Its
// text at those decimals is the text of `value`. Values that are not
// finite, too large to have a fraction at that scale, or round to zero
// stay as they are (a tiny negative value's text keeps its minus sign).
double roundedTo(double value, int decimals);

} // namespace quelmar
