"""Wine prefixes of the end-to-end rig: made once per run, copied per
worker, each with its own server, its drive letters mapped per case."""

import os
import re
import shutil
import signal
import subprocess

from rig_case import NATIVE
from rig_drives import native_path

WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}


def wine_env(prefix):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("LC_") and k not in ("LANG", "LANGUAGE", "DISPLAY",
                                                     "WAYLAND_DISPLAY", "WINEPREFIX")}
    env.update(WINE_ENV)
    env["WINEPREFIX"] = prefix
    return env


def run_quiet(cmd, env, timeout=120):
    return subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout, start_new_session=True)


def prefix_processes(prefix):
    """Ids of the processes started with WINEPREFIX=prefix."""
    wanted = b"WINEPREFIX=" + prefix.encode() + b"\0"
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                if wanted in f.read() + b"\0":
                    found.append(int(entry))
        except OSError:
            pass
    return found


def kill_server(prefix):
    """Stops the wine server of `prefix` and every process of the prefix.

    `wineserver -k` misses a process that is still connecting (wineboot's
    device services can be), which then waits for ever; those are ended by id.
    """
    if os.path.isdir(prefix):
        try:
            run_quiet(["wineserver", "-k"], wine_env(prefix), timeout=30)
        except subprocess.TimeoutExpired:
            pass
    for pid in prefix_processes(prefix):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def create_prefix(prefix, log):
    """A new prefix, its server stopped so that the registry is on disk."""
    kill_server(prefix)
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    env = wine_env(prefix)
    with open(log, "wb") as out:
        for _ in range(WINE_START_ATTEMPTS):
            booted = subprocess.run(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT, timeout=300, start_new_session=True)
            if booted.returncode == 0:
                break
    kill_server(prefix)
    if not os.path.islink(os.path.join(prefix, "dosdevices", "c:")):
        raise RuntimeError(f"wineboot left no drive C: in {prefix} (see {log})")


def copy_prefix(base, prefix):
    """A cheap private copy of the base prefix: hard links, registry files copied."""
    kill_server(prefix)
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    subprocess.run(["cp", "-al", base, prefix], check=True)
    for name in os.listdir(prefix):
        if name.endswith(".reg"):
            path = os.path.join(prefix, name)
            data = open(path, "rb").read()
            os.unlink(path)
            with open(path, "wb") as f:
                f.write(data)


def map_drives(prefix, folders):
    """Drive letters of the prefix: C: and Z: as Wine made them, plus `folders`."""
    dosdevices = os.path.join(prefix, "dosdevices")
    for name in os.listdir(dosdevices):
        if re.fullmatch(r"[a-z]:", name) and name not in ("c:", "z:"):
            os.unlink(os.path.join(dosdevices, name))
    for letter, folder in folders.items():
        os.symlink(folder, os.path.join(dosdevices, letter.lower() + ":"))


# Now and then (about one run in a few thousand) Wine cannot lay out a new
# process's address space: "err:virtual:virtual_alloc_first_teb wine: failed
# to map the shared user data: c0000018", exit code 1, the program never ran.
WINE_START_FAILURE = re.compile(rb"failed to map the shared user data|virtual_alloc_first_teb")
WINE_START_ATTEMPTS = 3


def wine_failed_to_start(result):
    return (result.build != NATIVE and result.exit_code == 1 and not result.stdout
            and WINE_START_FAILURE.search(result.stderr) is not None)


def folder_resolver(prefix):
    def folder_of(windows_path, folders):
        """The POSIX folder of a Windows path "X:\\dir" in this run."""
        m = re.fullmatch(r"([A-Za-z]):(.*)", windows_path)
        if not m:
            raise ValueError(f"cwd {windows_path!r} is not a drive path")
        letter, rest = m.group(1).upper(), native_path(m.group(2))
        if letter in folders:
            root = folders[letter]
        elif letter == "Z":
            root = "/"
        elif letter == "C":
            root = os.path.join(prefix, "drive_c")
        else:
            raise ValueError(f"cwd {windows_path!r}: drive {letter}: is not mapped by the case")
        path = os.path.join(root, rest) if rest else root
        os.makedirs(path, exist_ok=True)
        return path
    return folder_of
