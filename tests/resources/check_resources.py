#!/usr/bin/env python3
"""Checks the packed resource data of the installer.

- skin.zip holds exactly the six layout files, the "img/" folder entry and the
  24 images at their sizes; every entry's CRC is right; every layout file is
  UTF-8 without byte-order mark, starts with an XML declaration and parses with
  the rules of the installer's own markup reader; the trees (includes
  resolved) use only known elements, name every control the window looks up,
  refer only to images that the archive holds (or the one meant to come from
  disk), and the right-to-left tree has
  the same named controls as the left-to-right one.
- settings.zip holds language.ini (ASCII, the 29 languages), productInfo.ini
  and text.ini (UTF-16LE with byte-order mark); every language has a text
  section with every key, the same placeholders and markup as English, values
  that the platform's profile reader delivers whole, and right-to-left script
  in the right-to-left languages.
- url.ini is UTF-16LE with byte-order mark and has the common addresses;
  domain.txt is the one-line domain text.
Usage: check_resources.py <resource-folder>
"""
import os
import re
import struct
import sys
import zipfile
import zlib

FAILURES = []


def check(cond, what):
    if not cond:
        FAILURES.append(what)
    return cond


# ------------------------------------------------------------ markup reader
# The installer's reader: elements, double-quoted attributes (no blank needed
# between attributes), five named entities, comments and declarations skipped.

class MarkupError(Exception):
    pass


NAME_CHARS = re.compile(r"[A-Za-z0-9_:]*")
ENTITIES = {"&amp;": "&", "&lt;": "<", "&gt;": ">", "&quot;": '"', "&apos;": "'"}


def decode_entities(text):
    return re.sub(r"&(amp|lt|gt|quot|apos);", lambda m: ENTITIES[m.group(0)], text)


class Element:
    def __init__(self, name, attrs):
        self.name, self.attrs, self.children = name, attrs, []

    def walk(self):
        yield self
        for c in self.children:
            yield from c.walk()


def parse_markup(text, max_depth=64):
    pos = 0
    n = len(text)

    def skip_ws(p):
        while p < n and ord(text[p]) <= 32:
            p += 1
        return p

    def parse_attrs(p):
        attrs = []
        while True:
            p = skip_ws(p)
            m = NAME_CHARS.match(text, p)
            if not m.group(0):
                return attrs, p
            name, p = m.group(0), m.end()
            p = skip_ws(p)
            if p >= n or text[p] != "=":
                raise MarkupError(f"Error while parsing attributes at {p}")
            p = skip_ws(p + 1)
            if p >= n or text[p] != '"':
                raise MarkupError(f"Expected attribute value at {p}")
            end = text.find('"', p + 1)
            if end < 0:
                raise MarkupError(f"Error while parsing attribute string at {p}")
            attrs.append((name, decode_entities(text[p + 1:end])))
            p = end + 1

    def parse_level(p, parent, depth):
        if depth > max_depth:
            raise MarkupError("nesting too deep")
        while True:
            p = skip_ws(p)
            if p >= n:
                if depth <= 1:
                    return p
                raise MarkupError("unexpected end of text")
            if text[p] != "<":
                raise MarkupError(f"Expected start tag at {p}: {text[p:p + 30]!r}")
            if text.startswith("</", p):
                return p
            if text.startswith("<!", p) or text.startswith("<?", p):
                end = text.find("->" if text[p + 1] == "!" else "?>", p + 2)
                if end < 0:
                    raise MarkupError("unterminated comment or declaration")
                p = end + 2
                continue
            m = NAME_CHARS.match(text, p + 1)
            if not m.group(0):
                raise MarkupError(f"Error parsing element name at {p}")
            el = Element(m.group(0), [])
            parent.children.append(el)
            el.attrs, p = parse_attrs(m.end())
            if text.startswith("/>", p):
                p += 2
                continue
            if p >= n or text[p] != ">":
                raise MarkupError(f"Expected start-tag closing at {p}")
            p = text.find("<", p + 1)
            if p < 0:
                raise MarkupError("Expected end-tag start")
            if not text.startswith("</", p):
                p = parse_level(p, el, depth + 1)
                if not text.startswith("</", p):
                    raise MarkupError("Expected end-tag start")
            q = p + 2
            if text[q:q + len(el.name)] != el.name:
                raise MarkupError(f"Unmatched closing tag for {el.name} at {p}")
            q = skip_ws(q + len(el.name))
            if q >= n or text[q] != ">":
                raise MarkupError(f"Unmatched closing tag for {el.name} at {p}")
            p = q + 1

    root = Element("", [])
    parse_level(pos, root, 0)
    elements = [c for c in root.children]
    if len(elements) != 1:
        raise MarkupError(f"expected one root element, found {len(elements)}")
    return elements[0]


# ------------------------------------------------------------ skin archive

IMAGES = {
    "banner_normal.png": (8, 8), "banner_selected.png": (8, 8), "browse-df.png": (90, 32),
    "browse-ho.png": (90, 32), "button_disable.png": (168, 46), "button_hover.png": (168, 46),
    "button_normal.png": (168, 46), "button_pressing.png": (168, 46), "checked.png": (14, 14),
    "close-df.png": (20, 20), "close-ho.png": (20, 20), "default.png": (650, 290), "fold.png": (14, 14),
    "fold_rtl.png": (14, 14), "hide-df.png": (90, 32), "hide-ho.png": (90, 32), "left_log.png": (108, 32),
    "logo.png": (311, 52), "minzoom-df.png": (20, 20), "minzoom-ho.png": (20, 20),
    "progress.png": (254, 99), "progress_rtl.png": (254, 99), "unchecked.png": (14, 14), "unfold.png": (14, 14),
}
LAYOUTS = ["skin.xml", "skin_rtl.xml", "home.xml", "home_rtl.xml", "banner.xml", "banner_rtl.xml"]
ELEMENTS = {"Window", "Font", "Include", "Control", "Label", "Text", "Button", "Option", "CheckBox",
            "Progress", "Edit", "VerticalLayout", "HorizontalLayout", "TabLayout"}
WINDOW_CONTROLS = {
    "switch": "TabLayout", "minbtn": "Button", "closebtn": "Button", "btn_install": "Button",
    "btn_start": "Button", "control_tip": "Control", "lineLayout": "VerticalLayout",
    "customLayout": "VerticalLayout", "chk_agree": "CheckBox", "btn_lisence": "Button",
    "chk_fold": "CheckBox", "bottomLayout": "VerticalLayout", "label_path": "Label", "edit_path": "Edit",
    "btn_browse": "Button", "label_tip": "Label", "banner": "Control", "buttonLayout": "HorizontalLayout",
    "progress_download": "Progress", "label_install": "Text", "label_progress": "Text", "btn_hide": "Button",
    **{f"option_{i}": "Option" for i in range(10)},
}
# Images the skin names on purpose outside the archive: found on disk through
# the toolkit's fallback (the right-to-left banner's first carousel picture).
DISK_IMAGES = {"language/pr_01.png"}
IMAGE_ATTRS = {"bkimage", "normalimage", "hotimage", "pushedimage", "disabledimage", "selectedimage",
               "selectedhotimage", "foreimage", "focusedimage"}


def png_size(data):
    """Width and height of a well-formed PNG; every chunk's CRC is checked."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    p, size = 8, None
    while p + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[p:p + 8])
        body = data[p + 8:p + 8 + length]
        crc = struct.unpack(">I", data[p + 8 + length:p + 12 + length])[0]
        if zlib.crc32(kind + body) != crc:
            return None
        if kind == b"IHDR":
            size = struct.unpack(">II", body[:8])
        if kind == b"IEND":
            return size
        p += 12 + length
    return None


def image_file(value):
    """The file named by an image description (plain name or file='...')."""
    m = re.search(r"file='([^']*)'", value)
    return (m.group(1) if m else value).replace("\\", "/").lower()


def build_tree(z, name, seen=()):
    text = z.read(name).decode("utf-8")
    root = parse_markup(text)
    check(root.name == "Window", f"{name}: root element is {root.name}")

    def resolve(el):
        for i, c in enumerate(list(el.children)):
            if c.name == "Include":
                src = dict(c.attrs).get("source", "")
                if check(src in z.namelist() and src not in seen, f"{name}: include {src!r}"):
                    inc = build_tree(z, src, seen + (name,))
                    c.children = inc.children
            resolve(c)
    resolve(root)
    return root


def check_skin(path):
    with zipfile.ZipFile(path) as z:
        names = z.namelist()
        check(z.testzip() is None, "skin.zip: an entry has a bad CRC")
        expected = set(LAYOUTS) | {"img/"} | {"img/" + n for n in IMAGES}
        check(set(names) == expected, f"skin.zip entries differ: {sorted(set(names) ^ expected)}")
        check(len(names) == len(set(names)), "skin.zip: duplicate entries")
        if "img/" in names:
            check(all(names.index("img/") < names.index(n) for n in names if n.startswith("img/") and n != "img/"),
                  "skin.zip: the folder entry img/ must come before its files")
        for img, size in IMAGES.items():
            if "img/" + img in names:
                check(png_size(z.read("img/" + img)) == size, f"{img}: not a PNG of {size[0]}x{size[1]}")
        lower = {n.lower() for n in names}
        for name in LAYOUTS:
            if name not in names:
                continue
            raw = z.read(name)
            check(not raw.startswith(b"\xef\xbb\xbf"), f"{name}: has a byte-order mark")
            check(raw.startswith(b"<?xml"), f"{name}: does not begin with an XML declaration")
            try:
                raw.decode("utf-8")
                parse_markup(raw.decode("utf-8"))
            except (UnicodeDecodeError, MarkupError) as e:
                check(False, f"{name}: {e}")
        trees = {}
        for top in ("skin.xml", "skin_rtl.xml"):
            try:
                trees[top] = build_tree(z, top)
            except (KeyError, UnicodeDecodeError, MarkupError) as e:
                check(False, f"{top}: {e}")
                continue
            named = {}
            for el in trees[top].walk():
                check(el.name in ELEMENTS, f"{top}: unknown element {el.name}")
                check(len(el.attrs) <= 64, f"{top}: more than 64 attributes on {el.name}")
                attrs = dict(el.attrs)
                check(len(attrs) == len(el.attrs), f"{top}: repeated attribute on {el.name}")
                if "name" in attrs:
                    check(attrs["name"] not in named, f"{top}: control name {attrs['name']} used twice")
                    named[attrs["name"]] = el.name
                for key, value in el.attrs:
                    if key in IMAGE_ATTRS:
                        check(image_file(value) in lower or image_file(value) in DISK_IMAGES,
                              f"{top}: {key} {value!r} is not in the archive")
            for ctl, kind in WINDOW_CONTROLS.items():
                check(named.get(ctl) == kind, f"{top}: control {ctl} ({kind}) missing, found {named.get(ctl)}")
            trees[top] = set(named)
        if len(trees) == 2:
            check(trees["skin.xml"] == trees["skin_rtl.xml"],
                  f"LTR and RTL skins name different controls: {trees['skin.xml'] ^ trees['skin_rtl.xml']}")


# ------------------------------------------------------------ settings

LANGUAGES = {
    1033: "English", 2052: "Chinese", 1028: "ChineseTW", 1043: "Dutch", 1036: "French", 1031: "German",
    1040: "Italian", 1066: "Vietnamese", 1032: "Greek", 1055: "Turkey", 1041: "Japanese", 3082: "Spanish",
    2070: "Portuguese", 1042: "Korean", 1025: "Arabic", 1054: "Thai", 1057: "Indonesian", 1086: "Malaysian",
    1051: "Slovak", 1048: "Romanian", 1045: "Polish", 1049: "Russian", 1044: "Norwegian", 1030: "Danish",
    2108: "Irish", 1035: "Finnish", 1029: "Czech", 1053: "Swedish", 1037: "Hebrew",
}
TEXT_KEYS = ["STR_INSTALL", "STR_BROWSE", "STR_LISENCE", "STR_CUSTOMIZE_INSTALL", "STR_INSTALL_PATH",
             "STR_SELECT_FOLDER", "STR_STORAGE", "STR_PATH_INVALID", "STR_INSTALLING", "STR_HIDE",
             "STR_MESSAGEBOX_TITLE", "STR_NETWORK_ERROR", "STR_PROXY_AUTH", "STR_OPERATE_TIP", "STR_SOFT_RUN",
             "STR_CLOSE_TIP1", "STR_CLOSE_TIP2", "STR_START", "STR_INSTALL_FAILED"]
MB_LANGUAGES = {"Arabic", "Indonesian", "Malaysian", "Russian"}
PRODUCT_KEYS = ["STR_GA_TTTLE", "STR_PRODUCT_NAME", "STR_DIR1_NAME", "STR_DIR2_NAME", "STR_EXE_NAME",
                "STR_LISENCE_COLOR", "STR_BRAND_NAME", "STR_RUN_AS_ADMIN", "STR_PID", "STR_PUBLISHER"]
RTL_SCRIPT = re.compile(r"[\u0590-\u05FF\u0600-\u06FF]")
PLACEHOLDERS = re.compile(r"PRODUCT|COLOR|BRAND|\{/?[a-z][^}]*\}")


def parse_ini(text):
    """Sections as the profile reader delivers them: blanks around keys and
    values removed, ';' lines skipped; entries keep their order."""
    sections, cur = {}, None
    for line in text.split("\n"):
        line = line.strip(" \t\r\v\f")
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            cur = line[1:].split("]", 1)[0]
            check(cur not in sections, f"section [{cur}] appears twice")
            sections[cur] = []
        elif check("=" in line and cur is not None, f"stray line {line!r}"):
            k, v = line.split("=", 1)
            sections[cur].append((k.strip(), v.strip()))
    return sections


def utf16_text(data, what):
    if not check(data.startswith(b"\xff\xfe"), f"{what}: no UTF-16LE byte-order mark"):
        return ""
    return data[2:].decode("utf-16-le")


def check_texts(sections, languages):
    english = dict(sections.get("English", []))
    for lang in languages:
        if not check(lang in sections, f"text.ini: no section [{lang}]"):
            continue
        entries = sections[lang]
        table = dict(entries)
        check(len(table) == len(entries), f"text.ini [{lang}]: a key appears twice")
        keys = TEXT_KEYS + (["STR_MB"] if lang in MB_LANGUAGES else [])
        check(sorted(table) == sorted(keys), f"text.ini [{lang}]: keys differ: {sorted(set(table) ^ set(keys))}")
        # The section must fit the profile reader's 4096-unit buffer, each
        # value its 256-unit one.
        units = sum(len((k + "=" + v).encode("utf-16-le")) // 2 + 1 for k, v in entries) + 1
        check(units < 4096, f"text.ini [{lang}]: section of {units} units is too long for the profile reader")
        for key, value in entries:
            check(value != "", f"text.ini [{lang}] {key}: empty")
            check(len(value.encode("utf-16-le")) // 2 < 256, f"text.ini [{lang}] {key}: longer than 255 units")
            check(not (len(value) > 1 and value[0] == value[-1] and value[0] in "\"'"),
                  f"text.ini [{lang}] {key}: quoted value, the profile reader would strip the quotes")
            if key in english:
                check(sorted(PLACEHOLDERS.findall(value)) == sorted(PLACEHOLDERS.findall(english[key])),
                      f"text.ini [{lang}] {key}: placeholders differ from English: {value!r}")
            if lang in ("Arabic", "Hebrew") and key != "STR_MB":
                check(RTL_SCRIPT.search(value) is not None, f"text.ini [{lang}] {key}: no right-to-left text")
    check("\u00a0" in english.get("STR_START", ""), "text.ini [English] STR_START: no no-break space")


def check_settings(path):
    with zipfile.ZipFile(path) as z:
        check(z.testzip() is None, "settings.zip: an entry has a bad CRC")
        names = z.namelist()
        check(sorted(names) == ["language.ini", "productInfo.ini", "text.ini"], f"settings.zip entries: {names}")
        check(all(i.compress_type == zipfile.ZIP_DEFLATED for i in z.infolist()), "settings.zip: not deflated")
        try:
            lang_raw = z.read("language.ini")
            check(lang_raw.isascii(), "language.ini: not plain ASCII")
            lang = parse_ini(lang_raw.decode("ascii", "replace"))
            table = {int(k): v for k, v in lang.get("Language", [])}
            check(table == LANGUAGES, f"language.ini: table differs: {set(table.items()) ^ set(LANGUAGES.items())}")
            product = dict(parse_ini(utf16_text(z.read("productInfo.ini"), "productInfo.ini")).get("PRODUCT", []))
            check(sorted(product) == sorted(PRODUCT_KEYS), f"productInfo.ini keys: {sorted(product)}")
            check(re.fullmatch(r"#[0-9A-Fa-f]{6}", product.get("STR_LISENCE_COLOR", "")) is not None,
                  "productInfo.ini: STR_LISENCE_COLOR is no colour")
            sections = parse_ini(utf16_text(z.read("text.ini"), "text.ini"))
            check(set(sections) == set(LANGUAGES.values()), f"text.ini sections: {set(sections) ^ set(LANGUAGES.values())}")
            check_texts(sections, sorted(table.values()))
        except KeyError as e:
            check(False, f"settings.zip: {e}")


def check_addresses(folder):
    with open(os.path.join(folder, "url.ini"), "rb") as f:
        urls = parse_ini(utf16_text(f.read(), "url.ini"))
    common = dict(urls.get("CommonUrl", []))
    for key in ("STR_DOWN_URL", "STR_DOWN_URL_X64", "STR_LICENCE_URL", "STR_INSTALL_URL"):
        check(common.get(key, "").startswith("https://"), f"url.ini: {key} missing or not HTTPS")
    check("key=" not in common.get("STR_DOWN_URL", ""), "url.ini: the download address must not carry key=")
    for key in ("STR_LICENCE_URL", "STR_INSTALL_URL"):
        check("/producturl?key=" in common.get(key, ""), f"url.ini: {key} is no /producturl?key= address")
    check(set(urls) == {"CommonUrl"}, f"url.ini: sections in force besides CommonUrl: {set(urls) - {'CommonUrl'}}")
    with open(os.path.join(folder, "domain.txt"), "rb") as f:
        check(f.read() == b"com_english\r\n", "domain.txt: not the one-line domain text")


def main():
    folder = sys.argv[1]
    check_skin(os.path.join(folder, "skin.zip"))
    check_settings(os.path.join(folder, "settings.zip"))
    check_addresses(folder)
    for f in FAILURES:
        print("FAIL:", f)
    print(f"resource checks: {len(FAILURES)} failures")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
