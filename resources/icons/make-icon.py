#!/usr/bin/env python3
"""Draws the Tarnivel icon: tarnivel.svg and tarnivel-48/128/256.png beside this script.

A focuser's drawtube reaching towards a star that comes to a point out of its blurred
rings. The shapes are described once below; the SVG is written from them and the PNGs
are rendered from them by supersampling, so the two never drift apart. Pure Python: no
image library needed, only the standard library.
"""
import math
import pathlib
import struct
import zlib

OUT = pathlib.Path(__file__).resolve().parent
VIEW = 256
SIZES = (48, 128, 256)
SUPERSAMPLE = 4

# The focuser's own frame: rotated about its pivot so the drawtube points at the star.
PIVOT = (104.0, 156.0)
ANGLE = -35.0
STAR = (172.0, 84.0)

# (kind, frame, geometry, fill, opacity); frame "view" or "focuser".
SHAPES = [
    ("rrect", "view", (16, 16, 240, 240, 48), ("gradient", "#22335c", "#0a1024"), 1.0),
    ("ring", "view", (STAR[0], STAR[1], 44, 9), "#f0b646", 0.45),
    ("ring", "view", (STAR[0], STAR[1], 26, 6), "#ffcf70", 0.75),
    ("star", "view", (STAR[0], STAR[1], 22, 4), "#fff4d6", 1.0),
    ("circle", "view", (STAR[0], STAR[1], 8), "#ffffff", 1.0),
    ("rrect", "focuser", (-66, -32, -18, 32, 7), "#5a6782", 1.0),
    ("rrect", "focuser", (-22, -21, 60, 21, 4), "#cfd5df", 1.0),
    ("rrect", "focuser", (52, -25, 66, 25, 3), "#8e98a8", 1.0),
    ("rrect", "focuser", (-6, -21, -3, -10, 1), "#5b6577", 1.0),
    ("rrect", "focuser", (10, -21, 13, -10, 1), "#5b6577", 1.0),
    ("rrect", "focuser", (26, -21, 29, -10, 1), "#5b6577", 1.0),
    ("rrect", "focuser", (-48, -44, -36, -28, 2), "#2d3748", 1.0),
    ("circle", "focuser", (-42, -50, 14), "#e4572e", 1.0),
    ("circle", "focuser", (-42, -50, 5), "#7a2a14", 1.0),
]


def rgb(hex_colour):
    h = hex_colour.lstrip("#")
    return tuple(int(h[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


def star_points(cx, cy, outer, inner):
    pts = []
    for i in range(8):
        r = outer if i % 2 == 0 else inner
        a = math.pi / 4 * i - math.pi / 2
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


# ---- SVG --------------------------------------------------------------------------------

def svg_shape(kind, geometry, fill, opacity):
    paint = "url(#sky)" if isinstance(fill, tuple) else fill
    extra = "" if opacity == 1.0 else f' opacity="{opacity:g}"'
    if kind == "rrect":
        x0, y0, x1, y1, r = geometry
        return (f'<rect x="{x0:g}" y="{y0:g}" width="{x1 - x0:g}" height="{y1 - y0:g}" '
                f'rx="{r:g}" fill="{paint}"{extra}/>')
    if kind == "circle":
        cx, cy, r = geometry
        return f'<circle cx="{cx:g}" cy="{cy:g}" r="{r:g}" fill="{paint}"{extra}/>'
    if kind == "ring":
        cx, cy, r, w = geometry
        return (f'<circle cx="{cx:g}" cy="{cy:g}" r="{r:g}" fill="none" stroke="{paint}" '
                f'stroke-width="{w:g}"{extra}/>')
    if kind == "star":
        pts = " ".join(f"{x:.2f},{y:.2f}" for x, y in star_points(*geometry))
        return f'<polygon points="{pts}" fill="{paint}"{extra}/>'
    raise ValueError(kind)


def write_svg(path):
    sky = next(s[3] for s in SHAPES if isinstance(s[3], tuple))
    lines = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{VIEW}" height="{VIEW}" '
        f'viewBox="0 0 {VIEW} {VIEW}">',
        "  <title>Tarnivel</title>",
        "  <defs>",
        '    <linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">',
        f'      <stop offset="0" stop-color="{sky[1]}"/>',
        f'      <stop offset="1" stop-color="{sky[2]}"/>',
        "    </linearGradient>",
        "  </defs>",
    ]
    focuser = []
    for kind, frame, geometry, fill, opacity in SHAPES:
        (focuser if frame == "focuser" else lines).append(
            "  " + svg_shape(kind, geometry, fill, opacity))
    lines.append(f'  <g transform="translate({PIVOT[0]:g} {PIVOT[1]:g}) rotate({ANGLE:g})">')
    lines += ["  " + s for s in focuser]
    lines += ["  </g>", "</svg>", ""]
    path.write_text("\n".join(lines))


# ---- Raster -----------------------------------------------------------------------------

def inside_rrect(x, y, g):
    x0, y0, x1, y1, r = g
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    dx = max(x0 + r - x, 0, x - (x1 - r))
    dy = max(y0 + r - y, 0, y - (y1 - r))
    return dx * dx + dy * dy <= r * r


def inside_polygon(x, y, pts):
    hit = False
    j = len(pts) - 1
    for i, (xi, yi) in enumerate(pts):
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


class Shape:
    def __init__(self, kind, frame, geometry, fill, opacity):
        self.kind, self.frame, self.g, self.opacity = kind, frame, geometry, opacity
        self.gradient = isinstance(fill, tuple)
        self.colour = (rgb(fill[1]), rgb(fill[2])) if self.gradient else rgb(fill)
        if kind == "star":
            self.points = star_points(*geometry)
        self.box = self.bounds()

    def local_bounds(self):
        g = self.g
        if self.kind == "rrect":
            return g[0], g[1], g[2], g[3]
        r = g[2] + (g[3] / 2 if self.kind == "ring" else 0)
        return g[0] - r, g[1] - r, g[0] + r, g[1] + r

    def bounds(self):
        x0, y0, x1, y1 = self.local_bounds()
        if self.frame == "view":
            return x0, y0, x1, y1
        corners = [to_view(x, y) for x in (x0, x1) for y in (y0, y1)]
        xs = [c[0] for c in corners]
        ys = [c[1] for c in corners]
        return min(xs), min(ys), max(xs), max(ys)

    def covers(self, x, y):
        if self.frame == "focuser":
            x, y = to_focuser(x, y)
        g = self.g
        if self.kind == "rrect":
            return inside_rrect(x, y, g)
        if self.kind == "circle":
            return (x - g[0]) ** 2 + (y - g[1]) ** 2 <= g[2] ** 2
        if self.kind == "ring":
            d = math.hypot(x - g[0], y - g[1])
            return abs(d - g[2]) <= g[3] / 2
        return inside_polygon(x, y, self.points)

    def colour_at(self, y):
        if not self.gradient:
            return self.colour
        top, bottom = self.colour
        t = min(1.0, max(0.0, (y - self.g[1]) / (self.g[3] - self.g[1])))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))


COS = math.cos(math.radians(ANGLE))
SIN = math.sin(math.radians(ANGLE))


def to_view(x, y):
    return PIVOT[0] + x * COS - y * SIN, PIVOT[1] + x * SIN + y * COS


def to_focuser(x, y):
    dx, dy = x - PIVOT[0], y - PIVOT[1]
    return dx * COS + dy * SIN, -dx * SIN + dy * COS


def render(size):
    shapes = [Shape(*s) for s in SHAPES]
    scale = VIEW / size
    n = SUPERSAMPLE
    rows = []
    for py in range(size):
        row = bytearray([0])  # PNG filter type: none
        for px in range(size):
            x0, y0 = px * scale, py * scale
            near = [s for s in shapes if s.box[0] <= x0 + scale and s.box[2] >= x0
                    and s.box[1] <= y0 + scale and s.box[3] >= y0]
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(n):
                y = y0 + (sy + 0.5) * scale / n
                for sx in range(n):
                    x = x0 + (sx + 0.5) * scale / n
                    r = g = b = a = 0.0
                    for s in near:
                        if s.covers(x, y):
                            cr, cg, cb = s.colour_at(y)
                            k = s.opacity
                            r, g, b = cr * k + r * (1 - k), cg * k + g * (1 - k), cb * k + b * (1 - k)
                            a = k + a * (1 - k)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            count = n * n
            alpha = acc[3] / count
            if alpha > 0:
                row += bytes(round(min(1.0, c / count / alpha) * 255) for c in acc[:3])
            else:
                row += b"\0\0\0"
            row.append(round(alpha * 255))
        rows.append(bytes(row))
    return b"".join(rows)


def write_png(path, size, pixels):
    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                     + chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))


def main():
    write_svg(OUT / "tarnivel.svg")
    for size in SIZES:
        write_png(OUT / f"tarnivel-{size}.png", size, render(size))


if __name__ == "__main__":
    main()
