#!/usr/bin/env python3
"""Writes the three short sounds the window plays: detect (two rising beeps), err (a low
buzz), ok (a three-note chime). 16-bit mono, 22050 Hz; run again to regenerate."""
import math
import os
import struct
import wave

RATE = 22050


def tone(freq, seconds, volume=0.4):
    n = int(RATE * seconds)
    fade = int(RATE * 0.01)
    out = []
    for i in range(n):
        env = min(1.0, i / fade, (n - i) / fade)
        out.append(volume * env * math.sin(2 * math.pi * freq * i / RATE))
    return out


def silence(seconds):
    return [0.0] * int(RATE * seconds)


def write(name, samples):
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wav", name)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(s * 32767)) for s in samples))


write("detect.wav", tone(880, 0.08) + silence(0.04) + tone(1320, 0.1))
write("err.wav", [s + 0.5 * t for s, t in zip(tone(180, 0.35), tone(190, 0.35))])
write("ok.wav", tone(660, 0.1) + tone(880, 0.1) + tone(1320, 0.2))
