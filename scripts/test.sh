#!/usr/bin/env bash
# Set-up, build and every test: natively (AddressSanitizer + UndefinedBehaviorSanitizer,
# then ThreadSanitizer), as real Windows programs under Wine (built by GCC, and by clang
# with the libraries' tests), and the scripts' own checks (set-up into an empty install
# root, clean-up after an interrupted run, the release).
# Prints one summary line per configuration and exits non-zero on any failure.
#   scripts/test.sh            everything
#   scripts/test.sh native     only the named configurations (native, native-tsan, windows,
#                              windows-clang, soak, scripts)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

configs=("$@")
# Where the logs go (the scripts' own checks run a second test.sh and keep its logs apart).
logs=${MORLETT_TEST_LOG_DIR:-build}
[ ${#configs[@]} -gt 0 ] || configs=(native native-tsan windows windows-clang soak scripts)
for c in "${configs[@]}"; do
    case "$c" in
    native | native-tsan | windows | windows-clang | soak | scripts) ;;
    *)
        echo "test: unknown configuration '$c' (native, native-tsan, windows, windows-clang, soak, scripts)" >&2
        exit 2
        ;;
    esac
done

# Every step runs in a process group of its own, in the background, so that an interrupt
# (Ctrl-C, TERM, HUP) reaches our trap at once; the trap ends the whole group with TERM,
# whose own traps stop what they started (the Wine environment above all), waits for it
# and then ends us with the same signal.
child=
exec {tty_err}>&2 # the trap may fire while a step's output goes to a log
on_signal() {
    local sig=$1
    trap - INT TERM HUP
    if [ -n "$child" ]; then
        kill -TERM -- "-$child" 2>/dev/null
        wait "$child" 2>/dev/null
    fi
    echo "test: interrupted ($sig); everything it started has been stopped" >&"$tty_err"
    kill -"$sig" $$
    exit 1
}
trap 'on_signal INT' INT
trap 'on_signal TERM' TERM
trap 'on_signal HUP' HUP

# Runs "$@" as such a step and returns its exit status.
step() {
    setsid "$@" &
    child=$!
    wait "$child"
    local rc=$?
    child=
    return $rc
}

step bash scripts/setup.sh || { echo "test: set-up failed (see the lines above)" >&2; exit 1; }

status=0
total_passed=0
total_failed=0
summaries=()

# Counts the results in a log. Every test program is a GoogleTest program or prints
# GoogleTest's summary lines itself ("[  PASSED  ] N tests." / "[  FAILED  ] N tests,").
# In a ctest log only the verbose lines count ("7: [  PASSED  ] ..."): a failing test's
# output is printed a second time, without that prefix.
count_results() {
    local prefix=${2:-}
    passed=$(grep -aoE "^$prefix\[  PASSED  \] [0-9]+ test" "$1" | sed 's/.*\] //' | awk '{s+=$1} END {print s+0}')
    failed=$(grep -aoE "^$prefix\[  FAILED  \] [0-9]+ test" "$1" | sed 's/.*\] //' | awk '{s+=$1} END {print s+0}')
}

run_config() {
    local preset=$1 log="$logs/$1-test.log" rc
    if [ "$preset" = soak ]; then
        # The short robustness run of morlett.exe (scripts/soak.sh runs the long one): random
        # Caps Lock toggles and menu use for 2 minutes, then the fault runs.
        echo "== soak: 2-minute soak and the fault runs"
        step env MORLETT_BENCH_BUILD="$root/build/windows" SOAK_OUT="$root/build/soak" \
            bash scripts/soak.sh --minutes 2 >"$log" 2>&1
        rc=$?
        count_results "$log"
        grep -aE '^\[  FAILED  \] [A-Za-z]' "$log" | sed 's/^/   /'
        finish_config "$preset" "$rc" "$log"
        return
    fi
    if [ "$preset" = scripts ]; then
        echo "== scripts: test"
        step bash scripts/tests/run.sh >"$log" 2>&1
        rc=$?
        count_results "$log"
        grep -aE '^(ok|FAIL|skip) ' "$log" | sed 's/^/   /'
        finish_config "$preset" "$rc" "$log"
        return
    fi
    echo "== $preset: configure and build"
    if ! step cmake --preset "$preset" >"$logs/$preset-configure.log" 2>&1; then
        cat "$logs/$preset-configure.log"
        summaries+=("$preset: configure failed")
        status=1
        return
    fi
    if ! step cmake --build --preset "$preset" >"$logs/$preset-build.log" 2>&1; then
        grep -aE 'error|FAILED' "$logs/$preset-build.log" | head -n 40
        echo "   (full log: $logs/$preset-build.log)"
        summaries+=("$preset: build failed")
        status=1
        return
    fi
    echo "== $preset: test"
    if [ "$preset" = windows ]; then
        # One environment (Xvfb, wineserver, PulseAudio null sink) for the whole run.
        step bash scripts/winenv.sh run "$root/build/windows" ctest --preset windows -V >"$log" 2>&1
    elif [ "$preset" = windows-clang ]; then
        # The same programs from the second compiler: the libraries' tests under Wine (the
        # end-to-end groups of morlett.exe run in the GCC configuration).
        step bash scripts/winenv.sh run "$root/build/windows-clang" \
            ctest --preset windows-clang -E '^e2e_' -V >"$log" 2>&1
    else
        step ctest --preset "$preset" -V >"$log" 2>&1
    fi
    rc=$?
    count_results "$log" '[0-9]+: '
    grep -aE '\[  FAILED  \] [A-Za-z]|tests passed|: Failure$|Timeout|\*\*\*' "$log" | head -n 40
    finish_config "$preset" "$rc" "$log"
}

finish_config() {
    local preset=$1 rc=$2 log=$3
    if [ "$rc" -ne 0 ]; then
        status=1
        [ "$failed" -gt 0 ] || failed=1
        echo "   (full log: $log)"
    fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    summaries+=("$preset: $passed passed, $failed failed")
}

mkdir -p build "$logs"
for preset in "${configs[@]}"; do
    run_config "$preset"
done

echo
echo "== Summary"
for line in "${summaries[@]}"; do echo "$line"; done
echo "total: $total_passed passed, $total_failed failed"
exit $status
