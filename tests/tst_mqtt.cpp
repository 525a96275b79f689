// SPDX-License-Identifier: GPL-3.0-or-later
// The logger publishing to a real broker: a mosquitto of the test's own on
// free ports (plain, with a password, with TLS from a CA that openssl makes
// here, with TLS for client certificates only), the simulated meter, and
// what a subscriber to every topic sees.
#include "core/publish/mqttpayload.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

class tst_Mqtt : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QProcess broker, sub, logger; // the logger of the shared run: the service, id "shared"
    QProcess lossy;               // id "lossy", its meter losing a reply in ten
    std::unique_ptr<MeterSim> sim, lossyMeter;
    QMap<QString, QString> vars; // {plain}, {auth}, {tls}, {mutual}: ports; {d}: the folder; the service's specifiers
    QList<QByteArray> seen;      // "topic payload", as they came
    QByteArray brokerSaid;       // the broker's log

    static QJsonObject json(const QByteArray &text) { return QJsonDocument::fromJson(text).object(); }
    QByteArray read(const QString &name) const { return fileBytes(QDir(dir.path()).filePath(name)); }
    // `text` with the ports and files filled in; fill() splits it into words.
    QString expand(QString text) const
    {
        for (auto v = vars.cbegin(); v != vars.cend(); ++v)
            text.replace(v.key(), v.value());
        return text;
    }
    QStringList fill(const QString &text) const { return expand(text).split(' ', Qt::SkipEmptyParts); }
    bool startBroker()
    {
        broker.start("bash", {SOURCE_DIR "/tests/support/mqtt-broker.sh", dir.path()});
        return QTest::qWaitFor([&] { return (brokerSaid += broker.readAllStandardError()).contains(" running"); }, 10000);
    }
    QByteArray last(const QString &topic, int back = 0)
    {
        while (sub.canReadLine() || sub.waitForReadyRead(0))
            seen << sub.readLine().chopped(1);
        for (qsizetype i = seen.size() - 1; i >= 0; --i)
            if (seen[i].startsWith(topic.toUtf8() + ' ') && back-- == 0)
                return seen[i].mid(topic.size() + 1);
        return {};
    }

    // Every state seen is the log's record of the same reading, no record
    // between the first state and the last lacks its state, and no record
    // is missing from the log (the meter's clock runs 20 times as fast).
    void statesAreRecords()
    {
        QList<QByteArray> lines = read("home/quelmar/shared.csv").split('\n');
        QCOMPARE(lines.takeFirst(), "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power");
        QCOMPARE(lines.takeLast(), QByteArray()); // no half record
        QList<QJsonObject> records;
        for (const QByteArray &line : std::as_const(lines)) {
            const QList<QByteArray> r = line.split(',');
            const int elapsed = QTime::fromString(r[0], "hh:mm:ss").msecsSinceStartOfDay() / 1000;
            QVERIFY2(r.size() == 8 && (records.isEmpty() || elapsed - records.last()["elapsed"].toInt() <= 40), line.constData());
            records << QJsonObject{{"elapsed", elapsed}, {"energy", qRound64(r[1].toDouble() * 1e3)}, {"power", r[2].toDouble()},
                                   {"voltage", r[3].toDouble()}, {"current", r[4].toDouble()}, {"power_factor", r[5].toDouble()},
                                   {"lead_lag", QString(r[6]).toLower()}, {"apparent_power", r[7].toDouble()}};
        }
        QList<qsizetype> at;
        for (QByteArray state; !(state = last("quelmar/shared/state", int(at.size()))).isEmpty();) {
            QVERIFY2(QRegularExpression(R"("energy":\d+\.\d{6},)").match(state).hasMatch(), state.constData()); // the log's digits
            QJsonObject o = json(state);
            o["energy"] = qRound64(o["energy"].toDouble() * 1e6); // in mWh, as the log has it
            at.prepend(records.indexOf(o));
            QVERIFY2(at.first() >= 0, state.constData());
        }
        QCOMPARE(at.last() - at.first() + 1, at.size());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(startBroker());
        const QList<QByteArray> ports = read("ports").split('\n');
        for (int i = 0; i < 4; ++i)
            vars[QStringList{"{plain}", "{auth}", "{tls}", "{mutual}"}[i]] = ports.value(i);
        vars["{d}"] = dir.path();
        sub.start("mosquitto_sub", fill("-p {plain} -t # -F") << "%t %p");
        // Past a minute of meter time within seconds, under 1 Wh for longer.
        sim = std::make_unique<MeterSim>();
        QVERIFY(!sim->start({"--no-pacing", "--lead", "--watts", "10", "--time-scale", "20", "--link", dir.filePath("meter")}).isEmpty());
        lossyMeter = std::make_unique<MeterSim>();
        lossy.start(LOGGER_EXE, fill("--mqtt 127.0.0.1:{plain} --mqtt-id lossy --port") << lossyMeter->start({"--no-pacing", "--drop", "0.1", "--seed", "7"}));
        // The shared run is the service as installed, with more options from
        // an environment file in the user's configuration folder (%E).
        QVERIFY(QDir().mkpath(dir.filePath("home/quelmar")));
        vars.insert(QMap<QString, QString>{{"%E", dir.filePath("config")}, {"%h", dir.filePath("home")}, {"%I", dir.filePath("meter")}, {"%i", "shared"},
                                           {"$QUELMAR_LOG_OPTIONS", "--mqtt 127.0.0.1:{plain} --mqtt-period 1 --mqtt-id shared"}});
        const QString service = expand(read(SOURCE_DIR "/packaging/quelmar-log@.service"));
        QVERIFY(service.contains("\nEnvironmentFile=-" + dir.filePath("config/quelmar/")));
        QStringList args = service.section("\nExecStart=", 1).section('\n', 0, 0).split(' ');
        QCOMPARE(args.takeFirst(), "quelmar-log");
        logger.start(LOGGER_EXE, args);
        QTRY_VERIFY_WITH_TIMEOUT(!last("quelmar/shared/state", 3).isEmpty(), 20000);
    }

    // {d}/by-id plays /dev/serial/by-id, with a link to {d}/dev/ttyUSB0.
    void ids_data()
    {
        QTest::addColumn<QStringList>("hostPortId");
        QTest::newRow("adapter by id") << QStringList{"Pi-Kitchen", "{d}/dev/ttyUSB0", "quelmar_usb_ftdi_ft232r_a50285bi_if00_port0"};
        QTest::newRow("no link") << QStringList{"Pi-Kitchen", "{d}/dev/ttyUSB1", "quelmar_pi_kitchen_ttyusb1"};
        QTest::newRow("window name") << QStringList{"nas.home", "COM3", "quelmar_nas_home_com3"};
        QTest::newRow("cut to 128") << QStringList{QString(200, 'X'), "COM3", "quelmar_" + QString(120, 'x')};
    }
    void ids()
    {
        QFETCH(QStringList, hostPortId);
        QVERIFY(QDir(dir.path()).mkpath("by-id") && QDir(dir.path()).mkpath("dev") && writeFile(dir.filePath("dev/ttyUSB0"), {}) && writeFile(dir.filePath("dev/ttyUSB1"), {}));
        QFile::link("../dev/ttyUSB0", dir.filePath("by-id/usb-FTDI_FT232R_A50285BI-if00-port0"));
        const QString port = expand(hostPortId[1]);
        QCOMPARE(quelmar::mqtt::defaultId(hostPortId[0], port, quelmar::mqtt::serialIdOf(port, dir.filePath("by-id"))), hostPortId[2]);
    }

    // Each number shown with the window's decimals; 2 periods and 10 s to expire.
    void discovery_data()
    {
        QTest::addColumn<QString>("expected"); // device class, unit, state class, precision, category
        for (const char *row : {"power power W measurement 3 ", "apparent_power apparent_power VA measurement 3 ", "voltage voltage V measurement 2 ",
                                "current current A measurement 3 ", "power_factor power_factor  measurement 3 ", "lead_lag enum    diagnostic",
                                "energy energy Wh total_increasing 0 ", "elapsed duration s measurement 0 diagnostic"})
            QTest::newRow(QByteArray(row).split(' ')[0]) << QString(row).section(' ', 1);
    }
    void discovery()
    {
        QFETCH(QString, expected);
        const QString key = QTest::currentDataTag();
        const QJsonObject c = json(last("homeassistant/sensor/shared/" + key + "/config"));
        QCOMPARE(QStringList({c["device_class"].toString(), c["unit_of_measurement"].toString(), c["state_class"].toString(),
                              c["suggested_display_precision"].toVariant().toString(), c["entity_category"].toString(),
                              c["expire_after"].toVariant().toString(), c["value_template"].toString(), c["unique_id"].toString()}).join(' '),
                 expected + " 12 {{ value_json." + key + " }} shared_" + key);
        QVERIFY(json(last("quelmar/shared/state")).contains(key));
    }
    void discoveryConfig()
    {
        QCOMPARE(json(last("homeassistant/sensor/shared/energy/config")), json(QString(R"({"unique_id":"shared_energy","name":"Energy",
            "state_topic":"quelmar/shared/state","value_template":"{{ value_json.energy }}","availability_topic":"quelmar/shared/availability",
            "expire_after":12,"device":{"identifiers":["shared"],"name":"Quelmar meter meter on %1","manufacturer":"Norvane","model":"Quelmar meter",
            "sw_version":"quelmar-log 2.0.1beta"},"origin":{"name":"quelmar-log","sw_version":"2.0.1beta"},"device_class":"energy",
            "unit_of_measurement":"Wh","state_class":"total_increasing","suggested_display_precision":0})").arg(QSysInfo::machineHostName()).toUtf8()));
        QCOMPARE(json(last("homeassistant/sensor/shared/lead_lag/config"))["options"].toVariant(), QVariantList({"lead", "lag"}));
        QCOMPARE(last("quelmar/shared/availability"), "online");
        statesAreRecords();
    }

    // A logger of its own per row. It ends by itself with the exit code
    // `end` and says `said` on stderr, or runs until the signal -`end` and
    // leaves the meter offline; while it runs, the broker's log or a message
    // shows `said`, and Home Assistant saying "online" brings the configs
    // and a state at once.
    void variants_data()
    {
        QTest::addColumn<QString>("args"); // the environment holds the right password and points the system's store at {d}/ca
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("said");
        const QString auth = "--mqtt 127.0.0.1:{auth} --mqtt-user alice";
        const QString mutual = "--mqtt 127.0.0.1:{mutual} --mqtt-cafile {d}/ca";
        const QString refused = " refused the connection: the broker";
        QTest::newRow("password file, no discovery, stopped") << auth + " --mqtt-password-file {d}/right --no-discovery" << -SIGTERM
                                                              << " as password_file__no_discovery__stopped ";
        QTest::newRow("password from the environment, killed") << auth << -SIGKILL << "";
        QTest::newRow("wrong password in the file") << auth + " --mqtt-password-file {d}/wrong" << 5
                                        << "the MQTT broker 127.0.0.1:{auth} refused the connection: Connection Refused: not authorised.";
        QTest::newRow("TLS, discovery prefix, 7 s records, killed") << "--mqtt 127.0.0.1:{tls} --mqtt-cafile {d}/ca --discovery-prefix ha/x --period 7"
                                                                  << -SIGKILL << "\"expire_after\":38,"; // states 14 s apart
        QTest::newRow("TLS, another name") << "--mqtt localhost:{tls} --mqtt-cafile {d}/ca" << 5 << "localhost:{tls}" + refused + "'s certificate does not name localhost";
        QTest::newRow("TLS, wrong CA") << "--mqtt 127.0.0.1:{tls} --mqtt-cafile {d}/other" << 5
                                       << "127.0.0.1:{tls}" + refused + "'s certificate is not signed by the authority in {d}/other";
        QTest::newRow("system store, topic, client id, hourly") << "--mqtt 127.0.0.1:{tls} --mqtt-tls --mqtt-topic home/m --mqtt-client-id fixed-1 --mqtt-period 3600"
                                                                << -SIGTERM << " as fixed-1 ";
        QTest::newRow("client certificate, killed") << mutual + " --mqtt-cert {d}/client --mqtt-key {d}/client.key" << -SIGKILL << "";
        QTest::newRow("no client certificate") << mutual << 5 << "127.0.0.1:{mutual}" + refused + " asks for a client certificate";
        QTest::newRow("another's key") << mutual + " --mqtt-cert {d}/client --mqtt-key {d}/ca.key" << 2
                                       << "MQTT: the client certificate {d}/client and the key {d}/ca.key do not go together";
        QTest::newRow("remove from no broker") << "--mqtt 127.0.0.1:1 --mqtt-remove" << 5 << "was not removed: the MQTT broker 127.0.0.1:1 is down: Connection refused";
        QTest::newRow("remove") << "--mqtt 127.0.0.1:{plain} --mqtt-id tls__discovery_prefix__7_s_records__killed --discovery-prefix ha/x --mqtt-remove"
                                << 0 << "removed tls__discovery_prefix__7_s_records__killed from the MQTT broker 127.0.0.1:{plain}";
    }
    void variants()
    {
        QFETCH(QString, args);
        QFETCH(int, end);
        QFETCH(QString, said);
        const QString id = QString(QTest::currentDataTag()).toLower().replace(QRegularExpression("[^a-z0-9]"), "_");
        MeterSim meter;
        QProcess p;
        p.setEnvironment(QProcess::systemEnvironment() << "QUELMAR_MQTT_PASSWORD=right" << "SSL_CERT_FILE=" + dir.filePath("ca"));
        p.start(LOGGER_EXE, QStringList{"--port", meter.start({"--no-pacing"}), "--mqtt-id", id} + fill(args));
        if (end >= 0) {
            QVERIFY(p.waitForFinished(20000));
            QCOMPARE(p.exitCode(), end);
            QVERIFY2(p.readAllStandardError().contains(expand(said).toUtf8()), qPrintable(said));
            QProcess retained; // a new subscriber is given nothing of a removed meter
            if (args.contains("--mqtt-remove"))
                retained.start("mosquitto_sub", fill("-p {plain} -W 1 -t ha/x/sensor/{gone}/+/config -t quelmar/{gone}/availability -t quelmar/{gone}/state").replaceInStrings("{gone}", said.section(' ', 1, 1)));
            QVERIFY(!args.contains("--mqtt-remove") || (retained.waitForFinished() && retained.readAll().isEmpty()));
            return;
        }
        const QString base = args.contains("--mqtt-topic") ? "home/m/" + id : "quelmar/" + id;
        const QString prefix = args.contains("ha/x") ? "ha/x" : "homeassistant";
        QTRY_VERIFY_WITH_TIMEOUT(last(base + "/availability") == "online" && !last(base + "/state").isEmpty(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(QByteArray(brokerSaid += broker.readAllStandardError()).append(seen.join('\n')).contains(expand(said).toUtf8()), 5000);
        last({});
        seen.clear(); // what comes now comes of Home Assistant's "online"
        QVERIFY(QProcess::execute("mosquitto_pub", fill("-p {plain} -t " + prefix + "/status -m online")) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!last(base + "/state").isEmpty() && last(prefix + "/sensor/" + id + "/power/config").isEmpty() == args.contains("--no-discovery"), 1000);
        ::kill(p.processId(), -end);
        QTRY_COMPARE_WITH_TIMEOUT(p.state(), QProcess::NotRunning, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(last(base + "/availability"), "offline", 5000);
    }

    // A broker that takes the connection and never answers, and one that
    // answers the connect and then nothing.
    void silentBrokers()
    {
        QTcpServer silent, mute;
        QVERIFY(silent.listen(QHostAddress::LocalHost) && mute.listen(QHostAddress::LocalHost));
        connect(&mute, &QTcpServer::newConnection, this, [&mute] {
            QTcpSocket *s = mute.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [s] { s->readAll().startsWith('\x10') && s->write("\x20\x02\0\0", 4); }); // CONNECT, CONNACK
        });
        QProcess a, b, c; // c removes, and is stopped before it could
        for (auto [p, server, more] : {std::tuple{&a, &silent, ""}, std::tuple{&b, &mute, " --mqtt-keepalive 5"}, std::tuple{&c, &silent, " --mqtt-remove"}})
            p->start(LOGGER_EXE, fill("--port {d}/none --mqtt 127.0.0.1:" + QString::number(server->serverPort()) + more));
        QTest::qWait(1000);
        c.terminate();
        QVERIFY(c.waitForFinished() && c.exitCode() == 5 && c.readAllStandardError().contains(" was not removed: stopped before the broker took it"));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += a.readAllStandardError()).contains("down: no answer from the broker within 10 s of connecting"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT((said += b.readAllStandardError()).contains("down: no answer from the broker to a keep-alive ping in 5 s"), 20000);
    }

    // The lossy meter has lost a reply now and then since the start without
    // ever being taken for gone; a meter that stops answering goes offline.
    void missedReplies()
    {
        QVERIFY(!lossy.readAllStandardError().contains("the meter has not answered"));
        ::kill(lossyMeter->process().processId(), SIGSTOP);
        QTRY_COMPARE_WITH_TIMEOUT(last("quelmar/lossy/availability"), "offline", 10000);
        ::kill(lossyMeter->process().processId(), SIGCONT);
        QTRY_COMPARE_WITH_TIMEOUT(last("quelmar/lossy/availability"), "online", 10000);
    }

    // The broker restarts without its retained messages, then the meter is
    // unplugged and plugged in again, under the shared run's logger.
    void restartAndUnplug()
    {
        broker.terminate();
        QVERIFY(broker.waitForFinished());
        QTest::qWait(8000); // the waits between tries grow to their longest
        last({}); // what the old broker sent has all come by now
        seen.clear();
        QVERIFY(startBroker());
        QTRY_VERIFY_WITH_TIMEOUT(!last("homeassistant/sensor/shared/energy/config").isEmpty(), 6000); // tried again within 5 s
        QTRY_VERIFY_WITH_TIMEOUT(!last("quelmar/shared/state", 2).isEmpty(), 20000);
        // "online" said on connecting, before any state, not by a later flap of the meter's line.
        const auto firstState = std::find_if(seen.cbegin(), seen.cend(), [](const QByteArray &l) { return l.startsWith("quelmar/shared/state "); });
        QVERIFY(seen.mid(0, firstState - seen.cbegin()).contains("quelmar/shared/availability online"));
        statesAreRecords();
        sim.reset();
        QTRY_COMPARE_WITH_TIMEOUT(last("quelmar/shared/availability"), "offline", 10000);
        sim = std::make_unique<MeterSim>();
        QVERIFY(!sim->start({"--no-pacing", "--link", dir.filePath("meter")}).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(last("quelmar/shared/availability"), "online", 15000);
    }

    // Which records a state goes out for: records 0, 1, 2, ... of a rhythm.
    void publishedRecords_data()
    {
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("recordPeriod");
        QTest::addColumn<QString>("published"); // of records 0 to 7
        QTest::newRow("every record") << 1 << 1 << "0 1 2 3 4 5 6 7";
        QTest::newRow("10 s of 1 s records") << 10 << 1 << "0";
        QTest::newRow("4 s of 2 s records") << 4 << 2 << "0 2 4 6";
        QTest::newRow("5 s of 2 s records: 6 s") << 5 << 2 << "0 3 6";
        QTest::newRow("1 s of 5 s records: each") << 1 << 5 << "0 1 2 3 4 5 6 7";
    }
    void publishedRecords()
    {
        QFETCH(int, period);
        QFETCH(int, recordPeriod);
        QStringList published;
        for (int index = 0; index < 8; ++index) {
            if (quelmar::mqtt::isPublished(index, period, recordPeriod))
                published << QString::number(index);
        }
        QTEST(published.join(' '), "published");
    }
};

QTEST_GUILESS_MAIN(tst_Mqtt)
#include "tst_mqtt.moc"
