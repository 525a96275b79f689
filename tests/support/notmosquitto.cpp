// SPDX-License-Identifier: GPL-3.0-or-later
// A library that takes the MQTT client's file name and has none of its
// functions, for the logger to refuse.
extern "C" int quelmar_not_the_mqtt_client() { return 0; }
