#!/bin/bash
# First process of procd's own pid and mount namespaces inside the router (sim/lib/procd.sh):
# lays out what OpenWrt's init scripts expect, starts logd and procd, then reaps orphans.
#   procd-boot.sh TREE PREFIX READY
# TREE holds usr/ (laid over /usr: /lib/functions*.sh, jshn.sh, /lib/libsetlbf.so, /usr/sbin/zunarod,
# busybox as /bin/sh) and etc/ (rc.common, init.d/zunaro); PREFIX has procd, logd and logread.
set -euo pipefail
tree=$1 prefix=$2 ready=$3

mount --make-rprivate /
# Debian's /bin, /lib and /sbin are links into /usr.
mount -t overlay overlay -o "ro,lowerdir=$tree/usr:/usr" /usr
# logd binds /dev/log of a /dev of its own.
"${tree%/*}/lib/private-dev.sh"
mkdir -p /run/lock /var/run /etc/rc.d /etc/init.d
cp "$tree/etc/rc.common" /etc/rc.common
install -m 755 "$tree/etc/init.d/zunaro" /etc/init.d/zunaro

"$prefix/sbin/logd" -S 256 &
for _ in $(seq 100); do
    [ -S /dev/log ] && break
    sleep 0.05
done
# Not the system's first process: procd only joins ubus and serves "service".
"$prefix/sbin/procd" -S &
: >"$ready"
exec /usr/bin/python3 -c '
import os, time
while True:
    try:
        os.wait()
    except ChildProcessError:
        time.sleep(1)
'
