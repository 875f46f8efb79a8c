#!/usr/bin/env python3
"""vivad-flash on Linux against the simulated tester on a pseudo-terminal, in real time: the
transfer of a 64 KiB image against the least the link allows (the same bound as the transfer
benchmark's), with and without --trace, and the program's peak memory with a 1 MiB image.

    flash_pty_bench.py --build-dir build/native [--quick]

--quick stops the 1 MiB run with Ctrl-C once its blocks flow (the image is loaded and nothing
more is allocated after that) instead of waiting its three minutes.
"""

import argparse
import os
import select
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "cli"))
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
from pty_tester import pty_tester  # noqa: E402

BLOCK0 = ">> 02 C3 FF 00 00"


def peak_resident_kib(pid):
    """The process's high-water mark of resident memory since it began its program; the
    child's rusage would count the Python process it was forked from."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run(build, tester, folder, args, quick_stop=False):
    """One vivad-flash run; its exit code, wall seconds and peak resident KiB."""
    started = time.monotonic()
    process = subprocess.Popen([str(build / "vivad-flash")] + args, cwd=folder, env=tester.env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    peak = 0
    seen = b""
    stopped = False
    while True:
        peak = max(peak, peak_resident_kib(process.pid))
        if select.select([process.stderr], [], [], 0.2)[0]:
            chunk = os.read(process.stderr.fileno(), 4096)
            if not chunk:
                break
            seen += chunk
        if quick_stop and not stopped and b"progress: 10%" in seen:
            peak = max(peak, peak_resident_kib(process.pid))
            process.send_signal(signal.SIGINT)
            stopped = True
    process.wait()
    return process.returncode, time.monotonic() - started, peak


def transfer_ms(trace):
    """From the write of block 0 to the last reply read."""
    lines = trace.read_text().splitlines()
    first = next(float(l.split()[0]) for l in lines if BLOCK0 in l)
    last = [float(l.split()[0]) for l in lines if " << " in l][-1]
    return last - first


def link_bound_ms(build, file_bytes):
    out = subprocess.run([str(build / "bench" / "bench_transfer"), "--link-bound-ms",
                          str(file_bytes)], check=True, capture_output=True, text=True).stdout
    return float(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    build = Path(args.build_dir).resolve()
    ok = True
    with tempfile.TemporaryDirectory(prefix="vivad-flash-bench-") as folder:
        folder = Path(folder)
        image = folder / "VIVAD-h2.0.bin"
        image.write_bytes(os.urandom(64 * 1024))
        bound = link_bound_ms(build, 64 * 1024)
        print("| vivad-flash program, 64 KiB, pty in real time | transfer | link bound | ratio "
              "| whole run |")
        print("|---|---|---|---|---|")
        for label, extra in (("with --trace", True), ("without --trace", False)):
            # A fresh tester each time: one just programmed restarts for five seconds.
            with pty_tester("hardware-code = 20\n", build) as tester:
                trace = folder / "trace.txt"
                flags = ["program", "--quiet", "--trace", str(trace)]
                if not extra:
                    # The transfer time comes from a trace; without one, only the whole run.
                    flags = ["program", "--quiet"]
                code, seconds, _ = run(build, tester, folder, flags)
                if code != 0 or "CRC-32 good" not in tester.log_text():
                    print(f"{label}: exit {code}, not programmed")
                    ok = False
                    continue
                if extra:
                    ms = transfer_ms(trace)
                    ratio = ms / bound
                    ok = ok and ratio <= 1.02
                    print(f"| {label} | {ms / 1000:.3f} s | {bound / 1000:.3f} s | {ratio:.4f} "
                          f"| {seconds:.3f} s |")
                else:
                    print(f"| {label} | | {bound / 1000:.3f} s | | {seconds:.3f} s |")
        image.write_bytes(os.urandom(1024 * 1024))
        with pty_tester("hardware-code = 20\n", build) as tester:
            code, seconds, peak_kib = run(build, tester, folder, ["program"],
                                          quick_stop=args.quick)
        how = "stopped after 10 % of the blocks" if args.quick else f"whole run, {seconds:.0f} s"
        print(f"\npeak resident memory of vivad-flash with a 1 MiB image ({how}, exit {code}): "
              f"{peak_kib} KiB")
        ok = ok and peak_kib <= 8 * 1024
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
