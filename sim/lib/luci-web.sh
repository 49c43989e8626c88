#!/bin/bash
# Runs inside the router and lays out the root its web stack runs in, chrooted: LuCI's runtime
# has its paths (/usr/share/ucode/luci, /usr/share/rpcd, /www) fixed at build time, so the root's
# /usr is the installed web interface package over the LuCI runtime over the machine's /usr, and
# its /www the same for the web files; /etc, /run, /tmp, /proc, /dev and /sys are the router's,
# and the project's trees stay visible where they are (zunaroctl and its libraries).
#   luci-web.sh LUCI_ROOT PACKAGE_ROOT [TREE...]
set -euo pipefail

luci=$1 pkg=$2
shift 2
root=/run/zunaro-sim/luci/root
mountpoint -q "$root/usr" && exit 0

mkdir -p "$root"/{usr,www,etc,tmp,run,proc,dev,sys,var}
for d in bin sbin lib lib64; do
    [ -e "$root/$d" ] || ln -s "usr/$d" "$root/$d"
done
[ -e "$root/var/run" ] || ln -s ../run "$root/var/run"
[ -e "$root/var/lock" ] || ln -s ../run/lock "$root/var/lock"
mount -t overlay overlay -o "ro,lowerdir=$pkg/usr:$luci/usr:/usr" "$root/usr"
mount -t overlay overlay -o "ro,lowerdir=$pkg/www:$luci/www" "$root/www"
for d in etc tmp run proc dev sys; do
    mount --rbind "/$d" "$root/$d"
done
for tree in "$@"; do
    tree=$(readlink -f "$tree")
    [ -d "$tree" ] && [ ! -d "$root$tree" ] || continue   # or visible through another tree
    mkdir -p "$root$tree"
    mount --rbind "$tree" "$root$tree"
done
# LuCI's own configuration, as its packages install it.
for f in "$luci"/etc/config/*; do
    [ -e "/etc/config/${f##*/}" ] || cp "$f" /etc/config/
done
