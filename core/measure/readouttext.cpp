// SPDX-License-Identifier: GPL-3.0-or-later
#include "readouttext.h"

#include "measurement.h"

#include <cmath>

namespace quelmar {

QString numberText(double value, int decimals)
{
    // QString::number is locale-independent: always "." and never grouped.
    return QString::number(value, 'f', decimals);
}

namespace {

QString timePart(double part)
{
    // Adding 0.0 turns a truncated -0 into 0, which would otherwise print "-0".
    QString text = QString::number(part + 0.0, 'f', 0);
    if (text.size() < 2)
        text.prepend(QLatin1Char('0'));
    return text;
}

} // namespace

QString elapsedText(double t)
{
    // Worked in doubles so that huge or non-finite times cannot overflow an
    // integer; for every realistic time the parts are exact integers.
    const double h = std::trunc(t / 3600);
    const double allMinutes = std::trunc(t / 60);
    const double m = allMinutes - 60 * h;
    const double s = std::trunc(t - 60 * allMinutes);
    return timePart(h) + QLatin1Char(':') + timePart(m) + QLatin1Char(':') + timePart(s);
}

QString energyText(double e)
{
    // The range is chosen on the unrounded value.
    if (-1000 < e && e < 1000)
        return numberText(e, 3) + QLatin1String(" mWh");
    if (-1000000 < e && e < 1000000)
        return numberText(e / 1000, 3) + QLatin1String(" Wh  ");
    return numberText(e / 1000000, 3) + QLatin1String(" kWh");
}

ReadoutTexts readoutTexts(const Measurement &m)
{
    ReadoutTexts t;
    t.time = elapsedText(m.seconds);

    t.energyShown = energyText(m.milliwattHours());

    t.power = numberText(m.watts, 3);
    t.volts = numberText(m.volts, 2);
    t.current = numberText(m.amps, 3);
    t.lead = m.lead;
    t.powerFactor = numberText(m.powerFactor, 3);
    t.apparent = numberText(m.voltAmperes, 3);
    return t;
}

QString timeField(const ReadoutTexts &t) { return t.time + QLatin1String(" HMS"); }
QString powerField(const ReadoutTexts &t) { return t.power + QLatin1String(" W    "); }
QString voltsField(const ReadoutTexts &t) { return t.volts + QLatin1String(" V     "); }
QString currentField(const ReadoutTexts &t) { return t.current + QLatin1String(" A     "); }
QString apparentField(const ReadoutTexts &t) { return t.apparent + QLatin1String(" VA   "); }

QString powerFactorField(const ReadoutTexts &t)
{
    return t.powerFactor + (t.lead ? QLatin1String(" Lead") : QLatin1String(" Lag "));
}

} // namespace quelmar
