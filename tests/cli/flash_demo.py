#!/usr/bin/env python3
"""The command-line half of scripts/demo: the Linux vivad-flash lists, programs and identifies
the simulated tester served on a pseudo-terminal, itself running on a terminal, and what a user
would see on that terminal is printed: the progress line as it was redrawn, then the screen as
it stands at the end.

    flash_demo.py --build-dir build/native
"""

import argparse
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "e2e"))
from demo import H1, H2  # noqa: E402
from pty_tester import pty_tester  # noqa: E402
from terminal import run_on_terminal  # noqa: E402
from tester_log import verdicts  # noqa: E402

# The new firmware is up again at once after the last block, so that info can ask it.
SCENARIO = "device = ZVKD0001\nhardware-code = 20\nrestart-after-programming-ms = 1\n"


def screen(text):
    """The lines a terminal shows for `text`: a carriage return goes back to the start of the
    line, so a redrawn line shows only its last drawing."""
    lines = [""]
    column = 0
    for c in text:
        if c == "\n":
            lines.append("")
            column = 0
        elif c == "\r":
            column = 0
        else:
            line = lines[-1]
            lines[-1] = line[:column] + c + line[column + 1:]
            column += 1
    if lines[-1] == "":
        lines.pop()
    return lines


def show(title, code, chunks, prompt="$ "):
    print(f"  {prompt}{title}")
    for line in screen("".join(text for _, text in chunks)):
        print(f"  {line}")
    print(f"  (exit code {code})\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    args = parser.parse_args()
    build = Path(args.build_dir).resolve()
    flash = str(build / "vivad-flash")
    with tempfile.TemporaryDirectory(prefix="vivad-flash-demo-") as folder:
        (Path(folder) / "VIVAD-h1.0.bin").write_bytes(H1)
        (Path(folder) / "VIVAD-h2.0.bin").write_bytes(H2)
        with pty_tester(SCENARIO, build) as tester:
            env = tester.env
            print("== vivad-flash on Linux, on a terminal, against the simulated tester on a "
                  "pseudo-terminal")
            print(f"   (its device nodes under {env['VIVAD_DEV_ROOT']}, found through a fake "
                  "sysfs)\n")
            code, chunks = run_on_terminal([flash, "list"], folder, env)
            show("vivad-flash list", code, chunks)

            code, chunks = run_on_terminal([flash, "program"], folder, env)
            print("  $ vivad-flash program")
            print("  the progress line, as it was redrawn:")
            for at, text in chunks:
                for drawing in text.split("\r")[1:]:
                    drawing = drawing.rstrip("\n").rstrip()
                    if drawing and "%" in drawing:
                        print(f"    {at:5.2f} s  {drawing}")
            print("  the terminal at the end:")
            for line in screen("".join(text for _, text in chunks)):
                print(f"  {line}")
            print(f"  (exit code {code})\n")
            programmed = code == 0

            code, chunks = run_on_terminal([flash, "info"], folder, env)
            show("vivad-flash info", code, chunks)

            completed = verdicts(tester.log_lines(), "image")
            print("  the simulated tester: " + (completed[-1] if completed else "no image"))
    return 0 if programmed and completed and "CRC-32 good" in completed[-1] else 1


if __name__ == "__main__":
    sys.exit(main())
