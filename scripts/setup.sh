#!/usr/bin/env bash
# Installs everything building and testing need on a Debian 12 machine; run as root.
# Safe to run again: when all is there it only checks and prints "setup: all present".
#
# miniaudio (one header) is not in Debian 12's own suites. It is taken from the Debian
# package libminiaudio-dev (from the machine's suites if they have it, else from Debian's
# next release, trixie, fetched from the same archive the machine already uses) and
# unpacked, not installed, under /opt/morlett/miniaudio; the build searches
#   /opt/morlett/miniaudio/usr/include        (holds miniaudio.h and nothing else of note)
# A directory of its own also suits the mingw build, which must never see /usr/include.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

packages=(
    cmake ninja-build make git python3 clang-format
    g++ clang libclang-rt-14-dev googletest nlohmann-json3-dev
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    wine wine64 fonts-wine xvfb xdotool x11-utils
    pulseaudio pulseaudio-utils sox imagemagick
)
miniaudio_root=/opt/morlett/miniaudio
miniaudio_header=$miniaudio_root/usr/include/miniaudio.h

missing=()
while read -r name status; do
    [ "$status" = "installed" ] || missing+=("$name")
done < <(
    for p in "${packages[@]}"; do
        printf '%s %s\n' "$p" "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)"
    done
)

if [ ${#missing[@]} -eq 0 ] && [ -f "$miniaudio_header" ]; then
    echo "setup: all present"
    exit 0
fi

if [ "$(id -u)" != 0 ]; then
    echo "setup: run me as root (missing: ${missing[*]:-} ${miniaudio_header})" >&2
    exit 1
fi

apt_updated=
apt_update() {
    if [ -z "$apt_updated" ]; then
        apt-get update -qq
        apt_updated=1
    fi
}

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    apt_update
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ ! -f "$miniaudio_header" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    # Downloads are checked against the signed index either way; the sandbox user could
    # not write into our private directory.
    apt_opts=(-o APT::Sandbox::User=root)
    apt_update
    candidate=$(apt-cache policy libminiaudio-dev 2>/dev/null | awk '/Candidate:/ {print $2}')
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
        # Add trixie for this one download only, in a private apt state: the machine's
        # own sources, lists and package cache stay as they are.
        . /etc/os-release
        uri=$(apt-get indextargets --format '$(TARGET_OF) $(ORIGIN) $(CODENAME) $(COMPONENT) $(REPO_URI)' |
            awk -v c="${VERSION_CODENAME:-bookworm}" '$1 == "deb" && $2 == "Debian" && $3 == c && $4 == "main" && !u {u = $5} END {print u}')
        if [ -z "$uri" ]; then
            echo "setup: found no Debian 'main' archive for ${VERSION_CODENAME:-bookworm} in apt's sources" >&2
            exit 1
        fi
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
        echo "setup: fetching libminiaudio-dev from Debian trixie"
        apt-get "${apt_opts[@]}" update -qq
    fi
    (cd "$work" && apt-get "${apt_opts[@]}" download -qq libminiaudio-dev)
    deb=$(ls "$work"/libminiaudio-dev_*.deb)
    version=$(dpkg-deb -f "$deb" Version)
    case "$version" in
    0.11.*) ;;
    *) echo "setup: warning: libminiaudio-dev $version is not the 0.11 series we build against" >&2 ;;
    esac
    mkdir -p "$(dirname "$miniaudio_root")"
    rm -rf "$miniaudio_root.new"
    dpkg-deb -x "$deb" "$miniaudio_root.new"
    printf '%s\n' "$version" >"$miniaudio_root.new/VERSION"
    if [ ! -f "$miniaudio_root.new/usr/include/miniaudio.h" ]; then
        echo "setup: libminiaudio-dev $version has no usr/include/miniaudio.h" >&2
        exit 1
    fi
    rm -rf "$miniaudio_root"
    mv "$miniaudio_root.new" "$miniaudio_root"
fi

echo "setup: miniaudio $(cat "$miniaudio_root/VERSION" 2>/dev/null || echo '?') at $miniaudio_header"
echo "setup: done"
