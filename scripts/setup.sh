#!/usr/bin/env bash
# Prepares this machine and the build tree for the i386 and amd64 builds; safe to run again.
#  1. amd64 tools and the amd64 flavour's Qt 5 Core (qtbase5-dev) through apt-get (only what
#     dpkg-query reports missing), and qemu-user where this kernel cannot run i386 programs (or
#     VRN3_I386_EMULATOR asks for it).
#  2. The i386 sysroot (Qt 5 Core and its libraries) in build/deps/sysroot, its pkg-config files
#     naming the sysroot itself.
#  3. An i386 libc with its debug info in build/deps/valgrind-root, for memcheck.
# Steps 2-3 fetch with private apt options into build/deps and never touch the
# system's dpkg state or sources; each leaves a stamp holding its inputs, so a
# later run skips it and needs no network.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEPS="$ROOT/build/deps"
APTD="$DEPS/apt"
STAMPS="$DEPS/stamps"
export DEBIAN_FRONTEND=noninteractive

HOST_PACKAGES="g++-multilib cmake googletest qtbase5-dev clang-14 clang-format libclang-rt-14-dev valgrind
  abigail-tools dwarves sox libcli11-dev dpkg-dev gcovr groff-base time tshark pkg-config python3"
SYSROOT_PACKAGES="libqt5core5a qtbase5-dev qt5-qmake qt5-qmake-bin qtbase5-dev-tools
  libicu72 libdouble-conversion3 libpcre2-16-0 libzstd1 zlib1g libglib2.0-0
  libpcre2-8-0 libffi8 libmount1 libselinux1 libblkid1"
LIBC_PACKAGES="libc6 libc6-dbg"

say() { echo "setup: $*"; }

# Runs apt-get, waiting while another apt or dpkg holds its locks.
apt_retry() {
    local out try
    for try in $(seq 1 120); do
        if out="$(apt-get -oDPkg::Lock::Timeout=600 "$@" 2>&1)"; then
            return 0
        fi
        if echo "$out" | grep -qiE 'could not get lock|unable to acquire|is locked|lock-frontend'; then
            [ "$try" = 1 ] && say "apt is busy in another process; waiting"
            sleep 5
            continue
        fi
        echo "$out" >&2
        return 1
    done
    echo "$out" >&2
    return 1
}

stamp_ok() { [ -f "$STAMPS/$1" ] && [ "$(cat "$STAMPS/$1")" = "$2" ]; }
stamp_set() { mkdir -p "$STAMPS"; printf '%s' "$2" > "$STAMPS/$1"; }

# 1. amd64 tools
missing=""
for p in $HOST_PACKAGES; do
    if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    say "installing$missing"
    # tshark's package asks whether ordinary users may capture; they need not (we only read files).
    echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
    apt_retry update -qq || say "apt-get update reported errors; trying the install anyway"
    # shellcheck disable=SC2086
    apt_retry install -y -qq --no-install-recommends $missing
else
    say "host packages present"
fi

# An emulator for i386 programs, where the kernel cannot run them or the emulated path is forced.
emulator="${VRN3_I386_EMULATOR:-}"
if [ -z "$emulator" ] && ! /lib/ld-linux.so.2 --version > /dev/null 2>&1; then
    emulator=qemu-i386-static
fi
if [ "${emulator##*/}" = qemu-i386-static ] && ! command -v qemu-i386-static > /dev/null; then
    say "installing qemu-user-static (i386 programs will run under qemu-user)"
    apt_retry install -y -qq --no-install-recommends qemu-user-static ||
        { apt_retry update -qq && apt_retry install -y -qq --no-install-recommends qemu-user-static; }
fi
bash "$ROOT/scripts/i386-emulator.sh" > /dev/null

# The Debian archive this machine already uses, read from its own apt sources
# (first non-security "debian" entry), so no host is written into the project.
archive_uri() {
    local files=() f uri
    [ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
    for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && files+=("$f")
    done
    uri="$( { grep -hE '^[[:space:]]*URIs:' "${files[@]}" 2>/dev/null | sed -E 's/^[[:space:]]*URIs:[[:space:]]*//' | tr ' ' '\n'
              grep -hE '^[[:space:]]*deb[[:space:]]' "${files[@]}" 2>/dev/null | sed -E 's/\[[^]]*\]//' | awk '{print $2}'
            } | grep -E '^https?://' | grep -v -- '-security' | grep -E '/debian(/|$)' | head -n 1 )"
    [ -n "$uri" ] || { echo "setup: no Debian archive found in /etc/apt sources" >&2; return 1; }
    echo "${uri%/}"
}

SUITE="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
APT_OPTS=(-oAPT::Architecture=i386 -oAPT::Architectures=i386
          -oDir::State::Lists="$APTD/lists" -oDir::Cache="$APTD/cache"
          -oDir::Etc::SourceList="$APTD/sources.list" -oDir::Etc::SourceParts="$APTD/sources.list.d"
          -oAPT::Sandbox::User=root -oAcquire::Retries=3)

private_lists_ready=""
private_update() {
    [ -n "$private_lists_ready" ] && return 0
    local uri
    uri="$(archive_uri)"
    mkdir -p "$APTD/lists/partial" "$APTD/cache/archives/partial" "$APTD/sources.list.d"
    echo "deb [signed-by=$KEYRING] $uri $SUITE main" > "$APTD/sources.list"
    say "reading the i386 package lists"
    apt_retry "${APT_OPTS[@]}" update -qq
    private_lists_ready=1
}

# Downloads the named i386 packages and unpacks each into $1.
fetch_unpack() {
    local dest="$1"; shift
    local dl="$APTD/debs-$(basename "$dest")"
    private_update
    rm -rf "$dl" "$dest"
    mkdir -p "$dl" "$dest"
    (cd "$dl" && apt_retry "${APT_OPTS[@]}" download "$@" >/dev/null)
    local f
    for f in "$dl"/*.deb; do dpkg -x "$f" "$dest"; done
}

# 2. i386 sysroot
key="$(echo $SYSROOT_PACKAGES)"
if stamp_ok sysroot "$key" && [ -d "$DEPS/sysroot/usr/lib/i386-linux-gnu/cmake/Qt5Core" ]; then
    say "i386 sysroot present"
else
    say "building the i386 sysroot in build/deps/sysroot"
    # shellcheck disable=SC2086
    fetch_unpack "$DEPS/sysroot" $SYSROOT_PACKAGES
    stamp_set sysroot "$key"
fi

# The sysroot's pkg-config files name /usr, Debian's prefix: made to name the sysroot itself from
# their own place, so that `PKG_CONFIG_LIBDIR=<sysroot>/usr/lib/i386-linux-gnu/pkgconfig` finds its
# Qt's headers. Qt Core's also gets its library folder (-L; Debian's needs none) and, for the
# libraries Qt Core needs in turn, both of the sysroot's library folders as link-time search paths.
# Run every time: the edits only apply to a file not yet edited.
pcdir="$DEPS/sysroot/usr/lib/i386-linux-gnu/pkgconfig"
sed -i 's|^prefix=/usr$|prefix=${pcfiledir}/../../..|' "$pcdir"/*.pc
sed -i 's|^Libs: -lQt5Core *$|Libs: -L${libdir} -lQt5Core -Wl,-rpath-link,${libdir}:${prefix}/../lib/i386-linux-gnu|' "$pcdir/Qt5Core.pc"

# 3. i386 libc with debug info, for valgrind memcheck through its own loader
key="$(echo $LIBC_PACKAGES)"
if stamp_ok valgrind-root "$key" && [ -e "$DEPS/valgrind-root/lib/i386-linux-gnu/ld-linux.so.2" ]; then
    say "valgrind root present"
else
    say "building the valgrind root in build/deps/valgrind-root"
    # shellcheck disable=SC2086
    fetch_unpack "$DEPS/valgrind-root" $LIBC_PACKAGES
    mkdir -p "$DEPS/valgrind-root/lib/i386-linux-gnu/.debug"
    find "$DEPS/valgrind-root/usr/lib/debug/.build-id" -name '*.debug' \
        -exec cp -f {} "$DEPS/valgrind-root/lib/i386-linux-gnu/.debug/" \;
    stamp_set valgrind-root "$key"
fi

say "done"
