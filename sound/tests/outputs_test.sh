#!/usr/bin/env bash
# An audio output that goes away while warnings repeat: sound_outputs_probe.exe plays the
# warning every 500 ms under Wine on a second null sink, made the default for it; then the
# sink is taken away as Windows takes an unplugged output away (its stream ends under the
# program, then the sink goes) and the warnings must go on, on the test environment's own
# sink, within 1.5 s. Both sinks' monitors are recorded; the probe analyses them.
#   outputs_test.sh PROBE_EXE BUILD_DIR
set -u
probe=$1
build=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts

if [ -z "${MORLETT_WINENV:-}" ]; then
    exec bash "$scripts/winenv.sh" run "$build" bash "${BASH_SOURCE[0]}" "$@"
fi

work=$(mktemp -d "$build/sound-outputs.XXXXXX")
second=$MORLETT_SINK
first=morlett_outputs_first
module=
recorders=()
player=
cleanup() {
    local pid
    [ -n "$player" ] && kill -TERM "$player" 2>/dev/null && wait "$player" 2>/dev/null
    for pid in "${recorders[@]}"; do
        kill -INT "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    [ -n "$module" ] && timeout 10 pactl unload-module "$module" 2>/dev/null
    timeout 10 pactl set-default-sink "$second" 2>/dev/null
}
trap cleanup EXIT

module=$(timeout 10 pactl load-module module-null-sink sink_name=$first rate=48000 channels=2) || {
    echo "outputs_test: no second sink"
    exit 1
}
timeout 10 pactl set-default-sink "$first" || exit 1

record() { # SINK FILE
    parec --latency-msec=10 --format=s16le --rate=48000 --channels=2 --file-format=wav \
        -d "$1.monitor" "$2" &
    recorders+=($!)
}
record "$first" "$work/first.wav"
: >"$work/play.log"
record "$second" "$work/second.wav"
# The new sink's monitor starts in long blocks: give it time to stream.
sleep 2.5

bash "$scripts/wine-run.sh" "$probe" play 500 16 >>"$work/play.log" &
player=$!

# Wait for the probe's stream, let a few warnings play, then take the output away.
input=
for _ in $(seq 100); do
    input=$(timeout 5 pactl list short sink-inputs | awk '{print $1}' | head -1)
    [ -n "$input" ] && break
    sleep 0.1
done
if [ -z "$input" ]; then
    echo "outputs_test: the probe opened no stream"
    exit 1
fi
sleep 2
echo "lost $(date +%s%3N) $input" >>"$work/play.log"
timeout 20 python3 "$here/pulse_kill_stream.py" "$input" || exit 1
# Its recording ends here: PulseAudio would move the recorder to another sink's monitor.
kill -INT "${recorders[0]}" 2>/dev/null
wait "${recorders[0]}" 2>/dev/null
recorders=("${recorders[@]:1}")
timeout 10 pactl unload-module "$module"
module=
echo "output removed: sink-input $input killed, $first unloaded"

wait "$player"
rc=$?
player=
sleep 0.5
for pid in "${recorders[@]}"; do
    kill -INT "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
done
recorders=()
if [ "$rc" != 0 ]; then
    echo "outputs_test: the probe's play run failed ($rc)"
    cat "$work/play.log"
    exit 1
fi

cd "$work" || exit 1
bash "$scripts/wine-run.sh" "$probe" analyse first.wav second.wav play.log
rc=$?
[ "$rc" = 0 ] && rm -rf "$work"
exit "$rc"
