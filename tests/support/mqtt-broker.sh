#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The files of a private MQTT broker for the tests and the benchmark, in DIR,
# so that nothing reads or changes the computer's own broker or port 1883:
#
#   tests/support/mqtt-broker.sh DIR PLAIN [AUTH TLS]
#
# DIR/broker.conf has a listener on 127.0.0.1:PLAIN for anyone; with AUTH,
# one that takes only user alice with the password "right" (the files
# DIR/right and DIR/wrong hold a right and a wrong one); with TLS, one whose
# certificate (DIR/server) names only 127.0.0.1 and is signed by the
# authority DIR/ca; DIR/other is an authority that signed nothing. Start it
# with `mosquitto -c DIR/broker.conf`.
set -euo pipefail
cd "$1"
plain=$2 auth=${3:-} tls=${4:-}
{
    echo "per_listener_settings true"
    # As root, mosquitto would drop to its own user, who cannot read DIR.
    if [ "$(id -u)" = 0 ]; then echo "user root"; fi
    printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$plain"
} > broker.conf
if [ -n "$auth" ]; then
    echo right > right
    echo wrong > wrong
    mosquitto_passwd -b -c passwords alice right
    printf 'listener %s 127.0.0.1\npassword_file %s/passwords\n' "$auth" "$PWD" >> broker.conf
fi
if [ -n "$tls" ]; then
    key=(req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1)
    openssl "${key[@]}" -keyout ca.key -out ca -subj /CN=CA 2>/dev/null
    openssl "${key[@]}" -keyout other.key -out other -subj /CN=CA 2>/dev/null
    openssl "${key[@]}" -keyout server.key -out server -subj /CN=Broker \
        -addext subjectAltName=IP:127.0.0.1 -CA ca -CAkey ca.key 2>/dev/null
    printf 'listener %s 127.0.0.1\nallow_anonymous true\ncafile %s/ca\ncertfile %s/server\nkeyfile %s/server.key\n' \
        "$tls" "$PWD" "$PWD" "$PWD" >> broker.conf
fi
