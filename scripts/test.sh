#!/usr/bin/env bash
# Set-up, build and every test: natively (AddressSanitizer + UndefinedBehaviorSanitizer,
# then ThreadSanitizer) and as real Windows programs under Wine.
# Prints one summary line per configuration and exits non-zero on any failure.
#   scripts/test.sh            everything
#   scripts/test.sh native     only the named configurations (native, native-tsan, windows)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(native native-tsan windows)

bash scripts/setup.sh || { echo "test: set-up failed" >&2; exit 1; }

status=0
total_passed=0
total_failed=0
summaries=()

# Counts the results in a ctest log. Every test program is a GoogleTest program or prints
# GoogleTest's summary lines itself ("[  PASSED  ] N tests." / "[  FAILED  ] N tests,").
count_results() {
    passed=$(grep -aoE '\[  PASSED  \] [0-9]+ test' "$1" | awk '{s+=$4} END {print s+0}')
    failed=$(grep -aoE '\[  FAILED  \] [0-9]+ test' "$1" | awk '{s+=$4} END {print s+0}')
}

run_config() {
    local preset=$1 log="build/$1-test.log"
    echo "== $preset: configure and build"
    if ! cmake --preset "$preset" >"build/$preset-configure.log" 2>&1; then
        cat "build/$preset-configure.log"
        summaries+=("$preset: configure failed")
        status=1
        return
    fi
    if ! cmake --build --preset "$preset" >"build/$preset-build.log" 2>&1; then
        grep -aE 'error|FAILED' "build/$preset-build.log" | head -n 40
        echo "   (full log: build/$preset-build.log)"
        summaries+=("$preset: build failed")
        status=1
        return
    fi
    echo "== $preset: test"
    local rc
    if [ "$preset" = windows ]; then
        # One environment (Xvfb, wineserver, PulseAudio null sink) for the whole run.
        (
            source scripts/winenv.sh
            winenv_start "$root/build/windows" || exit 90
            ctest --preset windows -V >"$root/$log" 2>&1
            rc=$?
            winenv_stop
            exit $rc
        )
        rc=$?
    else
        ctest --preset "$preset" -V >"$log" 2>&1
        rc=$?
    fi
    count_results "$log"
    grep -aE '\[  FAILED  \] [A-Za-z]|tests passed|Failure|Timeout|\*\*\*' "$log" | head -n 40
    if [ "$rc" -ne 0 ]; then
        status=1
        [ "$failed" -gt 0 ] || failed=1
        echo "   (full log: $log)"
    fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    summaries+=("$preset: $passed passed, $failed failed")
}

mkdir -p build
for preset in "${configs[@]}"; do
    run_config "$preset"
done

echo
echo "== Summary"
for line in "${summaries[@]}"; do echo "$line"; done
echo "total: $total_passed passed, $total_failed failed"
exit $status
