"""What the tests that drive Windows programs under Wine with real X input
share: check reporting, xdotool calls, window lookup by exact title, message
box answers, screenshots and their comparison with the skin's images."""
import os
import subprocess
import time
from pathlib import Path

from PIL import Image


def wine_session(build, source, artifact_folder):
    """(build, source, artifacts, wine_run, env) of a test that runs the build's
    Windows programs on its Wine display; artifacts is created."""
    build = Path(build).resolve()
    source = Path(source).resolve()
    artifacts = build / "artifacts" / artifact_folder
    artifacts.mkdir(parents=True, exist_ok=True)
    display = (build / "wine-env" / "display").read_text().strip()
    env = dict(os.environ, DISPLAY=display, ZV_BINARY_DIR=str(build), ZV_WINE_TIMEOUT="300",
               WINEPREFIX=str(build / "wineprefix"))
    return build, source, artifacts, source / "tests" / "wine" / "wine-run", env


def shipped_text(source, language, key):
    """A text of the shipped text table (resources/settings/text.ini) with the
    product name put in; None when the language or key is missing."""
    section = None
    for line in (Path(source) / "resources" / "settings" / "text.ini").read_bytes().decode("utf-16").splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line[1:-1]
        elif section == language and line.startswith(key + "="):
            return line.split("=", 1)[1].replace("PRODUCT", "Quillory")
    return None


def poll(read, wanted, timeout, interval=0.3):
    """read()'s value once wanted(value) holds, or the last one read after timeout.

    A repaint follows a click or a timer by a moment that grows on a loaded machine."""
    end = time.time() + timeout
    while True:
        value = read()
        if wanted(value) or time.time() >= end:
            return value
        time.sleep(interval)


def wait_or_kill(proc, timeout):
    """proc's exit code within timeout; otherwise proc is killed and None returned."""
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        return None


def near(colour, target, tolerance=40):
    """Each channel of colour within tolerance of target's."""
    return all(abs(a - b) <= tolerance for a, b in zip(colour, target))


def over_white(path):
    """The image at path composed over white, as the skin draws it."""
    im = Image.open(path).convert("RGBA")
    bg = Image.new("RGBA", im.size, (255, 255, 255, 255))
    return Image.alpha_composite(bg, im).convert("RGB")


def region_diff(shot, rect, ref, box=None):
    """Mean absolute difference between the shot at rect (left, top, right,
    bottom, ...) and the reference image stretched to the rect; optionally
    only a sub-box (left, top, right, bottom relative to the rect)."""
    l, t, r, b = rect[:4]
    ref = ref.resize((r - l, b - t), Image.BILINEAR)
    part = shot.crop((l, t, r, b))
    if box:
        part = part.crop(box)
        ref = ref.crop(box)
    a, c = list(part.getdata()), list(ref.getdata())
    total = sum(abs(p[i] - q[i]) for p, q in zip(a, c) for i in range(3))
    return total / (3 * max(1, len(a)))


class GuiChecks:
    def __init__(self, env):
        self.env = env
        self.failures = []

    def check(self, cond, what):
        """Prints the check's outcome; a failed one is remembered."""
        print(("ok   " if cond else "FAIL ") + what, flush=True)
        if not cond:
            self.failures.append(what)
        return cond

    def xdo(self, *args, capture=False):
        """Runs xdotool on the test display; its output when captured."""
        r = subprocess.run(["xdotool", *map(str, args)], env=self.env, timeout=20, check=False,
                           stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, text=True)
        return r.stdout if capture else None

    def window_shot(self, folder, name, origin, size=(650, 360)):
        """The screen cropped to the window at origin, saved as folder/name.png;
        None when no screenshot could be taken."""
        full = os.path.join(folder, name + "-screen.png")
        subprocess.run(["import", "-window", "root", full], env=self.env, check=False, timeout=30)
        try:
            img = Image.open(full).convert("RGB")
        except OSError:
            return None
        os.remove(full)
        x, y = origin
        crop = img.crop((x, y, x + size[0], y + size[1]))
        crop.save(os.path.join(folder, name + ".png"))
        return crop

    def windows_titled(self, title, search=None):
        """(id, x, y, width, height) of the visible windows whose title is
        exactly title. xdotool searches for `search` (a word of the title),
        since its pattern matching does not take every script's titles."""
        found = []
        for wid in self.xdo("search", "--onlyvisible", "--name", search or title, capture=True).split():
            if self.xdo("getwindowname", wid, capture=True).strip() != title:
                continue
            geo = dict(kv.split("=") for kv in self.xdo("getwindowgeometry", "--shell", wid, capture=True).split())
            found.append((wid, int(geo["X"]), int(geo["Y"]), int(geo["WIDTH"]), int(geo["HEIGHT"])))
        return found

    def wait_window(self, title, wanted=lambda window: True, timeout=30, search=None):
        """The first window titled title for which wanted(window) holds, or
        None after timeout."""
        def first():
            return next((w for w in self.windows_titled(title, search) if wanted(w)), None)
        return poll(first, lambda window: window is not None, timeout)

    def answer(self, box, key):
        """Answers the message box `box` (a window of windows_titled) with a
        button's mnemonic or key (y, n, r, i, a, Return)."""
        if not self.check(box is not None, f"a message box is on screen for '{key}'"):
            return
        self.xdo("mousemove", box[1] + 5, box[2] + 5)
        self.xdo("click", 1)  # focus it
        time.sleep(0.3)
        self.xdo("key", key)
        time.sleep(0.5)
