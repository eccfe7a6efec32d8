#!/usr/bin/env bash
# Builds the Release morlett.exe with the end-to-end probe and the reference programs that
# scripts/bench.sh and scripts/soak.sh measure against, into BUILD_DIR; the logs go to
# LOG_DIR/.configure-NAME.log and .build-NAME.log. On failure it shows their ends.
#   bash scripts/build-tools.sh BUILD_DIR LOG_DIR NAME
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$1 logs=$2 name=$3
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DMORLETT_WERROR=ON >"$logs/.configure-$name.log" 2>&1 &&
    cmake --build "$build" -j2 --target morlett morlett_probe ref_poll ref_sleep ref_player \
        ref_tray morlett_benchtool >"$logs/.build-$name.log" 2>&1 || {
    tail -n 30 "$logs/.build-$name.log" "$logs/.configure-$name.log" 2>/dev/null
    exit 1
}
