// SPDX-License-Identifier: GPL-3.0-or-later
// One session with the meter, whatever the front end: the serial line, the
// poll timer, the command the next cycle sends, the record rhythm and the
// readings of the session. Every reading takes one road, through pass():
// it becomes a record when one falls due, is kept in the history, and is
// reported. The window and the command-line logger are views of it; their
// logs and the broker follow its records.
#pragma once

#include "core/history/history.h"
#include "core/measure/measurement.h"
#include "core/measure/record.h"
#include "core/port/seriallink.h"
#include "core/wire/protocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace quelmar {

struct ReadoutTexts;

class MeterSession : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPollPeriodMs = 500;
    // One meter on the line, always at this address.
    static constexpr int kMeterAddress = 1;
    // A meter that has not answered for this long is gone; one missed reply
    // on a busy computer is not.
    static constexpr int kSilentMs = 3000;

    // The address change is pending, so the first cycle addresses the meter.
    // The history keeps the newest `historyReadings` readings: a day's by
    // default, for the chart.
    explicit MeterSession(QObject *parent = nullptr, int historyReadings = kDayOfReadings);

    SerialLink &link() { return m_link; }
    const SerialLink &link() const { return m_link; }
    const ReadingHistory &history() const { return m_history; }

    // Opens `port` as a reconnect does: the address change goes out first,
    // then the command that was pending. A port that does not open is tried
    // again by the link. False when it did not open now.
    bool begin(const QString &port);

    // The poll timer: a cycle every kPollPeriodMs while it runs.
    void startPolling() { m_timer.start(kPollPeriodMs); }
    void stopPolling() { m_timer.stop(); }
    const QTimer &pollTimer() const { return m_timer; }

    // Makes the address change pending, with the command it replaces held
    // back until it has gone out, as a reopened line does: a clear asked for
    // while the line was down still reaches the meter.
    void addressFirst();

    // The command the next cycle sends instead of a poll. There is one, not
    // a queue: the last call wins, also over what a reconnect held back.
    void setPending(Command c)
    {
        m_pending = c;
        m_then = Command::Poll;
    }
    Command pending() const { return m_pending; }

    // One poll cycle: up to three attempts of the pending command until the
    // meter answers, a reading passed on, then a poll pending again. With
    // the line down it sends nothing, keeps the pending command and returns
    // kNotPolled. Otherwise the last attempt's result (see acceptReply).
    int poll();

    // The record rhythm: with records started, one falls due on the second
    // readout pass and then on every 2 * `period` passes, which at two
    // passes a second is one every `period` seconds. Passes set the pace,
    // not a clock: lost replies stretch it. Starting again starts over.
    void startRecords(int period);
    void stopRecords() { m_recordPeriod = 0; }
    // Seconds between records; 0 while none are due.
    int recordPeriod() const { return m_recordPeriod; }

    // One reading through the session: recordDue() when a record falls due,
    // the history, then measured().
    void pass(const Measurement &m);

    // Milliseconds since the epoch for the log and the history; the
    // computer's clock unless a test sets another.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    qint64 now() const { return m_clock(); }

signals:
    // Whatever becomes of it: records are not held back or repeated.
    void recordDue(const quelmar::Record &r);
    void measured(const quelmar::Measurement &m, const quelmar::ReadoutTexts &texts);
    void clearAcknowledged();
    // After every cycle: its result and what its array held.
    void polled(int result, const quelmar::Measurement &m);
    // The meter began answering, or has not answered for kSilentMs.
    void linkChanged(bool up);

private:
    SerialLink m_link;
    ReadingHistory m_history;
    QTimer m_timer;
    std::function<qint64()> m_clock;
    Command m_pending = Command::AddressChange;
    // What a reconnect's address change held back; pending after it.
    Command m_then = Command::Poll;
    bool m_up = false;
    QElapsedTimer m_sinceAnswer; // monotonic, whatever clock the records take
    int m_recordPeriod = 0;
    int m_countdown = 0;    // passes down to the next record
    qint64 m_records = 0;   // records due since startRecords()
};

} // namespace quelmar
