#!/bin/bash
# Runs inside the router and writes the router's own configuration into its /etc layer and the
# LED class files into its /sys/class: the UCI packages, the route lists, the tunnel service
# files, the routing table names, the host names of the cloud servers and the fake services.
# The values come from the sim's settings file (sim.env, written by `router up`).
set -euo pipefail

state=/run/zunaro-sim
# shellcheck source=/dev/null
. "$state/sim.env"
data=$state/data

# shellcheck disable=SC2153  # the settings come from sim.env
subst() {
    sed -e "s/@WAN_IF@/$WAN_IF/g" -e "s/@WAN_MAC@/$WAN_MAC/g" -e "s/@LAN_IF@/$LAN_IF/g" \
        -e "s/@WWAN_IF@/${WWAN_IF:-}/g" "$@"
}

mkdir -p /etc/config /etc/zunaro /etc/openvpn /etc/iproute2 /etc/init.d

for pkg in userinfo wireless openvpn rpcd; do
    subst "$data/config/$pkg" >"/etc/config/$pkg"
done
subst "$data/config/network" >/etc/config/network
if [ -n "${WWAN_IF:-}" ]; then
    subst "$data/config/network.wwan" >>/etc/config/network
fi
# Files given with `up --config DIR` replace the defaults, package by package.
if [ -n "${CONFIG_OVERRIDE:-}" ]; then
    for f in "$CONFIG_OVERRIDE"/*; do
        [ -f "$f" ] && subst "$f" >"/etc/config/$(basename "$f")"
    done
fi

cp "$data/zunaro/gameList.conf" "$data/zunaro/smartRoute.conf" /etc/zunaro/
cp "$data/etc/rt_tables" /etc/iproute2/rt_tables
cp "$data/etc/ipsec.conf" /etc/ipsec.conf
cp "$data/etc/ipsec.secrets" /etc/ipsec.secrets
chmod 600 /etc/ipsec.secrets
rm -f /etc/openvpn/userpass.txt
printf '%s\n' "-----BEGIN CERTIFICATE-----" "(simulated)" "-----END CERTIFICATE-----" >/etc/openvpn/ca.crt

cp "$state/hosts" /etc/hosts
echo "nameserver $WAN_GW" >/etc/resolv.conf
echo zunaro-router >/etc/hostname

# Services of the router, simulated: see simsvc.py.
for svc in openvpn ipsec led; do
    printf '#!/bin/sh\n# Simulated %s service of the router (zunaro sim).\nexec /usr/bin/python3 %s/lib/simsvc.py %s "$@"\n' \
        "$svc" "$state" "$svc" >"/etc/init.d/$svc"
    chmod 755 "/etc/init.d/$svc"
done

# netifd's interface event scripts: the package's own.
mkdir -p /etc/hotplug.d/iface
install -m 0755 "$data/hotplug.d/zunaro.hotplug" /etc/hotplug.d/iface/90-zunaro

for led in state_b state_g; do
    mkdir -p "/sys/class/leds/$led"
    echo 1 >"/sys/class/leds/$led/max_brightness"
    echo none >"/sys/class/leds/$led/trigger"
done
echo "$LED_B_DEFAULT" >/sys/class/leds/state_b/brightness
echo "$LED_G_DEFAULT" >/sys/class/leds/state_g/brightness
