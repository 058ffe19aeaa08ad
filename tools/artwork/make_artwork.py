#!/usr/bin/python3
"""Draws the editor's artwork and writes it into the source tree:

  Resources/name.png       459 x 73   title lettering "Tolvek"
  Resources/quarm.png       71 x 29   maker's script logo "Quarmbeck"
  Resources/buttonOff.png   50 x 50   push-button face, lamp unlit
  Resources/buttonOn.png    50 x 50   the same face, lamp lit
  Resources/vsb.png         57 x 102  fader cap seen from above
  Source/PluginEditorShapes.h/.cpp    the knob's two vector shapes, pathData
                                      and pathCircle, in JUCE's serialised
                                      path format

Inputs: the fonts named in TITLE_FONT and LOGO_FONT (Debian's fonts-dejavu-core
and fonts-urw-base35) and the constants below. Every image is drawn at
SUPERSAMPLE times its size and box-filtered down, which gives the edges their
anti-aliasing; all PNGs are 8-bit RGBA, not interlaced, and name this script in
a "Software" text chunk.

The two button faces are composed from one base picture, so outside the lamp
they are identical pixel for pixel.

Shapes:
  pathData: non-zero winding, one move, 22 cubic curves, a close and the end
    marker (562 bytes), then 2 zero bytes of padding (564). A disc with eight
    convex lobes between shallow notches; each lobe is a half-sine bump in
    radius between two notches, cut into 2 or 3 cubic Hermite pieces (6 x 3 +
    2 x 2 = 22). The lobes toward the upper left stand a little further out,
    and the whole outline, control points included (JUCE's path bounds hold
    them), is mapped onto the box KNOB_BOUNDS.
  pathCircle: non-zero winding, a move to (100, 100), then 128 lines: 127
    steps of 0.05 rad round the circle of radius 50 about (100, 150),
    clockwise on screen from the top, and a last line back to the top point;
    the end marker (1163 bytes), then 2 zero bytes (1165).

Run from anywhere: /usr/bin/python3 tools/artwork/make_artwork.py
"""
import math
import os
import struct

import numpy as np
from PIL import Image, ImageDraw, ImageFilter, ImageFont, PngImagePlugin

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RESOURCES = os.path.join(ROOT, "Resources")
SOURCE = os.path.join(ROOT, "Source")

TITLE_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
LOGO_FONT = "/usr/share/fonts/opentype/urw-base35/Z003-MediumItalic.otf"
SUPERSAMPLE = 8

TITLE_BODY = (64, 64, 64)
TITLE_OUTLINE = (16, 16, 16)
LOGO_TOP = (160, 160, 160)
LOGO_BOTTOM = (144, 144, 144)

KNOB_BOUNDS = (31.5, 37.58, 109.4, 114.3)   # x0, y0, x1, y1
KNOB_NOTCH_RADIUS = 33.0
KNOB_LOBE_RADIUS = 39.0
KNOB_LOBE_TILT = 2.0                        # extra radius toward the upper left
KNOB_PIECES_PER_LOBE = [3, 3, 2, 3, 3, 3, 2, 3]

CIRCLE_CENTRE = (100.0, 150.0)
CIRCLE_RADIUS = 50.0
CIRCLE_STEP = 0.05
CIRCLE_STEPS = 127


# ---------------------------------------------------------------------------
# Small raster helpers. Layers are float arrays in 0..1 at supersampled size.

def grid(width, height):
    """Pixel-centre coordinates at supersampled resolution, in output pixels."""
    s = SUPERSAMPLE
    ys, xs = np.mgrid[0:height * s, 0:width * s]
    return (xs + 0.5) / s, (ys + 0.5) / s


def coverage_rect(xs, ys, x0, y0, x1, y1, radius=0.0):
    """1 inside the (rounded) rectangle, 0 outside."""
    if radius <= 0.0:
        return ((xs >= x0) & (xs < x1) & (ys >= y0) & (ys < y1)).astype(float)
    cx = np.clip(xs, x0 + radius, x1 - radius)
    cy = np.clip(ys, y0 + radius, y1 - radius)
    return (((xs - cx) ** 2 + (ys - cy) ** 2) <= radius * radius).astype(float) * \
        ((xs >= x0) & (xs < x1) & (ys >= y0) & (ys < y1))


def coverage_disc(xs, ys, cx, cy, r):
    return (((xs - cx) ** 2 + (ys - cy) ** 2) <= r * r).astype(float)


def over(dst_rgb, dst_a, rgb, a):
    """Paints colour `rgb` (array HxWx3 or a triple) with coverage `a` over dst."""
    a3 = a[..., None]
    dst_rgb[:] = dst_rgb * (1.0 - a3) + np.asarray(rgb, dtype=float) * a3
    dst_a[:] = dst_a * (1.0 - a) + a


def downsample(rgb, a, width, height):
    """Box filter to output size, colours averaged with alpha weighting."""
    s = SUPERSAMPLE
    premul = rgb * a[..., None]
    premul = premul.reshape(height, s, width, s, 3).mean(axis=(1, 3))
    alpha = a.reshape(height, s, width, s).mean(axis=(1, 3))
    safe = np.where(alpha > 0.0, alpha, 1.0)
    colour = premul / safe[..., None]
    out = np.zeros((height, width, 4), dtype=np.uint8)
    out[..., :3] = np.clip(np.rint(colour), 0, 255).astype(np.uint8)
    out[..., 3] = np.clip(np.rint(alpha * 255.0), 0, 255).astype(np.uint8)
    out[out[..., 3] == 0, :3] = 0
    return out


def save_png(pixels, name):
    image = Image.fromarray(pixels, "RGBA")
    info = PngImagePlugin.PngInfo()
    info.add_text("Software", "tools/artwork/make_artwork.py")
    image.save(os.path.join(RESOURCES, name), format="PNG", optimize=True, pnginfo=info)


def text_mask(text, font_path, size):
    """Supersampled coverage mask (PIL 'L') of `text`, cropped to its ink."""
    font = ImageFont.truetype(font_path, size)
    left, top, right, bottom = font.getbbox(text)
    pad = size // 4
    mask = Image.new("L", (right - left + 2 * pad, bottom - top + 2 * pad), 0)
    ImageDraw.Draw(mask).text((pad - left, pad - top), text, font=font, fill=255)
    return mask.crop(mask.getbbox())


# ---------------------------------------------------------------------------
# Title: heavy sans lettering, softened corners, dark outline.

def make_title():
    width, height = 459, 73
    s = SUPERSAMPLE
    outline = 2.5                    # outline width in output pixels
    margin = 3                       # clear border round the outline

    glyphs = text_mask("Tolvek", TITLE_FONT, 60 * s)
    inner_w = int((width - 2 * (margin + outline)) * s)
    inner_h = int((height - 2 * (margin + outline)) * s)
    # The face is widened to fill the band: an extended heavy look.
    glyphs = glyphs.resize((inner_w, inner_h), Image.LANCZOS)

    canvas = Image.new("L", (width * s, height * s), 0)
    canvas.paste(glyphs, ((width * s - inner_w) // 2, (height * s - inner_h) // 2))

    # Soft corners: blur and cut at half level rounds every corner.
    soft = canvas.filter(ImageFilter.GaussianBlur(1.6 * s))
    body = np.asarray(soft, dtype=float) / 255.0 >= 0.5
    # Outline: the body grown by `outline` pixels with a round pen.
    grown = Image.fromarray((body * 255).astype(np.uint8)).filter(
        ImageFilter.GaussianBlur(outline * s * 0.6))
    ring = np.asarray(grown, dtype=float) / 255.0 >= 0.08

    rgb = np.zeros((height * s, width * s, 3))
    a = np.zeros((height * s, width * s))
    over(rgb, a, TITLE_OUTLINE, ring.astype(float))
    over(rgb, a, TITLE_BODY, body.astype(float))
    pixels = downsample(rgb, a, width, height)
    save_png(pixels, "name.png")
    return pixels


# ---------------------------------------------------------------------------
# Logo: a handwritten script word in light grey on transparency.

def make_logo():
    width, height = 71, 29
    s = SUPERSAMPLE
    glyphs = text_mask("Quarmbeck", LOGO_FONT, 40 * s)
    fit = min((width - 2) * s / glyphs.width, (height - 2) * s / glyphs.height)
    glyphs = glyphs.resize((int(glyphs.width * fit), int(glyphs.height * fit)), Image.LANCZOS)
    canvas = Image.new("L", (width * s, height * s), 0)
    canvas.paste(glyphs, ((width * s - glyphs.width) // 2, (height * s - glyphs.height) // 2))

    coverage = np.asarray(canvas, dtype=float) / 255.0
    _, ys = grid(width, height)
    t = (ys / height)[..., None]
    colour = np.asarray(LOGO_TOP, float) * (1.0 - t) + np.asarray(LOGO_BOTTOM, float) * t
    rgb = np.zeros((height * s, width * s, 3))
    a = np.zeros((height * s, width * s))
    over(rgb, a, colour, coverage)
    pixels = downsample(rgb, a, width, height)
    save_png(pixels, "quarm.png")
    return pixels


# ---------------------------------------------------------------------------
# Push-button faces.

BUTTON_SIZE = 50
LAMP_CENTRE = (25.0, 8.5)
LAMP_RADIUS = 3.6


def button_base():
    size = BUTTON_SIZE
    xs, ys = grid(size, size)
    rgb = np.zeros(xs.shape + (3,))
    a = np.zeros(xs.shape)

    # Frame: dark grey-green, with corners rounded off just enough to clear a
    # few pixels; a faint vertical shading keeps it from looking flat.
    shade = (1.0 - ys / size)[..., None]
    frame = np.asarray((40, 46, 40), float) + shade * np.asarray((14, 16, 14), float)
    over(rgb, a, frame, coverage_rect(xs, ys, 0, 0, size, size, radius=2.2))
    # Thin edge round the frame: lit on the upper left, shaded on the lower right.
    edge = np.clip(coverage_rect(xs, ys, 0, 0, size, size, radius=2.2) -
                   coverage_rect(xs, ys, 1, 1, size - 1, size - 1, radius=1.4), 0, 1)
    upper_left = (xs + ys) < size
    over(rgb, a, (92, 102, 92), edge * upper_left * 0.8)
    over(rgb, a, (18, 21, 18), edge * (~upper_left) * 0.8)

    # Top band holding the lamp.
    over(rgb, a, (33, 38, 33), coverage_rect(xs, ys, 3, 3, size - 3, 14.5, radius=1.0))
    # Lamp bezel: a dark ring, its lower half catching some light.
    cx, cy = LAMP_CENTRE
    bezel = coverage_disc(xs, ys, cx, cy, LAMP_RADIUS + 1.3)
    over(rgb, a, (14, 16, 14), bezel)
    lower = coverage_disc(xs, ys, cx, cy + 0.5, LAMP_RADIUS + 1.1) * (1 - coverage_disc(xs, ys, cx, cy - 0.3, LAMP_RADIUS + 0.6))
    over(rgb, a, (70, 78, 70), np.clip(lower, 0, 1) * (ys > cy))

    # Recessed panel with bevelled edges: the upper and left slopes face away
    # from the light, the lower and right ones toward it.
    x0, y0, x1, y1 = 5.0, 17.0, size - 5.0, size - 5.0
    bevel = 2.5
    outer = coverage_rect(xs, ys, x0, y0, x1, y1, radius=1.5)
    over(rgb, a, (30, 34, 30), outer)
    d_top = ys - y0
    d_left = xs - x0
    d_bottom = y1 - ys
    d_right = x1 - xs
    nearest = np.minimum(np.minimum(d_top, d_left), np.minimum(d_bottom, d_right))
    in_bevel = outer * (nearest < bevel)
    dark_side = (np.minimum(d_top, d_left) <= np.minimum(d_bottom, d_right))
    over(rgb, a, (22, 25, 22), in_bevel * dark_side)
    over(rgb, a, (96, 106, 96), in_bevel * (~dark_side))
    face = coverage_rect(xs, ys, x0 + bevel, y0 + bevel, x1 - bevel, y1 - bevel, radius=0.8)
    t = ((ys - (y0 + bevel)) / (y1 - y0 - 2 * bevel))[..., None]
    panel = np.asarray((68, 76, 68), float) * (1.0 - t) + np.asarray((58, 65, 58), float) * t
    over(rgb, a, panel, face)
    return xs, ys, rgb, a


def lamp_layer(xs, ys, rgb, a, lit):
    cx, cy = LAMP_CENTRE
    disc = coverage_disc(xs, ys, cx, cy, LAMP_RADIUS)
    hx, hy = cx - 1.1, cy - 1.2
    d = np.sqrt((xs - hx) ** 2 + (ys - hy) ** 2) / (LAMP_RADIUS + 1.2)
    t = np.clip(d, 0.0, 1.0)[..., None]
    if lit:
        highlight = np.asarray((249, 229, 216), float)
        middle = np.asarray((236, 140, 52), float)
        rim = np.asarray((175, 81, 18), float)
        colour = np.where(t < 0.45, highlight + (middle - highlight) * (t / 0.45),
                          middle + (rim - middle) * ((t - 0.45) / 0.55))
    else:
        core = np.asarray((12, 12, 12), float)
        colour = np.zeros(xs.shape + (3,)) + core
        spot = np.clip(1.0 - np.sqrt((xs - hx) ** 2 + (ys - hy) ** 2) / 1.3, 0.0, 1.0)[..., None]
        colour = colour + spot * (np.asarray((120, 120, 120), float) - core)
    over(rgb, a, colour, disc)


def make_buttons():
    xs, ys, rgb, a = button_base()
    faces = {}
    for name, lit in (("buttonOff.png", False), ("buttonOn.png", True)):
        layer_rgb, layer_a = rgb.copy(), a.copy()
        lamp_layer(xs, ys, layer_rgb, layer_a, lit)
        faces[name] = downsample(layer_rgb, layer_a, BUTTON_SIZE, BUTTON_SIZE)
        save_png(faces[name], name)
    return faces


# ---------------------------------------------------------------------------
# Fader cap: bands across the full width, symmetric about the index line.

def make_fader_cap():
    width, height = 57, 102
    # (height in pixels, colour at its top, colour at its bottom) from the top
    # end to the middle; the lower half mirrors it.
    half = [
        (2, (120, 130, 120), (176, 186, 176)),
        (8, (188, 198, 188), (150, 160, 150)),
        (3, (96, 104, 96), (60, 64, 60)),
        (5, (28, 28, 28), (6, 6, 6)),
        (4, (74, 76, 74), (52, 54, 52)),
        (4, (10, 10, 10), (4, 4, 4)),
        (4, (70, 72, 70), (50, 52, 50)),
        (4, (10, 10, 10), (4, 4, 4)),
        (4, (66, 68, 66), (46, 48, 46)),
        (5, (6, 6, 6), (2, 2, 2)),
        (6, (40, 42, 40), (22, 23, 22)),
        (1, (90, 92, 90), (90, 92, 90)),
    ]
    assert sum(band[0] for band in half) == (height - 2) // 2
    rows = []
    for rows_in_band, top, bottom in half:
        for k in range(rows_in_band):
            t = k / max(1, rows_in_band - 1)
            rows.append(tuple(round(top[c] + (bottom[c] - top[c]) * t) for c in range(3)))
    index_line = [(250, 252, 250), (236, 240, 236)]
    column = rows + index_line + rows[::-1]
    assert len(column) == height

    pixels = np.zeros((height, width, 4), dtype=np.uint8)
    pixels[..., 3] = 255
    # Ends of each band darken a little toward the sides: the cap is rounded.
    xs = (np.arange(width) + 0.5) / width
    side = 1.0 - 0.22 * (2.0 * xs - 1.0) ** 4
    for y, colour in enumerate(column):
        for c in range(3):
            pixels[y, :, c] = np.clip(np.rint(colour[c] * side), 0, 255).astype(np.uint8)
    save_png(pixels, "vsb.png")
    return pixels


# ---------------------------------------------------------------------------
# Vector shapes.

def f32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def knob_outline():
    """The fluted outline as cubic pieces [(p0, c1, c2, p1)], before fitting."""
    lobes = len(KNOB_PIECES_PER_LOBE)
    span = 2.0 * math.pi / lobes
    start = -math.pi / 2.0 - span / 2.0          # a notch each side of the top lobe
    upper_left = math.atan2(-1.0, -1.0)

    def lobe_radius(k):
        middle = start + (k + 0.5) * span
        return KNOB_LOBE_RADIUS + KNOB_LOBE_TILT * math.cos(middle - upper_left)

    pieces = []
    for k, count in enumerate(KNOB_PIECES_PER_LOBE):
        a0 = start + k * span
        height = lobe_radius(k) - KNOB_NOTCH_RADIUS

        def point(theta):
            u = (theta - a0) / span
            r = KNOB_NOTCH_RADIUS + height * math.sin(math.pi * u)
            dr = height * math.pi / span * math.cos(math.pi * u)
            c, s = math.cos(theta), math.sin(theta)
            return (r * c, r * s), (dr * c - r * s, dr * s + r * c)

        for j in range(count):
            ta = a0 + span * j / count
            tb = a0 + span * (j + 1) / count
            h = tb - ta
            (pa, da), (pb, db) = point(ta), point(tb)
            c1 = (pa[0] + da[0] * h / 3.0, pa[1] + da[1] * h / 3.0)
            c2 = (pb[0] - db[0] * h / 3.0, pb[1] - db[1] * h / 3.0)
            pieces.append((pa, c1, c2, pb))
    return pieces


def make_path_data():
    pieces = knob_outline()
    assert len(pieces) == 22
    points = [p for piece in pieces for p in piece]
    min_x = min(p[0] for p in points)
    max_x = max(p[0] for p in points)
    min_y = min(p[1] for p in points)
    max_y = max(p[1] for p in points)
    x0, y0, x1, y1 = KNOB_BOUNDS

    def fit(p):
        return (x0 + (p[0] - min_x) * (x1 - x0) / (max_x - min_x),
                y0 + (p[1] - min_y) * (y1 - y0) / (max_y - min_y))

    out = bytearray(b"n")
    out += b"m" + struct.pack("<ff", *fit(pieces[0][0]))
    for _, c1, c2, p1 in pieces:
        out += b"b" + struct.pack("<ffffff", *fit(c1), *fit(c2), *fit(p1))
    out += b"c" + b"e"
    assert len(out) == 562
    # The bounds must come out at the box after rounding to float.
    xs, ys = read_back_points(bytes(out))
    assert (min(xs), min(ys), max(xs), max(ys)) == tuple(f32(v) for v in KNOB_BOUNDS)
    return bytes(out) + b"\0\0"


def read_back_points(stream):
    """All coordinates of a serialised path, as a reader would see them."""
    sizes = {ord("n"): 0, ord("m"): 2, ord("l"): 2, ord("b"): 6, ord("c"): 0}
    xs, ys = [], []
    i = 0
    while stream[i] != ord("e"):
        count = sizes[stream[i]]
        values = struct.unpack_from("<%df" % count, stream, i + 1)
        xs += values[0::2]
        ys += values[1::2]
        i += 1 + 4 * count
    return xs, ys


def make_path_circle():
    cx, cy = CIRCLE_CENTRE
    out = bytearray(b"n")
    out += b"m" + struct.pack("<ff", cx, cy - CIRCLE_RADIUS)
    for k in range(1, CIRCLE_STEPS + 1):
        angle = k * CIRCLE_STEP
        out += b"l" + struct.pack("<ff", cx + CIRCLE_RADIUS * math.sin(angle),
                                  cy - CIRCLE_RADIUS * math.cos(angle))
    out += b"l" + struct.pack("<ff", cx, cy - CIRCLE_RADIUS)
    out += b"e"
    assert len(out) == 1163
    return bytes(out) + b"\0\0"


def c_array(name, data):
    lines = ["const unsigned char %s[%d] =" % (name, len(data)), "{"]
    for i in range(0, len(data), 16):
        chunk = ", ".join("0x%02x" % b for b in data[i:i + 16])
        lines.append("    " + chunk + ",")
    lines.append("};")
    return "\n".join(lines)


BANNER = """// Generated by tools/artwork/make_artwork.py from the shape constants in that
// script; edit the script and run it again rather than editing this file.
"""


def write_shapes():
    path_data = make_path_data()
    path_circle = make_path_circle()
    header = BANNER + """#pragma once

// The rotary knob's two shapes in JUCE's serialised path format, for
// juce::Path::loadPathFromData (data, sizeof (data)).

// Fluted knob body: one closed outline of 22 cubic curves with eight lobes,
// bounds (31.5, 37.58) to (109.4, 114.3). 562 bytes read, 2 bytes padding.
extern const unsigned char pathData[%d];

// Circle of radius 50 about (100, 150), from its top point in 128 lines.
// 1163 bytes read, 2 bytes padding.
extern const unsigned char pathCircle[%d];
""" % (len(path_data), len(path_circle))
    source = BANNER + """#include "PluginEditorShapes.h"

%s

%s
""" % (c_array("pathData", path_data), c_array("pathCircle", path_circle))
    with open(os.path.join(SOURCE, "PluginEditorShapes.h"), "w") as f:
        f.write(header)
    with open(os.path.join(SOURCE, "PluginEditorShapes.cpp"), "w") as f:
        f.write(source)
    return path_data, path_circle


def main():
    os.makedirs(RESOURCES, exist_ok=True)
    title = make_title()
    logo = make_logo()
    faces = make_buttons()
    cap = make_fader_cap()
    path_data, path_circle = write_shapes()

    off = faces["buttonOff.png"].astype(int)
    on = faces["buttonOn.png"].astype(int)
    differs = np.argwhere(np.abs(off - on).max(axis=2) > 0)
    print("name.png   transparent fraction %.2f" % (title[..., 3] == 0).mean())
    print("quarm.png  transparent fraction %.2f" % (logo[..., 3] == 0).mean())
    print("buttons    differing pixels %d, rows %d..%d, columns %d..%d" % (
        len(differs), differs[:, 0].min(), differs[:, 0].max(), differs[:, 1].min(), differs[:, 1].max()))
    print("vsb.png    opaque %s" % (cap[..., 3] == 255).all())
    print("pathData   %d bytes, pathCircle %d bytes" % (len(path_data), len(path_circle)))
    for name in ("name.png", "quarm.png", "buttonOff.png", "buttonOn.png", "vsb.png"):
        print("%-14s %5d bytes" % (name, os.path.getsize(os.path.join(RESOURCES, name))))


if __name__ == "__main__":
    main()
