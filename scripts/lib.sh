# Shell helpers shared by the scripts; source it:  source "$(dirname "$0")/lib.sh"
#
#   alive PID                   true while the process lives (a zombie counts as gone)
#   gone PID                    its opposite
#   end_pid [-g] PID [SECONDS]  TERM, a wait of at most SECONDS (default 5), then KILL;
#                               with -g the signals go to PID's whole process group.
#                               Reaps PID when it is our child. Only for processes we
#                               started: never anything found by name.
#   wait_until SECONDS CMD...   runs CMD every 0.1 s until it succeeds (status 0) or
#                               SECONDS have passed (status 1)

alive() {
    local state
    [ -n "${1:-}" ] || return 1
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

gone() { ! alive "$1"; }

wait_until() {
    local tries
    tries=$(awk -v s="$1" 'BEGIN {printf "%d", s * 10}')
    shift
    while :; do
        "$@" && return 0
        [ "$tries" -gt 0 ] || return 1
        tries=$((tries - 1))
        sleep 0.1
    done
}

end_pid() {
    local target pid
    if [ "${1:-}" = -g ]; then
        shift
        target="-$1"
    else
        target=$1
    fi
    pid=$1
    if alive "$pid"; then
        kill -TERM -- "$target" 2>/dev/null
        if ! wait_until "${2:-5}" gone "$pid"; then
            kill -KILL -- "$target" 2>/dev/null
            wait_until 2 gone "$pid"
        fi
    fi
    wait "$pid" 2>/dev/null
    return 0
}
