"""The simulated tester on pseudo-terminals (vivad-sim-pty), for the tests, the demo and the
benchmark of the Linux updater.

    with pty_tester("device = ZVKD0001\\nhardware-code = 10\\n", "build/native") as tester:
        subprocess.run([vivad_flash, "program"], env=tester.env, ...)
        assert "CRC-32 good: image programmed" in tester.log_text()

The server lays out a fake sysfs and /dev under a temporary root, one pty per scenario device
(ttyUSB0, ttyUSB1, ... in the scenario's order), prints "ready" and serves until it is stopped.
The updater finds it through VIVAD_SYSFS_ROOT and VIVAD_DEV_ROOT, which `env` carries. The root's
folders are readable by everyone, so that the updater can be run as an unprivileged user; the pty
nodes belong to whoever runs the server, with the mode the devpts mount gives them (0600 or
0620), so such a user is refused unless a test opens them up (os.chmod(tester.slave(n), 0o666)).
"""

import contextlib
import os
import shutil
import signal
import subprocess
import tempfile
from pathlib import Path

from terminal import read_until

START_TIMEOUT_S = 20
STOP_TIMEOUT_S = 10


class PtyTesterError(Exception):
    """The server could not be started or stopped."""


class PtyTester:
    """A running vivad-sim-pty: where it serves, what it logged, how to reach its devices."""

    def __init__(self, process, root, log_path, stderr_path):
        self.process = process
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

    def log_lines(self):
        return self.log_text().splitlines()

    def requests(self):
        """How many request frames the tester has heard so far."""
        return sum(1 for line in self.log_lines() if " request " in line)

    def stderr_text(self):
        try:
            return self._stderr_path.read_text()
        except FileNotFoundError:
            return ""

    def stop(self):
        """Ends the server with SIGTERM (SIGKILL if it does not end in time); returns the log."""
        if self.returncode is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.returncode = self.process.wait(timeout=STOP_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.returncode = self.process.wait()
                raise PtyTesterError("vivad-sim-pty did not end on SIGTERM")
        return self.log_text()


@contextlib.contextmanager
def pty_tester(scenario_text, build_dir):
    """Starts the native build's vivad-sim-pty on `scenario_text` (the scenario file format of
    the simulated FTD2XX.dll) under a fresh temporary root; yields a PtyTester; stops the server
    and removes the folder at the end."""
    binary = Path(build_dir) / "sim" / "pty" / "vivad-sim-pty"
    if not binary.is_file():
        raise PtyTesterError(f"missing {binary}; build the native preset first")
    folder = Path(tempfile.mkdtemp(prefix="vivad-pty-"))
    # mkdtemp makes it private; the server makes everything below readable by everyone.
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
        tester = PtyTester(process, root, log_path, stderr_path)
        if b"ready\n" not in read_until(process.stdout.fileno(), b"ready\n", START_TIMEOUT_S):
            process.kill()
            process.wait()
            raise PtyTesterError("vivad-sim-pty did not get ready: " + tester.stderr_text().strip())
        try:
            yield tester
        finally:
            tester.stop()
    finally:
        if process is not None:
            if process.poll() is None:
                process.kill()
                process.wait()
            process.stdout.close()
        shutil.rmtree(folder, ignore_errors=True)
