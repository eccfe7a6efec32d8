#!/usr/bin/env bash
# A headless demonstration of morlett.exe: a private Xvfb display, a PulseAudio null sink
# and a Wine prefix (scripts/winenv.sh), the program started and used as a user would, a
# screenshot of its tray menu and a timeline of what it played. Everything it starts is
# stopped again.
#   bash e2e/demo.sh BUILD_DIR [SCREENSHOT.png]
# BUILD_DIR is a built windows configuration (build/windows); the screenshot goes to
# BUILD_DIR/e2e-work/morlett-menu.png unless named.
set -u
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [SCREENSHOT.png]" >&2
    exit 2
fi
build=$(cd "$1" && pwd) || exit 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for f in "$build/app/morlett.exe" "$build/e2e/morlett_probe.exe"; do
    if [ ! -f "$f" ]; then
        echo "demo: $f is missing: build the windows configuration first" >&2
        exit 2
    fi
done
shot=()
if [ $# -ge 2 ]; then
    mkdir -p "$(dirname "$2")" && shot=(--screenshot "$(cd "$(dirname "$2")" && pwd)/$(basename "$2")")
fi
exec bash "$here/../scripts/winenv.sh" run "$build" python3 "$here/demo.py" --build "$build" "${shot[@]}"
