#!/usr/bin/env bash
# Runs one Windows program under Wine and exits with its exit code; CMake uses it as
# CMAKE_CROSSCOMPILING_EMULATOR:  scripts/wine-run.sh EXE [ARGS...]
#
# MORLETT_WINE_TIMEOUT (seconds, default 300) bounds the run: past it the program's
# process group is ended and we exit 124. Without a running test environment
# (MORLETT_WINENV unset, e.g. ctest by hand) one is started for this single run in the
# build directory holding the program: the nearest ancestor with a CMakeCache.txt, or
# MORLETT_BUILD_DIR if set.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"

if [ $# -lt 1 ]; then
    echo "usage: $0 EXE [ARGS...]" >&2
    exit 2
fi
exe=$1
shift
if [ ! -f "$exe" ]; then
    echo "wine-run: no such program: $exe" >&2
    exit 2
fi
limit=${MORLETT_WINE_TIMEOUT:-300}
case "$limit" in
'' | *[!0-9]*)
    echo "wine-run: MORLETT_WINE_TIMEOUT must be whole seconds, not '$limit'" >&2
    exit 2
    ;;
esac

child=
on_signal() {
    # ctest or a user gave up on us: end the program's whole group, never wait unbounded.
    local sig=$1
    [ -z "$child" ] || end_pid -g "$child" 3
    [ -n "${_winenv_active:-}" ] && winenv_stop
    trap - "$sig" EXIT
    kill -"$sig" $$
    exit 1
}

if [ -z "${MORLETT_WINENV:-}" ]; then
    build=${MORLETT_BUILD_DIR:-}
    if [ -z "$build" ]; then
        d=$(cd "$(dirname "$exe")" && pwd)
        while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do
            d=$(dirname "$d")
        done
        if [ ! -f "$d/CMakeCache.txt" ]; then
            echo "wine-run: no test environment and no CMakeCache.txt above $exe;" \
                "start one with scripts/winenv.sh or set MORLETT_BUILD_DIR" >&2
            exit 2
        fi
        build=$d
    fi
    # shellcheck source=winenv.sh
    source "$here/winenv.sh"
    trap 'winenv_stop' EXIT
    # Nobody records this run's sink, so don't wait for its recordings to start at once.
    MORLETT_WINENV_SOUND_WAIT=0 winenv_start "$build" || exit 1
fi
trap 'on_signal INT' INT
trap 'on_signal TERM' TERM
trap 'on_signal HUP' HUP

# timeout(1) puts the program in a process group of its own and, when the time is up,
# signals that whole group: the Wine process and anything it started, nothing else.
# Wine's own system processes (services, explorer) belong to the prefix's server and are
# ended by winenv_stop. Run in the background so our traps fire at once; stdin is passed
# on explicitly because a background job would otherwise read /dev/null.
start=$(date +%s)
timeout -k 10 "$limit" wine "$exe" "$@" <&0 &
child=$!
wait "$child"
rc=$?
# A trap that interrupted the wait has already exited; this is the program's own end.
if [ "$rc" = 124 ] || { [ "$rc" = 137 ] && [ $(($(date +%s) - start)) -ge "$limit" ]; }; then
    echo "wine-run: $exe did not finish within $limit s; ended it" >&2
    rc=124
fi
exit "$rc"
