#!/bin/bash
# Runs as the first process of the router's fresh mount and network namespaces and lays out the
# router's file system: /etc as a copy-on-write layer over the caller's /etc, private /run, /tmp
# and /dev, a sysfs of the router's own network namespace with a writable /sys/class (LED files)
# that keeps /sys/class/net. Then it waits, so that the caller can pin both namespaces to files.
# The project's trees (the sim itself, the build) stay visible where they are, also when they lie
# below /tmp or /run, which the router covers with its own.
#   router-mounts.sh STATE_DIR [TREE...]
set -euo pipefail

inside=/run/zunaro-sim   # where the router sees the sim's state directory

# A handle on the state directory that survives mounting over /run and /tmp.
exec 9<"$1"
state=/proc/self/fd/9
root=$state/root
shift

# Descriptors on the trees that the mounts below would hide, to bind them back afterwards.
kept=()
for tree in "$@"; do
    tree=$(readlink -f "$tree" 2>/dev/null) || continue
    case $tree in /tmp/* | /run/*) ;; *) continue ;; esac
    [ -d "$tree" ] || continue
    exec {fd}<"$tree"
    kept+=("$fd:$tree")
done

mount --make-rprivate /
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$root/etc.upper,workdir=$root/etc.work" /etc
mount -c --bind "$root/tmp" /tmp
mount -c --bind "$root/run" /run
if [ -d /var/run ] && [ ! -L /var/run ]; then
    mount -c --bind "$root/run" /var/run
fi
mkdir -p "$inside"
mount -c --rbind "$state" "$inside"
exec 9<&-
for k in "${kept[@]}"; do
    fd=${k%%:*}
    mkdir -p "${k#*:}"
    mount -c --rbind "/proc/self/fd/$fd" "${k#*:}"
    exec {fd}<&-
done

# A /dev of the router's own: its system log listens on its /dev/log (sim/lib/syslogd.py).
"$inside/lib/private-dev.sh"

mount -t sysfs sysfs /sys
exec 8</sys/class/net
mount --bind "$inside/root/sysclass" /sys/class
mkdir -p /sys/class/net
mount -c --bind /proc/self/fd/8 /sys/class/net
exec 8<&-

: >"$inside/run/router.mounted"
exec sleep 30
