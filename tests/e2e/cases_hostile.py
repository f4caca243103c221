"""Hostile stores: damaged, truncated, oversized and random index files, $I
files and desktop.ini files.

Every command meets each damaged store (list, restore, delete, empty and
throw where the store cannot be trusted) and must give one clear result,
an exit code and its message, without changing a byte of the drive. A store
the program can still read in part is listed, and a record whose path field
has no terminator is shown, restored and deleted by its whole field. Paths
and names holding control characters are shown with '?' for each on every
line, and used as they are on the disk.
"""

import os
import random
import re
import struct

import binlayout as bl
from rig import Case, banner
from texts import EN, msg

SID = "S-1-5-21-1004336348-1177238915-682003330-1000"
RECYCLED = "T:\\Recycled"
ITEM_BIN = "T:\\$RECYCLE.BIN\\" + SID
WHEN = bl.filetime(1262304000)   # 2010/01/01 00:00:00 UTC
SHOWN = "2010/01/01 00:00:00"
FILE = "      A---"
FOLDER = "<DIR> ----"
THROWN = "T:\\docs\\a.txt"

# The writers, run on every store that cannot be read: each must refuse it.
WRITERS = [
    ("restore", ["1", "/Y"]),
    ("delete", ["1", "/delete", "/Y"]),
    ("empty", ["/empty", "/Y"]),
    ("throw", ["/f", THROWN, "/Y"]),
]


def head(bin_shown, reading=None):
    out = banner() + msg("MSG_BIN_PATH", EN, bin_shown)
    if reading is not None:
        out += msg("MSG_READING", EN, reading)
    return out


def read_failed(bin_shown, reading, times=1):
    return head(bin_shown, reading) + msg("MSG_ERR_READ_FAILED", EN, bin_shown) * times


def listing(bin_shown, reading, rows):
    out = head(bin_shown, reading) + "\n" + msg("MSG_FILE_COUNT", EN, len(rows))
    if not rows:
        return out + "\n" + msg("MSG_BIN_EMPTY", EN)
    out += msg("MSG_LIST_HEADER", EN)
    for number, (path, attributes) in enumerate(rows, 1):
        out += "[%d] %-39s %s %s\n" % (number, path, SHOWN, attributes)
    return out


def drive(index_bytes=None, index_name="INFO2", items=(), desktop_ini=None, folder="Recycled",
          extra=None):
    """T: with a bin folder (an index file of the given bytes, or $I files),
    the file the throw cases name, and a data item Dc0.txt."""
    def build(root):
        binfolder = os.path.join(root, *folder.split("\\"))
        os.makedirs(binfolder, exist_ok=True)
        bl.write(os.path.join(root, "docs", "a.txt"), b"to throw\n")
        if index_bytes is not None:
            bl.write(os.path.join(binfolder, index_name), index_bytes)
            bl.write(os.path.join(binfolder, "Dc0.txt"), b"data\n")
        for name, data in items:
            bl.write(os.path.join(binfolder, name), data)
        if desktop_ini is not None:
            bl.write(os.path.join(binfolder, "desktop.ini"), desktop_ini)
        if extra:
            extra(binfolder)
    return {"T": build}


def every_command(label, drives, bin_shown, reading, view_out, writer_out, exit_code=61,
                  writer_code=None, throw_out=None):
    """The listing and each writer on one damaged store: nothing may change."""
    cases = [Case(f"{label}: list", [bin_shown, "/view"], stdout=view_out, exit_code=exit_code,
                  drives=drives, unchanged=True)]
    for name, args in WRITERS:
        out = throw_out if name == "throw" and throw_out is not None else writer_out
        cases.append(Case(f"{label}: {name}", [bin_shown] + args, stdout=out,
                          exit_code=writer_code if writer_code is not None else exit_code,
                          drives=drives, unchanged=True))
    return cases


def unreadable_index(label, data, index_name="INFO2"):
    """An index no command may use: every one reports the read failure."""
    reading = RECYCLED + "\\" + index_name
    # The throw reads the bin, fails and stops: nothing is written to it.
    return every_command(label, drive(data, index_name), RECYCLED, reading,
                         read_failed(RECYCLED, reading), read_failed(RECYCLED, reading))


RECORD = bl.index_record(800, 0, 2, WHEN, 4096, b"C:\\a.txt", "C:\\a.txt")
CASES = []

# ----------------------------------------------------------------- truncated headers

for length in (0, 1, 19):
    CASES += unreadable_index(f"an INFO2 of {length} bytes", bl.index_header(800)[:length])
CASES += unreadable_index("an INFO of 12 bytes", bl.index_header(280)[:12], index_name="INFO")

# ----------------------------------------------------------------- record sizes

for size in (0, 1, 279, 65537, 0xFFFFFFFF):
    CASES += unreadable_index(f"a record size of {size:#x}", bl.index_header(size) + RECORD)

# A header whose counts are all at their largest is read like any other: the
# counts are never trusted.
CASES.append(Case(
    "oversized counts in the header are not trusted",
    [RECYCLED, "/view"],
    stdout=listing(RECYCLED, RECYCLED + "\\INFO2", [("C:\\a.txt", FILE)]),
    exit_code=0, unchanged=True,
    drives=drive(struct.pack("<5I", 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 800, 0xFFFFFFFF) + RECORD)))

# An index far longer than its records: a megabyte of zero bytes after the
# header reads as removed records.
CASES.append(Case(
    "a megabyte of removed records",
    [RECYCLED, "/view"],
    stdout=listing(RECYCLED, RECYCLED + "\\INFO2", [("C:\\a.txt", FILE)]),
    exit_code=0, unchanged=True,
    drives=drive(bl.index_header(800, 1, 1, 4096) + b"\0" * (800 * 1310) + RECORD)))

# ----------------------------------------------------------------- records without terminators

LONG_WIDE = "C:\\" + "w" * 257          # 260 characters: the whole field
LONG_ANSI = b"C:\\" + b"n" * 257


def unterminated_record(record_size):
    record = bytearray(bl.index_record(record_size, 0, 2, WHEN, 4096, LONG_ANSI[:259]))
    record[0:260] = LONG_ANSI
    if record_size >= 800:
        record[280:800] = LONG_WIDE.encode("utf-16-le")
    return bytes(record)


def unterminated_store(record_size, index_name):
    return drive(bl.index_header(record_size, 1, 1, 4096) + unterminated_record(record_size),
                 index_name=index_name, extra=lambda folder: os.replace(
                     os.path.join(folder, "Dc0.txt"), os.path.join(folder, "Dc0")))


def record_removed(index_rel, item_rel, record_size):
    """The delete took the item and marked its record removed in place; the
    header counts the bin as empty; nothing else changed."""
    def check(result):
        before, after = result.before["T"], result.after["T"]
        assert item_rel not in after, f"{item_rel} is still there"
        old, new = before[index_rel], after[index_rel]
        assert new[:20] == bl.index_header(record_size), f"header {new[:20].hex()}"
        assert new[20] == 0 and new[21:] == old[21:], "the record was not marked removed in place"
        rest = {k: v for k, v in after.items() if k != index_rel}
        assert rest == {k: v for k, v in before.items() if k not in (index_rel, item_rel)}, \
            "other files changed"
    return check


for record_size, index_name, shown in ((800, "INFO2", LONG_WIDE), (280, "INFO", LONG_ANSI.decode())):
    reading = RECYCLED + "\\" + index_name
    store = unterminated_store(record_size, index_name)
    label = f"an {index_name} path field without terminator"
    detail = "\n[1] " + shown + " " + SHOWN + "\n\n"
    CASES += [
        Case(f"{label}: list", [RECYCLED, "/view"],
             stdout=listing(RECYCLED, reading, [(shown, FILE)]), exit_code=0, unchanged=True,
             drives=store),
        # 260 characters leave no room for the terminator of a path: the
        # restore is refused rather than cut.
        Case(f"{label}: restore", [RECYCLED, "1", "/Y"],
             stdout=head(RECYCLED, reading) + detail + msg("MSG_ERR_RESTORE_FAILED", EN, shown),
             exit_code=62, unchanged=True, drives=store),
        Case(f"{label}: delete", [RECYCLED, "1", "/delete", "/Y"],
             stdout=head(RECYCLED, reading) + detail
             + msg("MSG_DELETING_ONE", EN, RECYCLED + "\\Dc0") + msg("MSG_DELETE_OK", EN),
             exit_code=0, drives=store,
             check=record_removed("Recycled/" + index_name, "Recycled/Dc0", record_size)),
    ]

# ----------------------------------------------------------------- random bytes

def random_bytes(seed, length):
    return random.Random(seed).randbytes(length)


# A whole index of random bytes: its record size is no valid one.
RANDOM_INDEX = random_bytes(1, 4096)
assert not 280 <= struct.unpack("<I", RANDOM_INDEX[12:16])[0] <= 65536
CASES += unreadable_index("an INFO2 of random bytes", RANDOM_INDEX)

# Random records behind a sound header: none of them has a data item, so
# none is listed, and the writers that need an entry find none.
RANDOM_RECORDS = bl.index_header(800, 3, 3, 12288) + random_bytes(2, 800 * 12 + 333)
reading = RECYCLED + "\\INFO2"
empty_listing = listing(RECYCLED, reading, [])
CASES += [
    Case("random records: list", [RECYCLED, "/view"], stdout=empty_listing, exit_code=0,
         unchanged=True, drives=drive(RANDOM_RECORDS, extra=lambda f: os.remove(os.path.join(f, "Dc0.txt")))),
    Case("random records: restore", [RECYCLED, "1", "/Y"],
         stdout=head(RECYCLED, reading) + msg("MSG_ERR_NO_FILES", EN), exit_code=24, unchanged=True,
         drives=drive(RANDOM_RECORDS, extra=lambda f: os.remove(os.path.join(f, "Dc0.txt")))),
    Case("random records: empty", [RECYCLED, "/empty", "/Y"],
         stdout=head(RECYCLED, reading) + msg("MSG_ALREADY_EMPTY", EN), exit_code=3, unchanged=True,
         drives=drive(RANDOM_RECORDS, extra=lambda f: os.remove(os.path.join(f, "Dc0.txt")))),
]


def random_item_files(folder):
    """$I files of random bytes of every interesting length, none readable as
    an item: short ones, and version-2 ones whose count is 0, too large or
    past the end, or whose path has no terminator."""
    rng = random.Random(3)
    for number, length in enumerate((0, 1, 8, 27, 28, 100, 543)):
        bl.write(os.path.join(folder, "$IRND%03d.txt" % number), rng.randbytes(length))
    good = bl.item_info_v2(5, WHEN, "C:\\a.txt")
    counts = [(0, good), (0xFFFFFFFF, good), (261, good + b"x" * 600), (260, good),
              (9, good[:28] + "C:\\abcdefg".encode("utf-16-le")[:18])]
    for number, (count, data) in enumerate(counts):
        data = data[:24] + struct.pack("<I", count) + data[28:]
        bl.write(os.path.join(folder, "$ICNT%03d.txt" % number), data)
        bl.write(os.path.join(folder, "$RCNT%03d.txt" % number), b"data\n")


ITEM_DRIVES = drive(items=(), desktop_ini=bl.DESKTOP_INI_MARKER, folder="$RECYCLE.BIN\\" + SID,
                    extra=random_item_files)
CASES += [
    Case("$I files of random bytes and bad counts: list", ["/view"],
         stdout=listing(ITEM_BIN, ITEM_BIN, []), exit_code=0, unchanged=True, drives=ITEM_DRIVES),
    Case("$I files of random bytes and bad counts: restore", ["1", "/Y"],
         stdout=head(ITEM_BIN, ITEM_BIN) + msg("MSG_ERR_NO_FILES", EN), exit_code=24, unchanged=True,
         drives=ITEM_DRIVES),
    Case("$I files of random bytes and bad counts: delete", ["1", "/delete", "/Y"],
         stdout=head(ITEM_BIN, ITEM_BIN) + msg("MSG_ERR_NO_FILES", EN), exit_code=24, unchanged=True,
         drives=ITEM_DRIVES),
]

# ----------------------------------------------------------------- desktop.ini

MEGABYTES = 4 << 20


def marker_line_first():
    """A desktop.ini whose first line is megabytes long, the marker after it."""
    return b"x" * MEGABYTES + b"\r\n" + bl.DESKTOP_INI_MARKER


CASES += [
    # Megabytes on one line, then the marker: the long line is read in
    # bounded pieces and the marker still counts.
    Case("a megabyte line before the marker: a $I bin", ["T:\\bins\\one", "/view"],
         stdout=listing("T:\\bins\\one", "T:\\bins\\one", []), exit_code=0, unchanged=True,
         drives=drive(desktop_ini=marker_line_first(), folder="bins\\one")),
    # Megabytes on one line and nothing else: no marker; the INFO2 beside it
    # makes the folder an index bin.
    Case("a desktop.ini of megabytes on one line: no marker", ["T:\\Recycled", "/view"],
         stdout=listing(RECYCLED, RECYCLED + "\\INFO2", [("C:\\a.txt", FILE)]), exit_code=0,
         unchanged=True,
         drives=drive(bl.index_header(800, 1, 1, 4096) + RECORD, desktop_ini=b"[" * MEGABYTES)),
    # A CLSID line of megabytes is no CLSID.
    Case("a CLSID value of megabytes is no marker", ["T:\\bins\\two", "/view"],
         stdout=head("T:\\bins\\two") + msg("MSG_ERR_BIN_INVALID", EN, "T:\\bins\\two"), exit_code=22,
         unchanged=True,
         drives=drive(folder="bins\\two", desktop_ini=b"[.ShellClassInfo]\r\nCLSID=" + b"{" * MEGABYTES
                      + b"\r\nLocalizedResourceName=@x\r\n")),
    # The drive's own search reads every candidate's desktop.ini.
    Case("the drive search through a desktop.ini of megabytes", ["/view"],
         stdout=listing("T:\\$RECYCLE.BIN", "T:\\$RECYCLE.BIN", []), exit_code=0, unchanged=True,
         drives=drive(folder="$RECYCLE.BIN", desktop_ini=marker_line_first())),
]

# ----------------------------------------------------------------- control characters

# Stored paths that would steer a terminal: escape sequences that clear the
# screen and retitle the window, BEL, a CR LF that forges a listing line, the
# one-character CSI U+009B, DEL, U+0081. Every line that shows a path shows
# each control character as '?'; the disk keeps the names as they are.
CONTROL_ITEMS = [
    ("CTRL01", "T:\\a\x1b[2J\x1b]0;owned\x07.txt"),
    ("CTRL02", "T:\\b\r\n[9] T:\\forged.txt"),
    ("CTRL03", "T:\\c\u009b2J.t\x7fx"),              # its $I and $R names hold DEL too
    ("CTRL04", "T:\\docs\\n\x7fa\u0081me.txt"),       # a name Wine can create (no C0)
]
CONTROL = re.compile("[\x00-\x1f\x7f-\x9f]")


def shown(text):
    return CONTROL.sub("?", text)


def item_names(code, path):
    ext = path.rsplit(".", 1)[1]
    return "$I%s.%s" % (code, ext), "$R%s.%s" % (code, ext)


CONTROL_DRIVE = drive(items=[(name, data) for code, path in CONTROL_ITEMS
                             for name, data in zip(item_names(code, path),
                                                   (bl.item_info_v1(5, WHEN, path), b"data\n"))],
                      desktop_ini=bl.DESKTOP_INI_MARKER, folder="$RECYCLE.BIN\\" + SID)


def detail(number):
    return "\n[%d] %s %s\n\n" % (number, shown(CONTROL_ITEMS[number - 1][1]), SHOWN)


def data_item(number):
    return ITEM_BIN + "\\" + item_names(*CONTROL_ITEMS[number - 1])[1]


CASES += [
    Case("control characters in stored paths: list", [ITEM_BIN, "/view"],
         stdout=listing(ITEM_BIN, ITEM_BIN, [(shown(p), FILE) for _, p in CONTROL_ITEMS]),
         exit_code=0, unchanged=True, drives=CONTROL_DRIVE),
]


def restored_4(result):
    after = result.after["T"]
    assert after.get("docs/n\x7fa\x81me.txt") == b"data\n", sorted(after)
    assert not any(k.endswith("CTRL04.txt") for k in after), "the item is still in the bin"


def emptied_control(result):
    left = sorted(k for k in result.after["T"] if k.startswith("$RECYCLE.BIN/" + SID + "/"))
    assert left == ["$RECYCLE.BIN/" + SID + "/desktop.ini"], left


CASES += [
    # Wine refuses a name with C0 controls: the restore fails, and its error
    # shows the path as the other lines do.
    Case("control characters in stored paths: restore refused", [ITEM_BIN, "1", "/Y"],
         stdout=head(ITEM_BIN, ITEM_BIN) + detail(1)
         + msg("MSG_RESTORING", EN, data_item(1), shown(CONTROL_ITEMS[0][1]))
         + msg("MSG_ERR_RESTORE_FAILED", EN, shown(CONTROL_ITEMS[0][1])),
         exit_code=62, unchanged=True, drives=CONTROL_DRIVE),
    Case("control characters in stored paths: restore", [ITEM_BIN, "4", "/Y"],
         stdout=head(ITEM_BIN, ITEM_BIN) + detail(4)
         + msg("MSG_RESTORING", EN, data_item(4), shown(CONTROL_ITEMS[3][1]))
         + msg("MSG_RESTORE_OK", EN),
         exit_code=0, drives=CONTROL_DRIVE, check=restored_4),
    Case("control characters in stored paths: delete", [ITEM_BIN, "3", "/delete"], keys=["y"],
         stdout=head(ITEM_BIN, ITEM_BIN) + detail(3) + msg("MSG_ASK_DELETE", EN) + " (Y/N)Y\n"
         + msg("MSG_DELETING_ONE", EN, shown(data_item(3))) + msg("MSG_DELETE_OK", EN),
         exit_code=0, drives=CONTROL_DRIVE),
    Case("control characters in stored paths: empty", [ITEM_BIN, "/empty", "/Y"],
         stdout=head(ITEM_BIN, ITEM_BIN) + msg("MSG_DELETING", EN)
         + "".join(shown(ITEM_BIN + "\\" + name) + "\n" for code, path in CONTROL_ITEMS
                   for name in item_names(code, path))
         + "\n" + msg("MSG_FINISHED", EN) + msg("MSG_EMPTIED", EN),
         exit_code=0, drives=CONTROL_DRIVE, check=emptied_control),
]

# A file whose name holds DEL and U+0081 (Wine refuses C0 controls in names)
# is listed for the question and thrown under its own name; the $I file
# keeps that name as it is.
THROWN_NAME = "T:\\docs\\th\x7fr\u0081own.txt"


def throw_drive(folder):
    bl.write(os.path.join(folder, "..", "..", "docs", "th\x7fr\x81own.txt"), b"thrown\n")


def thrown_as_it_is(result):
    infos = [v for k, v in result.after["T"].items() if os.path.basename(k).startswith("$I")]
    assert len(infos) == 1 and infos[0][24:].decode("utf-16-le").rstrip("\0") == THROWN_NAME, infos


def random_item_name(relpath, data):
    """The throw's $I/$R names are random and its $I holds the time: both out."""
    name = os.path.basename(relpath)
    if name[:2] in ("$I", "$R"):
        return os.path.join(os.path.dirname(relpath), name[:2]), data if name[:2] == "$R" else data[24:]
    return relpath, data


CASES.append(Case(
    "control characters in a thrown name", ["/f", THROWN_NAME], keys=["y"], ansi=True,
    stdout=head(ITEM_BIN) + "1: " + shown(THROWN_NAME) + "\n" + msg("MSG_ASK_THROW", EN) + " (Y/N)Y\n"
    + msg("MSG_READING", EN, ITEM_BIN) + shown(THROWN_NAME) + "\n" + msg("MSG_THROW_OK", EN),
    exit_code=0, check=thrown_as_it_is, mask=random_item_name,
    drives=drive(desktop_ini=bl.DESKTOP_INI_MARKER, folder="$RECYCLE.BIN\\" + SID, extra=throw_drive)))
