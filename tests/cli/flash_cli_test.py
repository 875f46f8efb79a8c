#!/usr/bin/env python3
"""The real vivad-flash on Linux, run as a user would, against the simulated tester served on
pseudo-terminals behind a fake sysfs tree (vivad-sim-pty), in real time.

    flash_cli_test.py --build-dir build/native --list
    flash_cli_test.py --build-dir build/native CASE

Each case starts its own simulated tester, so cases may run side by side.
"""

import argparse
import fcntl
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from pty_tester import pty_tester  # noqa: E402

NO_TESTER = ("No Corvalt USB Power Delivery Tester device detected.\n"
             "You may need to plug in (or install) USB devices.\n")
SEVERAL = ("This application only supports 1 connected USB Power Delivery Tester device.\n"
           "You need to remove USB devices.\n")
VERSION_38 = "Current firmware version: 3.8\n"
BURNING = "Burning in Progress.\n Do not unplug.\n"
COMPLETE = "Programming complete.\n"

# Files of different lengths, so that the tester's verdict tells which one it was sent.
H1_LENGTH = 1000
H2_LENGTH = 2000
RUN_TIMEOUT_S = 60

CASES = {}


class Failure(Exception):
    pass


def case(function):
    CASES[function.__name__] = function
    return function


def expect(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}: expected {expected!r}, got {actual!r}")


def expect_in(needle, haystack, what):
    if needle not in haystack:
        raise Failure(f"{what}: {needle!r} not in {haystack!r}")


def pattern(length, seed):
    state = seed
    out = bytearray()
    for _ in range(length):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out.append((state >> 16) & 0xFF)
    return bytes(out)


def image_total(length):
    return length + length % 2 + 4


class Result:
    def __init__(self, code, out, err):
        self.code = code
        self.out = out
        self.err = err

    def __repr__(self):
        return f"exit {self.code}\n--- stdout\n{self.out}--- stderr\n{self.err}---"


class World:
    """One case's folder: the firmware files, and the simulated tester."""

    def __init__(self, build, root, tester):
        self.build = build
        self.root = Path(root)
        self.tester = tester
        self.firmware = self.root / "firmware"
        self.firmware.mkdir()
        os.chmod(self.root, 0o755)
        os.chmod(self.firmware, 0o755)
        self.put("VIVAD-h1.0.bin", pattern(H1_LENGTH, 1))
        self.put("VIVAD-h2.0.bin", pattern(H2_LENGTH, 2))

    def put(self, name, data):
        path = self.firmware / name
        if data is None:
            path.unlink(missing_ok=True)
        else:
            path.write_bytes(data)
            os.chmod(path, 0o644)

    def environment(self):
        env = dict(os.environ)
        env.update(self.tester.env)
        return env

    def command(self, args, program=None):
        return [str(program or self.build / "vivad-flash")] + list(args)

    def run(self, *args, stdin=subprocess.DEVNULL, user=None, program=None):
        """vivad-flash with its streams piped, in the firmware folder."""
        process = subprocess.run(
            self.command(args, program), cwd=self.firmware, env=self.environment(), stdin=stdin,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT_S,
            user=user)
        return Result(process.returncode, process.stdout.decode(), process.stderr.decode())

    def start(self, *args):
        return subprocess.Popen(
            self.command(args), cwd=self.firmware, env=self.environment(),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def run_on_terminal(self, *args, typed=b"", type_after=None):
        """vivad-flash with all three streams on one pseudo-terminal, as in a terminal window;
        `typed` is typed once `type_after` has shown."""
        master, slave = pty.openpty()
        process = subprocess.Popen(
            self.command(args), cwd=self.firmware, env=self.environment(),
            stdin=slave, stdout=slave, stderr=slave, start_new_session=True)
        os.close(slave)
        seen = b""
        typed_yet = not typed
        deadline = time.monotonic() + RUN_TIMEOUT_S
        while True:
            if not typed_yet and (type_after is None or type_after.encode() in seen):
                os.write(master, typed)
                typed_yet = True
            left = deadline - time.monotonic()
            if left <= 0:
                process.kill()
                raise Failure("vivad-flash did not end on the terminal; it showed:\n" +
                              seen.decode(errors="replace"))
            if select.select([master], [], [], min(left, 0.2))[0]:
                try:
                    chunk = os.read(master, 65536)
                except OSError:
                    chunk = b""
                if not chunk:
                    break
                seen += chunk
            elif process.poll() is not None and not select.select([master], [], [], 0.1)[0]:
                break
        os.close(master)
        code = process.wait(timeout=10)
        return Result(code, seen.decode(errors="replace"), "")

    def requests(self):
        """The request frames the tester has heard so far."""
        return sum(1 for l in self.tester.log_text().splitlines() if " request " in l)

    def verdicts(self):
        return [l for l in self.tester.log_text().splitlines() if "verdict" in l]


def programmed(world, length):
    total = image_total(length)
    expect_in(f"received {total} of {total} bytes, CRC-32 good", "\n".join(world.verdicts()),
              "the tester's verdict")


def not_programmed(world):
    for line in world.verdicts():
        if "CRC-32 good" in line:
            raise Failure(f"the tester holds an image: {line}")


def run_case(build, name):
    function = CASES[name]
    scenario = getattr(function, "scenario", "")
    with tempfile.TemporaryDirectory(prefix=f"vivad-flash-{name}-") as root:
        with pty_tester(scenario, binary=build / "sim" / "pty" / "vivad-sim-pty") as tester:
            world = World(build, root, tester)
            try:
                function(world)
            except Exception:
                tail = tester.log_text().splitlines()[-12:]
                print("simulated tester's log, its end:\n" + "\n".join(l[:160] for l in tail),
                      file=sys.stderr)
                raise


def scenario(text):
    def attach(function):
        function.scenario = text
        return function
    return attach


# --- programming ---

@case
@scenario("hardware-code = 20\n")
def program_revision_2(w):
    r = w.run("program")
    expect(r.code, 0, f"exit code\n{r}")
    expect(r.out, VERSION_38 + BURNING + COMPLETE, "standard output")
    expect_in("progress: 100%", r.err, "the last progress line")
    programmed(w, H2_LENGTH)


@case
@scenario("hardware-code = 10\nfirmware-version = 2.1\n")
def program_revision_1(w):
    r = w.run("program")
    expect(r.code, 0, f"exit code\n{r}")
    expect(r.out, "Current firmware version: 2.1\n" + BURNING + COMPLETE, "standard output")
    programmed(w, H1_LENGTH)


@case
@scenario("answers-identify = no\n")
def program_through_the_probe(w):
    r = w.run("program")
    expect(r.code, 0, f"exit code\n{r}")
    expect(r.out, BURNING + COMPLETE, "standard output: no version line after a probe")
    programmed(w, H1_LENGTH)


@case
@scenario("hardware-code = 20\n")
def program_from_a_named_folder(w):
    elsewhere = w.root / "elsewhere"
    elsewhere.mkdir()
    (elsewhere / "VIVAD-h2.0.bin").write_bytes(pattern(3000, 3))
    w.put("VIVAD-h2.0.bin", None)
    r = w.run("program", "--firmware-dir", str(elsewhere))
    expect(r.code, 0, f"exit code\n{r}")
    programmed(w, 3000)


# --- the revision prompt ---

@case
@scenario("starts-in-bootloader = yes\n")
def prompt_answered_by_the_revision_option(w):
    r = w.run("program", "--revision", "2")
    expect(r.code, 0, f"exit code\n{r}")
    expect(r.out, BURNING + COMPLETE, "standard output")
    programmed(w, H2_LENGTH)


@case
@scenario("starts-in-bootloader = yes\n")
def prompt_answered_at_the_terminal(w):
    r = w.run_on_terminal("program", typed=b"1\n", type_after="anything else to cancel:")
    expect(r.code, 0, f"exit code\n{r}")
    expect_in("REduzazav Warning", r.out, "the prompt's caption")
    expect_in("Is this revision #1 hardware ?", r.out, "the prompt's text")
    programmed(w, H1_LENGTH)


@case
@scenario("starts-in-bootloader = yes\n")
def prompt_cancelled_at_the_terminal(w):
    r = w.run_on_terminal("program", typed=b"x\n", type_after="anything else to cancel:")
    expect(r.code, 10, f"exit code\n{r}")
    expect_in("Cancelled", r.out, "what the cancel says")
    not_programmed(w)


@case
@scenario("starts-in-bootloader = yes\n")
def prompt_without_a_terminal(w):
    r = w.run("program")
    expect(r.code, 10, f"exit code\n{r}")
    expect(r.err, "Hardware revision unknown: pass --revision 1 or 2.\n", "standard error")
    expect(r.out, "", "standard output")
    not_programmed(w)


@case
@scenario("hardware-code = 20\n")
def revision_contradicted(w):
    r = w.run("program", "--revision", "1")
    expect(r.code, 11, f"exit code\n{r}")
    expect_in("revision 2 (code 20)", r.err, "the tester's revision")
    expect_in("--revision 1", r.err, "the revision given")
    expect(w.requests(), 1, "requests heard: only identify")
    not_programmed(w)


# --- finding the tester ---

@case
@scenario("devices = none\n")
def no_tester(w):
    r = w.run("program")
    expect(r.code, 3, f"exit code\n{r}")
    expect(r.err, NO_TESTER, "standard error")


@case
@scenario("answers-identify = no\nanswers-probe = no\n")
def tester_silent(w):
    r = w.run("program")
    expect(r.code, 3, f"exit code\n{r}")
    expect(r.err, NO_TESTER, "standard error")


@case
@scenario("device = FT0001\ndevice = ZVKD0001\ndevice = ZVKD0002\n")
def several_testers(w):
    r = w.run("program")
    expect(r.code, 4, f"exit code\n{r}")
    expect(r.err, SEVERAL, "standard error")
    not_programmed(w)
    r = w.run("program", "--serial", "ZVKD0002")
    expect(r.code, 0, f"exit code with --serial\n{r}")
    programmed(w, H2_LENGTH)
    r = w.run("program", "--serial", "ZVKD0009")
    expect(r.code, 3, f"exit code for a serial not attached\n{r}")
    expect(r.err, NO_TESTER, "standard error for a serial not attached")


@case
@scenario("device = FT0001\ndevice = ZVKD0001\ndevice = ZVKD0002\n")
def list_and_info(w):
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


@case
@scenario("devices = none\n")
def list_nothing(w):
    r = w.run("list")
    expect(r.code, 3, f"exit code\n{r}")
    expect(r.out, "", "standard output")


@case
@scenario("")
def open_refused_while_another_program_holds_the_tester(w):
    with open(w.tester.slave(0), "rb") as held:
        fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
        r = w.run("program")
    expect(r.code, 5, f"exit code\n{r}")
    expect_in("The tester ZVKD0001 could not be opened: ", r.err, "standard error")
    expect_in("in use by another program", r.err, "the reason")


@case
@scenario("")
def open_refused_without_permission(w):
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
    expect_in("The tester ZVKD0001 could not be opened: no permission", r.err, "standard error")
    expect_in("dialout", r.err, "the remedy")
    expect_in("udev", r.err, "the remedy")


# --- firmware ---

@case
@scenario("hardware-code = 20\n")
def firmware_missing(w):
    w.put("VIVAD-h2.0.bin", None)
    r = w.run("program")
    expect(r.code, 6, f"exit code\n{r}")
    expect_in("Failed to find firmware file.\n", r.err, "standard error")
    expect_in("vivad-flash program --revision 2", r.err, "how to finish")


@case
@scenario("hardware-code = 20\n")
def firmware_unreadable(w):
    w.put("VIVAD-h2.0.bin", None)
    (w.firmware / "VIVAD-h2.0.bin").mkdir()
    r = w.run("program")
    expect(r.code, 7, f"exit code\n{r}")
    expect_in("Failed to read firmware file.\n", r.err, "standard error")
    expect(w.requests(), 2, "requests heard: nothing after the switch")


# --- the bootloader's endings ---

@case
@scenario("fault = 2 DropReply\nfault = 3 DropReply\nfault = 4 DropReply\n")
def start_never_answered(w):
    r = w.run("program")
    expect(r.code, 8, f"exit code\n{r}")
    expect_in("Failed to program firmware.\n", r.err, "standard error")
    not_programmed(w)


@case
@scenario("ready-status = 256\n")
def tester_not_ready(w):
    r = w.run("program")
    expect(r.code, 9, f"exit code\n{r}")
    expect_in("Please unplug and reconnect the tester and try again.\n", r.err, "standard error")


@case
@scenario("".join(f"fault = {n} DropReply\n" for n in range(4, 8)))
def block_never_acknowledged(w):
    r = w.run("program")
    expect(r.code, 8, f"exit code\n{r}")
    expect_in("Failed to program firmware.\n", r.err, "standard error")
    not_programmed(w)


# --- Ctrl-C ---

@case
@scenario("hardware-code = 20\n")
def interrupted_in_the_blocks_then_finished(w):
    w.put("VIVAD-h2.0.bin", pattern(64 * 1024, 5))
    process = w.start("program")
    err = b""
    deadline = time.monotonic() + RUN_TIMEOUT_S
    while b"progress: 20%" not in err:
        if time.monotonic() > deadline or process.poll() is not None:
            raise Failure(f"no progress to interrupt: {err!r}")
        if select.select([process.stderr], [], [], 0.5)[0]:
            err += os.read(process.stderr.fileno(), 4096)
    process.send_signal(signal.SIGINT)
    out, rest = process.communicate(timeout=RUN_TIMEOUT_S)
    err = (err + rest).decode()
    expect(process.returncode, 130, f"exit code\nstdout {out!r}\nstderr {err!r}")
    expect_in("stays in its bootloader", err, "what the interruption says")
    expect_in("vivad-flash program --revision 2", err, "how to finish")
    expect("Programming complete." in out.decode(), False, "a false completion")
    not_programmed(w)
    r = w.run("program", "--revision", "2")
    expect(r.code, 0, f"exit code of the run that finishes\n{r}")
    programmed(w, 64 * 1024)


# --- what the user sees ---

@case
@scenario("answers-identify = no\n")
def trace_file(w):
    trace = w.root / "trace.txt"
    r = w.run("program", "--trace", str(trace))
    expect(r.code, 0, f"exit code\n{r}")
    lines = trace.read_text().splitlines()
    expect(lines[0].split()[1:], [">>", "02", "01", "01", "01", "03"], "the first line")
    expect(lines[1].split()[1:], ["--", "no", "frame", "within", "1000", "ms"], "the second")
    expect(lines[2].split()[1:], [">>", "02", "01", "0A", "0A", "03"], "the probe")
    expect(lines[3].split()[1], "<<", "the probe's reply")
    times = [float(l.split()[0]) for l in lines]
    expect(times, sorted(times), "times in order")
    # identify, probe, switch, start, readiness, 6 blocks: each written once and answered.
    expect(sum(1 for l in lines if " >> " in l), 11, "frames written")


@case
@scenario("hardware-code = 20\n")
def progress_on_a_terminal(w):
    w.put("VIVAD-h2.0.bin", pattern(16 * 1024, 6))
    started = time.monotonic()
    r = w.run_on_terminal("program")
    seconds = time.monotonic() - started
    expect(r.code, 0, f"exit code\n{r}")
    redraws = r.out.count("\r") - r.out.count("\r\n")
    if redraws < 2:
        raise Failure(f"the progress line was not redrawn: {r.out!r}")
    # A few redraws a second at most.
    if redraws > seconds * 4 + 2:
        raise Failure(f"{redraws} redraws in {seconds:.1f} s")
    expect_in("100%  86/86 blocks", r.out, "the last redraw")
    expect_in("left", r.out, "time left")
    expect_in("KiB/s", r.out, "the rate")
    expect("progress:" in r.out, False, "plain progress lines on a terminal")
    programmed(w, 16 * 1024)


@case
@scenario("hardware-code = 20\n")
def progress_when_piped(w):
    w.put("VIVAD-h2.0.bin", pattern(16 * 1024, 6))
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


@case
@scenario("")
def bad_arguments(w):
    for args in (["program", "--revision", "3"], ["flash"], [], ["program", "--firmware-dir",
                                                                 "/no/such/folder"]):
        r = w.run(*args)
        expect(r.code, 2, f"exit code of {args}\n{r}")
        expect(r.err.startswith("vivad-flash: "), True, f"the error of {args}: {r.err!r}")
        expect_in("Usage:", r.err, f"the usage after {args}")
    expect(w.requests(), 0, "requests heard")
    r = w.run("--version")
    expect((r.code, r.out), (0, "vivad-flash 3.8\n"), "the version")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("cases", nargs="*")
    args = parser.parse_args()
    if args.list:
        print("\n".join(CASES))
        return 0
    if not args.build_dir:
        parser.error("--build-dir is needed to run cases")
    build = Path(args.build_dir).resolve()
    failed = 0
    for name in args.cases or CASES:
        started = time.monotonic()
        try:
            run_case(build, name)
            print(f"PASS {name} ({time.monotonic() - started:.1f} s)")
        except (Failure, subprocess.TimeoutExpired) as e:
            failed += 1
            print(f"FAIL {name}: {e}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
