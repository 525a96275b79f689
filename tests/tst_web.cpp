// SPDX-License-Identifier: GPL-3.0-or-later
// The logger's web face: today's energy and the chart's hour worked out by
// hand, then one logger on the simulated meter (a fridge, ten times as
// fast) with --listen, against raw requests, promtool, a Prometheus of the
// test's own, headless Chromium and a broker of its own.
#include "core/history/history.h"
#include "core/logfile/logrecord.h"
#include "core/web/webtexts.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

int freePort()
{
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost) ? s.serverPort() : 0;
}

// A raw request, and all that comes back until the server closes.
QByteArray exchange(int port, const QByteArray &request)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, quint16(port));
    s.waitForConnected(2000);
    s.write(request);
    for (int waited = 0; s.state() == QAbstractSocket::ConnectedState && waited < 5000; waited += 100)
        s.waitForReadyRead(100);
    return s.readAll();
}

QByteArray body(const QByteArray &answer) { return answer.mid(answer.indexOf("\r\n\r\n") + 4); }
QString match(const QString &text, const char *pattern) { return QRegularExpression(pattern).match(text).captured(1); }

} // namespace

class tst_Web : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    MeterSim sim;
    QProcess logger, broker, sub, prometheus; // killed as they go
    int port = 0, brokerPort = freePort();

    QByteArray get(const QByteArray &path) { return exchange(port, "GET " + path + " HTTP/1.1\r\nConnection: close\r\n\r\n"); }

private slots:
    void initTestCase()
    {
        broker.start("mosquitto", {"-p", QString::number(brokerPort)});
        // mosquitto_sub gives up on a broker that is not listening yet.
        QTRY_VERIFY([this] { QTcpSocket s; s.connectToHost(QHostAddress::LocalHost, quint16(brokerPort)); return s.waitForConnected(500); }());
        sub.start("mosquitto_sub", {"-p", QString::number(brokerPort), "-t", "quelmar/web/state"});
        logger.start(LOGGER_EXE, {"--port", sim.start({"--profile", "fridge", "--time-scale", "10"}), "--listen", "0", "--cents", "30", "--mqtt",
                                  "127.0.0.1:" + QString::number(brokerPort), "--mqtt-id", "web", "--mqtt-period", "1", "--clock", dir.filePath("log.csv")});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(!match(said += logger.readAllStandardError(), "serving the readings on http://127.0.0.1:(\\d+)/").isEmpty(), 10000);
        port = match(said, "serving the readings on http://127.0.0.1:(\\d+)/").toInt();
        QTRY_VERIFY_WITH_TIMEOUT(get("/state.json").startsWith("HTTP/1.1 200 OK"), 10000);
    }

    // Records of March 2026 in Berlin, "day hh:mm:ss mWh meter-seconds W".
    void todayEnergy_data()
    {
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("today"); // mWh since when, or "-" for not known
        QTest::newRow("a run that began today") << QStringList{"28 10:00:00 1000 100 120", "28 10:00:01 1001.5 101 120", "28 10:00:02 1003 102 120"}
                                                << "28 11:00:00" << "3.000 since 2026-03-28T10:00:00+01:00";
        QTest::newRow("the step across midnight counts on the new day")
            << QStringList{"28 23:59:58 500 1000 36", "28 23:59:59 510 1001 36", "29 00:00:01 520 1002 36", "29 00:00:02 535 1003 54"} << "29 00:00:03"
            << "25.000 since 2026-03-29T00:00:00+01:00";
        // 333.333 mWh over a 10 s period; then a clear (the meter's time went
        // back, its counter did not) 5 s before a record whose counter says
        // 400: 120 W for those 5 s is 166.667 mWh.
        QTest::newRow("a clear: the counter since it, and the stretch before it at the power before")
            << QStringList{"28 12:00:00 50 100 120", "28 12:00:10 383.333 110 120", "28 12:00:20 400 5 120"} << "28 12:01:00"
            << "900.000 since 2026-03-28T12:00:00+01:00";
        QTest::newRow("no record today yet") << QStringList{"28 23:59:59 500 10 6"} << "29 00:30:00" << "-";
    }
    void todayEnergy()
    {
        QFETCH(QStringList, records);
        QFETCH(QString, now);
        const auto at = [](const QString &t) { return QDateTime::fromString("2026-03-" + t.left(2) + 'T' + t.mid(3, 8) + "+01:00", Qt::ISODate).toMSecsSinceEpoch(); };
        quelmar::DayEnergy day;
        for (const QString &text : records) {
            const QStringList f = text.split(' ');
            quelmar::Record r;
            r.atMs = at(f[0] + ' ' + f[1]), r.milliwattHours = f[2].toDouble(), r.seconds = f[3].toDouble(), r.watts = f[4].toDouble();
            day.add(r);
        }
        QTEST(day.isOn(at(now)) ? QString::number(day.milliwattHours(), 'f', 3) + " since " + quelmar::clockText(day.sinceMs()) : "-", "today");
    }

    // Two hours at 2 readings a second, at 100 W but for a 3000 W spike and
    // a minute of silence: the last hour thins to 1,000 points at most.
    void lastHour()
    {
        quelmar::ReadingHistory h(quelmar::kHourOfReadings * 2);
        const qint64 t0 = 1'800'000'000'000;
        for (qint64 ms = 0; ms < 7'200'000; ms += 500) {
            if (ms < 6'000'000 || ms > 6'060'000)
                h.add(quelmar::Reading{t0 + ms, 0, 0, ms == 5'000'000 ? 3000.0 : 100.0});
        }
        const QJsonObject o = QJsonDocument::fromJson(quelmar::historyJson(h, t0 + 7'200'000)).object();
        QCOMPARE(o["from"].toInteger(), t0 + 3'600'000);
        QCOMPARE(o["gaps"].toArray(), QJsonArray({QJsonArray{t0 + 6'000'000 - 500, t0 + 6'060'500}}));
        const QJsonArray points = o["points"].toArray();
        QVERIFY2(points.size() > 450 && points.size() <= 1000, qPrintable(QString::number(points.size())));
        QVERIFY(points.contains(QJsonArray{t0 + 5'000'000, 3000}));
        QCOMPARE(points.first()[0].toInteger(), t0 + 3'600'000);
    }

    // Raw requests, and a regular expression the answer must match.
    void requests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("answer");
        const QByteArray end = "\r\nConnection: close\r\n\r\n";
        QTest::newRow("metrics") << "GET /metrics HTTP/1.1" + end
                                 << R"(^HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4.*\nquelmar_meter_up\{port="/dev/pts/\d+",mqtt_id="web"\} 1\n.*\nquelmar_broker_up\{[^}]+\} 1\n)";
        QTest::newRow("page") << "GET / HTTP/1.1" + end << "^HTTP/1.1 200 .*Content-Security-Policy: default-src 'self'.*<script src=\"app.js\"";
        QTest::newRow("chart library from Debian") << "GET /chart.js HTTP/1.1" + end << R"(^HTTP/1.1 200 .*\* Chart\.js v3\.9\.1)";
        QTest::newRow("HEAD, then GET on the same connection") << "HEAD /state.json HTTP/1.1\r\n\r\nGET /nothing HTTP/1.1" + end
                                                               << "^HTTP/1.1 200 OK\r\n[^{]*\r\n\r\nHTTP/1.1 404 Not Found\r\n";
        QTest::newRow("POST") << "POST /metrics HTTP/1.1\r\nContent-Length: 2" + end + "ab" << "^HTTP/1.1 405 .*Allow: GET, HEAD\r\n";
        QTest::newRow("..") << "GET /../../../../etc/passwd HTTP/1.1" + end << "^HTTP/1.1 404 ";
        QTest::newRow("encoded ..") << "GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1" + end << "^HTTP/1.1 404 ";
        QTest::newRow("oversized header") << "GET / HTTP/1.1\r\nX-Pad: " + QByteArray(9000, 'a') + end << "^HTTP/1.1 431 ";
        QTest::newRow("oversized body") << "POST / HTTP/1.1\r\nContent-Length: 100000" + end + QByteArray(20000, 'a') << "^HTTP/1.1 413 ";
    }
    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, answer);
        const QByteArray got = exchange(port, request);
        QVERIFY2(QRegularExpression(answer, QRegularExpression::DotMatchesEverythingOption).match(got).hasMatch(), got.left(600).constData());
    }

    // The 101st client at once is turned away; the places come back.
    void clientLimit()
    {
        std::vector<std::unique_ptr<QTcpSocket>> clients(101);
        for (auto &c : clients)
            c = std::make_unique<QTcpSocket>(), c->connectToHost(QHostAddress::LocalHost, quint16(port)), c->waitForConnected(2000);
        QTRY_COMPARE(clients.back()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(clients.front()->state(), QAbstractSocket::ConnectedState);
        clients.clear();
        QTRY_VERIFY(get("/state.json").startsWith("HTTP/1.1 200 OK"));
    }

    void promtool()
    {
        QProcess p;
        p.start("promtool", {"check", "metrics"});
        p.write(body(get("/metrics")));
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.readAll() + p.readAllStandardError() + QByteArray::number(p.exitCode()), "0");
    }

    void stateIsTheBrokersState()
    {
        QByteArray state, published;
        QTRY_VERIFY_WITH_TIMEOUT((state = body(get("/state.json")), published += sub.readAllStandardOutput(), published.endsWith(state + '\n')), 10000);
        QVERIFY(state.startsWith("{\"power\":"));
    }

    // Each sample Prometheus scraped, joined on its timestamp: the n-th
    // record of the log holds the power, voltage and energy scraped with n
    // records written.
    void prometheusScrapes()
    {
        const int web = freePort();
        writeFile(dir.filePath("prometheus.yml"), "global: {scrape_interval: 1s}\nscrape_configs: [{job_name: q, static_configs: [{targets: ['127.0.0.1:"
                                                      + QByteArray::number(port) + "']}]}]\n");
        prometheus.start("prometheus", {"--config.file=" + dir.filePath("prometheus.yml"), "--storage.tsdb.path=" + dir.filePath("tsdb"),
                                        "--web.listen-address=127.0.0.1:" + QString::number(web)});
        QMap<QString, QMap<double, double>> samples; // metric: time: value
        const auto query = [&](const QString &metric) {
            const QJsonObject o = QJsonDocument::fromJson(body(exchange(web, "GET /api/v1/query?query=" + metric.toLatin1() + "%5B5m%5D HTTP/1.0\r\n\r\n"))).object();
            for (const QJsonValue v : o["data"]["result"][0]["values"].toArray())
                samples[metric][v[0].toDouble()] = v[1].toString().toDouble();
            return samples[metric].size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(query("quelmar_records_written_total") >= 8, 40000);
        query("quelmar_power_watts"), query("quelmar_voltage_volts"), query("quelmar_energy_watthours_total");
        const QList<QByteArray> log = fileBytes(dir.filePath("log.csv")).split('\n');
        for (auto [at, n] : samples["quelmar_records_written_total"].asKeyValueRange()) {
            const QList<QByteArray> record = log.value(int(n)).split(',');
            QCOMPARE(samples["quelmar_power_watts"].value(at), record.value(2).toDouble());
            QCOMPARE(samples["quelmar_voltage_volts"].value(at), record.value(3).toDouble());
            QCOMPARE(qRound64(samples["quelmar_energy_watthours_total"].value(at) * 1e6), qRound64(record.value(1).toDouble() * 1e3));
        }
    }

    // The page as a browser renders it: the meter's readings, today's cost
    // at 30 c/kWh, a chart of more than one point; and a screenshot beside
    // the test.
    void page()
    {
        const QStringList chrome{"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
                                 "--disable-component-update", "--disable-sync", "--virtual-time-budget=5000", "--window-size=390,844",
                                 QStringLiteral("http://127.0.0.1:%1/").arg(port)};
        QProcess c;
        c.start("chromium", chrome + QStringList{"--user-data-dir=" + dir.filePath("c1"), "--dump-dom"});
        QVERIFY(c.waitForFinished(60000));
        const QString dom = c.readAllStandardOutput();
        for (const char *shown : {R"(id="status" class="status up">The meter answers<)", R"(id="power">(120|2|480)\.000<)", R"(id="voltage">230\.00<)",
                                  R"(id="power_factor">0\.900<)", R"(id="lead_lag">lag<)", R"x(data-points="([2-9]|[1-9]\d+)")x"})
            QVERIFY2(dom.contains(QRegularExpression(shown)), shown);
        const double kWh = match(dom, R"(id="today">(0\.\d{6})<)").toDouble();
        const double dollars = match(dom, R"(id="cost">\$(\d\.\d{5})<)").toDouble(); // rounded from the unrounded kWh
        QVERIFY2(kWh > 0 && std::abs(dollars - kWh * 30 / 100) <= 0.000006, qPrintable(QString::number(dollars)));
        const QString shot = QCoreApplication::applicationDirPath() + "/tst_web-page.png";
        c.start("chromium", chrome + QStringList{"--user-data-dir=" + dir.filePath("c2"), "--screenshot=" + shot});
        QVERIFY(c.waitForFinished(60000) && QFileInfo(shot).size() > 10000);
    }

    // No reading is served for a meter that has gone quiet: not a stale
    // one, not 0; and its unanswered polls are counted.
    void meterGone()
    {
        ::kill(pid_t(sim.process().processId()), SIGSTOP);
        QTRY_VERIFY_WITH_TIMEOUT(QString(body(get("/metrics"))).contains(QRegularExpression(R"(\nquelmar_meter_up\{[^}]+\} 0\n)")), 10000);
        const QString metrics = body(get("/metrics"));
        QVERIFY(!metrics.contains("quelmar_power_watts{"));
        QVERIFY(match(metrics, R"(\nquelmar_poll_failures_total\{[^}]+\} (\d+)\n)").toInt() >= 5); // 3 s of polls, 2 a second
        QVERIFY(get("/state.json").startsWith("HTTP/1.1 503 "));
        QVERIFY(body(get("/live.json")).contains(R"("meter":false,"state":null)"));
        sim.process().kill();
    }

    // Logger runs that refuse or warn; the port in use is held here.
    void refusals_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::newRow("port in use") << "{held}" << 2 << "cannot listen on 127.0.0.1 port {held}: The bound address is already in use";
        QTest::newRow("not an address") << "300.1.2.3:80" << 2 << "300.1.2.3 is not an IP address";
        QTest::newRow("every network") << "0.0.0.0:0" << 3 << "0.0.0.0 is not a loopback address: the readings are visible";
    }
    void refusals()
    {
        QFETCH(QString, listen);
        QFETCH(QString, said);
        QTcpServer held;
        const QString heldPort = QString::number(held.listen(QHostAddress::LocalHost) ? held.serverPort() : 0);
        QProcess p;
        p.start(LOGGER_EXE, {"--port", dir.filePath("no-meter"), "--duration", "2s", "--listen", listen.replace("{held}", heldPort), dir.filePath("no.csv")});
        QVERIFY(p.waitForFinished(10000));
        QTEST(p.exitCode(), "exitCode");
        QVERIFY2(p.readAllStandardError().contains(said.replace("{held}", heldPort).toUtf8()), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(tst_Web)
#include "tst_web.moc"
