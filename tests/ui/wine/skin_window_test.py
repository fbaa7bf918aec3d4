#!/usr/bin/python3
"""Drives the skin window probe under Wine with real X input.

Opens the window built from the real skin in English and in Arabic (right to
left), takes screenshots into <build>/artifacts/, checks the pixels where the
layout puts known images, moves and clicks with xdotool and checks the
notifications the probe logs: hover, click on button / option / check box,
the inline link, focus and typing in the edit box, Escape. Then a skin with
unknown controls, attributes, missing images and malformed markup (built
as far as it goes) and an unreadable skin (failure box, exit code 1).

usage: skin_window_test.py PROBE_EXE BUILD_DIR SOURCE_DIR
"""
import os
import re
import subprocess
import sys
import tempfile
import time

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "wine"))
from gui_checks import GuiChecks, over_white, region_diff, wait_or_kill  # noqa: E402

probe, build, source = sys.argv[1:4]
artifacts = os.path.join(build, "artifacts")
os.makedirs(artifacts, exist_ok=True)
wine_run = os.path.join(source, "tests", "wine", "wine-run")
display = open(os.path.join(build, "wine-env", "display")).read().strip()
env = dict(os.environ, DISPLAY=display, ZV_BINARY_DIR=build, ZV_WINE_TIMEOUT="150")
img_dir = os.path.join(source, "resources", "skin", "img")
texts = os.path.join(source, "resources", "settings", "text.ini")
gui = GuiChecks(env)
check, xdo, failures = gui.check, gui.xdo, gui.failures


def winpath(p):
    return "Z:" + os.path.abspath(p).replace("/", "\\")


class Probe:
    def __init__(self, tag, *args):
        self.log = os.path.join(tempfile.mkdtemp(prefix="skinprobe-"), tag + ".log")
        open(self.log, "w").close()
        self.proc = subprocess.Popen([wine_run, probe, "--log", winpath(self.log), *args], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.rects = {}
        self.origin = (0, 0)

    def lines(self):
        with open(self.log, encoding="utf-8", errors="replace") as f:
            return f.read().splitlines()

    def wait(self, pattern, timeout=20, after=0):
        """Waits for a log line matching pattern (from line index `after`)."""
        end = time.time() + timeout
        rx = re.compile(pattern)
        while time.time() < end:
            for line in self.lines()[after:]:
                if rx.search(line):
                    return line
            if self.proc.poll() is not None:
                break
            time.sleep(0.1)
        return None

    def mark(self):
        return len(self.lines())

    def read_layout(self, after=0):
        if not self.wait(r"^layout-done", 20, after):
            return False
        lines = self.lines()[after:]
        for line in lines:
            p = line.split()
            if p[0] == "window":
                self.origin = (int(p[6]), int(p[7]))
            elif p[0] == "rect":
                self.rects[p[1]] = tuple(map(int, p[2:7]))
            elif p[0] == "link":
                self.rects.setdefault("links", []).append(tuple(map(int, p[1:5])))
        return True

    def centre(self, name):
        l, t, r, b, _ = self.rects[name]
        return self.origin[0] + (l + r) // 2, self.origin[1] + (t + b) // 2

    def click(self, name=None, point=None):
        x, y = point if point else self.centre(name)
        xdo("mousemove", x, y)
        time.sleep(0.3)
        xdo("click", 1)
        time.sleep(0.4)

    def shot(self, name):
        return gui.window_shot(artifacts, name, self.origin)

    def finish(self, timeout=30):
        return wait_or_kill(self.proc, timeout)


def skin_image(png):
    return over_white(os.path.join(img_dir, png))


def count(lines, pattern):
    return sum(1 for line in lines if re.search(pattern, line))


# --- English: home page, hover, check box, licence line, path panel, edit box ---
en = Probe("en", "--texts", winpath(texts), "--language", "English")
if check(en.read_layout(), "English window opened and laid out"):
    l, t, r, b, _ = en.rects["btn_install"]
    check((l + r) == 650 and r - l == 168 and b - t == 46, "Install button 168x46 centred: %s" % (en.rects["btn_install"],))
    check(en.rects["closebtn"][2] > en.rects["minbtn"][2], "close button right of minimise")
    time.sleep(0.5)
    home = en.shot("home-en")
    check(region_diff(home, en.rects["closebtn"], skin_image("close-df.png")) < 12, "close button image drawn")
    # The button's left strip carries no text: it must be the normal image.
    strip = (0, 0, 20, 46)
    normal = skin_image("button_normal.png")
    hover = skin_image("button_hover.png")
    check(region_diff(home, en.rects["btn_install"], normal, strip) < 12, "Install button normal image")

    m = en.mark()
    xdo("mousemove", *en.centre("btn_install"))
    check(en.wait(r"^hot btn_install", 10, m) is not None, "hover over Install makes it hot")
    time.sleep(0.5)
    hot = en.shot("home-en-hover")
    check(region_diff(hot, en.rects["btn_install"], hover, strip) <
          region_diff(hot, en.rects["btn_install"], normal, strip), "Install button shows the hover image")

    m = en.mark()
    en.click("chk_agree")
    check(en.wait(r"^notify selectchanged chk_agree", 10, m) is not None, "check box sends selectchanged")
    lines = en.lines()[m:]
    check(count(lines, r"^notify click chk_agree") == 1, "check box sends click")
    check(en.wait(r"^selected chk_agree 1", 5, m) is not None, "check box selected")
    m = en.mark()
    en.click("chk_agree")
    check(en.wait(r"^selected chk_agree 0", 10, m) is not None, "second click clears the check box")
    en.click("chk_agree")

    # Dragging by an empty part of the caption moves the window.
    before = en.origin
    gx, gy = before[0] + 120, before[1] + 100
    xdo("mousemove", gx, gy)
    time.sleep(0.3)
    xdo("mousedown", 1)
    for step in range(1, 6):
        xdo("mousemove", gx + 8 * step, gy + 6 * step)
        time.sleep(0.1)
    m = en.mark()
    xdo("mouseup", 1)
    moved = en.read_layout(m) and en.origin == (before[0] + 40, before[1] + 30)
    check(moved, "caption drag moved the window by 40,30 (now %s, was %s)" % (en.origin, before))

    m = en.mark()
    en.click("btn_lisence")
    check(en.wait(r"^notify click btn_lisence", 10, m) is not None, "licence line sends click")

    m = en.mark()
    en.click("chk_fold")
    if check(en.read_layout(m) and en.rects["edit_path"][4] == 1, "path panel opens"):
        time.sleep(0.5)
        en.shot("home-en-path")
        el, et, er, eb, _ = en.rects["edit_path"]
        check(er - el == 300 and en.rects["btn_browse"][2] - en.rects["btn_browse"][0] == 90,
              "path row: 300-pixel edit and 90-pixel button")
        m = en.mark()
        en.click("edit_path")
        check(en.wait(r"^notify setfocus edit_path", 10, m) is not None, "edit box gets the focus")
        time.sleep(0.5)
        xdo("key", "End")
        xdo("type", "--delay", "80", "X1")
        check(en.wait(r"^text edit_path .*X1$", 10, m) is not None, "typing sends textchanged with the text")
        time.sleep(0.3)
        en.shot("home-en-edit")

    # Install shows the banner page with the carousel dots and the progress.
    m = en.mark()
    en.click("btn_install")
    check(en.wait(r"^notify click btn_install", 10, m) is not None, "Install sends click")
    if check(en.read_layout(m) and en.rects["option_3"][4] == 1, "banner page shown"):
        time.sleep(0.5)
        banner = en.shot("banner-en")
        check(region_diff(banner, en.rects["banner"], skin_image("default.png")) < 12, "banner picture drawn")
        pl, pt, pr, pb, _ = en.rects["progress_download"]
        check(pb - pt == 6, "progress bar is 6 pixels high")
        m = en.mark()
        en.click("option_3")
        check(en.wait(r"^notify selectchanged option_3", 10, m) is not None, "grouped option sends selectchanged")
        time.sleep(0.4)
        dots = en.shot("banner-en-option")
        sel = region_diff(dots, en.rects["option_3"], skin_image("banner_selected.png"))
        unsel = region_diff(dots, en.rects["option_0"], skin_image("banner_selected.png"))
        check(sel + 5 < unsel, "selected dot drawn with the selected image (%.1f vs %.1f)" % (sel, unsel))
        m2 = en.mark()
        en.click("option_3")
        time.sleep(0.5)
        lines = en.lines()[m2:]
        check(count(lines, r"^notify click option_3") == 1 and count(lines, r"^notify selectchanged") == 0,
              "clicking the selected option sends only click")
        links = en.rects.get("links", [])
        if check(len(links) == 1, "one inline link laid out"):
            ll, lt, lr, lb = links[0]
            m = en.mark()
            en.click(point=(en.origin[0] + (ll + lr) // 2, en.origin[1] + (lt + lb) // 2))
            check(en.wait(r"^notify link label_install 0", 10, m) is not None, "inline link sends link 0")
        en.click("banner")  # give the window the keyboard focus

    xdo("key", "Escape")
    check(en.wait(r"^closed 1", 15) is not None, "Escape closes the window with result 1")
    check(en.finish() == 0, "probe exits 0")
else:
    en.finish(5)

# --- Arabic, right to left ---
ar = Probe("ar", "--skin", "skin_rtl.xml", "--texts", winpath(texts), "--language", "Arabic")
if check(ar.read_layout(), "Arabic window opened"):
    check(ar.rects["closebtn"][0] < ar.rects["minbtn"][0] < 100, "RTL: close button first, at the left")
    check(ar.rects["chk_fold"][0] < ar.rects["chk_agree"][0], "RTL: customise box left of the licence box")
    time.sleep(0.5)
    home = ar.shot("home-ar")
    check(region_diff(home, ar.rects["closebtn"], skin_image("close-df.png")) < 12, "RTL close button image drawn")
    m = ar.mark()
    ar.click("chk_fold")
    if check(ar.read_layout(m), "RTL path panel opens"):
        time.sleep(0.5)
        ar.shot("home-ar-path")
        check(ar.rects["btn_browse"][0] < ar.rects["edit_path"][0] < ar.rects["label_path"][0], "RTL path row mirrored")
    m = ar.mark()
    ar.click("btn_install")
    if check(ar.read_layout(m), "RTL banner page shown"):
        time.sleep(0.5)
        ar.shot("banner-ar")
        check(ar.rects["btn_hide"][0] < ar.rects["progress_download"][0], "RTL: Hide before the progress column")
    ar.click("banner")
    xdo("key", "Escape")
    check(ar.wait(r"^closed 1", 15) is not None, "Arabic window closes")
    ar.finish()
else:
    ar.finish(5)

# --- A damaged skin builds what it can ---
bad = tempfile.mkdtemp(prefix="badskin-")
with open(os.path.join(bad, "skin.xml"), "w", encoding="utf-8") as f:
    f.write('<?xml version="1.0" encoding="utf-8"?>\n'
            '<Window size="650,360" caption="0,0,0,40" wobble="3">\n'
            ' <Font id="0" name="DejaVu Sans" size="14"/>\n'
            ' <VerticalLayout bkcolor="#FFFFFFFF" sparkle="yes">\n'
            '  <Fancy name="bad_parent"><Button name="bad_child" text="never"/></Fancy>\n'
            '  <Button name="btn_install" text="{c #zz}{a}unclosed{b {f 99999999999} {i missing.png 0 9}"\n'
            '          showhtml="true" width="300" height="46" normalimage="img\\nothere.png" glow="1"/>\n'
            '  <Label name="label_path" text="{u}{/u}{/c}{/a}&lt;b&gt;" showhtml="true" height="30"/>\n'
            ' </VerticalLayout>\n'
            '</Window>\n')
toolkit_log = os.path.join(bad, "toolkit")
damaged = Probe("bad", "--folder", winpath(bad) + "\\", "--toolkit-log", winpath(toolkit_log))
if check(damaged.read_layout(), "damaged skin still opens"):
    check("btn_install" in damaged.rects and "label_path" in damaged.rects, "known controls built")
    check("bad_child" not in damaged.rects, "children of an unknown control are skipped")
    time.sleep(0.5)
    damaged.shot("damaged-skin")
    m = damaged.mark()
    damaged.click("btn_install")
    check(damaged.wait(r"^notify click btn_install", 10, m) is not None, "damaged skin's button still clicks")
    xdo("key", "Escape")
    damaged.wait(r"^closed", 15)
    damaged.finish()
    logtext = ""
    for root, _, files in os.walk(toolkit_log):
        for name in files:
            logtext += open(os.path.join(root, name), encoding="utf-8", errors="replace").read()
    check("unknown control" in logtext and "Fancy" in logtext, "unknown control logged")
    check("nothere.png" in logtext, "missing image logged")
else:
    damaged.finish(5)

# --- An unreadable skin: the failure box, then exit code 1 ---
broken = Probe("broken", "--skin", "no-such-skin.xml")
found = gui.wait_window("SkinUI", timeout=30)
box = found[0] if found else None
if check(box is not None, "failure message box shown"):
    time.sleep(0.5)
    subprocess.run(["import", "-window", "root", os.path.join(artifacts, "skin-failure-box.png")], env=env,
                   check=False, timeout=30)
    xdo("windowactivate", box)
    xdo("key", "--window", box, "Return")
    time.sleep(0.5)
    xdo("key", "Return")
rc = broken.finish(30)
check(rc == 1, "unreadable skin exits with code 1 (got %s)" % rc)

print("screenshots in", artifacts)
if failures:
    print("%d check(s) failed" % len(failures))
    sys.exit(1)
print("all checks passed")
