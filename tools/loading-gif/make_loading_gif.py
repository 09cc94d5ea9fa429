#!/usr/bin/env python3
"""Writes the loading animation (resources/IDR_LOADING): an animated GIF of 24 frames, a ring of twelve
dots whose bright head turns once around the ring every 24 frames, on the loading screen's dark grey.
Plain Python (no imaging library): the frames are drawn into palette indices and LZW-coded here.

    python3 tools/loading-gif/make_loading_gif.py resources/IDR_LOADING
"""
import math
import struct
import sys

SIZE = 72
FRAMES = 24
DOTS = 12
DELAY_CS = 8  # 80 ms a frame (the client steps every 83 ms whatever the file says)
# Index 0 is the background (0x111111, the screen's fill); 1..7 a ramp from dim to bright blue-white.
PALETTE = [(0x11, 0x11, 0x11)] + [
    (int(0x11 + (0x9C - 0x11) * t), int(0x11 + (0xC8 - 0x11) * t), int(0x11 + (0xFF - 0x11) * t))
    for t in (i / 6 for i in range(7))
][1:] + [(0xFF, 0xFF, 0xFF)]


def draw(frame):
    pixels = bytearray(SIZE * SIZE)
    centre = (SIZE - 1) / 2
    ring = SIZE * 0.36
    head = frame * DOTS / FRAMES
    for dot in range(DOTS):
        angle = 2 * math.pi * dot / DOTS - math.pi / 2
        cx, cy = centre + ring * math.cos(angle), centre + ring * math.sin(angle)
        behind = (head - dot) % DOTS  # 0 at the head, growing along the tail
        level = max(1, 7 - int(behind))
        radius = 3.0 + 2.5 * (level / 7)
        for y in range(int(cy - radius - 1), int(cy + radius + 2)):
            for x in range(int(cx - radius - 1), int(cx + radius + 2)):
                if 0 <= x < SIZE and 0 <= y < SIZE and (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius:
                    pixels[y * SIZE + x] = max(pixels[y * SIZE + x], level)
    return bytes(pixels)


def lzw(indices, min_size):
    clear, end = 1 << min_size, (1 << min_size) + 1
    table = {bytes([i]): i for i in range(clear)}
    size, next_code = min_size + 1, end + 1
    out, bits, nbits = bytearray(), 0, 0

    def put(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    put(clear)
    word = b""
    for value in indices:
        candidate = word + bytes([value])
        if candidate in table:
            word = candidate
            continue
        put(table[word])
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            put(clear)
            table = {bytes([i]): i for i in range(clear)}
            size, next_code = min_size + 1, end + 1
        word = bytes([value])
    if word:
        put(table[word])
    put(end)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    return bytes(out + b"\0")


def main(path):
    gif = bytearray(b"GIF89a")
    gif += struct.pack("<HHBBB", SIZE, SIZE, 0xF2, 0, 0)  # global table of 8 colours
    for r, g, b in PALETTE:
        gif += bytes((r, g, b))
    gif += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    for frame in range(FRAMES):
        gif += b"\x21\xF9\x04" + struct.pack("<BHBB", 0x04, DELAY_CS, 0, 0)
        gif += b"\x2C" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        gif += b"\x03" + blocks(lzw(draw(frame), 3))
    gif += b"\x3B"
    with open(path, "wb") as f:
        f.write(gif)


if __name__ == "__main__":
    main(sys.argv[1])
