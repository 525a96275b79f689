// SPDX-License-Identifier: GPL-3.0-or-later
// What goes to the broker: topic names, the state of one reading as JSON, and
// the Home Assistant discovery config of each sensor. No network here.
#pragma once

#include <QByteArray>
#include <QString>

namespace quelmar {

struct Record;

namespace mqtt {

// One value of the state object and how Home Assistant should read it. An
// empty unit or state class, or a precision below 0, is left out of the
// config.
struct Sensor {
    const char *key;
    const char *name;
    const char *deviceClass;
    const char *unit;
    const char *stateClass;
    int precision;      // the decimals Home Assistant shows
    bool diagnostic;    // about the meter rather than the appliance
};
// In the order the state object lists them.
extern const Sensor kSensors[8];

// The longest --mqtt-id and --mqtt-client-id taken. Home Assistant and
// brokers take longer ones; a name this long is already a mistake.
inline constexpr int kMaxIdLength = 128;

// The name of the link under `byIdDir` (/dev/serial/by-id) that leads to the
// same device as `devicePath`, or "" when none does. The link carries the
// adapter's own serial number, so it names the same adapter on any USB
// socket and under any host name.
QString serialIdOf(const QString &devicePath, const QString &byIdDir);

// "quelmar_" + `serialId` when there is one, else "quelmar_" + host + "_" +
// the port's last path part; lower-cased, every character outside
// [a-z0-9_] made "_", and cut to kMaxIdLength.
QString defaultId(const QString &host, const QString &port, const QString &serialId = {});
// What --mqtt-id accepts: letters, digits, "_" and "-", which are safe both
// in a topic level and in a Home Assistant object id, at most kMaxIdLength.
bool isValidId(const QString &id);

// "HOST", "HOST:PORT", "[IPv6]" or "[IPv6]:PORT"; the port stays as given
// when the text names none. False for anything else, and for a port outside
// 1 to 65535.
bool parseBroker(const QString &text, QString *host, int *port);

// Whether the record `index` (from 0) of a rhythm with `recordPeriod`
// seconds between records is published with `period` seconds between
// states: the first, then the first of every period, a period that is not
// a multiple of the records' rounded up to one.
bool isPublished(qint64 index, int period, int recordPeriod);
// How many records apart those states are.
int recordsPerState(int period, int recordPeriod);

// A topic prefix of --mqtt-topic and --discovery-prefix: not empty, no
// wildcard, no "/" at either end.
bool isValidPrefix(const QString &prefix);

// BASE/ID/state and BASE/ID/availability.
QString stateTopic(const QString &base, const QString &id);
QString availabilityTopic(const QString &base, const QString &id);
QString discoveryTopic(const QString &prefix, const QString &id, const char *key);
// Where Home Assistant says "online" when it starts.
QString statusTopic(const QString &prefix);

// The state of one record: each number with the log's decimals, so that it
// equals the log's column; energy in watt-hours (the log's milliwatt-hours,
// hence 6 decimals) and elapsed in whole seconds. A number that is not
// finite is null.
QByteArray statePayload(const Record &r);

// What a sensor's config says beyond the sensor itself.
struct Device {
    QString id;
    QString base;        // the state and availability topics' prefix
    QString name;        // the meter as Home Assistant shows it
    int expireAfter = 0; // seconds without a state before the values go unavailable
};
// The retained config of one sensor.
QByteArray discoveryPayload(const Sensor &sensor, const Device &device);

} // namespace mqtt
} // namespace quelmar
