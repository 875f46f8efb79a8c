"""The simulated tester on pseudo-terminals (vivad-sim-pty), for tests of the Linux updater.

    with pty_tester("device = ZVKD0001\\nhardware-code = 10\\n") as tester:
        subprocess.run([vivad_flash, "program"], env=tester.env, ...)
        assert "CRC-32 good: image programmed" in tester.log_text()

The server lays out a fake sysfs and /dev under a temporary root, one pty per scenario device
(ttyUSB0, ttyUSB1, ... in the scenario's order), prints "ready" and serves until it is stopped.
The updater finds it through VIVAD_SYSFS_ROOT and VIVAD_DEV_ROOT, which `env` carries. The root's
folders are readable by everyone, so that the updater can be run as an unprivileged user; the pty
nodes themselves belong to root with mode 0600, so such a user is refused unless a test opens
them up (os.chmod(tester.slave(n), 0o666)).
"""

import contextlib
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]


class PtyTesterError(Exception):
    """The server could not be started or stopped."""


def default_binary():
    """$VIVAD_SIM_PTY, or the native build's vivad-sim-pty."""
    configured = os.environ.get("VIVAD_SIM_PTY")
    if configured:
        return Path(configured)
    return REPO / "build" / "native" / "sim" / "pty" / "vivad-sim-pty"


class PtyTester:
    """A running vivad-sim-pty: where it serves, what it logged, how to reach its devices."""

    def __init__(self, process, folder, root, log_path, stderr_path):
        self.process = process
        self.folder = folder
        self.root = root
        self.log_path = log_path
        self._stderr_path = stderr_path
        self.env = dict(os.environ)
        self.env["VIVAD_SYSFS_ROOT"] = str(root / "sys")
        self.env["VIVAD_DEV_ROOT"] = str(root / "dev")
        self.returncode = None

    def node(self, n):
        """The device node of the n-th scenario device, as the updater names it."""
        return str(self.root / "dev" / f"ttyUSB{n}")

    def slave(self, n):
        """The pty slave behind that node (/dev/pts/K), e.g. to lock it or change its mode."""
        return os.path.realpath(self.node(n))

    def log_text(self):
        """The log so far: device lines, "ready", one line per request frame with its bytes,
        "input flushed" when the updater opens a port, "image verdict: ..." when an image has
        been received whole, and after stop() "requests: N" and "exit verdict: ..."."""
        try:
            return self.log_path.read_text()
        except FileNotFoundError:
            return ""

    def stderr_text(self):
        try:
            return self._stderr_path.read_text()
        except FileNotFoundError:
            return ""

    def stop(self, timeout=10):
        """Ends the server with SIGTERM (SIGKILL if it does not end in time); returns the log."""
        if self.returncode is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.returncode = self.process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.returncode = self.process.wait()
                raise PtyTesterError("vivad-sim-pty did not end on SIGTERM")
        return self.log_text()


def _wait_for_ready(process, timeout):
    seen = b""
    deadline = time.monotonic() + timeout
    while b"ready\n" not in seen:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return False
        readable, _, _ = select.select([process.stdout], [], [], remaining)
        if not readable:
            return False
        chunk = os.read(process.stdout.fileno(), 256)
        if not chunk:
            return False  # ended before it was ready
        seen += chunk
    return True


def _open_folders_to_everyone(top):
    os.chmod(top, 0o755)
    for folder, subfolders, _ in os.walk(top):
        for name in subfolders:
            path = os.path.join(folder, name)
            if not os.path.islink(path):
                os.chmod(path, 0o755)


@contextlib.contextmanager
def pty_tester(scenario_text, binary=None, start_timeout=20, stop_timeout=10):
    """Starts vivad-sim-pty on `scenario_text` (the scenario file format of the simulated
    FTD2XX.dll) under a fresh temporary root; yields a PtyTester; stops the server and removes
    the folder at the end."""
    binary = Path(binary) if binary else default_binary()
    if not binary.is_file():
        raise PtyTesterError(f"missing {binary}; build the native preset first")
    folder = Path(tempfile.mkdtemp(prefix="vivad-pty-"))
    os.chmod(folder, 0o755)
    process = None
    try:
        scenario = folder / "scenario.txt"
        scenario.write_text(scenario_text)
        root = folder / "root"
        log_path = folder / "sim.log"
        stderr_path = folder / "sim.stderr"
        with open(stderr_path, "wb") as stderr:
            process = subprocess.Popen(
                [str(binary), "--scenario", str(scenario), "--root", str(root),
                 "--log", str(log_path)],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=stderr)
        tester = PtyTester(process, folder, root, log_path, stderr_path)
        if not _wait_for_ready(process, start_timeout):
            process.kill()
            process.wait()
            raise PtyTesterError("vivad-sim-pty did not get ready: " + tester.stderr_text().strip())
        _open_folders_to_everyone(root)
        try:
            yield tester
        finally:
            tester.stop(stop_timeout)
    finally:
        if process is not None:
            if process.poll() is None:
                process.kill()
                process.wait()
            process.stdout.close()
        shutil.rmtree(folder, ignore_errors=True)
