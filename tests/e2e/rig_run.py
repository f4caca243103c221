"""Running one build of a case: its drives laid out and mapped, the program
started with the case's input, its output and drives read back."""

import os
import pty
import signal
import subprocess
import threading
import time

from rig_case import LOCALES, NATIVE, Result
from rig_drives import MISSING, UnixPath, lay_out, snapshot
from rig_prefix import map_drives, wine_env
from rig_terminal import copy_terminal, feed_terminal, set_terminal_mode
from rig_text import code_page_text, console_bytes, decode_output
from texts import CODE_PAGE


def _kill(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


def _run_program(case, build, cmd, cwd, env, codec, out_path, err_path, notes):
    """Runs the command with the case's input; (process, timed out)."""
    master = None
    copier = None
    copied = threading.Event()
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        stdout = out
        if case.keys is not None or case.console:
            master, slave = pty.openpty()
            set_terminal_mode(slave, build, case.console)
            stdin = slave
            if case.console:
                stdout = slave
                copier = threading.Thread(target=copy_terminal, args=(master, out_path, copied))
                copier.start()
        elif case.stdin is not None:
            stdin = subprocess.PIPE
        else:
            stdin = subprocess.DEVNULL
        proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdin=stdin, stdout=stdout, stderr=err,
                                start_new_session=True)
        timed_out = False
        try:
            if case.console:
                # The terminal stays open until the program is done: it shows
                # the output too. Every prompt needs its key.
                os.close(slave)
                try:
                    feed_terminal(proc, master, out_path, case.keys or [], notes)
                    proc.wait(timeout=case.timeout)
                finally:
                    copied.set()
                    copier.join()
                    os.close(master)
            elif master is not None:
                os.close(slave)
                try:
                    feed_terminal(proc, master, out_path, case.keys, notes)
                finally:
                    os.close(master)
                proc.wait(timeout=case.timeout)
            elif case.stdin is not None:
                data = case.stdin.encode(codec) if isinstance(case.stdin, str) else case.stdin
                proc.communicate(data, timeout=case.timeout)
            else:
                proc.wait(timeout=case.timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            notes.append(f"timed out after {case.timeout:.0f}s and was killed")
            _kill(proc)
    return proc, timed_out


def run_once(case, build, builds, prefix, folder_of, work):
    """Runs one build of the case in `prefix`; the drive folders are made fresh."""
    notes = []
    folders = {}
    for letter, spec in case.drives.items():
        folder = os.path.join(work, letter)
        if spec is MISSING:
            folders[letter] = folder  # mapped, never created
            continue
        lay_out(folder, spec)
        folders[letter] = folder
    cwd = folder_of(case.cwd, folders)
    before = {k: snapshot(v) for k, v in folders.items()}
    map_drives(prefix, folders)

    env = wine_env(prefix)
    env["LC_ALL"] = env["LANG"] = LOCALES[case.lang]
    env["TZ"] = case.tz
    # Wine's error channel only: silent in a normal run, telling when Wine
    # itself fails (the wrapper's wine32 hint stays off with "-all" first).
    env["WINEDEBUG"] = "-all,err+all"
    if case.env:
        env.update(case.env)
    codec = CODE_PAGE[case.lang]
    out_path = os.path.join(work, "stdout")
    err_path = os.path.join(work, "stderr")
    cmd = builds.command(build, [a.resolve(folders) if isinstance(a, UnixPath) else a for a in case.args])

    started = time.monotonic()
    # What the case does beside the run (holding a lock, say) starts now and
    # is undone once the run has ended, before the drives are read back.
    open(out_path, "wb").close()
    after_run = case.before_run(folders, out_path) if case.before_run is not None else None
    try:
        proc, timed_out = _run_program(case, build, cmd, cwd, env, codec, out_path, err_path, notes)
    finally:
        if after_run is not None:
            after_run()
    seconds = time.monotonic() - started

    raw = open(out_path, "rb").read()
    if case.console:
        data = console_bytes(raw, build)
    else:
        data = raw if build == NATIVE or case.data else raw.replace(b"\r\n", b"\n")
    shown, problem = decode_output(data, build, case.lang, case.console or case.data)
    if problem is not None:
        notes.append(problem)
    text = code_page_text(shown, case.lang)
    after = {k: snapshot(v) for k, v in folders.items()}
    if case.teardown is not None:
        case.teardown(folders)
    return Result(build=build, stdout=text.encode(codec), text=text, shown=shown, raw=raw,
                  stderr=open(err_path, "rb").read(),
                  exit_code=None if timed_out else proc.returncode,
                  before=before, after=after, folders=folders, seconds=seconds, notes=notes)
