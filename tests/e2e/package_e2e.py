#!/usr/bin/env python3
"""End-to-end test of the Windows zip, as a user gets it.

Makes the zip with CPack from the finished build into a fresh folder, checks that it holds
exactly the two programs, ReadMe.txt and the Windows notes, and unpacks it. Then, in a fresh Wine
prefix, with the simulated FTD2XX.dll and the two firmware files put beside the unpacked programs
(the zip has neither), it starts the unpacked vivad-updater.exe with the unpacked folder as its
working folder, as a double-click in Explorer does: the version banner must come from the
shipped ReadMe.txt, and PROGRAM must program the simulated tester. Last, the unpacked
vivad-flash.exe states the same version.

    package_e2e.py --build-dir build/windows [--cpack cpack] [--emulator wine] [--keep]
"""

import argparse
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

from e2e_support import (IDC_EXIT, IDC_PROGRAM, Build, Driver, E2EError, ensure_prefix, expect,
                         expect_true, Installation, run_reported, start_wine, stop_wine,
                         wine_environment, x_display)
from run_e2e import H1, H2
from tester_log import (BANNER, BURNING, COMPLETE, FLASH_VERSION, VERSION, VERSION_38,
                        exit_code_table, programmed, scenario_errors, verdicts)

ZIP_FOLDER = f"vivad-updater-{VERSION}-windows-x64"
ZIP_NAME = ZIP_FOLDER + ".zip"
ZIP_FILES = ["ReadMe.txt", "vivad-flash.exe", "vivad-updater.exe", "windows-users.txt"]
TEXT_FILES = ["ReadMe.txt", "windows-users.txt"]

CPACK_TIMEOUT_S = 120
WINE_RUN_TIMEOUT_S = 60
# Long enough for the whole test to share one Wine server and its system processes.
WINE_SERVER_LINGER_S = 60


class UnpackedZip(Installation):
    """The unpacked zip as the driver needs an installation: the programs' folder is also the
    working folder, so that the updater reads the shipped ReadMe.txt. Laid out by the zip, not
    by the harness; the simulator's scenario and log lie outside it."""

    def __init__(self, build, folder, root):
        self.build = build
        self.root = Path(root)
        self.app = Path(folder)
        self.work = Path(folder)
        self.scenario = self.root / "scenario.txt"
        self.log = self.root / "sim.log"


def make_zip(cpack, build, root):
    """Runs CPack on the build's configuration, with its output in a folder of this test."""
    out = root / "packages"
    completed = subprocess.run(
        [cpack, "--config", str(build.dir / "CPackConfig.cmake"), "-B", str(root / "cpack"),
         "-D", f"CPACK_OUTPUT_FILE_PREFIX={out}"],
        capture_output=True, text=True, timeout=CPACK_TIMEOUT_S)
    if completed.returncode != 0:
        raise E2EError(f"cpack failed ({completed.returncode}):\n{completed.stdout}"
                       f"{completed.stderr}")
    made = sorted(p.name for p in out.iterdir()) if out.is_dir() else []
    expect(made, [ZIP_NAME], "packages made")
    return out / ZIP_NAME


def check_zip(archive):
    """Exactly the four files, in the one folder the zip unpacks into."""
    with zipfile.ZipFile(archive) as z:
        files = sorted(info.filename for info in z.infolist() if not info.is_dir())
        expect(files, [f"{ZIP_FOLDER}/{name}" for name in ZIP_FILES], "files in the zip")
        for name in TEXT_FILES:
            text = z.read(f"{ZIP_FOLDER}/{name}")
            # Text for Windows: CRLF line ends throughout.
            expect(text.count(b"\n") > 0 and text.count(b"\n") == text.count(b"\r\n"), True,
                   f"CRLF line ends throughout {name}")


def program_with_updater(unpacked, display):
    """The unpacked updater, started in its own folder, programs the simulated tester."""
    driver = Driver(unpacked, display)
    try:
        expect(driver.lines(), [BANNER], "status list at start: the shipped ReadMe's version")
        driver.click(IDC_PROGRAM)
        lines = driver.wait_line(COMPLETE, 40)
        expect(lines, [BANNER, VERSION_38, BURNING, COMPLETE], "status list")
        driver.wait_enabled(IDC_PROGRAM)
        expect(driver.dialogs(), [], "boxes after programming")
        driver.click(IDC_EXIT)
        expect(driver.wait_exit(15), 0, "the updater's exit code")
    finally:
        driver.quit()
    log = unpacked.log_lines()
    expect(scenario_errors(log), [], "scenario file problems")
    expect(verdicts(log, "image"), [programmed(H2)], "verdict when the image completed")
    expect(verdicts(log, "exit"), [programmed(H2)], "verdict at exit")


def run_flash(unpacked, display, argument):
    """The unpacked vivad-flash.exe with one argument: its exit code, output and errors."""
    program = unpacked.app / "vivad-flash.exe"
    completed = subprocess.run(
        [unpacked.build.emulator, str(program), argument], cwd=unpacked.app,
        env=wine_environment(unpacked.build, display), stdin=subprocess.DEVNULL,
        capture_output=True, timeout=WINE_RUN_TIMEOUT_S)
    return completed.returncode, completed.stdout.decode("utf-8"), completed.stderr


def flash_version_and_exit_codes(unpacked, display):
    expect(run_flash(unpacked, display, "--version"), (0, FLASH_VERSION, b""),
           "vivad-flash --version: exit code, output, errors")
    # The ReadMe keeps the exit codes by hand; they must be the program's own.
    code, help_text, _ = run_flash(unpacked, display, "--help")
    expect(code, 0, "vivad-flash --help: exit code")
    help_codes = exit_code_table(help_text)
    expect_true(help_codes, "vivad-flash --help: an exit-code table", help_text)
    readme = (unpacked.app / "ReadMe.txt").read_text()
    expect(exit_code_table(readme), help_codes, "the ReadMe's exit codes against --help")


def run(build, cpack, root):
    archive = make_zip(cpack, build, root)
    check_zip(archive)
    with zipfile.ZipFile(archive) as z:
        z.extractall(root / "unpacked")
    folder = root / "unpacked" / ZIP_FOLDER
    # What the user adds: FTDI's library (here the simulated one) and the firmware files.
    shutil.copy2(build.dll, folder / "FTD2XX.dll")
    (folder / "VIVAD-h1.0.bin").write_bytes(H1)
    (folder / "VIVAD-h2.0.bin").write_bytes(H2)
    unpacked = UnpackedZip(build, folder, root)
    unpacked.write_scenario("# one tester with every default\n")

    build.prefix = root / "wineprefix"
    with x_display() as display:
        try:
            # A fresh prefix; its first program runs on the display the updater will use.
            ensure_prefix(build)
            start_wine(build, folder / "vivad-flash.exe", display, WINE_SERVER_LINGER_S,
                       WINE_RUN_TIMEOUT_S)
            try:
                program_with_updater(unpacked, display)
            except E2EError:
                for line in unpacked.log_lines()[-25:]:
                    print("   |", line)
                raise
            flash_version_and_exit_codes(unpacked, display)
        finally:
            stop_wine(build)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default="build/windows")
    parser.add_argument("--cpack", default="cpack", help="CPack of the build's CMake")
    parser.add_argument("--emulator", help="what runs a Windows program here (wine)")
    parser.add_argument("--keep", action="store_true", help="keep the folder when passed")
    args = parser.parse_args()
    build = Build(args.build_dir, args.emulator)
    build.check()
    root = Path(tempfile.mkdtemp(prefix="vivad-package-e2e-"))

    def close(passed):
        if passed and not args.keep:
            shutil.rmtree(root, ignore_errors=True)
        else:
            print("  kept", root)

    passed = run_reported("package", lambda: run(build, args.cpack, root), close=close)
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
