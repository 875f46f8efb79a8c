"""The simulated tester on pseudo-terminals (vivad-sim-pty), and a program run on a terminal, for
the tests, the demo and the benchmark of the Linux updater.

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
import pty
import select
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

START_TIMEOUT_S = 20
STOP_TIMEOUT_S = 10


class PtyTesterError(Exception):
    """The server could not be started or stopped."""


def read_until(fd, needle, timeout_s):
    """Reads the file descriptor `fd` until `needle` (bytes) has come, the other end closes, or
    `timeout_s` has passed; returns what was read."""
    seen = b""
    deadline = time.monotonic() + timeout_s
    while needle not in seen:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        seen += chunk
    return seen


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


def run_on_terminal(command, cwd, env, typed=b"", type_after=None, timeout_s=60):
    """Runs `command` with all three streams on one pseudo-terminal, as in a terminal window;
    `typed` is typed once the text `type_after` has shown (at once when None). Returns the exit
    code and what the program wrote, as (seconds since the start, text) chunks. A program still
    running after `timeout_s` is killed, and TimeoutError says what it showed."""
    master, slave = pty.openpty()
    started = time.monotonic()
    process = subprocess.Popen(command, cwd=cwd, env=env, stdin=slave, stdout=slave,
                               stderr=slave, start_new_session=True)
    os.close(slave)
    chunks = []
    seen = ""
    typed_yet = not typed
    try:
        while True:
            if not typed_yet and (type_after is None or type_after in seen):
                os.write(master, typed)
                typed_yet = True
            left = started + timeout_s - time.monotonic()
            if left <= 0:
                process.kill()
                process.wait()
                raise TimeoutError(f"{command[0]} did not end on the terminal; it showed:\n{seen}")
            if select.select([master], [], [], min(left, 0.2))[0]:
                try:
                    chunk = os.read(master, 65536).decode(errors="replace")
                except OSError:
                    # The terminal's other end has gone with the program.
                    break
                if not chunk:
                    break
                chunks.append((time.monotonic() - started, chunk))
                seen += chunk
            elif process.poll() is not None:
                break
    finally:
        os.close(master)
    return process.wait(timeout=10), chunks
