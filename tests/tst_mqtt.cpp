// SPDX-License-Identifier: GPL-3.0-or-later
// The logger publishing to a real broker: a mosquitto of the test's own on
// free ports (plain, with a password, with TLS from a CA that openssl makes
// here), the simulated meter, and what a subscriber to every topic sees.
#include "core/measure/measurement.h"
#include "core/measure/readouttext.h"
#include "publish/mqttpayload.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include <netinet/in.h>
#include <unistd.h>

namespace {

const QByteArray kHeader = "Time,Energy,Real Power,Voltage,Current,Power Factor,Lead/Lag,Apparent Power";

int secondsOf(const QByteArray &time)
{
    const QList<QByteArray> p = time.split(':');
    return p.value(0).toInt() * 3600 + p.value(1).toInt() * 60 + p.value(2).toInt();
}

} // namespace

class tst_Mqtt : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QProcess broker, sub, logger; // the logger of the shared run
    std::unique_ptr<MeterSim> sim;
    QMap<QString, QString> vars;  // {plain}, {auth}, {tls} ports and the files
    QList<QByteArray> seen;       // "topic payload", in the order they came

    QString path(const QString &name) const { return dir.filePath(name); }
    QStringList fill(QStringList args) const
    {
        for (QString &a : args)
            for (auto v = vars.cbegin(); v != vars.cend(); ++v)
                a.replace(v.key(), v.value());
        return args;
    }
    bool startBroker()
    {
        broker.start(QStringLiteral("mosquitto"), {"-c", path("broker.conf")});
        return broker.waitForStarted() && QTest::qWaitFor([&] { return broker.readAllStandardError().contains(" running"); }, 10000);
    }
    QList<QByteArray> payloads(const QString &topic)
    {
        while (sub.canReadLine() || sub.waitForReadyRead(0))
            seen << sub.readLine().chopped(1);
        QList<QByteArray> got;
        for (const QByteArray &line : std::as_const(seen))
            if (line.startsWith(topic.toUtf8() + ' '))
                got << line.mid(topic.size() + 1);
        return got;
    }
    QByteArray last(const QString &topic) { return payloads(topic).value(payloads(topic).size() - 1); }
    void startLogger(QProcess &p, MeterSim &m, const QStringList &args)
    {
        p.start(QStringLiteral(LOGGER_EXE), QStringList{"--port", m.start({"--no-pacing"})} + fill(args));
        QVERIFY(p.waitForStarted());
    }

    // Every state seen is the log's record of the same reading, the same
    // time and energy, and no record between the first and the last lacks
    // its state.
    void statesAreRecords(const QString &csv)
    {
        const QList<QByteArray> states = payloads(QStringLiteral("quelmar/shared/state"));
        QVERIFY(states.size() >= 3);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.takeFirst(), kHeader);
        QCOMPARE(lines.takeLast(), QByteArray()); // no half record
        QList<qsizetype> at;
        for (const QByteArray &state : states) {
            const QJsonObject o = QJsonDocument::fromJson(state).object();
            const auto same = [&](const QByteArray &line) {
                const QList<QByteArray> r = line.split(',');
                return secondsOf(r[0]) == o["elapsed"].toInt() && qRound64(r.value(1).toDouble() * 1e3) == qRound64(o["energy"].toDouble() * 1e6);
            };
            at << std::find_if(lines.cbegin(), lines.cend(), same) - lines.cbegin();
            QVERIFY2(at.last() < lines.size(), state.constData());
            const QList<QByteArray> r = lines[at.last()].split(',');
            QCOMPARE(QList<double>({o["power"].toDouble(), o["voltage"].toDouble(), o["current"].toDouble(), o["power_factor"].toDouble()}),
                     QList<double>({r[2].toDouble(), r[3].toDouble(), r[4].toDouble(), r[5].toDouble()}));
            QCOMPARE(o["lead_lag"].toString(), QString::fromLatin1(r[6]).toLower());
            QCOMPARE(o["apparent_power"].toDouble(), r[7].toDouble());
        }
        QCOMPARE(at.last() - at.first() + 1, at.size());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        int fds[3];
        for (int i = 0; i < 3; ++i) {
            sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
            socklen_t n = sizeof a;
            fds[i] = ::socket(AF_INET, SOCK_STREAM, 0);
            QVERIFY(::bind(fds[i], reinterpret_cast<sockaddr *>(&a), n) == 0 && ::getsockname(fds[i], reinterpret_cast<sockaddr *>(&a), &n) == 0);
            vars[QStringList{"{plain}", "{auth}", "{tls}"}[i]] = QString::number(ntohs(a.sin_port));
        }
        for (int fd : fds)
            ::close(fd);
        for (const char *name : {"ca", "other", "right", "wrong", "server", "passwords"})
            vars[QStringLiteral("{%1}").arg(name)] = path(name);
        const QStringList key = {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1"};
        QCOMPARE(QProcess::execute("openssl", key + fill({"-keyout", "{ca}.key", "-out", "{ca}", "-subj", "/CN=Test CA"})), 0);
        QCOMPARE(QProcess::execute("openssl", key + fill({"-keyout", "{other}.key", "-out", "{other}", "-subj", "/CN=Other CA"})), 0);
        QCOMPARE(QProcess::execute("openssl", key + fill({"-keyout", "{server}.key", "-out", "{server}", "-subj", "/CN=Test broker",
                                                          "-addext", "subjectAltName=IP:127.0.0.1", "-CA", "{ca}", "-CAkey", "{ca}.key"})), 0);
        QCOMPARE(QProcess::execute("mosquitto_passwd", fill({"-b", "-c", "{passwords}", "alice", "right"})), 0);
        QFile conf(path("broker.conf")), right(path("right")), wrong(path("wrong"));
        QVERIFY(right.open(QIODevice::WriteOnly) && right.write("right\n") && wrong.open(QIODevice::WriteOnly) && wrong.write("wrong\n"));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(fill({"per_listener_settings true\n%1listener {plain} 127.0.0.1\nallow_anonymous true\n"
                         "listener {auth} 127.0.0.1\npassword_file {passwords}\nlistener {tls} 127.0.0.1\nallow_anonymous true\n"
                         "cafile {ca}\ncertfile {server}\nkeyfile {server}.key\n"})
                       .first().arg(::getuid() == 0 ? "user root\n" : "").toUtf8());
        conf.close();
        QVERIFY(startBroker());
        sub.start(QStringLiteral("mosquitto_sub"), fill({"-p", "{plain}", "-t", "#", "-F", "%t %p"}));
        QVERIFY(sub.waitForStarted());
        sim = std::make_unique<MeterSim>();
        QVERIFY(!sim->start({"--no-pacing", "--link", path("meter")}).isEmpty());
        logger.start(QStringLiteral(LOGGER_EXE), fill({"--port", path("meter"), "--mqtt",
                                                       "127.0.0.1:{plain}", "--mqtt-period", "1", "--mqtt-id", "shared", path("shared.csv")}));
        QTRY_VERIFY_WITH_TIMEOUT(payloads("quelmar/shared/state").size() >= 4, 20000);
    }
    void cleanupTestCase()
    {
        for (QProcess *p : {&logger, &sub, &broker})
            p->terminate(), p->waitForFinished();
    }

    void ids_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("id");
        QTest::newRow("device path") << "Pi-Kitchen" << "/dev/ttyUSB0" << "quelmar_pi_kitchen_ttyusb0";
        QTest::newRow("window name") << "nas.home" << "COM3" << "quelmar_nas_home_com3";
        QTest::newRow("by-id link") << "pi" << "/dev/serial/by-id/usb-FTDI_A1-if00" << "quelmar_pi_usb_ftdi_a1_if00";
    }
    void ids()
    {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, id);
        QCOMPARE(quelmar::mqtt::defaultId(host, port), id);
    }

    void state_data()
    {
        QTest::addColumn<QList<double>>("array"); // entries 2 to 9 of a reply
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("lag, 342.935 mWh")
            << QList<double>{3725.9, 1234567, 120000, 230000000, 580000, 1, 900000, 133333}
            << QByteArray(R"({"power":120.000,"apparent_power":133.333,"voltage":230.00,"current":0.580,)"
                          R"("power_factor":0.900,"lead_lag":"lag","energy":0.342935,"elapsed":3725})");
        QTest::newRow("lead, 10 kWh, negative power")
            << QList<double>{360000, 36e9, -5, 1, 2, 0, 1000000, 7}
            << QByteArray(R"({"power":-0.005,"apparent_power":0.007,"voltage":0.00,"current":0.000,)"
                          R"("power_factor":1.000,"lead_lag":"lead","energy":10000.000000,"elapsed":360000})");
        QTest::newRow("not finite") << QList<double>{qInf(), -1080, qQNaN(), 0, 0, 1, 0, 0}
                                    << QByteArray(R"({"power":null,"apparent_power":0.000,"voltage":0.00,"current":0.000,)"
                                                  R"("power_factor":0.000,"lead_lag":"lag","energy":-0.000300,"elapsed":null})");
    }
    void state()
    {
        QFETCH(QList<double>, array);
        QFETCH(QByteArray, json);
        const QList<double> vals = QList<double>{0, 0} + array;
        QCOMPARE(quelmar::mqtt::statePayload(quelmar::readoutTexts(quelmar::Measurement::fromArray(vals.constData()))), json);
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no FILE and no --mqtt") << QStringList{};
        QTest::newRow("period 0") << QStringList{"--mqtt", "h", "--mqtt-period", "0"};
        QTest::newRow("period 3601") << QStringList{"--mqtt", "h", "--mqtt-period", "3601"};
        QTest::newRow("port 0") << QStringList{"--mqtt", "h:0"};
        QTest::newRow("password on the command line") << QStringList{"--mqtt", "h", "--mqtt-password", "right"};
        QTest::newRow("password without user") << QStringList{"--mqtt", "h", "--mqtt-password-file", "{right}"};
        QTest::newRow("an MQTT option without --mqtt") << QStringList{"--mqtt-id", "a", "x.csv"};
        QTest::newRow("a slash in the id") << QStringList{"--mqtt", "h", "--mqtt-id", "a/b"};
        QTest::newRow("no such CA file") << QStringList{"--mqtt", "h", "--mqtt-cafile", "{other}.missing"};
    }
    void usage()
    {
        QFETCH(QStringList, args);
        QCOMPARE(QProcess::execute(QStringLiteral(LOGGER_EXE), QStringList{"--port", "/nonexistent"} + fill(args)), 2);
    }

    void discovery_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("deviceClass");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("stateClass");
        QTest::newRow("power") << "power" << "power" << "W" << "measurement";
        QTest::newRow("apparent_power") << "apparent_power" << "apparent_power" << "VA" << "measurement";
        QTest::newRow("voltage") << "voltage" << "voltage" << "V" << "measurement";
        QTest::newRow("current") << "current" << "current" << "A" << "measurement";
        QTest::newRow("power_factor") << "power_factor" << "power_factor" << "" << "measurement";
        QTest::newRow("lead_lag") << "lead_lag" << "enum" << "" << "";
        QTest::newRow("energy") << "energy" << "energy" << "Wh" << "total_increasing";
        QTest::newRow("elapsed") << "elapsed" << "duration" << "s" << "measurement";
    }
    void discovery()
    {
        QFETCH(QString, key);
        QFETCH(QString, deviceClass);
        QFETCH(QString, unit);
        QFETCH(QString, stateClass);
        const QJsonObject c = QJsonDocument::fromJson(last("homeassistant/sensor/shared/" + key + "/config")).object();
        QCOMPARE(QStringList({c["device_class"].toString(), c["unit_of_measurement"].toString(), c["state_class"].toString()}),
                 QStringList({deviceClass, unit, stateClass}));
        QCOMPARE(c["value_template"].toString(), "{{ value_json." + key + " }}");
        QCOMPARE(c["unique_id"].toString(), "shared_" + key);
        QVERIFY(QJsonDocument::fromJson(last("quelmar/shared/state")).object().contains(key));
    }
    void discoveryConfig()
    {
        const QByteArray energy = R"({"unique_id":"shared_energy","name":"Energy","state_topic":"quelmar/shared/state",
            "value_template":"{{ value_json.energy }}","availability_topic":"quelmar/shared/availability",
            "device":{"identifiers":["shared"],"name":"Quelmar meter meter","model":"Quelmar meter",
                      "sw_version":"quelmar-log 2.0.1beta"},
            "device_class":"energy","unit_of_measurement":"Wh","state_class":"total_increasing"})";
        QCOMPARE(QJsonDocument::fromJson(last("homeassistant/sensor/shared/energy/config")).object(), QJsonDocument::fromJson(energy).object());
        QCOMPARE(QJsonDocument::fromJson(last("homeassistant/sensor/shared/lead_lag/config"))["options"].toVariant(), QVariantList({"lead", "lag"}));
    }

    void liveState()
    {
        QCOMPARE(last("quelmar/shared/availability"), "online");
        statesAreRecords(path("shared.csv"));
    }

    void variants_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("password"); // in the environment
        QTest::addColumn<int>("exitCode");        // -1: runs until stopped
        QTest::addColumn<QString>("said");        // on stderr, or the availability then
        QTest::addColumn<int>("signal");          // sent once it is online
        const QStringList tls = {"--mqtt", "127.0.0.1:{tls}", "--mqtt-cafile"};
        QTest::newRow("password file") << QStringList{"--mqtt", "127.0.0.1:{auth}", "--mqtt-user", "alice", "--mqtt-password-file", "{right}"} << QByteArray() << -1 << "online" << 0;
        QTest::newRow("password from the environment") << QStringList{"--mqtt", "127.0.0.1:{auth}", "--mqtt-user", "alice"} << QByteArray("right") << -1 << "online" << 0;
        QTest::newRow("wrong password") << QStringList{"--mqtt", "127.0.0.1:{auth}", "--mqtt-user", "alice", "--mqtt-password-file", "{wrong}"} << QByteArray() << 5
                                        << "the MQTT broker 127.0.0.1:{auth} refused the connection: Connection Refused: not authorised." << 0;
        QTest::newRow("TLS") << tls + QStringList{"{ca}"} << QByteArray() << -1 << "online" << 0;
        QTest::newRow("TLS, another name") << QStringList{"--mqtt", "localhost:{tls}", "--mqtt-cafile", "{ca}"} << QByteArray() << 5 << "localhost:{tls} refused the connection: certificate verify failed" << 0;
        QTest::newRow("TLS, wrong CA") << tls + QStringList{"{other}"} << QByteArray() << 5 << "127.0.0.1:{tls} refused the connection: certificate verify failed" << 0;
        QTest::newRow("TLS goes to 8883") << QStringList{"--mqtt", "127.0.0.1", "--mqtt-cafile", "{ca}", "--duration", "2"} << QByteArray() << 0 << "MQTT broker 127.0.0.1:8883 down" << 0;
        QTest::newRow("clean stop") << QStringList{"--mqtt", "127.0.0.1:{plain}"} << QByteArray() << -1 << "offline" << int(SIGTERM);
        QTest::newRow("killed: the will") << QStringList{"--mqtt", "127.0.0.1:{plain}"} << QByteArray() << -1 << "offline" << int(SIGKILL);
        QTest::newRow("no discovery") << QStringList{"--mqtt", "127.0.0.1:{plain}", "--no-discovery"} << QByteArray() << -1 << "online" << 0;
        QTest::newRow("discovery prefix") << QStringList{"--mqtt", "127.0.0.1:{plain}", "--discovery-prefix", "ha/x"} << QByteArray() << -1 << "online" << 0;
    }
    void variants()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, password);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(int, signal);
        const QString id = QString::fromLatin1(QTest::currentDataTag()).toLower().replace(QRegularExpression("[^a-z0-9]"), "_");
        MeterSim meter;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUELMAR_MQTT_PASSWORD", password);
        p.setProcessEnvironment(env);
        startLogger(p, meter, args + QStringList{"--mqtt-id", id});
        const QString availability = "quelmar/" + id + "/availability";
        if (exitCode >= 0) {
            QVERIFY(p.waitForFinished(20000));
            QCOMPARE(p.exitCode(), exitCode);
            QVERIFY2(p.readAllStandardError().contains(fill({said}).first().toUtf8()), qPrintable(said));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(last(availability), "online", 15000);
        QCOMPARE(last("homeassistant/sensor/" + id + "/power/config").isEmpty(), args.contains("--no-discovery") || args.contains("ha/x"));
        QCOMPARE(last("ha/x/sensor/" + id + "/power/config").isEmpty(), !args.contains("ha/x"));
        ::kill(p.processId(), signal ? signal : SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(p.state(), QProcess::NotRunning, 10000);
        if (signal)
            QTRY_COMPARE_WITH_TIMEOUT(last(availability), said.toUtf8(), 5000);
    }

    // The broker restarts without its retained messages and the meter is
    // unplugged and plugged in again, under the shared run's logger.
    void restartAndUnplug()
    {
        QFile csv(path("shared.csv"));
        broker.terminate();
        QVERIFY(broker.waitForFinished());
        payloads({});
        seen.clear();
        QTest::qWait(3000);
        QVERIFY(startBroker());
        QTRY_VERIFY_WITH_TIMEOUT(payloads("quelmar/shared/state").size() >= 3, 20000);
        QCOMPARE(last("homeassistant/sensor/shared/energy/config").isEmpty(), false);
        QCOMPARE(last("quelmar/shared/availability"), "online");
        statesAreRecords(csv.fileName());
        // The log went on while the broker was away: no record missing.
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> records = csv.readAll().trimmed().split('\n').mid(1);
        for (qsizetype i = 1; i < records.size(); ++i)
            QVERIFY2(secondsOf(records[i]) - secondsOf(records[i - 1]) <= 2, records[i].constData());

        sim.reset();
        QTRY_COMPARE_WITH_TIMEOUT(last("quelmar/shared/availability"), "offline", 10000);
        QCOMPARE(logger.state(), QProcess::Running);
        sim = std::make_unique<MeterSim>();
        QVERIFY(!sim->start({"--no-pacing", "--link", path("meter")}).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(last("quelmar/shared/availability"), "online", 15000);
    }

    // The service as installed: its options come from an environment file
    // in the user's configuration folder (%E), split into words.
    void serviceUnit()
    {
        QFile unit(QStringLiteral(SOURCE_DIR "/packaging/quelmar-log@.service"));
        QVERIFY(unit.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(unit.readAll());
        MeterSim meter;
        const QString port = meter.start({"--no-pacing"});
        for (const auto &[key, value] : {std::pair{"%E", path("config")}, {"%h", path("home")}, {"%I", port}, {"%i", QString("unit")}})
            text.replace(key, value);
        QVERIFY(text.contains("\nEnvironmentFile=-" + path("config/quelmar/")));
        QStringList args = text.section("\nExecStart=", 1).section('\n', 0, 0).split(' ');
        QVERIFY(args.contains("$QUELMAR_LOG_OPTIONS"));
        args.replace(args.indexOf("$QUELMAR_LOG_OPTIONS"), fill({"--mqtt 127.0.0.1:{plain} --mqtt-id unit"}).first());
        args = args.join(' ').split(' ');
        QCOMPARE(args.takeFirst(), "quelmar-log");
        QVERIFY(QDir().mkpath(path("home/quelmar")));
        QProcess p;
        p.start(QStringLiteral(LOGGER_EXE), args);
        QTRY_COMPARE_WITH_TIMEOUT(last("quelmar/unit/availability"), "online", 15000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path("home/quelmar/unit.csv")).size() > kHeader.size(), 10000);
        p.terminate();
        QVERIFY(p.waitForFinished());
    }
};

QTEST_GUILESS_MAIN(tst_Mqtt)
#include "tst_mqtt.moc"
