#!/usr/bin/env python3
"""Draws the link pointer of the main window's web address: a white hand with a black
outline pointing up with its index finger. Writes ui/assets/link.cur with a 32 x 32 and a
16 x 16 image, 16 colours each (4-bit palette), the hot spot at the tip of the finger.
Standard library only. With --png FOLDER it also writes both images as PNG, to look at."""
import math, os, struct, sys, zlib

# The shape in a 32 x 32 grid, y downwards; each part a capsule (a segment with a radius)
# or a rounded rectangle. The fingers come first: where parts meet, a pixel belongs to the
# part it lies deepest in.
FINGERS = [  # (x, top, bottom, radius): index finger, then the three folded ones
    (8.0, 2.6, 17.0, 2.6),
    (13.2, 11.0, 18.0, 2.6),
    (18.4, 12.0, 18.0, 2.6),
    (23.0, 13.8, 18.5, 2.1),
]
THUMB = ((3.2, 14.6), (8.0, 21.5), 2.4)
PALM = (5.4, 15.5, 25.1, 27.0, 4.0)  # left, top, right, bottom, corner radius
CUFF = (8.0, 26.5, 22.5, 31.5)       # the sleeve's edge under the hand

# The 16 colours of the palette (the classic Windows order); the drawing uses three.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, LIGHT_GREY, WHITE = 0, 7, 15
TRANSPARENT = None


def capsule(px, py, ax, ay, bx, by, r):
    vx, vy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
    return r - math.hypot(px - (ax + t * vx), py - (ay + t * vy))


def rounded(px, py, left, top, right, bottom, r):
    dx = max(left + r - px, 0.0, px - (right - r))
    dy = max(top + r - py, 0.0, py - (bottom - r))
    if dx > 0 and dy > 0:
        return r - math.hypot(dx, dy)
    return min(px - left, right - px, py - top, bottom - py)


def depths(px, py):
    """How deep the point lies in each part (negative: outside)."""
    parts = [capsule(px, py, x, top, x, bottom, r) for x, top, bottom, r in FINGERS]
    (ax, ay), (bx, by), r = THUMB
    parts.append(capsule(px, py, ax, ay, bx, by, r))
    parts.append(rounded(px, py, *PALM))
    left, top, right, bottom = CUFF
    parts.append(min(px - left, right - px, py - top, bottom - py))
    return parts


# At 16 x 16 the shapes above come out ragged, so the small image is drawn pixel by pixel:
# "#" outline, " " white, "o" light grey, "." transparent.
SMALL = [
    "...##...........",
    "..#  #..........",
    "..# o#..........",
    "..# o#..........",
    "..# o###........",
    "..# o# o###.....",
    "..# o# o# o###..",
    "###  # o# o# o#.",
    "#    #  #  # o#.",
    "#            o#.",
    ".#           o#.",
    "..#         o#..",
    "...#        o#..",
    "...###########..",
    "...#ooooooooo#..",
    "...###########..",
]


def draw(size):
    """The image as rows of palette indices, TRANSPARENT outside the hand."""
    if size == len(SMALL):
        colours = {"#": BLACK, " ": WHITE, "o": LIGHT_GREY, ".": TRANSPARENT}
        return [[colours[c] for c in row] for row in SMALL]
    scale = 32.0 / size
    owner = [[None] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            d = depths((x + 0.5) * scale, (y + 0.5) * scale)
            best = max(range(len(d)), key=lambda i: d[i])
            if d[best] > -0.35 * scale:
                owner[y][x] = best

    def at(x, y):
        return owner[y][x] if 0 <= x < size and 0 <= y < size else None

    cuff = len(FINGERS) + 2
    thumb = len(FINGERS)
    image = [[TRANSPARENT] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            part = owner[y][x]
            if part is None:
                continue
            right = at(x + 1, y)
            if None in (at(x - 1, y), right, at(x, y - 1), at(x, y + 1)):
                image[y][x] = BLACK  # the outline
            elif part < thumb and right != part and right < thumb and y * scale < 17.5:
                image[y][x] = BLACK  # the gap between two fingers
            elif part == thumb and right != thumb and y * scale > 16.5:
                image[y][x] = BLACK  # the thumb's edge over the palm
            elif (part == cuff) != (at(x, y - 1) == cuff):
                image[y][x] = BLACK  # the sleeve's edge
            else:
                image[y][x] = LIGHT_GREY if part == cuff else WHITE
    for y in range(size):  # a shade along the right of each part
        for x in range(size - 1):
            if image[y][x] == WHITE and image[y][x + 1] == BLACK:
                image[y][x] = LIGHT_GREY
    return image


def hot_spot(size):
    """The tip of the index finger: the top row's middle pixel of the finger."""
    image = draw(size)
    for y in range(size):
        xs = [x for x in range(size) if image[y][x] is not TRANSPARENT]
        if xs:
            return xs[len(xs) // 2], y
    raise ValueError("empty image")


def dib(image):
    """A 4-bit icon image: header, palette, colour bits and the transparency mask,
    rows bottom up, each padded to four bytes."""
    size = len(image)
    colour_row = (size * 4 + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    colours = b""
    mask = b""
    for row in reversed(image):
        bits = bytearray(colour_row)
        maskbits = bytearray(mask_row)
        for x, index in enumerate(row):
            if index is TRANSPARENT:
                maskbits[x // 8] |= 0x80 >> (x % 8)
                index = 0
            bits[x // 2] |= index << (4 if x % 2 == 0 else 0)
        colours += bytes(bits)
        mask += bytes(maskbits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(colours) + len(mask),
                         0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + colours + mask


def cursor(sizes):
    images = [dib(draw(size)) for size in sizes]
    data = struct.pack("<HHH", 0, 2, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, image in zip(sizes, images):
        x, y = hot_spot(size)
        data += struct.pack("<BBBBHHII", size, size, 16, 0, x, y, len(image), offset)
        offset += len(image)
    return data + b"".join(images)


def png(image, zoom):
    size = len(image)
    rows = []
    for row in image:
        line = b"".join(bytes(PALETTE[i] + (255,)) if i is not TRANSPARENT else b"\0\0\0\0"
                        for i in row for _ in range(zoom))
        rows += [b"\0" + line] * zoom
    def chunk(t, d):
        return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
    w = size * zoom
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, w, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui", "assets")
with open(os.path.join(here, "link.cur"), "wb") as out:
    out.write(cursor([32, 16]))
if len(sys.argv) == 3 and sys.argv[1] == "--png":
    for size in (32, 16):
        with open(os.path.join(sys.argv[2], "link-%d.png" % size), "wb") as out:
            out.write(png(draw(size), 256 // size))
