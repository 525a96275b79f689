// SPDX-License-Identifier: GPL-3.0-or-later
// The logger's web face on Qt's HTTP server, on the logger's event loop:
// read-only, a fixed set of paths, each request handled at once from what
// the session already holds, so a poll never waits on a client.
#pragma once

#include "core/web/webtexts.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QObject>

class QTcpServer;

namespace quelmar {

class WebServer : public QObject, public WebFace
{
    Q_OBJECT

public:
    // Requests larger than this, with what their client sent since its
    // last answer, are refused: a reader never needs more.
    static constexpr qint64 kMaxRequestBytes = 8 * 1024;
    // Clients at once; more are turned away, so that clients never take the
    // file descriptors the serial line needs to come back.
    static constexpr int kMaxClients = 100;

    explicit WebServer(const WebConfig &config);
    ~WebServer() override;

    bool listen(QString *why) override;
    QString url() const override;
    bool isLoopback() const override;
    QString missing() const override;
    void record(const Record &r) override;
    void polled(int result) override;
    void meterChanged(bool up) override;

private:
    void answer(const QHttpServerRequest &request, QHttpServerResponder &&responder);

    WebConfig m_config;
    QHostAddress m_address;
    QHttpServer m_http;
    QTcpServer *m_tcp = nullptr;
    Record m_record;
    bool m_haveRecord = false;
    bool m_meterUp = false;
    qint64 m_pollFailures = 0;
    DayEnergy m_today;
};

} // namespace quelmar
