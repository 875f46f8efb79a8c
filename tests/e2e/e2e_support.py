"""Running the real programs under Wine against the simulated tester.

Shared by the end-to-end tests of the window program (run_e2e.py, soak_e2e.py), of
vivad-flash.exe (flash_e2e.py) and of the Windows zip (package_e2e.py), and by the demo
(scripts/demo): the Wine prefix and its server, an X display, a folder laid out like an
installation, a client for the driver program (e2e-driver.exe) that works the updater's window,
and the harnesses' case registry, command line, checks and report (also used by
tests/cli/flash_cli_test.py).
"""

import argparse
import contextlib
import json
import os
import re
import select
import shutil
import subprocess
import tempfile
import time
import traceback
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]


def resource_ids(header=SOURCE_DIR / "res" / "resource_ids.h"):
    """The identifiers that the resource script and the program share, read from their header:
    numbers as ints, string literals as str."""
    found = {}
    for name, value in re.findall(r'^#define\s+(\w+)\s+(-?\d+|"[^"]*")\s*$', header.read_text(),
                                  re.MULTILINE):
        found[name] = value[1:-1] if value.startswith('"') else int(value)
    return found


RESOURCE_IDS = resource_ids()
# Control ids of the main window.
IDC_PROGRAM = RESOURCE_IDS["IDC_PROGRAM"]
IDC_EXIT = RESOURCE_IDS["IDC_EXIT"]
IDC_ABOUT = RESOURCE_IDS["IDC_ABOUT"]
# The system's ids of the buttons in dialog and message boxes.
IDOK = 1
IDCANCEL = 2
IDYES = 6
IDNO = 7

COMMAND_TIMEOUT_S = 20


class E2EError(Exception):
    """A check that failed, or a driver that could not do what it was asked."""


def expect(actual, expected, what):
    if actual != expected:
        raise E2EError(f"{what}:\n  expected {expected!r}\n  actual   {actual!r}")


def expect_in(part, whole, what):
    if part not in whole:
        raise E2EError(f"{what}:\n  expected {part!r} in\n  actual   {whole!r}")


def expect_true(condition, what, shown):
    if not condition:
        raise E2EError(f"{what}:\n  actual   {shown!r}")


def windows_path(path):
    """The path as Wine's Z: drive shows it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class Build:
    """Where the Windows build put the programs, the simulated DLL and the driver, and the
    emulator that runs a Windows program here (the build's CMAKE_CROSSCOMPILING_EMULATOR)."""

    def __init__(self, build_dir, emulator=None):
        self.dir = Path(build_dir).resolve()
        self.emulator = emulator or "wine"
        self.updater = self.dir / "vivad-updater.exe"
        self.flash = self.dir / "vivad-flash.exe"
        self.dll = self.dir / "simulated-tester" / "FTD2XX.dll"
        self.driver = self.dir / "tests" / "e2e" / "e2e-driver.exe"
        self.prefix = self.dir / "wineprefix"

    def check(self, *needed):
        """The files a harness needs are there: `needed`, or the updater, the DLL and the
        driver."""
        for path in needed or (self.updater, self.dll, self.driver):
            if not path.is_file():
                raise E2EError(f"missing {path}; build the windows preset first")


def wine_environment(build, display):
    env = dict(os.environ)
    env["WINEPREFIX"] = str(build.prefix)
    env["WINEDEBUG"] = "-all"
    # Neither the .NET nor the HTML engine is needed, so Wine is not to offer to install them.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("VIVAD_SIM_SCENARIO", None)
    env.pop("VIVAD_SIM_LOG", None)
    if display is not None:
        env["DISPLAY"] = display
    return env


def simulator_environment(build, display, scenario, log):
    """Wine's environment, with the simulated DLL pointed at its scenario file and its log."""
    env = wine_environment(build, display)
    env["VIVAD_SIM_SCENARIO"] = windows_path(scenario)
    env["VIVAD_SIM_LOG"] = windows_path(log)
    return env


def read_log(path):
    """The lines of the simulator's log; none when it wrote none."""
    path = Path(path)
    return path.read_text().splitlines() if path.exists() else []


def ensure_prefix(build):
    """Creates the shared Wine prefix once (scripts/make-wine-prefix, as for the resource
    check), with Wine drawing its own title bars."""
    subprocess.run([str(SOURCE_DIR / "scripts" / "make-wine-prefix"), str(build.prefix)],
                   check=True, timeout=600)


def stop_wine(build):
    """Ends every Wine process of the prefix."""
    env = wine_environment(build, None)
    subprocess.run(["wineserver", "-k"], env=env, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@contextlib.contextmanager
def x_display(size="1024x768x24"):
    """The session's display, or a private Xvfb when there is none."""
    if os.environ.get("DISPLAY"):
        yield os.environ["DISPLAY"]
        return
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", size, "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    try:
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                raise E2EError("Xvfb did not start")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise E2EError("Xvfb ended at start")
            number += chunk
        yield ":" + number.decode().strip()
    finally:
        os.close(read_end)
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


class Installation:
    """A temporary folder laid out as the updater finds things: the program, both firmware
    images and the simulated FTD2XX.dll in app/, the working folder (with ReadMe.txt) in work/,
    and the simulator's scenario and log beside them."""

    def __init__(self, build, root):
        self.build = build
        self.root = Path(root)
        self.app = self.root / "app"
        self.work = self.root / "work"
        self.scenario = self.root / "scenario.txt"
        self.log = self.root / "sim.log"
        self.app.mkdir()
        self.work.mkdir()
        shutil.copy2(build.updater, self.app / "vivad-updater.exe")
        shutil.copy2(build.dll, self.app / "FTD2XX.dll")

    def put(self, folder, name, data):
        path = Path(folder) / name
        if data is None:
            path.unlink(missing_ok=True)
        else:
            path.write_bytes(data)

    def write_scenario(self, text):
        self.scenario.write_text(text)

    def environment(self, display):
        return simulator_environment(self.build, display, self.scenario, self.log)

    def log_lines(self):
        return read_log(self.log)


class Driver:
    """The updater under remote control: e2e-driver.exe under Wine, one command per line."""

    def __init__(self, installation, display):
        self.installation = installation
        self.process = subprocess.Popen(
            [installation.build.emulator, str(installation.build.driver),
             windows_path(installation.app / "vivad-updater.exe"),
             windows_path(installation.work)],
            env=installation.environment(display),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self._buffer = b""
        started = self._answer("start", 60)
        self.pid = started["pid"]
        self.caption = started["caption"]

    def _read_line(self, timeout):
        deadline = time.monotonic() + timeout
        out = self.process.stdout.fileno()
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([out], [], [], left)[0]:
                raise E2EError(f"the driver gave no answer within {timeout} s")
            chunk = os.read(out, 65536)
            if not chunk:
                raise E2EError("the driver ended")
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line.decode("ascii").rstrip("\r")

    def _answer(self, command, timeout=COMMAND_TIMEOUT_S):
        line = self._read_line(timeout)
        if line.startswith("ok "):
            return json.loads(line[3:])
        raise E2EError(f"{command}: {line}")

    def call(self, command, timeout=COMMAND_TIMEOUT_S):
        self.process.stdin.write(command.encode("ascii") + b"\n")
        self.process.stdin.flush()
        return self._answer(command, timeout)

    # The driver's commands.
    def lines(self):
        return self.call("lines")

    def click(self, control):
        self.call(f"click {control}")

    def enabled(self, control):
        return self.call(f"enabled {control}")

    def main_enabled(self):
        return self.call("main-enabled")

    def dialogs(self):
        return self.call("dialogs")

    def press(self, dialog, control):
        self.call(f"press {dialog['hwnd']} {control}")

    def escape(self):
        self.call("escape")

    def close(self):
        self.call("close")

    def sysclose(self):
        self.call("sysclose")

    def taskbar_button(self):
        self.call("taskbar-button")

    def state(self):
        return self.call("state")

    def resources(self):
        return self.call("resources")

    def wait_exit(self, timeout_s):
        return self.call(f"wait-exit {int(timeout_s * 1000)}", timeout_s + COMMAND_TIMEOUT_S)

    # Polling, always with a bound.
    def wait_until(self, what, probe, timeout_s):
        """Polls probe() until it returns something true, and returns that."""
        deadline = time.monotonic() + timeout_s
        while True:
            value = probe()
            if value:
                return value
            if time.monotonic() > deadline:
                raise E2EError(f"timed out after {timeout_s} s waiting for {what}")
            time.sleep(0.05)

    def wait_lines(self, what, predicate, timeout_s=30):
        found = []

        def probe():
            found[:] = [self.lines()]
            return predicate(found[0])

        try:
            self.wait_until(what, probe, timeout_s)
        except E2EError as e:
            raise E2EError(f"{e}; status list: {found[0] if found else '?'}") from None
        return found[0]

    def wait_line(self, text, timeout_s=30):
        return self.wait_lines(repr(text), lambda lines: text in lines, timeout_s)

    def wait_dialog(self, what, timeout_s=15):
        # A box is listed as soon as its window exists, which can be before the system has given
        # it its caption and buttons; it is taken only once it is whole.
        def whole_boxes():
            boxes = self.dialogs()
            if any(not box["caption"] or not box["buttons"] for box in boxes):
                return []
            return boxes

        found = self.wait_until(what, whole_boxes, timeout_s)
        if len(found) != 1:
            raise E2EError(f"expected one box, found {found}")
        return found[0]

    def wait_enabled(self, control, timeout_s=15):
        self.wait_until(f"control {control} enabled", lambda: self.enabled(control), timeout_s)

    def quit(self):
        """Ends the driver, and the updater with it if it still runs."""
        if self.process.poll() is None:
            try:
                self.process.stdin.write(b"quit\n")
                self.process.stdin.flush()
                self.process.wait(timeout=20)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()
                self.process.wait()


def temporary_root(name):
    return tempfile.mkdtemp(prefix=f"vivad-e2e-{name}-")


def case_registry(cases):
    """The decorators that register a harness's tests in `cases`, name to function: `case(name)`
    for one test, `table(prefix, rows)` for one test per row, named prefix_rowname, each run by
    the decorated function with the row's other values."""
    def case(name):
        def register(function):
            cases[name] = function
            return function
        return register

    def table(prefix, rows):
        def register(function):
            for row in rows:
                cases[f"{prefix}_{row[0]}"] = (lambda r: lambda t: function(t, *r[1:]))(row)
            return function
        return register

    return case, table


def harness_arguments(doc, cases, build_dir="build/windows", wine=True):
    """A harness's command line: --list, --build-dir, the names of the tests to run and, for the
    harnesses under Wine, --emulator and --keep. Returns the arguments, and an exit code when the
    harness is done already (after --list, or for a name it does not know)."""
    parser = argparse.ArgumentParser(description=doc,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--build-dir", default=build_dir)
    if wine:
        parser.add_argument("--emulator", help="what runs a Windows program here (wine)")
        parser.add_argument("--keep", action="store_true", help="keep the folders of passed tests")
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    if args.list:
        print("\n".join(cases))
        return args, 0
    unknown = [n for n in args.names if n not in cases]
    if unknown:
        print("unknown tests:", *unknown)
        return args, 2
    return args, None


def start_wine(build, first_program, display=None, linger_s=30, timeout_s=60):
    """Starts the prefix's Wine server, and its system processes, with a first run of
    `first_program --version` whose output goes nowhere. A system process started by a checked
    run would inherit that run's output pipes and hold them open, so that reading them to the end
    would wait for the server to go. The server stays `linger_s` after its last program, so that
    the runs of a test share it; should the harness die, it goes away by itself. Wine's desktop
    process, started here, keeps the display it was started with: pass the one the programs will
    use."""
    env = wine_environment(build, display)
    quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL,
             "stderr": subprocess.DEVNULL, "timeout": timeout_s, "check": True}
    subprocess.run(["wineserver", f"-p{linger_s}"], env=env, **quiet)
    subprocess.run([build.emulator, str(first_program), "--version"], env=env, **quiet)


def run_reported(label, body, report=lambda: None, close=lambda passed: None):
    """Runs one test's `body`, and says how it went the way every harness does: its name, what
    failed (with the traceback of anything but a failed check), `report()` of what the test saw,
    and the time it took. `close(passed)` cleans up either way. Returns whether it passed."""
    print(f"== {label}")
    started = time.monotonic()
    passed = False
    try:
        body()
        passed = True
    except Exception as e:  # every failure is reported the same way
        print(f"FAILED {label}: {e}")
        if not isinstance(e, E2EError):
            traceback.print_exc()
        report()
    finally:
        close(passed)
    print(f"{'passed' if passed else 'FAILED'} {label} ({time.monotonic() - started:.1f} s)")
    return passed
