#!/usr/bin/env python3
"""The splash of a launcher packed with --splash, on a virtual X display: one table of cases.

Each case starts a launcher around the stand-in installer from start_without_handles.exe (as
Explorer starts a program, without standard handles, or with standard error in a file), the
installer taking the case's time. A case that expects the splash waits for the window titled with
the product name (xdotool), checks where it is and how large (centred on the 800x600 screen,
scaled for the screen's DPI, at most 70% of it), keeps a screenshot (ImageMagick's
import) and checks the colour at its centre; then it checks that the window is gone once the
launcher has started the game, or, when the installer fails, once the failure dialog is up. A case
that expects no splash looks for the window for as long as the launcher runs.
"""
import argparse
import os
import shutil
import subprocess
import sys
from dataclasses import dataclass

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from failure_dialog_test import WAIT, Failure, on_display, one_window, windows_path  # noqa: E402

TITLE = "Ostrevan"
RUNTIME_KEY = (r"HKLM\SOFTWARE\WOW6432Node\Microsoft\EdgeUpdate\Clients"
               r"\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}")
DPI_KEY = r"HKCU\Control Panel\Desktop"
# The colour make_splash.py puts at the centre of its images.
CENTRE = bytes([0xE8, 0x6A, 0x17])


@dataclass
class Case:
    name: str
    launcher: str         # "splash" (480x270), "large" (1000x500) or "small" (320x180)
    install_ms: int       # how long the stand-in installer takes
    registered: bool      # the runtime is registered: the installer runs silently
    game_present: bool = False
    stderr_file: bool = False
    installer_exit: int = 0
    status: int = 0
    # Where the splash is expected (x, y, width, height) on the 800x600 screen; None: no splash.
    splash: tuple = None
    dialog: bool = False  # the failure dialog follows the splash
    dpi: int = 96         # the screen's DPI as Wine gives it to programs (LogPixels)


CASES = [
    Case("runtime-absent", "splash", 2000, registered=False),
    Case("slow-install", "splash", 3000, True, splash=(160, 165, 480, 270)),
    # 1000x500 is more than 70% of the screen: scaled to 560x280.
    Case("large-image", "large", 3000, True, splash=(120, 160, 560, 280)),
    Case("fast-install", "splash", 200, True),
    Case("game-present", "splash", 3000, True, game_present=True),
    Case("stderr-to-file", "splash", 2000, True, stderr_file=True),
    Case("failing-installer", "splash", 3000, True, installer_exit=2, status=1,
         splash=(160, 165, 480, 270), dialog=True),
    # At 144 DPI a 320x180 image is drawn 1.5 times as large.
    Case("high-dpi", "small", 3000, True, splash=(160, 165, 480, 270), dpi=144),
]


class Cases:
    def __init__(self, args, display):
        self.args = args
        self.env = dict(os.environ, DISPLAY=display, LC_ALL="C.UTF-8")
        self.scratch_root = os.path.join(args.prefix, "drive_c", "brevlo-splash")
        shutil.rmtree(self.scratch_root, ignore_errors=True)
        os.makedirs(args.artefacts, exist_ok=True)
        self.failures = []

    def check(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition

    def wine(self, *words):
        return subprocess.run([self.args.wine, *words], env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=WAIT)

    def xdotool(self, *words):
        return subprocess.run(["xdotool", *words], env=self.env, capture_output=True, text=True,
                              timeout=WAIT)

    def visible(self):
        return self.xdotool("search", "--onlyvisible", "--name", "^" + TITLE + "$").stdout.split()

    def register_runtime(self, registered):
        if registered:
            done = self.wine("reg", "add", RUNTIME_KEY, "/v", "pv", "/d", "120.0.2210.91", "/f")
        else:
            done = self.wine("reg", "delete", RUNTIME_KEY, "/v", "pv", "/f")
            if self.wine("reg", "query", RUNTIME_KEY, "/v", "pv").returncode != 0:
                return
        if done.returncode != 0:
            raise Failure("the runtime registration could not be changed: " + repr(done.stderr))

    def logical_dpi(self):
        """The LogPixels value as reg query shows it ("0x60"), or None when there is none."""
        shown = self.wine("reg", "query", DPI_KEY, "/v", "LogPixels")
        words = shown.stdout.decode(errors="replace").split()
        return words[words.index("REG_DWORD") + 1] if "REG_DWORD" in words else None

    def set_logical_dpi(self, value):
        if value is None:
            done = self.wine("reg", "delete", DPI_KEY, "/v", "LogPixels", "/f")
            if self.logical_dpi() is None:
                return
        else:
            done = self.wine("reg", "add", DPI_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                             str(int(value, 0)), "/f")
        if done.returncode != 0:
            raise Failure("the screen's DPI could not be set: " + repr(done.stderr))

    def start(self, case):
        machine = os.path.join(self.scratch_root, case.name)
        os.makedirs(os.path.join(machine, "local"))
        os.makedirs(os.path.join(machine, "temp"))
        if case.game_present:
            os.makedirs(os.path.join(machine, "local", "Ostrevan"))
            shutil.copy(self.args.app, os.path.join(machine, "local", "Ostrevan", "Ostrevan.exe"))
        win = "C:\\brevlo-splash\\" + case.name
        launcher = {"splash": self.args.launcher, "large": self.args.large,
                    "small": self.args.small}[case.launcher]
        command = [self.args.wine, self.args.starter,
                   "--set", "TEMP=" + win + "\\temp", "--set", "TMP=" + win + "\\temp",
                   "--set", "LOCALAPPDATA=" + win + "\\local",
                   "--set", f"BREVLO_STANDIN_DELAY={case.install_ms}",
                   "--set", "BREVLO_STANDIN_INSTALL=" + ("0" if case.installer_exit else "1"),
                   "--set", "BREVLO_STANDIN_APP=" + windows_path(self.args.app),
                   "--set", f"BREVLO_STANDIN_EXIT={case.installer_exit}"]
        if case.stderr_file:
            command += ["--stderr-file", win + "\\stderr.txt"]
        command += ["--", windows_path(launcher)]
        process = subprocess.Popen(command, env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return process, machine

    def wait(self, case, process):
        try:
            code = process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            process.kill()
            self.check(False, f"{case.name}: the launcher did not end")
            return
        self.check(code == case.status, f"{case.name}: exit status {code}, not {case.status}")

    def quiet(self, case, process, machine):
        seen = set()
        while process.poll() is None:
            seen.update(self.visible())
        self.wait(case, process)
        self.check(not seen and not self.visible(), f"{case.name}: a splash was shown: {seen}")
        if case.stderr_file:
            with open(os.path.join(machine, "stderr.txt"), "rb") as written:
                self.check(written.read() == b"", f"{case.name}: standard error held lines")

    def shown(self, case, process):
        splash = one_window(self, case.name, TITLE, process)
        if splash is None:
            return
        geometry = dict(line.split("=") for line in
                        self.xdotool("getwindowgeometry", "--shell", splash).stdout.split())
        where = tuple(int(geometry[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
        self.check(where == case.splash, f"{case.name}: the splash is at {where}, not {case.splash}")
        # The X window is mapped before Wine has drawn into it: look until the image is there
        # (or the launcher has ended).
        shot = os.path.join(self.args.artefacts, case.name + ".png")
        centre = b""
        while centre != CENTRE and process.poll() is None:
            subprocess.run(["import", "-window", splash, shot], env=self.env,
                           capture_output=True, timeout=WAIT)
            centre = subprocess.run(["convert", shot, "-crop",
                                     f"1x1+{where[2] // 2}+{where[3] // 2}", "-depth", "8", "rgb:-"],
                                    capture_output=True, timeout=WAIT).stdout
        self.check(centre == CENTRE, f"{case.name}: the centre is {centre.hex()}, not {CENTRE.hex()}")
        if case.dialog:
            # The dialog comes up only once the splash is gone.
            others, now = [], []
            while process.poll() is None and not others:
                now = self.visible()
                others = [w for w in now if w != splash]
            self.check(others and splash not in now,
                       f"{case.name}: windows when the dialog is up: {now}, splash {splash}")
            for window in others:
                self.xdotool("windowfocus", "--sync", window)
                self.xdotool("key", "--window", window, "Return")
            self.xdotool("key", "Return")
        self.wait(case, process)
        self.check(self.visible() == [], f"{case.name}: a window is left after the launcher ended")


def run_cases(args, display):
    cases = Cases(args, display)
    before = cases.wine("reg", "query", RUNTIME_KEY, "/v", "pv").returncode == 0
    dpi_before = cases.logical_dpi()
    registered = None
    try:
        for case in CASES:
            if case.registered != registered:
                cases.register_runtime(case.registered)
                registered = case.registered
            if case.dpi != 96:
                cases.set_logical_dpi(str(case.dpi))
            process, machine = cases.start(case)
            if case.splash:
                cases.shown(case, process)
            else:
                cases.quiet(case, process, machine)
            if case.dpi != 96:
                cases.set_logical_dpi(dpi_before)
    finally:
        cases.register_runtime(before)
        cases.set_logical_dpi(dpi_before)
    for failure in cases.failures:
        print("FAILED: " + failure, file=sys.stderr)
    if not cases.failures:
        print(f"splash: {len(CASES)} cases passed; screenshots in {args.artefacts}")
    return 1 if cases.failures else 0


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wine", "--prefix", "--starter", "--launcher", "--large", "--small", "--app",
                   "--artefacts"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    return on_display(args.prefix, ("Xvfb", "xdotool", "import", "convert"),
                      lambda display: run_cases(args, display))


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as failure:
        print("FAILED: " + str(failure), file=sys.stderr)
        sys.exit(1)
