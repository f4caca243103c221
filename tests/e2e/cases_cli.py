"""Command-line cases: usage, parse errors, drive arguments, argument text.

None of these needs a bin, and none may touch the disk: every case runs with
`unchanged=True`, most on a drive T: that holds a stray file, so that a run
which wrongly goes on to write would show.
"""

from rig import DIR, MISSING, Case, banner
from texts import EN, JA, command_line_error, msg, usage

DRIVE_T = {"T": {"readme.txt": "not a bin\r\n"}}


def cli(name, args, stdout, exit_code, lang=EN, **kw):
    kw.setdefault("drives", dict(DRIVE_T))
    return Case(name, args, lang=lang, stdout=stdout, exit_code=exit_code, unchanged=True, **kw)


def usage_case(args, lang=EN, logo=True):
    text = (banner() if logo else "") + usage(lang)
    return cli(f"{lang} usage: {' '.join(args) or '(no argument)'}", args, text, 1, lang)


def invalid(args, lang=EN, logo=True):
    text = (banner() if logo else "") + command_line_error(lang)
    return cli(f"{lang} invalid: {' '.join(args)}", args, text, 21, lang)


def drive_error(args, letter, lang=EN, logo=True):
    text = (banner() if logo else "") + msg("MSG_ERR_DRIVE_ACCESS", lang, letter)
    return cli(f"{lang} drive error: {' '.join(args)}", args, text, 27, lang)


def bin_invalid(name, args, shown, lang=EN, **kw):
    text = banner() + msg("MSG_BIN_PATH", lang, shown) + msg("MSG_ERR_BIN_INVALID", lang, shown)
    return cli(name, args, text, 22, lang, **kw)


def no_bin(name, args, letter, lang=EN, logo=True, **kw):
    """A drive without any bin: nothing found, exit code 28."""
    text = (banner() if logo else "") + msg("MSG_ERR_BIN_NOT_FOUND", lang, letter)
    return cli(name, args, text, 28, lang, **kw)


CASES = [
    # Usage.
    usage_case([]),
    usage_case(["/?"]),
    usage_case(["-h"]),
    usage_case(["/H"]),
    usage_case(["--help"]),
    usage_case(["/HELP"]),
    usage_case(["-hElP"]),
    usage_case(["/nologo", "/?"], logo=False),
    usage_case(["/?", "/nologo"], logo=False),
    usage_case(["/Y", "/nologo", "/h", "/Y", "/nologo", "/y"], logo=False),
    usage_case([], lang=JA),
    usage_case(["/?"], lang=JA),
    usage_case(["/nologo", "--HELP"], lang=JA, logo=False),

    # Invalid command lines: banner, error, empty line, usage; code 21.
    invalid(["/hx"]),
    invalid(["/-help"]),
    invalid(["/"]),
    invalid(["-"]),
    invalid(["---"]),
    invalid(["/help", "/help"]),
    invalid(["/delete", "3"]),
    invalid(["/delete"]),
    invalid(["3", "/delete", "/delete"]),
    invalid(["/view", "/empty"]),
    invalid(["/view", "3"]),
    invalid(["3", "/view"]),
    invalid(["/empty", "/f", "a"]),
    invalid(["/f", "a", "/view"]),
    invalid(["/f"]),
    invalid(["/f", "/Y"]),
    invalid(["/f", "--"]),
    invalid(["/f", "-1.txt"]),
    invalid(["C:\\bin1", "C:\\bin2"]),
    invalid(["3", "/delete", "C:\\x"]),
    invalid(["T:", "T:"]),
    invalid(["/nologo", "/hx"], logo=False),
    invalid(["/nologo", "/view", "3"], logo=False),
    invalid(["/view", "/nologo", "3"], logo=False),
    invalid(["/hx", "/nologo"]),
    invalid(["/hx"], lang=JA),
    invalid(["/f"], lang=JA),
    invalid(["/nologo", "/delete", "3"], lang=JA, logo=False),

    # Drive arguments: an inaccessible one is reported by the parser itself.
    drive_error(["Q:"], "Q"),
    drive_error(["q:"], "Q"),
    drive_error(["/nologo", "Q:"], "Q", logo=False),
    drive_error(["Q:", "/nologo"], "Q"),
    drive_error(["#:"], "#"),
    drive_error(["/view", "q:"], "Q"),
    drive_error(["Q:", "/hx"], "Q"),
    drive_error(["Q:"], "Q", lang=JA),
    drive_error(["/nologo", "q:"], "Q", lang=JA, logo=False),
    cli("en drive error: mapped to a folder that is not there", ["R:"],
        banner() + msg("MSG_ERR_DRIVE_ACCESS", EN, "R"), 27,
        drives={"T": {}, "R": MISSING}),

    # An accessible drive is searched; T: holds no bin.
    no_bin("en drive T: searched", ["T:"], "T"),
    no_bin("en drive t: searched", ["t:"], "T"),
    no_bin("en drive after /view", ["/view", "T:"], "T"),
    no_bin("en current drive T:", ["/view"], "T"),
    no_bin("en current drive T: without banner", ["/nologo", "/view"], "T", logo=False),
    no_bin("en current drive from a subfolder of U:", ["/view"], "U",
           drives={"T": {}, "U": {"deep/er": DIR}}, cwd="U:\\deep\\er"),
    no_bin("en drive U: while the current drive is T:", ["U:", "/view"], "U",
           drives={"T": {}, "U": {}}),
    no_bin("en index without a bin path searches the current drive", ["3", "T:\\restored"], "T"),
    no_bin("ja drive T: searched", ["T:"], "T", lang=JA),
    no_bin("en -- alone: no operand, the current drive is searched", ["--"], "T"),

    # Bin paths are taken as given; here none holds a store.
    bin_invalid("en bin path", ["T:\\nobin"], "T:\\nobin"),
    bin_invalid("en bin path after /view", ["/view", "T:\\nobin"], "T:\\nobin"),
    bin_invalid("en bin path before /empty", ["T:\\nobin", "/empty"], "T:\\nobin"),
    bin_invalid("en bin path before an index", ["T:\\nobin", "2", "T:\\there"], "T:\\nobin"),
    bin_invalid("en bin path before /f", ["T:\\nobin", "/f", "readme.txt"], "T:\\nobin"),
    bin_invalid("en drive root is a bin path", ["T:\\"], "T:\\"),
    bin_invalid("en drive dot is a bin path", ["T:."], "T:."),
    bin_invalid("en relative bin path stays relative", ["nobin"], "nobin"),
    bin_invalid("en a file as bin path", ["T:\\readme.txt"], "T:\\readme.txt"),
    bin_invalid("ja bin path", ["T:\\nobin"], "T:\\nobin", lang=JA),

    # Arguments outside ASCII reach the program as far as the code page carries
    # them; what it lacks is '#', and a full-width asterisk is never '*'.
    bin_invalid("en bin path with n-tilde", ["T:\\a\u00f1o"], "T:\\a\u00f1o"),
    bin_invalid("en bin path with characters cp1252 lacks", ["T:\\\u0101\uff0a\u3054"], "T:\\###"),
    bin_invalid("ja bin path in Japanese", ["T:\\\u3054\u307f\uff0a"], "T:\\\u3054\u307f\uff0a", lang=JA),
    bin_invalid("ja bin path with characters cp932 lacks", ["T:\\\u00f1\u0101x"], "T:\\##x", lang=JA),
    bin_invalid("en bin path quoted with a blank", ["T:\\two words"], "T:\\two words"),
]
