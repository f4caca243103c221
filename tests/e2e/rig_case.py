"""What a case of the end-to-end rig is: the builds it runs on, its keys,
the case itself and the result of one build's run (see README.md)."""

import dataclasses

from texts import CODE_PAGE, EN, JA

NATIVE = "native"
EXE = "exe"
ANSI = "ansi"
ALL_BUILDS = (NATIVE, EXE, ANSI)

LOCALES = {EN: "C.UTF-8", JA: "ja_JP.UTF-8"}

CTRL_C = "\x03"
ESC = "\x1b"
ENTER = "\r"


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
