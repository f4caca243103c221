"""What the bin's records keep, in the three layouts.

- Record numbers are never shared: a live record keeps its number even when
  its data item is missing, and an index that ends in a piece of a record
  takes the next record on its boundary.
- No path is stored under another name: a record without UTF-16 field
  refuses a path the code page cannot carry, and the ANSI-only build never
  works on the file that the lossy ANSI form of a name would reach.
- Sizes past 4 GiB are kept whole in $I files and saturate in index fields.
- Emptying removes what it can and keeps every item it could not remove
  listed, and leaves an index of its header alone otherwise.

Every case checks the drive's bytes afterwards: a refusal leaves every byte
as it was, a change is compared with what it must be field by field. The
bin's own safety (what it refuses, its lock) is in cases_safety.py.
"""

import datetime
import os
import re
import struct
import subprocess

import binlayout as bl
from cases_empty import deleting, emptied_check, full_bin
from cases_entry import (INFO, INFO2, ITEMS, LAYOUTS, NOTES, PROJECT, REPORT, SID, STANDARD, T1, T2, T3,
                         T_DRIVE, Item, Layout, build_bin, changed_only, detail_block, head, out, records_of,
                         restored_check, restoring)
from cases_safety import index_rel, with_marker, write_files
from cases_store import shown_time
from cases_throw import Rerun, cluster_of, filetime_now_window, rounded, throw_mask
import rig
from rig import ANSI, EXE, NATIVE, Case, banner
from texts import EN, msg

CASES = []


# ----------------------------------------------------------------- 1. record numbers

def record_at(data, offset):
    number, drive, deleted, size = struct.unpack_from("<IIQI", data, offset + 260)
    return dict(live=data[offset] != 0, number=number, drive=drive, time=deleted, size=size)


def appended(result, layout, offset, number, path, content):
    """The record written at `offset` for `path`, checked field by field
    (its deletion time within the run), and its data item with the content."""
    index = result.after["T"][index_rel(layout)]
    record = index[offset:offset + layout.record_size]
    assert len(record) == layout.record_size, f"no whole record at {offset}"
    fields = record_at(index, offset)
    low, high = filetime_now_window()
    assert low <= fields["time"] <= high, f"deletion time {fields['time']}"
    size = rounded(len(content), cluster_of(result))
    wanted = bl.index_record(layout.record_size, number, T_DRIVE, fields["time"], size,
                             path.encode("cp1252"), path)
    if record != wanted:
        got = {k: v for k, v in fields.items() if k != "time"}
        raise AssertionError(f"record at {offset}: {got} and paths {record[:40]!r}, where number {number}, "
                             f"drive {T_DRIVE}, size {size} and {path!r} were expected")
    item = layout.rel + "/" + bl.data_item_name("t", number, path)
    assert result.after["T"].get(item) == content, f"{item} does not hold the thrown file"
    return fields, size


ENTRY_LINE = re.compile(r"\[ *\d+\] (.*?) +\d{4}/\d\d/\d\d \d\d:\d\d:\d\d ")


def listed(text):
    """The paths of a listing's entry lines, in order."""
    return [ENTRY_LINE.match(line).group(1) for line in text.split("\n") if line.startswith("[")]


NEW = "T:\\work\\new.txt"
NEW_BYTES = b"the file thrown last\n" * 5
ORPHAN0 = dict(number=0, drive=T_DRIVE, time=bl.filetime(T1), size=4096, ansi=b"T:\\old\\orphan.txt",
               wide="T:\\old\\orphan.txt", item=False)
REMOVED1 = dict(number=1, drive=T_DRIVE, time=bl.filetime(T1), size=512, ansi=b"T:\\old\\gone.txt",
                wide="T:\\old\\gone.txt", removed=True)
THREE = dict(number=3, drive=T_DRIVE, time=bl.filetime(T2), size=1000, ansi=b"T:\\old\\three.txt",
             wide="T:\\old\\three.txt")


def index_drive(layout, records, tail=b"", files=None):
    """T: with an index bin of `records` (and `tail` bytes after them), the
    data items of its live records that have one, and `files`."""
    def build(root):
        folder = os.path.join(root, *layout.relfolder.split("\\"))
        bl.build_index_bin(folder, layout.index_name, layout.record_size, records, layout.version,
                           layout.desktop_ini)
        with open(os.path.join(folder, layout.index_name), "ab") as f:
            f.write(tail)
        for rel, data in (files or {}).items():
            bl.write(os.path.join(root, *rel.split("/")), data)
    return {"T": build}


def numbers_kept(layout):
    """The live record without its item keeps number 0: the new item takes
    1 (record 1 is removed, 3 has its item), and next is 2. Then the listing
    shows record 3 and the new item, and deleting entry 2 removes the new
    item and its record only."""
    def check(result):
        before, after = result.before["T"], result.after["T"]
        old = before[index_rel(layout)]
        fields, size = appended(result, layout, len(old), 1, NEW, NEW_BYTES)
        index = after[index_rel(layout)]
        assert index[20:len(old)] == old[20:], "the records that were there changed"
        assert len(index) == len(old) + layout.record_size
        assert struct.unpack_from("<5I", index) == (layout.version, 2, 2, layout.record_size, 1000 + size), \
            f"header {struct.unpack_from('<5I', index)}"
        changed_only(result, {"work/new.txt": None, index_rel(layout): index,
                              layout.rel + "/Dt1.txt": NEW_BYTES})
        with Rerun(result) as rerun:
            code, text = rerun(["/nologo", layout.folder, "/view"])
            assert code == 0 and listed(text) == [THREE["wide"], NEW], f"/view: {code} {text!r}"
            code, text = rerun(["/nologo", layout.folder, "2", "/delete", "/Y"])
            when = shown_time(datetime_of(fields["time"]))
            assert code == 0 and text == (msg("MSG_BIN_PATH", EN, layout.folder) + msg("MSG_READING", EN, layout.reading())
                                          + f"\n[2] {NEW} {when}\n\n"
                                          + msg("MSG_DELETING_ONE", EN, layout.folder + "\\Dt1.txt")
                                          + msg("MSG_DELETE_OK", EN)), f"delete 2: {code} {text!r}"
            final = rig.snapshot(result.folders["T"])
        gone = bytearray(index)
        gone[len(old)] = 0
        struct.pack_into("<5I", gone, 0, layout.version, 1, 1, layout.record_size, 1000)
        assert final[index_rel(layout)] == bytes(gone), "after the delete: " + final[index_rel(layout)][:20].hex()
        assert layout.rel + "/Dt1.txt" not in final and final[layout.rel + "/Dt3.txt"] == before[layout.rel + "/Dt3.txt"]
    return check


def piece_overwritten(layout, piece_length):
    """The record goes to the boundary after the last whole record, over the
    piece, and is listed after the first one."""
    def check(result):
        before, after = result.before["T"], result.after["T"]
        old = before[index_rel(layout)]
        boundary = len(old) - piece_length
        index = after[index_rel(layout)]
        assert len(index) == boundary + layout.record_size, f"index of {len(index)} bytes"
        assert index[20:boundary] == old[20:boundary], "the whole record changed"
        with Rerun(result) as rerun:
            code, text = rerun(["/nologo", layout.folder, "/view"])
        assert code == 0 and listed(text) == ["T:\\old\\zero.txt", NEW], f"/view: {code} {text!r}"
        # The piece is no record: its number is free, the lowest one.
        fields, size = appended(result, layout, boundary, 1, NEW, NEW_BYTES)
        assert struct.unpack_from("<5I", index) == (layout.version, 2, 2, layout.record_size, 1000 + size), \
            f"header {struct.unpack_from('<5I', index)}"
        changed_only(result, {"work/new.txt": None, index_rel(layout): index, layout.rel + "/Dt1.txt": NEW_BYTES})
    return check


def datetime_of(filetime):
    return datetime.datetime.fromtimestamp((filetime - 116444736000000000) // 10_000_000, datetime.timezone.utc)


ZERO = dict(number=0, drive=T_DRIVE, time=bl.filetime(T2), size=1000, ansi=b"T:\\old\\zero.txt",
            wide="T:\\old\\zero.txt")
for L in (INFO, INFO2):
    throw_new = [L.folder, "/f", NEW, "/Y"]
    said = banner() + msg("MSG_BIN_PATH", EN, L.folder) + msg("MSG_READING", EN, L.reading()) + NEW + "\n" \
        + msg("MSG_THROW_OK", EN)
    # The first bytes of a record that a killed writer left: 300 of 800,
    # 100 of 280 (the number field lies in the 800-byte record's piece).
    piece = bl.index_record(L.record_size, 1, T_DRIVE, bl.filetime(T3), 77, b"T:\\old\\cut.txt",
                            "T:\\old\\cut.txt")[:300 if L.record_size == 800 else 100]
    CASES += [
        Case(f"en {L.key}: a live record without its item keeps its number from a throw", throw_new,
             stdout=said, exit_code=0, mask=throw_mask,
             drives=index_drive(L, [ORPHAN0, REMOVED1, THREE], files={"work/new.txt": NEW_BYTES}),
             check=numbers_kept(L)),
        Case(f"en {L.key}: a throw writes over a piece of a record at the index's end", throw_new,
             stdout=said, exit_code=0, mask=throw_mask,
             drives=index_drive(L, [ZERO], tail=piece, files={"work/new.txt": NEW_BYTES}),
             check=piece_overwritten(L, len(piece))),
    ]


# ----------------------------------------------------------------- 2. paths the code page cannot carry

BAAN = "T:\\docs\\b\u0101n.txt"        # "ā" has no byte in code page 1252
BAAN_SHOWN = "T:\\docs\\b#n.txt"       # as the program prints it, and its lossy ANSI form
BAAN_BYTES = b"a name with a macron\n"
DECOY = b"the file the lossy ANSI form names\n"
INFO2_280 = Layout("INFO2", "Recycler\\" + SID, "INFO2", bl.INFO_RECORD_SIZE, version=5)


def baan_drive(layout):
    return {"T": build_bin(layout, STANDARD, extra=write_files({"docs/b\u0101n.txt": BAAN_BYTES,
                                                                "docs/b#n.txt": DECOY}))}


def baan_thrown(layout):
    """The wide path kept exactly: in a $I file, or in the UTF-16 field of
    the record (the ANSI field with '#'); the decoy untouched."""
    def check(result):
        before, after = result.before["T"], result.after["T"]
        new = {k: v for k, v in after.items() if k not in before}
        if layout.items:
            names = sorted(k.rsplit("/", 1)[1] for k in new)
            assert len(names) == 2 and names[1] == "$R" + names[0][2:] and names[0].endswith(".txt"), names
            info = after[layout.rel + "/" + names[0]]
            assert info[:16] == struct.pack("<QQ", 1, len(BAAN_BYTES)), info[:16].hex()
            assert info[24:] == bl.item_info_v1(0, 0, BAAN)[24:], "the $I file's path"
            assert after[layout.rel + "/" + names[1]] == BAAN_BYTES
            changed_only(result, {"docs/b\u0101n.txt": None, **new})
            return
        old = before[index_rel(layout)]
        index = after[index_rel(layout)]
        record = index[len(old):]
        assert len(record) == layout.record_size, f"index of {len(index)} bytes"
        number, drive, deleted, rec_size = struct.unpack_from("<IIQI", record, 260)
        size = rounded(len(BAAN_BYTES), cluster_of(result))
        assert record == bl.index_record(layout.record_size, 2, T_DRIVE, deleted, size, BAAN_SHOWN.encode(), BAAN), \
            f"record {number} {rec_size} {record[:40]!r} {record[280:330]!r}"
        changed_only(result, {"docs/b\u0101n.txt": None, layout.rel + "/Dt2.txt": BAAN_BYTES,
                              index_rel(layout): index})
    return check


for L in (INFO, INFO2_280):
    CASES.append(Case(
        f"en {L.key} of {L.record_size}-byte records: a path the code page cannot carry is refused",
        [L.folder, "/f", BAAN, "/Y"],
        stdout=banner() + msg("MSG_BIN_PATH", EN, L.folder) + msg("MSG_READING", EN, L.reading())
        + msg("MSG_ERR_FILE_INVALID", EN, BAAN_SHOWN),
        exit_code=25, unchanged=True, drives=baan_drive(L)))
for L in (INFO2, ITEMS):
    CASES += [
        Case(f"en {L.key}: a path the code page cannot carry is kept whole", [L.folder, "/f", BAAN, "/Y"],
             stdout=banner() + msg("MSG_BIN_PATH", EN, L.folder) + msg("MSG_READING", EN, L.reading())
             + BAAN_SHOWN + "\n" + msg("MSG_THROW_OK", EN),
             exit_code=0, drives=baan_drive(L), check=baan_thrown(L), mask=throw_mask),
        # The ANSI-only build takes the narrow arguments, where the runtime
        # has made "ā" an "a" (docs/testing.md): it never reaches the decoy.
        Case(f"en {L.key}: the ANSI build never throws what a lossy name's ANSI form names",
             [L.folder, "/f", BAAN, "/Y"],
             stdout=banner() + msg("MSG_BIN_PATH", EN, L.folder) + msg("MSG_READING", EN, L.reading())
             + msg("MSG_ERR_FILE_INVALID", EN, "T:\\docs\\ban.txt"),
             exit_code=25, unchanged=True, drives=baan_drive(L), builds=(ANSI,), ansi=True),
    ]

# A bin path whose ANSI form is lossy: "T:\bān" holds a bin, and so does
# "T:\b#n", which the lossy form would reach. The wide builds work on the
# first; the ANSI-only build, given "T:\ban" by the runtime, reaches neither.
BAAN_BIN = Layout("INFO2", "b\u0101n", "INFO2", bl.INFO2_RECORD_SIZE, desktop_ini=bl.DESKTOP_INI_OLD)
DECOY_BIN = Layout("INFO2", "b#n", "INFO2", bl.INFO2_RECORD_SIZE, desktop_ini=bl.DESKTOP_INI_OLD)


def two_bins(root):
    full_bin(BAAN_BIN)["T"](root)
    build_bin(DECOY_BIN, STANDARD)(root)
    bl.write(os.path.join(root, "docs", "a.txt"), b"to throw\n")


LOSSY_BIN = "T:\\b\u0101n"
for name, args in (("list", ["/view"]), ("empty", ["/empty", "/Y"]), ("restore", ["1", "/Y"]),
                   ("delete", ["1", "/delete", "/Y"]), ("throw", ["/f", "T:\\docs\\a.txt", "/Y"])):
    CASES.append(Case(
        f"en ANSI build: {name} with a bin path whose ANSI form is another bin", [LOSSY_BIN] + args,
        stdout=banner() + msg("MSG_BIN_PATH", EN, "T:\\ban") + msg("MSG_ERR_BIN_INVALID", EN, "T:\\ban"),
        exit_code=22, unchanged=True, drives={"T": two_bins}, builds=(ANSI,), ansi=True))
CASES += [
    Case("en wide builds: empty with a bin path outside the code page empties that bin only",
         [LOSSY_BIN, "/empty", "/Y"],
         stdout=out(EN, head(BAAN_BIN), deleting(BAAN_BIN), msg("MSG_EMPTIED", EN)), exit_code=0,
         drives={"T": two_bins}, builds=(NATIVE, EXE), check=emptied_check(BAAN_BIN)),
    # Names whose ANSI form is the folder of the decoy bin, or a place in it.
    Case("en ANSI build: a thrown name whose ANSI form is a bin folder", ["T:\\Recycled", "/f", LOSSY_BIN, "/Y"],
         stdout=banner() + msg("MSG_BIN_PATH", EN, "T:\\Recycled") + msg("MSG_READING", EN, "T:\\Recycled\\INFO")
         + msg("MSG_ERR_FILE_INVALID", EN, "T:\\ban"),
         exit_code=25, unchanged=True, builds=(ANSI,), ansi=True,
         drives={"T": lambda root: (two_bins(root), build_bin(INFO, STANDARD)(root))}),
    Case("en ANSI build: a restore target whose ANSI form lies in another bin", ["T:\\Recycled", "1", "/Y", LOSSY_BIN + "\\"],
         stdout=out(EN, head(INFO), detail_block(INFO, NOTES, 1), restoring(INFO, NOTES, "T:\\ban\\notes.txt"),
                    msg("MSG_ERR_RESTORE_FAILED", EN, "T:\\ban\\notes.txt")),
         exit_code=62, unchanged=True, builds=(ANSI,), ansi=True,
         drives={"T": lambda root: (two_bins(root), build_bin(INFO, STANDARD)(root))}),
]

# The program's own conversion: an entry whose original path lies in
# "T:\bān". The ANSI-only build cannot write that path; restored to its
# lossy form it would land in the decoy bin's folder.
IN_BAAN = Item(0, "MACRN1", "T:\\b\u0101n\\notes.txt", T2, 4096)
for L in (INFO2, ITEMS):
    def in_baan(root, L=L):
        two_bins(root)
        build_bin(L, [IN_BAAN])(root)
    CASES += [
        Case(f"en {L.key}: the ANSI build refuses to restore to a path outside the code page", [L.folder, "1", "/Y"],
             stdout=out(EN, head(L), detail_block(L, IN_BAAN, 1), restoring(L, IN_BAAN, IN_BAAN.path),
                        msg("MSG_ERR_RESTORE_FAILED", EN, IN_BAAN.path)),
             exit_code=62, unchanged=True, drives={"T": in_baan}, builds=(ANSI,), ansi=True),
        Case(f"en {L.key}: the wide builds restore to a path outside the code page", [L.folder, "1", "/Y"],
             stdout=out(EN, head(L), detail_block(L, IN_BAAN, 1), restoring(L, IN_BAAN, IN_BAAN.path),
                        msg("MSG_RESTORE_OK", EN)),
             exit_code=0, drives={"T": in_baan}, builds=(NATIVE, EXE),
             check=restored_check(L, IN_BAAN, [IN_BAAN], "b\u0101n/notes.txt")),
    ]


# ----------------------------------------------------------------- 3. sizes past 32 bits

HUGE = 5 << 30                 # a sparse file of 5 GiB
HUGE_PATH = "T:\\work\\huge.bin"


def huge_drive(layout, items=STANDARD):
    def extra(root, folder):
        path = os.path.join(root, "work", "huge.bin")
        open(path, "wb").close()
        os.truncate(path, HUGE)
    return {"T": build_bin(layout, items, extra=extra)}


def large_mask(rel, data):
    """throw_mask for trees that hold a rig.LargeFile."""
    if isinstance(data, rig.LargeFile):
        return throw_mask(rel, b"")[0], data
    return throw_mask(rel, data)


def huge_thrown(layout):
    """The $I file holds the whole 64-bit size; an index record's 32-bit
    size field and the header's total hold 0xFFFFFFFF, not a wrapped value."""
    def check(result):
        before, after = result.before["T"], result.after["T"]
        assert isinstance(before["work/huge.bin"], rig.LargeFile) and len(before["work/huge.bin"]) == HUGE
        new = {k: v for k, v in after.items() if k not in before}
        if layout.items:
            info_rel = [k for k in new if k.rsplit("/", 1)[1].startswith("$I")]
            assert len(new) == 2 and len(info_rel) == 1, sorted(new)
            info = after[info_rel[0]]
            version, size = struct.unpack_from("<QQ", info)
            assert (version, size) == (1, HUGE), f"$I version {version}, size {size:#x}"
            assert info[24:] == bl.item_info_v1(0, 0, HUGE_PATH)[24:], "the $I file's path"
            data_rel = info_rel[0].replace("/$I", "/$R")
            assert after.get(data_rel) == before["work/huge.bin"], f"{data_rel} is not the thrown file"
            changed_only(result, {"work/huge.bin": None, **new})
            return
        old, index = before[index_rel(layout)], after[index_rel(layout)]
        assert len(index) == len(old) + layout.record_size and index[20:len(old)] == old[20:]
        fields = record_at(index, len(old))
        assert (fields["number"], fields["size"]) == (2, 0xFFFFFFFF), f"record {fields}"
        header = struct.unpack_from("<5I", index)
        assert header == (layout.version, 4, 4, layout.record_size, 0xFFFFFFFF), f"header {header}"
        assert after.get(layout.rel + "/Dt2.bin") == before["work/huge.bin"], "Dt2.bin is not the thrown file"
        changed_only(result, {"work/huge.bin": None, layout.rel + "/Dt2.bin": after[layout.rel + "/Dt2.bin"],
                              index_rel(layout): index})
    return check


for L in LAYOUTS:
    CASES.append(Case(
        f"en {L.key}: a 5 GiB file is thrown with its size kept or saturated", [L.folder, "/f", HUGE_PATH, "/Y"],
        stdout=banner() + msg("MSG_BIN_PATH", EN, L.folder) + msg("MSG_READING", EN, L.reading())
        + HUGE_PATH + "\n" + msg("MSG_THROW_OK", EN),
        exit_code=0, drives=huge_drive(L), check=huge_thrown(L), mask=large_mask, timeout=60))

# Sizes that fit one by one but not summed: the header's total saturates.
BIG_RECORD = dict(number=0, drive=T_DRIVE, time=bl.filetime(T1), size=0xFFFFF000, ansi=b"T:\\old\\big.iso",
                  wide="T:\\old\\big.iso")


def total_saturated(layout):
    def check(result):
        old, index = result.before["T"][index_rel(layout)], result.after["T"][index_rel(layout)]
        fields, size = appended(result, layout, len(old), 1, NEW, NEW_BYTES)
        header = struct.unpack_from("<5I", index)
        assert header == (layout.version, 2, 2, layout.record_size, 0xFFFFFFFF), f"header {header}"
        changed_only(result, {"work/new.txt": None, layout.rel + "/Dt1.txt": NEW_BYTES, index_rel(layout): index})
    return check


for L in (INFO, INFO2):
    CASES.append(Case(
        f"en {L.key}: the header's total saturates", [L.folder, "/f", NEW, "/Y"],
        stdout=banner() + msg("MSG_BIN_PATH", EN, L.folder) + msg("MSG_READING", EN, L.reading())
        + NEW + "\n" + msg("MSG_THROW_OK", EN),
        exit_code=0, drives=index_drive(L, [BIG_RECORD], files={"work/new.txt": NEW_BYTES}),
        check=total_saturated(L), mask=throw_mask))


# ----------------------------------------------------------------- 4. emptying what cannot all go

def stuck_inside(layout):
    """A before_run hook: a file deep in the folder item that the file
    system will not let anyone remove, root included (the immutable flag;
    read-only where the flag cannot be set, which every build also leaves),
    let go once the run has ended."""
    def before_run(folders, stdout_path):
        path = os.path.join(folders["T"], *layout.rel.split("/"), PROJECT.data_name(layout), "deep", "stuck.txt")
        if subprocess.run(["chattr", "+i", path], capture_output=True).returncode == 0:
            return lambda: subprocess.run(["chattr", "-i", path], check=True)
        os.chmod(path, 0o444)
        return None
    return before_run


def stuck_drive(layout):
    def extra(root, folder):
        bl.write(os.path.join(folder, PROJECT.data_name(layout), "deep", "stuck.txt"), b"cannot go\n")
        os.chmod(os.path.join(folder, NOTES.data_name(layout)), 0o444)   # a read-only data item
    return {"T": build_bin(layout, STANDARD, extra=with_marker(layout, extra))}


def stuck_listed(layout):
    """The read-only item and the folder item keep their records (or $I
    files) and stay listed; the folder item lost what could go; REPORT's
    record is marked removed, or its $I file gone; the header counts what
    is left."""
    def check(result):
        before = result.before["T"]
        project = layout.rel + "/" + PROJECT.data_name(layout)
        changes = {project + "/inside.txt": None}
        changes.update({k: None for k in before if k.startswith(layout.rel + "/" + REPORT.data_name(layout))})
        if layout.items:
            changes[layout.rel + "/$I" + REPORT.code + REPORT.ext()] = None
        else:
            index = bytearray(before[index_rel(layout)])
            for off, rec in records_of(bytes(index)):
                if rec[0] != 0 and struct.unpack_from("<I", rec, 260)[0] == REPORT.number:
                    index[off] = 0
            struct.pack_into("<5I", index, 0, layout.version, 2, 2, layout.record_size, NOTES.size + PROJECT.size)
            changes[index_rel(layout)] = bytes(index)
        changed_only(result, changes)
        with Rerun(result) as rerun:
            code, text = rerun(["/nologo", layout.folder, "/view"])
        assert code == 0 and listed(text) == [NOTES.path, PROJECT.path], f"/view: {code} {text!r}"
    return check


def removal_list(layout):
    names = (["$IAAAAA1.txt", "$RAAAAA1.txt", "$IBBBBB2", "$RBBBBB2", "$ICCCCC3.doc", "$RCCCCC3.doc"]
             if layout.items else ["Dt0.txt", "Dt1", "Dt3.doc"])
    return msg("MSG_DELETING", EN) + "".join(f"{layout.folder}\\{n}\n" for n in names) + "\n" + msg("MSG_FINISHED", EN)


for L in LAYOUTS:
    CASES.append(Case(
        f"en {L.key}: empty keeps the items it cannot remove listed", [L.folder, "/empty", "/Y"],
        stdout=out(EN, head(L), removal_list(L), msg("MSG_ERR_EMPTY_FAILED", EN, L.folder)), exit_code=64,
        drives=stuck_drive(L), before_run=stuck_inside(L), check=stuck_listed(L)))


# ----------------------------------------------------------------- 5. the index an emptying leaves

def header_alone(layout):
    def check(result):
        index = result.after["T"][index_rel(layout)]
        assert index == struct.pack("<5I", layout.version, 0, 0, layout.record_size, 0), \
            f"index of {len(index)} bytes: {index[:40].hex()}"
        emptied_check(layout)(result)
    return check


def with_tail(tail):
    def extra(root, folder):
        for name in ("INFO", "INFO2"):
            path = os.path.join(folder, name)
            if os.path.exists(path):
                with open(path, "ab") as f:
                    f.write(tail)
    return extra


RECYCLER = "Recycler\\" + SID
for label, layout, tail in (
        ("INFO, version 0, 280-byte records", INFO, b""),
        ("INFO2, version 4, 280-byte records", Layout("INFO2", RECYCLER, "INFO2", 280, version=4), b""),
        ("INFO2, version 5, 800-byte records", INFO2, b""),
        ("INFO2 ending in a piece of a record", INFO2, b"\x41" * 300),
        ("INFO2, version 6, 1000-byte records", Layout("INFO2", RECYCLER, "INFO2", 1000, version=6), b"")):
    CASES.append(Case(
        f"en {label}: empty leaves the header alone, version and record size kept", [layout.folder, "/empty", "/Y"],
        stdout=out(EN, head(layout), deleting(layout), msg("MSG_EMPTIED", EN)), exit_code=0,
        drives=full_bin(layout, with_tail(tail)), check=header_alone(layout)))
