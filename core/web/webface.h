// SPDX-License-Identifier: GPL-3.0-or-later
// What the logger sees of its web face. The face lives in a module of its
// own that the logger loads only for --listen: Qt's HTTP server brings Qt
// Network and its Kerberos and proxy libraries, which a logger that does not
// serve should never map.
#pragma once

#include <QString>

#include <functional>

namespace quelmar {

class ReadingHistory;
struct Record;

// What the logger knows of its log and broker at the moment of a request.
struct WebCounts {
    bool log = false;       // a log file is written
    qint64 written = 0;
    qint64 missed = 0;
    int broker = -1;        // -1 not publishing, 0 down, 1 up
};

struct WebConfig {
    QString address;        // a numeric IPv4 or IPv6 address
    int port = 0;           // 0: any free port
    QString meterPort;      // the serial port, a label of every metric
    QString mqttId;         // the broker's id, a label too; empty without --mqtt
    double cents = -1;      // the tariff for today's cost; -1 for none
    const ReadingHistory *history = nullptr;
    std::function<qint64()> now;        // the session's clock
    std::function<WebCounts()> counts;
};

class WebFace
{
public:
    virtual ~WebFace() = default;
    // False, with the reason, when the address cannot be listened on.
    virtual bool listen(QString *why) = 0;
    // "http://127.0.0.1:8080/", with the port in use.
    virtual QString url() const = 0;
    virtual bool isLoopback() const = 0;
    // What the page will lack, in words; empty when nothing.
    virtual QString missing() const = 0;

    // The session's news, in the order it happens.
    virtual void record(const Record &r) = 0;
    virtual void polled(int result) = 0;
    virtual void meterChanged(bool up) = 0;
};

// The session's history the page charts: the last hour, two readings a
// second.
inline constexpr int kHourOfReadings = 2 * 3600;

// The module's file, beside the logger in the build tree and in the
// package's library folder once installed, and its one entry point.
inline constexpr char kWebModule[] = "quelmar-log-web.so";
inline constexpr char kWebEntry[] = "quelmar_web_face";
using WebEntry = WebFace *(*)(const WebConfig &config);

} // namespace quelmar
