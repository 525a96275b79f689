// SPDX-License-Identifier: GPL-3.0-or-later
// The logger's MQTT options: what --help lists, and the publisher's settings
// made from them.
#pragma once

#include "mqttpublisher.h"

class QCommandLineParser;

namespace quelmar {

// --mqtt HOST[:PORT] and the options that go with it.
void addMqttOptions(QCommandLineParser &parser);

// The publisher's settings from the parsed options, for a meter on `port`.
// False, with `why` for the user, when an option is out of range, a file
// cannot be read, or an MQTT option comes without --mqtt. The password is
// read from --mqtt-password-file, or else from QUELMAR_MQTT_PASSWORD when a
// user is given; never from the command line, where every user of the
// computer can read it.
bool mqttConfig(const QCommandLineParser &parser, const QString &port, MqttPublisher::Config *config, QString *why);

} // namespace quelmar
