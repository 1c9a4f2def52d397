#!/usr/bin/env python3
"""Draws the console's icons, glyphs and busy animation and synthesizes its two
default sounds into resources/.

Everything is drawn from simple shapes with a small supersampling rasterizer, so
the images come out the same on every machine and need no image library. Only
the animated GIF is assembled by ImageMagick's `convert` (Python has no GIF
writer). Re-run after changing a drawing:

    python3 scripts/make-resources.py
    python3 scripts/make-resources.py --app-icons   # only resources/hicolor/
"""

import math
import os
import struct
import subprocess
import sys
import tempfile
import wave
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")


# --- colours -----------------------------------------------------------------

def rgb(hexstr, a=1.0):
    h = hexstr.lstrip("#")
    return (int(h[0:2], 16) / 255, int(h[2:4], 16) / 255, int(h[4:6], 16) / 255, a)


WHITE = rgb("#ffffff")


class Linear:
    """Linear gradient between two points of the design grid."""

    def __init__(self, p0, p1, c0, c1):
        self.p0, self.c0, self.c1 = p0, rgb(c0), rgb(c1)
        dx, dy = p1[0] - p0[0], p1[1] - p0[1]
        self.d = (dx, dy)
        self.len2 = dx * dx + dy * dy or 1.0

    def __call__(self, x, y):
        t = ((x - self.p0[0]) * self.d[0] + (y - self.p0[1]) * self.d[1]) / self.len2
        t = min(1.0, max(0.0, t))
        return tuple(a + (b - a) * t for a, b in zip(self.c0, self.c1))


def vgrad(y0, y1, c0, c1):
    return Linear((0, y0), (0, y1), c0, c1)


# --- shapes (in design units; each knows its bounding box) --------------------

class Shape:
    def __or__(self, other):
        return Union(self, other)

    def __sub__(self, other):
        return Diff(self, other)

    def __and__(self, other):
        return Inter(self, other)


class Circle(Shape):
    def __init__(self, cx, cy, r):
        self.cx, self.cy, self.r2 = cx, cy, r * r
        self.bbox = (cx - r, cy - r, cx + r, cy + r)

    def contains(self, x, y):
        return (x - self.cx) ** 2 + (y - self.cy) ** 2 <= self.r2


class Ellipse(Shape):
    def __init__(self, cx, cy, rx, ry):
        self.cx, self.cy, self.rx, self.ry = cx, cy, rx, ry
        self.bbox = (cx - rx, cy - ry, cx + rx, cy + ry)

    def contains(self, x, y):
        return ((x - self.cx) / self.rx) ** 2 + ((y - self.cy) / self.ry) ** 2 <= 1.0


class Rect(Shape):
    def __init__(self, x0, y0, x1, y1, r=0.0):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r
        self.bbox = (x0, y0, x1, y1)

    def contains(self, x, y):
        if x < self.x0 or x > self.x1 or y < self.y0 or y > self.y1:
            return False
        r = self.r
        if r <= 0:
            return True
        cx = min(max(x, self.x0 + r), self.x1 - r)
        cy = min(max(y, self.y0 + r), self.y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


class Poly(Shape):
    def __init__(self, pts):
        self.pts = pts
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        self.bbox = (min(xs), min(ys), max(xs), max(ys))

    def contains(self, x, y):
        inside = False
        pts = self.pts
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                inside = not inside
            j = i
        return inside


class Line(Shape):
    """A polyline of the given width with round caps and joins."""

    def __init__(self, pts, width):
        self.segs = list(zip(pts, pts[1:]))
        self.h2 = (width / 2) ** 2
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        w = width / 2
        self.bbox = (min(xs) - w, min(ys) - w, max(xs) + w, max(ys) + w)

    def contains(self, x, y):
        for (ax, ay), (bx, by) in self.segs:
            dx, dy = bx - ax, by - ay
            l2 = dx * dx + dy * dy
            t = 0.0 if l2 == 0 else min(1.0, max(0.0, ((x - ax) * dx + (y - ay) * dy) / l2))
            px, py = ax + t * dx, ay + t * dy
            if (x - px) ** 2 + (y - py) ** 2 <= self.h2:
                return True
        return False


class Arc(Shape):
    """A stroked circular arc with round caps; angles in degrees, counter-clockwise
    from three o'clock as seen on screen."""

    def __init__(self, cx, cy, r, width, a0, a1):
        self.cx, self.cy, self.r, self.h = cx, cy, r, width / 2
        self.a0, self.a1 = a0, a1
        self.caps = [Circle(cx + r * math.cos(math.radians(a)),
                            cy - r * math.sin(math.radians(a)), width / 2) for a in (a0, a1)]
        e = r + width / 2
        self.bbox = (cx - e, cy - e, cx + e, cy + e)

    def contains(self, x, y):
        d = math.hypot(x - self.cx, y - self.cy)
        if abs(d - self.r) <= self.h:
            a = math.degrees(math.atan2(-(y - self.cy), x - self.cx)) % 360
            a0, a1 = self.a0 % 360, self.a1 % 360
            if (a0 <= a <= a1) if a0 <= a1 else (a >= a0 or a <= a1):
                return True
        return any(c.contains(x, y) for c in self.caps)


class Union(Shape):
    def __init__(self, *parts):
        self.parts = parts
        bs = [p.bbox for p in parts]
        self.bbox = (min(b[0] for b in bs), min(b[1] for b in bs),
                     max(b[2] for b in bs), max(b[3] for b in bs))

    def contains(self, x, y):
        return any(p.contains(x, y) for p in self.parts)


class Diff(Shape):
    def __init__(self, a, b):
        self.a, self.b, self.bbox = a, b, a.bbox

    def contains(self, x, y):
        return self.a.contains(x, y) and not self.b.contains(x, y)


class Inter(Shape):
    def __init__(self, a, b):
        self.a, self.b = a, b
        self.bbox = (max(a.bbox[0], b.bbox[0]), max(a.bbox[1], b.bbox[1]),
                     min(a.bbox[2], b.bbox[2]), min(a.bbox[3], b.bbox[3]))

    def contains(self, x, y):
        return self.a.contains(x, y) and self.b.contains(x, y)


class Rotated(Shape):
    def __init__(self, shape, degrees, cx, cy, extent):
        self.s, self.cx, self.cy = shape, cx, cy
        a = math.radians(degrees)
        self.c, self.sn = math.cos(a), math.sin(a)
        self.bbox = (cx - extent, cy - extent, cx + extent, cy + extent)

    def contains(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        return self.s.contains(self.cx + dx * self.c + dy * self.sn,
                               self.cy - dx * self.sn + dy * self.c)


# --- canvas --------------------------------------------------------------------

class Canvas:
    def __init__(self, size, design, ss=None):
        self.n = size
        self.k = size / design          # pixels per design unit
        self.ss = ss or (6 if size <= 24 else 4 if size <= 64 else 3)
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]

    def fill(self, shape, paint):
        n, k, ss = self.n, self.k, self.ss
        x0, y0, x1, y1 = shape.bbox
        px0, py0 = max(0, int(math.floor(x0 * k))), max(0, int(math.floor(y0 * k)))
        px1, py1 = min(n, int(math.ceil(x1 * k)) + 1), min(n, int(math.ceil(y1 * k)) + 1)
        offs = [(i + 0.5) / ss for i in range(ss)]
        total = ss * ss
        for py in range(py0, py1):
            row = self.px[py]
            for px in range(px0, px1):
                hits = 0
                for oy in offs:
                    y = (py + oy) / k
                    for ox in offs:
                        if shape.contains((px + ox) / k, y):
                            hits += 1
                if not hits:
                    continue
                c = paint((px + 0.5) / k, (py + 0.5) / k) if callable(paint) else paint
                a = c[3] * hits / total
                r, g, b, da = row[px]
                # premultiplied "source over"
                row[px] = (c[0] * a + r * (1 - a), c[1] * a + g * (1 - a),
                           c[2] * a + b * (1 - a), a + da * (1 - a))
        return self

    def png(self, path):
        raw = bytearray()
        for row in self.px:
            raw.append(0)
            for r, g, b, a in row:
                if a <= 0:
                    raw += b"\0\0\0\0"
                else:
                    raw += bytes((round(min(1, r / a) * 255), round(min(1, g / a) * 255),
                                  round(min(1, b / a) * 255), round(min(1, a) * 255)))

        def chunk(tag, data):
            return (struct.pack(">I", len(data)) + tag + data
                    + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", self.n, self.n, 8, 6, 0, 0, 0)))
            f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
            f.write(chunk(b"IEND", b""))


# --- status icons (16-unit grid) ----------------------------------------------------

def disc(c, dark, light, edge):
    c.fill(Circle(8, 8, 7.4), rgb(edge))
    c.fill(Circle(8, 8, 6.5), vgrad(1.5, 14.5, light, dark))


def headset(c, colour):
    c.fill(Arc(8, 8.6, 4.0, 1.4, 15, 165), colour)
    c.fill(Rect(3.0, 7.6, 5.6, 11.6, 1.1), colour)
    c.fill(Rect(10.4, 7.6, 13.0, 11.6, 1.1), colour)
    c.fill(Line([(11.6, 11.4), (10.8, 12.7), (8.6, 12.9)], 0.9), colour)


def status0(c):      # Accept... / Net Error !: needs the operator's attention
    c.fill(Poly([(8, 0.6), (15.6, 14.6), (0.4, 14.6)]), rgb("#8a5a00"))
    c.fill(Poly([(8, 2.6), (14.0, 13.6), (2.0, 13.6)]), vgrad(3, 14, "#ffe27a", "#f0a000"))
    c.fill(Rect(7.1, 5.4, 8.9, 10.2, 0.9), rgb("#3a2a00"))
    c.fill(Circle(8, 11.9, 1.0), rgb("#3a2a00"))


def status1(c):      # In Chat...
    c.fill(Rect(0.6, 1.6, 15.4, 12.0, 3.0) | Poly([(3.6, 10), (3.4, 15.4), (8.6, 11)]),
           rgb("#1b6e20"))
    c.fill(Rect(1.6, 2.6, 14.4, 11.0, 2.2) | Poly([(4.6, 10), (4.5, 13.2), (7.6, 10.5)]),
           vgrad(2.6, 11, "#9be39b", "#34a853"))
    for x in (4.9, 8.0, 11.1):
        c.fill(Circle(x, 6.8, 1.05), WHITE)


def status2(c):      # Answered (by another supporter)
    disc(c, "#2a6fc4", "#8cc4f5", "#1a4f8f")
    c.fill(Line([(4.6, 8.2), (7.0, 10.6), (11.4, 5.6)], 1.9), WHITE)


def status3(c):      # Anonymous
    edge, fill = rgb("#4f5a66"), vgrad(1, 15, "#d6dde4", "#8b97a3")
    c.fill(Circle(8, 5.0, 3.5), edge)
    c.fill(Ellipse(8, 16.0, 6.9, 6.4) & Rect(0, 0, 16, 15.4), edge)
    c.fill(Circle(8, 5.0, 2.6), fill)
    c.fill(Ellipse(8, 16.0, 5.9, 5.5) & Rect(0, 0, 16, 14.5), fill)


def status4(c):      # End Chat !
    disc(c, "#c62828", "#ff8a80", "#8e1b1b")
    c.fill(Line([(5.3, 5.3), (10.7, 10.7)], 2.0) | Line([(10.7, 5.3), (5.3, 10.7)], 2.0), WHITE)


def status5(c):      # Disconnected: a plug with a slash through it
    edge, fill = rgb("#505a64"), vgrad(2, 15, "#c5ccd3", "#7d8893")
    c.fill(Rect(5.2, 1.0, 7.2, 6.4, 0.6) | Rect(8.8, 1.0, 10.8, 6.4, 0.6), edge)
    c.fill(Rect(3.4, 5.4, 12.6, 11.6, 2.0) | Line([(8, 11), (8, 15.4)], 2.2), edge)
    c.fill(Rect(4.4, 6.4, 11.6, 10.6, 1.3), fill)
    c.fill(Line([(2.0, 14.0), (14.0, 2.0)], 3.6), WHITE)
    c.fill(Line([(2.0, 14.0), (14.0, 2.0)], 2.0), rgb("#d93025"))


def status6(c):      # Waiting...: a clock (also the blinking tray image)
    disc(c, "#f2a900", "#ffe27a", "#8a5a00")
    c.fill(Circle(8, 8, 5.0), rgb("#fffaf0"))
    hand = rgb("#3b2a00")
    c.fill(Line([(8, 8), (8, 4.4)], 1.3) | Line([(8, 8), (10.7, 9.6)], 1.3), hand)
    c.fill(Circle(8, 8, 0.9), hand)


def status7(c):      # Normal, and the tray icon while online
    disc(c, "#2e7d32", "#8fdc93", "#1b5e20")
    headset(c, WHITE)


def status8(c):      # Transfered !
    disc(c, "#7b3fbf", "#c7a3ee", "#4f2380")
    c.fill(Line([(4.0, 8.0), (10.0, 8.0)], 2.0) | Poly([(8.6, 4.2), (12.8, 8.0), (8.6, 11.8)]),
           WHITE)


def status9(c):      # tray icon while offline
    disc(c, "#5f6870", "#b8c0c8", "#40474e")
    headset(c, WHITE)


STATUS = [status0, status1, status2, status3, status4, status5, status6, status7, status8,
          status9]


# --- glyphs ------------------------------------------------------------------------

def monitor(c, online):
    dark = rgb("#37414b")
    c.fill(Poly([(13, 21), (19, 21), (20.5, 26.5), (11.5, 26.5)]), rgb("#5a6570"))
    c.fill(Rect(8, 25.8, 24, 28.4, 1.2), dark)
    c.fill(Rect(2.5, 3.5, 29.5, 22.5, 2.2), dark)
    screen = vgrad(5, 21, "#9dd2ff", "#1e6fd0") if online else vgrad(5, 21, "#5a636c", "#262b30")
    c.fill(Rect(4.5, 5.5, 27.5, 20.5, 1.0), screen)
    c.fill(Circle(24.5, 24.5, 7.2), WHITE)
    if online:
        c.fill(Circle(24.5, 24.5, 6.0), vgrad(18.5, 30.5, "#7fd67f", "#2e7d32"))
        c.fill(Line([(21.6, 24.6), (23.8, 26.8), (27.6, 22.2)], 1.9), WHITE)
    else:
        c.fill(Circle(24.5, 24.5, 6.0), vgrad(18.5, 30.5, "#ff8a80", "#c62828"))
        c.fill(Line([(22.2, 22.2), (26.8, 26.8)], 1.9) | Line([(26.8, 22.2), (22.2, 26.8)], 1.9),
               WHITE)


def speaker(c, on):
    c.fill(Poly([(3, 11.5), (9.5, 11.5), (17, 4.5), (17, 27.5), (9.5, 20.5), (3, 20.5)]),
           rgb("#2b333b"))
    c.fill(Poly([(4.4, 12.9), (10.1, 12.9), (15.6, 7.8), (15.6, 24.2), (10.1, 19.1), (4.4, 19.1)]),
           vgrad(5, 27, "#8d99a5", "#46515c"))
    if on:
        blue = rgb("#1e88e5")
        c.fill(Arc(16.5, 16, 5.5, 2.4, -45, 45) | Arc(16.5, 16, 10.5, 2.4, -48, 48), blue)
    else:
        c.fill(Line([(21, 11), (29, 21)], 2.8) | Line([(29, 11), (21, 21)], 2.8), rgb("#d93025"))


def person(c, x, y, s, edge, fill):
    """A head and shoulders of scale s, head centred at (x, y)."""
    c.fill(Circle(x, y, 4.6 * s) | (Ellipse(x, y + 15 * s, 9.6 * s, 8.6 * s)
                                    & Rect(0, 0, 64, y + 14.2 * s)), rgb(edge))
    c.fill(Circle(x, y, 3.5 * s) | (Ellipse(x, y + 15 * s, 8.4 * s, 7.5 * s)
                                    & Rect(0, 0, 64, y + 13.1 * s)), fill)


def call_sup(c):
    person(c, 20.5, 10.5, 0.95, "#42566b", vgrad(6, 26, "#c5d6e8", "#7e98b3"))
    c.fill(Circle(11, 14, 6.2) | (Ellipse(11, 29, 11.2, 10.2) & Rect(0, 0, 64, 31.4)), WHITE)
    person(c, 11, 14, 1.0, "#1a4f8f", vgrad(9, 30, "#8cc4f5", "#2a6fc4"))
    c.fill(Rect(21.5, 0.5, 31.5, 8.6, 2.4) | Poly([(23.5, 7.5), (22.8, 11.4), (27.5, 7.5)]),
           rgb("#1b6e20"))
    c.fill(Rect(22.4, 1.4, 30.6, 7.7, 1.7), vgrad(1, 8, "#9be39b", "#34a853"))


def note(c, on):     # chat-window sound switch (24-unit grid)
    colour = vgrad(2, 22, "#5aa9f0", "#1a5fb4") if on else vgrad(2, 22, "#8a949e", "#4d5761")
    c.fill(Rotated(Ellipse(8.2, 17.6, 3.9, 2.8), -22, 8.2, 17.6, 4.5), colour)
    c.fill(Rect(10.6, 3.0, 12.4, 17.6), colour)
    c.fill(Poly([(10.6, 3.0), (18.5, 6.6), (18.5, 10.2), (12.4, 7.6)]), colour)
    if not on:
        c.fill(Line([(4, 4), (20, 20)], 3.6), WHITE)
        c.fill(Line([(4, 4), (20, 20)], 2.0), rgb("#d93025"))


def chevrons(c, right):
    pts = [[(4, 3.2), (8.6, 8), (4, 12.8)], [(8.6, 3.2), (13.2, 8), (8.6, 12.8)]]
    if not right:
        pts = [[(16.4 - x, y) for x, y in p] for p in pts]
    c.fill(Line(pts[0], 3.4) | Line(pts[1], 3.4), WHITE)
    c.fill(Line(pts[0], 2.0) | Line(pts[1], 2.0), rgb("#1a5fb4"))


GLYPHS = {
    "COMP_L_NOK": (32, 32, lambda c: monitor(c, False)),
    "COMP_L_OK": (32, 32, lambda c: monitor(c, True)),
    "SPEAK_ON": (32, 32, lambda c: speaker(c, True)),
    "SPEAK_OFF": (32, 32, lambda c: speaker(c, False)),
    "CALL_SUP": (32, 32, call_sup),
    "SOUND_ON": (24, 24, lambda c: note(c, True)),
    "SOUND_OFF": (24, 24, lambda c: note(c, False)),
    "ARROW_L": (16, 16, lambda c: chevrons(c, False)),
    "ARROW_R": (16, 16, lambda c: chevrons(c, True)),
}


# --- application icon (64-unit grid) ---------------------------------------------------

def app_icon(c):
    c.fill(Rect(2, 2, 62, 62, 13), rgb("#0f3e75"))
    c.fill(Rect(3.5, 3.5, 60.5, 60.5, 11.8), vgrad(3, 61, "#4f9be8", "#1a5fb4"))
    c.fill(Rect(23, 6, 57, 26, 6) | Poly([(29, 24), (27, 32), (37, 24)]), rgb("#1b6e20"))
    c.fill(Rect(24.5, 7.5, 55.5, 24.5, 4.8), vgrad(7, 25, "#a5eba5", "#3cb84a"))
    for x in (32, 40, 48):
        c.fill(Circle(x, 16, 2.4), WHITE)
    c.fill(Arc(27, 39, 14, 4.4, 10, 170), WHITE)
    c.fill(Rect(9.5, 36, 18.5, 51, 3.8) | Rect(35.5, 36, 44.5, 51, 3.8), WHITE)
    c.fill(Line([(40, 50), (37, 55.5), (29, 56.5)], 2.8), WHITE)
    c.fill(Circle(28, 56.5, 2.8), WHITE)


# --- busy animation (40-unit grid): a turning two-tone disc ----------------------------------

def busy_frame(c, degrees):
    cx = cy = 20.0
    r = 17.0
    blue, pale = rgb("#1a5fb4"), rgb("#e6f0fb")
    c.fill(Circle(cx, cy, r + 1.4), blue)
    c.fill(Circle(cx, cy, r), pale)
    top, bottom = Circle(cx, cy - r / 2, r / 2), Circle(cx, cy + r / 2, r / 2)
    dark = ((Rect(cx, cy - r, cx + r, cy + r) | top) - bottom) & Circle(cx, cy, r)
    c.fill(Rotated(dark, degrees, cx, cy, r + 1), blue)
    c.fill(Rotated(Circle(cx, cy - r / 2, r / 6.5), degrees, cx, cy, r), pale)
    c.fill(Rotated(Circle(cx, cy + r / 2, r / 6.5), degrees, cx, cy, r), blue)


# --- sounds -------------------------------------------------------------------------

RATE = 22050


def write_wave(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", max(-32767, min(32767, round(s * 32767))))
                               for s in samples))


def ring_samples():
    """Two soft chime notes, twice: a friendly 'new caller' ring of 0.9 s."""
    n = int(RATE * 0.9)
    out = [0.0] * n
    notes = [(0.00, 1318.5), (0.17, 1046.5), (0.45, 1318.5), (0.62, 1046.5)]
    for start, f in notes:
        s0 = int(start * RATE)
        for i in range(int(0.26 * RATE)):
            if s0 + i >= n:
                break
            t = i / RATE
            env = min(1.0, t / 0.006) * math.exp(-t * 11.0)
            v = math.sin(2 * math.pi * f * t) + 0.28 * math.sin(2 * math.pi * 2 * f * t)
            out[s0 + i] += 0.42 * env * v
    fade = int(0.02 * RATE)     # no click at the very end
    for i in range(fade):
        out[n - 1 - i] *= i / fade
    return out


def blip_samples():
    """A short, soft upward blip for an incoming chat line (0.14 s)."""
    n = int(RATE * 0.14)
    out = []
    phase = 0.0
    for i in range(n):
        t = i / n
        f = 660 + 330 * t
        phase += 2 * math.pi * f / RATE
        env = math.sin(math.pi * t) ** 2
        out.append(0.35 * env * math.sin(phase))
    return out


# --- main ------------------------------------------------------------------------

# The desktop's menus and launchers take the application icon from the hicolor
# theme, one file per size; drawn at each size rather than scaled.
APP_ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def app_icons():
    for size in APP_ICON_SIZES:
        folder = os.path.join(ROOT, "hicolor", "%dx%d" % (size, size))
        os.makedirs(folder, exist_ok=True)
        c = Canvas(size, 64)
        app_icon(c)
        c.png(os.path.join(folder, "velmora.png"))


def main():
    if sys.argv[1:] == ["--app-icons"]:
        app_icons()
        return 0
    for sub in ("icons", "glyphs", "anim", "sounds", "app"):
        os.makedirs(os.path.join(ROOT, sub), exist_ok=True)

    for i, draw in enumerate(STATUS):
        sizes = (16, 32, 64) if i in (7, 9) else (16,)
        for size in sizes:
            c = Canvas(size, 16)
            draw(c)
            name = "status%d.png" % i if size == 16 else "status%d_%d.png" % (i, size)
            c.png(os.path.join(ROOT, "icons", name))

    for name, (size, design, draw) in GLYPHS.items():
        c = Canvas(size, design)
        draw(c)
        c.png(os.path.join(ROOT, "glyphs", name + ".png"))

    c = Canvas(128, 64)
    app_icon(c)
    c.png(os.path.join(ROOT, "app", "velmora.png"))
    app_icons()

    frames = 12
    with tempfile.TemporaryDirectory() as tmp:
        paths = []
        for f in range(frames):
            c = Canvas(40, 40)
            busy_frame(c, -360.0 * f / frames)
            p = os.path.join(tmp, "f%02d.png" % f)
            c.png(p)
            paths.append(p)
        # GIF has on/off transparency only: cut the soft edge at half coverage.
        subprocess.run(["convert", "-delay", "8", "-loop", "0", "-dispose", "Background",
                        *paths, "-channel", "A", "-threshold", "50%", "+channel",
                        os.path.join(ROOT, "anim", "ANIYIN.gif")], check=True)

    write_wave(os.path.join(ROOT, "sounds", "ringin.wav"), ring_samples())
    write_wave(os.path.join(ROOT, "sounds", "Plugin.wav"), blip_samples())
    return 0


if __name__ == "__main__":
    sys.exit(main())
