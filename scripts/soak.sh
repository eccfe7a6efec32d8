#!/usr/bin/env bash
# Robustness runs of morlett.exe under Wine: the soak (random Caps Lock toggles, menu
# switches, speed changes, the default audio output switched between two sinks, the output
# in use removed and loaded again, the taskbar's theme flipped; memory and handles flat; a
# warning for every long on-period on the default output, e2e/test_soak.py) and the fault runs (no audio device, read-only settings folder, broken
# settings files, a save cut short, the tray coming back after the shell restarts,
# e2e/test_faults.py). Writes benchmarks/soak.csv and benchmarks/soak-memory.png.
#
#   scripts/soak.sh                  30-minute soak and every fault run
#   scripts/soak.sh --minutes 2      the short version (CI's default run)
#   scripts/soak.sh --group faults   only the fault runs (or --group soak)
#   scripts/soak.sh --seed 7 -k no_audio --junitxml=FILE    further words go to pytest
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
modules=(e2e/test_soak.py e2e/test_faults.py)
words=()
while [ $# -gt 0 ]; do
    case "$1" in
    --minutes) minutes=$2; shift 2 ;;
    --group)
        case "$2" in
        soak) modules=(e2e/test_soak.py) ;;
        faults) modules=(e2e/test_faults.py) ;;
        all) ;;
        *) echo "soak: --group is soak, faults or all, not '$2'" >&2; exit 2 ;;
        esac
        shift 2
        ;;
    *) words+=("$1"); shift ;;
    esac
done
echo "[soak] building the program and the tools (Release, $build)"
bash scripts/build-tools.sh "$build" "$out" soak || exit 1
echo "[soak] running: soak of $minutes minutes and the fault runs; ends by itself"
# Bounded: the soak's own length, the fault runs (about 4 minutes) and a margin.
limit=$(awk -v m="$minutes" 'BEGIN {printf "%d", m * 60 + 600}')
timeout -k 30 "$limit" bash scripts/winenv.sh run "$build" pytest-3 -v -s "${modules[@]}" \
    --minutes "$minutes" --out "$out" "${words[@]}"
rc=$?
if [ -f "$out/soak.csv" ] && command -v gnuplot >/dev/null; then
    gnuplot -e "data='$out/soak.csv'; png='$out/soak-memory.png'" e2e/soak-memory.gp 2>/dev/null &&
        echo "[soak] plot: $out/soak-memory.png" >&2
fi
exit $rc
