"""What a run shows and what the simulated tester logs, for every harness that runs a real
program against it (the window program and vivad-flash.exe under Wine, vivad-flash on Linux).

The texts are typed here, apart from the C++ that shows them, so that a wrong constant in either
shows up as a failed test. The log helpers read the simulator's log as both of its faces write
it: the FTD2XX.dll's call lines, and the verdict lines that it and vivad-sim-pty write alike.
"""

import re

# The project's version as every front end states it; an expectation of its own, not read from
# the build.
VERSION = "3.8"
BANNER = f"REDuzazav Version: {VERSION}\n"
FLASH_VERSION = f"vivad-flash {VERSION}\n"
PROMPT_CAPTION = "REduzazav Warning"
# Where vivad-flash's revision question ends on a terminal, waiting for its line.
PROMPT_QUESTION_END = "anything else to cancel:"

# What a run shows, code unit for code unit; the messages without the line end that standard
# error adds.
VERSION_38 = "Current firmware version: 3.8\n"
BURNING = "Burning in Progress.\n Do not unplug.\n"
COMPLETE = "Programming complete.\n"
NO_TESTER = ("No Corvalt USB Power Delivery Tester device detected.\n"
             "You may need to plug in (or install) USB devices.\n")
SEVERAL_TESTERS = ("This application only supports 1 connected USB Power Delivery Tester device.\n"
                   "You need to remove USB devices.\n")
NO_FIRMWARE_FILE = "Failed to find firmware file."
UNREADABLE_FIRMWARE_FILE = "Failed to read firmware file."
PROGRAMMING_FAILED = "Failed to program firmware."
RECONNECT = "Please unplug and reconnect the tester and try again."
# vivad-flash's own when Ctrl-C is pressed, and as it ends a run that used revision 2.
STOPPING = "Stopping after the exchange in progress (Ctrl-C again to quit at once).\n"
INTERRUPTED_UNCHANGED = "Interrupted before anything was changed on the tester.\n"
INTERRUPTED_REVISION_2 = ("Interrupted. The tester stays in its bootloader, which cannot tell its "
                          "revision;\nfinish the update with: vivad-flash program --revision 2\n")
# vivad-flash's own when the revision prompt cannot be asked, when the tester cannot be opened
# (the reason follows), and after a failure in the bootloader (the command follows).
NO_TERMINAL_FOR_PROMPT = "Hardware revision unknown: pass --revision 1 or 2.\n"
OPEN_FAILED_START = "The tester ZVKD0001 could not be opened: "
FINISH_HINT_START = "The tester stays in its bootloader; once the cause is mended, finish with: "

# Frames as the log shows them, and the request numbers of a run that identifies the tester:
# identify, enter bootloader, start programming, readiness query, then the blocks.
IDENTIFY_FRAME = "02 01 01 01 03"
PROBE_FRAME = "02 01 0A 0A 03"
ENTER_BOOTLOADER_FRAME = "02 01 FD FD 03"
START_REQUEST = 2
FIRST_BLOCK_REQUEST = 4

NOTHING_PROGRAMMED = "verdict: nothing programmed"


def image_total(length):
    """Bytes announced and sent for a firmware file of `length` bytes: padded to even length,
    plus the CRC."""
    return length + length % 2 + 4


def programmed(data):
    """The verdict on a tester that holds the image of the firmware file `data` whole."""
    total = image_total(len(data))
    return f"verdict: received {total} of {total} bytes, CRC-32 good: image programmed"


def verdicts(log, when):
    """Verdict lines written when an image completed ('image') or at exit ('exit')."""
    tag = when + " "
    return [line[len(tag):] for line in log if line.startswith(tag + "verdict:")]


def scenario_errors(log):
    return [line for line in log if line.startswith("scenario error")]


def calls(log, function):
    return [line for line in log if f" {function} " in line]


def call_bytes(log, function):
    """The bytes of each call of `function` that carried any, as hex."""
    return [line.split(" bytes=", 1)[1].split(" -> ")[0] for line in calls(log, function)
            if " bytes=" in line]


def written_frames(log):
    return call_bytes(log, "FT_Write")


def exit_code_table(text):
    """The codes of the "Exit codes:" table, as vivad-flash --help and the Windows ReadMe print
    it, in order: the indented lines under the heading, up to the first that is not one; empty
    when there is no table."""
    _, heading, table = text.replace("\r\n", "\n").partition("\nExit codes:\n")
    codes = []
    for line in table.split("\n") if heading else []:
        entry = re.fullmatch(r" +(\d+)  \S.*", line)
        if entry is None:
            break
        codes.append(int(entry.group(1)))
    return codes
