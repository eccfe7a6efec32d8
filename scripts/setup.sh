#!/usr/bin/env bash
# Installs everything building and testing need on a Debian 12 machine; run as root.
# Safe to run again: when all is there it only checks and prints "setup: all present".
#
# miniaudio (one header) is not in Debian 12's own suites. It is taken from the Debian
# package libminiaudio-dev (from the machine's suites if they have it, else from Debian's
# next release, trixie, fetched from the same archive the machine already uses) and
# unpacked, not installed, under $MORLETT_PREFIX/miniaudio; the build searches
#   $MORLETT_PREFIX/miniaudio/usr/include        (holds miniaudio.h and nothing else of note)
# A directory of its own also suits the mingw build, which must never see /usr/include.
#
# Knobs (environment):
#   MORLETT_PREFIX            install root for what is not a Debian package (default /opt/morlett)
#   MINIAUDIO_INCLUDE_DIR     a folder that already holds miniaudio.h: nothing is downloaded
#   MORLETT_APT_LOCK_TIMEOUT  seconds to wait for another apt/dpkg run to let go of its
#                             locks (default 600; a freshly booted machine runs its daily
#                             apt job then)
#
# Exit status: 0 when everything is there; 1 on a failure, with a line that says what to do;
# 3 when the Debian archive could not be reached for miniaudio (the packages are fine).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

packages=(
    cmake ninja-build make git python3 python3-pytest python3-yaml clang-format
    g++ clang lld libclang-rt-14-dev googletest nlohmann-json3-dev
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    wine wine64 fonts-wine xvfb xdotool x11-utils
    pulseaudio pulseaudio-utils sox imagemagick
)
prefix=${MORLETT_PREFIX:-/opt/morlett}
miniaudio_root=$prefix/miniaudio
miniaudio_header=$miniaudio_root/usr/include/miniaudio.h
lock_timeout=${MORLETT_APT_LOCK_TIMEOUT:-600}

say() { printf 'setup: %s\n' "$*"; }
fail() {
    printf 'setup: %s\n' "$@" >&2
    exit 1
}

case "$lock_timeout" in
'' | *[!0-9]*) fail "MORLETT_APT_LOCK_TIMEOUT must be whole seconds, not '$lock_timeout'" ;;
esac

# A header the user brings replaces the download.
if [ -n "${MINIAUDIO_INCLUDE_DIR:-}" ]; then
    [ -f "$MINIAUDIO_INCLUDE_DIR/miniaudio.h" ] ||
        fail "MINIAUDIO_INCLUDE_DIR=$MINIAUDIO_INCLUDE_DIR holds no miniaudio.h" \
            "point it at the folder that holds miniaudio.h, or unset it to fetch libminiaudio-dev"
    miniaudio_header=$MINIAUDIO_INCLUDE_DIR/miniaudio.h
fi

missing=()
while read -r name status; do
    [ "$status" = "installed" ] || missing+=("$name")
done < <(
    for p in "${packages[@]}"; do
        printf '%s %s\n' "$p" "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)"
    done
)

if [ ${#missing[@]} -eq 0 ] && [ -f "$miniaudio_header" ]; then
    say "all present"
    exit 0
fi

if [ "$(id -u)" != 0 ]; then
    fail "run me as root (missing: ${missing[*]:-} ${miniaudio_header})"
fi

# Runs an apt-get command, waiting while another apt or dpkg run holds the locks: dpkg's
# own lock wait covers installs, and a command that still failed on a lock is tried again
# until the time is up. Any other failure is final at once.
apt_run() {
    local deadline=$((SECONDS + lock_timeout)) err rc waited=
    err=$(mktemp)
    while :; do
        rc=0
        apt-get -o DPkg::Lock::Timeout="$lock_timeout" "$@" 2>"$err" || rc=$?
        if [ "$rc" = 0 ]; then
            grep -v '^debconf: delaying package configuration' "$err" >&2 || true
            rm -f "$err"
            return 0
        fi
        if grep -qiE 'could not (get|open) lock|unable to (acquire|lock)|is another process using it' "$err"; then
            if [ "$SECONDS" -lt "$deadline" ]; then
                [ -n "$waited" ] || say "another apt or dpkg run holds its lock; waiting (at most ${lock_timeout} s)"
                waited=1
                sleep 5
                continue
            fi
            cat "$err" >&2
            rm -f "$err"
            fail "another apt or dpkg run still held its lock after ${lock_timeout} s;" \
                "run me again when it is done (or set MORLETT_APT_LOCK_TIMEOUT to wait longer)"
        fi
        cat "$err" >&2
        rm -f "$err"
        return "$rc"
    done
}

apt_updated=
apt_update() {
    if [ -z "$apt_updated" ]; then
        apt_run update -qq || fail "'apt-get update' failed (see above): check the machine's apt sources and network"
        apt_updated=1
    fi
}

if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    apt_update
    apt_run install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
        fail "installing ${missing[*]} failed (see above)"
fi

if [ ! -f "$miniaudio_header" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    unreachable() {
        printf 'setup: %s\n' "could not reach the Debian archive for $1 to fetch libminiaudio-dev;" \
            "pass MINIAUDIO_INCLUDE_DIR=<folder holding miniaudio.h> instead (miniaudio 0.11.x)" >&2
        exit 3
    }
    # Downloads are checked against the signed index either way; the sandbox user could
    # not write into our private directory.
    apt_opts=(-o APT::Sandbox::User=root)
    apt_update
    suite="the machine's suites"
    candidate=$(apt-cache policy libminiaudio-dev 2>/dev/null | awk '/Candidate:/ {print $2}')
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
        # Add trixie for this one download only, in a private apt state: the machine's
        # own sources, lists and package cache stay as they are.
        suite=trixie
        . /etc/os-release
        uri=$(apt-get indextargets --format '$(TARGET_OF) $(ORIGIN) $(CODENAME) $(COMPONENT) $(REPO_URI)' |
            awk -v c="${VERSION_CODENAME:-bookworm}" '$1 == "deb" && $2 == "Debian" && $3 == c && $4 == "main" && !u {u = $5} END {print u}')
        [ -n "$uri" ] ||
            fail "found no Debian 'main' archive for ${VERSION_CODENAME:-bookworm} in apt's sources;" \
                "pass MINIAUDIO_INCLUDE_DIR=<folder holding miniaudio.h> instead"
        mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts"
        {
            echo "Types: deb"
            echo "URIs: $uri"
            echo "Suites: trixie"
            echo "Components: main"
            if [ -f /usr/share/keyrings/debian-archive-keyring.gpg ]; then
                echo "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
            fi
        } >"$work/trixie.sources"
        apt_opts+=(
            -o Dir::Etc::sourcelist="$work/trixie.sources"
            -o Dir::Etc::sourceparts="$work/parts"
            -o Dir::State::Lists="$work/lists"
            -o Dir::Cache="$work/cache"
        )
        say "fetching libminiaudio-dev from Debian trixie"
        # apt-get update reports a failed fetch only as a warning: the index must be there.
        apt-get "${apt_opts[@]}" update -qq 2>"$work/update.err" || true
        if ! compgen -G "$work/lists/*_Packages*" >/dev/null; then
            sed 's/^/  /' "$work/update.err" >&2
            unreachable trixie
        fi
    fi
    if ! (cd "$work" && apt-get "${apt_opts[@]}" download -qq libminiaudio-dev) 2>"$work/download.err"; then
        sed 's/^/  /' "$work/download.err" >&2
        unreachable "$suite"
    fi
    deb=$(ls "$work"/libminiaudio-dev_*.deb)
    version=$(dpkg-deb -f "$deb" Version)
    case "$version" in
    0.11.*) ;;
    *) say "warning: libminiaudio-dev $version is not the 0.11 series we build against" >&2 ;;
    esac
    # dpkg-deb makes only the last folder of the path it unpacks into.
    mkdir -p "$prefix" || fail "cannot create $prefix; set MORLETT_PREFIX to a folder you can write"
    rm -rf "$miniaudio_root.new"
    dpkg-deb -x "$deb" "$miniaudio_root.new" || fail "unpacking $deb into $miniaudio_root.new failed"
    printf '%s\n' "$version" >"$miniaudio_root.new/VERSION"
    [ -f "$miniaudio_root.new/usr/include/miniaudio.h" ] ||
        fail "libminiaudio-dev $version has no usr/include/miniaudio.h;" \
            "pass MINIAUDIO_INCLUDE_DIR=<folder holding miniaudio.h> instead"
    rm -rf "$miniaudio_root"
    mv "$miniaudio_root.new" "$miniaudio_root"
    say "miniaudio $(cat "$miniaudio_root/VERSION") at $miniaudio_header"
else
    say "miniaudio at $miniaudio_header"
fi
say "done"
