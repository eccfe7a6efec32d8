#!/usr/bin/env python3
"""Turns a recording of the program's sound into a timeline of the clips that played.

    python3 e2e/analyse.py RECORDING.wav [--clips DIR]

prints one line per sound, for example

    0.00 s  OnChime          173 ms
    0.71 s  ReleaseChime     127 ms
    1.20 s  WarningBeep      129 ms
    1.50 s  OffChime x2       87 ms

A sound is a stretch of signal with no gap of 25 ms or more. Each is named after the
built-in clip (sound/clips/*.wav), played at 1, 1.5 or 2 times its frequency, whose length
its strongest tone near its start and its pitch near its end match it best. Standard library only.
"""

import argparse
import math
import os
import struct
import sys
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
CLIPS_DIR = os.path.join(HERE, "..", "sound", "clips")
CLIP_NAMES = ("WarningBeep", "ReleaseChime", "OnChime", "OffChime")

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


# The clips the program plays and the frequency factors it plays them at.
PROGRAM_USES = (("WarningBeep", 1.0), ("ReleaseChime", 1.0), ("OnChime", 1.0),
                ("OnChime", 1.5), ("OnChime", 2.0), ("OffChime", 1.0), ("OffChime", 1.5),
                ("OffChime", 2.0))

_references = {}


def references(clips_dir=CLIPS_DIR):
    """[(name, factor, duration ms, head Hz, tail Hz)] for every clip the program plays."""
    if clips_dir not in _references:
        table = []
        for name in CLIP_NAMES:
            rate, samples = read_wav(os.path.join(clips_dir, name + ".wav"))
            found = segments(rate, samples)
            duration, head, tail = features(rate, samples[found[0][0]:found[-1][1]])
            for use, factor in PROGRAM_USES:
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
        self.at = at              # seconds from the start of the recording
        self.duration = duration  # ms, without dropouts
        self.span = duration if span is None else span  # ms from its start to its end
        self.name = name
        self.factor = factor
        self.head = head
        self.tail = tail
        self.peak = peak

    def label(self):
        if self.factor == 1.0:
            return self.name
        return "%s x%g" % (self.name, self.factor)

    def __repr__(self):
        return "%.3f s %s %.1f ms" % (self.at, self.label(), self.duration)


# A long stall splits one sound into pieces, some of them too short for what they resemble.
# Pieces that follow each other closely are joined when together they make some clip at
# about its length and match it better than the first piece alone matches anything; of
# several ways, the closest match wins.
JOIN_GAP_MS = 600.0
SHORT_PIECE = 0.85
WHOLE_CLIP = 0.15
MAX_PIECES = 4


def analyse(path, clips_dir=CLIPS_DIR):
    rate, samples = read_wav(path)

    def measured(first, end, content):
        duration, head, tail = features(rate, content)
        name, factor, score, reference = classify(duration, head, tail, clips_dir)
        return {"first": first, "end": end, "content": content, "duration": duration,
                "head": head, "tail": tail, "name": name, "factor": factor, "score": score,
                "reference": reference}

    pieces = [measured(first, end, content_of(rate, samples, first, end))
              for first, end in segments(rate, samples)]
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
                whole = abs(math.log(joined["duration"] / joined["reference"])) < WHOLE_CLIP
                if whole and joined["score"] < best["score"]:
                    best, used = joined, j - i + 1
        sounds.append(best)
        i += used
    result = []
    for m in sounds:
        peak = max(abs(v) for v in m["content"]) if m["content"] else 0.0
        result.append(Sound(m["first"] / rate, m["duration"], m["name"], m["factor"],
                            m["head"], m["tail"], peak, 1000.0 * (m["end"] - m["first"]) / rate))
    return result


def timeline(sounds, origin=None):
    """Lines "0.00 s  OnChime  173 ms", times from the first sound (or from origin)."""
    if not sounds:
        return ["(nothing was heard)"]
    zero = sounds[0].at if origin is None else origin
    return ["%6.2f s  %-16s %4.0f ms" % (s.at - zero, s.label(), s.duration) for s in sounds]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("recording")
    parser.add_argument("--clips", default=CLIPS_DIR, help="folder of the reference clips")
    parser.add_argument("--detail", action="store_true", help="show the measured tones too")
    args = parser.parse_args()
    sounds = analyse(args.recording, args.clips)
    if not sounds:
        print(timeline(sounds)[0])
    for line, s in zip(timeline(sounds), sounds):
        if args.detail:
            line += "   (%4.0f Hz -> %4.0f Hz, peak %.2f)" % (s.head, s.tail, s.peak)
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
