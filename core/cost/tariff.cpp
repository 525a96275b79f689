// SPDX-License-Identifier: GPL-3.0-or-later
#include "tariff.h"

#include <QList>
#include <QRegularExpression>

#include <cmath>

namespace quelmar {

namespace {

QString clock(int minute)
{
    return QStringLiteral("%1:%2").arg(minute / 60, 2, 10, QLatin1Char('0')).arg(minute % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

bool Tariff::parse(const QByteArray &text, Tariff &tariff, QString *why)
{
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d\\d):(\\d\\d)\\s*-\\s*(\\d\\d):(\\d\\d)\\s+(\\S+)\\s*$"));
    const auto fail = [why](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    std::vector<double> minutes(1440, -1);
    std::vector<int> lineOf(1440, 0);
    const QList<QByteArray> lines = text.split('\n');
    for (int n = 1; n <= lines.size(); ++n) {
        QByteArray line = lines[n - 1];
        if (line.contains('#'))
            line.truncate(line.indexOf('#'));
        if (line.trimmed().isEmpty())
            continue;
        const QRegularExpressionMatch m = form.match(QString::fromUtf8(line));
        bool ok = m.hasMatch();
        const double cents = ok ? m.captured(5).toDouble(&ok) : 0;
        const int from = m.captured(1).toInt() * 60 + m.captured(2).toInt();
        int to = m.captured(3).toInt() * 60 + m.captured(4).toInt();
        if (!ok || !std::isfinite(cents) || cents < 0 || m.captured(2).toInt() > 59 || m.captured(4).toInt() > 59
            || from >= 1440 || to > 1440)
            return fail(QStringLiteral("line %1 is not a span of the day and cents per kWh, like "
                                       "\"07:00-23:00 30.5\": %2")
                            .arg(n)
                            .arg(QString::fromUtf8(lines[n - 1].trimmed())));
        // A span that ends where it starts, or before, runs past midnight.
        if (to <= from)
            to += 1440;
        for (int t = from; t < to; ++t) {
            const int minute = t % 1440;
            if (lineOf[minute] != 0)
                return fail(QStringLiteral("line %1 prices %2 again, which line %3 already does")
                                .arg(n)
                                .arg(clock(minute))
                                .arg(lineOf[minute]));
            lineOf[minute] = n;
            minutes[minute] = cents;
        }
    }
    for (int minute = 0; minute < 1440; ++minute) {
        if (lineOf[minute] != 0)
            continue;
        int end = minute;
        while (end < 1440 && lineOf[end] == 0)
            ++end;
        return fail(QStringLiteral("no line prices %1 to %2").arg(clock(minute), clock(end)));
    }
    tariff.m_minutes = std::move(minutes);
    return true;
}

} // namespace quelmar
