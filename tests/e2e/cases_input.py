"""Console input: yes/no keys and the typed bin number, through a terminal and a pipe.

The yes/no question is the one of /empty on a per-item bin holding one item;
the number question is the choice between two index bins (their empty INFO2
files are enough to be found, and fail to load once one is chosen).
"""

import struct

from rig import CTRL_C, ENTER, ESC, Case, banner
from texts import EN, JA, msg

BIN = "T:\\$RECYCLE.BIN\\S-1-5-21"
ITEM = "$I4K0Z1Q.txt"
DATA = "$R4K0Z1Q.txt"


def item_info(path, size, filetime):
    """A $I file: version, size, deletion time, original path in UTF-16."""
    name = path.encode("utf-16-le")
    return struct.pack("<QQQ", 1, size, filetime) + name + bytes(520 - len(name))


ONE_ITEM = {"T": {
    "$RECYCLE.BIN/S-1-5-21/desktop.ini": b"[.ShellClassInfo]\r\n",
    "$RECYCLE.BIN/S-1-5-21/" + ITEM: item_info("C:\\work\\notes.txt", 5, 133_000_000_000_000_000),
    "$RECYCLE.BIN/S-1-5-21/" + DATA: b"hello",
}}


def ask_empty(lang):
    question = msg("MSG_ASK_EMPTY", lang, 1) + " (Y/N)"
    return (banner() + msg("MSG_BIN_PATH", lang, BIN) + msg("MSG_READING", lang, BIN), question)


def empty_case(name, keys, answers, tail, exit_code, lang=EN, **kw):
    """`answers`: what follows each shown question ("Y\n", "N\n" or "\n")."""
    head, question = ask_empty(lang)
    text = head + "".join(question + a for a in answers) + tail
    kw.setdefault("unchanged", exit_code != 0)
    return Case(name, [BIN, "/empty"], lang=lang, keys=keys, stdout=text, exit_code=exit_code,
                drives=ONE_ITEM, **kw)


def emptied(lang):
    return (msg("MSG_DELETING", lang) + f"{BIN}\\{ITEM}\n{BIN}\\{DATA}\n\n"
            + msg("MSG_FINISHED", lang) + msg("MSG_EMPTIED", lang))


def only_marker_left(result):
    left = sorted(k for k, v in result.after["T"].items())
    assert left == ["$RECYCLE.BIN", "$RECYCLE.BIN/S-1-5-21", "$RECYCLE.BIN/S-1-5-21/desktop.ini"], left


TWO_BINS = {"T": {"Recycled/INFO2": b"", "Recycler/S-1-5/INFO2": b""}}


def choice(lang, asked):
    return (banner() + msg("MSG_CHOOSE_BIN", lang) + "1     T:\\Recycler\\S-1-5\n2     T:\\Recycled\n"
            + msg("MSG_INPUT_INDEX", lang, 1, 2) * asked)


def none_chosen(name, asked, lang=EN, **kw):
    text = choice(lang, asked) + msg("MSG_ERR_BIN_NOT_FOUND", lang, "T")
    return Case(name, ["/view"], lang=lang, stdout=text, exit_code=28, drives=TWO_BINS,
                unchanged=True, **kw)


def chosen(name, path, lang=EN, **kw):
    text = (choice(lang, 1) + msg("MSG_BIN_PATH", lang, path) + msg("MSG_READING", lang, path + "\\INFO2")
            + msg("MSG_ERR_READ_FAILED", lang, path))
    return Case(name, ["/view"], lang=lang, stdout=text, exit_code=61, drives=TWO_BINS,
                unchanged=True, **kw)


CASES = [
    # Yes/no keys, one at a time from a terminal.
    empty_case("y empties", ["y"], ["Y\n"], emptied(EN), 0, check=only_marker_left),
    empty_case("Y empties", ["Y"], ["Y\n"], emptied(EN), 0, check=only_marker_left),
    empty_case("Enter is yes", [ENTER], ["Y\n"], emptied(EN), 0, check=only_marker_left),
    empty_case("Esc is no", [ESC], ["N\n"], msg("MSG_CANCELED", EN), 2),
    empty_case("n is no", ["n"], ["N\n"], msg("MSG_CANCELED", EN), 2),
    empty_case("x asks again, then N", ["x", "N"], ["\n", "N\n"], msg("MSG_CANCELED", EN), 2),
    empty_case("two unknown keys, then Esc", ["q", "1", ESC], ["\n", "\n", "N\n"], msg("MSG_CANCELED", EN), 2),
    empty_case("Ctrl+C ends the run", [CTRL_C], ["^C\n"], "", 3, unchanged=True),
    empty_case("end of input is no", [], ["N\n"], msg("MSG_CANCELED", EN), 2),
    empty_case("no console is no", None, ["N\n"], msg("MSG_CANCELED", EN), 2),
    empty_case("ja y empties", ["y"], ["Y\n"], emptied(JA), 0, lang=JA, check=only_marker_left),
    empty_case("ja Esc is no", [ESC], ["N\n"], msg("MSG_CANCELED", JA), 2, lang=JA),
    Case("/Y asks nothing", [BIN, "/empty", "/Y"], keys=[], drives=ONE_ITEM, exit_code=0,
         stdout=ask_empty(EN)[0] + emptied(EN), check=only_marker_left),

    # The bin number, typed on a terminal or piped.
    none_chosen("empty line chooses none", 1, keys=["\n"]),
    none_chosen("out of range asks again, then abc", 2, keys=["3\n", "abc\n"]),
    none_chosen("-1 asks again, then 0", 2, keys=["-1\n", "0\n"]),
    none_chosen("end of input chooses none", 1, keys=[]),
    none_chosen("no stdin chooses none", 1),
    none_chosen("piped answers", 3, stdin="4\n-7\n\n"),
    none_chosen("ja empty line chooses none", 1, lang=JA, keys=["\n"]),
    chosen("2 chooses the second bin", "T:\\Recycled", keys=["2\n"]),
    chosen("2abc chooses the second bin", "T:\\Recycled", keys=["2abc\n"]),
    chosen("blank and 1 chooses the first", "T:\\Recycler\\S-1-5", keys=[" 1\n"]),
    chosen("piped 1", "T:\\Recycler\\S-1-5", stdin="1\n"),
    chosen("ja 1 chooses the first", "T:\\Recycler\\S-1-5", lang=JA, keys=["1\n"]),
]
