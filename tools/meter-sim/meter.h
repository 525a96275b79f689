// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated meter without any I/O: a load model that turns a clock into
// readings, and a session that turns received bytes into reply bytes. The
// executable adds the pseudo-terminal and the line pacing around them.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>

#include <cstdint>
#include <functional>
#include <random>

namespace quelmar::sim {

// Seconds on a monotonic clock; tests pass their own.
using Clock = std::function<double()>;

enum class Profile { Constant, Fridge };

struct LoadConfig {
    double volts = 230.0;
    double amps = 120.0 / (230.0 * 0.9);  // running current: 120 W
    double pf = 0.9;     // 0..1
    bool lag = true;
    Profile profile = Profile::Constant;
    double timeScale = 1.0;  // meter seconds per clock second
};

// One reading in the units the meter sends.
struct Reading {
    long long elapsed;   // s since start or clear
    long long energy;    // mW·s
    long long power;     // mW
    long long voltage;   // µV
    long long current;   // µA
    long long lag;       // 0 lead, 1 lag
    long long pf;        // millionths
    long long apparent;  // mVA
};

// Fridge cycle: the compressor starts with a surge of four times its running
// current for 2 s, runs for 40 s in all, then the fridge idles for 80 s at a
// sixtieth of the running load (2 W for a 120 W compressor).
class LoadModel {
public:
    LoadModel(const LoadConfig &config, Clock clock);
    Reading read() const;
    void clear();

    // Load relative to the running load at meter time t, and its integral
    // from 0 to t; energy comes from the integral so it stays exact however
    // seldom the meter is asked.
    double factor(double t) const;
    double integral(double t) const;

private:
    double meterTime() const;

    LoadConfig m_config;
    Clock m_clock;
    double m_start;
    double m_clearedAt = 0.0;  // meter time of the last clear
};

struct Faults {
    double drop = 0.0;     // share of replies not sent
    double corrupt = 0.0;  // share sent with a wrong checksum
    double garbage = 0.0;  // share preceded or replaced by random bytes
    int split = 1;         // pieces per reply
};

// Answers S and A (sent to FF) with a reading: a reply counter, a status of
// 0, then the eight measurements. Answers E by clearing the load model. The
// address stays the one it was given: A is answered, not obeyed. Frames with
// a bad checksum, for another address or with an unknown command go
// unanswered, as on the real line.
class Session {
public:
    Session(int address, LoadModel &model, const Faults &faults, std::uint64_t seed);

    // Takes received bytes; returns one entry per reply to send, each the
    // list of pieces to write with a pause between them.
    QList<QByteArrayList> feed(QByteArrayView bytes);

    // After this many answered frames everything else is ignored.
    void setFrameLimit(int frames) { m_limit = frames; }
    // Called with each frame received, without its CR, answered or not.
    void setFrameObserver(std::function<void(const QByteArray &)> observer) { m_observer = std::move(observer); }
    bool finished() const { return m_limit > 0 && m_handled >= m_limit; }

private:
    QByteArray answer(const QByteArray &frame);
    QByteArrayList deliver(QByteArray reply);
    bool chance(double p);

    int m_address;
    LoadModel &m_model;
    Faults m_faults;
    std::mt19937_64 m_rng;
    QByteArray m_pending;
    std::function<void(const QByteArray &)> m_observer;
    int m_handled = 0;
    int m_limit = 0;
    long long m_replies = 0;
};

} // namespace quelmar::sim
