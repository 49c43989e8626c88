# shellcheck shell=bash
# procd in the simulated router: OpenWrt's service manager runs the package's init script
# (openwrt/zunaro/files/zunaro.init) with OpenWrt's rc.common, functions.sh, service.sh and
# procd.sh, and logd is the system log that logread reads. Sourced by sim/router (`router procd`).
#
# procd, logd, logread and jsonfilter (procd.sh's `running` and `status`) come from the first
# prefix of the build's CMAKE_PREFIX_PATH that has them (scripts/deps host builds them); the four
# OpenWrt files from the pinned archive beside the checkout (../shared/third_party, or
# $ZUNARO_THIRD_PARTY). They run in a pid and mount namespace of their own inside the router
# (sim/lib/procd-boot.sh): /usr gets the files at OpenWrt's paths and busybox as /bin/sh (rc.common
# needs ash), /dev is private so that logd owns its /dev/log, and procd's pids are its own.

PROCD_INITSCRIPTS=openwrt-initscripts-03eca6c

procd_boot_pid() { router_pid "$STATE/run/procd-boot.pid"; }

procd_settings() {
    PROCD_PREFIX=$(tools_prefix "${ZUNARO_SIM_UBUS_PREFIX:-}" sbin/procd sbin/logd sbin/logread bin/jsonfilter lib/libsetlbf.so) ||
        die "no procd, logd, logread and jsonfilter under the build's CMAKE_PREFIX_PATH (scripts/deps host builds them)"
    PROCD_PATH=$ROUTER_PATH:$PROCD_PREFIX/sbin:$PROCD_PREFIX/bin
}

# The file system procd-boot.sh lays over the router's: $STATE/procd/{usr,etc}.
procd_tree() {
    local tree=$STATE/procd archive bin
    archive=${ZUNARO_THIRD_PARTY:-$(cd "$REPO_DIR/.." && pwd)/shared/third_party}/$PROCD_INITSCRIPTS.tar.gz
    [ -f "$archive" ] || die "no $archive (OpenWrt's rc.common, functions.sh, service.sh and procd.sh)"
    rm -rf "$tree"
    mkdir -p "$tree/src" "$tree/usr/lib/functions" "$tree/usr/share/libubox" "$tree/usr/sbin" "$tree/usr/bin" \
        "$tree/etc/init.d"
    tar -xzf "$archive" -C "$tree/src" --strip-components=1
    cp "$tree/src/package/base-files/files/lib/functions.sh" "$tree/usr/lib/"
    cp "$tree/src/package/base-files/files/lib/functions/service.sh" \
        "$tree/src/package/system/procd/files/procd.sh" "$tree/usr/lib/functions/"
    cp "$tree/src/package/base-files/files/etc/rc.common" "$tree/etc/"
    cp "$PROCD_PREFIX/share/libubox/jshn.sh" "$tree/usr/share/libubox/"
    cp "$PROCD_PREFIX/lib/libsetlbf.so" "$tree/usr/lib/"
    cp "$REPO_DIR/openwrt/zunaro/files/zunaro.init" "$tree/etc/init.d/zunaro"
    ln -s "$(command -v busybox)" "$tree/usr/bin/sh"
    bin=$(binary ZUNARO_SIM_ZUNAROD daemon/zunarod)
    if ! in_router test -x "$bin"; then
        cp "$bin" "$STATE/bin/zunarod"
        bin=$INSIDE/bin/zunarod
    fi
    ln -s "$bin" "$tree/usr/sbin/zunarod"
    ln -s "$(binary ZUNARO_SIM_ZUNAROCTL tools/zunaroctl/zunaroctl)" "$tree/usr/sbin/zunaroctl"
}

procd_start() {
    local keep=() v upid
    procd_boot_pid >/dev/null && die "procd is already running"
    daemon_pid >/dev/null && die "zunarod runs outside procd (router daemon stop)"
    start_ubusd
    procd_tree
    for v in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
        [ -z "${!v:-}" ] || keep+=("$v=${!v}")
    done
    # procd preloads its line-buffering library into a service whose output it logs: the
    # sanitizers' runtime is then not the first library, which they would otherwise refuse.
    keep+=("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0")
    rm -f "$STATE/run/procd.ready"
    # shellcheck disable=SC2016
    in_router env -i PATH="$PROCD_PATH" HOME=/root LANG=C "${keep[@]}" setsid /bin/sh -c \
        'cd / && echo $$ >"$0" && exec unshare --pid --fork --mount-proc --mount --propagation private "$@"' \
        "$INSIDE/run/procd-unshare.pid" "$INSIDE/lib/procd-boot.sh" "$INSIDE/procd" "$PROCD_PREFIX" \
        "$INSIDE/run/procd.ready" </dev/null >>"$STATE/log/procd.log" 2>&1 &
    for _ in $(seq 100); do
        [ -e "$STATE/run/procd.ready" ] && break
        sleep 0.05
    done
    [ -e "$STATE/run/procd.ready" ] || die "procd did not start (see $STATE/log/procd.log)"
    upid=$(cat "$STATE/run/procd-unshare.pid")
    tr -d " " <"/proc/$upid/task/$upid/children" >"$STATE/run/procd-boot.pid"
    for _ in $(seq 100); do
        router_cmd ubus -t 1 list service >/dev/null 2>&1 && router_cmd ubus -t 1 list log >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    die "procd or logd is not on the bus (see $STATE/log/procd.log)"
}

# A command in procd's namespaces, as the router's shell runs it.
procd_exec() {
    local pid
    pid=$(procd_boot_pid) || die "procd is not running (router procd start)"
    # shellcheck disable=SC2016
    nsenter --target "$pid" --mount --pid --net -- env -i PATH="$PROCD_PATH" HOME=/root LANG=C \
        /bin/sh -c 'cd / && exec "$@"' sh "$@"
}

cmd_procd() {
    need_up
    procd_settings
    local pid
    case ${1:-} in
        start) procd_start; echo "procd started; the package's init script is /etc/init.d/zunaro" ;;
        stop)
            pid=$(procd_boot_pid) || { echo "procd is not running"; return 0; }
            kill -KILL "$pid"
            wait_gone "$pid" 50 || die "procd's namespace did not end"
            echo "procd stopped" ;;
        status)
            pid=$(procd_boot_pid) && echo "running, first process $pid" && return 0
            echo "not running"; return 3 ;;
        exec) shift; [ $# -gt 0 ] || die "procd exec CMD..."; procd_exec "$@" ;;
        logread) shift; procd_exec logread "$@" ;;
        *) die "procd start|stop|status|exec CMD...|logread [ARGS]" ;;
    esac
}
