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
// empty unit or state class is left out of the config.
struct Sensor {
    const char *key;
    const char *name;
    const char *deviceClass;
    const char *unit;
    const char *stateClass;
};
// In the order the state object lists them.
extern const Sensor kSensors[8];

// "quelmar_" + host + "_" + the port's last path part, lower-cased, every
// character outside [a-z0-9_] made "_": a computer's ttyUSB0 differs from
// another's.
QString defaultId(const QString &host, const QString &port);
// What --mqtt-id accepts: letters, digits, "_" and "-", which are safe both
// in a topic level and in a Home Assistant object id.
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

QString stateTopic(const QString &id);
QString availabilityTopic(const QString &id);
QString discoveryTopic(const QString &prefix, const QString &id, const char *key);

// The state of one record: each number with the log's decimals, so that it
// equals the log's column; energy in watt-hours (the log's milliwatt-hours,
// hence 6 decimals) and elapsed in whole seconds. A number that is not
// finite is null.
QByteArray statePayload(const Record &r);

// The retained config of one sensor. `device` names the meter as Home
// Assistant shows it.
QByteArray discoveryPayload(const Sensor &sensor, const QString &id, const QString &device);

} // namespace mqtt
} // namespace quelmar
