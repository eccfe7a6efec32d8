#!/usr/bin/env bash
# Set-up, build and every test: natively (AddressSanitizer + UndefinedBehaviorSanitizer,
# then ThreadSanitizer), as real Windows programs under Wine (built by GCC, and by clang
# with the libraries' tests), and the scripts' own checks (set-up into an empty install
# root, clean-up after an interrupted run, the release).
# Prints one summary line per configuration, counted from the JUnit XML files the runs write
# (build/junit/CONFIGURATION/), and a total; exits non-zero on any failure.
#   scripts/test.sh            everything
#   scripts/test.sh native     only the named configurations (native, native-tsan, windows,
#                              windows-clang, soak, scripts)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# shellcheck source=lib.sh
source scripts/lib.sh

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
    # The Wine environment's own stop takes up to about 40 s.
    [ -z "$child" ] || end_pid -g "$child" 50
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

# Counts the results of a configuration from the JUnit files its runs wrote (ctest's, with
# GoogleTest's and pytest's cases of each entry beside it, or pytest's): sets passed and
# failed, and lists the failed cases.
count_results() {
    local counts
    counts=$(python3 -m harness.results "$@")
    read -r passed _ failed _ <<<"$(head -n 1 <<<"$counts")"
    tail -n +2 <<<"$counts" | sed 's/^/   /'
}

# A fresh folder for a configuration's JUnit files.
junit_dir() {
    rm -rf "$logs/junit/$1" && mkdir -p "$logs/junit/$1/detail" && (cd "$logs/junit/$1" && pwd)
}

# The pytest modules of the scripts' own checks, the harness and the benchmark tools.
SCRIPT_CHECKS=(scripts/tests harness/tests bench/test_tools.py)

run_config() {
    local preset=$1 log="$logs/$1-test.log" rc junit
    junit=$(junit_dir "$preset")
    if [ "$preset" = soak ]; then
        # The short robustness run of morlett.exe (scripts/soak.sh runs the long one): random
        # Caps Lock toggles and menu use for 2 minutes, then the fault runs.
        echo "== soak: 2-minute soak and the fault runs"
        step env MORLETT_BENCH_BUILD="$root/build/windows" SOAK_OUT="$root/build/soak" \
            bash scripts/soak.sh --minutes 2 --junitxml="$junit/soak.xml" >"$log" 2>&1
        rc=$?
        count_results "$junit/soak.xml"
        finish_config "$preset" "$rc" "$log"
        return
    fi
    if [ "$preset" = scripts ]; then
        echo "== scripts: test"
        step pytest-3 -v -rs "${SCRIPT_CHECKS[@]}" --junitxml="$junit/scripts.xml" >"$log" 2>&1
        rc=$?
        count_results "$junit/scripts.xml"
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
    # Each test program leaves its cases in detail/: GoogleTest's through GTEST_OUTPUT (a
    # Windows program reads the folder as a path on Wine's drive Z:), the end-to-end groups'
    # through MORLETT_JUNIT_DIR.
    local gtest_dir=$junit/detail/ run=() select=()
    if [ "$preset" = windows ]; then
        gtest_dir=Z:$junit/detail/
        # One environment (Xvfb, wineserver, PulseAudio null sink) for the whole run.
        run=(bash scripts/winenv.sh run "$root/build/windows")
    elif [ "$preset" = windows-clang ]; then
        gtest_dir=Z:$junit/detail/
        # The same programs from the second compiler: the libraries' tests under Wine (the
        # end-to-end groups of morlett.exe run in the GCC configuration).
        run=(bash scripts/winenv.sh run "$root/build/windows-clang")
        select=(-E '^e2e_')
    fi
    step env GTEST_OUTPUT="xml:$gtest_dir" MORLETT_JUNIT_DIR="$junit/detail" "${run[@]}" \
        ctest --preset "$preset" "${select[@]}" -V --output-junit "$junit/ctest.xml" >"$log" 2>&1
    rc=$?
    count_results --ctest "$junit/ctest.xml" --detail "$junit/detail"
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
