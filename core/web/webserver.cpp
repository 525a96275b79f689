// SPDX-License-Identifier: GPL-3.0-or-later
#include "webserver.h"

#include "core/publish/mqttpayload.h"
#include "core/wire/protocol.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

#include <unistd.h>

namespace quelmar {

namespace {

using Status = QHttpServerResponder::StatusCode;
using Method = QHttpServerRequest::Method;

// What a client has sent since its last answer.
struct Unanswered {
    qint64 bytes = 0;
    qint64 header = -1;  // the header's length, with its empty line; -1 while it goes on
    bool refused = false;
};

// Accepts clients up to the limit, and cuts off one whose request grows
// past kMaxRequestBytes before Qt's server buffers it: the server keeps a
// whole request, body and all, in memory.
class Gate : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr fd) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(fd)) {
            ::close(int(fd));
            delete socket;
            return;
        }
        if (m_clients >= WebServer::kMaxClients) {
            socket->abort();
            delete socket;
            return;
        }
        ++m_clients;
        connect(socket, &QObject::destroyed, this, [this] { --m_clients; });
        // Connected before the server's own slot, so it sees each byte first.
        auto sent = std::make_shared<Unanswered>();
        connect(socket, &QTcpSocket::readyRead, socket, [socket, sent] {
            const QByteArray chunk = socket->peek(socket->bytesAvailable());
            if (const qsizetype end = chunk.indexOf("\r\n\r\n"); sent->header < 0 && end >= 0)
                sent->header = sent->bytes + end + 4;
            sent->bytes += chunk.size();
            if (sent->bytes <= WebServer::kMaxRequestBytes)
                return;
            socket->readAll();
            if (sent->refused)
                return;
            sent->refused = true;
            const bool longHeader = sent->header < 0 || sent->header > WebServer::kMaxRequestBytes;
            socket->write(longHeader ? "HTTP/1.1 431 Request Header Fields Too Large\r\n" : "HTTP/1.1 413 Content Too Large\r\n");
            socket->write("Content-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::bytesWritten, socket, [sent] {
            if (!sent->refused)
                *sent = Unanswered();
        });
        addPendingConnection(socket);
    }

private:
    int m_clients = 0;
};

// The files of the page, built into the module, and the chart library from
// its Debian package; nothing else on disk is ever read.
struct Asset {
    const char *path;
    const char *file;
    const char *type;
};
const Asset kAssets[] = {
    {"/", ":/web/index.html", "text/html; charset=utf-8"},
    {"/app.js", ":/web/app.js", "text/javascript; charset=utf-8"},
    {"/style.css", ":/web/style.css", "text/css; charset=utf-8"},
    {"/chart.js", QUELMAR_CHARTJS_FILE, "text/javascript; charset=utf-8"},
};

// One answer. Qt 6.4's server would send a body after HEAD too, which
// breaks the next answer on a kept-alive connection, and would keep the
// connection of a client that asked to close it.
void send(QHttpServerResponder &out, const QHttpServerRequest &request, Status status, const QByteArray &type,
          const QByteArray &body)
{
    bool close = false;
    for (const auto &[name, value] : request.headers())
        close = close || (name.compare("Connection", Qt::CaseInsensitive) == 0 && value.compare("close", Qt::CaseInsensitive) == 0);
    out.writeStatusLine(status);
    out.writeHeader("Content-Type", type);
    out.writeHeader("Content-Length", QByteArray::number(body.size()));
    out.writeHeader("Cache-Control", "no-store");
    out.writeHeader("X-Content-Type-Options", "nosniff");
    if (type.startsWith("text/html"))
        out.writeHeader("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    if (status == Status::MethodNotAllowed)
        out.writeHeader("Allow", "GET, HEAD");
    if (close)
        out.writeHeader("Connection", "close");
    // The empty line after the headers comes with the body.
    out.writeBody(request.method() == QHttpServerRequest::Method::Head ? QByteArray() : body);
    if (close)
        out.socket()->disconnectFromHost();
}

} // namespace

WebServer::WebServer(const WebConfig &config)
    : m_config(config)
{
    m_http.setMissingHandler([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        answer(request, std::move(responder));
    });
}

WebServer::~WebServer() = default;

bool WebServer::listen(QString *why)
{
    if (!m_address.setAddress(m_config.address)) {
        *why = QStringLiteral("%1 is not an IP address").arg(m_config.address);
        return false;
    }
    m_tcp = new Gate(this);
    if (!m_tcp->listen(m_address, quint16(m_config.port))) {
        *why = QStringLiteral("cannot listen on %1 port %2: %3").arg(m_config.address).arg(m_config.port).arg(m_tcp->errorString());
        return false;
    }
    m_http.bind(m_tcp);
    return true;
}

QString WebServer::url() const
{
    const QString host = m_address.protocol() == QAbstractSocket::IPv6Protocol ? '[' + m_address.toString() + ']' : m_address.toString();
    return QStringLiteral("http://%1:%2/").arg(host).arg(m_tcp ? m_tcp->serverPort() : 0);
}

bool WebServer::isLoopback() const
{
    return m_address.isLoopback();
}

QString WebServer::missing() const
{
    if (QFile(QStringLiteral(QUELMAR_CHARTJS_FILE)).open(QIODevice::ReadOnly))
        return {};
    return QStringLiteral("the page shows no chart: %1 cannot be read (Debian package libjs-chart.js)")
        .arg(QStringLiteral(QUELMAR_CHARTJS_FILE));
}

void WebServer::record(const Record &r)
{
    m_record = r;
    m_haveRecord = true;
    m_today.add(r);
}

void WebServer::polled(int result)
{
    // A cycle with the line down sent nothing, so nothing failed.
    if (result != kNotPolled && !isAnswer(result))
        ++m_pollFailures;
}

void WebServer::meterChanged(bool up)
{
    m_meterUp = up;
}

void WebServer::answer(const QHttpServerRequest &request, QHttpServerResponder &&out)
{
    if (request.method() != Method::Head && request.method() != Method::Get) {
        send(out, request, Status::MethodNotAllowed, "text/plain; charset=utf-8", "This server only reads: GET or HEAD.\n");
        return;
    }
    const QString path = request.url().path();
    WebFigures f;
    f.config = &m_config;
    // A record from before the meter went silent is not current.
    f.record = m_haveRecord && m_meterUp ? &m_record : nullptr;
    f.meterUp = m_meterUp;
    f.pollFailures = m_pollFailures;
    f.counts = m_config.counts();
    f.today = &m_today;
    f.nowMs = m_config.now();
    if (path == QLatin1String("/metrics")) {
        send(out, request, Status::Ok, "text/plain; version=0.0.4; charset=utf-8", metricsText(f));
    } else if (path == QLatin1String("/state.json")) {
        if (f.record)
            send(out, request, Status::Ok, "application/json", mqtt::statePayload(m_record));
        else
            send(out, request, Status::ServiceUnavailable, "application/json",
                 m_haveRecord ? "{\"error\":\"the meter does not answer\"}" : "{\"error\":\"no record yet\"}");
    } else if (path == QLatin1String("/live.json")) {
        send(out, request, Status::Ok, "application/json", liveJson(f));
    } else if (path == QLatin1String("/history.json")) {
        send(out, request, Status::Ok, "application/json", historyJson(*m_config.history, f.nowMs));
    } else {
        for (const Asset &a : kAssets) {
            QFile file(QLatin1String(a.file));
            if (path == QLatin1String(a.path) && file.open(QIODevice::ReadOnly))
                return send(out, request, Status::Ok, a.type, file.readAll());
        }
        send(out, request, Status::NotFound, "text/plain; charset=utf-8", "Not found.\n");
    }
}

} // namespace quelmar
