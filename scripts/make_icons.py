#!/usr/bin/env python3
"""Draws the button icons and the program icon into data/.

Pure Python (zlib and struct only): every shape is sampled 5 x 5 times per pixel for soft edges.
The set shares one palette and one line weight: an amber archive box outlined in slate, with a
coloured round badge that says what the button does.

Pixels that are not fully covered keep the colour they would show over the light button face,
so an icon still looks right where a system draws it without alpha blending.

Usage: python3 scripts/make_icons.py [output folder]   (default: data)
"""
import math
import os
import struct
import sys
import zlib

INK = (46, 59, 78)
AMBER = (224, 168, 66)
AMBER_DARK = (190, 132, 40)
AMBER_LIGHT = (240, 198, 112)
GREEN = (63, 163, 77)
BLUE = (47, 127, 209)
TEAL = (28, 156, 140)
RED = (214, 69, 65)
WHITE = (255, 255, 255)
GLASS = (191, 224, 247)
FACE = (245, 245, 245)  # the button face the fallback drawing shows through

LINE = 3.0  # outline weight in the 64-pixel grid
SAMPLES = 5


# Shapes: functions (x, y) -> inside, in icon units.
def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_in, r_out):
    def inside(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        return r_in * r_in <= d <= r_out * r_out
    return inside


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r
    return inside


def outline(x0, y0, x1, y1, r, w):
    """A rounded rectangle's border of width w, centred on its edge."""
    outer = rounded_rect(x0 - w / 2, y0 - w / 2, x1 + w / 2, y1 + w / 2, r + w / 2)
    inner = rounded_rect(x0 + w / 2, y0 + w / 2, x1 - w / 2, y1 - w / 2, max(r - w / 2, 0))
    return lambda x, y: outer(x, y) and not inner(x, y)


def stroke(points, w):
    """A polyline of width w with round caps and joins."""
    segments = list(zip(points, points[1:]))

    def near(x, y):
        for (ax, ay), (bx, by) in segments:
            vx, vy = bx - ax, by - ay
            t = ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)
            t = min(1.0, max(0.0, t))
            px, py = ax + t * vx - x, ay + t * vy - y
            if px * px + py * py <= w * w / 4:
                return True
        return False
    return near


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def dashed_frame(x0, y0, x1, y1, w, dash):
    frame = outline(x0, y0, x1, y1, 3, w)

    def inside(x, y):
        if not frame(x, y):
            return False
        along = (x - x0) if abs(y - y0) < w or abs(y - y1) < w else (y - y0)
        return int(along // dash) % 2 == 0
    return inside


# Layers are (colour, opacity, shape), painted in order.
def render(layers, size, units):
    scale = units / size
    pixels = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    cr = cg = cb = ca = 0.0
                    for colour, opacity, shape in layers:
                        if shape(x, y):
                            cr = colour[0] * opacity + cr * (1 - opacity)
                            cg = colour[1] * opacity + cg * (1 - opacity)
                            cb = colour[2] * opacity + cb * (1 - opacity)
                            ca = opacity + ca * (1 - opacity)
                    r, g, b, a = r + cr, g + cg, b + cb, a + ca
            n = SAMPLES * SAMPLES
            a /= n
            # Colours are premultiplied sums here: over the face, then stored with the coverage.
            over = [c / n + f * (1 - a) for c, f in zip((r, g, b), FACE)]
            row.append(tuple(int(round(min(255, max(0, c)))) for c in over) + (int(round(a * 255)),))
        pixels.append(row)
    return pixels


def png_bytes(pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def ico_bytes(images):
    """An icon file: 32-bit DIB entries for the small sizes, a PNG entry for 256."""
    entries, blobs = [], []
    for pixels in images:
        size = len(pixels)
        if size >= 256:
            blob = png_bytes(pixels)
        else:
            mask_stride = ((size + 31) // 32) * 4
            header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
            colour = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(pixels) for p in row)
            mask = bytearray()
            for row in reversed(pixels):
                bits = bytearray(mask_stride)
                for x, p in enumerate(row):
                    if p[3] == 0:
                        bits[x // 8] |= 0x80 >> (x % 8)
                mask += bits
            blob = header + colour + bytes(mask)
        entries.append((size, blob))
        blobs.append(blob)
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, blob in entries:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


# The archive box every command icon starts from (64-unit grid, kept inside the 4-pixel clip).
def archive_box(dx=0.0, dy=0.0, lid_open=False):
    lid = (10 + dx, 12 + dy, 48 + dx, 22 + dy)
    body = (12 + dx, 22 + dy, 46 + dx, 52 + dy)
    layers = [
        (AMBER, 1.0, rounded_rect(*body, 3)),
        (AMBER_LIGHT, 1.0, rounded_rect(body[0] + 2, body[1] + 2, body[2] - 2, body[1] + 7, 2)),
        (INK, 1.0, outline(*body, 3, LINE)),
    ]
    if lid_open:
        corners = [(8 + dx, 12 + dy), (44 + dx, 6 + dy), (46 + dx, 13 + dy), (10 + dx, 19 + dy)]
        lid_shape = polygon(corners)
        lid_edge = stroke(corners + corners[:1], LINE)
        layers += [(AMBER_DARK, 1.0, lid_shape), (INK, 1.0, lid_edge)]
    else:
        layers += [(AMBER_DARK, 1.0, rounded_rect(*lid, 3)), (INK, 1.0, outline(*lid, 3, LINE))]
    layers.append((INK, 1.0, rounded_rect(23 + dx, 28 + dy, 35 + dx, 32 + dy, 2)))
    return layers


def badge(colour, glyph):
    cx, cy, r = 45, 45, 12
    return [
        (WHITE, 1.0, circle(cx, cy, r + 2.5)),
        (colour, 1.0, circle(cx, cy, r)),
        (INK, 1.0, ring(cx, cy, r - 0.1, r + 1.2)),
        (WHITE, 1.0, glyph),
    ]


def icon_add():
    plus = union(stroke([(45, 38), (45, 52)], 4.5), stroke([(38, 45), (52, 45)], 4.5))
    return archive_box() + badge(GREEN, plus)


def icon_extract():
    arrow = union(stroke([(45, 52), (45, 39)], 4.5), stroke([(39.5, 44), (45, 38.5), (50.5, 44)], 4.5))
    return archive_box(lid_open=True) + badge(BLUE, arrow)


def icon_verify():
    check = stroke([(39, 45.5), (43.5, 50), (51.5, 40.5)], 4.5)
    return archive_box() + badge(TEAL, check)


def icon_delete():
    cross = union(stroke([(40, 40), (50, 50)], 4.5), stroke([(50, 40), (40, 50)], 4.5))
    return archive_box() + badge(RED, cross)


def icon_info():
    return [
        (BLUE, 1.0, circle(32, 32, 23)),
        (INK, 1.0, ring(32, 32, 22.9, 23 + LINE)),
        (WHITE, 1.0, circle(32, 19.5, 4)),
        (WHITE, 1.0, rounded_rect(28.5, 27, 35.5, 46, 2)),
        (WHITE, 1.0, rounded_rect(25, 43, 39, 47, 1.5)),
        (WHITE, 1.0, rounded_rect(25, 27, 34, 30.5, 1.5)),
    ]


def icon_find():
    return [
        (INK, 1.0, stroke([(38, 38), (53, 53)], 10)),
        (AMBER_DARK, 1.0, stroke([(39.5, 39.5), (52, 52)], 5)),
        (GLASS, 0.65, circle(27, 27, 15)),
        (WHITE, 0.9, stroke([(18.5, 25), (21, 20), (25.5, 17.5)], 2.5)),
        (INK, 1.0, ring(27, 27, 15, 15 + LINE + 1)),
    ]


def icon_select_all():
    layers = [(BLUE, 1.0, dashed_frame(8, 8, 56, 56, 2.2, 5))]
    for y in (19, 32, 45):
        layers += [
            (BLUE, 1.0, rounded_rect(14, y - 4.5, 23, y + 4.5, 2)),
            (INK, 1.0, outline(14, y - 4.5, 23, y + 4.5, 2, 1.5)),
            (WHITE, 1.0, stroke([(16, y), (18.3, y + 2.4), (21.3, y - 2)], 2.0)),
            (INK, 1.0, stroke([(28, y), (50, y)], LINE)),
        ]
    return layers


def icon_return():
    """28-unit grid: an arrow going up and back, as a folder's parent is."""
    path = [(21, 21), (10, 21), (10, 9)]
    head = polygon([(4.5, 11.5), (10, 4.5), (15.5, 11.5)])
    return [
        (INK, 1.0, stroke(path, 5.5)),
        (INK, 1.0, polygon([(3, 12.5), (10, 3), (17, 12.5)])),
        (BLUE, 1.0, stroke(path, 3.0)),
        (BLUE, 1.0, head),
    ]


def icon_program():
    return archive_box(dx=3) + [(BLUE, 1.0, stroke([(22, 35), (32, 47), (42, 35)], 5))]


ICONS = {
    "Add.png": (icon_add, 64, 64),
    "Extract.png": (icon_extract, 64, 64),
    "Verify.png": (icon_verify, 64, 64),
    "Delete.png": (icon_delete, 64, 64),
    "Info.png": (icon_info, 64, 64),
    "Find.png": (icon_find, 64, 64),
    "SelectAll.png": (icon_select_all, 64, 64),
    "return.png": (icon_return, 28, 28),
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "data")
    os.makedirs(out, exist_ok=True)
    for name, (draw, size, units) in ICONS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(png_bytes(render(draw(), size, units)))
    program = icon_program()
    with open(os.path.join(out, "WinVantor.ico"), "wb") as f:
        f.write(ico_bytes([render(program, s, 64) for s in (16, 24, 32, 48, 256)]))


if __name__ == "__main__":
    main()
