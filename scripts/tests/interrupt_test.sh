#!/usr/bin/env bash
# An interrupted test run leaves nothing behind: scripts/test.sh windows is ended in the
# middle of its Windows tests, once with TERM to its process group (a CI runner giving up)
# and once with INT (Ctrl-C), and afterwards no process that it started may be alive.
# Every process it starts inherits a marker in its environment, which is how they are found.
set -u
cd "$(dirname "$0")/../.."
root=$PWD
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if [ ! -f build/windows/CMakeCache.txt ]; then
    echo "skip interrupted test run: build/windows is not built (scripts/test.sh windows builds it)"
    exit 0
fi

# PIDs of live processes whose environment carries the marker.
marked() {
    local f pid state
    for f in $(grep -lzx "MORLETT_TEST_MARK=$1" /proc/[0-9]*/environ 2>/dev/null); do
        pid=${f#/proc/}
        pid=${pid%/environ}
        state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || continue
        [ "$state" = Z ] || [ "$state" = X ] || echo "$pid"
    done
}

# True once the marked run has its Wine environment up and runs the Windows tests.
windows_tests_running() {
    local pid
    for pid in $(marked "$1"); do
        { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -q '^ctest --preset windows' && return 0
    done
    return 1
}

interrupt() {
    local sig=$1 mark name pid left
    mark="interrupt-$sig-$$-$RANDOM"
    name="scripts/test.sh windows ended with $sig"
    # A process group of its own with INT at its default, as a shell in a terminal has it.
    MORLETT_TEST_MARK=$mark MORLETT_TEST_LOG_DIR=$tmp/logs setsid env --default-signal=INT bash scripts/test.sh windows \
        </dev/null >"$tmp/$sig.log" 2>&1 &
    pid=$!
    for _ in $(seq 1200); do
        windows_tests_running "$mark" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if ! windows_tests_running "$mark"; then
        echo "FAIL $name: no Windows test started within 120 s:"
        sed 's/^/    /' "$tmp/$sig.log"
        kill -TERM -- "-$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        return
    fi
    sleep 1
    kill "-$sig" -- "-$pid"
    for _ in $(seq 600); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "FAIL $name: still running 60 s after the signal"
        kill -KILL -- "-$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
    # Daemons may take a moment to go after their server.
    for _ in $(seq 50); do
        left=$(marked "$mark")
        [ -z "$left" ] && break
        sleep 0.1
    done
    if [ -n "$left" ]; then
        echo "FAIL $name: left running:"
        for p in $left; do
            printf '    %s %s\n' "$p" "$(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null)"
            kill -KILL "$p" 2>/dev/null
        done
        timeout 20 env WINEPREFIX="$root/build/windows/wineprefix" wineserver -k 2>/dev/null
    elif ! grep -q 'interrupted' "$tmp/$sig.log"; then
        echo "FAIL $name: it did not say that it was interrupted:"
        sed 's/^/    /' "$tmp/$sig.log"
    else
        echo "ok $name: nothing left running"
    fi
}

interrupt TERM
interrupt INT
