#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A private MQTT broker for the tests and the benchmark, never the computer's
# own broker or port 1883. Runs mosquitto in the foreground on 127.0.0.1:
#
#   tests/support/mqtt-broker.sh DIR
#
# The first run in DIR picks four free ports and writes them to DIR/ports,
# one a line; a later run in the same DIR (a restart) takes them again:
#   1. anyone may connect;
#   2. only user alice with the password "right" (DIR/right and DIR/wrong
#      hold a right and a wrong one);
#   3. TLS, with a certificate (DIR/server) that names only 127.0.0.1 and is
#      signed by the authority DIR/ca; DIR/other is an authority that signed
#      nothing;
#   4. the same TLS, and only for a client certificate signed by DIR/ca, as
#      DIR/client with its key DIR/client.key is.
set -euo pipefail
cd "$1"
if [ ! -s ports ]; then
    for _ in 1 2 3 4; do
        # A port nothing answers on, and not one already taken here.
        until port=$(shuf -i 20000-59999 -n 1) && ! (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null \
              && ! grep -qx "$port" ports 2>/dev/null; do :; done
        echo "$port" >> ports
    done
    echo right > right
    echo wrong > wrong
    mosquitto_passwd -b -c passwords alice right
    key=(req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1)
    openssl "${key[@]}" -keyout ca.key -out ca -subj /CN=CA 2>/dev/null
    openssl "${key[@]}" -keyout other.key -out other -subj /CN=CA 2>/dev/null
    openssl "${key[@]}" -keyout server.key -out server -subj /CN=Broker \
        -addext subjectAltName=IP:127.0.0.1 -CA ca -CAkey ca.key 2>/dev/null
    openssl "${key[@]}" -keyout client.key -out client -subj /CN=meter -CA ca -CAkey ca.key 2>/dev/null
fi
{ read -r plain; read -r auth; read -r tls; read -r mutual; } < ports
{
    echo "per_listener_settings true"
    # As root, mosquitto would drop to its own user, who cannot read DIR.
    if [ "$(id -u)" = 0 ]; then echo "user root"; fi
    printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$plain"
    printf 'listener %s 127.0.0.1\npassword_file %s/passwords\n' "$auth" "$PWD"
    printf 'listener %s 127.0.0.1\nallow_anonymous true\ncafile %s/ca\ncertfile %s/server\nkeyfile %s/server.key\n' \
        "$tls" "$PWD" "$PWD" "$PWD"
    printf 'listener %s 127.0.0.1\nallow_anonymous true\ncafile %s/ca\ncertfile %s/server\nkeyfile %s/server.key\nrequire_certificate true\n' \
        "$mutual" "$PWD" "$PWD" "$PWD"
} > broker.conf
exec mosquitto -c broker.conf
