#!/usr/bin/env bash
# The set-up as a new machine meets it: miniaudio goes into an install root that does not
# exist yet, and a header the user brings is taken as it is.
set -u
cd "$(dirname "$0")/../.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# An install root whose parent folders do not exist either.
root=$tmp/fresh/opt/morlett
rc=0
MORLETT_PREFIX=$root bash scripts/setup.sh >"$tmp/fresh.log" 2>&1 || rc=$?
name="miniaudio into an empty install root"
if [ "$rc" = 3 ]; then
    echo "skip $name: the Debian archive could not be reached ($(grep -m1 'could not reach' "$tmp/fresh.log"))"
elif [ "$rc" != 0 ]; then
    echo "FAIL $name: setup.sh exited $rc:"
    sed 's/^/    /' "$tmp/fresh.log"
elif [ ! -s "$root/miniaudio/usr/include/miniaudio.h" ]; then
    echo "FAIL $name: no $root/miniaudio/usr/include/miniaudio.h"
elif ! grep -qE '^0\.11\.' "$root/miniaudio/VERSION" 2>/dev/null; then
    echo "FAIL $name: VERSION is '$(cat "$root/miniaudio/VERSION" 2>/dev/null)', not 0.11.x"
elif [ -e "$root/miniaudio.new" ]; then
    echo "FAIL $name: the unpacking folder $root/miniaudio.new was left behind"
else
    echo "ok $name ($(cat "$root/miniaudio/VERSION"))"
fi

# A header of the user's own: used where it is, nothing downloaded, no install root made.
mkdir -p "$tmp/own"
: >"$tmp/own/miniaudio.h"
rc=0
MINIAUDIO_INCLUDE_DIR=$tmp/own MORLETT_PREFIX=$tmp/unused bash scripts/setup.sh >"$tmp/own.log" 2>&1 || rc=$?
name="MINIAUDIO_INCLUDE_DIR replaces the download"
if [ "$rc" = 0 ] && [ ! -e "$tmp/unused" ]; then
    echo "ok $name"
else
    echo "FAIL $name: exit $rc, install root made: $([ -e "$tmp/unused" ] && echo yes || echo no)"
    sed 's/^/    /' "$tmp/own.log"
fi

# A wrong folder fails at once and says what to do.
rc=0
MINIAUDIO_INCLUDE_DIR=$tmp/nothing-here MORLETT_PREFIX=$tmp/unused bash scripts/setup.sh >"$tmp/wrong.log" 2>&1 || rc=$?
name="a MINIAUDIO_INCLUDE_DIR without the header is refused with advice"
if [ "$rc" = 1 ] && grep -q 'holds no miniaudio.h' "$tmp/wrong.log" && grep -q 'point it at' "$tmp/wrong.log"; then
    echo "ok $name"
else
    echo "FAIL $name: exit $rc:"
    sed 's/^/    /' "$tmp/wrong.log"
fi
