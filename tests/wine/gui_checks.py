"""Check reporting and xdotool calls shared by the tests that drive Windows
programs under Wine with real X input."""
import subprocess


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
