#!/usr/bin/env bash
# Set-up, build, and start the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
exe=build/windows/app/morlett.exe
if [ ! -f "$exe" ]; then
    echo "run: the libraries and their tests are built (build/windows), but the program"
    echo "run: itself does not exist yet, so there is nothing to start. scripts/test.sh runs"
    echo "run: every test."
    exit 0
fi
