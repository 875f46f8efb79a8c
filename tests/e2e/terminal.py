"""A program on a pseudo-terminal, as in a terminal window, for the tests and the demo of both
builds of vivad-flash: the Linux binary, and the Windows one under Wine's console.

    code, chunks = run_on_terminal(["vivad-flash", "program"], folder, env)
"""

import fcntl
import os
import pty
import select
import struct
import subprocess
import termios
import time

# What the terminal's line discipline turns into SIGINT for the program in front, as when the
# user presses Ctrl-C.
CTRL_C = b"\x03"

# The terminal window's size: wide enough that no line of the program's wraps (Wine's console
# breaks a line at the window's width into two).
ROWS, COLUMNS = 40, 160


def read_until(fd, needle, timeout_s):
    """Reads the file descriptor `fd` until `needle` (bytes) has come, the other end closes, or
    `timeout_s` has passed; returns what was read."""
    seen = b""
    deadline = time.monotonic() + timeout_s
    while needle not in seen:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        seen += chunk
    return seen


def _take_terminal():
    # In the child, in its new session: the terminal on its streams becomes its controlling one,
    # so that Ctrl-C typed there reaches it as from a terminal window.
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


def run_on_terminal(command, cwd, env, keys=(), timeout_s=60):
    """Runs `command` with all three streams on one pseudo-terminal, its controlling terminal,
    as in a terminal window. `keys` are (when, typed) steps, taken in order: `typed` (bytes) is
    typed once `when` holds, a text that has shown, or a function that is given all shown so far.
    Returns the exit code and what the program wrote, as (seconds since the start, text) chunks.
    A program still running after `timeout_s` is killed, and TimeoutError says what it showed."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLUMNS, 0, 0))
    started = time.monotonic()
    process = subprocess.Popen(command, cwd=cwd, env=env, stdin=slave, stdout=slave,
                               stderr=slave, start_new_session=True, preexec_fn=_take_terminal)
    os.close(slave)
    steps = [(when if callable(when) else lambda seen, text=when: text in seen, typed)
             for when, typed in keys]
    chunks = []
    seen = ""
    try:
        while True:
            while steps and steps[0][0](seen):
                os.write(master, steps.pop(0)[1])
            left = started + timeout_s - time.monotonic()
            if left <= 0:
                process.kill()
                process.wait()
                raise TimeoutError(f"{command[0]} did not end on the terminal; it showed:\n{seen}")
            # Often enough that a key waiting on something else than the output goes in soon.
            if select.select([master], [], [], min(left, 0.05))[0]:
                try:
                    chunk = os.read(master, 65536).decode(errors="replace")
                except OSError:
                    # The terminal's other end has gone with the program.
                    break
                if not chunk:
                    break
                chunks.append((time.monotonic() - started, chunk))
                seen += chunk
            elif process.poll() is not None:
                break
    finally:
        os.close(master)
    return process.wait(timeout=10), chunks
