#!/usr/bin/env python3
"""The real vivad-flash on Linux, run as a user would, against the simulated tester served on
pseudo-terminals behind a fake sysfs tree (vivad-sim-pty), in real time.

    flash_cli_test.py --build-dir build/native --list
    flash_cli_test.py --build-dir build/native CASE

Each case starts its own simulated tester, so cases may run side by side.
"""

import contextlib
import fcntl
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "e2e"))
from e2e_support import (case_registry, E2EError, expect, expect_in, expect_true,  # noqa: E402
                         harness_arguments, run_reported)
from pty_tester import pty_tester  # noqa: E402
from terminal import CTRL_C, read_until, run_on_terminal  # noqa: E402
from tester_log import (BURNING, COMPLETE, FINISH_HINT_START, FIRST_BLOCK_REQUEST,  # noqa: E402
                        FLASH_VERSION, IDENTIFY_FRAME, INTERRUPTED_REVISION_2,
                        INTERRUPTED_UNCHANGED, NO_FIRMWARE_FILE, NO_TERMINAL_FOR_PROMPT, NO_TESTER,
                        OPEN_FAILED_START, PROBE_FRAME, PROGRAMMING_FAILED, PROMPT_CAPTION,
                        PROMPT_QUESTION_END, RECONNECT, SEVERAL_TESTERS, START_REQUEST, STOPPING,
                        UNREADABLE_FIRMWARE_FILE, VERSION_38, programmed, verdicts)

# Files of different lengths, so that the tester's verdict tells which one it was sent.
H1 = random.Random(1).randbytes(1000)
H2 = random.Random(2).randbytes(2000)
RUN_TIMEOUT_S = 60

CASES = {}
case, table = case_registry(CASES)


class Result:
    def __init__(self, code, out, err):
        self.code = code
        self.out = out
        self.err = err

    def __repr__(self):
        return f"exit {self.code}\n--- stdout\n{self.out}--- stderr\n{self.err}---"


class World:
    """One simulated tester and a folder with both firmware files, where vivad-flash runs."""

    def __init__(self, build, root, tester):
        self.build = build
        self.root = Path(root)
        self.tester = tester
        self.firmware = self.root / "firmware"
        self.firmware.mkdir()
        os.chmod(self.root, 0o755)
        os.chmod(self.firmware, 0o755)
        self.put("VIVAD-h1.0.bin", H1)
        self.put("VIVAD-h2.0.bin", H2)

    def put(self, name, data):
        path = self.firmware / name
        if data is None:
            path.unlink(missing_ok=True)
        else:
            path.write_bytes(data)
            os.chmod(path, 0o644)

    def command(self, args, program=None):
        return [str(program or self.build / "vivad-flash")] + list(args)

    def run(self, *args, user=None, program=None):
        """vivad-flash with its streams piped, in the firmware folder."""
        process = subprocess.run(
            self.command(args, program), cwd=self.firmware, env=self.tester.env,
            stdin=subprocess.DEVNULL, capture_output=True, timeout=RUN_TIMEOUT_S, user=user)
        return Result(process.returncode, process.stdout.decode(), process.stderr.decode())

    def start(self, *args):
        return subprocess.Popen(
            self.command(args), cwd=self.firmware, env=self.tester.env,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def run_on_terminal(self, *args, keys=()):
        """vivad-flash on a pseudo-terminal, as in a terminal window, `keys` typed there as
        run_on_terminal takes them; all it wrote in `out`."""
        code, chunks = run_on_terminal(self.command(args), self.firmware, self.tester.env, keys,
                                       RUN_TIMEOUT_S)
        return Result(code, "".join(text for _, text in chunks), "")

    def programmed(self, data):
        """The tester holds the image of `data` whole, as the last it completed."""
        completed = verdicts(self.tester.log_lines(), "image")
        expect(completed[-1:], [programmed(data)], "the tester's last verdict")

    def not_programmed(self):
        for line in verdicts(self.tester.log_lines(), "image"):
            if "CRC-32 good" in line:
                raise E2EError(f"the tester holds an image: {line}")


class Case:
    """One case: its worlds, and the simulated tester's log shown when it fails."""

    def __init__(self, build, stack):
        self.build = build
        self.stack = stack
        self.worlds = []

    def world(self, scenario=""):
        root = self.stack.enter_context(tempfile.TemporaryDirectory(prefix="vivad-flash-"))
        tester = self.stack.enter_context(pty_tester(scenario, self.build))
        self.worlds.append(World(self.build, root, tester))
        return self.worlds[-1]

    def show_logs(self):
        for world in self.worlds:
            tail = world.tester.log_lines()[-12:]
            print("simulated tester's log, its end:\n" + "\n".join(l[:160] for l in tail),
                  file=sys.stderr)


def run_case(build, name):
    """One case, its worlds set up and taken down within it, so that a tester that will not stop
    fails the case too; the testers' logs are shown while they are still there."""
    with contextlib.ExitStack() as stack:
        c = Case(build, stack)
        try:
            CASES[name](c)
        except Exception:
            c.show_logs()
            raise


# --- programming ---

@table("program", [
    ("revision_2", "hardware-code = 20\n", [], VERSION_38 + BURNING + COMPLETE, H2),
    ("revision_1", "hardware-code = 10\nfirmware-version = 2.1\n", [],
     "Current firmware version: 2.1\n" + BURNING + COMPLETE, H1),
    # No version line after a probe.
    ("through_the_probe", "answers-identify = no\n", [], BURNING + COMPLETE, H1),
    # A tester in its bootloader cannot tell; the option answers for it.
    ("prompt_answered_by_the_revision_option", "starts-in-bootloader = yes\n",
     ["--revision", "2"], BURNING + COMPLETE, H2),
])
def program(t, scenario, args, out, image):
    w = t.world(scenario)
    r = w.run("program", *args)
    expect(r.code, 0, f"exit code\n{r}")
    expect(r.out, out, "standard output")
    expect_in("progress: 100%", r.err, "the last progress line")
    w.programmed(image)


@case("program_from_a_named_folder")
def program_from_a_named_folder(t):
    w = t.world("hardware-code = 20\n")
    elsewhere = w.root / "elsewhere"
    elsewhere.mkdir()
    image = random.Random(3).randbytes(3000)
    (elsewhere / "VIVAD-h2.0.bin").write_bytes(image)
    w.put("VIVAD-h2.0.bin", None)
    r = w.run("program", "--firmware-dir", str(elsewhere))
    expect(r.code, 0, f"exit code\n{r}")
    w.programmed(image)


# --- the revision prompt ---

@table("prompt", [
    ("answered_at_the_terminal", b"1\n", 0, "Is this revision #1 hardware ?", H1),
    ("cancelled_at_the_terminal", b"x\n", 10, "Cancelled", None),
    ("interrupted_at_the_terminal", CTRL_C, 130, INTERRUPTED_UNCHANGED.strip(), None),
])
def prompt_at_the_terminal(t, typed, code, shown, image):
    w = t.world("starts-in-bootloader = yes\n")
    r = w.run_on_terminal("program", keys=[(PROMPT_QUESTION_END, typed)])
    expect(r.code, code, f"exit code\n{r}")
    expect_in(PROMPT_CAPTION, r.out, "the prompt's caption")
    expect_in(shown, r.out, "what the terminal shows")
    if image is None:
        w.not_programmed()
    else:
        w.programmed(image)


@case("prompt_without_a_terminal")
def prompt_without_a_terminal(t):
    w = t.world("starts-in-bootloader = yes\n")
    r = w.run("program")
    expect(r.code, 10, f"exit code\n{r}")
    expect(r.err, NO_TERMINAL_FOR_PROMPT, "standard error")
    expect(r.out, "", "standard output")
    w.not_programmed()


@case("revision_contradicted")
def revision_contradicted(t):
    w = t.world("hardware-code = 20\n")
    r = w.run("program", "--revision", "1")
    expect(r.code, 11, f"exit code\n{r}")
    expect_in("revision 2 (code 20)", r.err, "the tester's revision")
    expect_in("--revision 1", r.err, "the revision given")
    expect(w.tester.requests(), 1, "requests heard: only identify")
    w.not_programmed()


# --- finding the tester ---

@table("no_tester", [
    ("attached", "devices = none\n"),
    ("answering", "answers-identify = no\nanswers-probe = no\n"),
])
def no_tester(t, scenario):
    w = t.world(scenario)
    r = w.run("program")
    expect(r.code, 3, f"exit code\n{r}")
    expect(r.err, NO_TESTER, "standard error")


@case("several_testers")
def several_testers(t):
    w = t.world("device = FT0001\ndevice = ZVKD0001\ndevice = ZVKD0002\n")
    r = w.run("program")
    expect(r.code, 4, f"exit code\n{r}")
    expect(r.err, SEVERAL_TESTERS, "standard error")
    w.not_programmed()
    r = w.run("program", "--serial", "ZVKD0002")
    expect(r.code, 0, f"exit code with --serial\n{r}")
    w.programmed(H2)
    r = w.run("program", "--serial", "ZVKD0009")
    expect(r.code, 3, f"exit code for a serial not attached\n{r}")
    expect(r.err, NO_TESTER, "standard error for a serial not attached")


@case("list_and_info")
def list_and_info(t):
    w = t.world("device = FT0001\ndevice = ZVKD0001\ndevice = ZVKD0002\n")
    r = w.run("list")
    expect(r.code, 0, f"exit code of list\n{r}")
    dev = w.tester.env["VIVAD_DEV_ROOT"]
    expect(r.out, f"ZVKD0001\t{dev}/ttyUSB1\nZVKD0002\t{dev}/ttyUSB2\n", "the list")
    r = w.run("info", "--serial", "ZVKD0001")
    expect(r.code, 0, f"exit code of info\n{r}")
    expect(r.out, "serial: ZVKD0001\nhardware revision: 2 (code 20)\nfirmware version: 3.8\n",
           "what info shows")
    r = w.run("info")
    expect(r.code, 4, f"exit code of info with two testers\n{r}")


@case("list_nothing")
def list_nothing(t):
    w = t.world("devices = none\n")
    r = w.run("list")
    expect(r.code, 3, f"exit code\n{r}")
    expect(r.out, "", "standard output")


@case("open_refused_while_another_program_holds_the_tester")
def open_refused_while_held(t):
    w = t.world()
    with open(w.tester.slave(0), "rb") as held:
        fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
        r = w.run("program")
    expect(r.code, 5, f"exit code\n{r}")
    expect_in(OPEN_FAILED_START, r.err, "standard error")
    expect_in("in use by another program", r.err, "the reason")


@case("open_refused_without_permission")
def open_refused_without_permission(t):
    w = t.world()
    program = None
    if os.geteuid() != 0:
        # The tester's node belongs to whoever serves it; take the permission away instead.
        os.chmod(w.tester.slave(0), 0o000)
        user = None
    else:
        # Root opens anything; an unprivileged user meets the node's permission bits. The
        # program is copied where that user may run it, whatever folder the build is in.
        os.chmod(w.tester.slave(0), 0o600)
        user = "nobody"
        program = w.root / "vivad-flash"
        shutil.copy2(w.build / "vivad-flash", program)
        os.chmod(program, 0o755)
    r = w.run("program", user=user, program=program)
    expect(r.code, 5, f"exit code\n{r}")
    expect_in(OPEN_FAILED_START + "no permission", r.err, "standard error")
    expect_in("dialout", r.err, "the remedy")
    expect_in("udev", r.err, "the remedy")


# --- firmware ---

@case("firmware_missing")
def firmware_missing(t):
    w = t.world("hardware-code = 20\n")
    w.put("VIVAD-h2.0.bin", None)
    r = w.run("program")
    expect(r.code, 6, f"exit code\n{r}")
    expect_in(NO_FIRMWARE_FILE + "\n", r.err, "standard error")
    expect_in(FINISH_HINT_START + "vivad-flash program --revision 2\n", r.err, "how to finish")


@case("firmware_unreadable")
def firmware_unreadable(t):
    w = t.world("hardware-code = 20\n")
    w.put("VIVAD-h2.0.bin", None)
    (w.firmware / "VIVAD-h2.0.bin").mkdir()
    r = w.run("program")
    expect(r.code, 7, f"exit code\n{r}")
    expect_in(UNREADABLE_FIRMWARE_FILE + "\n", r.err, "standard error")
    expect(w.tester.requests(), 2, "requests heard: nothing after the switch")


# --- the bootloader's endings ---

@table("bootloader", [
    ("start_unanswered",
     "".join(f"fault = {START_REQUEST + i} DropReply\n" for i in range(3)), 8, PROGRAMMING_FAILED),
    ("block_unacknowledged",
     "".join(f"fault = {FIRST_BLOCK_REQUEST + i} DropReply\n" for i in range(4)), 8,
     PROGRAMMING_FAILED),
    ("not_ready", "ready-status = 256\n", 9, RECONNECT),
])
def bootloader_ending(t, scenario, code, message):
    w = t.world(scenario)
    r = w.run("program")
    expect(r.code, code, f"exit code\n{r}")
    expect_in(message + "\n", r.err, "standard error")
    w.not_programmed()


# --- Ctrl-C ---

@case("interrupted_in_the_blocks_then_finished")
def interrupted_in_the_blocks_then_finished(t):
    w = t.world("hardware-code = 20\n")
    image = random.Random(5).randbytes(64 * 1024)
    w.put("VIVAD-h2.0.bin", image)
    process = w.start("program")
    err = read_until(process.stderr.fileno(), b"progress: 20%", RUN_TIMEOUT_S)
    if b"progress: 20%" not in err:
        process.kill()
        raise E2EError(f"no progress to interrupt: {err!r}")
    process.send_signal(signal.SIGINT)
    out, rest = process.communicate(timeout=RUN_TIMEOUT_S)
    err = (err + rest).decode()
    expect(process.returncode, 130, f"exit code\nstdout {out!r}\nstderr {err!r}")
    expect_in(INTERRUPTED_REVISION_2, err, "what the interruption says, and how to finish")
    expect(COMPLETE in out.decode(), False, "a false completion")
    w.not_programmed()
    r = w.run("program", "--revision", "2")
    expect(r.code, 0, f"exit code of the run that finishes\n{r}")
    w.programmed(image)


@case("second_ctrl_c_quits_at_once")
def second_ctrl_c_quits_at_once(t):
    # The tester takes 1.9 s to erase before it answers the start request, within the start's
    # 2 s wait: both presses come in that exchange, typed on the terminal.
    w = t.world("hardware-code = 20\nerase-ms = 1900\n")
    r = w.run_on_terminal("program", keys=[
        (lambda _: w.tester.requests() > START_REQUEST, CTRL_C), (STOPPING.strip(), CTRL_C)])
    expect(r.code, -signal.SIGINT, f"exit code: ended by SIGINT, as a shell shows 130\n{r}")
    expect_in(STOPPING.strip(), r.out, "the first press's line")
    expect("Interrupted." in r.out, False, f"the run seen to its end\n{r}")
    expect(w.tester.requests(), START_REQUEST + 1, "requests heard: none after the start")
    w.not_programmed()


# --- what the user sees ---

@case("trace_file")
def trace_file(t):
    w = t.world("answers-identify = no\n")
    trace = w.root / "trace.txt"
    r = w.run("program", "--trace", str(trace))
    expect(r.code, 0, f"exit code\n{r}")
    lines = trace.read_text().splitlines()
    expect(lines[0].split()[1:], [">>", *IDENTIFY_FRAME.split()], "the first line")
    expect(lines[1].split()[1:], ["--", "no", "frame", "within", "1000", "ms"], "the second")
    expect(lines[2].split()[1:], [">>", *PROBE_FRAME.split()], "the probe")
    expect(lines[3].split()[1], "<<", "the probe's reply")
    times = [float(l.split()[0]) for l in lines]
    expect(times, sorted(times), "times in order")
    # identify, probe, switch, start, readiness, 6 blocks: each written once and answered.
    expect(sum(1 for l in lines if " >> " in l), 11, "frames written")


@case("progress_on_a_terminal")
def progress_on_a_terminal(t):
    w = t.world("hardware-code = 20\n")
    image = random.Random(6).randbytes(16 * 1024)
    w.put("VIVAD-h2.0.bin", image)
    started = time.monotonic()
    r = w.run_on_terminal("program")
    seconds = time.monotonic() - started
    expect(r.code, 0, f"exit code\n{r}")
    redraws = r.out.count("\r") - r.out.count("\r\n")
    expect_true(redraws >= 2, "the progress line redrawn", r.out)
    # A few redraws a second at most: the real binary feeds the meter real milliseconds.
    expect_true(redraws <= seconds * 4 + 2, f"at most a few redraws a second, in {seconds:.1f} s",
                redraws)
    expect_in("100%  86/86 blocks", r.out, "the last redraw")
    expect_in("left", r.out, "time left")
    expect_in("KiB/s", r.out, "the rate")
    expect("progress:" in r.out, False, "plain progress lines on a terminal")
    w.programmed(image)


@case("progress_when_piped")
def progress_when_piped(t):
    w = t.world("hardware-code = 20\n")
    w.put("VIVAD-h2.0.bin", random.Random(6).randbytes(16 * 1024))
    r = w.run("program")
    expect(r.code, 0, f"exit code\n{r}")
    lines = [l for l in r.err.splitlines() if l.startswith("progress: ")]
    expect([l.split()[1] for l in lines], [f"{p}%" for p in range(10, 101, 10)],
           "one line at each tenth")
    expect("\r" in r.err, False, "redraws in a pipe")
    # The tester now restarts its new firmware, its bootloader still answering: the revision is
    # given.
    r = w.run("program", "--quiet", "--revision", "2")
    expect(r.code, 0, f"exit code with --quiet\n{r}")
    expect(r.err, "", "standard error with --quiet")


@case("bad_arguments")
def bad_arguments(t):
    w = t.world()
    for args in (["program", "--revision", "3"], ["flash"], [],
                 ["program", "--firmware-dir", "/no/such/folder"]):
        r = w.run(*args)
        expect(r.code, 2, f"exit code of {args}\n{r}")
        expect_true(r.err.startswith("vivad-flash: "), f"the error of {args}", r.err)
        expect_in("Usage:", r.err, f"the usage after {args}")
    expect(w.tester.requests(), 0, "requests heard")
    r = w.run("--version")
    expect((r.code, r.out), (0, FLASH_VERSION), "the version")


def main():
    args, done = harness_arguments(__doc__, CASES, build_dir="build/native", wine=False)
    if done is not None:
        return done
    build = Path(args.build_dir).resolve()
    results = [run_reported(f"flash.{name}", lambda: run_case(build, name))
               for name in (args.names or list(CASES))]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
