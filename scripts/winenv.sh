#!/usr/bin/env bash
# The Windows test environment: a Wine prefix inside the build directory, a private
# Xvfb display and a private PulseAudio server whose only sink is a 48 kHz null sink.
#
#   source scripts/winenv.sh; winenv_start BUILD_DIR; ...; winenv_stop
#   scripts/winenv.sh run BUILD_DIR COMMAND [ARGS...]   (exit code of COMMAND)
#
# winenv_start exports DISPLAY, WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES, PULSE_SERVER,
# PULSE_CLIENTCONFIG, MORLETT_SINK (record its sound from "$MORLETT_SINK.monitor"),
# MORLETT_WINENV=1 and MORLETT_WINENV_BUILD_DIR. winenv_stop ends only the processes
# winenv_start started (by PID, plus `wineserver -k` for our own prefix) and puts the
# variables back as they were.
#
# Other people's Wine, Xvfb and PulseAudio run on the same machine, so nothing here
# uses a fixed display, socket or a shared prefix, and nothing is ended by name.
# Every wait is bounded; a start that cannot finish tears down what it began.
#
# Knobs: MORLETT_WINENV_LOCK_TIMEOUT (s, default 900) is how long a second environment
# on the same build directory waits for the first one to finish; MORLETT_WINENV_SOUND_WAIT=0
# skips waiting until recordings of the sink start at once (see below);
# MORLETT_WINENV_KEEP_LOGS=1 keeps the daemons' logs (their directory is printed).

# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

_winenv_log() { printf 'winenv: %s\n' "$*" >&2; }

# Daemons must not inherit the build directory's lock: one left behind would hold it.
_winenv_close_lock() {
    if [ -n "${_winenv_lock_fd:-}" ]; then
        exec {_winenv_lock_fd}>&-
    fi
}

# Variables we export, saved on start and restored on stop.
_winenv_vars=(DISPLAY WINEPREFIX WINEDEBUG WINEDLLOVERRIDES PULSE_SERVER PULSE_CLIENTCONFIG
    MORLETT_SINK MORLETT_WINENV MORLETT_WINENV_BUILD_DIR)
declare -gA _winenv_saved=()

_winenv_save_vars() {
    local v
    _winenv_saved=()
    for v in "${_winenv_vars[@]}"; do
        [ -z "${!v+x}" ] || _winenv_saved[$v]=${!v}
    done
}

_winenv_restore_vars() {
    local v
    for v in "${_winenv_vars[@]}"; do
        if [ -n "${_winenv_saved[$v]+x}" ]; then
            export "$v=${_winenv_saved[$v]}"
        else
            unset "$v"
        fi
    done
    _winenv_saved=()
}

# PulseAudio in user mode refuses nothing as root: it warns "This program is not intended
# to be run as root" and runs. What it needs is a HOME and runtime dirs of its own (it
# writes its cookie and state there), no D-Bus (there is none without a session; the
# warnings about it are harmless), no real-time scheduling and no CPU limit (the limit
# would kill it while a sanitizer build loads the machine). The socket lives in a short
# /tmp path: unix socket paths are limited to 107 bytes and build dirs can be deep.
_winenv_start_pulse() {
    local dir=$1
    mkdir -p "$dir/pulse/home" "$dir/pulse/run" || return 1
    chmod 700 "$dir/pulse/run"
    printf 'autospawn = no\n' >"$dir/pulse/client.conf"
    (
        _winenv_close_lock
        cd / || exit 1
        exec env -u DISPLAY \
            HOME="$dir/pulse/home" XDG_RUNTIME_DIR="$dir/pulse/run" \
            XDG_CONFIG_HOME="$dir/pulse/home/.config" PULSE_RUNTIME_PATH="$dir/pulse/run" \
            PULSE_STATE_PATH="$dir/pulse/home/state" PULSE_CLIENTCONFIG="$dir/pulse/client.conf" \
            pulseaudio -n --daemonize=no --system=no --exit-idle-time=-1 \
            --use-pid-file=no --high-priority=no --realtime=no --no-cpu-limit \
            --log-target=stderr --log-level=warning \
            -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/pulse/run/native" \
            -L "module-null-sink sink_name=$MORLETT_SINK rate=48000 channels=2 sink_properties=device.description=Morlett_test_sink"
    ) </dev/null >"$dir/pulse.log" 2>&1 &
    _winenv_pulse_pid=$!
    export PULSE_SERVER="unix:$dir/pulse/run/native"
    export PULSE_CLIENTCONFIG="$dir/pulse/client.conf"
    if ! wait_until 10 _winenv_answers "$_winenv_pulse_pid" _winenv_pulse_up "$dir" ||
        ! alive "$_winenv_pulse_pid"; then
        _winenv_log "PulseAudio did not start or answer within 10 s:"
        sed 's/^/  /' "$dir/pulse.log" >&2
        return 1
    fi
    timeout 5 pactl set-default-sink "$MORLETT_SINK" >/dev/null 2>&1 || return 1
    _winenv_start_monitor_keeper "$dir"
}

# True once the daemon PID answers CHECK..., or once it has ended (the caller tells which).
_winenv_answers() {
    local pid=$1
    shift
    ! alive "$pid" || "$@"
}

_winenv_pulse_up() { [ -S "$1/pulse/run/native" ] && timeout 5 pactl info >/dev/null 2>&1; }

# A recorder that connects to the monitor of an idle null sink gets nothing for about 2 s
# (the sink still renders in its long idle blocks); the silence before a sound would be
# missing from the recording and onsets would be measured wrong. One 10 ms reader that
# stays connected keeps the sink rendering in 10 ms blocks, so every later recording
# starts at once and is as long as the time it ran. winenv_start waits for that once
# (about 2 s from here, spent mostly on the other steps) unless
# MORLETT_WINENV_SOUND_WAIT=0.
_winenv_start_monitor_keeper() {
    local dir=$1
    (
        _winenv_close_lock
        exec parec --latency-msec=10 --raw -d "$MORLETT_SINK.monitor"
    ) </dev/null >/dev/null 2>"$dir/keeper.log" &
    _winenv_keeper_pid=$!
}

# True once a new recording of the monitor receives data.
_winenv_wait_monitor() {
    local dir=$1 probe pid
    probe="$dir/probe.raw"
    (
        _winenv_close_lock
        exec parec --latency-msec=10 --raw -d "$MORLETT_SINK.monitor"
    ) </dev/null >"$probe" 2>/dev/null &
    pid=$!
    wait_until 6 test -s "$probe" ||
        _winenv_log "warning: the sink's monitor delivered no sound within 6 s"
    end_pid "$pid"
    rm -f "$probe"
    return 0
}

# True once display :N is served by the Xvfb we started (its lock names our PID).
_winenv_xvfb_up() {
    [ "$( { tr -d ' ' <"/tmp/.X$1-lock"; } 2>/dev/null)" = "$_winenv_xvfb_pid" ] &&
        timeout 5 xdpyinfo -display ":$1" >/dev/null 2>&1
}

# The first free display from :100 upward. Two environments may pick the same number at
# once; Xvfb then refuses the lock in one of them, and that one moves on.
_winenv_start_xvfb() {
    local dir=$1 n
    for n in $(seq 100 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        (
            _winenv_close_lock
            cd / || exit 1
            # -noreset: the server must keep its state (the Caps Lock state above all)
            # when the last client disconnects between two test programs.
            exec Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset
        ) </dev/null >"$dir/xvfb.log" 2>&1 &
        _winenv_xvfb_pid=$!
        if wait_until 10 _winenv_answers "$_winenv_xvfb_pid" _winenv_xvfb_up "$n" &&
            alive "$_winenv_xvfb_pid"; then
            export DISPLAY=":$n"
            return 0
        fi
        end_pid "$_winenv_xvfb_pid"
        _winenv_xvfb_pid=
    done
    _winenv_log "no X display could be started (tried :100-:199), last log:"
    sed 's/^/  /' "$dir/xvfb.log" >&2
    return 1
}

# Where the server of $WINEPREFIX puts its socket: Debian's Wine keeps a random /tmp
# directory named in $WINEPREFIX/wineserver, upstream uses /tmp/.wine-UID.
_winenv_server_socket() {
    local dev ino sub base
    read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX") || return 1
    sub=$(printf 'server-%x-%x' "$dev" "$ino")
    if [ -f "$WINEPREFIX/wineserver" ]; then
        base=/tmp/$(cat "$WINEPREFIX/wineserver")
    else
        base=/tmp/.wine-$(id -u)
    fi
    printf '%s/%s/socket\n' "$base" "$sub"
}

# The prefix is made once per build directory, without a display (so nothing waits for
# a window manager), and only counts as made once the stamp is written (whose name changes
# with what a prefix is made with, so an older prefix is made again once). A second argument
# "Y" leaves Wine's windows to the window manager (a prefix for the user's own desktop).
_winenv_make_prefix() {
    local dir=$1 managed=${2:-N} reg
    [ -f "$WINEPREFIX/.morlett-prefix-2" ] && return 0
    _winenv_log "creating the Wine prefix $WINEPREFIX (once, about 15 s)"
    rm -rf "$WINEPREFIX"
    reg="$dir/prefix.reg"
    # Managed=N: without a window manager, a managed Wine sends keyboard input only to the
    # window under the pointer and every window it hides waits 2 s for a WM. No crash
    # dialog: a crashing test prints its backtrace and ends.
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' "\"Managed\"=\"$managed\"" '' \
        '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Drivers]' '"Audio"="pulse"' '' >"$reg"
    # A test prefix paints Wine's tray (in the Menu colour, white by default) mid grey, so
    # that the black icon of a light taskbar and the white one of a dark taskbar both show
    # in a screenshot, whichever program made the tray first.
    if [ "$managed" = N ]; then
        printf '%s\r\n' '[HKEY_CURRENT_USER\Control Panel\Colors]' '"Menu"="128 128 128"' '' >>"$reg"
    fi
    if ! (
        _winenv_close_lock
        env -u DISPLAY timeout -k 10 240 wineboot -i &&
            env -u DISPLAY timeout -k 10 60 wine reg import "Z:$reg" &&
            timeout -k 5 60 wineserver -w
    ) </dev/null >"$dir/prefix.log" 2>&1; then
        _winenv_log "creating the Wine prefix failed, log:"
        sed 's/^/  /' "$dir/prefix.log" >&2
        timeout 20 wineserver -k 2>/dev/null
        return 1
    fi
    # Debian's Wine does not load the fonts of its own fonts-wine package (Tahoma, Marlett
    # for caption buttons and menu check marks); from the prefix's Fonts folder it does.
    if compgen -G '/usr/share/wine/fonts/*.ttf' >/dev/null; then
        cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" || return 1
    fi
    touch "$WINEPREFIX/.morlett-prefix-2"
}

# The persistent server keeps the prefix's state between the test programs of one run.
_winenv_start_wineserver() {
    local dir=$1 sock try
    for try in 1 2; do
        (
            _winenv_close_lock
            cd / || exit 1
            exec wineserver -f -p
        ) </dev/null >"$dir/wineserver.log" 2>&1 &
        _winenv_ws_pid=$!
        sock=$(_winenv_server_socket)
        wait_until 10 _winenv_answers "$_winenv_ws_pid" test -S "$sock"
        if alive "$_winenv_ws_pid" && [ -S "$sock" ]; then
            return 0
        fi
        if alive "$_winenv_ws_pid"; then
            # Socket not where we expected it; the server runs, Wine will find it.
            _winenv_log "note: wineserver socket not seen at $sock"
            return 0
        fi
        wait "$_winenv_ws_pid" 2>/dev/null
        _winenv_ws_pid=
        # A server from an earlier run that was killed still holds our prefix (we hold
        # the build directory's lock, so it is no one else's).
        [ "$try" = 1 ] || break
        _winenv_log "ending a stale wineserver on $WINEPREFIX"
        timeout 20 wineserver -k 2>/dev/null
        timeout 20 wineserver -w 2>/dev/null
    done
    _winenv_log "wineserver did not start:"
    sed 's/^/  /' "$dir/wineserver.log" >&2
    return 1
}

# The first Wine program of a session starts the prefix's service processes (services,
# explorer for the desktop and tray, plugplay, rpcss), which outlive it and inherit its
# stdout and stderr. Started from a test they would hold ctest's output pipe open until
# its timeout, so a throwaway program starts them here with their output in a file.
_winenv_warm_up() {
    local dir=$1
    if ! (
        _winenv_close_lock
        cd / || exit 1
        timeout -k 5 60 wine cmd.exe /c exit 0
    ) </dev/null >"$dir/warmup.log" 2>&1; then
        _winenv_log "Wine did not run a first program:"
        sed 's/^/  /' "$dir/warmup.log" >&2
        return 1
    fi
}

# The program on the user's own display and sound server (scripts/run.sh): a prefix of
# the project's own, made once like the tests' prefix but with a window manager's help,
# Wine's debug output and its Mono/Gecko installers off. Exports WINEPREFIX, WINEDEBUG,
# WINEDLLOVERRIDES and WINELOADER; the 64-bit loader is then called directly, as
# "$winenv_loader" (Debian's wine wrapper would warn that the 32-bit one is missing).
winenv_desktop_prefix() {
    local logs rc=0
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    winenv_loader=/usr/lib/wine/wine64
    [ -x "$winenv_loader" ] || winenv_loader=$(command -v wine64 || command -v wine)
    # Programs the program starts (its relaunch) use the same loader.
    export WINELOADER=$winenv_loader
    mkdir -p "$(dirname "$WINEPREFIX")" && logs=$(mktemp -d) || return 1
    _winenv_make_prefix "$logs" Y || rc=$?
    rm -rf "$logs"
    return $rc
}

winenv_start() {
    local build=${1:-}
    if [ -z "$build" ]; then
        _winenv_log "usage: winenv_start BUILD_DIR"
        return 2
    fi
    if [ -n "${_winenv_active:-}" ]; then
        _winenv_log "already started in this shell"
        return 1
    fi
    mkdir -p "$build" && build=$(cd "$build" && pwd) || return 1
    _winenv_active=1
    _winenv_save_vars
    _winenv_xvfb_pid='' _winenv_pulse_pid='' _winenv_keeper_pid='' _winenv_ws_pid='' _winenv_tmp='' _winenv_lock_fd=''

    # One environment per build directory at a time: they would share the prefix, and one
    # run's `wineserver -k` would end the other's programs.
    exec {_winenv_lock_fd}>>"$build/.winenv.lock" || { winenv_stop; return 1; }
    if ! flock -n "$_winenv_lock_fd"; then
        _winenv_log "waiting for another test environment on $build"
        if ! flock -w "${MORLETT_WINENV_LOCK_TIMEOUT:-900}" "$_winenv_lock_fd"; then
            _winenv_log "gave up waiting for $build/.winenv.lock"
            winenv_stop
            return 1
        fi
    fi

    _winenv_tmp=$(mktemp -d /tmp/morlett-winenv.XXXXXX) || { winenv_stop; return 1; }
    export WINEPREFIX="$build/wineprefix"
    export WINEDEBUG=-all
    # No Mono/Gecko installers, and no menu builder writing desktop entries into $HOME.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export MORLETT_SINK=morlett_sink
    export MORLETT_WINENV_BUILD_DIR="$build"
    unset DISPLAY

    # Sound first: Wine must never find the machine's default server or autospawn one.
    _winenv_start_pulse "$_winenv_tmp" &&
        _winenv_make_prefix "$_winenv_tmp" &&
        _winenv_start_xvfb "$_winenv_tmp" &&
        _winenv_start_wineserver "$_winenv_tmp" &&
        _winenv_warm_up "$_winenv_tmp" &&
        { [ "${MORLETT_WINENV_SOUND_WAIT:-1}" = 0 ] || _winenv_wait_monitor "$_winenv_tmp"; } || {
        winenv_stop
        return 1
    }
    export MORLETT_WINENV=1
    return 0
}

# Wine processes of our prefix that outlived their server: a signal to our process group
# (CI giving up, a TERM to `scripts/test.sh`) can end the server before `wineserver -k`
# reaches it, and Wine's service processes then stay behind. They are ours by construction
# (the prefix belongs to this environment while it holds the build directory's lock, and
# each of them carries the prefix in its environment), so they are ended by PID.
_winenv_sweep_prefix() {
    local f pid
    for f in $(grep -lzx "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null); do
        pid=${f#/proc/}
        pid=${pid%/environ}
        case "$pid" in "$$" | "$BASHPID" | "$PPID") continue ;; esac
        kill -KILL "$pid" 2>/dev/null
    done
}

winenv_stop() {
    [ -n "${_winenv_active:-}" ] || return 0
    if [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ]; then
        # Ends every Wine process of our prefix, then the server.
        timeout 20 wineserver -k >/dev/null 2>&1
    fi
    [ -n "${_winenv_ws_pid:-}" ] && end_pid "$_winenv_ws_pid"
    [ -n "${_winenv_xvfb_pid:-}" ] && end_pid "$_winenv_xvfb_pid"
    [ -n "${_winenv_keeper_pid:-}" ] && end_pid "$_winenv_keeper_pid"
    [ -n "${_winenv_pulse_pid:-}" ] && end_pid "$_winenv_pulse_pid"
    [ -n "${WINEPREFIX:-}" ] && _winenv_sweep_prefix
    if [ -n "${_winenv_tmp:-}" ] && [ -d "$_winenv_tmp" ]; then
        if [ -n "${MORLETT_WINENV_KEEP_LOGS:-}" ]; then
            _winenv_log "logs kept in $_winenv_tmp"
        else
            rm -rf "$_winenv_tmp"
        fi
    fi
    if [ -n "${_winenv_lock_fd:-}" ]; then
        flock -u "$_winenv_lock_fd" 2>/dev/null
        exec {_winenv_lock_fd}>&-
    fi
    _winenv_restore_vars
    _winenv_xvfb_pid='' _winenv_pulse_pid='' _winenv_keeper_pid='' _winenv_ws_pid='' _winenv_tmp='' _winenv_lock_fd=''
    _winenv_active=
    return 0
}

# Standalone use.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    case "${1:-}" in
    run)
        if [ $# -lt 3 ]; then
            echo "usage: $0 run BUILD_DIR COMMAND [ARGS...]" >&2
            exit 2
        fi
        build=$2
        shift 2
        _winenv_cmd_pid=
        _winenv_on_signal() {
            # Bash runs a trap only once its foreground child is done, so the command
            # runs in the background and is ended here (it ignores INT, being a
            # background job).
            [ -z "$_winenv_cmd_pid" ] || end_pid "$_winenv_cmd_pid"
            winenv_stop
            trap - "$1" EXIT
            kill -"$1" $$
            exit 1
        }
        trap 'winenv_stop' EXIT
        trap '_winenv_on_signal INT' INT
        trap '_winenv_on_signal TERM' TERM
        trap '_winenv_on_signal HUP' HUP
        winenv_start "$build" || exit 1
        # Standard input is passed on explicitly: a background job would get /dev/null.
        "$@" <&0 &
        _winenv_cmd_pid=$!
        wait "$_winenv_cmd_pid"
        exit $?
        ;;
    *)
        echo "usage: $0 run BUILD_DIR COMMAND [ARGS...]" >&2
        echo "   or: source $0; winenv_start BUILD_DIR; ...; winenv_stop" >&2
        exit 2
        ;;
    esac
fi
