#!/usr/bin/env python3
"""End-to-end tests of vivad-updater.exe under Wine, against the simulated tester.

Each test lays out a fresh installation (program, firmware images, simulated FTD2XX.dll, scenario
file, ReadMe.txt in the working folder), works the updater's window through e2e-driver.exe, and
checks the status list, the boxes, the exit code and the simulated tester's log and verdict.

    run_e2e.py --list                          names of the tests
    run_e2e.py --build-dir build/windows NAME  runs the named tests (all when none is named)
"""

import random
import shutil
import sys
import time
from pathlib import Path

from e2e_support import (IDCANCEL, IDC_ABOUT, IDC_EXIT, IDC_PROGRAM, IDNO, IDOK, IDYES, Build,
                         case_registry, Driver, E2EError, ensure_prefix, expect, harness_arguments,
                         Installation, read_log, run_reported, stop_wine, temporary_root,
                         x_display)
from tester_log import (BANNER, BURNING, COMPLETE, ENTER_BOOTLOADER_FRAME, FIRST_BLOCK_REQUEST,
                        IDENTIFY_FRAME, NO_FIRMWARE_FILE, NO_TESTER, NOTHING_PROGRAMMED,
                        PROGRAMMING_FAILED, PROMPT_CAPTION, RECONNECT, SEVERAL_TESTERS, VERSION_38,
                        calls, image_total, programmed, scenario_errors, verdicts, written_frames)

# What the updater shows, code unit for code unit.
MAIN_CAPTION = "USB Power Delivery Firmware Updater"
ERROR_CAPTION = "VIVAD Updater: Error"
BANNER_ERROR = "Error reading version from ReadMe.txt\n"
BANNER_UNKNOWN = "REDuzazav Version: ?\n"
PROMPT_TEXT = (
    "Failed to read the hardware revision of the USB Power Delivery Tester.\n"
    "Please check the label on the back of the tester to discover the hardware revision.\n\n"
    "Is this revision #1 hardware ?\n"
    "Click YES, to load the firmware for HX200 (Revision 1 hardware).\n"
    "Click NO, to load the firmware for HX300 (Revision 2 hardware).\n"
    "Click Cancel, to take no action.\n")
MESSAGE_TEXT_ID = 0xFFFF

# Two images of different sizes, so that the verdict's byte count tells which one was sent; the
# odd one is padded by one byte. Small enough for a run of a second or two in real time.
H1 = random.Random(1).randbytes(3001)
H2 = random.Random(2).randbytes(4100)
README = b"V 3.8\r\nVIVAD Updater\r\n"


class Test:
    """One test: its installations, its drivers, and what to show when it fails."""

    def __init__(self, build, display, name):
        self.build = build
        self.display = display
        self.name = name
        self.roots = []
        self.drivers = []

    def install(self, scenario="", readme=README, files=()):
        """A fresh installation. `files` lists (folder, name, bytes or None to remove) on top of
        the images beside the program and ReadMe.txt in the working folder."""
        root = temporary_root(self.name)
        self.roots.append(root)
        inst = Installation(self.build, root)
        inst.put(inst.app, "VIVAD-h1.0.bin", H1)
        inst.put(inst.app, "VIVAD-h2.0.bin", H2)
        inst.put(inst.work, "ReadMe.txt", readme)
        for folder, name, data in files:
            inst.put(inst.app if folder == "app" else inst.work, name, data)
        inst.write_scenario(scenario)
        return inst

    def start(self, inst):
        driver = Driver(inst, self.display)
        self.drivers.append(driver)
        return driver

    def launch(self, scenario="", readme=README, files=()):
        inst = self.install(scenario, readme, files)
        return inst, self.start(inst)

    def finish(self, inst, driver, how=lambda d: d.click(IDC_EXIT)):
        """Ends the updater the ordinary way and returns the simulator's log."""
        how(driver)
        expect(driver.wait_exit(15), 0, "exit code")
        log = inst.log_lines()
        errors = scenario_errors(log)
        expect(errors, [], "scenario file problems")
        # The program loads the device library when a run first needs it; once loaded, the
        # library writes its verdict as the process ends.
        if log:
            expect(len(verdicts(log, "exit")), 1, "verdicts written at exit")
        return log

    def report(self):
        for driver in self.drivers:
            if driver.process.poll() is None:
                try:
                    print("  status list:", driver.lines())
                    print("  boxes:", driver.dialogs())
                except E2EError as e:
                    print("  (driver:", e, ")")
        for root in self.roots:
            print("  kept", root)
            for line in read_log(Path(root) / "sim.log")[-25:]:
                print("   |", line)

    def close(self, passed, keep=False):
        for driver in self.drivers:
            driver.quit()
        if passed and not keep:
            for root in self.roots:
                shutil.rmtree(root, ignore_errors=True)


CASES = {}
case, table = case_registry(CASES)


def error_box(driver, caption, text, buttons):
    """Waits for the one box, checks it, and returns it still open."""
    box = driver.wait_dialog(f"the box {caption!r}")
    expect(box["class"], "#32770", "class of the box")
    expect(box["caption"], caption, "caption of the box")
    expect(box["owned_by_main"], True, "the main window owns the box")
    texts = [s["text"] for s in box["statics"] if s["id"] == MESSAGE_TEXT_ID]
    expect(texts, [text], "text of the box")
    expect(sorted(b["id"] for b in box["buttons"]), sorted(buttons), "buttons of the box")
    return box


def acknowledge_error(driver, text):
    """An error box with OK only; PROGRAM stays disabled until OK is pressed."""
    box = error_box(driver, ERROR_CAPTION, text, [IDOK])
    expect(driver.enabled(IDC_PROGRAM), False, "PROGRAM while the error box is open")
    driver.press(box, IDOK)
    driver.wait_until("the error box to close", lambda: not driver.dialogs(), 10)
    driver.wait_enabled(IDC_PROGRAM)


def expect_no_box_after_run(driver):
    """A run that ends without a message: PROGRAM comes back and no box is, or comes, up."""
    driver.wait_enabled(IDC_PROGRAM, 20)
    expect(driver.dialogs(), [], "boxes after the run")
    time.sleep(0.5)
    expect(driver.dialogs(), [], "boxes half a second after the run")


# Whole programming runs: scenario, the version line (none when only the probe answered), image.
@table("program", [
    ("revision_2", "hardware-code = 25\nfirmware-version = 4.5\n",
     "Current firmware version: 4.5\n", H2),
    ("revision_1", "hardware-code = 10\nfirmware-version = 0.7\n",
     "Current firmware version: 0.7\n", H1),
    ("revision_1_by_probe", "answers-identify = no\n", None, H1),
    ("tester_among_other_devices", "device = FT000001\ndevice = ZVKD0001\ndevice = A5\n",
     VERSION_38, H2),
    # Lost and garbled replies at the start, on blocks and on the last exchanges: resent and
    # programmed all the same.
    ("through_line_faults",
     "fault = 2 DropReply\nfault = 6 PreviousBlockNumber\nfault = 9 CutReply\n"
     "fault = 12 StrayBytesFirst\nfault = 15 CorruptRequest\n", VERSION_38, H2),
])
def program(t, scenario, version_line, image):
    inst, d = t.launch(scenario)
    expect(d.caption, MAIN_CAPTION, "main window caption")
    expect(d.lines(), [BANNER], "status list before the run")
    expect(d.enabled(IDC_PROGRAM), True, "PROGRAM before the run")
    d.click(IDC_PROGRAM)
    d.wait_line(BURNING)
    expect(d.enabled(IDC_PROGRAM), False, "PROGRAM during the run")
    lines = d.wait_line(COMPLETE, 40)
    expected = [BANNER] + ([version_line] if version_line else []) + [BURNING, COMPLETE]
    expect(lines, expected, "status list")
    d.wait_enabled(IDC_PROGRAM)
    expect(d.dialogs(), [], "boxes after programming")
    log = t.finish(inst, d)
    expect(verdicts(log, "image"), [programmed(image)], "verdict when the image completed")
    expect(verdicts(log, "exit"), [programmed(image)], "verdict at exit")
    expect(written_frames(log)[0], IDENTIFY_FRAME, "first frame")
    expect(len([c for c in calls(log, "FT_OpenEx") if "serial=ZVKD0001 -> FT_OK" in c]), 1,
           "the tester opened once")


# The tester already in its bootloader: its reply to identify has another length, so the user
# picks the revision.
@table("revision_prompt", [
    ("yes", IDYES, H1),
    ("no", IDNO, H2),
    ("cancel", IDCANCEL, None),
])
def revision_prompt(t, answer, image):
    inst, d = t.launch("starts-in-bootloader = yes\n")
    d.click(IDC_PROGRAM)
    box = error_box(d, PROMPT_CAPTION, PROMPT_TEXT, [IDYES, IDNO, IDCANCEL])
    expect(d.enabled(IDC_PROGRAM), False, "PROGRAM while the prompt is open")
    expect(d.lines(), [BANNER], "status list while the prompt is open")
    d.press(box, answer)
    if image is None:
        expect_no_box_after_run(d)
        expect(d.lines(), [BANNER], "status list after Cancel")
    else:
        expect(d.wait_line(COMPLETE, 40), [BANNER, BURNING, COMPLETE], "status list")
        d.wait_enabled(IDC_PROGRAM)
    log = t.finish(inst, d)
    expect(verdicts(log, "exit"), [programmed(image) if image else NOTHING_PROGRAMMED],
           "verdict at exit")
    # The revision came from the user, so the tester is not sent into its bootloader again.
    expect(ENTER_BOOTLOADER_FRAME in written_frames(log), False, "enter-bootloader sent")


def files_without_h2_beside_program():
    return [("app", "VIVAD-h2.0.bin", None)]


# Runs that end early: scenario, files, the box's text (none: no box), the status list after the
# banner, the verdict at exit, and a check of the calls the tester saw.
@table("ending", [
    ("no_device", "devices = none\n", [], NO_TESTER, [], NOTHING_PROGRAMMED,
     lambda log: expect(len(calls(log, "FT_ListDevices")), 1, "device-library queries")),
    ("no_tester_among_devices", "device = FT000001\ndevice = zvkd0001\ndevice = ZVK\n", [],
     NO_TESTER, [], NOTHING_PROGRAMMED,
     lambda log: expect(calls(log, "FT_OpenEx"), [], "opens")),
    ("tester_answers_nothing", "answers-identify = no\nanswers-probe = no\n", [], NO_TESTER, [],
     NOTHING_PROGRAMMED,
     lambda log: expect(written_frames(log), [IDENTIFY_FRAME, "02 01 0A 0A 03"], "frames")),
    ("several_testers", "device = ZVKD0001\ndevice = FT000009\ndevice = ZVKD0002\n", [],
     SEVERAL_TESTERS, [], NOTHING_PROGRAMMED,
     lambda log: expect(calls(log, "FT_OpenEx"), [], "opens")),
    ("open_fails", "device = ZVKD0001 open-fails\n", [], None, [], NOTHING_PROGRAMMED,
     lambda log: expect(written_frames(log), [], "frames")),
    ("firmware_file_missing", "", files_without_h2_beside_program(), NO_FIRMWARE_FILE,
     [VERSION_38], NOTHING_PROGRAMMED,
     lambda log: expect(written_frames(log), [IDENTIFY_FRAME, ENTER_BOOTLOADER_FRAME], "frames")),
    ("firmware_file_only_in_working_folder", "",
     files_without_h2_beside_program() + [("work", "VIVAD-h2.0.bin", H2)], NO_FIRMWARE_FILE,
     [VERSION_38], NOTHING_PROGRAMMED,
     lambda log: expect(len(written_frames(log)), 2, "frames")),
    ("tester_not_ready", "fault = 3 NotReadyStatus\n", [], RECONNECT, [VERSION_38, BURNING],
     f"verdict: received 0 of {image_total(len(H2))} bytes, image incomplete",
     lambda log: expect(len(written_frames(log)), 4, "frames")),
    # Block 0 reaches the tester, but none of its four acknowledgements comes back.
    ("block_unacknowledged",
     "".join(f"fault = {FIRST_BLOCK_REQUEST + i} DropReply\n" for i in range(4)), [],
     PROGRAMMING_FAILED, [VERSION_38, BURNING],
     f"verdict: received 192 of {image_total(len(H2))} bytes, image incomplete",
     lambda log: expect(len(written_frames(log)), FIRST_BLOCK_REQUEST + 4, "frames")),
])
def ending(t, scenario, files, message, lines_after_banner, verdict, check_log):
    inst, d = t.launch(scenario, files=files)
    d.click(IDC_PROGRAM)
    if message is None:
        expect_no_box_after_run(d)
    else:
        acknowledge_error(d, message)
    expect(d.lines(), [BANNER] + lines_after_banner, "status list")
    log = t.finish(inst, d)
    expect(verdicts(log, "exit"), [verdict], "verdict at exit")
    check_log(log)


# The version banner: ReadMe.txt's bytes (None: no file) and where it lies, and the lines shown.
BANNER_CASES = [
    ("good", b"V 3.8\r\nVIVAD Updater\r\n", "work", [BANNER]),
    ("missing", None, "work", [BANNER_ERROR, BANNER_UNKNOWN]),
    ("only_beside_the_program", b"V 3.8\r\n", "app", [BANNER_ERROR, BANNER_UNKNOWN]),
    ("empty", b"", "work", [BANNER_ERROR, BANNER_UNKNOWN]),
    ("zero_and_nine_passed_over", b"v0.95", "work", ["REDuzazav Version: 5\n"]),
    ("line_end_kept", b"3\r\n", "work", ["REDuzazav Version: 3\r\n\n"]),
    ("utf16_text", "3.8".encode("utf-16-le"), "work", ["REDuzazav Version: 3\n"]),
    ("bytes_widened_as_signed", b"\x35\xE9\x2E", "work", ["REDuzazav Version: 5\uFFE9.\n"]),
    ("digit_too_late", b"x" * 76 + b"3.8", "work", ["REDuzazav Version: \n"]),
]


@case("version_banner")
def version_banner(t):
    failures = []
    for name, readme, folder, expected in BANNER_CASES:
        files = [] if readme is None else [(folder, "ReadMe.txt", readme)]
        inst, d = t.launch(readme=None, files=files)
        try:
            expect(d.lines(), expected, f"banner for {name}")
        except E2EError as e:
            failures.append(str(e))
        t.finish(inst, d)
    if failures:
        raise E2EError("\n".join(failures))


@case("two_runs_accumulate")
def two_runs_accumulate(t):
    # The tester restarts its new firmware soon after programming, so that it identifies again.
    inst, d = t.launch("restart-after-programming-ms = 1\n")
    d.click(IDC_PROGRAM)
    d.wait_line(COMPLETE, 40)
    d.wait_enabled(IDC_PROGRAM)
    d.click(IDC_PROGRAM)
    lines = d.wait_lines("a second 'Programming complete'",
                         lambda lines: lines.count(COMPLETE) == 2, 40)
    expect(lines, [BANNER] + [VERSION_38, BURNING, COMPLETE] * 2, "status list")
    d.wait_enabled(IDC_PROGRAM)
    log = t.finish(inst, d)
    expect(verdicts(log, "image"), [programmed(H2)] * 2, "verdicts when images completed")
    # The second run closes the link the first one left open, and opens it anew.
    expect([c.split(" -> ")[1] for c in calls(log, "FT_Close")], ["FT_OK"], "closes")
    expect(len(calls(log, "FT_OpenEx")), 2, "opens")


# Wine's desktop never says that a taskbar button exists, so every other test runs without the
# taskbar interface. Here the driver sends the shell's message, as Windows does once the button is
# there: the program then drives Wine's ITaskbarList3 through a complete and a failed run, and
# takes the message again (as after the shell restarts) while the failure's red bar shows. The
# window must behave exactly as it does without the interface.
@case("taskbar_interface")
def taskbar_interface(t):
    inst, d = t.launch("restart-after-programming-ms = 1\n")
    d.taskbar_button()
    expect(d.lines(), [BANNER], "status list before the runs")
    d.click(IDC_PROGRAM)
    d.wait_line(COMPLETE, 40)
    d.wait_enabled(IDC_PROGRAM)
    expect(d.dialogs(), [], "boxes after programming")
    inst.put(inst.app, "VIVAD-h2.0.bin", None)
    d.click(IDC_PROGRAM)
    acknowledge_error(d, NO_FIRMWARE_FILE)
    d.taskbar_button()
    expect(d.lines(), [BANNER, VERSION_38, BURNING, COMPLETE, VERSION_38], "status list")
    log = t.finish(inst, d)
    expect(verdicts(log, "image"), [programmed(H2)], "verdicts when images completed")


@case("escape_ignored")
def escape_ignored(t):
    inst, d = t.launch()
    d.escape()
    # Posted after the key, so it is handled after it: the About box proves the window lived on.
    d.click(IDC_ABOUT)
    about = d.wait_dialog("the About box")
    expect(about["caption"], "About", "caption of the About box")
    expect(d.state(), {"running": True, "window": True, "visible": True, "exit_code": None},
           "updater state")
    d.press(about, IDOK)
    d.wait_until("the About box to close", lambda: not d.dialogs(), 10)
    expect(d.lines(), [BANNER], "status list")
    t.finish(inst, d)


# Ways out of an idle program; each ends with exit code 0.
@table("leave", [
    ("exit_button", lambda d: d.click(IDC_EXIT)),
    ("close_box", lambda d: d.close()),
    ("system_menu_close", lambda d: d.sysclose()),
])
def leave(t, how):
    inst, d = t.launch()
    expect(d.lines(), [BANNER], "status list")
    t.finish(inst, d, how)


@case("exit_during_run")
def exit_during_run(t):
    inst, d = t.launch()
    d.click(IDC_PROGRAM)
    d.wait_line(BURNING)
    log = t.finish(inst, d)
    [verdict] = verdicts(log, "exit")
    if "image programmed" in verdict:
        raise E2EError(f"the run went on to the end despite Exit: {verdict}")


@case("program_ignored_during_run")
def program_ignored_during_run(t):
    inst, d = t.launch()
    d.click(IDC_PROGRAM)
    d.wait_line(BURNING)
    # Posted straight to the window, past the disabled button.
    d.click(IDC_PROGRAM)
    d.wait_line(COMPLETE, 40)
    d.wait_enabled(IDC_PROGRAM)
    time.sleep(0.5)
    expect(d.lines(), [BANNER, VERSION_38, BURNING, COMPLETE], "status list")
    log = t.finish(inst, d)
    expect(len(calls(log, "FT_OpenEx")), 1, "runs started")
    expect(verdicts(log, "image"), [programmed(H2)], "verdict when the image completed")


@case("about_during_run")
def about_during_run(t):
    inst, d = t.launch()
    d.click(IDC_PROGRAM)
    d.wait_line(VERSION_38)
    d.click(IDC_ABOUT)
    about = d.wait_dialog("the About box")
    expect(about["class"], "#32770", "class of the About box")
    expect(about["caption"], "About", "caption of the About box")
    expect(about["owned_by_main"], True, "the main window owns the About box")
    expect("Version 3.8" in [s["text"] for s in about["statics"]], True, "version line shown")
    expect([(b["id"], b["text"]) for b in about["buttons"] if b["id"] == IDOK], [(IDOK, "OK")],
           "OK button")
    expect(d.main_enabled(), False, "main window while the About box is open")
    before = len(d.lines())
    lines = d.wait_line(COMPLETE, 40)
    if len(lines) <= before:
        raise E2EError("no line arrived while the About box was open")
    expect(lines, [BANNER, VERSION_38, BURNING, COMPLETE], "status list")
    expect([b["hwnd"] for b in d.dialogs()], [about["hwnd"]], "the About box still open")
    d.press(about, IDOK)
    d.wait_until("the About box to close", lambda: not d.dialogs(), 10)
    expect(d.main_enabled(), True, "main window after the About box")
    log = t.finish(inst, d)
    expect(verdicts(log, "exit"), [programmed(H2)], "verdict at exit")


def run(build, name, keep):
    stop_wine(build)
    with x_display() as display:
        t = Test(build, display, name)

        def close(passed):
            t.close(passed, keep)
            if keep:
                print("  kept", *t.roots)
            stop_wine(build)

        return run_reported(name, lambda: CASES[name](t), t.report, close)


def main():
    args, done = harness_arguments(__doc__, CASES)
    if done is not None:
        return done
    build = Build(args.build_dir, args.emulator)
    build.check()
    ensure_prefix(build)
    results = [run(build, name, args.keep) for name in (args.names or list(CASES))]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
