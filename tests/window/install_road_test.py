#!/usr/bin/python3
"""The demo installer under Wine, end to end, driven with real X input.

Scenarios (all by default, or those named after the arguments):
  road          licence accepted, Install, download from the demo server,
                silent install with the bar moving to 100, finish page,
                Start launches the installed demo product; the log steps,
                the data folder, the carousel banners and their rotation, and
                the three analytics events byte for byte are checked
  home          the first page: the licence box enables Install, the
                "Customize Installation" box grows the window by the path
                panel and shrinks it again, Escape asks and No keeps it open
  nospace       the server announces an installer larger than a third of the
                free space: the message, back to the first page, nothing
                downloaded
  serverdown    the installer is missing on the server: Abort / Retry /
                Ignore; Ignore returns to the first page, Retry after the
                server has it again goes on to the end
  midfail       the demo servers stop part way through the download: Abort / Retry / Ignore; Retry, once it is back,
                resumes from the data kept and goes on to the end
  badprogress   the silent installer leaves junk, nothing, negative,
                overflowing and smaller values in its progress file and
                deletes it once: the bar never moves back and the run ends
  notpe         the server sends a file of the announced size that is no
                Windows program: it is not run, the failure message, back to
                the first page, the file deleted
  exitcode      the silent installer ends with exit code 7: the failure
                message, no success event, back to the first page with the
                verified installer kept; Install again runs it without a
                new download
  dots          a click on the third and then the second dot shows that
                banner at once
  badcarousel   the carousel lists a banner that is no image, one that is
                missing and one with a wrong MD5: each is refused and logged,
                only the good banner is ever shown, and the road goes on
  badapi        the carousel answers malformed JSON and the collector
                answers 500; then a carousel that answers after 12 s and a
                collector that does not answer: the default banner is shown, it
                is logged, and the road goes on to the end every time
  rtl           Arabic, with a carousel API that lists no banners: the
                progress page shows the skin's default banner, not an empty frame
  close         Escape during the download: No resumes it from its files;
                Escape during the silent install: Yes ends the installer
                process and cleans up
  unsigned      the served installer has no signature: refused (the failure
                message, the file deleted, the reason logged), nothing installed
  tampered      the served installer was signed, then one byte changed at
                the same size: refused likewise
  wrongsigner   the served installer is signed by another publisher of the
                same CA: refused likewise
  pin           (run with the build that pins another SHA-256) the signed
                installer does not match the pin: refused likewise
  exit3010      the silent installer ends with 3010 (success, restart
                required): the finish page and the success event
  replaced      (named only) the server's installer is replaced by another
                build of the same size while the download is stopped: the
                resumed download starts over, says why, and ends
                byte-identical to the new build
  datafull      the data folder on a volume with less room than the
                installer (a 1 MiB tmpfs mounted there; needs root): the
                storage message, not the network one, nothing downloaded,
                and the "Downloader_Failed" event of the space phase

Every state is saved as a screenshot in BUILD_DIR/artifacts/install-road/.
Needs the fixtures wine, demo.servers and wine.test_ca.

usage: install_road_test.py INSTALLER_EXE BUILD_DIR SOURCE_DIR [SCENARIO ...]
"""
import contextlib
import json
import os
import re
import shutil
import ssl
import subprocess
import sys
import time
import urllib.request
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "wine"))
from gui_checks import GuiChecks, near, over_white, poll, region_diff, shipped_text, wait_or_kill  # noqa: E402

exe, build, source = sys.argv[1:4]
scenarios = sys.argv[4:] or ["road", "home", "nospace", "serverdown", "midfail", "badprogress", "notpe", "exitcode", "dots", "badcarousel", "badapi", "rtl", "close", "unsigned", "tampered", "wrongsigner", "exit3010"]
build = Path(build).resolve()
source = Path(source).resolve()
artifacts = build / "artifacts" / "install-road"
artifacts.mkdir(parents=True, exist_ok=True)
wine_run = source / "tests" / "wine" / "wine-run"
display = (build / "wine-env" / "display").read_text().strip()
env = dict(os.environ, DISPLAY=display, ZV_BINARY_DIR=str(build), ZV_WINE_TIMEOUT="300",
           WINEPREFIX=str(build / "wineprefix"))
program_files = build / "wineprefix" / "drive_c" / "Program Files"
data_dir = program_files / "zelvane_down" / Path(exe).stem
log_file = data_dir / "Log" / "zelvane_down.log"
product_dir = program_files / "Quillory" / "Quillory"
demo = dict(line.split("=", 1) for line in (build / "peers" / "run" / "demo.env").read_text().split())
served = Path(demo["installer"])
api = f"https://localhost:{demo['api_https']}"
tls = ssl.create_default_context(cafile=demo["ca"])
def text_of(language, key):
    return shipped_text(source, language, key)


title = text_of("English", "STR_MESSAGEBOX_TITLE")

# Points inside the 650 x 360 window, from the skin's layout.
INSTALL = (325, 208)   # "btn_install", and "btn_start" at the finish
CLOSE = (628, 21)      # "closebtn"
CLOSE_RTL = (21, 21)   # "closebtn" of the right-to-left skin
AGREE = (28, 336)      # "chk_agree"
FOLD = (535, 336)      # "chk_fold", "Customize Installation"
DOTS = [(310, 275), (326, 275), (342, 275)]  # "option_0" .. "option_2" of three banners
BANNER = (325, 120)    # middle of the carousel image on page 1
BANNER_EDGE = (610, 30)  # a point of the default banner's background
QUIET = (100, 60)      # a point of the caption area that holds no control
BAR_ROW, BAR_LEFT, BAR_RIGHT = 314, 52, 482   # "progress_download"
# Banner colours of the carousel API's "good" answer (images 1-3).
BANNER_COLOURS = [(0xE0, 0x30, 0x30), (0x30, 0xA0, 0x40), (0x30, 0x50, 0xE0)]
# The skin's default banner where page 1 draws it, compared inside a part
# that no caption button, dot or text covers.
DEFAULT_BANNER = over_white(source / "resources" / "skin" / "img" / "default.png")
BANNER_RECT = (1, 1, 649, 290)
BANNER_CLEAR = (40, 60, 600, 240)

gui = GuiChecks(env)
check, xdo, failures = gui.check, gui.xdo, gui.failures


def log_lines():
    try:
        return log_file.read_bytes().decode("utf-8", errors="replace").splitlines()
    except FileNotFoundError:
        return []


def log_mark():
    """Index of the line the next record starts: the log's last line is the
    next record's beginning, so it is not counted as read."""
    return max(0, len(log_lines()) - 1)


def wait_log(pattern, timeout=30, after=0, proc=None):
    rx = re.compile(pattern)
    end = time.time() + timeout
    while True:
        for line in log_lines()[after:]:
            if rx.search(line):
                return line
        if time.time() >= end or (proc is not None and proc.poll() is not None):
            return None
        time.sleep(0.2)


def windows():
    """(id, x, y, width, height) of the visible windows titled like the installer's."""
    return gui.windows_titled(title, search="Quillory")


def main_window(timeout=30):
    return gui.wait_window(title, lambda w: w[3] == 650, timeout, search="Quillory")


def message_box(timeout=30):
    return gui.wait_window(title, lambda w: w[3] != 650, timeout, search="Quillory")


def answer(key):
    """Answers the message box on screen with a button's mnemonic (y, n, r, i, a, Return)."""
    gui.answer(message_box(), key)


class Installer:
    def __init__(self, **extra_env):
        self.proc = subprocess.Popen([str(wine_run), exe], env=dict(env, **extra_env), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.window = main_window()
        self.origin = self.window[1:3] if self.window else (0, 0)

    def click(self, point):
        xdo("mousemove", self.origin[0] + point[0], self.origin[1] + point[1])
        time.sleep(0.3)
        xdo("click", 1)
        time.sleep(0.3)

    def shot(self, name, height=360):
        return gui.window_shot(str(artifacts), name, self.origin, (650, height))

    def pixel_when(self, name, point, wanted, timeout=5.0):
        """The pixel at point once wanted(pixel) holds, or the last one seen after timeout."""
        def read():
            img = self.shot(name)
            return img.getpixel(point) if img else None
        return poll(read, lambda pixel: pixel is not None and wanted(pixel), timeout)

    def escape(self):
        """A close request from the keyboard (the progress page has no close button)."""
        self.click(QUIET)
        xdo("key", "Escape")
        time.sleep(0.3)

    def wait_exit(self, timeout=60):
        return wait_or_kill(self.proc, timeout)


def open_installer(name, **extra_env):
    """The installer started on a fresh first page, or None (a failure is noted)."""
    inst = Installer(**extra_env)
    if not check(inst.window is not None, f"{name}: the window opens ({title!r})"):
        return None
    check(wait_log("UpdateWindowSate:kWindow_Init", 20) is not None, f"{name}: first page")
    return inst


@contextlib.contextmanager
def served_instead(make=None):
    """For the block, the demo server has no installer (make None) or the file
    make(path) writes; the yielded function puts the real one back early."""
    original = served.with_name(served.name + ".orig")
    served.rename(original)
    if make:
        make(served)

    def restore():
        if original.exists():
            served.unlink(missing_ok=True)
            original.rename(served)
    try:
        yield restore
    finally:
        restore()


def default_banner_diff(img):
    """How far the window's banner is from the skin's default banner (0 = the same)."""
    return 255 if img is None else region_diff(img, BANNER_RECT, DEFAULT_BANNER, BANNER_CLEAR)


def default_banner_shown(inst, name, timeout=5.0):
    """The default banner's distance once it is on screen, or the last one seen."""
    return default_banner_diff(poll(lambda: inst.shot(name), lambda img: default_banner_diff(img) < 12, timeout))


def bar_fill(img):
    """Share of the progress bar row drawn in the fill colour (dark violet)."""
    if img is None:
        return None
    row = [img.getpixel((x, BAR_ROW)) for x in range(BAR_LEFT, BAR_RIGHT)]
    filled = sum(1 for r, g, b in row if b > 150 and r < 150 and g < 150)
    return filled / len(row)


def api_get(path):
    with urllib.request.urlopen(api + path, context=tls, timeout=10) as r:
        return r.read().decode("utf-8")


def collected_events():
    """The analytics events the collector has received since its reset."""
    return [json.loads(json.loads(line)["body"])["events"][0]
            for line in api_get("/control/collected").splitlines() if line.strip()]


def collected_event_names():
    return [event["name"] for event in collected_events()]


def failure_event_params(timeout=15):
    """The parameters of the first "Downloader_Failed" event collected ({} when none came)."""
    failed = poll(lambda: [e for e in collected_events() if e["name"] == "Downloader_Failed"], bool, timeout)
    return failed[0].get("params", {}) if failed else {}


def taskkill(*names):
    """Ends the named programs in this build's prefix; the names that were running."""
    args = [str(wine_run), "taskkill", "/F"]
    for name in names:
        args += ["/IM", name]
    out = subprocess.run(args, env=env, capture_output=True, text=True, errors="replace", timeout=60)
    text = out.stdout + out.stderr
    return [n for n in names if f'Could not find process "{n}"' not in text]


def kill_leftovers():
    taskkill("Quillory.exe", "zelvane-download.tmp", "zelvane-download.exe", Path(exe).name)
    time.sleep(0.5)


def fresh_state():
    kill_leftovers()
    shutil.rmtree(data_dir, ignore_errors=True)
    shutil.rmtree(program_files / "Quillory", ignore_errors=True)
    api_get("/control/reset")


def leftovers():
    names = ["zelvane-download.exe", "zelvane-download.exe.tmp", "zelvane-download.exe.cfg", "temp.progress"]
    return [n for n in names if (data_dir / n).exists()]


def steps_in_order(lines, steps):
    at = 0
    for step in steps:
        while at < len(lines) and step not in lines[at]:
            at += 1
        if at == len(lines):
            return step
    return None


def client_id():
    out = subprocess.run([str(wine_run), "reg", "query", r"HKLM\SOFTWARE\WOW6432Node\Zelvane\ZelvaneDown",
                          "/v", "GUID"], env=env, capture_output=True, text=True, errors="replace", timeout=60)
    m = re.search(r"GUID\s+REG_SZ\s+(\S+)", out.stdout)
    return m.group(1) if m else None


def expected_event(cid, name):
    body = {"client_id": cid, "user_properties": {"uid": {"value": cid}},
            "events": [{"name": name, "params": {"event_category": "Quillory Quillory (Windows version)",
                                                 "event_label": cid}}]}
    return json.dumps(body, indent=4, ensure_ascii=False)


def scenario_road():
    fresh_state()
    inst = open_installer("road")
    if not inst:
        return
    inst.shot("road-1-init")
    inst.click(INSTALL)
    check(wait_log("UpdateWindowSate:kWindow_Downloading", 20) is not None, "road: Install shows the progress page")

    # Page 1 until the finish: banner colours and the bar, sampled.
    colours = []

    def banner_seen(img):
        pixel = img.getpixel(BANNER)
        for i, c in enumerate(BANNER_COLOURS):
            if near(pixel, c) and (not colours or colours[-1] != i):
                colours.append(i)

    fills = watch_progress_page(inst, "road-2", timeout=120, on_shot=banner_seen)
    check(wait_log("UpdateWindowSate:kWindow_Finish", 5) is not None, "road: the finish page follows")
    check(bool(fills) and all(b >= a - 0.02 for a, b in zip(fills, fills[1:])),
          "road: the bar never moves backwards (%s)" % ", ".join("%.2f" % f for f in fills))
    check(bool(fills) and max(fills) > 0.85, "road: the bar reaches the end (max %.2f)" % max(fills or [0]))
    check(bool(colours) and colours[0] == 0, f"road: the first served banner is shown (sequence {colours})")
    check(len(colours) >= 2, f"road: the banners rotate (sequence {colours})")
    time.sleep(1.5)
    inst.shot("road-3-finish")

    lines = log_lines()
    missing = steps_in_order(lines, [
        "UpdateWindowSate:kWindow_Init", "OnClickInstall", "UpdateWindowSate:kWindow_Downloading",
        f"get redirect Url:https://localhost:{demo['https']}{demo['download_path']}", "get file size end", "get disk size end", "JudgeDeleteHistoryFile", "Download....",
        "HttpDownload,ret = 0", "UpdateWindowSate:kWindow_Installing", "UpdateWindowSate:kWindow_Finish",
        "InstallExeFinish"])
    check(missing is None, f"road: the log holds the steps in order (missing: {missing})")
    check((data_dir / "language" / "text.ini").is_file() and (data_dir / "language" / "language.ini").is_file()
          and (data_dir / "language" / "productInfo.ini").is_file(), "road: the settings are unpacked")
    check(leftovers() == [], f"road: the downloaded installer and its files are gone ({leftovers()})")
    check((product_dir / "Quillory.exe").is_file(), "road: the demo product is installed")
    domain = (product_dir / "domain").read_bytes() if (product_dir / "domain").exists() else b""
    check(domain == b"com_english", f"road: the domain file holds the custom value ({domain!r})")
    record = (product_dir / "demo-install.log").read_bytes().decode("utf-8", "replace") if (
        product_dir / "demo-install.log").exists() else ""
    check("path=C:\\Program Files\\\r\n" in record, "road: the silent installer got the installation folder")

    inst.click(INSTALL)  # Start
    rc = inst.wait_exit(30)
    check(rc == 0, f"road: Start closes the installer with exit code 0 (got {rc})")
    marker = product_dir / "started.marker"
    end = time.time() + 20
    while time.time() < end and not marker.exists():
        time.sleep(0.3)
    text = marker.read_text(errors="replace") if marker.exists() else ""
    check("elevated=1" in text, "road: Start launched the product with the installer's rights")

    cid = client_id()
    check(cid is not None and re.fullmatch(r"[0-9A-F]{8}-[0-9A-F]{4}-[0-9a-f]{4}-[0-9A-F]{4}-[0-9A-F]{12}", cid),
          f"road: the client id is in the registry ({cid})")
    collected = [json.loads(line) for line in api_get("/control/collected").splitlines() if line.strip()]
    names = ["Downloader_Start_Install", "Downloader_Installed", "Installed_Succeed"]
    got = [json.loads(c["body"])["events"][0]["name"] for c in collected]
    check(got == names, f"road: exactly the three events, in order ({got})")
    if cid and len(collected) == 3:
        for c, name in zip(collected, names):
            check(c["body"] == expected_event(cid, name), f"road: {name} byte for byte with the stored id")
            check(c["content_type"].startswith("application/json"), f"road: {name} sent as JSON")


def window_height():
    w = main_window(5)
    return w[4] if w else None


def height_when(wanted, timeout=5.0):
    """The window's height once it is wanted, or the last one seen after timeout."""
    return poll(window_height, lambda height: height == wanted, timeout, interval=0.2)


def scenario_home():
    fresh_state()
    inst = open_installer("home")
    if not inst:
        return
    inst.click(AGREE)
    inst.click(INSTALL)
    time.sleep(1.5)
    check(wait_log("OnClickInstall", 0) is None, "home: without the licence box Install does nothing")
    inst.shot("home-1-not-agreed")
    inst.click(AGREE)

    inst.click(FOLD)
    height = height_when(435)
    check(height == 435, f"home: the path panel grows the window to 435 ({height})")
    inst.shot("home-2-panel", height=435)
    inst.click(FOLD)
    height = height_when(360)
    check(height == 360, f"home: and shrinks it again ({height})")

    mark = log_mark()
    inst.escape()
    line = wait_log("ShowMessage:", 10, mark)
    check(line is not None and line.endswith("ShowMessage:" + text_of("English", "STR_CLOSE_TIP1")),
          f"home: Escape asks the first page's question ({line})")
    answer("n")
    time.sleep(1.0)
    check(inst.proc.poll() is None and main_window(5) is not None, "home: No keeps the window open")
    inst.click(AGREE)
    inst.click(AGREE)
    mark = log_mark()
    inst.escape()
    wait_log("ShowMessage:", 10, mark)
    answer("y")
    check(inst.wait_exit(30) == 0, "home: Escape, Yes: exit code 0")
    check(wait_log("OnClickInstall", 0) is None and leftovers() == [], "home: nothing was downloaded")


def scenario_nospace():
    fresh_state()

    def huge(path):
        with open(path, "wb") as f:
            f.truncate(1 << 40)  # sparse: 1 TiB announced, far more than a third of the free space
    with served_instead(huge):
        inst = open_installer("nospace")
        if not inst:
            return
        mark = log_mark()
        inst.click(INSTALL)
        line = wait_log("ShowMessage:", 30, mark)
        check(line is not None and "3145728" in line, f"nospace: the space message names 3 x the size ({line})")
        inst.shot("nospace-1-message")
        answer("Return")
        check(wait_log("UpdateWindowSate:kWindow_Init", 10, mark) is not None, "nospace: back to the first page")
        check("Download...." not in "\n".join(log_lines()), "nospace: no download was started")
        check(leftovers() == [], f"nospace: nothing downloaded ({leftovers()})")
        inst.shot("nospace-2-init")
        inst.click(CLOSE)
        line = wait_log("ShowMessage:", 10, mark + 2)
        answer("y")
        check(inst.wait_exit(30) == 0, "nospace: close, Yes: exit code 0")


def scenario_serverdown():
    fresh_state()
    with served_instead() as restore:
        inst = open_installer("serverdown")
        if not inst:
            return
        inst.click(INSTALL)
        check(wait_log(r"ShowMessage:Network error", 60) is not None, "serverdown: the network error question")
        inst.shot("serverdown-1-question")
        mark = log_mark()
        answer("i")
        check(wait_log("ShowMessage answer:5", 10, mark) is not None, "serverdown: Ignore answered")
        check(wait_log("UpdateWindowSate:kWindow_Init", 10, mark) is not None, "serverdown: Ignore: first page")
        inst.shot("serverdown-2-ignored")

        mark = log_mark()
        inst.click(INSTALL)
        check(wait_log(r"ShowMessage:Network error", 60, mark) is not None, "serverdown: the question again")
        restore()  # the server has the installer again
        mark = log_mark()
        answer("r")
        check(wait_log("HttpDownload,ret = 0", 60, mark) is not None, "serverdown: Retry downloads it")
        check(wait_log("UpdateWindowSate:kWindow_Finish", 120, mark) is not None, "serverdown: and installs it")
        inst.shot("serverdown-3-finish")
        inst.click(CLOSE)
        check(inst.wait_exit(30) == 0, "serverdown: after the finish, close needs no question")


def demo_servers(action):
    args = [str(source / "tools" / "demo-servers"), action, "--bin", str(build)]
    if action == "start":
        args += ["--installer", str(build / "tools" / "demo" / "demo-installer.exe")]
    subprocess.run(args, check=False, stdout=subprocess.DEVNULL, timeout=60,
                   env=dict(os.environ, ZV_PEER_LIFETIME="1800"))


def scenario_midfail():
    fresh_state()
    try:
        inst = open_installer("midfail")
        if not inst:
            return
        inst.click(INSTALL)
        check(wait_log(r"engine: .* connection\(s\)", 30) is not None, "midfail: the download runs")
        time.sleep(1.2)
        demo_servers("stop")  # the connections break, new ones are refused
        check(wait_log(r"ShowMessage:Network error", 120) is not None, "midfail: the network error question")
        inst.shot("midfail-1-question")
        check((data_dir / "zelvane-download.exe.cfg").exists(), "midfail: the resume file is kept")
        demo_servers("start")
        mark = log_mark()
        answer("r")
        resumed = wait_log(r"engine: resuming with (\d+) of", 30, mark)
        check(resumed is not None and int(re.search(r"with (\d+)", resumed).group(1)) > 0,
              f"midfail: Retry resumes from the data kept ({resumed})")
        check(wait_log("UpdateWindowSate:kWindow_Finish", 120, mark) is not None, "midfail: and installs it")
        check((product_dir / "Quillory.exe").is_file(), "midfail: the demo product is installed")
        inst.click(CLOSE)
        check(inst.wait_exit(30) == 0, "midfail: closed after the finish with exit code 0")
    finally:
        if not (build / "peers" / "run" / "demo.env").exists():
            demo_servers("start")


def watch_progress_page(inst, name, timeout=150, on_shot=None):
    """Screenshots of page 1 until the finish page or the failure message; the bar fills.

    The window logs a page change before it draws the new page, so a shot is kept
    only while the log still shows no end after it: a shot of the finish page
    would read as an empty bar."""
    ended = "UpdateWindowSate:kWindow_Finish|ShowMessage:"
    fills, n = [], 0
    end = time.time() + timeout
    while time.time() < end and not wait_log(ended, 0):
        img = inst.shot(f"{name}-progress-{n:02d}")
        n += 1
        fill = bar_fill(img)
        if fill is not None and not wait_log(ended, 0):
            fills.append(fill)
            if on_shot:
                on_shot(img)
        time.sleep(0.7)
    return fills


def scenario_badprogress():
    fresh_state()
    inst = open_installer("badprogress", ZV_DEMO_PROGRESS="hostile")
    if not inst:
        return
    inst.click(INSTALL)
    check(wait_log("UpdateWindowSate:kWindow_Installing", 60) is not None, "badprogress: the install starts")
    fills = watch_progress_page(inst, "badprogress")
    check(wait_log("UpdateWindowSate:kWindow_Finish", 5) is not None, "badprogress: the finish page follows")
    check(len(fills) > 10 and all(b >= a - 0.02 for a, b in zip(fills, fills[1:])),
          "badprogress: the bar never moves backwards (%s)" % ", ".join("%.2f" % f for f in fills))
    check(inst.proc.poll() is None, "badprogress: the installer is still running")
    inst.click(CLOSE)
    check(inst.wait_exit(30) == 0, "badprogress: closed after the finish with exit code 0")


def failure_message(name, inst, kept=False, after=0):
    """The failure message of the silent install, answered; back to the first
    page, with the downloaded installer deleted or (kept) left for the next
    Install. The log mark after the answer."""
    line = wait_log("ShowMessage:", 120, after)
    check(line is not None and "did not complete" in line, f"{name}: the installation failure message ({line})")
    inst.shot(f"{name}-1-message")
    mark = log_mark()
    answer("Return")
    check(wait_log("UpdateWindowSate:kWindow_Init", 15, mark) is not None, f"{name}: back to the first page")
    time.sleep(0.5)
    if kept:
        check(leftovers() == ["zelvane-download.exe"],
              f"{name}: the verified installer is kept, the progress file deleted ({leftovers()})")
    else:
        check(leftovers() == [],
              f"{name}: the downloaded installer and the progress file are deleted ({leftovers()})")
    inst.shot(f"{name}-2-init")
    return mark


def close_first_page(name, inst, mark):
    inst.click(CLOSE)
    wait_log("ShowMessage:", 10, mark + 1)
    answer("y")
    check(inst.wait_exit(30) == 0, f"{name}: close, Yes: exit code 0")


def failed_install(name, inst):
    """The failure message of the silent install, answered; back to the first
    page with the downloaded installer deleted; closed."""
    close_first_page(name, inst, failure_message(name, inst))


def scenario_notpe():
    fresh_state()
    size = served.stat().st_size
    page = b"<!DOCTYPE html><html><body>Service unavailable</body></html>\n"
    with served_instead(lambda path: path.write_bytes((page * (size // len(page) + 1))[:size])):
        inst = open_installer("notpe")
        if not inst:
            return
        inst.click(INSTALL)
        check(wait_log("HttpDownload,ret = 0", 60) is not None, "notpe: the file downloads")
        failed_install("notpe", inst)
        check(wait_log("StartInstallExe: the downloaded file is not a Windows program", 0) is not None,
              "notpe: the log says why it was not run")
        check(not (product_dir / "Quillory.exe").exists(), "notpe: nothing was installed")


def scenario_exitcode():
    fresh_state()
    inst = open_installer("exitcode", ZV_DEMO_EXIT_CODE="7")
    if not inst:
        return
    inst.click(INSTALL)
    mark = failure_message("exitcode", inst, kept=True)
    check(wait_log(r"installer failed \(started 1, exit code 7\)", 0) is not None, "exitcode: the log has the code")
    got = collected_event_names()
    check("Installed_Succeed" not in got, f"exitcode: no success event ({got})")
    params = failure_event_params()
    check(params.get("phase") == "install" and params.get("error_category") == "installer" and
          params.get("error_code") == 7, f"exitcode: the failure event names the installer's exit code ({params})")
    # Install again: the kept installer runs (and fails again) without a new download.
    inst.click(INSTALL)
    again = wait_log("PrepareDownload: the installer kept from the last attempt is used", 30, mark)
    check(again is not None, "exitcode: Install again uses the kept installer")
    mark = failure_message("exitcode-again", inst, kept=True, after=mark)
    downloads = sum(1 for line in log_lines() if "Download...." in line)
    check(downloads == 1, f"exitcode: the installer was downloaded once ({downloads} downloads)")
    close_first_page("exitcode", inst, mark)
    check(leftovers() == [], f"exitcode: closing deletes the kept installer ({leftovers()})")


def scenario_dots():
    fresh_state()
    inst = open_installer("dots")
    if not inst:
        return
    inst.click(INSTALL)
    check(wait_log("get image finished", 30) is not None, "dots: the banners are fetched")
    # The readiness timer shows the first one.
    inst.pixel_when("dots-0", BANNER_EDGE, lambda p: near(p, BANNER_COLOURS[0]))
    for index in (2, 1):
        inst.click(DOTS[index])
        pixel = inst.pixel_when(f"dots-{index + 1}", BANNER_EDGE, lambda p: near(p, BANNER_COLOURS[index]),
                                timeout=2.0)
        check(pixel is not None and near(pixel, BANNER_COLOURS[index]),
              f"dots: the dot of banner {index + 1} shows it ({pixel})")
    check(wait_log("UpdateWindowSate:kWindow_Finish", 120) is not None, "dots: the road goes on to the end")
    inst.click(CLOSE)
    check(inst.wait_exit(30) == 0, "dots: closed after the finish with exit code 0")


def scenario_badcarousel():
    fresh_state()
    api_get("/control/carousel?mode=badimages")
    try:
        inst = open_installer("badcarousel")
        if not inst:
            return
        inst.click(INSTALL)
        check(wait_log("get image finished", 30) is not None, "badcarousel: the banner list was handled")
        shown = set()
        for n in range(10):
            img = inst.shot(f"badcarousel-progress-{n:02d}")
            if img and not wait_log("UpdateWindowSate:kWindow_Finish", 0):
                pixel = img.getpixel(BANNER_EDGE)
                shown.add("good" if near(pixel, BANNER_COLOURS[0]) else
                          "default" if default_banner_diff(img) < 12 else "other")
            time.sleep(0.6)
        check(shown and shown <= {"good", "default"}, f"badcarousel: only the good banner or the default ({shown})")
        lines = "\n".join(log_lines())
        check(lines.count("image refused (MD5 or format)") == 2, "badcarousel: the two wrong images are refused")
        check("download image failed" in lines, "badcarousel: the missing image is logged")
        folder = data_dir / "language" / "English"
        check(sorted(p.name for p in folder.glob("pr_*.png")) == ["pr_1.png"], "badcarousel: only the good image is kept")
        check(wait_log("UpdateWindowSate:kWindow_Finish", 120) is not None, "badcarousel: the road goes on to the end")
        inst.click(CLOSE)
        check(inst.wait_exit(30) == 0, "badcarousel: closed after the finish with exit code 0")
    finally:
        api_get("/control/carousel?mode=good")


def scenario_badapi():
    for carousel, collector in (("malformed", "error"), ("slow", "silent")):
        name = f"badapi-{carousel}"
        fresh_state()
        api_get(f"/control/carousel?mode={carousel}")
        api_get(f"/control/collector?mode={collector}")
        try:
            inst = open_installer(name)
            if not inst:
                return
            inst.click(INSTALL)
            check(wait_log("UpdateWindowSate:kWindow_Downloading", 20) is not None, f"{name}: the progress page")
            diff = default_banner_shown(inst, f"{name}-progress")
            check(diff < 12, f"{name}: the default banner is shown (difference {diff:.1f})")
            check(wait_log("UpdateWindowSate:kWindow_Finish", 120) is not None, f"{name}: the road goes on to the end")
            lines = "\n".join(log_lines())
            if carousel == "malformed":
                check("carousel answer is no JSON" in lines, f"{name}: the broken answer is logged")
                check("request ret Code: 500" in lines, f"{name}: the collector's failure is logged")
            inst.click(CLOSE)
            check(inst.wait_exit(30) == 0, f"{name}: closed after the finish with exit code 0")
        finally:
            api_get("/control/reset")


def scenario_rtl():
    global title
    fresh_state()
    api_get("/control/carousel?mode=empty")
    english = title
    title = text_of("Arabic", "STR_MESSAGEBOX_TITLE")
    try:
        inst = open_installer("rtl", LANG="ar_SA.UTF-8", LC_ALL="ar_SA.UTF-8")
        if not inst:
            return
        inst.shot("rtl-1-init")
        inst.click(INSTALL)
        check(wait_log("UpdateWindowSate:kWindow_Downloading", 20) is not None, "rtl: the progress page")
        diff = default_banner_shown(inst, "rtl-2-progress")
        check(diff < 12, f"rtl: the default banner is shown (difference {diff:.1f})")
        check(wait_log("UpdateWindowSate:kWindow_Finish", 120) is not None, "rtl: the finish page follows")
        inst.shot("rtl-3-finish")
        inst.click(CLOSE_RTL)
        check(inst.wait_exit(30) == 0, "rtl: closed after the finish with exit code 0")
    finally:
        title = english
        api_get("/control/carousel?mode=good")


def stopped_download(name):
    """Install, and Escape once the download has run a while: the question is
    shown and the download stopped, its files kept. The installer, or None."""
    inst = open_installer(name)
    if not inst:
        return None
    inst.click(INSTALL)
    check(wait_log(r"engine: .* connection\(s\)", 30) is not None, f"{name}: the download runs")
    time.sleep(1.0)
    mark = log_mark()
    inst.escape()
    line = wait_log("ShowMessage:", 10, mark)
    check(line is not None and "in progress" in line, f"{name}: the question of the progress page ({line})")
    check(wait_log(r"HttpDownload,ret = -5", 15, mark) is not None, f"{name}: the download stops meanwhile")
    inst.shot(f"{name}-1-question")
    return inst


def scenario_close():
    fresh_state()
    inst = stopped_download("close")
    if not inst:
        return
    mark = log_mark()
    answer("n")
    resumed = wait_log(r"engine: resuming with (\d+) of", 30, mark)
    check(resumed is not None and int(re.search(r"with (\d+)", resumed).group(1)) > 0,
          f"close: No resumes the download from its files ({resumed})")
    check(wait_log("HttpDownload,ret = 0", 60, mark) is not None, "close: the resumed download completes")
    check(wait_log("UpdateWindowSate:kWindow_Installing", 30, mark) is not None, "close: the install starts")
    time.sleep(1.0)
    inst.shot("close-2-installing")
    mark = log_mark()
    inst.escape()
    line = wait_log("ShowMessage:", 10, mark)
    check(line is not None and "in progress" in line, "close: the question during the install")
    answer("y")
    check(inst.wait_exit(30) == 0, "close: Yes closes the installer with exit code 0")
    # The window ends the installer as it closes: give its process time to
    # go, then make sure (a kill that finds it is the failure).
    poll(lambda: subprocess.run(["pgrep", "-f", "zelvane-download.tmp"], capture_output=True).returncode == 0,
         lambda alive: not alive, 10)
    running = taskkill("zelvane-download.tmp")
    check(not running, f"close: the silent installer process was ended ({running})")
    check(leftovers() == [],
          f"close: the downloaded installer and the progress file are deleted ({leftovers()})")


# ---------------------------------------------------------------- trust checks
# Installers the build made next to the signed demo installer (tools/codesign.py).
variants = build / "tools" / "demo" / "variants"


def refused_installer(name, reason, variant=None):
    """The installer served (variant, or the signed one) downloads, is refused
    before it runs: the failure message, the file deleted, the reason logged,
    nothing installed."""
    fresh_state()
    make = (lambda path: shutil.copyfile(variants / variant, path)) if variant else None
    with served_instead(make) if variant else contextlib.nullcontext():
        inst = open_installer(name)
        if not inst:
            return
        inst.click(INSTALL)
        check(wait_log("HttpDownload,ret = 0", 60) is not None, f"{name}: the file downloads")
        failed_install(name, inst)
        why = wait_log(r"StartInstallExe: (?!installer failed)", 0)
        check(why is not None and re.search(reason, why) is not None, f"{name}: the log says why ({why})")
        check(wait_log(r"installer failed \(started 0", 0) is not None, f"{name}: it was not run")
        check(not (product_dir / "Quillory.exe").exists(), f"{name}: nothing was installed")


def scenario_unsigned():
    refused_installer("unsigned", r"signature", "demo-installer-unsigned.exe")


def scenario_tampered():
    refused_installer("tampered", r"signature|hash|digest", "demo-installer-tampered.exe")


def scenario_wrongsigner():
    refused_installer("wrongsigner", r"another publisher|Mallory Tools", "demo-installer-wrong-signer.exe")


def scenario_pin():
    refused_installer("pin", r"SHA-256|pin")


def scenario_exit3010():
    fresh_state()
    inst = open_installer("exit3010", ZV_DEMO_EXIT_CODE="3010")
    if not inst:
        return
    inst.click(INSTALL)
    check(wait_log("UpdateWindowSate:kWindow_Finish", 150) is not None, "exit3010: the finish page follows")
    check(wait_log(r"exit code 3010", 0) is not None, "exit3010: the log has the code")
    check(wait_log("ShowMessage:", 0) is None, "exit3010: no failure message")
    check((product_dir / "Quillory.exe").is_file(), "exit3010: the demo product is installed")
    time.sleep(1.5)
    inst.shot("exit3010-finish")
    got = collected_event_names()
    check("Installed_Succeed" in got, f"exit3010: the success event ({got})")
    inst.click(CLOSE)
    check(inst.wait_exit(30) == 0, "exit3010: closed after the finish with exit code 0")
    check(leftovers() == [], f"exit3010: the downloaded installer is deleted ({leftovers()})")


# ---- resume validators: a file replaced between a stopped and a resumed download

def changed_dos_stub(data):
    """The image with the text of its DOS stub changed: a part of the file
    that Windows never runs, inside the signed image hash."""
    stub = b"This program cannot be run in DOS mode"
    at = data.find(stub)
    if at < 0:
        at = 0x40
    return data[:at] + data[at:at + len(stub)].swapcase() + data[at + len(stub):]


def same_size_build(original):
    """Another build of the demo installer with the same size, and whether it
    is signed: the unsigned build with a changed DOS stub, signed by the same
    vendor (the RSA signature has a fixed size). Where that cannot be made,
    the served file with a changed DOS stub, whose signature is then broken."""
    try:
        sys.path.insert(0, str(source / "tools"))
        import codesign
        work = artifacts / "replaced-build"
        work.mkdir(exist_ok=True)
        unsigned = work / "unsigned.exe"
        unsigned.write_bytes(changed_dos_stub((variants / "demo-installer-unsigned.exe").read_bytes()))
        signed = work / "demo-installer.exe"  # the program name the build signed with
        certs = build / "peers" / "certs"
        codesign.sign(unsigned, signed, certs / "codesign-vendor.pem", certs / "codesign-vendor.key")
        data = signed.read_bytes()
        if len(data) == original.stat().st_size:
            return data, True
        print(f"replaced: the re-signed build has {len(data)} bytes, not {original.stat().st_size}")
    except (ImportError, OSError, SystemExit) as e:
        print(f"replaced: no second signed build ({e})")
    return changed_dos_stub(original.read_bytes()), False


def first_open(path, timeout):
    """A handle on the file as soon as it appears: its bytes stay readable
    even if the installer deletes the file afterwards."""
    end = time.time() + timeout
    while time.time() < end:
        try:
            return open(path, "rb")
        except FileNotFoundError:
            time.sleep(0.02)
    return None


def scenario_replaced():
    fresh_state()
    new_build, signed = same_size_build(served)
    check(len(new_build) == served.stat().st_size and new_build != served.read_bytes(),
          f"replaced: another build of the same size (signed: {signed})")
    inst = stopped_download("replaced")
    if not inst:
        return
    partial = data_dir / "zelvane-download.exe.tmp"
    check(partial.exists() and partial.stat().st_size > 0, "replaced: bytes of the first build are on disk")
    meta = (data_dir / "zelvane-download.exe.cfg").read_bytes()
    check(b"4:etag" in meta, f"replaced: the resume file records the server's ETag ({meta[-120:]!r})")
    with served_instead(lambda path: path.write_bytes(new_build)):
        mark = log_mark()
        answer("n")
        line = wait_log("the file on the server has changed", 30, mark)
        check(line is not None and "If-Range" in line, f"replaced: the resumed download starts over and says why ({line})")
        downloaded = first_open(data_dir / "zelvane-download.exe", 180)
        check(downloaded is not None, "replaced: the download completes")
        if downloaded:
            with downloaded:
                got = downloaded.read()
            check(got == new_build, f"replaced: the file is the new build byte for byte ({len(got)} bytes)")
        check(wait_log("HttpDownload,ret = 0", 30, mark) is not None, "replaced: the download reports success")
        end = wait_log(r"UpdateWindowSate:kWindow_Finish|ShowMessage:", 150, mark)
    if signed or (end and "kWindow_Finish" in end):
        inst.shot("replaced-2-end")
        check(end is not None and "kWindow_Finish" in end, f"replaced: the new signed build runs to the finish ({end})")
        check((product_dir / "Quillory.exe").is_file(), "replaced: the new build installed the demo product")
        inst.click(CLOSE)
        check(inst.wait_exit(30) == 0, "replaced: closed with exit code 0")
    else:
        # A build changed after signing is refused; that is right as long as
        # the file was the new build.
        refused = wait_log(r"StartInstallExe: .*signature", 0, mark)
        check(refused is not None, f"replaced: not run only because its signature was refused ({refused})")
        mark = log_mark()
        answer("Return")
        wait_log("UpdateWindowSate:kWindow_Init", 15, mark)
        inst.click(CLOSE)
        wait_log("ShowMessage:", 10, mark + 1)
        answer("y")
        check(inst.wait_exit(30) == 0, "replaced: closed with exit code 0")


def scenario_datafull():
    fresh_state()
    data_dir.mkdir(parents=True, exist_ok=True)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(data_dir)]).returncode == 0
    if not check(mounted, "datafull: a 1 MiB tmpfs is mounted at the data folder (the test runs as root)"):
        return
    try:
        inst = open_installer("datafull")
        if not inst:
            return
        mark = log_mark()
        inst.click(INSTALL)
        line = wait_log("ShowMessage:", 30, mark)
        storage, network = text_of("English", "STR_STORAGE"), text_of("English", "STR_NETWORK_ERROR")
        check(line is not None and storage in line and network not in line,
              f"datafull: the storage message, not the network one ({line})")
        check(wait_log("DataFreeSize:0MB", 0, mark) is not None, "datafull: the data folder's free space is logged")
        inst.shot("datafull-1-message")
        answer("Return")
        check(wait_log("UpdateWindowSate:kWindow_Init", 10, mark) is not None, "datafull: back to the first page")
        check("Download...." not in "\n".join(log_lines()[mark:]), "datafull: no download was started")
        check(leftovers() == [], f"datafull: nothing downloaded ({leftovers()})")
        params = failure_event_params()
        check(params.get("phase") == "space" and params.get("error_category") == "check" and
              params.get("error_code") == 1 and params.get("proxy") is False,
              f"datafull: the failure event names the space phase and the 1 MiB missing ({params})")
        close_first_page("datafull", inst, mark + 1)
    finally:
        kill_leftovers()
        subprocess.run(["umount", "-l", str(data_dir)])


try:
    for name in scenarios:
        print(f"--- {name}", flush=True)
        for old in artifacts.glob(f"{name}-*.png"):
            old.unlink()
        globals()["scenario_" + name]()
finally:
    kill_leftovers()

print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
