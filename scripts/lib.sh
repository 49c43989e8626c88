# Shared by scripts/demo and scripts/test: install what is missing, then build.
# shellcheck shell=bash

ZUNARO_TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

ZUNARO_PACKAGES="g++ make cmake pkg-config googletest libgtest-dev libjson-c-dev libxml2-dev libmnl-dev
liblua5.1-0-dev lua5.1 zlib1g-dev curl iproute2 iputils-ping busybox python3 procps kmod util-linux"

znd_need_root() {
    if [ "$(id -u)" != 0 ]; then
        echo "$0: run as root (the daemon and its tests use network and mount namespaces)" >&2
        exit 1
    fi
}

znd_install_packages() {
    local missing=""
    for p in $ZUNARO_PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    echo "== installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# znd_build DIR [cmake options...]; only the targets named in $ZND_BUILD_TARGETS when it is set.
znd_build() {
    local dir=$1
    shift
    echo "== building $dir $*"
    cmake -S "$ZUNARO_TOP" -B "$ZUNARO_TOP/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$ZUNARO_TOP/$dir" -j "$(nproc)" ${ZND_BUILD_TARGETS:+--target $ZND_BUILD_TARGETS}
}
