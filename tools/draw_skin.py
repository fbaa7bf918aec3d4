#!/usr/bin/python3
"""Draws the 24 PNG images of the installer skin into resources/skin/img,
and the program icon resources/zelvane.ico from the same mark.

Every image is drawn at four times its size and reduced with box averaging
(premultiplied), so edges are anti-aliased. The output is reproducible: the
same Pillow and fonts give byte-identical files, and nothing depends on time
or randomness (the banner's decoration uses a fixed seed).

Needs Pillow (Debian: python3-pil) and the fonts of fonts-noto-core.
Usage: draw_skin.py [image-folder [icon-file]]
"""
import math
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

SCALE = 4
FONT_DIR = "/usr/share/fonts/truetype/noto"
FONT_BOLD = os.path.join(FONT_DIR, "NotoSans-Bold.ttf")
FONT_SEMI = os.path.join(FONT_DIR, "NotoSans-Regular.ttf")

# Zelvane palette: indigo brand colour (the licence link colour of the product
# settings), a violet accent, a lavender track and neutral greys.
INDIGO = (0x52, 0x4C, 0xF5)
INDIGO_LIGHT = (0x6E, 0x69, 0xFA)
INDIGO_DARK = (0x3A, 0x33, 0xC9)
INDIGO_DEEP = (0x2A, 0x22, 0x9E)
VIOLET = (0x8B, 0x5C, 0xF6)
CYAN = (0x4F, 0xB8, 0xFF)
LAVENDER = (0xB6, 0xB3, 0xFF)
INK = (0x1E, 0x1B, 0x4B)
GREY_GLYPH = (0x86, 0x86, 0x9A)
BORDER = (0xCF, 0xCF, 0xDA)
RED = (0xE5, 0x48, 0x4D)


# ---------------------------------------------------------------- helpers

def canvas(w, h, fill=(0, 0, 0, 0)):
    return Image.new("RGBA", (w * SCALE, h * SCALE), fill)


def finish(img):
    """Reduces a 4x drawing to its real size with premultiplied box averaging."""
    return img.convert("RGBa").reduce(SCALE).convert("RGBA")


def s(v):
    return v * SCALE


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(len(a)))


def gradient(size, stops, angle_deg=90.0):
    """Linear gradient image (RGBA) over `size`; stops are (t, rgb) pairs.
    Angle 90 runs top to bottom, 0 left to right."""
    w, h = size
    a = math.radians(angle_deg)
    dx, dy = math.cos(a), math.sin(a)
    # Project the corners to find the extent along the gradient direction.
    proj = [x * dx + y * dy for x in (0, w) for y in (0, h)]
    lo, hi = min(proj), max(proj)
    n = 1024
    ramp = []
    for i in range(n):
        t = i / (n - 1)
        for j in range(len(stops) - 1):
            t0, c0 = stops[j]
            t1, c1 = stops[j + 1]
            if t <= t1 or j == len(stops) - 2:
                u = 0.0 if t1 == t0 else min(max((t - t0) / (t1 - t0), 0.0), 1.0)
                ramp.append(lerp(c0, c1, u) + (255,))
                break
    # Build a small grey index image and map it through the ramp.
    gw, gh = max(1, w // 8), max(1, h // 8)
    idx = Image.new("L", (gw, gh))
    px = idx.load()
    for y in range(gh):
        for x in range(gw):
            p = ((x + 0.5) * w / gw) * dx + ((y + 0.5) * h / gh) * dy
            px[x, y] = int(round((p - lo) / (hi - lo) * 255)) if hi > lo else 0
    idx = idx.resize((w, h), Image.BILINEAR)
    lut = [ramp[int(i * (n - 1) / 255)] for i in range(256)]
    out = Image.new("RGBA", (w, h))
    r = idx.point([c[0] for c in lut])
    g = idx.point([c[1] for c in lut])
    b = idx.point([c[2] for c in lut])
    out = Image.merge("RGBA", (r, g, b, Image.new("L", (w, h), 255)))
    return out


def rounded_mask(size, box, radius):
    m = Image.new("L", size, 0)
    ImageDraw.Draw(m).rounded_rectangle(box, radius=radius, fill=255)
    return m


def paste_masked(dst, src, mask, opacity=1.0):
    if opacity < 1.0:
        mask = mask.point(lambda v: int(v * opacity))
    layer = src.copy()
    layer.putalpha(ImageChops.multiply(src.getchannel("A"), mask))
    dst.alpha_composite(layer)


def font(path, px):
    return ImageFont.truetype(path, int(px))


# ---------------------------------------------------------------- brand mark

def hex_points(cx, cy, r):
    return [(cx + r * math.cos(math.radians(60 * k - 90)), cy + r * math.sin(math.radians(60 * k - 90)))
            for k in range(6)]


def rounded_hex_mask(size, cx, cy, r, corner):
    """A pointy-top hexagon of circumradius r whose corners are rounded with
    radius `corner`: the inner hexagon grown by `corner` in every direction."""
    m = Image.new("L", size, 0)
    d = ImageDraw.Draw(m)
    inner_r = r - corner / math.cos(math.radians(30))
    pts = hex_points(cx, cy, inner_r)
    d.polygon(pts, fill=255)
    for a, b in zip(pts, pts[1:] + pts[:1]):
        d.line([a, b], fill=255, width=int(2 * corner))
    for x, y in pts:
        d.ellipse([x - corner, y - corner, x + corner, y + corner], fill=255)
    return m


def draw_mark(img, cx, cy, r, shade=True):
    """The Zelvane mark: a rounded hexagonal shell with a central plate and
    six seams running out to the rim, like the scutes of a tortoise shell."""
    size = img.size
    m = rounded_hex_mask(size, cx, cy, r, r * 0.2)
    paste_masked(img, gradient(size, [(0.0, INDIGO_LIGHT), (0.55, INDIGO), (1.0, VIOLET)], 60), m)
    d = ImageDraw.Draw(img)
    w = max(1.0, r * 0.1)
    line = (255, 255, 255, 240)
    hp = hex_points(cx, cy, r * 0.4)
    d.line(hp + [hp[0], hp[1]], fill=line, width=int(w), joint="curve")
    for (x, y), (ox, oy) in zip(hp, hex_points(cx, cy, r * 0.8)):
        d.line([(x, y), (ox, oy)], fill=line, width=int(w))
        d.ellipse([ox - w / 2, oy - w / 2, ox + w / 2, oy + w / 2], fill=line)
    if shade:
        # A soft highlight on the upper-left plates.
        hl = Image.new("L", size, 0)
        ImageDraw.Draw(hl).ellipse([cx - r * 0.8, cy - r * 0.95, cx + r * 0.15, cy - r * 0.05], fill=55)
        hl = ImageChops.multiply(hl.filter(ImageFilter.GaussianBlur(r * 0.15)), m)
        paste_masked(img, Image.new("RGBA", size, (255, 255, 255, 255)), hl)


def draw_wordmark(img, x, cy, px, fill):
    d = ImageDraw.Draw(img)
    f = font(FONT_BOLD, px)
    d.text((x, cy), "Zelvane", font=f, fill=fill, anchor="lm")
    return d.textlength("Zelvane", font=f)


# ---------------------------------------------------------------- images

def primary_button(top, bottom, edge, glow):
    w, h = 168, 46
    img = canvas(w, h)
    box = (s(1), s(1), s(w - 1) - 1, s(h - 2) - 1)
    rad = s(8)
    # Soft drop shadow in the brand colour.
    if glow:
        sh = Image.new("L", img.size, 0)
        ImageDraw.Draw(sh).rounded_rectangle((s(4), s(5), s(w - 4), s(h - 1)), radius=rad, fill=glow)
        sh = sh.filter(ImageFilter.GaussianBlur(s(1.5)))
        paste_masked(img, Image.new("RGBA", img.size, INDIGO_DEEP + (255,)), sh)
    body = rounded_mask(img.size, box, rad)
    paste_masked(img, gradient(img.size, [(0.0, top), (1.0, bottom)], 90), body)
    # One-pixel inner edge: light on top, darker at the bottom.
    ring = ImageChops.subtract(body, rounded_mask(img.size, (box[0] + s(1), box[1] + s(1), box[2] - s(1), box[3] - s(1)), rad - s(1)))
    paste_masked(img, gradient(img.size, [(0.0, lerp(top, (255, 255, 255), 0.35)), (0.5, top), (1.0, edge)], 90), ring)
    return finish(img)


def disabled_button():
    w, h = 168, 46
    img = canvas(w, h)
    box = (s(1), s(1), s(w - 1) - 1, s(h - 2) - 1)
    paste_masked(img, gradient(img.size, [(0.0, (0xC9, 0xC7, 0xEE)), (1.0, (0xBC, 0xBA, 0xE4))], 90),
                 rounded_mask(img.size, box, s(8)))
    return finish(img)


def secondary_button(fill, border, top_tint=None):
    w, h = 90, 32
    img = canvas(w, h)
    outer = (s(0.5), s(0.5), s(w - 0.5) - 1, s(h - 0.5) - 1)
    inner = (s(1.5), s(1.5), s(w - 1.5) - 1, s(h - 1.5) - 1)
    paste_masked(img, Image.new("RGBA", img.size, border + (255,)), rounded_mask(img.size, outer, s(5)))
    stops = [(0.0, top_tint or fill), (1.0, fill)]
    paste_masked(img, gradient(img.size, stops, 90), rounded_mask(img.size, inner, s(4)))
    return finish(img)


def title_icon(kind, hot):
    w = h = 20
    img = canvas(w, h)
    d = ImageDraw.Draw(img)
    if hot:
        bg = RED if kind == "close" else (0xEC, 0xEB, 0xFE)
        d.rounded_rectangle((0, 0, s(w) - 1, s(h) - 1), radius=s(4), fill=bg + (255,))
    col = (255, 255, 255, 255) if (hot and kind == "close") else ((INDIGO + (255,)) if hot else GREY_GLYPH + (255,))
    lw = s(1.5)
    c = s(10)
    if kind == "close":
        a = s(4.2)
        d.line([(c - a, c - a), (c + a, c + a)], fill=col, width=int(lw))
        d.line([(c - a, c + a), (c + a, c - a)], fill=col, width=int(lw))
        for x, y in [(c - a, c - a), (c + a, c + a), (c - a, c + a), (c + a, c - a)]:
            d.ellipse([x - lw / 2, y - lw / 2, x + lw / 2, y + lw / 2], fill=col)
    else:
        a = s(4.5)
        d.rounded_rectangle((c - a, c - lw / 2, c + a, c + lw / 2), radius=lw / 2, fill=col)
    return finish(img)


def check_box(checked):
    w = h = 14
    img = canvas(w, h)
    d = ImageDraw.Draw(img)
    box = (s(0.5), s(0.5), s(13.5), s(13.5))
    if checked:
        paste_masked(img, gradient(img.size, [(0.0, INDIGO_LIGHT), (1.0, INDIGO)], 90), rounded_mask(img.size, box, s(3)))
        lw = s(1.7)
        pts = [(s(3.4), s(7.2)), (s(5.9), s(9.7)), (s(10.6), s(4.5))]
        d.line(pts, fill=(255, 255, 255, 255), width=int(lw), joint="curve")
        for x, y in (pts[0], pts[2]):
            d.ellipse([x - lw / 2, y - lw / 2, x + lw / 2, y + lw / 2], fill=(255, 255, 255, 255))
    else:
        d.rounded_rectangle(box, radius=s(3), fill=(0x9C, 0x9B, 0xB3, 255))
        d.rounded_rectangle((s(1.5), s(1.5), s(12.5), s(12.5)), radius=s(2), fill=(255, 255, 255, 255))
    return finish(img)


def chevron(direction):
    """A disclosure chevron: 'right' (closed), 'left' (closed, right to left), 'down' (open)."""
    w = h = 14
    img = canvas(w, h)
    d = ImageDraw.Draw(img)
    lw = s(1.7)
    c = s(7)
    a = s(2.6)
    if direction == "right":
        pts = [(c - a / 2 - s(0.3), c - a * 1.25), (c + a / 2 + s(0.7), c), (c - a / 2 - s(0.3), c + a * 1.25)]
    elif direction == "left":
        pts = [(c + a / 2 + s(0.3), c - a * 1.25), (c - a / 2 - s(0.7), c), (c + a / 2 + s(0.3), c + a * 1.25)]
    else:
        pts = [(c - a * 1.25, c - a / 2 - s(0.3)), (c, c + a / 2 + s(0.7)), (c + a * 1.25, c - a / 2 - s(0.3))]
    col = INDIGO + (255,)
    d.line(pts, fill=col, width=int(lw), joint="curve")
    for x, y in (pts[0], pts[2]):
        d.ellipse([x - lw / 2, y - lw / 2, x + lw / 2, y + lw / 2], fill=col)
    return finish(img)


def dot(selected):
    w = h = 8
    img = canvas(w, h)
    d = ImageDraw.Draw(img)
    if selected:
        d.ellipse((0, 0, s(8) - 1, s(8) - 1), fill=(255, 255, 255, 255))
        d.ellipse((s(1.5), s(1.5), s(6.5), s(6.5)), fill=INDIGO + (255,))
    else:
        d.ellipse((0, 0, s(8) - 1, s(8) - 1), fill=(30, 27, 75, 70))
        d.ellipse((s(1), s(1), s(7), s(7)), fill=(255, 255, 255, 170))
    return finish(img)


def small_logo():
    w, h = 108, 32
    img = canvas(w, h)
    draw_mark(img, s(13), s(16), s(11.5))
    draw_wordmark(img, s(30), s(15.5), s(17), INK + (255,))
    return finish(img)


def big_logo():
    w, h = 311, 52
    img = canvas(w, h)
    # The wordmark is centred as a unit with the mark in front of it.
    f = font(FONT_BOLD, s(38))
    tw = ImageDraw.Draw(img).textlength("Zelvane", font=f)
    mark = s(46)
    gap = s(14)
    total = mark + gap + tw
    x0 = (s(w) - total) / 2
    draw_mark(img, x0 + mark / 2, s(26), s(23))
    text = Image.new("L", img.size, 0)
    ImageDraw.Draw(text).text((x0 + mark + gap, s(25)), "Zelvane", font=f, fill=255, anchor="lm")
    paste_masked(img, gradient(img.size, [(0.0, INK), (0.6, INDIGO_DEEP), (1.0, INDIGO)], 0), text)
    return finish(img)


def progress(rtl):
    w, h = 254, 99
    img = canvas(w, h)
    if rtl:
        # Right to left the bar's value is mirrored, so this image covers the
        # part still to come: a calm track that the lavender fill grows into.
        g = gradient(img.size, [(0.0, (0xEC, 0xEB, 0xFA)), (1.0, (0xE3, 0xE2, 0xF6))], 90)
        img.alpha_composite(g)
    else:
        img.alpha_composite(gradient(img.size, [(0.0, INDIGO), (0.65, INDIGO_LIGHT), (1.0, VIOLET)], 0))
        shine = gradient(img.size, [(0.0, (255, 255, 255)), (1.0, (255, 255, 255))], 90)
        m = Image.new("L", img.size, 0)
        ImageDraw.Draw(m).rectangle((0, 0, s(w), s(h) * 0.45), fill=46)
        paste_masked(img, shine, m.filter(ImageFilter.GaussianBlur(s(6))))
    return finish(img)


def banner():
    w, h = 650, 290
    img = canvas(w, h)
    img.alpha_composite(gradient(img.size, [(0.0, INDIGO_DEEP), (0.45, INDIGO), (1.0, VIOLET)], 22))
    rnd = random.Random(650290)
    # Soft bokeh circles.
    glow = Image.new("RGBA", img.size, (0, 0, 0, 0))
    gd = ImageDraw.Draw(glow)
    for _ in range(16):
        r = rnd.uniform(s(10), s(60))
        x = rnd.uniform(0, s(w))
        y = rnd.uniform(0, s(h))
        a = rnd.randint(10, 28)
        col = rnd.choice([(255, 255, 255), CYAN, LAVENDER])
        gd.ellipse((x - r, y - r, x + r, y + r), fill=col + (a,))
    img.alpha_composite(glow.filter(ImageFilter.GaussianBlur(s(3))))
    # Flowing bands at the bottom.
    for k, (amp, base, alpha, col) in enumerate([(14, 232, 40, CYAN), (18, 248, 55, (255, 255, 255)), (10, 262, 70, LAVENDER)]):
        band = Image.new("L", img.size, 0)
        pts = [(0, s(h))]
        for i in range(0, 131):
            x = s(w) * i / 130
            y = s(base) + s(amp) * math.sin(i / 130 * math.pi * 2.2 + k * 1.3)
            pts.append((x, y))
        pts.append((s(w), s(h)))
        ImageDraw.Draw(band).polygon(pts, fill=alpha)
        paste_masked(img, Image.new("RGBA", img.size, col + (255,)), band)
    # Large mark on the left with a halo, wordmark beside it.
    halo = Image.new("L", img.size, 0)
    ImageDraw.Draw(halo).ellipse((s(40), s(40), s(240), s(240)), fill=70)
    paste_masked(img, Image.new("RGBA", img.size, (255, 255, 255, 255)), halo.filter(ImageFilter.GaussianBlur(s(30))))
    plate = Image.new("RGBA", img.size, (0, 0, 0, 0))
    draw_mark(plate, s(140), s(128), s(74))
    # White rim around the mark so it stands off the indigo background.
    rim = rounded_hex_mask(img.size, s(140), s(128), s(81), s(18)).filter(ImageFilter.GaussianBlur(s(1.5)))
    paste_masked(img, Image.new("RGBA", img.size, (255, 255, 255, 255)), rim, 0.9)
    img.alpha_composite(plate)
    f = font(FONT_BOLD, s(64))
    d = ImageDraw.Draw(img)
    shadow = Image.new("L", img.size, 0)
    ImageDraw.Draw(shadow).text((s(258), s(122)), "Zelvane", font=f, fill=110, anchor="lm")
    paste_masked(img, Image.new("RGBA", img.size, INDIGO_DEEP + (255,)), shadow.filter(ImageFilter.GaussianBlur(s(4))))
    d.text((s(256), s(118)), "Zelvane", font=f, fill=(255, 255, 255, 255), anchor="lm")
    # A download card motif under the wordmark: arrow, bar and check.
    card = (s(260), s(158), s(600), s(206))
    m = rounded_mask(img.size, card, s(14))
    paste_masked(img, Image.new("RGBA", img.size, (255, 255, 255, 255)), m, 0.18)
    d.rounded_rectangle(card, radius=s(14), outline=(255, 255, 255, 110), width=s(1))
    ax, ay = s(287), s(182)
    lw = s(3)
    d.line([(ax, ay - s(11)), (ax, ay + s(7))], fill=(255, 255, 255, 255), width=lw)
    d.line([(ax - s(8), ay - s(1)), (ax, ay + s(8)), (ax + s(8), ay - s(1))], fill=(255, 255, 255, 255), width=lw, joint="curve")
    d.line([(ax - s(10), ay + s(13)), (ax + s(10), ay + s(13))], fill=(255, 255, 255, 255), width=lw)
    track = (s(316), s(177), s(540), s(187))
    d.rounded_rectangle(track, radius=s(5), fill=(255, 255, 255, 70))
    paste_masked(img, gradient(img.size, [(0.0, CYAN), (1.0, (255, 255, 255))], 0),
                 rounded_mask(img.size, (track[0], track[1], s(470), track[3]), s(5)))
    cx, cy = s(570), s(182)
    d.ellipse((cx - s(13), cy - s(13), cx + s(13), cy + s(13)), fill=(255, 255, 255, 235))
    d.line([(cx - s(6), cy), (cx - s(1.5), cy + s(5)), (cx + s(7), cy - s(5))], fill=INDIGO + (255,), width=s(3), joint="curve")
    return finish(img)


def app_icon():
    """The window and file icon: the mark alone, filling a 256 x 256 square."""
    img = canvas(256, 256)
    draw_mark(img, s(128), s(128), s(126))
    return finish(img)


IMAGES = {
    "banner_normal.png": lambda: dot(False),
    "banner_selected.png": lambda: dot(True),
    "browse-df.png": lambda: secondary_button((0xFF, 0xFF, 0xFF), BORDER),
    "browse-ho.png": lambda: secondary_button((0xEC, 0xEB, 0xFE), (0x8D, 0x89, 0xF8), (0xF6, 0xF5, 0xFF)),
    "button_disable.png": disabled_button,
    "button_hover.png": lambda: primary_button((0x84, 0x7F, 0xFF), (0x62, 0x5C, 0xF9), INDIGO, 120),
    "button_normal.png": lambda: primary_button(INDIGO_LIGHT, INDIGO, INDIGO_DARK, 80),
    "button_pressing.png": lambda: primary_button(INDIGO_DARK, (0x45, 0x3E, 0xDB), INDIGO_DEEP, 0),
    "checked.png": lambda: check_box(True),
    "close-df.png": lambda: title_icon("close", False),
    "close-ho.png": lambda: title_icon("close", True),
    "default.png": banner,
    "fold.png": lambda: chevron("right"),
    "fold_rtl.png": lambda: chevron("left"),
    "hide-df.png": lambda: secondary_button((0xFF, 0xFF, 0xFF), BORDER),
    "hide-ho.png": lambda: secondary_button((0xEC, 0xEB, 0xFE), (0x8D, 0x89, 0xF8), (0xF6, 0xF5, 0xFF)),
    "left_log.png": small_logo,
    "logo.png": big_logo,
    "minzoom-df.png": lambda: title_icon("min", False),
    "minzoom-ho.png": lambda: title_icon("min", True),
    "progress.png": lambda: progress(False),
    "progress_rtl.png": lambda: progress(True),
    "unchecked.png": lambda: check_box(False),
    "unfold.png": lambda: chevron("down"),
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    resources = os.path.join(here, "..", "resources")
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(resources, "skin", "img")
    icon = sys.argv[2] if len(sys.argv) > 2 else os.path.join(resources, "zelvane.ico")
    os.makedirs(out, exist_ok=True)
    for name in sorted(IMAGES):
        IMAGES[name]().save(os.path.join(out, name), optimize=True)
        print(name)
    app_icon().save(icon, sizes=[(16, 16), (20, 20), (24, 24), (32, 32), (40, 40), (48, 48), (64, 64), (256, 256)])
    print(os.path.basename(icon))


if __name__ == "__main__":
    main()
