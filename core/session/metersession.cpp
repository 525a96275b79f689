// SPDX-License-Identifier: GPL-3.0-or-later
#include "metersession.h"

#include "core/measure/readouttext.h"

#include <QDateTime>

namespace quelmar {

namespace {

constexpr int kAttempts = 3;

} // namespace

MeterSession::MeterSession(QObject *parent, int historyReadings)
    : QObject(parent)
    , m_history(historyReadings)
    , m_clock(&QDateTime::currentMSecsSinceEpoch)
{
    connect(&m_timer, &QTimer::timeout, this, &MeterSession::poll);
    // The meter may have been replaced or restarted while the line was down.
    connect(&m_link, &SerialLink::reopened, this, &MeterSession::addressFirst);
}

bool MeterSession::begin(const QString &port)
{
    m_link.setPort(port);
    addressFirst();
    return m_link.open();
}

void MeterSession::addressFirst()
{
    // A clear asked for while the line was down still reaches the meter.
    if (m_pending != Command::AddressChange)
        m_then = m_pending;
    m_pending = Command::AddressChange;
}

int MeterSession::poll()
{
    // A fresh array every cycle: no reading outlives the cycle that read it.
    double vals[kMeasurementCount] = {};
    int r = kNotPolled;
    const Command sent = m_pending;
    if (m_link.isUp()) {
        r = kNoReply;
        for (int attempt = 0; attempt < kAttempts && !isAnswer(r) && m_link.isUp(); ++attempt) {
            m_link.send(kMeterAddress, CommandText(m_pending));
            r = m_link.receive(kMeterAddress, vals);
        }
        // A line lost within the cycle took nothing to the meter: what was
        // pending waits for the reconnect.
        if (m_link.isUp()) {
            m_pending = m_then;
            m_then = Command::Poll;
        }
    }
    const Measurement m = Measurement::fromArray(vals);
    if (r == kClearAckResult) {
        m_history.markClear();
        emit clearAcknowledged();
    }
    // The meter answers a clear with its acknowledgement: a reading read in
    // a clear's cycle was sent before the clear, and would put the old
    // counter into a log that was to start from zero.
    if (isReading(r) && sent != Command::Clear)
        pass(m);
    if (isAnswer(r))
        m_sinceAnswer.start();
    const bool up = isAnswer(r) || (m_up && !m_sinceAnswer.hasExpired(kSilentMs));
    if (up != m_up) {
        m_up = up;
        emit linkChanged(m_up);
    }
    emit polled(r, m);
    return r;
}

void MeterSession::startRecords(int period)
{
    m_recordPeriod = period;
    m_countdown = 2 * period + 1;
    m_records = 0;
}

void MeterSession::pass(const Measurement &m)
{
    // One clock for the records and for the history.
    const qint64 now = m_clock();
    if (m_recordPeriod > 0) {
        if (m_countdown == 2 * m_recordPeriod)
            emit recordDue(Record::of(m, now, m_records++));
        if (--m_countdown == 0)
            m_countdown = 2 * m_recordPeriod;
    }
    m_history.add(now, m);
    emit measured(m, readoutTexts(m));
}

} // namespace quelmar
