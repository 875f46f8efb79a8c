#!/usr/bin/env python3
"""End-to-end tests of vivad-flash.exe, the command-line updater, under Wine against the
simulated tester.

Each test lays out a fresh folder (the program, the simulated FTD2XX.dll, two small firmware
images, a scenario file), runs `wine vivad-flash.exe ...` one or more times with standard input
from /dev/null and both output streams on pipes, and checks the exit code, both streams and the
simulated tester's log. The output streams are pipes, not a console: the program writes UTF-8 as
is, and the transfer's progress comes as a plain line at each tenth. The console cases run it on
a pseudo-terminal instead, where Wine gives it a console: UTF-16 through the console API, the
progress line redrawn in place, and Ctrl-C typed on the terminal.

    flash_e2e.py --list                          names of the tests
    flash_e2e.py --build-dir build/windows NAME  runs the named tests (all when none is named)
"""

import random
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path
from types import SimpleNamespace

import tester_log
from e2e_support import (Build, case_registry, E2EError, ensure_prefix, expect, expect_true,
                         harness_arguments, read_log, run_reported, simulator_environment,
                         start_wine, stop_wine, windows_path)
from tester_log import (BURNING, COMPLETE, ENTER_BOOTLOADER_FRAME, FINISH_HINT_START,
                        FIRST_BLOCK_REQUEST, FLASH_VERSION, IDENTIFY_FRAME, INTERRUPTED_REVISION_2,
                        INTERRUPTED_UNCHANGED, NO_TERMINAL_FOR_PROMPT, NO_TESTER,
                        NOTHING_PROGRAMMED, OPEN_FAILED_START, PROBE_FRAME, PROMPT_QUESTION_END,
                        SEVERAL_TESTERS, START_REQUEST, STOPPING, VERSION_38, call_bytes, calls,
                        exit_code_table, image_total, programmed, scenario_errors, verdicts,
                        written_frames)
from terminal import CTRL_C, run_on_terminal

# What the run shares with the Windows program, code unit for code unit.
# The messages as standard error shows them, with their line end.
NO_FIRMWARE_FILE = tester_log.NO_FIRMWARE_FILE + "\n"
PROGRAMMING_FAILED = tester_log.PROGRAMMING_FAILED + "\n"
RECONNECT = tester_log.RECONNECT + "\n"

# The command line's own.
USAGE = ("Usage:\n"
         "  vivad-flash list\n"
         "  vivad-flash info    [--serial SERIAL]\n"
         "  vivad-flash program [--serial SERIAL] [--firmware-dir DIR] [--revision 1|2]\n"
         "                      [--trace FILE] [--quiet]\n"
         "  vivad-flash --help | --version\n")
MORE_HELP = "Run 'vivad-flash --help' for more.\n"
EXIT_CODES = [0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 130]

# Two images of different sizes, so that the verdict's byte count tells which one was sent; the
# odd one is padded by one byte. Small, so that a run takes a couple of seconds in real time.
H1 = random.Random(1).randbytes(1501)
H2 = random.Random(2).randbytes(2500)
BLOCK_SIZE = 192

START_OPCODE = "FE"

TRACE_LINE = re.compile(r" *(\d+\.\d{3}) (>>|<<|--)( .*)?")


# What Wine's console adds on a terminal around the program's text: the cursor hidden and shown
# around each write, and carriage returns before each line end.
CONSOLE_CONTROL = re.compile(r"\x1b\[[0-9;?]*[A-Za-z]")
PROGRESS_REDRAW = re.compile(r"\r *\d+%  \d+/\d+ blocks  ")

WINE_RUN_TIMEOUT_S = 60
# How long the Wine server stays up after its last program has ended, so that the runs of a test
# share one server and its system processes; should the harness die, it goes away by itself.
WINE_SERVER_LINGER_S = 30


def console_text(raw):
    """What a terminal shows of Wine's console output, its controls taken out and each line
    ended by a plain line feed; a carriage return that redraws a line stays."""
    return re.sub(r"\r+\n", "\n", CONSOLE_CONTROL.sub("", raw))


def block_count(data):
    return -(-image_total(len(data)) // BLOCK_SIZE)


def shorten(line, width=150):
    """A long line of the log (a block's hex) cut to what a reader scans."""
    return line if len(line) <= width else line[:width - 5] + " ..."


class Run:
    """One finished `wine vivad-flash.exe ...`: what it said and what the tester saw."""

    def __init__(self, arguments, completed, log_path):
        self.arguments = arguments
        self.code = completed.returncode
        self.out = completed.stdout.decode("utf-8")
        self.err = completed.stderr.decode("utf-8")
        self.log_exists = log_path.exists()
        self.log = read_log(log_path)

    def verdicts(self, when):
        return verdicts(self.log, when)

    def written_frames(self):
        return written_frames(self.log)

    def read_bytes(self):
        """Every byte the program read, in order, as hex."""
        return " ".join(call_bytes(self.log, "FT_Read"))

    def calls(self, function):
        return calls(self.log, function)

    def opened_serials(self):
        return [line.split(" serial=", 1)[1].split(" ")[0] for line in self.calls("FT_OpenEx")]

    def describe(self):
        lines = [f"  $ wine vivad-flash.exe {shlex.join(self.arguments)}",
                 f"  exit code {self.code}",
                 "  stdout:", *(f"   > {line}" for line in self.out.splitlines()),
                 "  stderr:", *(f"   ! {line}" for line in self.err.splitlines())]
        if self.log_exists:
            lines.append(f"  simulator log ({len(self.log)} lines, last 25):")
            lines += [f"   | {shorten(line)}" for line in self.log[-25:]]
        else:
            lines.append("  no simulator log")
        return "\n".join(lines)


class Folder:
    """A folder laid out as a user would unpack vivad-flash.exe: the program, the simulated
    FTD2XX.dll and the firmware images side by side, and the scenario of the tester."""

    def __init__(self, test, root, scenario, images):
        self.test = test
        self.root = Path(root)
        self.root.mkdir()
        self.program = self.root / "vivad-flash.exe"
        self.scenario = self.root / "scenario.txt"
        shutil.copy2(test.build.flash, self.program)
        shutil.copy2(test.build.dll, self.root / "FTD2XX.dll")
        for name, data in images.items():
            (self.root / name).write_bytes(data)
        self.set_scenario(scenario)
        self.runs = 0

    def set_scenario(self, text):
        self.scenario.write_text(text)

    def next_log(self):
        """Where the simulator writes the log of the next run."""
        return self.root / f"sim-{self.runs + 1}.log"

    def _next_run(self):
        """The log of the next run, and the environment that points the simulator at it."""
        log = self.next_log()
        self.runs += 1
        env = simulator_environment(self.test.build, None, self.scenario, log)
        # Names and arguments beyond ASCII pass between Linux and Wine as UTF-8, whatever the
        # machine's locale; Wine's console writes to a terminal in it too.
        env["LC_ALL"] = "C.UTF-8"
        return log, env

    def _finished(self, result):
        self.test.runs.append(result)
        expect(scenario_errors(result.log), [], "scenario file problems")
        return result

    def run(self, *arguments, stdin=None, cwd=None):
        """Runs the program with the given arguments, in this folder or `cwd`; stdin is bytes for
        a pipe, or None for /dev/null. Each run gets a log of its own."""
        log, env = self._next_run()
        completed = subprocess.run(
            [self.test.build.emulator, str(self.program), *arguments], cwd=cwd or self.root,
            env=env,
            input=stdin, stdin=None if stdin is not None else subprocess.DEVNULL,
            capture_output=True, timeout=WINE_RUN_TIMEOUT_S)
        return self._finished(Run(list(arguments), completed, log))

    def run_on_console(self, *arguments, keys=()):
        """Runs the program in this folder with its three streams on a terminal, as from a
        terminal window: Wine gives it a console there; `keys` are typed as run_on_terminal takes
        them. Both streams' text, as the terminal shows it once Wine's console controls are taken
        out, is in `out`."""
        log, env = self._next_run()
        code, chunks = run_on_terminal([self.test.build.emulator, str(self.program), *arguments],
                                       self.root, env, keys, WINE_RUN_TIMEOUT_S)
        shown = SimpleNamespace(returncode=code,
                                stdout=console_text("".join(t for _, t in chunks)).encode(),
                                stderr=b"")
        return self._finished(Run(list(arguments), shown, log))


BOTH_IMAGES = {"VIVAD-h1.0.bin": H1, "VIVAD-h2.0.bin": H2}


class Test:
    """One test: its folders, its runs, and what to show when it fails."""

    def __init__(self, build, name):
        self.build = build
        self.name = name
        self.root = Path(tempfile.mkdtemp(prefix=f"vivad-flash-e2e-{name}-"))
        self.runs = []
        self.folders = 0

    def folder(self, scenario="", images=None):
        self.folders += 1
        return Folder(self, self.root / f"f{self.folders}", scenario,
                      BOTH_IMAGES if images is None else images)

    def report(self):
        for run in self.runs:
            print(run.describe())
        print("  kept", self.root)

    def close(self, passed, keep):
        if passed and not keep:
            shutil.rmtree(self.root, ignore_errors=True)


# Checks shared by the tests.

def expect_ended(run, code, out, err):
    expect(run.code, code, "exit code")
    expect(run.out, out, "standard output")
    expect(run.err, err, "standard error")


def expect_programmed(run, image):
    expect(run.verdicts("image"), [programmed(image)], "verdict when the image completed")
    expect(run.verdicts("exit"), [programmed(image)], "verdict at exit")


def expect_nothing_loaded(run):
    """The device library was never loaded: it writes its log from the moment it is."""
    expect_true(not run.log_exists or run.log == [], "device-library calls", run.log)


def progress_lines(image):
    """The plain progress lines of a whole transfer: one at the first block that reaches each
    further tenth of the bytes, with the blocks acknowledged so far."""
    total = image_total(len(image))
    blocks = block_count(image)

    def tenth(acknowledged):
        return min(acknowledged * BLOCK_SIZE, total) * 100 // total // 10

    return "".join(f"progress: {tenth(a) * 10}% ({a} of {blocks} blocks)\n"
                   for a in range(1, blocks + 1) if tenth(a) > tenth(a - 1))


def opcodes(run):
    """The opcode of each frame written (the byte after the start and the length)."""
    return [frame.split()[2] for frame in run.written_frames()]


# The registry of tests.

CASES = {}
case, table = case_registry(CASES)


# Whole programming runs: scenario, arguments, the status lines, the image, and whether
# progress is shown.
@table("program", [
    ("revision_2", "", [], VERSION_38 + BURNING + COMPLETE, H2, True),
    ("revision_1", "hardware-code = 10\nfirmware-version = 0.7\n", [],
     "Current firmware version: 0.7\n" + BURNING + COMPLETE, H1, True),
    ("revision_1_by_probe", "answers-identify = no\n", [], BURNING + COMPLETE, H1, True),
    ("quiet", "", ["--quiet"], VERSION_38 + BURNING + COMPLETE, H2, False),
])
def program(t, scenario, arguments, out, image, progress):
    run = t.folder(scenario).run("program", *arguments)
    expect(run.code, 0, "exit code")
    expect(run.out, out, "standard output")
    expect(run.err, progress_lines(image) if progress else "", "standard error")
    expect_programmed(run, image)
    expect(run.written_frames()[0], IDENTIFY_FRAME, "first frame")
    expect(opcodes(run).count("FD"), 1, "enter-bootloader frames")
    expect(run.opened_serials(), ["ZVKD0001"], "testers opened")
    expect(len(run.calls("FT_Close")), 1, "links closed")


@case("no_tester")
def no_tester(t):
    run = t.folder("devices = none\n").run("program")
    expect_ended(run, 3, "", NO_TESTER)
    expect(len(run.calls("FT_ListDevices")), 1, "device-library queries")
    expect(run.verdicts("exit"), [NOTHING_PROGRAMMED], "verdict at exit")


TWO_TESTERS_AND_ANOTHER = "device = ZVKD0001\ndevice = FT000009\ndevice = ZVKD0002\n"


@case("several_testers_without_serial")
def several_testers_without_serial(t):
    run = t.folder(TWO_TESTERS_AND_ANOTHER).run("program")
    expect_ended(run, 4, "", SEVERAL_TESTERS)
    expect(run.calls("FT_OpenEx"), [], "opens")


@case("several_testers_with_serial")
def several_testers_with_serial(t):
    run = t.folder(TWO_TESTERS_AND_ANOTHER).run("program", "--serial", "ZVKD0002", "--quiet")
    expect_ended(run, 0, VERSION_38 + BURNING + COMPLETE, "")
    expect(run.opened_serials(), ["ZVKD0002"], "testers opened")
    expect_programmed(run, H2)


# A serial number that is not attached, among testers or alone; the test is case-sensitive.
@table("serial_not_attached", [
    ("alone", "", "ZVKD0009"),
    ("among_several", TWO_TESTERS_AND_ANOTHER, "ZVKD0003"),
    ("other_case", "", "zvkd0001"),
])
def serial_not_attached(t, scenario, serial):
    run = t.folder(scenario).run("program", "--serial", serial)
    expect_ended(run, 3, "", NO_TESTER)
    expect(run.calls("FT_OpenEx"), [], "opens")


# A tester already in its bootloader cannot tell its revision: --revision answers the prompt,
# and the tester is not sent into its bootloader again.
@table("revision_answers_prompt", [
    ("1", "1", H1),
    ("2", "2", H2),
])
def revision_answers_prompt(t, revision, image):
    run = t.folder("starts-in-bootloader = yes\n").run("program", "--revision", revision,
                                                        "--quiet")
    expect_ended(run, 0, BURNING + COMPLETE, "")
    expect_programmed(run, image)
    expect(ENTER_BOOTLOADER_FRAME in run.written_frames(), False, "enter-bootloader sent")


# With no terminal on standard input the prompt cannot be asked: the run ends as a Cancel does.
# A pipe is no terminal, whatever it carries.
@table("revision_unknown", [
    ("stdin_null", None),
    ("stdin_pipe", b"1\r\n"),
])
def revision_unknown(t, stdin):
    run = t.folder("starts-in-bootloader = yes\n").run("program", stdin=stdin)
    expect_ended(run, 10, "", NO_TERMINAL_FOR_PROMPT)
    expect(run.written_frames(), [IDENTIFY_FRAME], "frames written")
    expect(run.verdicts("exit"), [NOTHING_PROGRAMMED], "verdict at exit")


# --revision against what the tester reports: the run ends before the bootloader, naming both.
@table("revision_contradicts", [
    ("reported_2", "", "1", VERSION_38, "hardware revision 2 (code 20)", [IDENTIFY_FRAME]),
    ("reported_1", "hardware-code = 10\n", "2", "Current firmware version: 3.8\n",
     "hardware revision 1 (code 10)", [IDENTIFY_FRAME]),
    ("probe_answered", "answers-identify = no\n", "2", "",
     "hardware revision 1 (it answers the revision-1 probe)", [IDENTIFY_FRAME, PROBE_FRAME]),
])
def revision_contradicts(t, scenario, revision, out, reported, frames):
    run = t.folder(scenario).run("program", "--revision", revision)
    expect(run.code, 11, "exit code")
    expect(run.out, out, "standard output")
    expect(len(run.err.splitlines()), 1, "lines on standard error")
    expect_true(f"The tester reports {reported}, but --revision {revision} was given."
                in run.err, "both revisions named", run.err)
    expect(run.written_frames(), frames, "frames written")
    expect(run.verdicts("exit"), [NOTHING_PROGRAMMED], "verdict at exit")


@case("firmware_missing_then_finished")
def firmware_missing_then_finished(t):
    folder = t.folder(images={"VIVAD-h1.0.bin": H1})
    run = folder.run("program")
    expect(run.code, 6, "exit code")
    expect(run.out, VERSION_38, "standard output")
    # No --serial was given, so the command names none.
    hint = "vivad-flash program --revision 2"
    expect(run.err, NO_FIRMWARE_FILE + FINISH_HINT_START + hint + "\n", "standard error")
    expect(run.written_frames(), [IDENTIFY_FRAME, ENTER_BOOTLOADER_FRAME], "frames written")
    # The cause mended, the command the hint gives finishes the update of the tester, which
    # stays in its bootloader.
    (folder.root / "VIVAD-h2.0.bin").write_bytes(H2)
    folder.set_scenario("starts-in-bootloader = yes\n")
    finish = folder.run(*shlex.split(hint)[1:], "--quiet")
    expect_ended(finish, 0, BURNING + COMPLETE, "")
    expect_programmed(finish, H2)
    expect(finish.opened_serials(), ["ZVKD0001"], "testers opened")


# --firmware-dir as a user may write it: the folder's name, whether the program runs in the
# folder that holds it (else in its own), and how the folder is spelled.
@table("firmware_dir", [
    ("windows_path", "images", False, windows_path),
    ("trailing_separator", "images", False, lambda folder: windows_path(folder) + "\\"),
    ("relative", "images", True, lambda folder: folder.name),
    ("beyond_ascii", "Firmwäre für Jürgen", False, windows_path),
])
def firmware_dir(t, name, in_parent, spelled):
    images = t.root / name
    images.mkdir()
    for file_name, data in BOTH_IMAGES.items():
        (images / file_name).write_bytes(data)
    folder = t.folder(images={})
    run = folder.run("program", "--firmware-dir", spelled(images), "--quiet",
                     cwd=t.root if in_parent else None)
    expect_ended(run, 0, VERSION_38 + BURNING + COMPLETE, "")
    expect_programmed(run, H2)


@case("firmware_beside_program_not_in_working_folder")
def firmware_beside_program_not_in_working_folder(t):
    # The working folder holds the other revision's image under the name the run looks for: the
    # verdict's length tells which one went.
    work = t.folder(images={"VIVAD-h2.0.bin": H1})
    folder = t.folder()
    run = folder.run("program", "--quiet", cwd=work.root)
    expect_ended(run, 0, VERSION_38 + BURNING + COMPLETE, "")
    expect_programmed(run, H2)


@case("open_fails")
def open_fails(t):
    run = t.folder("device = ZVKD0001 open-fails\n").run("program")
    expect(run.code, 5, "exit code")
    expect(run.out, "", "standard output")
    expect_true(run.err.startswith(OPEN_FAILED_START) and run.err.endswith("\n")
                and len(run.err.splitlines()) == 1 and len(run.err) > len(OPEN_FAILED_START) + 1,
                "one line: the tester could not be opened, and why", run.err)
    expect(run.written_frames(), [], "frames written")


# Runs that fail once the tester is in its bootloader: scenario, exit code, message, frames
# written, verdict at exit. Each says how to finish.
@table("ending", [
    ("tester_not_ready", "ready-status = 256\n", 9, RECONNECT,
     ["01", "FD", START_OPCODE, "FF"],
     f"verdict: received 0 of {image_total(len(H2))} bytes, image incomplete"),
    # Every start request's reply is lost: three sends, then the run gives up.
    ("start_unanswered",
     "".join(f"fault = {START_REQUEST + i} DropReply\n" for i in range(3)), 8,
     PROGRAMMING_FAILED, ["01", "FD"] + [START_OPCODE] * 3,
     f"verdict: received 0 of {image_total(len(H2))} bytes, image incomplete"),
    # Block 0 reaches the tester, but none of its four acknowledgements comes back.
    ("block_unacknowledged",
     "".join(f"fault = {FIRST_BLOCK_REQUEST + i} DropReply\n" for i in range(4)), 8,
     PROGRAMMING_FAILED, ["01", "FD", START_OPCODE, "FF"] + ["FF"] * 4,
     f"verdict: received 192 of {image_total(len(H2))} bytes, image incomplete"),
])
def ending(t, scenario, code, message, frame_opcodes, verdict):
    run = t.folder(scenario).run("program")
    expect(run.code, code, "exit code")
    expect(run.out, VERSION_38 + BURNING, "standard output")
    hint = FINISH_HINT_START + "vivad-flash program --revision 2\n"
    expect(run.err, message + hint, "standard error")
    expect(opcodes(run), frame_opcodes, "opcodes written")
    expect(run.verdicts("exit"), [verdict], "verdict at exit")


@case("list_testers")
def list_testers(t):
    # The other device is not listed, but it counts in the library's positions.
    run = t.folder(TWO_TESTERS_AND_ANOTHER).run("list")
    expect_ended(run, 0, "ZVKD0001\t#0\nZVKD0002\t#2\n", "")
    expect(run.calls("FT_OpenEx"), [], "opens")


@case("list_none")
def list_none(t):
    run = t.folder("device = FT000009\n").run("list")
    expect_ended(run, 3, "", NO_TESTER)


# info: scenario, arguments, what it prints, the frames written. It never enters the
# bootloader.
@table("info", [
    ("revision_2", "", [],
     "serial: ZVKD0001\nhardware revision: 2 (code 20)\nfirmware version: 3.8\n",
     [IDENTIFY_FRAME]),
    ("revision_1", "hardware-code = 10\nfirmware-version = 0.7\n", [],
     "serial: ZVKD0001\nhardware revision: 1 (code 10)\nfirmware version: 0.7\n",
     [IDENTIFY_FRAME]),
    ("by_probe", "answers-identify = no\n", [],
     "serial: ZVKD0001\nhardware revision: 1 (answers the revision-1 probe)\n"
     "firmware version: unknown\n", [IDENTIFY_FRAME, PROBE_FRAME]),
    ("in_bootloader", "starts-in-bootloader = yes\n", [],
     "serial: ZVKD0001\nhardware revision: unknown (identify answered with 2 bytes, as a "
     "bootloader does)\nfirmware version: unknown\n", [IDENTIFY_FRAME]),
    ("by_serial", TWO_TESTERS_AND_ANOTHER + "hardware-code = 25\nfirmware-version = 4.5\n",
     ["--serial", "ZVKD0002"],
     "serial: ZVKD0002\nhardware revision: 2 (code 25)\nfirmware version: 4.5\n",
     [IDENTIFY_FRAME]),
])
def info(t, scenario, arguments, out, frames):
    run = t.folder(scenario).run("info", *arguments)
    expect_ended(run, 0, out, "")
    expect(run.written_frames(), frames, "frames written")
    expect(len(run.calls("FT_OpenEx")), 1, "opens")
    expect(len(run.calls("FT_Close")), 1, "closes")


@case("info_several_testers")
def info_several_testers(t):
    run = t.folder(TWO_TESTERS_AND_ANOTHER).run("info")
    expect_ended(run, 4, "", SEVERAL_TESTERS)
    expect(run.calls("FT_OpenEx"), [], "opens")


# Bad arguments, and what the error's line names: each gives that one line, the usage and exit 2,
# and nothing is opened.
BAD_ARGUMENTS = [
    (["program", "--revision", "3"], "--revision"),
    (["program", "--revision", "one"], "--revision"),
    (["program", "--revision"], "--revision"),
    (["program", "--serial", ""], "serial"),
    (["program", "--firmware-dir", "Z:\\no\\such\\folder"],
     "Directory does not exist: Z:\\no\\such\\folder"),
    # A file, not a folder: the program itself, in the working folder.
    (["program", "--firmware-dir", "vivad-flash.exe"],
     "Directory is actually a file: vivad-flash.exe"),
    (["program", "--bogus"], "--bogus"),
    (["list", "--serial", "ZVKD0001"], "--serial"),
    (["info", "--quiet"], "--quiet"),
    (["flash"], "flash"),
    ([], "subcommand"),
    (["program", "info"], "info"),
]


@case("bad_arguments")
def bad_arguments(t):
    folder = t.folder()
    failures = []
    for arguments, named in BAD_ARGUMENTS:
        run = folder.run(*arguments)
        try:
            expect(run.code, 2, "exit code")
            expect(run.out, "", "standard output")
            first, _, rest = run.err.partition("\n")
            expect_true(first.startswith("vivad-flash: ") and named in first,
                        f"the error's line, naming {named!r}", first)
            expect(rest, USAGE + MORE_HELP, "usage after the error")
            expect_nothing_loaded(run)
        except E2EError as e:
            failures.append(f"{shlex.join(arguments) or '(no arguments)'}: {e}")
    if failures:
        raise E2EError("\n".join(failures))


@case("trace_file_unwritable")
def trace_file_unwritable(t):
    run = t.folder().run("program", "--trace", "Z:\\no\\such\\folder\\trace.txt")
    expect(run.code, 2, "exit code")
    expect(run.out, "", "standard output")
    expect_true(run.err.startswith("vivad-flash: cannot write the trace file Z:\\no\\such\\folder"
                                   "\\trace.txt: ") and len(run.err.splitlines()) == 1,
                "one line naming the trace file", run.err)
    expect_nothing_loaded(run)


@case("version")
def version(t):
    run = t.folder().run("--version")
    expect_ended(run, 0, FLASH_VERSION, "")
    expect_nothing_loaded(run)


@case("help")
def help_text(t):
    run = t.folder().run("--help")
    expect(run.code, 0, "exit code")
    expect(run.err, "", "standard error")
    expect_true("--firmware-dir" in run.out and "--revision" in run.out, "options shown", run.out)
    expect(exit_code_table(run.out), EXIT_CODES, "exit codes listed")
    expect_nothing_loaded(run)


@case("trace_file")
def trace_file(t):
    # One lost block acknowledgement, so that the trace also shows a wait without a frame.
    folder = t.folder(f"fault = {FIRST_BLOCK_REQUEST + 1} DropReply\n")
    trace = folder.root / "trace.txt"
    run = folder.run("program", "--trace", windows_path(trace), "--quiet")
    expect_ended(run, 0, VERSION_38 + BURNING + COMPLETE, "")
    expect_programmed(run, H2)
    raw = trace.read_bytes().decode("ascii")
    # A text file written by a Windows program: CRLF line ends, throughout.
    expect_true(raw.endswith("\r\n") and raw.count("\n") == raw.count("\r\n"),
                "CRLF line ends in the trace", raw[:200])
    events = []
    for line in raw.split("\r\n")[:-1]:
        match = TRACE_LINE.fullmatch(line)
        expect_true(match, "a trace line: milliseconds, then >>, << or --", line)
        events.append((float(match.group(1)), match.group(2), (match.group(3) or "").strip()))
    times = [ms for ms, _, _ in events]
    expect(times, sorted(times), "trace times in order")
    written = [hex_bytes for _, kind, hex_bytes in events if kind == ">>"]
    expect(written[0], IDENTIFY_FRAME, "first frame traced")
    expect(written, run.written_frames(), "frames traced against those the tester got")
    received = " ".join(hex_bytes for _, kind, hex_bytes in events if kind == "<<")
    expect(received, run.read_bytes(), "replies traced against the bytes read")
    waits = [hex_bytes for _, kind, hex_bytes in events if kind == "--"]
    expect(waits, ["no frame within 1000 ms"], "waits without a frame")


@case("trace_file_beyond_ascii")
def trace_file_beyond_ascii(t):
    # A run that ends after identify is enough to write a frame and its reply.
    folder = t.folder()
    trace = folder.root / "Protokoll für Jürgen.txt"
    run = folder.run("program", "--revision", "1", "--trace", windows_path(trace))
    expect(run.code, 11, "exit code")
    expect(sorted(p.name for p in folder.root.glob("*.txt")), sorted([trace.name, "scenario.txt"]),
           "text files in the folder")
    lines = trace.read_text(encoding="ascii").splitlines()
    first = lines[0].split()[1:] if lines else []
    expect(" ".join(first), ">> " + IDENTIFY_FRAME, "first trace line without its time")


# On a console: the Windows build's own console paths (UTF-16 through the console API, the
# progress line redrawn in place, Ctrl-C through the console's handler), which every other test,
# its streams on pipes, leaves untouched.
@case("console_progress_then_interrupted_and_finished")
def console_progress_then_interrupted_and_finished(t):
    # Long enough (about 7 s) that the Ctrl-C comes in the blocks even on a machine under load.
    image = random.Random(7).randbytes(32 * 1024)
    folder = t.folder(images={"VIVAD-h2.0.bin": image})
    # Ctrl-C typed on the terminal once the progress line has been redrawn a few times.
    run = folder.run_on_console(
        "program", keys=[(lambda shown: len(PROGRESS_REDRAW.findall(shown)) >= 3, CTRL_C)])
    expect(run.code, 130, "exit code")
    before, _, after = run.out.partition(STOPPING)
    expect_true(before.startswith(VERSION_38 + BURNING), "the status lines first", run.out)
    progress = before[len(VERSION_38 + BURNING):]
    expect_true(len(PROGRESS_REDRAW.findall(progress)) >= 3 and "\n" not in progress.rstrip("\n")
                and "KiB/s" in progress and "left" in progress,
                "one progress line, redrawn in place", progress)
    # The terminal echoes the Ctrl-C it was typed; the program says the rest.
    expect(after, INTERRUPTED_REVISION_2, "what the interruption says")
    expect(run.verdicts("image"), [], "verdicts on a whole image")
    # The exchange in progress was seen through: the last block written had its acknowledgement
    # read whole, and then the link was closed.
    block = run.written_frames()[-1].split()
    after_write = run.log[run.log.index(run.calls("FT_Write")[-1]) + 1:]
    read = " ".join(call_bytes(after_write, "FT_Read")).split()
    expect(read, ["02", "03", "FF", *block[3:5], read[-2], "03"],
           "the last block's acknowledgement, read whole")
    expect([line.split()[1] for line in after_write if " FT_" in line][-1], "FT_Close",
           "the last call")
    # The tester waits in its bootloader; the command the program named finishes the update.
    folder.set_scenario("starts-in-bootloader = yes\n")
    finish = folder.run("program", "--revision", "2", "--quiet")
    expect_ended(finish, 0, BURNING + COMPLETE, "")
    expect_programmed(finish, image)


@case("console_second_ctrl_c_quits_at_once")
def console_second_ctrl_c_quits_at_once(t):
    # The tester takes 1.9 s to erase before it answers the start request, within the start's
    # 2 s wait: both presses come in that exchange.
    folder = t.folder("erase-ms = 1900\n")
    log = folder.next_log()

    def start_request_written(_):
        return len(calls(read_log(log), "FT_Write")) > START_REQUEST

    run = folder.run_on_console("program", keys=[(start_request_written, CTRL_C),
                                                 (STOPPING.strip(), CTRL_C)])
    expect(run.code, 130, "exit code")
    expect_true(STOPPING in run.out and "Interrupted." not in run.out and COMPLETE not in run.out,
                "the first press's line only", run.out)
    # At once: the start's exchange was not seen through, nor the link closed.
    expect(len(run.calls("FT_Write")), START_REQUEST + 1, "frames written")
    expect(run.calls("FT_Close"), [], "closes")


@case("console_ctrl_c_at_the_prompt")
def console_ctrl_c_at_the_prompt(t):
    # A tester in its bootloader cannot tell its revision: the question waits for its line on
    # the console, and Ctrl-C ends the wait as an interruption, not as an answer.
    run = t.folder("starts-in-bootloader = yes\n").run_on_console(
        "program", keys=[(PROMPT_QUESTION_END, CTRL_C)])
    expect(run.code, 130, "exit code")
    expect_true(run.out.endswith(INTERRUPTED_UNCHANGED), "what the interruption says", run.out)
    expect(run.written_frames(), [IDENTIFY_FRAME], "frames written")
    expect(run.verdicts("exit"), [NOTHING_PROGRAMMED], "verdict at exit")


@case("console_text_beyond_ascii")
def console_text_beyond_ascii(t):
    # A message that names a path beyond ASCII goes through the console as UTF-16 and reaches
    # the terminal whole.
    path = "Z:\\no\\such\\Jürgen\\Protokoll für Jürgen.txt"
    run = t.folder().run_on_console("program", "--trace", path)
    expect(run.code, 2, "exit code")
    expect_true(run.out.startswith(f"vivad-flash: cannot write the trace file {path}: ")
                and len(run.out.splitlines()) == 1, "one line naming the trace file", run.out)
    expect_nothing_loaded(run)


def run(build, name, keep):
    t = Test(build, name)

    def close(passed):
        t.close(passed, keep)
        if keep:
            print("  kept", t.root)

    return run_reported(f"flash.{name}", lambda: CASES[name](t), t.report, close)


def main():
    args, done = harness_arguments(__doc__, CASES)
    if done is not None:
        return done
    build = Build(args.build_dir, args.emulator)
    # A prefix of their own, so that these tests, which need no display, run beside the window
    # program's, each set under its own lock.
    build.prefix = build.dir / "wineprefix-flash"
    build.check(build.flash, build.dll)
    ensure_prefix(build)
    # The runs of the tests share one Wine server, which is stopped when they are done, so that
    # the next test under the lock finds the prefix idle.
    stop_wine(build)
    start_wine(build, build.flash, linger_s=WINE_SERVER_LINGER_S,
               timeout_s=WINE_RUN_TIMEOUT_S)
    try:
        results = [run(build, name, args.keep) for name in (args.names or list(CASES))]
    finally:
        stop_wine(build)
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
