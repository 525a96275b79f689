// SPDX-License-Identifier: GPL-3.0-or-later
// The texts of one readout pass, made from one measurement, without looking
// at the user's locale. The log writes the same number texts for a record.
#pragma once

#include <QString>

namespace quelmar {

struct Measurement;

// Fixed-point text with `decimals` digits after a full stop, no grouping.
QString numberText(double value, int decimals);

// "h:mm:ss"-style text of an elapsed time in seconds; each part truncated
// toward zero and padded to at least two digits, hours never wrapped.
QString elapsedText(double seconds);

// The readout's energy text: milliwatt-hours, or watt-hours from 1 Wh on,
// or kilowatt-hours from 1 kWh on (chosen on the unrounded value), with the
// unit and the readout's trailing blanks.
QString energyText(double milliwattHours);

struct ReadoutTexts {
    // Number texts, in the order the readout writes them.
    QString time;
    QString energyShown;  // in the range the readout picked, with its suffix
    QString power;
    QString volts;
    QString current;
    QString powerFactor;
    bool lead = false;
    QString apparent;
};

ReadoutTexts readoutTexts(const Measurement &m);

// The texts the seven readout fields show.
QString timeField(const ReadoutTexts &t);
QString powerField(const ReadoutTexts &t);
QString voltsField(const ReadoutTexts &t);
QString currentField(const ReadoutTexts &t);
QString powerFactorField(const ReadoutTexts &t);
QString apparentField(const ReadoutTexts &t);

} // namespace quelmar
