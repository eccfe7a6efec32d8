#!/usr/bin/env bash
# Robustness runs of morlett.exe under Wine: the soak (random Caps Lock toggles, menu
# switches, speed changes; memory and handles flat; a warning for every long on-period)
# and the fault runs (no audio device, read-only settings folder, broken settings files,
# a save cut short, the tray coming back after the shell restarts). Prints GoogleTest's
# summary lines; writes benchmarks/soak.csv and benchmarks/soak-memory.png.
#
#   scripts/soak.sh                  30-minute soak and every fault run
#   scripts/soak.sh --minutes 2      the short version (CI's default run)
#   scripts/soak.sh --group faults   only the fault runs (or --group soak)
#
# MORLETT_BENCH_BUILD (build/bench-windows) is the build directory it shares with
# scripts/bench.sh; SOAK_OUT (benchmarks) the result folder.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${MORLETT_BENCH_BUILD:-$root/build/bench-windows}
out=${SOAK_OUT:-$root/benchmarks}
mkdir -p "$out" "$(dirname "$build")"

minutes=30
for ((i = 1; i <= $#; i++)); do
    [ "${!i}" = --minutes ] && { j=$((i + 1)); minutes=${!j}; }
done
echo "[soak] building the program and the tools (Release, $build)"
bash scripts/build-tools.sh "$build" "$out" soak || {
    echo "[  FAILED  ] 1 tests, listed below:"
    echo "[  FAILED  ] Soak.Build"
    exit 1
}
echo "[soak] running: soak of $minutes minutes and the fault runs; ends by itself"
# Bounded: the soak's own length, the fault runs (about 4 minutes) and a margin.
limit=$(awk -v m="$minutes" 'BEGIN {printf "%d", m * 60 + 600}')
timeout -k 30 "$limit" bash scripts/winenv.sh run "$build" python3 e2e/soak.py --build "$build" \
    --out "$out" "$@"
rc=$?
if [ -f "$out/soak.csv" ] && command -v gnuplot >/dev/null; then
    gnuplot -e "data='$out/soak.csv'; png='$out/soak-memory.png'" e2e/soak-memory.gp 2>/dev/null &&
        echo "[soak] plot: $out/soak-memory.png" >&2
fi
exit $rc
