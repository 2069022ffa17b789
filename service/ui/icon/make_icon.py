#!/usr/bin/env python3
"""Draws the service's tray icon (a card with a chip on a blue tile) and
writes it as a Windows icon file with 16, 32 and 48 pixel images (32-bit
BGRA bitmaps), the format Qt's ico reader loads.

    python3 service/ui/icon/make_icon.py > service/ui/icon/icon.ico
"""
import struct
import sys


def inside_rounded(x, y, x0, y0, x1, y1, r):
    """True when the pixel centre (x, y) lies in the rounded rectangle."""
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def pixel(u, v):
    """Colour (r, g, b, a) at the unit-square point (u, v), v downwards."""
    if not inside_rounded(u, v, 0.02, 0.02, 0.98, 0.98, 0.18):
        return (0, 0, 0, 0)
    colour = (22, 84, 160, 255)  # tile
    if inside_rounded(u, v, 0.14, 0.26, 0.86, 0.74, 0.06):
        colour = (245, 247, 250, 255)  # card
        if 0.20 <= u <= 0.38 and 0.38 <= v <= 0.56:
            colour = (214, 168, 60, 255)  # chip
            if abs(u - 0.29) < 0.012 or abs(v - 0.47) < 0.012:
                colour = (160, 120, 30, 255)
        elif 0.46 <= u <= 0.80 and (0.40 <= v <= 0.45 or 0.52 <= v <= 0.57):
            colour = (120, 140, 170, 255)  # text lines
    return colour


def image(size, samples=4):
    """BMP payload of one icon image: header, BGRA rows bottom-up, AND mask."""
    rows = []
    for y in range(size - 1, -1, -1):
        row = bytearray()
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = pixel((x + (sx + 0.5) / samples) / size, (y + (sy + 0.5) / samples) / size)
                    for i in range(3):
                        acc[i] += c[i] * c[3]
                    acc[3] += c[3]
            n = samples * samples
            a = acc[3] / n
            rgb = [int(acc[i] / acc[3] + 0.5) if acc[3] else 0 for i in range(3)]
            row += bytes((rgb[2], rgb[1], rgb[0], int(a + 0.5)))
        rows.append(bytes(row))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + b"".join(rows) + bytes(mask_row * size)


def main():
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    sys.stdout.buffer.write(out + b"".join(images))


if __name__ == "__main__":
    main()
