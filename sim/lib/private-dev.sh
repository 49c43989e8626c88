#!/bin/bash
# Covers /dev of the caller's mount namespace with a tmpfs that holds the entries of the /dev it
# covers (devices, /dev/pts, /dev/shm... bound; links copied) but not /dev/log: a system log of
# the namespace's own listens there.
set -euo pipefail
exec 7</dev
mount -t tmpfs -o mode=0755,nosuid private-dev /dev
for entry in /proc/self/fd/7/* /proc/self/fd/7/.[!.]*; do
    name=${entry##*/}
    if [ "$name" = log ] || { [ ! -e "$entry" ] && [ ! -L "$entry" ]; }; then
        continue
    elif [ -L "$entry" ]; then
        ln -s "$(readlink "$entry")" "/dev/$name"
    elif [ -d "$entry" ]; then
        mkdir "/dev/$name"
        mount -c --rbind "$entry" "/dev/$name"
    else
        : >"/dev/$name"
        mount -c --bind "$entry" "/dev/$name"
    fi
done
