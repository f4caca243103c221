"""Names in several scripts, shown as they are.

The native build writes UTF-8 (the locale's character set) to pipes and
terminals alike; the .exe writes UTF-16 to Wine's console, which shows it as
UTF-8, and the ANSI code page's bytes when redirected ('#' for what the code
page lacks). The rig compares every build through the code page (`stdout`)
and the builds that keep every character with the text itself (`shown`).
"""

import datetime
import os
import subprocess

import binlayout as bl
from rig import NATIVE, Case, banner, code_page_text
from texts import CODE_PAGE, EN, JA, msg

SID = "S-1-5-21-1004336348-1177238915-682003330-1000"
T_RECYCLER = "T:\\Recycler\\" + SID
T_RECYCLED = "T:\\Recycled"
DRIVE_C, DRIVE_T = 2, 19
WHEN = datetime.datetime(2024, 3, 1, 12, 0, 0, tzinfo=datetime.timezone.utc)
SHOWN_TIME = "2024/03/01 12:00:00"
FILE = "      A---"

# One name a script; some the code pages carry, most they do not.
SCRIPT_NAMES = [
    "café crème.txt",        # Latin-1: in 1252, not in 932
    "Łódź.txt",              # Latin Extended-A: ó alone in 1252
    "Ελληνικά.txt",          # Greek: in 932, not in 1252
    "Русский.txt",           # Cyrillic: in 932
    "עברית.txt",             # Hebrew
    "العربية.txt",           # Arabic
    "हिन्दी.txt",              # Devanagari, with combining signs
    "日本語のメモ.txt",      # Japanese: in 932
    "한국어.txt",            # Hangul
    "ภาษาไทย.txt",           # Thai, with marks above the line
    "😀 smile.txt",          # beyond the BMP: two UTF-16 units, "##" in either code page
]
SCRIPT_PATHS = ["C:\\Users\\ana\\" + name for name in SCRIPT_NAMES]


def row(lang, number, width, path):
    """One listed entry, with every character. The path column is as wide as
    the path's bytes in the code page, as the .exe has always padded it."""
    used = len(code_page_text(path, lang).encode(CODE_PAGE[lang]))
    return "[%*d] %s%s %s %s\n" % (width, number, path, " " * max(0, 39 - used), SHOWN_TIME, FILE)


def listing(lang, bin_path, reading, paths, logo=True):
    text = (banner() if logo else "") + msg("MSG_BIN_PATH", lang, bin_path) + msg("MSG_READING", lang, reading)
    text += "\n" + msg("MSG_FILE_COUNT", lang, len(paths)) + msg("MSG_LIST_HEADER", lang)
    width = 1 if len(paths) < 10 else 2
    return text + "".join(row(lang, n, width, path) for n, path in enumerate(paths, 1))


def shown_case(name, args, text, lang=EN, **kw):
    """A case whose output is `text`: so on the native build (and on a
    console), through the code page on the .exe's redirected output."""
    kw.setdefault("exit_code", 0)
    return Case(name, args, lang=lang, stdout=code_page_text(text, lang), shown=text, **kw)


def info2_bin(paths, drive=DRIVE_C):
    """An INFO2 bin of 800-byte records in T:\\Recycler\\<SID>: UTF-16 paths."""
    def build(folder):
        bl.build_index_bin(os.path.join(folder, "Recycler", SID), "INFO2", 800, [
            dict(number=n, drive=drive, time=bl.filetime(WHEN), size=100,
                 ansi=path.encode("cp1252", "replace"), wide=path)
            for n, path in enumerate(paths)])
    return build


def info_bin(ansi_paths):
    """A Windows 95 INFO bin in T:\\Recycled: paths in the writer's code page only."""
    def build(folder):
        bl.build_index_bin(os.path.join(folder, "Recycled"), "INFO", 280, [
            dict(number=n, drive=DRIVE_C, time=bl.filetime(WHEN), size=100, ansi=path)
            for n, path in enumerate(ansi_paths)], version=0)
    return build


def greppable(result):
    """What the user met: `dustpail /view | grep caf` said "binary file
    matches". The native build's output is text to grep now."""
    if result.build != NATIVE:
        return
    env = dict(os.environ, LC_ALL="C.UTF-8")
    found = subprocess.run(["grep", "caf"], input=result.raw, capture_output=True, env=env)
    assert found.returncode == 0, f"grep found nothing: {found.stderr!r}"
    wanted = row(EN, 1, 2, SCRIPT_PATHS[0]).encode("utf-8")
    assert found.stdout == wanted, f"grep printed {found.stdout!r}, not {wanted!r}"


CASES = []

for lang in (EN, JA):
    text = listing(lang, T_RECYCLER, T_RECYCLER + "\\INFO2", SCRIPT_PATHS)
    CASES += [
        shown_case(f"{lang} every script on the native build, through the code page on the .exe",
                   [T_RECYCLER, "/view"], text, lang=lang, unchanged=True,
                   drives={"T": info2_bin(SCRIPT_PATHS)}, check=greppable if lang == EN else None),
        shown_case(f"{lang} every script on the .exe's console", [T_RECYCLER, "/view"], text, lang=lang,
                   console=True, unchanged=True, drives={"T": info2_bin(SCRIPT_PATHS)}),
    ]

# Windows 95 kept ANSI paths only, in the writer's code page: shown as that
# code page reads them, every character kept on a UTF-8 terminal.
ANSI_PATHS = {
    EN: [("C:\\café.txt", "cp1252"), ("C:\\Ærø\\smørrebrød.doc", "cp1252")],
    JA: [("C:\\書類\\メモ.TXT", "cp932"), ("C:\\ﾊﾝｶｸ\\ΑΒΓ αβγ.txt", "cp932")],
}
for lang, paths in ANSI_PATHS.items():
    text = listing(lang, T_RECYCLED, T_RECYCLED + "\\INFO", [p for p, _ in paths])
    stored = [p.encode(codec) for p, codec in paths]
    CASES += [
        shown_case(f"{lang} ANSI paths read in the code page", [T_RECYCLED, "/view"], text, lang=lang,
                   unchanged=True, drives={"T": info_bin(stored)}),
        shown_case(f"{lang} ANSI paths on the .exe's console", [T_RECYCLED, "/view"], text, lang=lang,
                   console=True, unchanged=True, drives={"T": info_bin(stored)}),
    ]


# A question on the console: the detail block and the prompt are out before
# the key is read, the answer follows them, in every build.
RESTORED = "T:\\docs\\Ελληνικά.txt"


def restored(result):
    after = result.after["T"]
    assert after.get("docs/Ελληνικά.txt") == b"data\n", sorted(after)


def with_docs(build_bin):
    def build(folder):
        os.makedirs(os.path.join(folder, "docs"))
        build_bin(folder)
    return build


CASES.append(shown_case(
    "en a restore asked on the .exe's console", [T_RECYCLER, "1"],
    banner() + msg("MSG_BIN_PATH", EN, T_RECYCLER) + msg("MSG_READING", EN, T_RECYCLER + "\\INFO2")
    + f"\n[1] {RESTORED} {SHOWN_TIME}\n\n" + msg("MSG_ASK_RESTORE", EN) + " (Y/N)Y\n"
    + msg("MSG_RESTORING", EN, T_RECYCLER + "\\Dt0.txt", RESTORED) + msg("MSG_RESTORE_OK", EN),
    console=True, keys=["y"], ansi=False, check=restored,
    drives={"T": with_docs(info2_bin([RESTORED], drive=DRIVE_T))}))


# Names read from the disk: a throw shows each one as the user typed it.
THROWN = ["T:\\work\\Русский.txt", "T:\\work\\한국어.txt", "T:\\work\\😀.txt"]


def with_work(build_bin):
    def build(folder):
        for path in THROWN:
            bl.write(os.path.join(folder, "work", path.rsplit("\\", 1)[1]), b"thrown\n")
        build_bin(folder)
    return build


def thrown(result):
    """The files left their folder, and the records hold their UTF-16 paths."""
    after = result.after["T"]
    assert not any(key.startswith("work/") for key in after), sorted(after)
    index = after["Recycler/" + SID + "/INFO2"]
    paths = [index[at + 280:at + 800].decode("utf-16-le").split("\0")[0] for at in range(20, len(index), 800)]
    assert paths == THROWN, paths


def zero_times(rel, data):
    """The INFO2 records' deletion times out, so that builds compare."""
    if not rel.endswith("/INFO2"):
        return rel, data
    out = bytearray(data)
    for at in range(20, len(data) - 799, 800):
        out[at + 268:at + 276] = bytes(8)
    return rel, bytes(out)


for lang in (EN, JA):
    asked = "".join("%d: %s\n" % (n, p) for n, p in enumerate(THROWN, 1)) + msg("MSG_ASK_THROW", lang) + " (Y/N)Y\n"
    done = "".join(p + "\n" + msg("MSG_THROW_OK", lang) for p in THROWN)
    CASES.append(shown_case(
        f"{lang} names thrown, asked on the .exe's console", [T_RECYCLER, "/f"] + THROWN,
        banner() + msg("MSG_BIN_PATH", lang, T_RECYCLER) + asked
        + msg("MSG_READING", lang, T_RECYCLER + "\\INFO2") + done,
        lang=lang, console=True, keys=["y"], check=thrown, mask=zero_times,
        drives={"T": with_work(info2_bin([]))}))


# A listing longer than the .exe's console buffer: written in several
# console writes, in order, nothing lost between them.
LONG_PATHS = ["C:\\docs\\\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac %03d \U0001F600.txt" % n for n in range(400)]


def long_listing(lang):
    text = banner() + msg("MSG_BIN_PATH", lang, T_RECYCLER) + msg("MSG_READING", lang, T_RECYCLER + "\\INFO2")
    text += "\n" + msg("MSG_FILE_COUNT", lang, len(LONG_PATHS)) + msg("MSG_LIST_HEADER", lang)
    return text + "".join(row(lang, n, 3, path) for n, path in enumerate(LONG_PATHS, 1))


CASES.append(shown_case("en a long listing on the .exe's console", [T_RECYCLER, "/view"], long_listing(EN),
                        console=True, unchanged=True, drives={"T": info2_bin(LONG_PATHS)}))


def to_full_disk(folders, stdout_path):
    """A before_run hook: standard output is /dev/full, where every write
    fails; the output file is put back, empty, before the rig reads it."""
    os.remove(stdout_path)
    os.symlink("/dev/full", stdout_path)

    def put_back():
        os.remove(stdout_path)
        open(stdout_path, "wb").close()
    return put_back


def told_on_stderr(lang):
    """A data listing's messages are on stderr, the failure last of them."""
    def check(result):
        codec = "utf-8" if result.build == NATIVE else CODE_PAGE[lang]
        text = result.stderr.decode(codec, "replace").replace("\r\n", "\n")
        assert text.endswith(msg("MSG_ERR_OUTPUT_FAILED", lang)), f"stderr: {text!r}"
    return check


# A listing that cannot be written out is a failure (exit code 67), not a
# success; the table's message is lost with the rest of stdout.
for lang, more in [(EN, []), (EN, ["/json"]), (EN, ["/csv"]), (JA, ["/json"])]:
    CASES.append(Case(f"{lang} a listing {' '.join(more) or 'table'} to a full disk fails",
                      [T_RECYCLER, "/view"] + more, lang=lang, exit_code=67, data=bool(more),
                      drives={"T": info2_bin(SCRIPT_PATHS[:2])}, before_run=to_full_disk, unchanged=True,
                      check=told_on_stderr(lang) if more else None))
