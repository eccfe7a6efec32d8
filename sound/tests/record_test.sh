#!/usr/bin/env bash
# Records what the sound library really plays through the default playback device:
# sound_play_probe.exe plays its programme under Wine into the test environment's 48 kHz
# null sink while parec records the sink's monitor; then the probe analyses the recording.
#   record_test.sh PROBE_EXE BUILD_DIR
set -u
probe=$1
build=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts

# Inside a running test environment (ctest through scripts/test.sh) use it; otherwise
# start one for this run.
if [ -z "${MORLETT_WINENV:-}" ]; then
    exec bash "$scripts/winenv.sh" run "$build" bash "${BASH_SOURCE[0]}" "$@"
fi

work=$(mktemp -d "$build/sound-recording.XXXXXX")
recorder=
cleanup() {
    if [ -n "$recorder" ]; then
        kill -INT "$recorder" 2>/dev/null
        wait "$recorder" 2>/dev/null
    fi
}
trap cleanup EXIT

echo "recording $(date +%s%3N) 0" >"$work/play.log"
parec --latency-msec=10 --format=s16le --rate=48000 --channels=2 --file-format=wav \
    -d "$MORLETT_SINK.monitor" "$work/recording.wav" &
recorder=$!
sleep 0.5
if ! kill -0 "$recorder" 2>/dev/null; then
    echo "record_test: parec did not start"
    exit 1
fi

bash "$scripts/wine-run.sh" "$probe" play >>"$work/play.log"
rc=$?
sleep 0.3
kill -INT "$recorder" 2>/dev/null
wait "$recorder" 2>/dev/null
recorder=
if [ "$rc" != 0 ]; then
    echo "record_test: the probe's play run failed ($rc)"
    cat "$work/play.log"
    exit 1
fi

cd "$work" || exit 1
# With GTEST_OUTPUT naming a folder (scripts/test.sh), the cases of the analysis are filed
# under this test's own name there.
case "${GTEST_OUTPUT:-}" in */) export GTEST_OUTPUT=${GTEST_OUTPUT}sound_recording.xml ;; esac
bash "$scripts/wine-run.sh" "$probe" analyse recording.wav play.log
rc=$?
[ "$rc" = 0 ] && rm -rf "$work"
exit "$rc"
