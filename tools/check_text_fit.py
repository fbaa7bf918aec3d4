#!/usr/bin/python3
"""Estimates whether every translation of text.ini fits its place in the skin.

Texts are measured at the skin's font sizes (font 0: 26 px semibold, font 1:
14 px) with two faces: the regular Noto faces of fonts-noto-core stand for
Windows (about as wide as Segoe UI Semibold and a little wider than Segoe UI,
the skin's faces), DejaVu Sans (fonts-dejavu-core) for Wine, whose prefix
draws it instead of Segoe UI. Thai is measured with Noto only; scripts
without a local font (CJK) count one em per character. The widths are the free widths of the 650 x 360 layout,
left to right and right to left; the progress page's status line is measured as the window composes it. Prints the texts that overflow and exits 1
when one is too wide for Windows; texts that overflow only with the wider
Wine face are listed as notes. Needs Pillow (Debian: python3-pil).
Usage: check_text_fit.py [text.ini]
"""
import os
import re
import sys

from PIL import ImageFont

NOTO = "/usr/share/fonts/truetype/noto/"
DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
FACES = {
    "latin": "NotoSans-Regular.ttf",
    "arabic": "NotoSansArabic-Regular.ttf",
    "hebrew": "NotoSansHebrew-Regular.ttf",
    "thai": "NotoSansThai-Regular.ttf",
}
RTL = ("Arabic", "Hebrew")

# key: (font size, free width left to right, free width right to left)
LIMITS = {
    "STR_INSTALL": (26, 164, 164),
    "STR_START": (26, 164, 164),
    "STR_BROWSE": (14, 88, 88),
    "STR_HIDE": (14, 88, 88),
    "STR_INSTALL_PATH": (14, 148, 78),
    "STR_CUSTOMIZE_INSTALL": (14, 180, 100),
    "STR_LISENCE": (14, 388, 288),
    "STR_INSTALLING": (14, 210, 210),
    "STR_PATH_INVALID": (14, 403, 473),
    "STR_CONNECTING": (14, 379, 379),
}
# The progress page's status line ("label_install" beside the 50-pixel
# percentage), measured as the window composes it, with wide numbers and
# each time-left phrase in turn.
STATUS_WIDTH = 379
TIME_LEFT = {"STR_LEFT_FEW_SECONDS": "", "STR_LEFT_SECONDS": "40", "STR_LEFT_MINUTES": "45", "STR_LEFT_HOURS": "12"}


def status_lines(entries):
    def fill(key, first, second=""):
        return entries.get(key, "").replace("%1", first).replace("%2", second)
    head = fill("STR_DOWNLOADED", "99.9", "1536") + " \u00b7 " + fill("STR_SPEED", "12.3")
    return [(key, head + " \u00b7 " + fill(key, n)) for key, n in TIME_LEFT.items()]


def script_of(ch):
    o = ord(ch)
    if 0x0600 <= o <= 0x06FF:
        return "arabic"
    if 0x0590 <= o <= 0x05FF:
        return "hebrew"
    if 0x0E00 <= o <= 0x0E7F:
        return "thai"
    if o >= 0x2E80:
        return "cjk"
    return "latin"


def width(text, size, face=None):
    total = 0.0
    run, kind = "", None
    for ch in text + "\0":
        k = script_of(ch) if ch != "\0" else None
        if k != kind and run:
            if kind == "cjk":
                total += size * len(run)
            else:
                f = face if face and kind != "thai" else NOTO + FACES[kind]
                total += ImageFont.truetype(f, size).getlength(run)
            run = ""
        run += ch if ch != "\0" else ""
        kind = k
    return total


def read_sections(path):
    text = open(path, "rb").read().decode("utf-16")
    sections, cur = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            cur = sections.setdefault(line[1:line.index("]")], {})
        elif "=" in line and cur is not None:
            k, v = line.split("=", 1)
            cur[k.strip()] = v.strip()
    return sections


def shown(text):
    """The text as drawn with the shipped product settings."""
    text = text.replace("PRODUCT", "Quillory").replace("COLOR", "#524CF5").replace("BRAND", "Quillory")
    return re.sub(r"\{/?[a-z][^}]*\}", "", text).replace("\u00a0", " ")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "settings", "text.ini")
    bad = 0
    for lang, entries in read_sections(path).items():
        measured = [(key, size, rtl if lang in RTL else ltr, shown(entries.get(key, "")))
                    for key, (size, ltr, rtl) in LIMITS.items()]
        measured += [(key, 14, STATUS_WIDTH, line) for key, line in status_lines(entries)]
        for key, size, limit, text in measured:
            w, wine = width(text, size), width(text, size, DEJAVU)
            if w > limit:
                bad += 1
                print(f"TOO WIDE {lang:11} {key:22} {w:6.1f} > {limit}: {text}")
            elif wine > limit:
                print(f"note: wider than {limit} under Wine only: {lang} {key} {wine:.1f}: {text}")
    print(f"{bad} texts too wide")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
