#!/usr/bin/python3
"""Writes the busy animations `printing` and `uploading` (animated GIFs, no
file extension) into the data folder: a ring of dots that turns, drawn in
plain Python so that nothing beyond the standard library is needed."""
import math
import os
import struct

SIZE = 48
FRAMES = 12
PALETTE = [(255, 255, 255), (216, 222, 233), (120, 144, 180), (37, 99, 235), (22, 163, 74)]


def ring_frame(step, colour_index):
    pixels = bytearray(SIZE * SIZE)
    for dot in range(FRAMES):
        angle = 2 * math.pi * dot / FRAMES
        cx = SIZE / 2 + 16 * math.cos(angle)
        cy = SIZE / 2 + 16 * math.sin(angle)
        age = (step - dot) % FRAMES
        colour = colour_index if age == 0 else 2 if age < 3 else 1
        for y in range(SIZE):
            for x in range(SIZE):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= 12:
                    pixels[y * SIZE + x] = colour
    return pixels


def lzw_literal(pixels, min_code_size=7):
    """LZW data that only ever uses literal codes: a clear code before the
    table would grow past 8-bit codes keeps every code 8 bits wide."""
    clear = 1 << min_code_size
    codes = []
    for i, p in enumerate(pixels):
        if i % (clear - 2) == 0:
            codes.append(clear)
        codes.append(p)
    codes.append(clear + 1)
    out = bytearray()
    bits = 0
    nbits = 0
    for c in codes:
        bits |= c << nbits
        nbits += min_code_size + 1
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    blocks = bytearray([min_code_size])
    for i in range(0, len(out), 255):
        chunk = out[i:i + 255]
        blocks += bytes([len(chunk)]) + chunk
    return bytes(blocks + b"\x00")


def write_gif(path, frames):
    palette = PALETTE + [(0, 0, 0)] * (128 - len(PALETTE))
    data = bytearray(b"GIF89a" + struct.pack("<HHBBB", SIZE, SIZE, 0xF6, 0, 0))
    for r, g, b in palette:
        data += bytes((r, g, b))
    data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    for pixels in frames:
        data += b"\x21\xF9\x04\x00" + struct.pack("<H", 8) + b"\x00\x00"  # 80 ms
        data += b"\x2C" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        data += lzw_literal(pixels)
    data += b"\x3B"
    with open(path, "wb") as f:
        f.write(data)


here = os.path.dirname(os.path.abspath(__file__))
for name, colour in (("printing", 3), ("uploading", 4)):
    write_gif(os.path.join(here, "..", name), [ring_frame(s, colour) for s in range(FRAMES)])
