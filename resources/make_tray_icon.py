#!/usr/bin/env python3
"""Writes TrayIcon.png, the status-bar icon: a mixer glyph (a frame holding
three fader tracks with their caps) drawn in black, its shape and its soft
edges carried wholly by the alpha channel, so the menu bar can recolour it
as a template image.

The output is byte-for-byte reproducible: the timestamp is fixed and only
the Python standard library is used.

    python3 make_tray_icon.py [output.png]
"""

import math
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 202, 201
PIXELS_PER_METRE = 3543  # 90 dpi
TIMESTAMP = (2024, 3, 18, 9, 30, 0)
PROFILE_NAME = b"QUOR Virtual Channels tray icon: sRGB primaries, gamma 2.2."

# ---------------------------------------------------------------------------
# Drawing: signed distances in pixels, negative inside a shape.


def rounded_box(px, py, cx, cy, half_w, half_h, radius):
    qx = abs(px - cx) - half_w + radius
    qy = abs(py - cy) - half_h + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - radius


def coverage(distance, softness):
    """Share of a pixel covered, with a ramp `softness` pixels wide."""
    value = 0.5 - distance / softness
    return 0.0 if value <= 0.0 else 1.0 if value >= 1.0 else value


FRAME_RADIUS = 38.0
FRAME_STROKE = 13.0
TRACK_XS = (55.5, 101.0, 146.5)
TRACK_HALF_WIDTH = 4.0
TRACK_TOP, TRACK_BOTTOM = 34.0, 167.0
CAP_YS = (128.0, 70.0, 108.0)
CAP_HALF_W, CAP_HALF_H, CAP_RADIUS = 17.0, 10.0, 5.0
CAP_GROOVE_HALF_H = 1.6
SOFTNESS = 4.0


def alpha_at(x, y):
    px, py = x + 0.5, y + 0.5
    cx, cy = WIDTH / 2.0, HEIGHT / 2.0

    # The frame: the outer edge meets the canvas border, so the glyph spans it all.
    outer = rounded_box(px, py, cx, cy, WIDTH / 2.0 - 0.5, HEIGHT / 2.0 - 0.5, FRAME_RADIUS)
    inner = rounded_box(px, py, cx, cy, WIDTH / 2.0 - 0.5 - FRAME_STROKE, HEIGHT / 2.0 - 0.5 - FRAME_STROKE,
                        FRAME_RADIUS - FRAME_STROKE)
    shape = coverage(max(outer, -inner), SOFTNESS)

    for track_x, cap_y in zip(TRACK_XS, CAP_YS):
        track_half_h = (TRACK_BOTTOM - TRACK_TOP) / 2.0
        track = rounded_box(px, py, track_x, (TRACK_TOP + TRACK_BOTTOM) / 2.0, TRACK_HALF_WIDTH, track_half_h,
                            TRACK_HALF_WIDTH)
        cap = rounded_box(px, py, track_x, cap_y, CAP_HALF_W, CAP_HALF_H, CAP_RADIUS)
        # A groove across the cap, cut out so the cap reads as a fader knob.
        groove = rounded_box(px, py, track_x, cap_y, CAP_HALF_W - 4.0, CAP_GROOVE_HALF_H, CAP_GROOVE_HALF_H)
        # The track stops at the cap's edge, with a small gap around it.
        gap = cap - 4.0
        track_visible = max(track, -gap)
        shape = max(shape, coverage(track_visible, SOFTNESS), coverage(max(cap, -groove), SOFTNESS))

    return int(round(shape * 255.0))


def draw():
    rows = []
    for y in range(HEIGHT):
        row = bytearray()
        for x in range(WIDTH):
            row += bytes((0, 0, 0, alpha_at(x, y)))
        rows.append(bytes(row))
    return rows


# ---------------------------------------------------------------------------
# PNG encoding


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_row(kind, row, previous, bpp=4):
    out = bytearray((kind,))
    for i, value in enumerate(row):
        left = row[i - bpp] if i >= bpp else 0
        up = previous[i]
        upper_left = previous[i - bpp] if i >= bpp else 0
        if kind == 0:
            predicted = 0
        elif kind == 1:
            predicted = left
        elif kind == 2:
            predicted = up
        elif kind == 3:
            predicted = (left + up) // 2
        else:
            predicted = paeth(left, up, upper_left)
        out.append((value - predicted) & 0xFF)
    return bytes(out)


def filtered_image(rows):
    """Each row with the filter whose output has the smallest sum of magnitudes."""
    previous = bytes(len(rows[0]))
    out = bytearray()
    for row in rows:
        candidates = [filter_row(kind, row, previous) for kind in range(5)]
        out += min(candidates, key=lambda f: sum(v if v < 128 else 256 - v for v in f[1:]))
        previous = row
    return bytes(out)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


# ---------------------------------------------------------------------------
# A small display profile (ICC version 2.1): sRGB-like primaries adapted to
# D50 and a plain 2.2 gamma, enough for readers that honour embedded profiles.


def s15f16(value):
    return struct.pack(">i", int(round(value * 65536.0)))


def xyz_tag(x, y, z):
    return b"XYZ " + bytes(4) + s15f16(x) + s15f16(y) + s15f16(z)


def text_description(text):
    ascii_text = text.encode("ascii") + b"\0"
    return (b"desc" + bytes(4) + struct.pack(">I", len(ascii_text)) + ascii_text
            + struct.pack(">II", 0, 0)         # no Unicode description
            + struct.pack(">HB", 0, 0) + bytes(67))  # no ScriptCode description


def icc_profile():
    gamma = b"curv" + bytes(4) + struct.pack(">I", 1) + struct.pack(">H", int(round(2.2 * 256))) + bytes(2)
    tags = [
        (b"desc", text_description("QUOR Tray")),
        (b"wtpt", xyz_tag(0.9642, 1.0, 0.8249)),
        (b"rXYZ", xyz_tag(0.4361, 0.2225, 0.0139)),
        (b"gXYZ", xyz_tag(0.3851, 0.7169, 0.0971)),
        (b"bXYZ", xyz_tag(0.1431, 0.0606, 0.7141)),
        (b"rTRC", gamma),
        (b"gTRC", gamma),
        (b"bTRC", gamma),
        (b"cprt", b"text" + bytes(4) + b"No copyright, use freely\0"),
    ]

    table_size = 4 + 12 * len(tags)
    offset = 128 + table_size
    table = struct.pack(">I", len(tags))
    data = bytearray()
    placed = {}
    for signature, body in tags:
        if body in placed:  # the three curves share one element
            at, size = placed[body]
        else:
            while (offset + len(data)) % 4:
                data.append(0)
            at, size = offset + len(data), len(body)
            placed[body] = (at, size)
            data += body
        table += signature + struct.pack(">II", at, size)
    while len(data) % 4:
        data.append(0)

    size = 128 + table_size + len(data)
    header = (struct.pack(">I", size) + b"none" + struct.pack(">I", 0x02100000) + b"mntr" + b"RGB " + b"XYZ "
              + struct.pack(">6H", *TIMESTAMP) + b"acsp" + b"APPL" + bytes(4) + b"none" + bytes(4) + bytes(8)
              + struct.pack(">I", 0) + s15f16(0.9642) + s15f16(1.0) + s15f16(0.8249) + b"none" + bytes(16)
              + bytes(28))
    assert len(header) == 128
    return header + table + bytes(data)


def png(rows):
    ihdr = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)
    iccp = PROFILE_NAME + b"\0" + b"\0" + zlib.compress(icc_profile(), 9)
    bkgd = struct.pack(">HHH", 255, 255, 255)
    phys = struct.pack(">IIB", PIXELS_PER_METRE, PIXELS_PER_METRE, 1)
    time = struct.pack(">HBBBBB", *TIMESTAMP)
    idat = zlib.compress(filtered_image(rows), 9)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"iCCP", iccp) + chunk(b"bKGD", bkgd)
            + chunk(b"pHYs", phys) + chunk(b"tIME", time) + chunk(b"IDAT", idat) + chunk(b"IEND", b""))


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                 "TrayIcon.png")
    data = png(draw())
    with open(target, "wb") as out:
        out.write(data)
    print("%s: %d bytes" % (target, len(data)))


if __name__ == "__main__":
    main()
