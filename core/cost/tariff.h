// SPDX-License-Identifier: GPL-3.0-or-later
// A price per kWh that may change with the time of day.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace quelmar {

class Tariff
{
public:
    // The same price all day.
    explicit Tariff(double centsPerKWh = 0) : m_flat(centsPerKWh) {}

    // Lines like "07:00-23:00 30.5" and "23:00-07:00 12": a span of the day
    // (to 24:00, or past midnight) and its price in cents per kWh. Blank
    // lines and lines from "#" on are left out. Every minute of the day must
    // be in exactly one span. False, with `why` naming the line or the
    // minutes at fault, when they are not.
    static bool parse(const QByteArray &text, Tariff &tariff, QString *why);

    bool byTime() const { return !m_minutes.empty(); }
    // The price at `secondsOfDay` local time.
    double centsAt(int secondsOfDay) const
    {
        return m_minutes.empty() ? m_flat : m_minutes[std::size_t(secondsOfDay / 60 % 1440)];
    }

private:
    double m_flat;
    std::vector<double> m_minutes;  // 1440 prices, one a minute, when by time
};

} // namespace quelmar
