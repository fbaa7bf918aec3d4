#!/usr/bin/python3
"""The demo installer under Wine for keyboard and screen-reader users.

Scenarios:
  keyboard       the whole road with the keyboard alone: focus starts on
                 Install; Tab to the licence box, Space twice (Install
                 unavailable, then available again), Escape asks and No
                 keeps the window, Tab around the page back to Install, Enter,
                 the download and the install, focus on Start, Enter starts
                 the product
  accessibility  the accessible tree read by msaa_probe (a Windows program,
                 AccessibleObjectFromWindow) on the first page, the progress
                 page and the finish page, in English and in Arabic: names,
                 roles, states, reading order, navigation and hit-testing at
                 each control's centre; Install pressed through its default
                 action; the focus and progress WinEvents
  progress       the progress page's status line, read from the accessible
                 tree while the demo server sends slowly, in English and in
                 Arabic: "Connecting…" before the size query, then the bytes,
                 the speed and a rounded time left, then the installing
                 caption; screenshots of the page

The focus ring is saved in screenshots in BUILD_DIR/artifacts/accessibility/.
Needs the fixtures wine, demo.servers and wine.test_ca.

usage: accessibility_test.py INSTALLER_EXE PROBE_EXE BUILD_DIR SOURCE_DIR SCENARIO
"""
import json
import re
import shutil
import subprocess
import sys
import time
import urllib.request
import ssl
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "wine"))
from gui_checks import GuiChecks, poll, shipped_text, wait_or_kill, wine_session  # noqa: E402

exe, probe_exe, build, source, scenario = sys.argv[1:6]
build, source, artifacts, wine_run, env = wine_session(build, source, "accessibility")
data_dir = build / "wineprefix" / "drive_c" / "Program Files" / "zelvane_down" / Path(exe).stem
log_file = data_dir / "Log" / "zelvane_down.log"
product_dir = build / "wineprefix" / "drive_c" / "Program Files" / "Quillory"
demo = dict(line.split("=", 1) for line in (build / "peers" / "run" / "demo.env").read_text().split())
api = f"https://localhost:{demo['api_https']}"
ARABIC = {"LANG": "ar_SA.UTF-8", "LC_ALL": "ar_SA.UTF-8"}

# MSAA roles and states (oleacc.h).
PUSHBUTTON, CHECKBUTTON, RADIOBUTTON, LINK, PROGRESSBAR, STATICTEXT, GRAPHIC, CLIENT = (
    0x2B, 0x2C, 0x2D, 0x1E, 0x30, 0x29, 0x28, 0x0A)
WINDOW = 0x09
UNAVAILABLE, FOCUSED, CHECKED, INVISIBLE, FOCUSABLE = 0x1, 0x4, 0x10, 0x8000, 0x100000

gui = GuiChecks(env)
check, xdo = gui.check, gui.xdo


def text(language, key):
    """A shipped text as a screen reader reads it: brand put in, markup tags removed."""
    value = shipped_text(source, language, key)
    if value is None:
        return None
    value = value.replace("BRAND", "Quillory")
    while "{" in value and "}" in value[value.index("{"):]:
        value = value[:value.index("{")] + value[value.index("}", value.index("{")) + 1:]
    return value.strip()


def log_has(pattern, timeout=30):
    end = time.time() + timeout
    while True:
        try:
            if pattern in log_file.read_bytes().decode("utf-8", "replace"):
                return True
        except FileNotFoundError:
            pass
        if time.time() >= end:
            return False
        time.sleep(0.3)


def probe(*args, name=None):
    """msaa_probe's JSON lines; with name, also kept as an artefact."""
    out = subprocess.run([str(wine_run), probe_exe, *args], env=dict(env, ZV_WINE_TIMEOUT="90"),
                         capture_output=True, timeout=120)
    lines = out.stdout.decode("utf-8", "replace").splitlines()
    if name:
        (artifacts / f"{name}.jsonl").write_text("\n".join(lines) + "\n", encoding="utf-8")
    return [json.loads(line) for line in lines if line.startswith("{")]


def tree(name):
    """(client object, children) of the window's accessible tree."""
    nodes = probe("tree", name=name)
    client = next((n for n in nodes if n.get("object") == "client"), None)
    return client, [n for n in nodes if "hit" in n]


def focused(children):
    return next((c for c in children if c["state"] & FOCUSED), None)


def by_name(children, name, role=None):
    return next((c for c in children if c["name"] == name and (role is None or c["role"] == role)), None)


def fresh_state():
    subprocess.run([str(wine_run), "taskkill", "/F", "/IM", "Quillory.exe", "/IM", "zelvane-download.tmp",
                    "/IM", Path(exe).name], env=env, capture_output=True, timeout=60)
    shutil.rmtree(data_dir, ignore_errors=True)
    shutil.rmtree(product_dir, ignore_errors=True)
    tls = ssl.create_default_context(cafile=demo["ca"])
    urllib.request.urlopen(api + "/control/reset", context=tls, timeout=10).read()


class Installer:
    """The demo installer with its X window, the keyboard focused on it."""

    def __init__(self, extra_env=None):
        self.proc = subprocess.Popen([str(wine_run), exe], env=dict(env, **(extra_env or {})),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.ready = log_has("UpdateWindowSate:kWindow_Init", 30)
        self.origin = None
        self.xid = None
        if self.ready:
            client, _ = tree("window")
            if client:
                self.origin = (client["left"], client["top"])
                self.xid = self.find_x_window()
        self.focus()

    def find_x_window(self):
        """The X window at the client's origin (its id for keyboard focus)."""
        for wid in xdo("search", "--onlyvisible", "--name", "Quillory", capture=True).split():
            geo = dict(kv.split("=") for kv in xdo("getwindowgeometry", "--shell", wid, capture=True).split())
            if (int(geo["X"]), int(geo["Y"])) == self.origin and int(geo["WIDTH"]) == 650:
                return wid
        return None

    def focus(self):
        """Keyboard focus to the window, as switching to it would (no mouse involved)."""
        if self.xid:
            xdo("windowfocus", "--sync", self.xid)
            time.sleep(0.3)

    def key(self, *keys):
        for k in keys:
            xdo("key", k)
            time.sleep(0.4)

    def shot(self, name):
        if self.origin:
            gui.window_shot(str(artifacts), name, self.origin, (650, 360))


def focus_is(label, wanted_name, wanted_role=None, timeout=5.0):
    """The focused child after a key, polled until it is the wanted one."""
    def read():
        return focused(tree(f"focus-{label}")[1])
    got = poll(read, lambda f: f is not None and f["name"] == wanted_name and
               (wanted_role is None or f["role"] == wanted_role), timeout, interval=0.5)
    return check(got is not None and got["name"] == wanted_name and (wanted_role is None or got["role"] == wanted_role),
                 f"{label}: focus on {wanted_name!r} ({got and (got['name'], got['role'])})")


def scenario_keyboard():
    fresh_state()
    inst = Installer()
    if not check(inst.ready and inst.origin is not None and inst.xid is not None,
                 f"keyboard: the window opens and takes the keyboard ({inst.origin}, {inst.xid})"):
        return
    install = text("English", "STR_INSTALL")
    agree = licence = text("English", "STR_LISENCE")  # the box is named by the sentence beside it
    customize = text("English", "STR_CUSTOMIZE_INSTALL")
    focus_is("start", install, PUSHBUTTON)

    inst.key("Tab")
    focus_is("tab", agree, CHECKBUTTON)
    inst.shot("keyboard-1-home-ring-en")
    inst.key("shift+Tab")
    focus_is("shift-tab", install, PUSHBUTTON)
    inst.shot("keyboard-2-home-ring-install-en")
    inst.key("Tab")

    inst.key("space")
    _, children = tree("keyboard-unchecked")
    box, button = by_name(children, agree, CHECKBUTTON), by_name(children, install, PUSHBUTTON)
    check(box is not None and not box["state"] & CHECKED and button is not None and button["state"] & UNAVAILABLE,
          "keyboard: Space unchecks the licence box and Install becomes unavailable")
    inst.key("Return")  # Enter on the box toggles it like Space
    _, children = tree("keyboard-checked")
    box, button = by_name(children, agree, CHECKBUTTON), by_name(children, install, PUSHBUTTON)
    check(box is not None and box["state"] & CHECKED and button is not None and not button["state"] & UNAVAILABLE,
          "keyboard: Enter checks it again and Install is available")

    inst.key("Escape")
    check(log_has("ShowMessage:" + text("English", "STR_CLOSE_TIP1"), 10), "keyboard: Escape asks the close question")
    time.sleep(1.0)
    xdo("key", "n")  # the question has the keyboard
    time.sleep(1.0)
    check(inst.proc.poll() is None, "keyboard: No keeps the window open")
    inst.focus()

    # Around the page in reading order, wrapping from the end to the start.
    for step, (name, role) in enumerate(((licence, LINK), (customize, CHECKBUTTON), ("Minimize", PUSHBUTTON),
                                         ("Close", PUSHBUTTON), (install, PUSHBUTTON))):
        inst.key("Tab")
        focus_is(f"tab-around-{step}", name, role)

    inst.key("Return")
    check(log_has("UpdateWindowSate:kWindow_Downloading", 20), "keyboard: Enter on Install starts the download")
    check(log_has("UpdateWindowSate:kWindow_Finish", 180), "keyboard: the download and the install end on the finish page")
    time.sleep(1.5)
    inst.focus()  # the product's page may have opened in front
    focus_is("finish", text("English", "STR_START"), PUSHBUTTON, timeout=10)
    inst.shot("keyboard-3-finish-en")
    inst.key("Return")
    rc = wait_or_kill(inst.proc, 30)
    check(rc == 0, f"keyboard: Enter on Start closes the installer with exit code 0 ({rc})")
    marker = product_dir / "Quillory" / "started.marker"
    check(poll(marker.exists, bool, 20), "keyboard: Start launched the product")


def check_tree(label, client, children, rtl, roles):
    """The client object and its children; roles: the children's roles in
    reading order, the carousel dots (radio buttons) left out."""
    if not check(client is not None, f"{label}: AccessibleObjectFromWindow gives the client object"):
        return
    check(client["role"] == CLIENT and client["name"] == client_title, f"{label}: the client ({client['name']!r})")
    # Wine's standard window object answers get_accRole with E_NOTIMPL: the
    # role is checked where the system provides it.
    check(client["parent"] and client["parentRole"] in (WINDOW, 0),
          f"{label}: its parent is the window frame (role {client['parentRole']}, {client['parentRoleResult']:#x})")
    check(client["children"] == len(children) and client["childrenResult"] == 0 and children,
          f"{label}: AccessibleChildren lists {len(children)} children")
    check(client["navigation"], f"{label}: accNavigate visits the same children in the same order")
    check(all(c["hit"] == c["id"] for c in children),
          f"{label}: hit-testing at each centre finds that control ({[(c['id'], c['hit']) for c in children]})")
    check(all(c["name"] for c in children if c["role"] != GRAPHIC), f"{label}: every control has a name")
    check(all(not c["state"] & INVISIBLE and c["width"] > 0 for c in children), f"{label}: only visible controls")
    check(client["hidden"] > 0 and client["hiddenInvisible"] == client["hidden"],
          f"{label}: the {client['hidden']} controls not listed say they are invisible ({client['hiddenInvisible']})")
    check(all(c["action"] for c in children if c["role"] in (PUSHBUTTON, CHECKBUTTON, LINK)),
          f"{label}: buttons, boxes and links have a default action")
    got = [c["role"] for c in children if c["role"] != RADIOBUTTON]
    check(got == roles, f"{label}: the children in reading order ({[hex(r) for r in got]}, "
                        f"{[c['name'][:12] for c in children]})")
    dots = [int(c["name"]) for c in children if c["role"] == RADIOBUTTON]
    check(dots == sorted(dots, reverse=rtl), f"{label}: the carousel dots {'right to left' if rtl else 'left to right'} ({dots})")


client_title = None


def road_tree(language, extra_env):
    """The three pages of one language; Install pressed through MSAA."""
    global client_title
    rtl = language == "Arabic"
    tag = "ar" if rtl else "en"
    client_title = text(language, "STR_MESSAGEBOX_TITLE")
    fresh_state()
    inst = Installer(extra_env)
    if not check(inst.ready, f"{tag}: the window opens"):
        return
    install, start = text(language, "STR_INSTALL"), text(language, "STR_START")
    client, children = tree(f"tree-{tag}-1-home")
    # The licence row: the box then its sentence, or the sentence first where
    # the right-to-left skin puts it at the right.
    licence_row = [LINK, CHECKBUTTON, CHECKBUTTON] if rtl else [CHECKBUTTON, LINK, CHECKBUTTON]
    check_tree(f"{tag} home", client, children, rtl, [PUSHBUTTON, PUSHBUTTON, PUSHBUTTON] + licence_row)
    expected = [(install, PUSHBUTTON), (text(language, "STR_LISENCE"), CHECKBUTTON),
                (text(language, "STR_LISENCE"), LINK), (text(language, "STR_CUSTOMIZE_INSTALL"), CHECKBUTTON)]
    for name, role in expected:
        check(by_name(children, name, role) is not None, f"{tag} home: {name!r} with role {role:#x}")
    buttons = [c for c in children if c["role"] == PUSHBUTTON and c["name"] != install]
    check(len(buttons) == 2 and all(b["width"] == 20 for b in buttons) and
          (tag != "en" or sorted(b["name"] for b in buttons) == ["Close", "Minimize"]),
          f"{tag} home: the caption buttons are named like the system menu ({[b['name'] for b in buttons]})")
    check(focused(children) is not None and focused(children)["name"] == install, f"{tag} home: Install has the focus")
    box = by_name(children, text(language, "STR_LISENCE"), CHECKBUTTON)
    check(box is not None and box["state"] & CHECKED and box["state"] & FOCUSABLE, f"{tag} home: the licence box is checked")
    fold = by_name(children, text(language, "STR_CUSTOMIZE_INSTALL"), CHECKBUTTON)
    check(fold is not None and not fold["state"] & CHECKED, f"{tag} home: Customize is not checked")
    inst.key("Tab")
    inst.shot(f"accessibility-{tag}-1-home-ring")

    events = subprocess.Popen([str(wine_run), probe_exe, "events", "40"], env=dict(env, ZV_WINE_TIMEOUT="90"),
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    time.sleep(3.0)
    inst.key("shift+Tab")
    pressed = probe("press", install)
    check(pressed and pressed[0].get("result") == 0, f"{tag}: Install pressed through its default action ({pressed})")
    check(log_has("UpdateWindowSate:kWindow_Downloading", 20), f"{tag}: the progress page")
    time.sleep(2.0)
    client, children = tree(f"tree-{tag}-2-progress")
    check_tree(f"{tag} progress", client, children, rtl, [GRAPHIC, PROGRESSBAR, STATICTEXT, STATICTEXT, PUSHBUTTON])
    texts = [c["name"] for c in children if c["role"] == STATICTEXT]
    check(len(texts) == 2 and status_kind(language, texts[0]) is not None and texts[1].endswith(" %"),
          f"{tag} progress: the status line, then the percentage ({texts})")
    bar = next((c for c in children if c["role"] == PROGRESSBAR), None)
    check(bar is not None and bar["name"] == text(language, "STR_INSTALLING") and bar["value"].endswith("%"),
          f"{tag} progress: the bar is named and tells its value ({bar and (bar['name'], bar['value'])})")
    check(by_name(children, text(language, "STR_HIDE"), PUSHBUTTON) is not None, f"{tag} progress: Hide")
    check(any(c["role"] == GRAPHIC for c in children), f"{tag} progress: the banner is a graphic")
    check(by_name(children, install) is None, f"{tag} progress: the first page's controls are gone")

    check(log_has("UpdateWindowSate:kWindow_Finish", 180), f"{tag}: the finish page")
    time.sleep(1.5)
    client, children = tree(f"tree-{tag}-3-finish")
    check_tree(f"{tag} finish", client, children, rtl, [PUSHBUTTON, PUSHBUTTON, PUSHBUTTON])
    button = by_name(children, start, PUSHBUTTON)
    check(button is not None and button["state"] & FOCUSED, f"{tag} finish: Start has the focus")
    check(by_name(children, install) is None and by_name(children, text(language, "STR_LISENCE")) is None,
          f"{tag} finish: no Install and no licence row")
    inst.shot(f"accessibility-{tag}-3-finish")

    out, _ = events.communicate(timeout=120)
    seen = [json.loads(line) for line in out.decode("utf-8", "replace").splitlines() if line.startswith("{")]
    (artifacts / f"events-{tag}.jsonl").write_text("\n".join(json.dumps(e) for e in seen) + "\n")
    check(any(e.get("hook") for e in seen), f"{tag}: the WinEvent hook is set")
    check(any(e.get("event") == "focus" and e["child"] > 0 for e in seen), f"{tag}: Tab raises a focus event")
    values = [e["ms"] for e in seen if e.get("event") == "value" and e["child"] == (bar["id"] if bar else -1)]
    check(len(values) >= 2, f"{tag}: the progress bar raises value changes ({len(values)})")
    gaps = [b - a for a, b in zip(values, values[1:])]
    check(all(g >= 950 for g in gaps), f"{tag}: at most one progress value change a second (gaps {gaps[:12]})")
    # The close button is the outer caption button: right in English, left in Arabic.
    caption = sorted((c for c in children if c["role"] == PUSHBUTTON and c["width"] == 20), key=lambda c: c["left"])
    if check(len(caption) == 2, f"{tag} finish: the caption buttons"):
        probe("press", (caption[0] if rtl else caption[-1])["name"])
    rc = wait_or_kill(inst.proc, 30)
    check(rc == 0, f"{tag}: the close button's default action closes the finished installer ({rc})")


def scenario_accessibility():
    road_tree("English", {})
    road_tree("Arabic", ARABIC)


def status_patterns(language):
    """Regular expressions of the status line's texts, from the shipped templates."""
    number = r"[0-9]+(?:[^0-9\s][0-9]+)?"

    def template(key):
        return re.escape(text(language, key)).replace("%1", number).replace("%2", number)
    left = "|".join(template(k) for k in
                    ("STR_LEFT_FEW_SECONDS", "STR_LEFT_SECONDS", "STR_LEFT_MINUTES", "STR_LEFT_HOURS"))
    bytes_ = f"{template('STR_DOWNLOADED')}(?: \u00b7 {template('STR_SPEED')}(?: \u00b7 (?:{left}))?)?"
    return {"connecting": re.escape(text(language, "STR_CONNECTING")), "bytes": bytes_,
            "estimate": f"{template('STR_DOWNLOADED')} \u00b7 {template('STR_SPEED')} \u00b7 (?:{left})",
            "installing": re.escape(text(language, "STR_INSTALLING"))}


def status_kind(language, name):
    """Which status the line says: connecting, bytes, estimate or installing; None for anything else."""
    patterns = status_patterns(language)
    for kind in ("estimate", "connecting", "bytes", "installing"):
        if re.fullmatch(patterns[kind], name or ""):
            return kind
    return None


def progress_status(language, extra_env):
    """The status line of one language while the demo server sends slowly."""
    global client_title
    tag = "ar" if language == "Arabic" else "en"
    client_title = text(language, "STR_MESSAGEBOX_TITLE")
    fresh_state()
    slow = build / "peers" / "run" / "demo" / "slow-download"
    slow.write_text("")
    try:
        inst = Installer(extra_env)
        if not check(inst.ready and inst.origin is not None, f"{tag}: the window opens ({inst.origin})"):
            return
        pressed = probe("press", text(language, "STR_INSTALL"))
        check(pressed and pressed[0].get("result") == 0, f"{tag}: Install pressed ({pressed})")
        check(log_has("Download....", 30), f"{tag}: the download starts")
        # What the page says while the address and the size are checked: the
        # log records each change of the status line.
        log = log_file.read_bytes().decode("utf-8", "replace")
        steps = ["OnClickInstall", "progress status:connecting", "get file size begin", "get file size end",
                 "Download...."]
        at = [log.find(step) for step in steps]
        check(all(a >= 0 for a in at) and at == sorted(at),
              f"{tag}: the page says connecting before the size query, and the download follows ({at})")

        def status():
            _, children = tree(f"progress-{tag}-status")
            names = [c["name"] for c in children if c["role"] == STATICTEXT and not c["name"].endswith(" %")]
            return names[0] if names else None
        seen = []

        def note(name):
            seen.append(name)
            return status_kind(language, name) == "estimate"
        name = poll(status, note, 60, interval=1.0)
        check(status_kind(language, name) == "estimate",
              f"{tag}: the status line gives the bytes, the speed and the time left ({name!r})")
        inst.shot(f"progress-{tag}-estimate")
        kinds = [status_kind(language, n) for n in seen]
        check(None not in kinds and "installing" not in kinds,
              f"{tag}: every status read on the way is a download status ({seen})")
        log = log_file.read_bytes().decode("utf-8", "replace")
        said = re.findall(r"progress status:([a-z]+)", log)
        check(said[:3] == ["connecting", "bytes", "estimate"],
              f"{tag}: the log records connecting, the bytes, then the estimate ({said})")
    finally:
        slow.unlink(missing_ok=True)
    check(log_has("UpdateWindowSate:kWindow_Finish", 180), f"{tag}: the finish page follows")
    log = log_file.read_bytes().decode("utf-8", "replace")
    installing = "progress status:installing"
    check(log.find("HttpDownload,ret = 0") < log.find(installing) < log.find("UpdateWindowSate:kWindow_Finish"),
          f"{tag}: the installing caption follows the download")
    wait_or_kill(inst.proc, 1)


def scenario_progress():
    progress_status("English", {})
    progress_status("Arabic", ARABIC)


try:
    globals()["scenario_" + scenario]()
finally:
    subprocess.run([str(wine_run), "taskkill", "/F", "/IM", Path(exe).name, "/IM", "zelvane-download.tmp"],
                   env=env, capture_output=True, timeout=60)

print(f"{len(gui.failures)} failure(s)")
sys.exit(1 if gui.failures else 0)
