"""The pseudo-terminal of the end-to-end rig: keys sent as the prompts show,
the terminal set up per build, a console's output copied out."""

import fcntl
import os
import re
import select
import struct
import termios
import time
import tty

from rig_case import NATIVE, key_bytes

# Prompts end in one of these: "... (Y/N)" and "...[1-3]:".
PROMPT_RE = re.compile(rb"\(Y/N\)|\[-?\d+--?\d+\]:")
PROMPT_TIMEOUT = 10.0   # seconds to wait for the next prompt
AFTER_INPUT_WAIT = 2.0  # after the last key: wait for exit or a further prompt
# The console cases' terminal: wide enough that Wine's console, which lays
# out its screen by the terminal's size, never wraps a line.
CONSOLE_COLUMNS, CONSOLE_ROWS = 1000, 50
CONSOLE_DRAIN = 5.0     # seconds to wait for the console's last output after exit
SETTLE = 0.05          # between a prompt appearing and the key being sent
KEY_PAUSE = 0.3        # between the keys of one step typed one by one


def _count_prompts(path):
    with open(path, "rb") as f:
        return len(PROMPT_RE.findall(f.read()))


def _wait_prompts(proc, path, wanted, timeout):
    """Waits until stdout shows `wanted` prompts. False if the process ended first or time ran out."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if _count_prompts(path) >= wanted:
            return True
        if proc.poll() is not None:
            return False
        time.sleep(0.01)
    return False


def feed_terminal(proc, master, out_path, steps, notes):
    for i, step in enumerate(steps):
        if not _wait_prompts(proc, out_path, i + 1, PROMPT_TIMEOUT):
            if proc.poll() is not None:
                notes.append(f"process ended before input step {i + 1} ({step!r})")
                return
            notes.append(f"no prompt {i + 1} after {PROMPT_TIMEOUT:.0f}s; sent {step!r} anyway")
        time.sleep(SETTLE)
        for j, key in enumerate(step if isinstance(step, tuple) else (step,)):
            if j > 0:
                time.sleep(KEY_PAUSE)
            os.write(master, key_bytes(key))
    # Leave the terminal open until the program is done with the last key:
    # it ends, or it asks again (then it gets end of input).
    _wait_prompts(proc, out_path, len(steps) + 1, AFTER_INPUT_WAIT)


def set_terminal_mode(fd, build, console=False):
    """Terminal settings that make input independent of when the program reads it.

    Wine's console switches the terminal to raw mode only once it starts, and
    then takes LF for Ctrl+J, not Enter: a line typed into a cooked terminal
    before that (CR turned into LF) would never end. So the .exe builds get a
    raw terminal from the start. The POSIX build reads lines with fgets, which
    needs the kernel's cooked line discipline; there only signals are turned
    off, so that a Ctrl+C typed before the program reads it is kept as a key.
    On a console, where the terminal shows the output too, echo is off as
    well: a key that comes before the program reads it would show otherwise.
    """
    if console:
        fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", CONSOLE_ROWS, CONSOLE_COLUMNS, 0, 0))
    attrs = termios.tcgetattr(fd)
    if build == NATIVE:
        attrs[3] &= ~termios.ISIG
        if console:
            attrs[3] &= ~termios.ECHO
        termios.tcsetattr(fd, termios.TCSANOW, attrs)
    else:
        tty.setraw(fd, termios.TCSANOW)


def copy_terminal(master, out_path, done):
    """Copies what the programs write to the terminal into out_path until
    every writer has closed it, or CONSOLE_DRAIN seconds after `done`."""
    with open(out_path, "ab", buffering=0) as out:
        deadline = None
        while deadline is None or time.monotonic() < deadline:
            if deadline is None and done.is_set():
                deadline = time.monotonic() + CONSOLE_DRAIN
            ready, _, _ = select.select([master], [], [], 0.1)
            if not ready:
                continue
            try:
                data = os.read(master, 65536)
            except OSError:  # EIO: the last writer is gone
                return
            if not data:
                return
            out.write(data)
