"""Text of the end-to-end rig: a build's output decoded with its own
character set and taken through the ANSI code page, as it is compared."""

import re

from rig_case import NATIVE
from texts import CODE_PAGE, EN


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
