#!/usr/bin/env python3
"""tools/check-layers on a copy of the source tree: the tree as it stands
passes, and each planted include below makes the check fail with its reason."""
import os
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.environ.get("ZV_SOURCE_DIR") or os.path.join(os.path.dirname(__file__), "..", "..")
CHECK = os.path.join(SOURCE, "tools", "check-layers")
FOLDERS = ["system", "log", "engine", "http", "tool", "ui", "download", "common", "Window"]

# (file to plant into, include line, text the check must report)
PLANTS = [
    ("engine/url.h", '#include "download/HttpDownload.h"', "up a floor, from engine to download"),
    ("system/Strings.h", '#include "log/Log.h"', "up a floor, from system to log"),
    ("tool/RequestUrl.h", '#include "engine/url.h"', "tool and engine share a floor"),
    ("ui/win/UIManager.cpp", '#include "ui/win/UIControls.h"', "up a floor, from ui/win core to ui/win controls"),
    ("ui/archive/ZipArchive.h", '#include "ui/markup_tree/XmlDocument.h"', "up a floor, from ui/archive"),
    ("tool/BaseRequest.h", '#include "WinHttpRequest.h"', "back into CWinHttpRequest, a subclass of its own CBaseRequest"),
]


def run(root):
    done = subprocess.run([sys.executable, CHECK, "--root", root], capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for folder in FOLDERS:
            shutil.copytree(os.path.join(SOURCE, folder), os.path.join(tmp, folder),
                            ignore=shutil.ignore_patterns("*.png", "*.zip", "*.ico"))
        code, out = run(tmp)
        print(out.strip().splitlines()[-1])
        if code != 0:
            print("FAIL: the tree as it stands does not pass:\n" + out)
            failures += 1
        for rel, line, reason in PLANTS:
            path = os.path.join(tmp, rel)
            with open(path, encoding="utf-8") as f:
                original = f.read()
            with open(path, "w", encoding="utf-8") as f:
                f.write(original + "\n" + line + "\n")
            code, out = run(tmp)
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
            if code == 1 and reason in out:
                print(f"ok: {rel} + {line}: {reason}")
            else:
                print(f"FAIL: {rel} + {line}: exit {code}, expected '{reason}' in:\n{out}")
                failures += 1
    print(f"{failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
