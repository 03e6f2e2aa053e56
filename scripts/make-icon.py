#!/usr/bin/env python3
"""Draws Velmoran's program icon (32 x 32): a dark red shield with a golden V.
Writes ui/assets/velmoran.png (with its soft edges, for the windows) and
ui/assets/velmoran.ico: the same picture as one 32 x 32 image in 256 colours (an 8-bit
palette and a transparency mask), the program file's icon. Standard library only."""
import struct, zlib, os, math

W = H = 32
def shield_alpha(x, y):
    # A heater shield: straight top, sides curving to a point at the bottom.
    cx = 15.5
    if y < 2 or y > 30:
        return 0.0
    half = 13.5 if y < 16 else 13.5 * math.sqrt(max(0.0, 1 - ((y - 16) / 14.5) ** 2))
    d = half - abs(x - cx)
    return max(0.0, min(1.0, d + 0.5))

def v_alpha(x, y):
    # A golden V from (8,8) and (23,8) down to (15.5,24).
    def seg(px, py, ax, ay, bx, by):
        vx, vy = bx - ax, by - ay
        t = max(0, min(1, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
        return math.hypot(px - (ax + t * vx), py - (ay + t * vy))
    d = min(seg(x, y, 8.5, 8, 15.5, 24), seg(x, y, 22.5, 8, 15.5, 24))
    return max(0.0, min(1.0, 2.4 - d))

pixels = []
for y in range(H):
    row = []
    for x in range(W):
        a = shield_alpha(x + 0.5, y + 0.5)
        edge = shield_alpha(x + 0.5, y + 0.5) - shield_alpha(x + 0.5, y - 1.5)
        shade = 1 - y / 64
        r, g, b = int(120 * shade), int(18 * shade), int(20 * shade)
        if 0 < a and (shield_alpha(x - 1.5, y + 0.5) == 0 or shield_alpha(x + 2.5, y + 0.5) == 0
                      or shield_alpha(x + 0.5, y + 2.5) == 0 or y < 4):
            r, g, b = 60, 40, 20
        v = v_alpha(x + 0.5, y + 0.5)
        r = int(r * (1 - v) + 230 * v); g = int(g * (1 - v) + 180 * v); b = int(b * (1 - v) + 40 * v)
        row.append((r, g, b, int(255 * a)))
    pixels.append(row)

def png(pixels):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)
    def chunk(t, d):
        return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui", "assets")
data = png(pixels)
open(os.path.join(here, "velmoran.png"), "wb").write(data)

def ico8(pixels):
    """A one-image .ico: 32 x 32, 8-bit palette; pixels under half opaque are transparent.
    Rows bottom up, each padded to four bytes."""
    palette = sorted({p[:3] for row in pixels for p in row if p[3] >= 128})
    if len(palette) > 256:
        raise ValueError("the icon has more than 256 colours")
    index = {colour: i for i, colour in enumerate(palette)}
    colours = b""
    mask = b""
    for row in reversed(pixels):
        colours += bytes(index[p[:3]] if p[3] >= 128 else 0 for p in row)
        bits = bytearray(4)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, W, H * 2, 1, 8, 0, len(colours) + len(mask), 0, 0,
                         256, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    image = header + table + b"\0\0\0\0" * (256 - len(palette)) + colours + mask
    return (struct.pack("<HHH", 0, 1, 1) +
            struct.pack("<BBBBHHII", W, H, 0, 0, 1, 8, len(image), 22) + image)

open(os.path.join(here, "velmoran.ico"), "wb").write(ico8(pixels))
