"""Store cases: finding and telling bins, loading every layout Windows wrote,
and the listing's exact lines.

Every bin is built byte by byte by binlayout.py on a drive of the case; every
listing case runs with `unchanged=True`, since a listing never writes.
"""

import datetime
import os
import struct

import binlayout as bl
from rig import DIR, Case, banner
from texts import CODE_PAGE, EN, JA, msg

SID = "S-1-5-21-1004336348-1177238915-682003330-1000"
T_RECYCLED = "T:\\Recycled"
T_RECYCLER = "T:\\Recycler\\" + SID
T_RECYCLE_BIN = "T:\\$RECYCLE.BIN\\" + SID


def at(*fields):
    return datetime.datetime(*fields, tzinfo=datetime.timezone.utc)


def shown_time(moment, offset_hours=0):
    local = moment + datetime.timedelta(hours=offset_hours)
    return local.strftime("%Y/%m/%d %H:%M:%S")


PLACEHOLDER = "????/??/?? ??:??:??"
FILE = "      A---"
FOLDER = "<DIR> ----"
NO_ITEM = "      ----"


def ansi_bytes(text, lang):
    """Text as the program shows a wide path: '#' for what the code page lacks."""
    codec = CODE_PAGE[lang]
    out = b""
    for ch in text:
        try:
            out += ch.encode(codec)
        except UnicodeEncodeError:
            out += b"#"
    return out


def row(path, time, attributes):
    """One listed entry: path as str (a wide path) or bytes (stored ANSI)."""
    return (path, time, attributes)


def listing(lang, bin_shown, reading, rows, logo=True):
    """The whole output of a listing, as bytes in the language's code page."""
    codec = CODE_PAGE[lang]
    out = (banner() if logo else "").encode(codec)
    out += msg("MSG_BIN_PATH", lang, bin_shown).encode(codec)
    out += msg("MSG_READING", lang, reading).encode(codec)
    out += b"\n" + msg("MSG_FILE_COUNT", lang, len(rows)).encode(codec)
    if not rows:
        return out + b"\n" + msg("MSG_BIN_EMPTY", lang).encode(codec)
    out += msg("MSG_LIST_HEADER", lang).encode(codec)
    width = 1 if len(rows) < 10 else (2 if len(rows) < 100 else 3)
    for number, (path, time, attributes) in enumerate(rows, 1):
        shown = path if isinstance(path, bytes) else ansi_bytes(path, lang)
        out += b"[%*d] " % (width, number) + shown.ljust(39) + b" " + time.encode() + b" "
        out += attributes.encode() + b"\n"
    return out


def failure(lang, bin_shown, reading, text_name, *args):
    codec = CODE_PAGE[lang]
    out = banner() + msg("MSG_BIN_PATH", lang, bin_shown)
    if reading is not None:
        out += msg("MSG_READING", lang, reading)
    return (out + msg(text_name, lang, *args)).encode(codec)


def view(name, args, stdout, exit_code=0, lang=EN, **kw):
    return Case(name, args, lang=lang, stdout=stdout, exit_code=exit_code, unchanged=True, **kw)


def index_bin(relfolder, index_name, record_size, records, version=5, desktop_ini=None, extra=None):
    """A drive builder: an index bin in `relfolder` of the drive."""
    def build(drive):
        folder = os.path.join(drive, *relfolder.split("\\"))
        bl.build_index_bin(folder, index_name, record_size, records, version, desktop_ini)
        if extra:
            extra(folder)
    return build


def item_bin(relfolder, items, desktop_ini=bl.DESKTOP_INI_UTF16, extra=None):
    def build(drive):
        folder = os.path.join(drive, *relfolder.split("\\"))
        bl.build_item_bin(folder, items, desktop_ini)
        if extra:
            extra(folder)
    return build


def both(*builders):
    def build(drive):
        for b in builders:
            b(drive)
    return build


def rec(number, path, time, size=1000, drive=None, ansi=None, **kw):
    """An index record; drive from the path's letter unless given."""
    if drive is None:
        drive = ord(path[0].lower()) - ord("a")
    if ansi is None:
        ansi = path.encode("cp1252", "replace")
    return dict(number=number, drive=drive, time=bl.filetime(time), size=size, ansi=ansi,
                wide=path, **kw)


# ----------------------------------------------------------------- layouts

T1, T2, T3, T4 = at(1998, 3, 14, 9, 26, 53), at(2005, 6, 1, 10, 30, 0), at(2010, 5, 1, 12, 34, 56), \
    at(2024, 12, 31, 23, 59, 59)
MEMO_932 = "C:\\書類\\メモ.TXT".encode("cp932")

WIN95_RECORDS = [
    rec(0, "C:\\MYDOCU~1\\REPORT.DOC", T1, size=4096),
    dict(number=1, drive=2, time=bl.filetime(T2), size=2048, ansi=MEMO_932),
    rec(2, "C:\\TEMP\\GONE.TXT", T3, removed=True),
    rec(3, "D:\\GAMES\\OLD", T4, directory=True),
]


def win95_rows(lang):
    # Read under 1252, two of the cp932 bytes are C1 controls (0x8F, 0x81).
    memo = MEMO_932 if lang == JA else MEMO_932.replace(b"\x8f", b"?").replace(b"\x81", b"?")
    return [row(b"C:\\MYDOCU~1\\REPORT.DOC", shown_time(T1), FILE),
            row(memo, shown_time(T2), FILE),
            row(b"D:\\GAMES\\OLD", shown_time(T4), FOLDER)]


def windows95(lang):
    # ANSI paths are printed as stored but for their control characters: the
    # cp932 bytes read right in Japanese.
    return view(f"{lang} Windows 95 INFO, version 0, 280-byte records",
                ["T:\\Recycled", "/view"],
                listing(lang, T_RECYCLED, T_RECYCLED + "\\INFO", win95_rows(lang)), lang=lang,
                drives={"T": index_bin("Recycled", "INFO", 280, WIN95_RECORDS, version=0,
                                       desktop_ini=bl.DESKTOP_INI_OLD)})


# NT 4 writes "INFO" with 800-byte records: the UTF-16 path is the one shown,
# even where the ANSI field says otherwise.
NT4_RECORDS = [
    rec(0, "C:\\WINNT\\Profiles\\user\\Personal\\résumé.doc", T2, ansi=b"C:\\stale\\ansi.doc"),
    rec(1, "C:\\temp\\日本.txt", T3, ansi=b"C:\\temp\\??.txt"),
]

# 98 and ME write "INFO2" with 280-byte records: ANSI paths only.
ME_RECORDS = [
    rec(4, "C:\\My Documents\\letter.doc", T1),
    rec(5, "C:\\WINDOWS\\Desktop\\New Folder", T2, directory=True),
]


def xp_records():
    """2000, XP and 2003: "INFO2", version 5, 800-byte records."""
    return [
        rec(1, "C:\\lost.txt", T1, item=False),   # its item is gone; Dc10.txt must not stand in
        rec(10, "C:\\Documents and Settings\\user\\notes.txt", T2),
        rec(11, "C:\\tmp\\removed.txt", T2, removed=True),
        rec(12, "\\\\server\\share\\plan.xls", T3, drive=bl.NETWORK_DRIVE),
        rec(13, "C:\\tmp\\Ελληνικά και 日本語.txt", T3),
        rec(14, "C:\\tmp\\old project", T4, directory=True),
        rec(100, "E:\\README", T4),
    ]


def xp_rows(lang):
    return [row("C:\\Documents and Settings\\user\\notes.txt", shown_time(T2), FILE),
            row("\\\\server\\share\\plan.xls", shown_time(T3), FILE),
            row("C:\\tmp\\Ελληνικά και 日本語.txt", shown_time(T3), FILE),
            row("C:\\tmp\\old project", shown_time(T4), FOLDER),
            row("E:\\README", shown_time(T4), FILE)]


VISTA_ITEMS = [
    dict(code="4K0Z1Q", path="C:\\Users\\user\\Documents\\report.docx", time=T3, size=23456),
    dict(code="A7B2C9", path="C:\\Users\\user\\Pictures\\holiday", time=T3, size=0, directory=True),
    dict(code="ZZ0001", path="C:\\Users\\user\\orphan.txt", time=T4, size=12, data=False),
]


def vista_extra(folder):
    # Passed over: a folder named like an index file, a file one byte short.
    os.makedirs(os.path.join(folder, "$IFOLDER.txt"))
    short = bl.item_info_v1(1, bl.filetime(T1), "C:\\short.txt")[:543]
    bl.write(os.path.join(folder, "$ISHORT1.txt"), short)
    bl.write(os.path.join(folder, "$RSHORT1.txt"), b"x")
    # Read from its first 544 bytes.
    bl.write(os.path.join(folder, "$ILONG01.txt"),
             bl.item_info_v1(600, bl.filetime(T2), "C:\\long.txt") + b"\x41" * 56)
    # A $R item without its $I file is no entry.
    bl.write(os.path.join(folder, "$RNOINFO.txt"), b"x")


def vista_rows():
    return {"C:\\Users\\user\\Documents\\report.docx": (shown_time(T3), FILE),
            "C:\\Users\\user\\Pictures\\holiday": (shown_time(T3), FOLDER),
            "C:\\Users\\user\\orphan.txt": (shown_time(T4), NO_ITEM),
            "C:\\long.txt": (shown_time(T2), NO_ITEM)}


WIN10_ITEMS = [
    dict(code="QW3RT7", version=2, path="C:\\Users\\user\\Downloads\\setup.exe", time=T3, size=1 << 20),
    dict(code="M1N2B3", version=2, path="C:\\Users\\user\\Documents\\日本語のメモ.txt", time=T4, size=321),
    dict(code="0PQ9XY", version=2, path="D:\\" + "p" * 256, time=T4, size=5),  # 259 characters
]


def win10_extra(folder):
    good = bl.item_info_v2(9, bl.filetime(T1), "C:\\a.txt")
    # A count past the end of the file, a count of 0, a path of 260
    # characters, and a path without its terminator.
    bl.write(os.path.join(folder, "$IPAST01.txt"), good[:-1])
    bl.write(os.path.join(folder, "$IZERO01.txt"), good[:24] + struct.pack("<I", 0) + good[28:])
    bl.write(os.path.join(folder, "$ILONG01.txt"), bl.item_info_v2(1, bl.filetime(T1), "C:\\" + "q" * 257))
    bl.write(os.path.join(folder, "$IOPEN01.txt"), good[:24] + struct.pack("<I", 8) + good[28:28 + 16])


def win10_rows():
    return {"C:\\Users\\user\\Downloads\\setup.exe": (shown_time(T3), FILE),
            "C:\\Users\\user\\Documents\\日本語のメモ.txt": (shown_time(T4), FILE),
            "D:\\" + "p" * 256: (shown_time(T4), FILE)}


def unordered_listing(lang, bin_shown, expected):
    """A check for per-item bins, whose order is the file system's: the
    same lines in any order, numbered 1 to n."""
    def check(result):
        head = listing(lang, bin_shown, bin_shown, [("", "", "")] * len(expected))
        head = head[:head.index(msg("MSG_LIST_HEADER", lang).encode(CODE_PAGE[lang]))]
        head += msg("MSG_LIST_HEADER", lang).encode(CODE_PAGE[lang])
        assert result.stdout.startswith(head), f"head {result.stdout[:len(head) + 40]!r}"
        lines = result.stdout[len(head):].split(b"\n")
        assert lines[-1] == b"", "no final line break"
        lines = lines[:-1]
        assert len(lines) == len(expected), f"{len(lines)} lines for {len(expected)} entries"
        width = 1 if len(lines) < 10 else 2
        wanted = {ansi_bytes(p, lang).ljust(39) + b" " + t.encode() + b" " + a.encode()
                  for p, (t, a) in expected.items()}
        seen = set()
        for number, line in enumerate(lines, 1):
            prefix = b"[%*d] " % (width, number)
            assert line.startswith(prefix), f"line {number}: {line!r}"
            seen.add(line[len(prefix):])
        assert seen == wanted, f"lines {sorted(seen)!r}, expected {sorted(wanted)!r}"
    return check


# ----------------------------------------------------------------- cases

CASES = [windows95(EN), windows95(JA)]

# ANSI paths holding control characters, each shown as '?', read by the
# characters the code page gives their bytes: 1252 reads 0x81 0x8D 0x8F 0x90
# 0x9D as U+0081..U+009D, but 0x9B as U+203A and 0x80 as the euro sign; under
# 932 the second byte of a double-byte character may be 0x9B, 0x80 alone is
# U+0080, and a lead byte with a byte that makes no pair with it (0x83 before
# DEL) is one U+30FB, as the system reads the path.
CONTROL_ANSI = {
    EN: [(b"C:\\x\x1b[2Jy\x07\r\n[2] .txt", b"C:\\x?[2Jy???[2] .txt"),
         (b"C:\\\x81\x8d\x8f\x90\x9d\x9b\x80\x7f.txt", b"C:\\?????\x9b\x80?.txt")],
    JA: [(b"C:\\\x93\xfa\x96\x7b\x1b]0;x\x07.txt", b"C:\\\x93\xfa\x96\x7b?]0;x?.txt"),
         (b"C:\\\x81\x9b\x80\x83\x7f.txt", "C:\\\u25cb?\u30fb.txt".encode("cp932"))],
}
for lang, paths in CONTROL_ANSI.items():
    CASES.append(view(
        f"{lang} ANSI paths with control characters", ["T:\\Recycled", "/view"],
        listing(lang, T_RECYCLED, T_RECYCLED + "\\INFO", [row(shown, shown_time(T1), FILE) for _, shown in paths]),
        lang=lang, drives={"T": index_bin("Recycled", "INFO", 280, [
            dict(number=n, drive=2, time=bl.filetime(T1), size=10, ansi=stored)
            for n, (stored, _) in enumerate(paths)], version=0)}))

for lang in (EN, JA):
    CASES.append(view(
        f"{lang} Windows NT 4 INFO, 800-byte records show the UTF-16 path",
        ["T:\\Recycled", "/view"],
        listing(lang, T_RECYCLED, T_RECYCLED + "\\INFO", [
            row("C:\\WINNT\\Profiles\\user\\Personal\\résumé.doc", shown_time(T2), FILE),
            row("C:\\temp\\日本.txt", shown_time(T3), FILE)]),
        lang=lang, drives={"T": index_bin("Recycled", "INFO", 800, NT4_RECORDS, version=2)}))

CASES += [
    view("en Windows 98/ME INFO2 with 280-byte records", ["T:\\Recycled", "/view"],
         listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO2", [
             row(b"C:\\My Documents\\letter.doc", shown_time(T1), FILE),
             row(b"C:\\WINDOWS\\Desktop\\New Folder", shown_time(T2), FOLDER)]),
         drives={"T": index_bin("Recycled", "INFO2", 280, ME_RECORDS, version=4,
                                desktop_ini=bl.DESKTOP_INI_OLD)}),
]

# XP's bin is found below Recycler from the current drive; the record of a
# missing item is left out even though Dc10.txt begins with its name.
for lang in (EN, JA):
    CASES.append(view(
        f"{lang} Windows XP INFO2 found below Recycler, network path, gaps",
        ["/view"], listing(lang, T_RECYCLER, T_RECYCLER + "\\INFO2", xp_rows(lang)), lang=lang,
        drives={"T": index_bin("Recycler\\" + SID, "INFO2", 800, xp_records(),
                               desktop_ini=bl.DESKTOP_INI_OLD)}))

CASES += [
    view("en a drive argument finds the bin of that drive", ["/nologo", "U:"],
         listing(EN, "U:\\Recycler\\" + SID, "U:\\Recycler\\" + SID + "\\INFO2", xp_rows(EN), logo=False),
         drives={"T": {}, "U": index_bin("Recycler\\" + SID, "INFO2", 800, xp_records())}),
    view("en Vista $I version 1 below $RECYCLE.BIN with a UTF-16 desktop.ini",
         ["/view"], None,
         check=unordered_listing(EN, T_RECYCLE_BIN, vista_rows()),
         drives={"T": item_bin("$RECYCLE.BIN\\" + SID, VISTA_ITEMS, extra=vista_extra)}),
    view("en Windows 10 $I version 2, damaged ones passed over",
         [T_RECYCLE_BIN], None,
         check=unordered_listing(EN, T_RECYCLE_BIN, win10_rows()),
         drives={"T": item_bin("$RECYCLE.BIN\\" + SID, WIN10_ITEMS, extra=win10_extra)}),
    view("ja Windows 10 $I version 2", ["/view"], None, lang=JA,
         check=unordered_listing(JA, T_RECYCLE_BIN, win10_rows()),
         drives={"T": item_bin("$RECYCLE.BIN\\" + SID, WIN10_ITEMS)}),
    view("en a marked folder anywhere is a $I bin",
         ["T:\\elsewhere\\bin", "/view"], None,
         check=unordered_listing(EN, "T:\\elsewhere\\bin", {
             "C:\\Users\\user\\Downloads\\setup.exe": (shown_time(T3), FILE)}),
         drives={"T": item_bin("elsewhere\\bin", WIN10_ITEMS[:1], desktop_ini=bl.DESKTOP_INI_MARKER)}),
    view("en an empty $I bin", ["/view"],
         listing(EN, T_RECYCLE_BIN, T_RECYCLE_BIN, []),
         drives={"T": item_bin("$RECYCLE.BIN\\" + SID, [])}),
    view("en an INFO2 of the header alone", ["T:\\Recycled"],
         listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO2", []),
         drives={"T": index_bin("Recycled", "INFO2", 800, [])}),
    view("ja an INFO2 whose items are all gone", ["T:\\Recycled"],
         listing(JA, T_RECYCLED, T_RECYCLED + "\\INFO2", []), lang=JA,
         drives={"T": index_bin("Recycled", "INFO2", 800, [
             rec(0, "C:\\a.txt", T1, item=False), rec(1, "C:\\b", T2, item=False)])}),
]


# ----------------------------------------------------------------- detection

def stray_info(relfolder):
    def build(drive):
        bl.write(os.path.join(drive, *relfolder.split("\\"), "INFO"),
                 bl.index_header(280) + bl.index_record(280, 0, 2, bl.filetime(T1), 1, b"C:\\info.txt"))
        bl.write(os.path.join(drive, *relfolder.split("\\"), "Dc0.txt"), b"x")
    return build


CASES += [
    view("en INFO2 wins over INFO in one folder", ["T:\\Recycled"],
         listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO2", xp_rows(EN)),
         drives={"T": both(index_bin("Recycled", "INFO2", 800, xp_records()), stray_info("Recycled"))}),
    # Below $RECYCLE.BIN any desktop.ini makes a $I bin, and there is no $I file.
    view("en below $RECYCLE.BIN a desktop.ini beats INFO2", [T_RECYCLE_BIN],
         listing(EN, T_RECYCLE_BIN, T_RECYCLE_BIN, []),
         drives={"T": index_bin("$RECYCLE.BIN\\" + SID, "INFO2", 800, xp_records(),
                                desktop_ini=b"not an ini at all")}),
    view("en $RECYCLE.BINX is no $RECYCLE.BIN", ["T:\\$RECYCLE.BINX"],
         listing(EN, "T:\\$RECYCLE.BINX", "T:\\$RECYCLE.BINX\\INFO2", xp_rows(EN)),
         drives={"T": index_bin("$RECYCLE.BINX", "INFO2", 800, xp_records(),
                                desktop_ini=bl.DESKTOP_INI_UTF16)}),
    view("en a megabyte desktop.ini without line breaks", ["T:\\Recycled"],
         listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO2", xp_rows(EN)),
         drives={"T": index_bin("Recycled", "INFO2", 800, xp_records(),
                                desktop_ini=b"[.ShellClassInfo]\r\n" + b"x" * (1 << 20))}),
    view("en a folder without a store is invalid", ["T:\\nothing"],
         failure(EN, "T:\\nothing", None, "MSG_ERR_BIN_INVALID", "T:\\nothing"), exit_code=22,
         drives={"T": {"nothing\\readme.txt": "x"}}),
]


# ----------------------------------------------------------------- choosing

def three_bins(drive):
    item_bin("$RECYCLE.BIN\\" + SID, VISTA_ITEMS[:1])(drive)
    index_bin("Recycler\\" + SID, "INFO2", 800, xp_records())(drive)
    index_bin("Recycled", "INFO", 280, WIN95_RECORDS, version=0)(drive)


def choice_list(lang, candidates):
    out = msg("MSG_CHOOSE_BIN", lang)
    for number, path in enumerate(candidates, 1):
        out += "%-5d %s\n" % (number, path)
    return out + msg("MSG_INPUT_INDEX", lang, 1, len(candidates))


THREE = [T_RECYCLE_BIN, T_RECYCLER, T_RECYCLED]

for lang in (EN, JA):
    CASES.append(view(
        f"{lang} three bins on the drive: the user picks the second", ["/view"],
        banner().encode(CODE_PAGE[lang]) + choice_list(lang, THREE).encode(CODE_PAGE[lang]) +
        listing(lang, T_RECYCLER, T_RECYCLER + "\\INFO2", xp_rows(lang), logo=False),
        lang=lang, stdin="2\n", drives={"T": three_bins}))

CASES += [
    view("en out of range, then the third", ["/view"],
         (banner() + choice_list(EN, THREE) + msg("MSG_INPUT_INDEX", EN, 1, 3)).encode("cp1252") +
         listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO", win95_rows(EN), logo=False),
         stdin="4\n3\n", drives={"T": three_bins}),
    view("en an empty answer chooses no bin", ["/view"],
         (banner() + choice_list(EN, THREE) + msg("MSG_ERR_BIN_NOT_FOUND", EN, "T")).encode("cp1252"),
         exit_code=28, stdin="\n", drives={"T": three_bins}),
    view("en a marked $RECYCLE.BIN and a Recycled bin make a choice",
         ["/view"],
         (banner() + choice_list(EN, ["T:\\$RECYCLE.BIN", "T:\\$RECYCLE.BIN\\" + SID, T_RECYCLED])
          + msg("MSG_ERR_BIN_NOT_FOUND", EN, "T")).encode("cp1252"),
         exit_code=28, stdin="abc\n",
         drives={"T": both(item_bin("$RECYCLE.BIN", [], desktop_ini=bl.DESKTOP_INI_MARKER),
                           item_bin("$RECYCLE.BIN\\" + SID, []),
                           index_bin("Recycled", "INFO", 280, WIN95_RECORDS, version=0))}),
    view("en a marked $RECYCLE.BIN alone is taken without a question", ["/view"],
         listing(EN, "T:\\$RECYCLE.BIN", "T:\\$RECYCLE.BIN", []),
         drives={"T": both(item_bin("$RECYCLE.BIN", [], desktop_ini=bl.DESKTOP_INI_MARKER),
                           item_bin("$RECYCLE.BIN\\" + SID, []))}),
    view("en one bin below $RECYCLE.BIN and an empty Recycler", ["/view"],
         listing(EN, T_RECYCLE_BIN, T_RECYCLE_BIN, []),
         drives={"T": both(item_bin("$RECYCLE.BIN\\" + SID, []), lambda d: os.makedirs(
             os.path.join(d, "Recycler", "empty")))}),
    view("en no bin on the drive", ["/view"],
         (banner() + msg("MSG_ERR_BIN_NOT_FOUND", EN, "T")).encode("cp1252"), exit_code=28,
         drives={"T": {"Recycler\\x\\readme.txt": "x", "$RECYCLE.BIN\\y\\z.txt": "x"}}),
]


# ----------------------------------------------------------------- bad index

def raw_index(relpath, data, item="Dc0.txt"):
    def build(drive):
        bl.write(os.path.join(drive, *relpath.split("\\")), data)
        bl.write(os.path.join(drive, *relpath.split("\\")[:-1], item), b"x")
    return build


ONE_RECORD = bl.index_record(800, 0, 2, bl.filetime(T1), 5, b"C:\\a.txt", "C:\\a.txt")

for label, data in [("a record size of 0", bl.index_header(0) + ONE_RECORD),
                    ("a record size of 279", bl.index_header(279) + ONE_RECORD),
                    ("a record size above 65536", bl.index_header(65537) + ONE_RECORD * 90),
                    ("an index shorter than its header", bl.index_header(800)[:19])]:
    CASES.append(view(
        f"en read failure: {label}", ["T:\\Recycled"],
        failure(EN, T_RECYCLED, T_RECYCLED + "\\INFO2", "MSG_ERR_READ_FAILED", T_RECYCLED),
        exit_code=61, drives={"T": raw_index("Recycled\\INFO2", data)}))

CASES += [
    view("en a trailing piece of a record ends the walk", ["T:\\Recycled"],
         listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO2", [row("C:\\a.txt", shown_time(T1), FILE)]),
         drives={"T": raw_index("Recycled\\INFO2", bl.index_header(800) + ONE_RECORD + ONE_RECORD[:799])}),
    view("en a record size of 65536 is read", ["T:\\Recycled"],
         listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO2", [row("C:\\a.txt", shown_time(T1), FILE)]),
         drives={"T": raw_index("Recycled\\INFO2", bl.index_header(65536) + ONE_RECORD.ljust(65536, b"\0"))}),
    view("ja read failure", ["T:\\Recycled"],
         failure(JA, T_RECYCLED, T_RECYCLED + "\\INFO", "MSG_ERR_READ_FAILED", T_RECYCLED),
         exit_code=61, lang=JA, drives={"T": raw_index("Recycled\\INFO", b"\x00" * 7)}),
]


# ----------------------------------------------------------------- columns

def numbered(count):
    return [rec(n, "C:\\f%d.txt" % n, T3) for n in range(count)]


for count in (9, 10, 100):
    CASES.append(view(
        f"en {count} entries set the number column", ["T:\\Recycled"],
        listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO2",
                [row("C:\\f%d.txt" % n, shown_time(T3), FILE) for n in range(count)]),
        drives={"T": index_bin("Recycled", "INFO2", 800, numbered(count))}))

PATH_39 = "C:\\" + "a" * 32 + ".txt"
PATH_40 = "C:\\" + "b" * 33 + ".txt"
BEFORE_1970 = datetime.datetime(1969, 12, 31, 23, 59, 59, tzinfo=datetime.timezone.utc)
AFTER_3000 = datetime.datetime(3001, 1, 1, tzinfo=datetime.timezone.utc)

CASES += [
    view("en paths of 39 and 40 bytes, times the runtime rejects", ["T:\\Recycled"],
         listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO2", [
             row(PATH_39, shown_time(T3), FILE), row(PATH_40, shown_time(T3), FILE),
             row("C:\\old.txt", PLACEHOLDER, FILE), row("C:\\future.txt", PLACEHOLDER, FILE),
             row("C:\\epoch.txt", "1970/01/01 00:00:00", FILE)]),
         drives={"T": index_bin("Recycled", "INFO2", 800, [
             rec(0, PATH_39, T3), rec(1, PATH_40, T3), rec(2, "C:\\old.txt", BEFORE_1970),
             rec(3, "C:\\future.txt", AFTER_3000),
             rec(4, "C:\\epoch.txt", datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc))])}),
    view("en deletion times in local time", ["T:\\Recycled"],
         listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO2", [
             row("C:\\a.txt", shown_time(T3, 9), FILE), row("C:\\b.txt", shown_time(T4, 9), FILE)]),
         tz="JST-9",  # a form both C runtimes read alike
         drives={"T": index_bin("Recycled", "INFO2", 800, [rec(0, "C:\\a.txt", T3), rec(1, "C:\\b.txt", T4)])}),
]


def read_only_item(folder):
    os.chmod(os.path.join(folder, "Dc1.txt"), 0o444)


CASES.append(view(
    "en a read-only data item", ["T:\\Recycled"],
    listing(EN, T_RECYCLED, T_RECYCLED + "\\INFO2", [
        row("C:\\a.txt", shown_time(T3), FILE), row("C:\\b.txt", shown_time(T3), "      A--R")]),
    drives={"T": index_bin("Recycled", "INFO2", 800, [rec(0, "C:\\a.txt", T3), rec(1, "C:\\b.txt", T3)],
                           extra=read_only_item)}))
