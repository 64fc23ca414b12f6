#!/usr/bin/env python3
"""The failure dialog of a launcher packed with --failure-dialog, on a virtual X display.

Each case starts a launcher around the stand-in installer (told to fail with exit code 2, or with
LOCALAPPDATA unset for a fatal stop) from start_without_handles.exe, as Explorer starts a program:
without standard handles. A launcher that shows its dialog waits in it, so the case finds the
window by its title (xdotool, waiting on it), keeps a screenshot (ImageMagick's import), presses
Return and then checks the exit status. A launcher that shows nothing ends by itself: the case
waits for its exit and then finds no window with the title. Every missing tool is a failure that
names it. The dialog's font is linked to WenQuanYi Micro Hei in the build tree's prefix, so the
Chinese text is drawn in the screenshots (Wine draws the emoji as a box; Windows does not).
"""
import argparse
import os
import shutil
import subprocess
import sys

# Seconds for any one event, times the tests' one time knob; the events themselves end every wait.
WAIT = 120 * int(os.environ.get("BREVLO_TEST_TIME_SCALE") or "1")


def windows_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class Failure(Exception):
    pass


def start_display():
    """Xvfb on a display number it picks itself; returns (process, ":N")."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as chosen:
        while not number.endswith(b"\n"):
            byte = chosen.read(1)
            if not byte:
                xvfb.kill()
                raise Failure("Xvfb ended before it told its display number")
            number += byte
    return xvfb, ":" + number.decode().strip()


def one_window(cases, name, title, process):
    """The one visible window titled title, waited for with cases' xdotool; None (the launcher
    killed, a failure noted with cases' check) when none comes or more than one."""
    try:
        found = cases.xdotool("search", "--sync", "--onlyvisible", "--name", "^" + title + "$")
    except subprocess.TimeoutExpired:
        process.kill()
        cases.check(False, f"{name}: no window titled {title!r} within {WAIT} s")
        return None
    windows = found.stdout.split()
    if not cases.check(len(windows) == 1, f"{name}: windows titled {title!r}: {windows}"):
        process.kill()
        return None
    return windows[0]


class Cases:
    def __init__(self, args, display):
        self.args = args
        self.env = dict(os.environ, DISPLAY=display, LC_ALL="C.UTF-8")
        self.scratch_root = os.path.join(args.prefix, "drive_c", "brevlo-dialog")
        shutil.rmtree(self.scratch_root, ignore_errors=True)
        os.makedirs(args.artefacts, exist_ok=True)
        self.failures = []

    def xdotool(self, *words, timeout=WAIT):
        return subprocess.run(["xdotool", *words], env=self.env, capture_output=True, text=True,
                              timeout=timeout)

    def windows_titled(self, title):
        found = self.xdotool("search", "--name", "^" + title + "$")
        return found.stdout.split()

    def start(self, name, launcher, fatal_stop, stderr_file=None):
        """Starts the launcher in a scratch machine of its own under C:\\brevlo-dialog."""
        machine = os.path.join(self.scratch_root, name)
        os.makedirs(os.path.join(machine, "local"))
        os.makedirs(os.path.join(machine, "temp"))
        win = "C:\\brevlo-dialog\\" + name
        command = [self.args.wine, self.args.starter,
                   "--set", "TEMP=" + win + "\\temp", "--set", "TMP=" + win + "\\temp",
                   "--set", "BREVLO_STANDIN_EXIT=2", "--set", "BREVLO_STANDIN_INSTALL=0"]
        if fatal_stop:
            command += ["--unset", "LOCALAPPDATA"]
        else:
            command += ["--set", "LOCALAPPDATA=" + win + "\\local"]
        if stderr_file:
            command += ["--stderr-file", win + "\\" + stderr_file]
        command += ["--", windows_path(launcher)]
        process = subprocess.Popen(command, env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return process, machine

    def check(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition

    def dialog_case(self, name, launcher, title, fatal_stop, status):
        process, _ = self.start(name, launcher, fatal_stop)
        window = one_window(self, name, title, process)
        if window is None:
            return
        self.check(self.xdotool("getwindowname", window).stdout == title + "\n",
                   f"{name}: the window's name is not {title!r}")
        self.check(process.poll() is None, f"{name}: the launcher ended while its dialog was up")
        shot = os.path.join(self.args.artefacts, name + ".png")
        taken = subprocess.run(["import", "-window", window, shot], env=self.env,
                               capture_output=True, timeout=WAIT)
        self.check(taken.returncode == 0 and os.path.getsize(shot) > 0,
                   f"{name}: no screenshot: {taken.stderr!r}")
        # The OK button has the focus: Return presses it.
        self.xdotool("windowfocus", "--sync", window)
        self.xdotool("key", "--window", window, "Return")
        self.xdotool("key", "Return")
        try:
            code = process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            process.kill()
            self.check(False, f"{name}: the launcher did not end once OK was pressed")
            return
        self.check(code == status, f"{name}: exit status {code}, not {status}")
        self.check(self.windows_titled(title) == [], f"{name}: the dialog is still there")

    def quiet_case(self, name, launcher, title, fatal_stop, status, stderr_file=None,
                   stderr_text=None):
        process, machine = self.start(name, launcher, fatal_stop, stderr_file)
        try:
            code = process.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            # A dialog keeps the launcher waiting; nothing else does.
            shown = self.windows_titled(title)
            process.kill()
            self.check(False, f"{name}: the launcher did not end by itself; windows: {shown}")
            return
        self.check(code == status, f"{name}: exit status {code}, not {status}")
        self.check(self.windows_titled(title) == [], f"{name}: a window titled {title!r}")
        if stderr_file:
            with open(os.path.join(machine, stderr_file), "rb") as written:
                text = written.read().decode("utf-8", "replace")
            self.check(text == stderr_text, f"{name}: standard error held {text!r}")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--wine", "--prefix", "--starter", "--report", "--branded", "--plain",
                   "--source", "--artefacts"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    font = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
    if not os.path.exists(font):
        print("missing " + font + ": bash scripts/setup.sh installs fonts-wqy-microhei",
              file=sys.stderr)
        return 1
    return on_display(args.prefix, ("Xvfb", "xdotool", "import"),
                      lambda display: run_cases(args, display))


def on_display(prefix, tools, run):
    """run(display) on a virtual X display of its own, with the prefix's Wine server session
    started there; 1 when a tool is missing or the server does not end."""
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        print("missing " + ", ".join(missing) + ": bash scripts/setup.sh installs xvfb, xdotool "
              "and imagemagick", file=sys.stderr)
        return 1
    # Wine draws every window of a server session on the display its first windowed process found:
    # a session that earlier tests started without a display would hide the windows. Wait for the
    # prefix's server to end (CTest runs these tests alone), then start a session on the virtual
    # display.
    server = subprocess.run(["wineserver", "-w"], env=dict(os.environ, WINEPREFIX=prefix),
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=WAIT)
    if server.returncode != 0:
        print("FAILED: the prefix's Wine server did not end: " + repr(server.stderr),
              file=sys.stderr)
        return 1
    xvfb, display = start_display()
    try:
        return run(display)
    finally:
        xvfb.kill()
        xvfb.wait()


def run_cases(args, display):
    # Wine's own dialog font has no Chinese letters: link one that has them and Latin ones too.
    linked = subprocess.run(
        [args.wine, "reg", "add",
         r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink",
         "/v", "Tahoma", "/t", "REG_MULTI_SZ", "/d", "wqy-microhei.ttc,WenQuanYi Micro Hei", "/f"],
        env=dict(os.environ, DISPLAY=display), stdin=subprocess.DEVNULL, capture_output=True,
        timeout=WAIT)
    if linked.returncode != 0:
        print("FAILED: the font link could not be set: " + repr(linked.stderr), file=sys.stderr)
        return 1

    cases = Cases(args, display)
    failed = "❌ 静默安装失败: ❌ 安装程序返回错误: Some(2)\n"
    # A reported failure and a fatal stop, each in its dialog.
    cases.dialog_case("reported-failure", args.report, "Ostrevan", False, 1)
    cases.dialog_case("fatal-stop", args.report, "Ostrevan", True, 101)
    # The branded launcher's dialog has its branded product name as its title.
    cases.dialog_case("branded", args.branded, "奥斯特雷文 游戏", False, 1)
    # Nothing shown without the option, nor with standard error in a file.
    cases.quiet_case("without-option", args.plain, "Ostrevan", False, 1)
    cases.quiet_case("stderr-to-file", args.report, "Ostrevan", False, 1,
                     stderr_file="stderr.txt", stderr_text=failed)
    for failure in cases.failures:
        print("FAILED: " + failure, file=sys.stderr)
    if not cases.failures:
        print("failure dialog: 5 cases passed; screenshots in " + args.artefacts)
    return 1 if cases.failures else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as failure:
        print("FAILED: " + str(failure), file=sys.stderr)
        sys.exit(1)
