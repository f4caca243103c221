"""Restoring and deleting one entry, in the three layouts.

Every bin is built byte by byte on drive T:. After a command that changed
the bin the case checks the store's bytes against what they must be (the
one record marked removed in place, the header's counts rewritten, nothing
else touched) and that the store is consistent: every live record has its
data item, every $I file its $R item, and the counts add up. A command that
fails or is cancelled must leave every drive as it was.
"""

import datetime
import os
import re
import struct

import binlayout as bl
from rig import ANSI, CTRL_C, DIR, ENTER, ESC, EXE, NATIVE, Case, banner
from texts import CODE_PAGE, EN, JA, msg

SID = "S-1-5-21-1004336348-1177238915-682003330-1000"
T_DRIVE = 19  # 't' - 'a'


def at(*fields):
    return datetime.datetime(*fields, tzinfo=datetime.timezone.utc)


T1, T2, T3 = at(2005, 6, 1, 10, 30, 0), at(2010, 5, 1, 12, 34, 56), at(2024, 12, 31, 23, 59, 59)


def shown(moment):
    return moment.strftime("%Y/%m/%d %H:%M:%S")


def ansi_bytes(text, lang):
    """A wide path as the program shows it: '#' for what the code page lacks."""
    out = b""
    for ch in text:
        try:
            out += ch.encode(CODE_PAGE[lang])
        except UnicodeEncodeError:
            out += b"#"
    return out


# ----------------------------------------------------------------- bins

class Layout:
    """Where a bin lies on T: and how its data items are named."""

    def __init__(self, key, relfolder, index_name=None, record_size=None, version=5,
                 desktop_ini=None):
        self.key = key
        self.relfolder = relfolder
        self.index_name = index_name
        self.record_size = record_size
        self.version = version
        self.desktop_ini = desktop_ini

    @property
    def folder(self):
        return "T:\\" + self.relfolder

    @property
    def rel(self):
        return self.relfolder.replace("\\", "/")

    @property
    def items(self):
        return self.index_name is None

    @property
    def wide(self):
        return self.items or self.record_size >= bl.INFO2_RECORD_SIZE

    def reading(self):
        return self.folder if self.items else self.folder + "\\" + self.index_name


INFO = Layout("INFO", "Recycled", "INFO", bl.INFO_RECORD_SIZE, version=0,
              desktop_ini=bl.DESKTOP_INI_OLD)
INFO2 = Layout("INFO2", "Recycler\\" + SID, "INFO2", bl.INFO2_RECORD_SIZE)
ITEMS = Layout("$I/$R", "$RECYCLE.BIN\\" + SID, desktop_ini=bl.DESKTOP_INI_MARKER)
LAYOUTS = (INFO, INFO2, ITEMS)


class Item:
    """One item of a bin: its original path and how it is stored."""

    def __init__(self, number, code, path, time, size, directory=False, removed=False,
                 data=True, ansi=None):
        self.number = number      # record number in the index layouts
        self.code = code          # the six characters in the per-item layout
        self.path = path
        self.time = time
        self.size = size
        self.directory = directory
        self.removed = removed
        self.data = data
        self.ansi = ansi if ansi is not None else path.encode("cp1252", "replace")

    def ext(self):
        own = self.path.rsplit("\\", 1)[-1]
        return "." + own.rsplit(".", 1)[1] if "." in own else ""

    def data_name(self, layout, drive=T_DRIVE):
        if layout.items:
            return "$R" + self.code + self.ext()
        return bl.data_item_name(chr(ord("a") + drive), self.number, self.path)

    def shown_path(self, layout, lang):
        return ansi_bytes(self.path, lang) if layout.wide else self.ansi


NOTES = Item(0, "AAAAA1", "T:\\work\\notes.txt", T2, 4096)
PROJECT = Item(1, "BBBBB2", "T:\\work\\old project", T1, 8192, directory=True)
GONE = Item(2, "", "T:\\work\\gone.txt", T1, 512, removed=True)
REPORT = Item(3, "CCCCC3", "T:\\tmp\\report.doc", T3, 1000)
# Entries 1, 2 and 3; the removed record takes no number.
STANDARD = [NOTES, PROJECT, GONE, REPORT]
FOLDERS = ("work", "tmp", "keep")


def build_bin(layout, items, folders=FOLDERS, drive=T_DRIVE, extra=None):
    """A drive builder: the bin with its items, and the folders to restore into."""
    def build(root):
        folder = os.path.join(root, *layout.relfolder.split("\\"))
        if layout.items:
            bl.build_item_bin(folder, [dict(code=it.code, path=it.path, time=bl.filetime(it.time),
                                            size=it.size, directory=it.directory, data=it.data)
                                       for it in items if not it.removed],
                              layout.desktop_ini)
        else:
            records = [dict(number=it.number, drive=drive, time=bl.filetime(it.time), size=it.size,
                            ansi=it.ansi, wide=it.path, removed=it.removed,
                            directory=it.directory, item=it.data) for it in items]
            bl.build_index_bin(folder, layout.index_name, layout.record_size, records,
                               layout.version, layout.desktop_ini, items=False)
            for it in items:
                if not it.removed and it.data:
                    bl.make_data_item(folder, it.data_name(layout, drive), it.directory)
        for name in folders:
            os.makedirs(os.path.join(root, name), exist_ok=True)
        if extra:
            extra(root, folder)
    return build


def live(items):
    return [it for it in items if not it.removed]


# ----------------------------------------------------------------- store checks

def records_of(data):
    """(offset, record bytes) of every whole record of an index file."""
    size = struct.unpack_from("<I", data, 12)[0]
    return [(off, data[off:off + size]) for off in range(20, len(data) - size + 1, size)]


def number_in_use(names, n):
    digits = str(n)
    return any(len(name) > 2 and name[0] in "Dd" and name[2:].startswith(digits) for name in names)


def free_number(names, live_numbers=()):
    """The lowest number no data item name and no live record uses."""
    n = 0
    while number_in_use(names, n) or n in live_numbers:
        n += 1
    return n


def bin_names(tree, layout):
    prefix = layout.rel + "/"
    return [rel[len(prefix):] for rel in tree if rel.startswith(prefix) and "/" not in rel[len(prefix):]]


def has_data_item(names, letter, number):
    pattern = re.compile(r"d%s%d(\..*)?$" % (re.escape(letter), number), re.IGNORECASE)
    return any(pattern.match(name) for name in names)


def assert_consistent(result, layout):
    """Every live record's data item is there and the header's counts are right."""
    tree = result.after["T"]
    names = bin_names(tree, layout)
    if layout.items:
        for name in names:
            if name.upper().startswith("$I"):
                partner = name[0] + "R" + name[2:]
                assert partner in names, f"{name} without {partner}"
        return
    data = tree[layout.rel + "/" + layout.index_name]
    version, count, next_number, size, total = struct.unpack_from("<5I", data)
    lives = []
    for _, record in records_of(data):
        if record[0] == 0:
            continue
        number, drive, _, item_size = struct.unpack_from("<IIQI", record, 260)
        assert has_data_item(names, chr(ord("a") + drive), number), f"record {number}: no data item"
        lives.append(item_size)
    assert count == len(lives), f"entryCount {count}, {len(lives)} live records"
    assert total == sum(lives) & 0xFFFFFFFF, f"totalSize {total}, live records hold {sum(lives)}"
    assert next_number == free_number(names), f"nextRecordNumber {next_number}, {free_number(names)} is free"


def index_after_removal(before, layout, number, loaded_sizes, names_after):
    """The index bytes once the first live record of `number` is marked."""
    data = bytearray(before)
    for off, record in records_of(before):
        if record[0] != 0 and struct.unpack_from("<I", record, 260)[0] == number:
            data[off] = 0
            removed_size = struct.unpack_from("<I", record, 276)[0]
            break
    else:
        raise AssertionError(f"no live record {number}")
    live_numbers = {struct.unpack_from("<I", data, off + 260)[0]
                    for off, _ in records_of(before) if data[off] != 0}
    struct.pack_into("<I", data, 4, len(loaded_sizes) - 1)
    struct.pack_into("<I", data, 8, free_number(names_after, live_numbers))
    struct.pack_into("<I", data, 16, (sum(loaded_sizes) - removed_size) & 0xFFFFFFFF)
    return bytes(data)


def changed_only(result, expected):
    """Every path of every drive as before except `expected` ({rel: bytes|DIR|None})."""
    for letter, before in result.before.items():
        after = result.after[letter]
        wanted = dict(before)
        if letter == "T":
            for rel, value in expected.items():
                if value is None:
                    wanted.pop(rel, None)
                else:
                    wanted[rel] = value
        for rel in sorted(set(wanted) | set(after)):
            assert wanted.get(rel) == after.get(rel), \
                f"{letter}:{rel}: {str(after.get(rel))[:60]} where {str(wanted.get(rel))[:60]} was expected"


def below(tree, rel):
    return {k: v for k, v in tree.items() if k == rel or k.startswith(rel + "/")}


def moved(tree, source, target):
    """{rel: value} of a move: the source tree gone, the same at the target."""
    out = {k: None for k in below(tree, source)}
    for k, v in below(tree, source).items():
        out[target + k[len(source):]] = v
    return out


def removed(tree, rel):
    return {k: None for k in below(tree, rel)}


def unregistered(result, layout, item, items, extra_changes, consistent=True):
    """The bin after `item` left it: its data item moved or removed (given in
    extra_changes) and its record marked, or its $I file removed."""
    before = result.before["T"]
    changes = dict(extra_changes)
    if layout.items:
        changes[layout.rel + "/$I" + item.code + item.ext()] = None
    else:
        index_rel = layout.rel + "/" + layout.index_name
        after_names = [n for n in bin_names(before, layout)
                       if changes.get(layout.rel + "/" + n, b"") is not None]
        sizes = [it.size for it in live(items) if it.data]
        changes[index_rel] = index_after_removal(before[index_rel], layout, item.number, sizes,
                                                 after_names)
    changed_only(result, changes)
    if consistent:
        assert_consistent(result, layout)


def restored_check(layout, item, items, target_rel, consistent=True):
    def check(result):
        source = layout.rel + "/" + item.data_name(layout)
        unregistered(result, layout, item, items, moved(result.before["T"], source, target_rel),
                     consistent)
    return check


def deleted_check(layout, item, items):
    def check(result):
        source = layout.rel + "/" + item.data_name(layout)
        unregistered(result, layout, item, items, removed(result.before["T"], source))
    return check


# ----------------------------------------------------------------- output

def head(layout, lang=EN, logo=True):
    return (banner() if logo else "") + msg("MSG_BIN_PATH", lang, layout.folder) + \
        msg("MSG_READING", lang, layout.reading())


def out(lang, *parts):
    """Bytes from str parts (in the language's code page, '#' for what it
    lacks, as the program prints) and bytes parts."""
    return b"".join(p if isinstance(p, bytes) else ansi_bytes(p, lang) for p in parts)


def detail_block(layout, item, number, lang=EN):
    return b"\n" + (b"[%d] " % number) + item.shown_path(layout, lang) + b" " + \
        shown(item.time).encode() + b"\n\n"


def source_of(layout, item):
    return layout.folder + "\\" + item.data_name(layout)


def restoring(layout, item, target, lang=EN):
    return msg("MSG_RESTORING", lang, source_of(layout, item), target)


def question(restore, lang=EN):
    return msg("MSG_ASK_RESTORE" if restore else "MSG_ASK_DELETE", lang) + " (Y/N)"


def entry_case(name, layout, args, stdout, exit_code, items=STANDARD, lang=EN, **kw):
    kw.setdefault("drives", {"T": build_bin(layout, items)})
    return Case(f"{lang} {layout.key}: {name}", [layout.folder] + args, lang=lang, stdout=stdout,
                exit_code=exit_code, **kw)


def restore_ok(layout, number, item, target, target_rel, lang=EN, args=None, items=STANDARD,
               answered=None, keys=None, name=None, consistent=True, **kw):
    """Entry `number` restored to `target` with /Y, or through the keys given."""
    if args is None:
        args = [str(number), "/Y"] + ([target] if target != item.path else [])
    asked = "" if answered is None else answered
    stdout = out(lang, head(layout, lang), detail_block(layout, item, number, lang), asked,
                 restoring(layout, item, target, lang),
                 msg("MSG_RESTORE_OK", lang))
    name = name or f"restore {number} to {target}" + (f" answering {keys!r}" if keys else "")
    return entry_case(name, layout, args, stdout, 0, items=items, lang=lang, keys=keys,
                      check=restored_check(layout, item, items, target_rel, consistent), **kw)


def delete_ok(layout, number, item, lang=EN, items=STANDARD, answered=None, keys=None, **kw):
    args = [str(number), "/delete"] + ([] if keys else ["/Y"])
    stdout = out(lang, head(layout, lang), detail_block(layout, item, number, lang),
                 answered or "", msg("MSG_DELETING_ONE", lang, source_of(layout, item)),
                 msg("MSG_DELETE_OK", lang))
    return entry_case(f"delete {number}" + (f" answering {keys!r}" if keys else ""), layout, args,
                      stdout, 0, items=items, lang=lang, keys=keys,
                      check=deleted_check(layout, item, items), **kw)


def refused(name, layout, args, tail, exit_code, number=None, item=None, lang=EN, items=STANDARD,
            **kw):
    """A command that changes nothing: the head, the detail block when an
    entry was chosen, then `tail`."""
    parts = [head(layout, lang)]
    if item is not None:
        parts.append(detail_block(layout, item, number, lang))
    parts.append(tail)
    kw.setdefault("unchanged", True)
    return entry_case(name, layout, args, out(lang, *parts), exit_code, items=items, lang=lang, **kw)


# ----------------------------------------------------------------- cases

CASES = []

for L in LAYOUTS:
    CASES += [
        restore_ok(L, 1, NOTES, NOTES.path, "work/notes.txt"),
        restore_ok(L, 3, REPORT, "T:\\keep\\report.doc", "keep/report.doc", args=["3", "/Y", "T:\\keep\\"]),
        restore_ok(L, 2, PROJECT, "T:\\keep\\renamed", "keep/renamed", args=["2", "T:\\keep\\renamed", "/Y"]),
        delete_ok(L, 2, PROJECT),
        delete_ok(L, 3, REPORT),
        restore_ok(L, 1, NOTES, NOTES.path, "work/notes.txt", lang=JA),
        delete_ok(L, 1, NOTES, lang=JA),

        # The number is checked against the loaded entries.
        refused("index 0", L, ["0", "/Y"], msg("MSG_ERR_INDEX_RANGE", EN, 3), 23),
        refused("index 4 of 3", L, ["4", "/delete", "/Y"], msg("MSG_ERR_INDEX_RANGE", EN, 3), 23),
        refused("index past 32 bits", L, ["99999999999", "/Y"], msg("MSG_ERR_INDEX_RANGE", EN, 3), 23),
        refused("no entries", L, ["1", "/Y"], msg("MSG_ERR_NO_FILES", EN), 24, items=[GONE]),
        refused("ja index 4 of 3", L, ["4", "/Y"], msg("MSG_ERR_INDEX_RANGE", JA, 3), 23, lang=JA),

        # The move neither replaces nor makes folders.
        refused("restore onto an existing file", L, ["1", "/Y"],
                restoring(L, NOTES, NOTES.path) + msg("MSG_ERR_RESTORE_FAILED", EN, NOTES.path), 62, 1, NOTES,
                drives={"T": build_bin(L, STANDARD, extra=lambda root, folder: bl.write(
                    os.path.join(root, "work", "notes.txt"), b"newer"))}),
        refused("restore into a folder that is gone", L, ["1", "/Y", "T:\\nowhere\\"],
                restoring(L, NOTES, "T:\\nowhere\\notes.txt") +
                msg("MSG_ERR_RESTORE_FAILED", EN, "T:\\nowhere\\notes.txt"), 62, 1, NOTES),
    ]

    # Answers at the prompt, through the terminal.
    for restore in (True, False):
        what = "restore" if restore else "delete"
        args = ["1"] if restore else ["1", "/delete"]
        q = question(restore)
        CASES += [
            refused(f"{what} answered n", L, args, q + "N\n" + msg("MSG_CANCELED", EN), 2, 1, NOTES,
                    keys=["n"]),
            refused(f"{what} answered Esc", L, args, q + "N\n" + msg("MSG_CANCELED", EN), 2, 1, NOTES,
                    keys=[ESC]),
            refused(f"{what} answered Ctrl+C", L, args, q + "^C\n", 3, 1, NOTES, keys=[CTRL_C]),
        ]
        if restore:
            CASES += [
                restore_ok(L, 1, NOTES, NOTES.path, "work/notes.txt", args=args, keys=["y"],
                           answered=q + "Y\n"),
                restore_ok(L, 1, NOTES, NOTES.path, "work/notes.txt", args=args, keys=[ENTER],
                           answered=q + "Y\n"),
                restore_ok(L, 1, NOTES, NOTES.path, "work/notes.txt", args=args, keys=["x", "Y"],
                           answered=q + "\n" + q + "Y\n"),
            ]
        else:
            CASES += [
                delete_ok(L, 1, NOTES, keys=["y"], answered=q + "Y\n"),
                delete_ok(L, 1, NOTES, keys=[ENTER], answered=q + "Y\n"),
                delete_ok(L, 1, NOTES, keys=["x", "y"], answered=q + "\n" + q + "Y\n"),
            ]
    CASES.append(refused("ja restore answered n", L, ["1"],
                         question(True, JA) + "N\n" + msg("MSG_CANCELED", JA), 2, 1, NOTES,
                         lang=JA, keys=["n"]))


# ----------------------------------------------------------------- path limit

# Cut to the 259 characters a path buffer holds, the target would name
# another file: it is refused, and nothing moves.
LONG_FOLDER = "T:\\" + "k" * 240
for L in (INFO2, ITEMS):
    long_target = LONG_FOLDER + "\\notes-in-a-long-folder.txt"
    CASES += [
        refused(f"restore target of {len(long_target)} characters", L, ["1", "/Y", long_target],
                msg("MSG_ERR_RESTORE_FAILED", EN, long_target), 62, 1, NOTES,
                drives={"T": build_bin(L, STANDARD, folders=FOLDERS + ("k" * 240,))}),
        refused("restore into a folder whose path leaves no room for the name", L,
                ["1", "/Y", LONG_FOLDER + "\\" + "m" * 10 + "\\"],
                msg("MSG_ERR_RESTORE_FAILED", EN, LONG_FOLDER + "\\" + "m" * 10 + "\\notes.txt"), 62, 1,
                NOTES, drives={"T": build_bin(L, STANDARD, folders=FOLDERS + ("k" * 240 + "/" + "m" * 10,))}),
    ]
    fitting = LONG_FOLDER + "\\" + "n" * (259 - len(LONG_FOLDER) - 1)
    CASES.append(restore_ok(L, 1, NOTES, fitting, fitting[3:].replace("\\", "/"),
                            args=["1", "/Y", fitting],
                            drives={"T": build_bin(L, STANDARD, folders=FOLDERS + ("k" * 240,))}))


# ----------------------------------------------------------------- index layouts

# A network path's record (drive number 26): listed, so restorable and
# deletable, its data item found with the same letter.
SHARE = Item(4, "", "\\\\server\\share\\plan.xls", T2, 2048)
SHARE_ITEMS = [NOTES, SHARE]


def share_source(layout):
    return layout.folder + "\\" + SHARE.data_name(layout, bl.NETWORK_DRIVE)


def share_record_check(layout, data_change):
    def check(result):
        source = layout.rel + "/" + SHARE.data_name(layout, bl.NETWORK_DRIVE)
        unregistered(result, layout, SHARE, SHARE_ITEMS, data_change(result.before["T"], source))
    return check


def share_drives(layout):
    """The share's record with drive number 26 and its data item named by it."""
    def build(root):
        folder = os.path.join(root, *layout.relfolder.split("\\"))
        records = [dict(number=NOTES.number, drive=T_DRIVE, time=bl.filetime(NOTES.time), size=NOTES.size,
                        ansi=NOTES.ansi, wide=NOTES.path),
                   dict(number=SHARE.number, drive=bl.NETWORK_DRIVE, time=bl.filetime(SHARE.time),
                        size=SHARE.size, ansi=SHARE.ansi, wide=SHARE.path)]
        bl.build_index_bin(folder, layout.index_name, layout.record_size, records, layout.version,
                           layout.desktop_ini)
        for name in FOLDERS:
            os.makedirs(os.path.join(root, name), exist_ok=True)
    return {"T": build}


for L in (INFO, INFO2):
    CASES += [
        entry_case("restore a network path's entry", L, ["2", "/Y", "T:\\keep\\"],
                   out(EN, head(L), detail_block(L, SHARE, 2),
                       msg("MSG_RESTORING", EN, share_source(L), "T:\\keep\\plan.xls"),
                       msg("MSG_RESTORE_OK", EN)), 0,
                   drives=share_drives(L),
                   check=share_record_check(L, lambda before, source: moved(before, source, "keep/plan.xls"))),
        entry_case("delete a network path's entry", L, ["2", "/delete", "/Y"],
                   out(EN, head(L), detail_block(L, SHARE, 2),
                       msg("MSG_DELETING_ONE", EN, share_source(L)), msg("MSG_DELETE_OK", EN)), 0,
                   drives=share_drives(L),
                   check=share_record_check(L, lambda before, source: removed(before, source))),
    ]


def read_only(*rels):
    def extra(root, folder):
        for rel in rels:
            os.chmod(os.path.join(folder, *rel.split("/")), 0o444)
    return extra


# Record 1's data item is missing; Dt10.txt begins with its name but is
# another record's.
TEN = Item(10, "", "T:\\work\\ten.txt", T3, 100)
for L in (INFO, INFO2):
    CASES += [
        refused("delete an item that cannot be removed", L, ["1", "/delete", "/Y"],
                msg("MSG_DELETING_ONE", EN, source_of(L, NOTES)) +
                msg("MSG_ERR_DELETE_FAILED", EN, source_of(L, NOTES)), 63, 1, NOTES,
                drives={"T": build_bin(L, STANDARD, extra=read_only("Dt0.txt"))}),
        refused("delete a folder item with a read-only file inside", L, ["2", "/delete", "/Y"],
                msg("MSG_DELETING_ONE", EN, source_of(L, PROJECT)) +
                msg("MSG_ERR_DELETE_FAILED", EN, source_of(L, PROJECT)), 63, 2, PROJECT,
                unchanged=False,
                drives={"T": build_bin(L, STANDARD, extra=lambda root, folder: (
                    bl.write(os.path.join(folder, "Dt1", "deep", "locked.txt"), b"x"),
                    os.chmod(os.path.join(folder, "Dt1", "deep", "locked.txt"), 0o444)))},
                check=lambda r, L=L: changed_only(r, {L.rel + "/Dt1/inside.txt": None})),
        # Two live records alike in path, time and number: both are listed,
        # the first one is marked.
        restore_ok(L, 1, NOTES, NOTES.path, "work/notes.txt", items=[NOTES, NOTES, REPORT],
                   name="restore the first of two records alike", consistent=False),
        entry_case("a percent sign in the path", L, ["1", "/delete", "/Y"],
                   out(EN, head(L), b"\n[1] T:\\work\\100% done.txt " + shown(T2).encode() + b"\n\n",
                       msg("MSG_DELETING_ONE", EN, L.folder + "\\Dt5.txt"), msg("MSG_DELETE_OK", EN)), 0,
                   items=[Item(5, "", "T:\\work\\100% done.txt", T2, 10)],
                   check=deleted_check(L, Item(5, "", "T:\\work\\100% done.txt", T2, 10),
                                       [Item(5, "", "T:\\work\\100% done.txt", T2, 10)])),
    ]


# A restore folder given for a path without any "\\" receives no name: the
# target is the folder itself, which exists, so the move fails.
BARE = Item(8, "", "notes.txt", T2, 10)
CASES.append(refused("restore a path without a folder into a folder", INFO2, ["1", "/Y", "T:\\keep\\"],
                     restoring(INFO2, BARE, "T:\\keep\\") + msg("MSG_ERR_RESTORE_FAILED", EN, "T:\\keep\\"),
                     62, 1, BARE, items=[BARE]))


# Characters outside the code page: '#' in the detail block, the real name
# on the disk.
GREEK = Item(6, "GGGGG6", "T:\\work\\Ελληνικά.txt", T2, 10)
for L in (INFO2, ITEMS):
    CASES.append(entry_case(
        "restore a path outside the code page", L, ["1", "/Y"],
        out(EN, head(L), detail_block(L, GREEK, 1), restoring(L, GREEK, GREEK.path), msg("MSG_RESTORE_OK", EN)),
        0, items=[GREEK], ansi=False,
        check=restored_check(L, GREEK, [GREEK], "work/Ελληνικά.txt")))
    CASES.append(entry_case(
        "restore a Japanese path", L, ["1", "/Y"],
        out(JA, head(L, JA), detail_block(L, Item(7, "JJJJJ7", "T:\\作業\\メモ.txt", T2, 10), 1, JA),
            restoring(L, Item(7, "JJJJJ7", "T:\\作業\\メモ.txt", T2, 10), "T:\\作業\\メモ.txt", JA),
            msg("MSG_RESTORE_OK", JA)),
        0, lang=JA, items=[Item(7, "JJJJJ7", "T:\\作業\\メモ.txt", T2, 10)],
        drives={"T": build_bin(L, [Item(7, "JJJJJ7", "T:\\作業\\メモ.txt", T2, 10)], folders=("作業",))},
        check=restored_check(L, Item(7, "JJJJJ7", "T:\\作業\\メモ.txt", T2, 10),
                             [Item(7, "JJJJJ7", "T:\\作業\\メモ.txt", T2, 10)], "作業/メモ.txt")))


# ----------------------------------------------------------------- per-item layout

ORPHAN = Item(0, "ORPHN1", "T:\\work\\orphan.txt", T2, 10, data=False)
CASES += [
    # A $I file whose $R item is gone: nothing to restore, but deleting lets
    # the entry go.
    refused("restore an entry whose $R item is missing", ITEMS, ["1", "/Y"],
            restoring(ITEMS, ORPHAN, ORPHAN.path) + msg("MSG_ERR_RESTORE_FAILED", EN, ORPHAN.path),
            62, 1, ORPHAN, items=[ORPHAN]),
    entry_case("delete an entry whose $R item is missing", ITEMS, ["1", "/delete", "/Y"],
               out(EN, head(ITEMS), detail_block(ITEMS, ORPHAN, 1),
                   msg("MSG_DELETING_ONE", EN, source_of(ITEMS, ORPHAN)), msg("MSG_DELETE_OK", EN)), 0,
               items=[ORPHAN],
               check=lambda r: changed_only(r, {ITEMS.rel + "/$IORPHN1.txt": None})),
    # A $R item that is there but cannot be removed keeps its $I file, so
    # that the data stays listed.
    refused("delete a $R item that cannot be removed", ITEMS, ["1", "/delete", "/Y"],
            msg("MSG_DELETING_ONE", EN, source_of(ITEMS, NOTES)) +
            msg("MSG_ERR_DELETE_FAILED", EN, source_of(ITEMS, NOTES)), 63, 1, NOTES,
            drives={"T": build_bin(ITEMS, STANDARD, extra=read_only("$RAAAAA1.txt"))}),
    refused("delete a $R folder with a read-only file inside", ITEMS, ["2", "/delete", "/Y"],
            msg("MSG_DELETING_ONE", EN, source_of(ITEMS, PROJECT)) +
            msg("MSG_ERR_DELETE_FAILED", EN, source_of(ITEMS, PROJECT)), 63, 2, PROJECT,
            unchanged=False,
            drives={"T": build_bin(ITEMS, STANDARD, extra=lambda root, folder: (
                bl.write(os.path.join(folder, "$RBBBBB2", "locked.txt"), b"x"),
                os.chmod(os.path.join(folder, "$RBBBBB2", "locked.txt"), 0o444)))},
            check=lambda r: changed_only(r, {ITEMS.rel + "/$RBBBBB2/inside.txt": None})),
    # The item is moved, but its $I file stays: a warning, and success.
    entry_case("restore with a $I file that cannot be removed", ITEMS, ["1", "/Y"],
               out(EN, head(ITEMS), detail_block(ITEMS, NOTES, 1), restoring(ITEMS, NOTES, NOTES.path),
                   msg("MSG_WARN_MOVED_NOT_UNREGISTERED", EN), msg("MSG_RESTORE_OK", EN)), 11,
               drives={"T": build_bin(ITEMS, STANDARD, extra=read_only("$IAAAAA1.txt"))},
               check=lambda r: changed_only(r, moved(r.before["T"], ITEMS.rel + "/$RAAAAA1.txt",
                                                     "work/notes.txt"))),
    entry_case("delete with a $I file that cannot be removed", ITEMS, ["1", "/delete", "/Y"],
               out(EN, head(ITEMS), detail_block(ITEMS, NOTES, 1),
                   msg("MSG_DELETING_ONE", EN, source_of(ITEMS, NOTES)),
                   msg("MSG_WARN_DELETED_NOT_UNREGISTERED", EN), msg("MSG_DELETE_OK", EN)), 11,
               drives={"T": build_bin(ITEMS, STANDARD, extra=read_only("$IAAAAA1.txt"))},
               check=lambda r: changed_only(r, {ITEMS.rel + "/$RAAAAA1.txt": None})),
]


# ----------------------------------------------------------------- links

# Links inside a folder item point to O:, outside the bin; removing the item
# must remove the links and never what lies behind them. The native build
# removes each link itself. Wine 8 cannot: its RemoveDirectory of a link to
# a folder works on the folder behind it (it fails while that folder holds
# files, and removes it when it is empty), and a link to a file shows as a
# plain file whose deletion deletes the file behind it. So the .exe builds
# get a link to a folder with files only, and must fail without touching it.
OUTSIDE = {"outside/keep.txt": b"keep me\n", "outside/sub/deeper.txt": b"me too\n",
           "empty": DIR, "file.txt": b"a file outside\n"}
WINE_BUILDS = (EXE, ANSI)


def links_inside(data_name, every_kind):
    def extra(root, folder):
        item = os.path.join(folder, data_name)
        links = {"link": "outside"}
        if every_kind:
            links.update({"link-to-empty": "empty", "link-to-file": "file.txt"})
        for name, target in links.items():
            target = os.path.join(os.path.dirname(root), "O", target)
            os.symlink(os.path.relpath(target, item), os.path.join(item, name))
    return extra


def link_drives(layout, every_kind, build=None):
    build = build or (lambda extra: build_bin(layout, STANDARD, extra=extra))
    return {"T": build(links_inside(PROJECT.data_name(layout), every_kind)), "O": dict(OUTSIDE)}


def folder_item_partly_removed(layout):
    """What the .exe builds leave: the item's own file gone, its link and
    the item's store entry kept, the outside untouched."""
    def check(result):
        changed_only(result, {layout.rel + "/" + PROJECT.data_name(layout) + "/inside.txt": None})
    return check


for L in LAYOUTS:
    source = source_of(L, PROJECT)
    deleting_head = out(EN, head(L), detail_block(L, PROJECT, 2), msg("MSG_DELETING_ONE", EN, source))
    CASES += [
        Case(f"en {L.key}: delete a folder item holding links out of the bin", [L.folder, "2", "/delete", "/Y"],
             stdout=deleting_head + out(EN, msg("MSG_DELETE_OK", EN)), exit_code=0,
             drives=link_drives(L, True), builds=(NATIVE,), check=deleted_check(L, PROJECT, STANDARD)),
        Case(f"en {L.key}: delete a folder item holding a link out of the bin, under Wine",
             [L.folder, "2", "/delete", "/Y"],
             stdout=deleting_head + out(EN, msg("MSG_ERR_DELETE_FAILED", EN, source)), exit_code=63,
             drives=link_drives(L, False), builds=WINE_BUILDS, check=folder_item_partly_removed(L)),
    ]
