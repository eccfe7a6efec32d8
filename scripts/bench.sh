#!/usr/bin/env bash
# The program against its references, side by side in one run under Wine: warning latency
# (warm and cold), idle CPU, footprint, start-up to the tray icon, and the JSON library's
# throughput. Prints progress while it runs and the table at the end; writes
# benchmarks/bench.json, benchmarks/bench-table.md, benchmarks/sizemap.txt and the plots
# (benchmarks/*.png) beside BENCHMARKS.md.
#
#   scripts/bench.sh                 the default run (about 10 minutes)
#   BENCH_COLD=40 BENCH_IDLE=300 scripts/bench.sh      a longer one
#
# Knobs (environment): BENCH_WARM (20), BENCH_COLD (20) toggles; BENCH_IDLE (60) seconds of
# idle CPU; BENCH_WARNINGS (1000); BENCH_STARTS (5) start-ups of each program;
# BENCH_ONLY ("sizes startup latency outputs idle memory json", any subset);
# BENCH_SWITCHES (10) output changes of each kind;
# MORLETT_BENCH_BUILD (build/bench-windows) and MORLETT_BENCH_NATIVE (build/bench-native)
# are the build directories; BENCH_OUT (benchmarks) the result folder.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${MORLETT_BENCH_BUILD:-$root/build/bench-windows}
native=${MORLETT_BENCH_NATIVE:-$root/build/bench-native}
out=${BENCH_OUT:-$root/benchmarks}
mkdir -p "$out" "$(dirname "$build")"

say() { printf '[bench] %s\n' "$*"; }

# The harness package is imported from the repository's root.
export PYTHONPATH=$root${PYTHONPATH:+:$PYTHONPATH}

pytest-3 -q bench/test_tools.py harness/tests >"$out/.tools-test.log" 2>&1 || {
    cat "$out/.tools-test.log"
    say "the benchmark tools' own tests failed"
    exit 1
}
say "building the program and its references (Release, $build)"
bash scripts/build-tools.sh "$build" "$out" windows || {
    say "the Windows build failed"
    exit 1
}
if [[ " ${BENCH_ONLY:-json} " == *" json "* ]]; then
    say "building the JSON benchmark (native, Release, $native)"
    cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORLETT_TESTS=OFF \
        >"$out/.configure-native.log" 2>&1 &&
        cmake --build "$native" -j2 --target json_bench >"$out/.build-native.log" 2>&1 ||
        say "no native JSON benchmark (see $out/.build-native.log)"
fi

say "size map of morlett.exe"
python3 bench/sizemap.py "$build/app/morlett.exe.map" --json "$out/sizemap.json" \
    | tee "$out/sizemap.txt"

args=(--build "$build" --native "$native" --out "$out" --warm "${BENCH_WARM:-20}"
    --cold "${BENCH_COLD:-20}" --idle "${BENCH_IDLE:-60}" --warnings "${BENCH_WARNINGS:-1000}"
    --starts "${BENCH_STARTS:-5}" --switches "${BENCH_SWITCHES:-10}")
# shellcheck disable=SC2206
[ -n "${BENCH_ONLY:-}" ] && args+=(--only $BENCH_ONLY)
bash scripts/winenv.sh run "$build" python3 bench/bench.py "${args[@]}"
rc=$?
[ $rc = 0 ] || { say "the measurements failed ($rc)"; exit $rc; }

# The pictures: gnuplot from Debian's packages, installed when missing.
if ! command -v gnuplot >/dev/null; then
    say "installing gnuplot for the plots"
    { apt-get install -y -q gnuplot-nox || { apt-get update -q && apt-get install -y -q gnuplot-nox; }; } \
        >"$out/.apt.log" 2>&1 || say "no gnuplot: no plots (see $out/.apt.log)"
fi
if command -v gnuplot >/dev/null && [ -f "$out/bench-latency.dat" ]; then
    gnuplot -e "data='$out/bench-latency.dat'; png='$out/latency.png'" bench/latency.gp &&
        say "plot: $out/latency.png"
fi
exit 0
