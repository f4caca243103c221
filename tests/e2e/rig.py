"""End-to-end rig: runs every build of the program on the same case and compares.

A case (see README.md) gives a command line, the drives it needs, optional
console input and what it expects. For each build the rig lays out fresh
drive folders, maps them as drive letters in a Wine prefix, runs the build
with the case's locale, snapshots the drives afterwards, and then checks
that every build printed the same text, ended with the same exit code and
left the same files, and that these match what the case expects.

Output is compared as text, not bytes: each build's is decoded with its own
character set (the .exe's redirected output with the ANSI code page, the
POSIX build's and a console's with the locale's, UTF-8), and the text is
then taken through the ANSI code page ('#' for what it lacks), which is what
the .exe writes when redirected.

Builds: the native POSIX build, dustpail.exe under Wine and (for cases whose
paths the ANSI code page can carry) dustpail-ansi.exe under Wine. The POSIX
build reads the same prefix: its drives are $WINEPREFIX/dosdevices, its
current drive and directory come from the working directory.

The rig is in pieces, each its own module; this one gathers what the cases
and the runners use, so that they import `rig` alone:

  rig_case      the builds, the keys, Case and Result, which builds run a case
  rig_text      output decoded and taken through the code page
  rig_drives    trees laid out as drive folders and read back
  rig_prefix    Wine prefixes: made, copied, stopped, drive letters mapped
  rig_terminal  the pseudo-terminal: keys sent as the prompts show
  rig_run       one build of a case run
  rig_compare   the builds compared with the case and with each other
"""

import os
import subprocess

from rig_case import (ALL_BUILDS, ANSI, CTRL_C, ENTER, ESC, EXE, LOCALES, NATIVE,  # noqa: F401
                      Builds, Case, CaseFailure, Result, builds_for, code_page_carries, key_bytes)
from rig_compare import describe_results, diff_lines, shows_true_text, true_text_of, verify  # noqa: F401
from rig_drives import (DIR, LARGE_FILE, MISSING, LargeFile, UnixPath, apply_mask,  # noqa: F401
                        describe_tree, lay_out, native_path, snapshot)
from rig_prefix import (WINE_ENV, WINE_START_ATTEMPTS, WINE_START_FAILURE, copy_prefix,  # noqa: F401
                        create_prefix, folder_resolver, kill_server, map_drives, prefix_processes,
                        run_quiet, wine_env, wine_failed_to_start)
from rig_run import run_once  # noqa: F401
from rig_text import (code_page_text, console_bytes, decode_output, expected_text,  # noqa: F401
                      output_text, wine_console_text)
from texts import EN, TITLE

# Set by the runner before the case modules are imported: the three banner
# lines exactly as the program prints them (title, copyright, empty line).
BANNER = None


def read_banner(native, prefix, workdir):
    """The banner lines of the native build's bare call, checked for their shape."""
    env = wine_env(prefix)
    env["LC_ALL"] = env["LANG"] = LOCALES[EN]
    os.makedirs(workdir, exist_ok=True)
    proc = subprocess.run([native], cwd=workdir, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=30)
    lines = proc.stdout.split(b"\n")
    if len(lines) < 3 or lines[0] != TITLE.encode() or not lines[1].strip() or lines[2] != b"":
        raise CaseFailure("a bare call must start with the title, a copyright line and an "
                          f"empty line; it printed {proc.stdout[:300]!r}")
    banner = b"\n".join(lines[:3]) + b"\n"
    if not banner.isascii():
        raise CaseFailure(f"the banner is printed unconverted in every code page, so it must be ASCII: {banner!r}")
    return banner.decode("ascii")


def banner():
    """The banner as the program prints it: title, copyright line, empty line."""
    if BANNER is None:
        raise RuntimeError("the banner is known only once the runner has started")
    return BANNER

