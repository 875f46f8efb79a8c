#!/usr/bin/env python3
"""The demo behind scripts/demo: the real updater programs the simulated tester under Wine.

Presses PROGRAM, prints the status lines as they arrive and the simulated tester's verdict, opens
the About box, then runs once more with no tester attached to show an error box. Screenshots of
the three go to the output folder as PNG files.
"""

import argparse
import json
import random
import shutil
import subprocess
import sys
import time
from pathlib import Path

from e2e_support import (IDC_ABOUT, IDC_EXIT, IDC_PROGRAM, IDOK, Build, Driver, E2EError,
                         Installation, ensure_prefix, stop_wine, temporary_root, x_display)
from tester_log import COMPLETE

# Revision-2 firmware of a realistic size for this tester: about 64 blocks.
H1 = random.Random(10).randbytes(10 * 1024 + 1)
H2 = random.Random(20).randbytes(12 * 1024)
README = b"REDuzazav firmware updater V 3.8\r\n"


def shown(line):
    """A status line as its UTF-16 code units, escaped like the driver reports them."""
    return json.dumps(line)


def screenshot(display, path):
    # Give Wine a moment to paint what has just appeared.
    time.sleep(0.7)
    subprocess.run(["import", "-display", display, "-window", "root", str(path)], check=True,
                   timeout=60)
    print(f"  screenshot: {path}")


def installation(build, scenario):
    inst = Installation(build, temporary_root("demo"))
    inst.put(inst.app, "VIVAD-h1.0.bin", H1)
    inst.put(inst.app, "VIVAD-h2.0.bin", H2)
    inst.put(inst.work, "ReadMe.txt", README)
    inst.write_scenario(scenario)
    return inst


def programming_run(build, display, out):
    print("== Programming the simulated tester (ZVKD0001, hardware revision 2, firmware 3.8)")
    inst = installation(build, "# one tester with every default\n")
    driver = Driver(inst, display)
    try:
        print(f"  main window: {shown(driver.caption)}")
        printed = 0

        def show_new(lines):
            nonlocal printed
            for line in lines[printed:]:
                print(f"  status: {shown(line)}")
            printed = len(lines)
            return lines

        show_new(driver.lines())
        print("  pressing PROGRAM")
        driver.click(IDC_PROGRAM)
        driver.wait_lines("programming to complete",
                          lambda lines: COMPLETE in show_new(lines) or driver.dialogs(), 90)
        if driver.dialogs():
            raise E2EError(f"the run ended with a box: {driver.dialogs()}")
        driver.wait_enabled(IDC_PROGRAM)
        screenshot(display, out / "main-window.png")

        print("  pressing About")
        driver.click(IDC_ABOUT)
        about = driver.wait_dialog("the About box")
        screenshot(display, out / "about-box.png")
        driver.press(about, IDOK)
        driver.wait_until("the About box to close", lambda: not driver.dialogs(), 10)

        driver.click(IDC_EXIT)
        print(f"  exit code: {driver.wait_exit(15)}")
    finally:
        driver.quit()
    for line in inst.log_lines():
        if line.startswith("image verdict:") or line.startswith("exit verdict:"):
            print(f"  simulated tester {line}")
    calls = sum(1 for line in inst.log_lines() if " FT_" in line)
    log = out / "simulated-tester.log"
    shutil.copyfile(inst.log, log)
    print(f"  device-library calls logged: {calls}, in {log}")
    return inst


def no_tester_run(build, display, out):
    print("== Pressing PROGRAM with no tester attached")
    inst = installation(build, "devices = none\n")
    driver = Driver(inst, display)
    try:
        driver.click(IDC_PROGRAM)
        box = driver.wait_dialog("the error box")
        texts = [s["text"] for s in box["statics"] if s["id"] == 0xFFFF]
        print(f"  box caption: {shown(box['caption'])}")
        print(f"  box text:    {shown(texts[0] if texts else '')}")
        screenshot(display, out / "error-box.png")
        driver.press(box, IDOK)
        driver.wait_enabled(IDC_PROGRAM)
        driver.click(IDC_EXIT)
        print(f"  exit code: {driver.wait_exit(15)}")
    finally:
        driver.quit()
    return inst


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", default="build/windows")
    parser.add_argument("--out", default="build/demo")
    args = parser.parse_args()
    build = Build(args.build_dir)
    build.check()
    out = Path(args.out).resolve()
    out.mkdir(parents=True, exist_ok=True)
    print("== Preparing Wine (a prefix of its own under the build folder, made once)")
    ensure_prefix(build)
    stop_wine(build)
    installations = []
    try:
        with x_display() as display:
            print(f"  display {display}")
            try:
                installations.append(programming_run(build, display, out))
                installations.append(no_tester_run(build, display, out))
            finally:
                stop_wine(build)
    except E2EError as e:
        print(f"demo failed: {e}")
        return 1
    for inst in installations:
        shutil.rmtree(inst.root, ignore_errors=True)
    print("== Screenshots")
    for name in ("main-window.png", "error-box.png", "about-box.png"):
        print(f"  {out / name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
