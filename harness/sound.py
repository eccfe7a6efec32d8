"""What the program played: one time-stamped recorder of a PulseAudio sink's monitor, and
the analysis that turns samples into named clips with onsets and durations.

    python3 -m harness.sound RECORDING.wav [--detail]

prints one line per sound, for example

    0.00 s  OnChime          173 ms
    0.71 s  ReleaseChime     127 ms

A sound is a stretch of signal with no gap of 25 ms or more. Each is named after the
built-in clip (sound/clips/*.wav), played at 1, 1.5 or 2 times its frequency, whose length,
strongest tone near its start and pitch near its end match it best. Standard library only.
"""

import argparse
import array
import bisect
import math
import os
import struct
import subprocess
import sys
import threading
import time

from . import morlett
from .process import end_process, wait_until

CLIPS_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sound", "clips")
RATE = 48000  # the test sinks' rate; recordings are taken at it

THRESHOLD = 6.0 / 32768.0
GAP_MS = 25.0
MIN_SOUND_MS = 15.0


def read_wav(path):
    """(rate, mono samples as floats). Tolerates a header whose sizes were never written
    (a recorder that was stopped): everything after the data chunk's header counts."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("%s: not a RIFF WAVE file" % path)
    at, rate, channels, bits, body = 12, 0, 0, 0, None
    while at + 8 <= len(data):
        ident, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if ident == b"fmt ":
            _, channels, rate, _, _, bits = struct.unpack("<HHIIHH", data[at + 8:at + 24])
        elif ident == b"data":
            end = at + 8 + size
            if size == 0 or size == 0xFFFFFFFF or end > len(data):
                end = len(data)
            body = data[at + 8:end]
            break
        at += 8 + size + (size & 1)
    if body is None or bits != 16 or channels < 1:
        raise ValueError("%s: want 16-bit PCM with a data chunk" % path)
    frame = 2 * channels
    count = len(body) // frame
    values = struct.unpack("<%dh" % (count * channels), body[:count * frame])
    mono = [0.0] * count
    scale = 1.0 / 32768.0
    for i in range(count):
        # The loudest channel: enough to find and name a sound.
        best = 0
        for c in range(channels):
            v = values[i * channels + c]
            if abs(v) > abs(best):
                best = v
        mono[i] = best * scale
    return rate, mono


def segments(rate, samples):
    """[(first, end)) sample ranges of sound, split by GAP_MS of silence."""
    gap = int(rate * GAP_MS / 1000)
    found, start, quiet, last_loud = [], None, 0, 0
    for i, v in enumerate(samples):
        if v > THRESHOLD or v < -THRESHOLD:
            if start is None:
                start = i
            last_loud = i
            quiet = 0
        elif start is not None:
            quiet += 1
            if quiet > gap:
                found.append((start, last_loud + 1))
                start = None
    if start is not None:
        found.append((start, last_loud + 1))
    shortest = rate * MIN_SOUND_MS / 1000
    return [s for s in found if s[1] - s[0] >= shortest]


def goertzel_power(samples, rate, freq):
    w = 2.0 * math.pi * freq / rate
    coeff = 2.0 * math.cos(w)
    s1 = s2 = 0.0
    for x in samples:
        s0 = x + coeff * s1 - s2
        s2, s1 = s1, s0
    return s1 * s1 + s2 * s2 - coeff * s1 * s2


def dominant(samples, rate, lo=150.0, hi=3000.0):
    """The strongest frequency between lo and hi: a coarse scan, then a fine one."""
    if len(samples) < 64:
        return 0.0
    # A Hann window keeps the strong low tones from leaking across the scan.
    n = len(samples)
    windowed = [samples[i] * (0.5 - 0.5 * math.cos(2 * math.pi * i / (n - 1))) for i in range(n)]
    best, best_power = lo, -1.0
    f = lo
    while f <= hi:
        p = goertzel_power(windowed, rate, f)
        if p > best_power:
            best, best_power = f, p
        f += 25.0
    centre = best
    f = max(lo, centre - 25.0)
    while f <= min(hi, centre + 25.0):
        p = goertzel_power(windowed, rate, f)
        if p > best_power:
            best, best_power = f, p
        f += 2.0
    return best


def crossing_rate(samples, rate):
    """Half the number of sign changes per second: the frequency of a plain tone, and for
    the warning beep's tail its high shimmer, which the tone scan would not see."""
    changes, sign = 0, 0
    for v in samples:
        s = 1 if v > 0 else (-1 if v < 0 else 0)
        if s and sign and s != sign:
            changes += 1
        if s:
            sign = s
    return max(1.0, changes * rate / (2.0 * max(1, len(samples))))


def features(rate, content):
    """(duration ms, strongest tone near the start, crossing rate near the end) of a
    sound's samples."""
    length = len(content)
    window = max(64, min(int(rate * 0.03), length // 4))
    head_at = length // 8
    tail_at = max(0, (3 * length) // 4 - window // 2)
    head = content[head_at:head_at + window]
    tail = content[tail_at:tail_at + window]
    return (1000.0 * length / rate, dominant(head, rate), crossing_rate(tail, rate))


# Silence inside a sound longer than this is a dropout of the output (a stall under load),
# not part of the clip: it is squeezed out before the sound is measured.
DROPOUT_MS = 4.0


def content_of(rate, samples, first, end):
    """The sound's samples without its dropouts."""
    limit = int(rate * DROPOUT_MS / 1000)
    out, quiet = [], []
    for v in samples[first:end]:
        if -THRESHOLD <= v <= THRESHOLD:
            quiet.append(v)
            continue
        if len(quiet) <= limit:
            out.extend(quiet)
        quiet = []
        out.append(v)
    return out


_references = {}


def references(clips_dir=CLIPS_DIR):
    """[(name, factor, duration ms, head Hz, tail Hz)] for every clip the program plays."""
    if clips_dir not in _references:
        table = []
        for name in morlett.CLIPS:
            rate, samples = read_wav(os.path.join(clips_dir, name + ".wav"))
            found = segments(rate, samples)
            duration, head, tail = features(rate, samples[found[0][0]:found[-1][1]])
            for use, factor in morlett.USES:
                if use == name:
                    table.append((name, factor, duration / factor, head * factor,
                                  tail * factor))
        _references[clips_dir] = table
    return _references[clips_dir]


def classify(duration, head, tail, clips_dir=CLIPS_DIR):
    """(name, factor, score, reference duration); lower scores are closer."""
    best = None
    for name, factor, r_duration, r_head, r_tail in references(clips_dir):
        score = 3.0 * abs(math.log(duration / r_duration))
        score += abs(math.log(max(head, 1.0) / r_head)) + abs(math.log(max(tail, 1.0) / r_tail))
        if best is None or score < best[2]:
            best = (name, factor, score, r_duration)
    return best


class Sound:
    def __init__(self, at, duration, name, factor, head, tail, peak, span=None):
        self.at = at              # seconds (from the first sample, or wall-clock time)
        self.duration = duration  # ms, without dropouts
        self.span = duration if span is None else span  # ms from its start to its end
        self.name = name
        self.factor = factor
        self.head = head
        self.tail = tail
        self.peak = peak

    def label(self):
        return morlett.label(self.name, self.factor)

    def __repr__(self):
        return "%.3f s %s %.1f ms" % (self.at, self.label(), self.duration)


# A long stall splits one sound into pieces, some of them too short for what they resemble.
# Pieces that follow each other closely are joined when together they make some clip at
# about its length and match it better than the first piece alone matches anything; of
# several ways, the closest match wins.
JOIN_GAP_MS = 600.0
# Two clips played back to back can leave less than the gap between sounds; a sound too
# long for any clip is split at a pause of at least this length where both sides match.
SPLIT_QUIET_MS = 0.5
SHORT_PIECE = 0.85
WHOLE_CLIP = 0.15
MAX_PIECES = 4


def analyse(rate, samples, clips_dir=CLIPS_DIR):
    """[Sound] of mono samples (floats), their times in seconds from the first sample."""

    def measured(first, end, content):
        duration, head, tail = features(rate, content)
        name, factor, score, reference = classify(duration, head, tail, clips_dir)
        return {"first": first, "end": end, "content": content, "duration": duration,
                "head": head, "tail": tail, "name": name, "factor": factor, "score": score,
                "reference": reference}

    def whole(m):
        return abs(math.log(m["duration"] / m["reference"])) < WHOLE_CLIP

    def quiet_runs(first, end):
        """(start, end) of the stretches inside [first, end) below the threshold that are at
        least SPLIT_QUIET_MS long: where one sound may end and the next begin."""
        shortest = max(1, int(rate * SPLIT_QUIET_MS / 1000))
        runs, start = [], None
        for i in range(first, end):
            if -THRESHOLD <= samples[i] <= THRESHOLD:
                if start is None:
                    start = i
            elif start is not None:
                if i - start >= shortest:
                    runs.append((start, i))
                start = None
        return runs

    def resolve(first, end, depth=0):
        """The sounds in [first, end): one whole clip, or two or more played back to back
        with almost no pause, told apart where the best split into whole clips lies."""
        m = measured(first, end, content_of(rate, samples, first, end))
        if whole(m) or depth >= 3 or m["duration"] < m["reference"]:
            return [m]
        best = None
        for a, b in quiet_runs(first, end):
            left = measured(first, a, content_of(rate, samples, first, a))
            if not whole(left):
                continue
            right = resolve(b, end, depth + 1)
            if not all(whole(r) for r in right):
                continue
            score = left["score"] + sum(r["score"] for r in right)
            if best is None or score < best[0]:
                best = (score, [left] + right)
        return best[1] if best else [m]

    pieces = []
    for first, end in segments(rate, samples):
        pieces.extend(resolve(first, end))
    sounds = []
    i = 0
    while i < len(pieces):
        piece = pieces[i]
        best, used = piece, 1
        if any(p["duration"] < SHORT_PIECE * p["reference"] for p in pieces[i:i + 2]):
            content = list(piece["content"])
            for j in range(i + 1, min(len(pieces), i + MAX_PIECES)):
                if (pieces[j]["first"] - pieces[j - 1]["end"]) * 1000.0 / rate >= JOIN_GAP_MS:
                    break
                content += pieces[j]["content"]
                joined = measured(piece["first"], pieces[j]["end"], content)
                if whole(joined) and joined["score"] < best["score"]:
                    best, used = joined, j - i + 1
        sounds.append(best)
        i += used
    result = []
    for m in sounds:
        peak = max(abs(v) for v in m["content"]) if m["content"] else 0.0
        result.append(Sound(m["first"] / rate, m["duration"], m["name"], m["factor"],
                            m["head"], m["tail"], peak, 1000.0 * (m["end"] - m["first"]) / rate))
    return result


def clip_ms(clip, factor=1.0, clips_dir=CLIPS_DIR):
    """A clip's length as the analysis measures it in the clip file itself, in ms."""
    for name, f, duration, _, _ in references(clips_dir):
        if name == clip and f == factor:
            return duration
    raise KeyError(morlett.label(clip, factor))


def identify(rate, samples):
    """The clip name of the first sound in samples, or None."""
    found = segments(rate, samples)
    if not found:
        return None
    first, end = found[0]
    duration, head, tail = features(rate, content_of(rate, samples, first, end))
    return classify(duration, head, tail)[0]


def timeline(sounds, origin=None):
    """Lines "0.00 s  OnChime  173 ms", times from the first sound (or from origin)."""
    if not sounds:
        return ["(nothing was heard)"]
    zero = sounds[0].at if origin is None else origin
    return ["%6.2f s  %-16s %4.0f ms" % (s.at - zero, s.label(), s.duration) for s in sounds]


def _floats(data):
    scale = 1.0 / 32768.0
    return [v * scale for v in data]


class Recorder:
    """parec on a sink's monitor, mono 16-bit at RATE, kept in memory. Every block is stamped
    on arrival; near any moment, the earliest-arriving blocks fix the recording's position on
    the wall clock (time.time()), so that recordings of different sinks share one time base
    within a few ms. The position is taken from the blocks around the moment, not once for
    the whole recording: over a long run the sink's clock drifts from the wall clock, and
    after a stall under load it delivers in a burst."""

    WINDOW = 10.0  # seconds of stamps either side of a moment
    LEVEL = THRESHOLD * 32768  # in 16-bit units

    def __init__(self, sink):
        self.samples = bytearray()
        self.offset = None  # wall time of sample 0, from every block
        self.stamps = []    # (arrival, wall time of sample 0 by this block)
        self.lock = threading.Lock()
        self.process = subprocess.Popen(
            ["parec", "--raw", "--latency-msec=10", "--format=s16le", "--rate=%d" % RATE,
             "--channels=1", "-d", sink + ".monitor"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        fd = self.process.stdout.fileno()
        while True:
            chunk = os.read(fd, 8192)
            if not chunk:
                return
            now = time.time()
            with self.lock:
                self.samples += chunk
                start = now - (len(self.samples) // 2) / RATE
                self.stamps.append((now, start))
                if self.offset is None or start < self.offset:
                    self.offset = start

    def offset_near(self, wall):
        """The wall time of sample 0 as the blocks that arrived near wall place it; the
        caller holds the lock."""
        lo = bisect.bisect_left(self.stamps, (wall - self.WINDOW,))
        hi = bisect.bisect_right(self.stamps, (wall + self.WINDOW,))
        near = self.stamps[lo:hi]
        return min(s for _, s in near) if near else self.offset

    def wait_ready(self, timeout=8):
        """True once the monitor streams (an idle null sink starts in long blocks)."""
        def streaming():
            with self.lock:
                return len(self.samples) > RATE // 5
        return wait_until(streaming, timeout, 0.05)

    def stop(self):
        end_process(self.process)
        self.thread.join(5)

    def _window(self, first, end):
        """Samples [first, end) as 16-bit values; the caller holds the lock."""
        data = array.array("h")
        data.frombytes(bytes(self.samples[first * 2:end * 2]))
        return data

    def wait_for(self, wall, arrival):
        """Waits up to arrival seconds for the recording to reach the wall-clock time wall: a
        sink stalled under load delivers late."""
        def arrived():
            with self.lock:
                return (self.offset is not None and
                        self.offset_near(wall) + len(self.samples) / 2 / RATE >= wall)
        return wait_until(arrived, arrival, 0.02)

    # PulseAudio's null sink renders ahead of real time, and a stream that starts rewrites
    # what was rendered ahead: its first samples can land a few ms before the moment that
    # caused them (seen 1-4 ms). A sound that starts that little before the moment, out of
    # silence, is the one that followed it.
    EARLY = 0.015
    QUIET = 0.02  # silence needed before a sound for the sink to count as quiet

    def onset_after(self, wall, limit=1.5, arrival=2.0):
        """Seconds from wall to the first sound within limit after it (down to -EARLY: see
        there), or None (nothing, or the sink was not quiet at that moment). Waits up to
        arrival seconds for the recording to reach wall + limit: a sink stalled under load
        delivers late."""
        self.wait_for(wall + limit, arrival)
        with self.lock:
            if self.offset is None:
                return None
            first = int((wall - self.offset_near(wall)) * RATE)
            earliest = first - int(self.EARLY * RATE)
            quiet_from = max(0, earliest - int(self.QUIET * RATE))
            end = min(len(self.samples) // 2, first + int(limit * RATE))
            if first < 0 or end <= first:
                return None
            data = self._window(quiet_from, end)
        for i, v in enumerate(data):
            if abs(v) > self.LEVEL:
                at = quiet_from + i
                # Sound before the earliest accepted start: the sink was busy.
                return None if at < earliest else (at - first) / RATE
        return None

    def sound_after(self, wall, limit):
        """(onset s after wall, clip name) of the first sound within limit s after wall."""
        onset = self.onset_after(wall, limit)
        if onset is None:
            return None
        with self.lock:
            first = int((wall + onset - self.offset_near(wall)) * RATE)
            data = self._window(first, first + int(0.4 * RATE))
        name = identify(RATE, _floats(data))
        return (onset, name) if name else None

    def first_after(self, wall, limit, name=None, arrival=2.0):
        """The first Sound (named name, when given) that starts between wall and limit seconds
        later, or None. Unlike onset_after, the sink need not be quiet at wall: a sound that
        was playing then is passed over. Waits up to arrival seconds for the recording to
        reach wall + limit."""
        self.wait_for(wall + limit, arrival)
        for s in self.sounds():
            if wall <= s.at <= wall + limit and (name is None or s.name == name):
                return s
        return None

    def sounds(self):
        """[Sound] recorded so far, each at its wall-clock time."""
        with self.lock:
            if self.offset is None:
                return []
            data = self._window(0, len(self.samples) // 2)
        found = analyse(RATE, _floats(data))
        with self.lock:
            for s in found:
                s.at += self.offset_near(self.offset + s.at)
        return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("recording")
    parser.add_argument("--clips", default=CLIPS_DIR, help="folder of the reference clips")
    parser.add_argument("--detail", action="store_true", help="show the measured tones too")
    args = parser.parse_args()
    sounds = analyse(*read_wav(args.recording), clips_dir=args.clips)
    if not sounds:
        print(timeline(sounds)[0])
    for line, s in zip(timeline(sounds), sounds):
        if args.detail:
            line += "   (%4.0f Hz -> %4.0f Hz, peak %.2f)" % (s.head, s.tail, s.peak)
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
