#!/usr/bin/env python3
"""A short soak of the real updater under Wine: one program, PROGRAM pressed again and again
against the simulated tester, with faults scattered over the whole session.

Each run must end with PROGRAM enabled again and no box left open, having answered any revision
prompt and acknowledged any error box, whose text must be one of the updater's messages. The
status list only grows, in the order a run adds its lines, and the simulator's verdict lines
must match the completion lines one for one. The link of each run is closed by the next.

    soak_e2e.py --build-dir build/windows [--runs 30]
"""

import argparse
import random
import sys
import time

from e2e_support import (IDC_EXIT, IDC_PROGRAM, IDNO, IDOK, Build, E2EError, ensure_prefix,
                         expect, run_reported, stop_wine, x_display)
from run_e2e import ERROR_CAPTION, H1, H2, Test
from tester_log import (BANNER, BURNING, COMPLETE, NO_TESTER, PROGRAMMING_FAILED, PROMPT_CAPTION,
                        RECONNECT, calls, programmed, verdicts)

MESSAGES = {NO_TESTER, PROGRAMMING_FAILED, RECONNECT}
# Faults that strike one exchange; an unplug or a garbage stream would end the soak's tester.
FAULT_KINDS = ["DropReply", "CutReply", "StrayBytesFirst", "PreviousBlockNumber",
               "EmptyReply", "WrongOpcode", "CorruptRequest", "LateReply 1500"]
# About the exchanges of one run of the revision-2 image: identify, bootloader entry, start,
# readiness, 22 blocks.
EXCHANGES_PER_RUN = 26


# A leak adds memory run after run, so it shows in both quarters of the soak's second half; the
# heap's own slack comes as a single step now and then, in one of them. A quarter (seven runs) that
# leaked an image (4 KiB) every other run would add about 14 KiB.
QUARTER_GROWTH_LIMIT = 8 * 1024


def scenario(runs, seed):
    rng = random.Random(seed)
    lines = ["restart-after-programming-ms = 1"]
    for request in sorted(rng.sample(range(runs * EXCHANGES_PER_RUN), runs)):
        lines.append(f"fault = {request} {rng.choice(FAULT_KINDS)}")
    return "\n".join(lines) + "\n"


def memory_grew_steadily(private_bytes):
    """True when the memory grew by more than the limit in each half of the given runs."""
    middle = len(private_bytes) // 2
    halves = (private_bytes[:middle + 1], private_bytes[middle:])
    return all(half[-1] - half[0] > QUARTER_GROWTH_LIMIT for half in halves)


def one_run(d):
    """Presses PROGRAM and sees the run through; returns the error box's text or None."""
    lines_before = len(d.lines())
    d.click(IDC_PROGRAM)
    # The click is a posted command: until the updater has taken it, PROGRAM still reads as
    # enabled, and a second click posted then would start a second run beside the first. Every
    # run here disables PROGRAM and adds a line or shows a box, so one of those shows it began.
    d.wait_until("the run to begin",
                 lambda: not d.enabled(IDC_PROGRAM) or d.dialogs() or
                 len(d.lines()) > lines_before, 10)
    message = None
    deadline = time.monotonic() + 90
    while True:
        boxes = d.dialogs()
        if boxes:
            box = boxes[0]
            texts = [s["text"] for s in box["statics"] if s["id"] == 0xFFFF]
            if box["caption"] == PROMPT_CAPTION:
                # A run after a failed one finds the tester still in its bootloader.
                d.press(box, IDNO)
            else:
                expect(box["caption"], ERROR_CAPTION, "caption of the box")
                expect(len(texts) == 1 and texts[0] in MESSAGES, True, f"a known message {texts}")
                expect(d.enabled(IDC_PROGRAM), False, "PROGRAM while the error box is open")
                message = texts[0]
                d.press(box, IDOK)
            d.wait_until("the box to close", lambda: not d.dialogs(), 10)
            continue
        if d.enabled(IDC_PROGRAM) and not d.dialogs():
            return message
        if time.monotonic() > deadline:
            raise E2EError("the run did not end within 90 s")
        time.sleep(0.1)


def soak_runs(t, runs, seed):
    """The soak itself: `runs` presses of PROGRAM in one updater, and the checks on them."""
    inst, d = t.launch(scenario(runs, seed))
    expected = [BANNER]
    endings = {}
    completed = []
    # The updater's handles and memory after each run.
    usage = []
    for run in range(runs):
        before = len(expected)
        message = one_run(d)
        lines = d.lines()
        expect(lines[:before], expected, f"run {run}: the status list kept its lines")
        added = lines[before:]
        # Version line (only when identified), burning, complete: in this order.
        order = [l for l in added if l != BURNING and l != COMPLETE]
        expect(all(l.startswith("Current firmware version: ") for l in order), True,
               f"run {run}: only known lines {added}")
        if COMPLETE in added:
            expect(message, None, f"run {run}: no error box with a completion")
            expect(added[-2:], [BURNING, COMPLETE], f"run {run}: burning, then complete")
        expected = lines
        completed.append(COMPLETE in added)
        usage.append(d.resources())
        key = "complete" if COMPLETE in added else (message or "no message").split("\n")[0]
        endings[key] = endings.get(key, 0) + 1
    # Measured from the middle of the soak on: by then every kind of box and ending has been
    # shown once, and whatever the system sets up on first use is in place.
    settled = usage[runs // 2 - 1]
    print("updater handles/private memory after each run:",
          " ".join(f"{u['handles']}/{u['private_bytes'] // 1024}K" for u in usage))
    # Wine reports no handle count (0); Windows does, and then it must not grow.
    expect(max(u["handles"] for u in usage[runs // 2:]) <= settled["handles"], True,
           f"handles within the {settled['handles']} open at mid-soak")
    expect(memory_grew_steadily([u["private_bytes"] for u in usage[runs // 2 - 1:]]), False,
           f"private memory grew in both quarters by more than {QUARTER_GROWTH_LIMIT} bytes")
    log = t.finish(inst, d, lambda drv: drv.click(IDC_EXIT))
    opens = [c for c in calls(log, "FT_OpenEx") if "-> FT_OK" in c]
    closes = [c for c in calls(log, "FT_Close") if "-> FT_OK" in c]
    expect(len(opens), runs, "one open of the tester per run")
    expect(len(closes), runs - 1, "each run's link closed by the next run")
    # Two runs at once would show as calls on the link the other one closed.
    expect([c for c in log if "FT_INVALID_HANDLE" in c], [], "calls on a closed link")
    # The log split at each run's open: a completion line needs the tester's verdict on a whole
    # image within its own run. A failed run may still have left a whole image in the tester:
    # that is caution, not a false success, and only counted.
    segments, current = [], None
    for line in log:
        if " FT_OpenEx " in line and "-> FT_OK" in line:
            current = []
            segments.append(current)
        elif current is not None:
            current.append(line)
    # A lost reply to identify makes the run ask the probe, which revision-1 firmware answers:
    # the run then loads the revision-1 image, and the tester holds that one.
    whole = ([programmed(H1)], [programmed(H2)])
    verified = [verdicts(segment, "image") in whole for segment in segments]
    expect([c and not v for c, v in zip(completed, verified)], [False] * runs,
           "a verified image behind every completion line")
    cautious = sum(v and not c for c, v in zip(completed, verified))
    print(f"soak under Wine: {runs} runs; endings: " +
          ", ".join(f"{k!r} {v}" for k, v in sorted(endings.items())) +
          f"; failed runs whose image the tester had verified: {cautious}")


def soak(build, runs, seed):
    stop_wine(build)
    with x_display() as display:
        t = Test(build, display, "soak")

        def close(passed):
            t.close(passed)
            stop_wine(build)

        return run_reported("soak", lambda: soak_runs(t, runs, seed), t.report, close)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="build/windows")
    parser.add_argument("--emulator", help="what runs a Windows program here (wine)")
    parser.add_argument("--runs", type=int, default=30)
    parser.add_argument("--seed", type=int, default=11)
    args = parser.parse_args()
    build = Build(args.build_dir, args.emulator)
    build.check()
    ensure_prefix(build)
    return 0 if soak(build, args.runs, args.seed) else 1


if __name__ == "__main__":
    sys.exit(main())
