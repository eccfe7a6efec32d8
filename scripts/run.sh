#!/usr/bin/env bash
# Set-up, build, and start the program.
#
# With a display and a sound server (DISPLAY set, and PulseAudio answering), morlett.exe
# runs under Wine on them until you end it through its tray menu ("exit"). Without them —
# the usual case on a server or in CI — a headless demonstration runs instead: a private
# Xvfb display and PulseAudio null sink, the program started, Caps Lock switched on and off,
# the tray menu opened and photographed, the program ended through "exit", and a timeline
# of what was heard printed from the recording of the sink. Everything it starts is stopped.
#   scripts/run.sh              as above
#   scripts/run.sh --demo       the headless demonstration even with a display
#   scripts/run.sh --no-demo    the program itself even without a display (it then runs on
#                               a private environment until it ends; end it with Ctrl-C)
set -euo pipefail
cd "$(dirname "$0")/.."

mode=auto
case "${1:-}" in
'') ;;
--demo) mode=demo ;;
--no-demo) mode=program ;;
*)
    echo "usage: $0 [--demo | --no-demo]" >&2
    exit 2
    ;;
esac

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
exe=build/windows/app/morlett.exe

if [ "$mode" = auto ]; then
    mode=demo
    if [ -n "${DISPLAY:-}" ] && command -v xdpyinfo >/dev/null && timeout 5 xdpyinfo >/dev/null 2>&1 &&
        timeout 5 pactl info >/dev/null 2>&1; then
        mode=desktop
    fi
fi

case "$mode" in
desktop)
    # A prefix of our own under build/ (made once), so nothing of Wine's set-up noise or of
    # ~/.wine is involved.
    source scripts/winenv.sh
    winenv_desktop_prefix "$PWD/build/desktop/wineprefix" || exit 1
    echo "run: morlett.exe runs under Wine on $DISPLAY, its icon in the tray; end it with the icon's menu, \"exit\""
    exec "$winenv_loader" "$exe"
    ;;
program)
    echo "run: starting $exe in a private Wine environment; Ctrl-C ends it"
    exec bash scripts/winenv.sh run build/windows wine "$exe"
    ;;
demo)
    echo "run: no display with a sound server here: a headless demonstration follows"
    export PYTHONPATH=$PWD${PYTHONPATH:+:$PYTHONPATH}
    exec bash scripts/winenv.sh run build/windows python3 scripts/demo.py \
        --screenshot build/morlett-demo.png
    ;;
esac
