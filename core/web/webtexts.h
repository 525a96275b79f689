// SPDX-License-Identifier: GPL-3.0-or-later
// What the web face serves, worked out without a network: the Prometheus
// metrics, the page's live figures, the last hour of the history, and
// today's energy.
#pragma once

#include "core/history/chartmath.h"
#include "core/measure/record.h"
#include "core/web/webface.h"

#include <QByteArray>

namespace quelmar {

// Today's energy as the report counts it: the energy between two records
// counts on the local date of the later one.
class DayEnergy
{
public:
    void add(const Record &r);
    // The records counted are of the local date of `nowMs`.
    bool isOn(qint64 nowMs) const;
    double milliwattHours() const { return m_energy; }
    // Local midnight, or the first record of a run that began that day.
    qint64 sinceMs() const { return m_since; }

private:
    Record m_last;
    RecordPeriod m_period;
    bool m_any = false;
    qint64 m_day = 0;       // Julian day of the records counted
    qint64 m_since = 0;
    double m_energy = 0;    // mWh
};

// All the web face shows, at the moment of a request.
struct WebFigures {
    const WebConfig *config = nullptr;
    const Record *record = nullptr;  // the current record; null when none or the meter is silent
    bool meterUp = false;
    qint64 pollFailures = 0;
    WebCounts counts;
    const DayEnergy *today = nullptr;
    qint64 nowMs = 0;
};

// Prometheus' text format: every family with HELP and TYPE, base units,
// the port and the MQTT id as labels. A reading not known is left out.
QByteArray metricsText(const WebFigures &f);

// The page's figures: the meter, the current record as the broker's state,
// today's energy and cost, the log and the broker.
QByteArray liveJson(const WebFigures &f);

// Real power over the hour before `nowMs`, at most two points per column of
// kHistoryColumns, and the silences longer than a column, as
// {"from":ms,"to":ms,"points":[[ms,W],...],"gaps":[[ms,ms],...]}.
inline constexpr int kHistoryColumns = 500;
QByteArray historyJson(const ReadingHistory &h, qint64 nowMs);

} // namespace quelmar
