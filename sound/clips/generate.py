#!/usr/bin/env python3
"""Synthesises Morlett's four built-in clips as RIFF WAVE images.

    python3 sound/clips/generate.py            # rewrite the .wav files beside this script
    python3 sound/clips/generate.py --check    # verify that the committed files are current

Everything is computed from fixed formulas (no randomness, standard library only), so
running it again yields the same bytes. The images are 16-bit stereo PCM at 44100 Hz with
the format chunk first and the data chunk right after it; the warning beep and the release
chime carry a few trailing chunks (info, cue points, labels, editor data) after the data.
Nothing in the program reads those trailing chunks; they only fix the images' lengths.
"""

import math
import os
import struct
import sys

RATE = 44100
FULL = 32768.0

WARNING_FRAMES = 5693
RELEASE_FRAMES = 5617
CHIME_FRAMES = 7644


def smooth(x):
    """0 -> 0, 1 -> 1 with zero slope at both ends (raised cosine)."""
    x = min(max(x, 0.0), 1.0)
    return 0.5 - 0.5 * math.cos(math.pi * x)


def quantise(value):
    return max(-32768, min(32767, int(round(value))))


# ---- Warning beep ------------------------------------------------------------------------
# A bright 1.2 kHz burst with a hard attack that clips to full scale, over a thin 10.8 kHz
# shimmer that rings on and decays to nothing by the last frame.


def warning_channel(gain, shimmer_phase):
    out = []
    last = WARNING_FRAMES - 1
    for i in range(WARNING_FRAMES):
        t = i / RATE
        phase = 2 * math.pi * 1200.0 * t
        tone = (math.sin(phase) + 0.45 * math.sin(2 * phase + 0.3) + 0.3 * math.sin(3 * phase)
                + 0.15 * math.sin(5 * phase + 0.7))
        # Body about -10 dBFS; the first couple of milliseconds overshoot into the clip.
        body = smooth(t / 0.0008) * (1.0 - smooth((t - 0.034) / 0.010))
        attack = 1.0 + 2.4 * math.exp(-t / 0.0025)
        burst = 0.38 * gain * tone * body * attack
        # The shimmer swells in under the burst and dies away by the end.
        swell = smooth((t - 0.020) / 0.015)
        decay = math.exp(-(t - 0.035) / 0.030) if t > 0.035 else 1.0
        tail = 1.0 - smooth((i - (last - 400)) / 400.0)
        shimmer = 0.09 * gain * swell * decay * tail * math.sin(
            2 * math.pi * 10800.0 * t + shimmer_phase)
        out.append((burst + shimmer) * FULL)
    out[-1] = 0.0
    return [quantise(v) for v in out]


def warning_beep():
    left = warning_channel(1.0, 0.0)
    right = warning_channel(0.985, 0.35)
    return list(zip(left, right))


# ---- Release chime -----------------------------------------------------------------------
# Mono (both channels equal): 59 frames of silence, a 2.4 kHz ping, a softer 1.1 kHz
# passage, a second ping near 2.1 kHz at 70 ms, then the low part again until the clip is
# cut off without a fade.

SILENT_LEAD = 59


def ping(t, start, freq, level, length):
    if t < start:
        return 0.0
    u = t - start
    envelope = smooth(u / 0.0006) * math.exp(-u / (length / 3.0))
    return level * envelope * (math.sin(2 * math.pi * freq * u) + 0.2 * math.sin(
        2 * math.pi * 2 * freq * u))


def release_chime():
    values = []
    for i in range(RELEASE_FRAMES):
        if i < SILENT_LEAD:
            values.append(0.0)
            continue
        t = (i - SILENT_LEAD + 1) / RATE
        v = ping(t, 0.0, 2400.0, 1.0, 0.025)
        v += ping(t, 0.069, 2100.0, 0.9, 0.020)
        low = smooth((t - 0.012) / 0.010) * (0.30 - 0.12 * smooth((t - 0.070) / 0.010))
        v += low * math.sin(2 * math.pi * 1100.0 * t)
        values.append(v)
    peak = max(values, key=abs)
    scale = 32767.0 / peak  # a negative peak flips the signal so the peak is +32767
    samples = [quantise(v * scale) for v in values]
    return [(s, s) for s in samples]


# ---- On and off chimes -------------------------------------------------------------------
# A soft tone that holds at 300 Hz for 70 ms, then steps up through 390 and 470 Hz to
# 560 Hz while it fades out. The off chime is the same frames played backwards.

CHIME_STEPS = [(0.000, 300.0), (0.070, 390.0), (0.100, 470.0), (0.130, 560.0)]
CHIME_PEAK = 27118


def chime_frequency(t):
    freq = CHIME_STEPS[0][1]
    for start, f in CHIME_STEPS:
        if t >= start:
            freq = f
    return freq


def on_chime():
    channels = ([], [])
    phase = 0.0
    last = CHIME_FRAMES - 1
    for i in range(CHIME_FRAMES):
        t = i / RATE
        # Rise to full level by 20 ms, hold until 60 ms, then fade to silence at the end.
        envelope = smooth(t / 0.018) * (1.0 - 0.35 * smooth((t - 0.060) / 0.030))
        envelope *= 1.0 - smooth((i - (last - 2600)) / 2600.0)
        for c, (gain, skew) in enumerate(((1.0, 0.0), (0.97, 0.25))):
            v = (math.cos(phase) + 0.45 * math.cos(2 * phase + skew) + 0.3 * math.cos(
                3 * phase))
            channels[c].append(envelope * gain * v)
        phase += 2 * math.pi * chime_frequency(t) / RATE
    peak = max(max(abs(v) for v in ch) for ch in channels)
    scale = CHIME_PEAK / peak
    left = [quantise(v * scale) for v in channels[0]]
    right = [quantise(v * scale) for v in channels[1]]
    frames = list(zip(left, right))
    frames[-1] = (0, 0)
    if max(max(abs(l), abs(r)) for l, r in frames) != CHIME_PEAK:
        raise SystemExit("chime peak drifted")
    return frames


# ---- RIFF assembly -----------------------------------------------------------------------


def chunk(ident, body):
    return ident + struct.pack("<I", len(body)) + body


def text(value, length):
    data = value.encode("ascii")
    if len(data) >= length:
        raise SystemExit("text too long: %r" % value)
    return data + b"\0" * (length - len(data))


def info_item(ident, value, length):
    body = text(value, length)
    return chunk(ident, body) + (b"\0" if length % 2 else b"")


def info_list(software, software_length):
    return chunk(b"LIST", b"INFO" + info_item(b"ICRD", "2026-12-08", 11) +
                 info_item(b"IENG", "synth", 7) +
                 info_item(b"ISFT", software, software_length))


def cue_chunk(points):
    body = struct.pack("<I", len(points))
    for ident, frame in points:
        body += struct.pack("<II4sIII", ident, frame, b"data", 0, 0, frame)
    return chunk(b"cue ", body)


def label_list(idents):
    body = b"adtl"
    for ident in idents:
        body += chunk(b"labl", struct.pack("<I", ident) + b"\0") + b"\0"
    return chunk(b"LIST", body)


def editor_chunk():
    # Opaque editor state; any 68 bytes do.
    return chunk(b"CDif", bytes((i * 37 + 11) & 0xFF for i in range(68)))


def image(frames, trailing=b""):
    data = b"".join(struct.pack("<hh", l, r) for l, r in frames)
    fmt = struct.pack("<HHIIHH", 1, 2, RATE, RATE * 4, 4, 16)
    body = b"WAVE" + chunk(b"fmt ", fmt) + chunk(b"data", data) + trailing
    return b"RIFF" + struct.pack("<I", len(body)) + body


def build():
    warning = image(
        warning_beep(),
        info_list("Morlett clip synthesiser, sound/clips", 42) +
        cue_chunk([(1, 5213), (2, 5692), (3, 5692)]) + label_list([1, 2, 3]) + editor_chunk())
    release = image(release_chime(), info_list("Morlett synthesiser", 21))
    on = on_chime()
    return {
        "WarningBeep.wav": warning,
        "ReleaseChime.wav": release,
        "OnChime.wav": image(on),
        "OffChime.wav": image(list(reversed(on))),
    }


EXPECTED_SIZES = {
    "WarningBeep.wav": 23128,
    "ReleaseChime.wav": 22590,
    "OnChime.wav": 30620,
    "OffChime.wav": 30620,
}


def main(argv):
    check = "--check" in argv[1:]
    folder = os.path.dirname(os.path.abspath(__file__))
    stale = []
    for name, data in build().items():
        if len(data) != EXPECTED_SIZES[name]:
            raise SystemExit("%s: %d bytes, expected %d" % (name, len(data),
                                                             EXPECTED_SIZES[name]))
        path = os.path.join(folder, name)
        if check:
            with open(path, "rb") as f:
                if f.read() != data:
                    stale.append(name)
        else:
            with open(path, "wb") as f:
                f.write(data)
            print("%s: %d bytes" % (name, len(data)))
    if stale:
        print("out of date: " + ", ".join(stale))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
