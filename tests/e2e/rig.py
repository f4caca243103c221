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
"""

import dataclasses
import difflib
import fcntl
import hashlib
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import termios
import threading
import time
import tty

from texts import CODE_PAGE, EN, JA, TITLE

NATIVE = "native"
EXE = "exe"
ANSI = "ansi"
ALL_BUILDS = (NATIVE, EXE, ANSI)

LOCALES = {EN: "C.UTF-8", JA: "ja_JP.UTF-8"}

CTRL_C = "\x03"
ESC = "\x1b"
ENTER = "\r"

WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}

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


class _Dir:
    def __repr__(self):
        return "<dir>"


class LargeFile:
    """A file too big to hold in memory, as a snapshot keeps it: its size and
    a digest of its content that does not depend on where its holes are."""

    CHUNK = 1 << 20

    def __init__(self, path, size):
        self.size = size
        digest = hashlib.sha256()
        zero = hashlib.sha256(bytes(self.CHUNK)).digest()
        with open(path, "rb") as f:
            fd = f.fileno()
            for start in range(0, size, self.CHUNK):
                length = min(self.CHUNK, size - start)
                try:
                    in_hole = os.lseek(fd, start, os.SEEK_DATA) >= start + length
                except OSError:  # no data after `start`
                    in_hole = True
                if in_hole and length == self.CHUNK:
                    digest.update(zero)
                else:
                    f.seek(start)
                    digest.update(hashlib.sha256(f.read(length)).digest())
        self.digest = digest.hexdigest()

    def __eq__(self, other):
        return isinstance(other, LargeFile) and (self.size, self.digest) == (other.size, other.digest)

    def __hash__(self):
        return hash((self.size, self.digest))

    def __len__(self):
        return self.size

    def __repr__(self):
        return f"<{self.size} bytes, sha256 of chunks {self.digest[:12]}>"


# Files larger than this are kept as LargeFile in snapshots.
LARGE_FILE = 64 << 20


# Value of a directory in a tree (files map to their bytes).
DIR = _Dir()
# Value of a drive that is mapped to a folder that does not exist.
MISSING = "<missing>"


class UnixPath(str):
    """An argument that is the Unix path of a place on a case's drive, known
    only once the run has laid the drive out: UnixPath("T", "work/a.txt") is
    T:'s folder followed by "/work/a.txt" ("<T>/work/a.txt" in case names)."""

    def __new__(cls, letter, rest=""):
        text = super().__new__(cls, f"<{letter.upper()}>" + (f"/{rest}" if rest else ""))
        text.letter, text.rest = letter.upper(), rest
        return text

    def resolve(self, folders):
        return folders[self.letter] + (f"/{self.rest}" if self.rest else "")

# Set by the runner before the case modules are imported: the three banner
# lines exactly as the program prints them (title, copyright, empty line).
BANNER = None


@dataclasses.dataclass
class Case:
    name: str
    args: list
    lang: str = EN
    stdout: object = None         # str (in the language's code page) or bytes, as the .exe writes it redirected
    shown: str = None             # the text itself: the native build's, and every build's on a console
    console: bool = False         # stdin and stdout one pseudo-terminal: the .exe writes to Wine's console
    exit_code: int = None
    drives: dict = None           # letter -> {relpath: bytes|str|DIR} | callable(folder) | MISSING
    cwd: str = "T:\\"
    keys: list = None             # console input through a pseudo-terminal, see README
    stdin: object = None          # str or bytes fed through a pipe instead
    ansi: bool = None             # None: when the code page carries every path
    builds: tuple = ALL_BUILDS
    unchanged: bool = False       # every drive must be left as it was
    check: object = None          # callable(Result), raises AssertionError
    mask: object = None           # callable(relpath, data) -> (relpath, data) or None
    tz: str = "UTC"
    timeout: float = 30.0
    env: dict = None              # more environment variables for the run
    before_run: object = None     # callable(folders, stdout_path) -> callable or None, see README
    teardown: object = None       # callable(folders) after each build's run, e.g. to unmount
    skip: str = None              # why the case cannot run here (it is then skipped)
    data: bool = False            # stdout is UTF-8 data in every build (CRLF kept), messages go to stderr
    output_mask: object = None    # callable(text) -> text before the builds' outputs are compared

    def __post_init__(self):
        if self.drives is None:
            self.drives = {"T": {}}
        self.drives = {k.upper(): v for k, v in self.drives.items()}
        for letter in self.drives:
            if len(letter) != 1 or not ("A" <= letter <= "Z") or letter in "CZ":
                raise ValueError(f"{self.name}: drive letter {letter!r} (C: and Z: belong to Wine)")
        if self.keys is not None and self.stdin is not None:
            raise ValueError(f"{self.name}: give keys or stdin, not both")
        if self.console and self.stdin is not None:
            raise ValueError(f"{self.name}: a console case reads its keys from the terminal, not stdin")
        if self.console and any(isinstance(k, str) and k.endswith("\n") for k in _flat_keys(self.keys or [])):
            # Wine's console echoes a typed line itself; the POSIX build's
            # silent terminal does not.
            raise ValueError(f"{self.name}: a console case takes single keys, not typed lines")
        if self.lang not in LOCALES:
            raise ValueError(f"{self.name}: language {self.lang!r}")
        if isinstance(self.stdout, str):
            try:
                self.stdout.encode(CODE_PAGE[self.lang])
            except UnicodeEncodeError as e:
                raise ValueError(f"{self.name}: the expected stdout holds {e.object[e.start:e.end]!r}, "
                                 f"which {CODE_PAGE[self.lang]} cannot show; the program prints '#' "
                                 "for it, so the expected text must too") from None


@dataclasses.dataclass
class Result:
    build: str
    stdout: bytes          # `text` in the language's code page: what the .exe writes redirected
    text: str              # `shown` taken through the code page, '#' for what it lacks
    shown: str             # the output decoded with the build's own character set, CRLF folded
    raw: bytes             # the output as written (a console's with Wine's escape sequences)
    stderr: bytes
    exit_code: int         # None when the run timed out
    before: dict           # letter -> tree before the run
    after: dict            # letter -> tree after the run
    folders: dict          # letter -> folder that was mapped
    seconds: float
    notes: list


class CaseFailure(AssertionError):
    pass


# ----------------------------------------------------------------- text

def code_page_text(text, lang):
    """The text as the ANSI code page carries it: '#' for a character it
    lacks, one for each UTF-16 unit (a character beyond the BMP is two)."""
    codec = CODE_PAGE[lang]
    out = []
    for ch in text:
        try:
            ch.encode(codec)
            out.append(ch)
        except UnicodeEncodeError:
            out.append("##" if ord(ch) > 0xFFFF else "#")
    return "".join(out)


def wine_console_text(text):
    """The text as Wine's console shows it on a UTF-8 terminal: each unit of
    a surrogate pair on its own, as U+FFFD (docs/testing.md)."""
    return "".join("\ufffd\ufffd" if ord(ch) > 0xFFFF else ch for ch in text)


# Wine's console draws its screen on the terminal: each write between
# "hide cursor" and "show cursor", blanks at the end of what a write put on a
# line as "erase line" and "cursor forward" (docs/testing.md).
_WINE_CONSOLE_SEQUENCE = re.compile(rb"\x1b\[(\?25[lh]|K|(\d*)C)")


def console_bytes(raw, build):
    """What a build wrote to its terminal, without Wine's drawing: Wine's
    escape sequences taken out (or a cursor step as the blanks it stands
    for), CRLF folded. A sequence of another kind stays, for the check to
    find."""
    if build != NATIVE:
        raw = _WINE_CONSOLE_SEQUENCE.sub(
            lambda m: b" " * int(m.group(2) or 1) if m.group(1).endswith(b"C") else b"", raw)
    return raw.replace(b"\r\n", b"\n")


def decode_output(data, build, lang, console):
    """The text of a build's output and a note when it does not decode: the
    .exe's redirected output is in the ANSI code page, the rest UTF-8."""
    codec = "utf-8" if build == NATIVE or console else CODE_PAGE[lang]
    try:
        return data.decode(codec), None
    except UnicodeDecodeError as e:
        return data.decode(codec, "replace"), f"output is not valid {codec}: {data[max(0, e.start - 20):e.end + 20]!r}"


def output_text(data, build, lang=EN):
    """A redirected run's output (CRLF folded) as the rig compares it: decoded
    with the build's character set, then taken through the code page."""
    return code_page_text(decode_output(data, build, lang, False)[0], lang)


def expected_text(case):
    """The case's `stdout` as text in the code page, or None."""
    if case.stdout is None or isinstance(case.stdout, str):
        return case.stdout
    return case.stdout.decode(CODE_PAGE[case.lang], "replace")


# ----------------------------------------------------------------- drives

def _native_path(relpath):
    return relpath.replace("\\", "/").strip("/")


def lay_out(folder, spec):
    """Fills `folder` from a tree spec: {relpath: bytes | str | DIR} or callable."""
    os.makedirs(folder, exist_ok=True)
    if callable(spec):
        spec(folder)
        return
    for relpath, value in spec.items():
        path = os.path.join(folder.encode(), _native_path(relpath).encode("utf-8"))
        if value is DIR:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        data = value.encode("utf-8") if isinstance(value, str) else value
        with open(path, "wb") as f:
            f.write(data)


def snapshot(folder):
    """{relpath: bytes or DIR} of everything below `folder` (relpaths use '/')."""
    tree = {}
    if not os.path.isdir(folder):
        return tree
    base = folder.encode()
    for dirpath, dirnames, filenames in os.walk(base):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, base).decode("utf-8", "surrogateescape")
            if os.path.islink(path):
                tree[rel] = b"<link to " + os.readlink(path) + b">"
            elif os.path.isdir(path):
                tree[rel] = DIR
            elif os.path.getsize(path) > LARGE_FILE:
                tree[rel] = LargeFile(path, os.path.getsize(path))
            else:
                with open(path, "rb") as f:
                    tree[rel] = f.read()
    return tree


def apply_mask(tree, mask):
    if mask is None:
        return tree
    out = {}
    for rel, data in tree.items():
        kept = mask(rel, data)
        if kept is not None:
            out[kept[0]] = kept[1]
    return out


def describe_tree(tree):
    lines = []
    for rel in sorted(tree):
        data = tree[rel]
        if data is DIR:
            lines.append(f"{rel}/")
        elif isinstance(data, LargeFile):
            lines.append(f"{rel}  {data!r}")
        else:
            digest = hashlib.sha256(data).hexdigest()[:12]
            lines.append(f"{rel}  {len(data)} bytes  {digest}")
    return lines


def diff_lines(a, b, name_a, name_b):
    return list(difflib.unified_diff(a, b, name_a, name_b, lineterm="", n=2))


# ----------------------------------------------------------------- prefix

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


# ----------------------------------------------------------------- builds

@dataclasses.dataclass
class Builds:
    native: str
    exe: str
    ansi: str

    def command(self, build, args):
        if build == NATIVE:
            return [self.native] + list(args)
        return ["wine", self.exe if build == EXE else self.ansi] + list(args)


def code_page_carries(case):
    """True when every argument and drive name can be written in the case's code page."""
    codec = CODE_PAGE[case.lang]
    texts = list(case.args) + [case.cwd]
    for spec in case.drives.values():
        if isinstance(spec, dict):
            texts.extend(spec.keys())
    try:
        for text in texts:
            text.encode(codec)
    except UnicodeEncodeError:
        return False
    return True


def builds_for(case, available):
    """The builds the case runs on, and a note for each one left out."""
    notes = []
    builds = [b for b in case.builds if b in available]
    ansi = case.ansi if case.ansi is not None else code_page_carries(case)
    if ANSI in builds and not ansi:
        builds.remove(ANSI)
    if case.keys and any(b"\x03" in key_bytes(k) for k in _flat_keys(case.keys)):
        # Wine's console never hands Ctrl+C to a program: without a controlling
        # terminal the key is dropped, with one it becomes a CTRL_C_EVENT.
        dropped = [b for b in builds if b != NATIVE]
        builds = [b for b in builds if b == NATIVE]
        if dropped:
            notes.append("Ctrl+C checked on the native build only: Wine cannot deliver it as a key")
    return builds, notes


def _flat_keys(steps):
    return [part for step in steps for part in (step if isinstance(step, tuple) else (step,))]


def key_bytes(step):
    """What to write into the terminal for one input step (or one key of a tuple).

    The terminal carries the locale's character set, UTF-8 in both languages.
    """
    if isinstance(step, bytes):
        # Raw terminal input: a lone ESC, an escape sequence, a CR LF line.
        return step
    if step.endswith("\n"):
        # A typed line: Enter is CR on a terminal; Wine's console needs it,
        # the POSIX terminal turns it into LF for fgets.
        return step[:-1].encode("utf-8") + b"\r"
    # ESC as ESC ESC: one Esc key in every build (Wine's console gives it as
    # Esc with Alt), kept apart from whatever the next step sends. A lone ESC
    # is the step b"\x1b".
    return step.encode("utf-8").replace(b"\x1b", b"\x1b\x1b")


# ----------------------------------------------------------------- running

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


def _feed_terminal(proc, master, out_path, steps, notes):
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


def _set_terminal_mode(fd, build, console=False):
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


def _copy_terminal(master, out_path, done):
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


# Now and then (about one run in a few thousand) Wine cannot lay out a new
# process's address space: "err:virtual:virtual_alloc_first_teb wine: failed
# to map the shared user data: c0000018", exit code 1, the program never ran.
WINE_START_FAILURE = re.compile(rb"failed to map the shared user data|virtual_alloc_first_teb")
WINE_START_ATTEMPTS = 3


def wine_failed_to_start(result):
    return (result.build != NATIVE and result.exit_code == 1 and not result.stdout
            and WINE_START_FAILURE.search(result.stderr) is not None)


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
            _set_terminal_mode(slave, build, case.console)
            stdin = slave
            if case.console:
                stdout = slave
                copier = threading.Thread(target=_copy_terminal, args=(master, out_path, copied))
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
                    _feed_terminal(proc, master, out_path, case.keys or [], notes)
                    proc.wait(timeout=case.timeout)
                finally:
                    copied.set()
                    copier.join()
                    os.close(master)
            elif master is not None:
                os.close(slave)
                try:
                    _feed_terminal(proc, master, out_path, case.keys, notes)
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


def folder_resolver(prefix):
    def folder_of(windows_path, folders):
        """The POSIX folder of a Windows path "X:\\dir" in this run."""
        m = re.fullmatch(r"([A-Za-z]):(.*)", windows_path)
        if not m:
            raise ValueError(f"cwd {windows_path!r} is not a drive path")
        letter, rest = m.group(1).upper(), _native_path(m.group(2))
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


# ----------------------------------------------------------------- checking

def _show(text):
    return [repr(line) for line in text.splitlines(keepends=True)]


def shows_true_text(case, build):
    """Whether the build's output keeps every character: the native build's
    always, the .exe's on a console."""
    return build == NATIVE or case.console


def true_text_of(text, build):
    """The true text as the build shows it: Wine's console gives a character
    beyond the BMP as two U+FFFD."""
    return text if build == NATIVE else wine_console_text(text)


def verify(case, results):
    """Problems found in the results of all builds (empty when the case passes)."""
    problems = []
    want = expected_text(case)
    for r in results:
        tag = f"[{r.build}]"
        for note in r.notes:
            problems.append(f"{tag} {note}")
        if r.exit_code is None:
            continue
        if case.exit_code is not None and r.exit_code != case.exit_code:
            problems.append(f"{tag} exit code {r.exit_code}, expected {case.exit_code}")
        if want is not None and r.text != want:
            problems.append(f"{tag} stdout (through the code page) differs from the expected text:")
            problems.extend("    " + l for l in diff_lines(_show(want), _show(r.text), "expected", r.build))
        if case.shown is not None and shows_true_text(case, r.build):
            wanted = true_text_of(case.shown, r.build)
            if r.shown != wanted:
                problems.append(f"{tag} shows other characters than expected:")
                problems.extend("    " + l for l in diff_lines(_show(wanted), _show(r.shown), "expected", r.build))
        if r.build == NATIVE and r.stderr and not case.data:
            problems.append(f"{tag} wrote to stderr: {r.stderr[:400]!r}")
        if case.unchanged:
            for letter in r.before:
                if r.before[letter] != r.after[letter]:
                    problems.append(f"{tag} drive {letter}: changed:")
                    problems.extend("    " + l for l in diff_lines(
                        describe_tree(r.before[letter]), describe_tree(r.after[letter]),
                        "before", "after"))
        if case.check is not None:
            try:
                case.check(r)
            except AssertionError as e:
                problems.append(f"{tag} check failed: {e}")

    # Every build against the first one: as text through the code page, and
    # where both keep every character, as that text itself.
    ref = results[0]
    masked = case.output_mask or (lambda text: text)
    for r in results[1:]:
        if r.exit_code != ref.exit_code:
            problems.append(f"[{r.build}] exit code {r.exit_code} but [{ref.build}] gave {ref.exit_code}")
        if masked(r.text) != masked(ref.text):
            problems.append(f"[{r.build}] stdout differs from [{ref.build}] (through the code page):")
            problems.extend("    " + l for l in diff_lines(_show(masked(ref.text)), _show(masked(r.text)),
                                                          ref.build, r.build))
        elif shows_true_text(case, ref.build) and shows_true_text(case, r.build):
            a, b = masked(true_text_of(ref.shown, r.build)), masked(true_text_of(r.shown, ref.build))
            if a != b:
                problems.append(f"[{r.build}] shows other characters than [{ref.build}]:")
                problems.extend("    " + l for l in diff_lines(_show(a), _show(b), ref.build, r.build))
        for letter in ref.after:
            a = apply_mask(ref.after[letter], case.mask)
            b = apply_mask(r.after[letter], case.mask)
            if a != b:
                problems.append(f"[{r.build}] drive {letter}: left other files than [{ref.build}]:")
                problems.extend("    " + l for l in diff_lines(describe_tree(a), describe_tree(b),
                                                              ref.build, r.build))
    return problems


def describe_results(results, limit=40):
    """Each build's exit code and output as it showed it."""
    lines = []
    seen = {}
    for r in results:
        code = "timeout" if r.exit_code is None else r.exit_code
        same = seen.get(r.shown)
        tail = f" same as [{same}]" if same else ":"
        lines.append(f"  [{r.build}] exit {code}, {r.seconds:.2f}s, stdout{tail}")
        if not same:
            seen[r.shown] = r.build
            out = _show(r.shown)
            lines.extend("    " + l for l in out[:limit])
            if len(out) > limit:
                lines.append(f"    ... {len(out) - limit} more lines")
        if r.stderr:
            lines.append(f"    stderr: {r.stderr[:400]!r}")
    return lines


# ----------------------------------------------------------------- banner

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

