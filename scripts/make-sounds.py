#!/usr/bin/env python3
"""Writes the two slew sounds into resources/sounds/ (PCM, mono, 8-bit).

BEGSLEW loops while the focuser moves, so it holds a whole number of cycles of every
partial and joins seamlessly; ENDSLEW is a short falling two-tone chime.
"""
import math
import struct
import pathlib

OUT = pathlib.Path(__file__).resolve().parent.parent / "resources" / "sounds"


def write_wav(path, rate, samples):
    data = bytes(max(0, min(255, int(round(128 + 127 * s)))) for s in samples)
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    fmt = b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, rate, 1, 8)
    path.write_bytes(header + fmt + b"data" + struct.pack("<I", len(data)) + data)


def begslew():
    rate, n = 22050, 1000
    # 441 Hz and 882 Hz: 20 and 40 whole cycles in 1000 samples.
    return rate, [0.30 * math.sin(2 * math.pi * 441 * i / rate)
                  + 0.12 * math.sin(2 * math.pi * 882 * i / rate) for i in range(n)]


def endslew():
    rate, n = 11025, 2930
    out = []
    for i in range(n):
        t = i / rate
        f = 1320 if i < n // 3 else 990
        env = math.exp(-6.0 * t) * min(1.0, i / 40.0)
        out.append(0.6 * env * math.sin(2 * math.pi * f * t))
    return rate, out


if __name__ == "__main__":
    OUT.mkdir(parents=True, exist_ok=True)
    write_wav(OUT / "begslew.wav", *begslew())
    write_wav(OUT / "endslew.wav", *endslew())
