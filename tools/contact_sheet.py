#!/usr/bin/python3
"""Lays every PNG of a skin image folder out on one sheet, with its name and size.

Each image is shown at its real size on a light checkerboard (so transparency
shows); images smaller than 48 pixels are also shown enlarged four times.
Needs Pillow (Debian: python3-pil).
Usage: contact_sheet.py <image-folder> <output.png>
"""
import os
import sys

from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
PAD = 14
LABEL_H = 20
SHEET_W = 1400


def checker(w, h, cell=6):
    img = Image.new("RGBA", (w, h), (255, 255, 255, 255))
    d = ImageDraw.Draw(img)
    for y in range(0, h, cell):
        for x in range(0, w, cell):
            if (x // cell + y // cell) % 2:
                d.rectangle((x, y, x + cell - 1, y + cell - 1), fill=(232, 232, 238, 255))
    return img


def tile(path):
    img = Image.open(path).convert("RGBA")
    w, h = img.size
    views = [img]
    if max(w, h) < 48:
        views.append(img.resize((w * 4, h * 4), Image.NEAREST))
    f = ImageFont.truetype(FONT, 12) if os.path.exists(FONT) else ImageFont.load_default()
    label = f"{os.path.basename(path)}  {w}x{h}"
    tw = sum(v.width for v in views) + PAD * (len(views) - 1)
    th = max(v.height for v in views)
    lw = int(ImageDraw.Draw(Image.new("L", (1, 1))).textlength(label, font=f)) + 4
    body = Image.new("RGBA", (max(tw, lw), th + LABEL_H), (255, 255, 255, 0))
    x = 0
    for v in views:
        bg = checker(v.width, v.height)
        bg.alpha_composite(v)
        body.paste(bg, (x, 0))
        x += v.width + PAD
    ImageDraw.Draw(body).text((0, th + 4), label, font=f, fill=(40, 40, 60, 255))
    return body


def main():
    folder, out = sys.argv[1], sys.argv[2]
    names = sorted(n for n in os.listdir(folder) if n.lower().endswith(".png"))
    tiles = [tile(os.path.join(folder, n)) for n in names]
    # Shelf packing: left to right, a new row when the sheet width is reached.
    rows, row, row_w = [], [], PAD
    for t in sorted(tiles, key=lambda t: -t.height):
        if row and row_w + t.width + PAD > SHEET_W:
            rows.append(row)
            row, row_w = [], PAD
        row.append(t)
        row_w += t.width + PAD
    if row:
        rows.append(row)
    height = PAD + sum(max(t.height for t in r) + PAD for r in rows)
    sheet = Image.new("RGBA", (SHEET_W, height), (250, 250, 252, 255))
    y = PAD
    for r in rows:
        x = PAD
        for t in r:
            sheet.alpha_composite(t, (x, y))
            x += t.width + PAD
        y += max(t.height for t in r) + PAD
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    sheet.convert("RGB").save(out)
    print(f"contact sheet: {len(names)} images -> {out}")


if __name__ == "__main__":
    main()
