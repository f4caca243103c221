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


# Typed numbers out of every range: atol wraps some of them into 1..2 on
# Windows, where long has 32 bits ("4294967298" is 2).
TOO_LARGE = ["4294967298", "-4294967295", "4294967297", "99999999999999999999", " 3",
             "2147483649", "-2147483648"]

TWO_BINS = {"T": {"Recycled/INFO2": b"", "Recycler/S-1-5/INFO2": b""}}


def choice(lang, asked):
    return (banner() + msg("MSG_CHOOSE_BIN", lang) + "1     T:\\Recycler\\S-1-5\n2     T:\\Recycled\n"
            + msg("MSG_INPUT_INDEX", lang, 1, 2) * asked)


def none_chosen(name, asked, lang=EN, **kw):
    text = choice(lang, asked) + msg("MSG_ERR_BIN_NOT_FOUND", lang, "T")
    return Case(name, ["/view"], lang=lang, stdout=text, exit_code=28, drives=TWO_BINS,
                unchanged=True, **kw)


def chosen(name, path, lang=EN, asked=1, **kw):
    text = (choice(lang, asked) + msg("MSG_BIN_PATH", lang, path) + msg("MSG_READING", lang, path + "\\INFO2")
            + msg("MSG_ERR_READ_FAILED", lang, path))
    return Case(name, ["/view"], lang=lang, stdout=text, exit_code=61, drives=TWO_BINS,
                unchanged=True, **kw)


# Keys that answer nothing: each asks again, and the "y" after them empties.
# Special keys come as escape sequences (Alt+key is ESC and the key);
# non-ASCII keys as UTF-8, the terminal's character set in both languages.
NO_ANSWER_KEYS = [
    b"\x1b[A",            # up
    b"\x1bOA",            # up, application mode
    b"\x1b[1;5A",         # Ctrl+up (224 141 from _getch)
    b"\x1b[H",            # Home
    b"\x1b[3~",           # Delete
    b"\x1bOP",            # F1 (_getch gave nothing: the question waited)
    b"\x1b[15~",          # F5
    b"\x1b[Z",            # Shift+Tab
    b"\x1by",             # Alt+y
    b"\x1b\r",            # Alt+Enter
    "\u00e9".encode(),    # e acute: a negative code from _getch, taken for end of input
    "\u00e0".encode(),    # a grave: U+00E0, 224, the special-key prefix of _getwch
    "\u00a0".encode(),    # no-break space: 0xFF in code page 437, -1 from _getch
    "\U0001F600".encode(),  # beyond the BMP: one key, though Windows reads two units
    b"\xc3",              # a cut UTF-8 sequence: U+FFFD
    b"\xe6\x97y",         # a cut sequence and a y with it: U+FFFD, then the y answers
]
# Japanese keys: U+65E5 (two bytes in code page 932), four whose second byte
# there is y, n, N and Y, and a half-width katakana (one byte).
NO_ANSWER_KEYS_JA = [c.encode() for c in "\u65e5\u697d\u30cf\u30af\u30ba\uff71"]


def no_answer_case(name, keys, lang=EN):
    """Each key asks again; then a y (the last key's own, or one more) empties the bin."""
    steps = keys if keys[-1].endswith(b"y") else keys + ["y"]
    return empty_case(name, steps, ["\n"] * len(keys) + ["Y\n"], emptied(lang), 0, lang=lang,
                      check=only_marker_left)


CASES = [
    # Keys that are no answer, each asked again, in one run per language.
    no_answer_case("special and non-ASCII keys ask again", NO_ANSWER_KEYS),
    no_answer_case("ja double-byte keys ask again", NO_ANSWER_KEYS_JA, lang=JA),
    # A lone Esc is no at once, and the Enter typed after it is never read:
    # Wine's console gives the Esc key without a character (which _getch
    # dropped), the POSIX build once nothing follows it within 50 ms.
    empty_case("Esc, then Enter, is no", [(b"\x1b", ENTER)], ["N\n"], msg("MSG_CANCELED", EN), 2),

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

    # The bin number, typed on a terminal or piped. A line ended by CR LF
    # reads as its number in both builds, typed or piped.
    chosen("numbers beyond 32 bits ask again, typed", "T:\\Recycled", asked=len(TOO_LARGE) + 1,
           keys=[n + "\n" for n in TOO_LARGE] + [b"2\r\n"]),
    chosen("numbers beyond 32 bits ask again, piped", "T:\\Recycler\\S-1-5", asked=len(TOO_LARGE) + 1,
           stdin="".join(n + "\r\n" for n in TOO_LARGE) + "+0000000000000000000001\r\n"),
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
