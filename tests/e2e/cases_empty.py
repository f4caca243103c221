"""Emptying the bin, in the three layouts.

The bins are those of cases_entry.py, with a few more files around the data
items: the marker desktop.ini, a file that is no data item, a data item that
no record lists and, in the per-item layout, a $I file without its $R item
and a $R item without its $I file. After an emptying the index must hold its
20-byte header alone (version and record size kept, the rest 0) and exactly
the files that no search of the emptying reaches must be left.
"""

import os
import struct

import binlayout as bl
from cases_entry import (GONE, ITEMS, LAYOUTS, PROJECT, STANDARD, WINE_BUILDS, assert_consistent, bin_names,
                         build_bin, changed_only, free_number, has_data_item, head, link_drives, out,
                         records_of, removed)
from rig import CTRL_C, ENTER, ESC, NATIVE, Case
from texts import EN, JA, msg


def extras(layout, listed=True):
    """The files around the data items; without `listed`, none that loads."""
    def extra(root, folder):
        bl.write(os.path.join(folder, "desktop.ini"), bl.DESKTOP_INI_MARKER if layout.items
                 else bl.DESKTOP_INI_OLD)
        bl.write(os.path.join(folder, "notes.log"), b"no data item\n")
        if not layout.items:
            bl.write(os.path.join(folder, "Dx9.tmp"), b"listed by no record\n")
            return
        bl.write(os.path.join(folder, "$RQQQQQ8.txt"), b"no index file\n")
        if listed:
            bl.write(os.path.join(folder, "$IZZZZZ9.txt"),
                     bl.item_info_v1(3, bl.filetime(0), "T:\\work\\lost.txt"))
    return extra


def full_bin(layout, extra=None):
    def more(root, folder):
        extras(layout)(root, folder)
        if extra:
            extra(root, folder)
    return {"T": build_bin(layout, STANDARD, extra=more)}


# What the emptying removes, in the order of the folder search.
REMOVED = {
    "INFO": ["Dt0.txt", "Dt1", "Dt3.doc", "Dx9.tmp"],
    "INFO2": ["Dt0.txt", "Dt1", "Dt3.doc", "Dx9.tmp"],
    "$I/$R": ["$IAAAAA1.txt", "$RAAAAA1.txt", "$IBBBBB2", "$RBBBBB2", "$ICCCCC3.doc", "$RCCCCC3.doc",
              "$IZZZZZ9.txt", "$RZZZZZ9.txt"],
}


def deleting(layout, lang=EN):
    return (msg("MSG_DELETING", lang) + "".join(f"{layout.folder}\\{name}\n" for name in REMOVED[layout.key])
            + "\n" + msg("MSG_FINISHED", lang))


def question(layout, lang=EN):
    """The number asked about is the number of loaded entries: the data item
    that no record lists does not count, the $I file without its $R does."""
    return msg("MSG_ASK_EMPTY", lang, 4 if layout.items else 3) + " (Y/N)"


def emptied_check(layout):
    """The index's header alone, every data item gone, nothing else touched."""
    def check(result):
        before = result.before["T"]
        changes = {}
        for name in REMOVED[layout.key]:
            changes.update(removed(before, layout.rel + "/" + name))
        if not layout.items:
            index_rel = layout.rel + "/" + layout.index_name
            version, _, _, size, _ = struct.unpack_from("<5I", before[index_rel])
            changes[index_rel] = bl.index_header(size, version=version)
        changed_only(result, changes)
        assert_consistent(result, layout)
    return check


def empty_case(name, layout, args, stdout, exit_code, lang=EN, **kw):
    kw.setdefault("drives", full_bin(layout))
    return Case(f"{lang} {layout.key}: {name}", [layout.folder] + args, lang=lang, stdout=stdout,
                exit_code=exit_code, **kw)


def emptied(layout, lang=EN, keys=None, answered="", name="empty with /Y"):
    args = ["/empty"] + ([] if keys else ["/Y"])
    return empty_case(name, layout, args,
                      out(lang, head(layout, lang), answered, deleting(layout, lang), msg("MSG_EMPTIED", lang)),
                      0, lang=lang, keys=keys, check=emptied_check(layout))


def untouched(name, layout, args, tail, exit_code, lang=EN, **kw):
    return empty_case(name, layout, args, out(lang, head(layout, lang), tail), exit_code, lang=lang,
                      unchanged=True, **kw)


CASES = []

for L in LAYOUTS:
    q = question(L)
    CASES += [
        emptied(L),
        emptied(L, lang=JA),
        emptied(L, keys=["y"], answered=q + "Y\n", name="empty answered y"),
        emptied(L, keys=[ENTER], answered=q + "Y\n", name="empty answered Enter"),
        emptied(L, keys=["x", "y"], answered=q + "\n" + q + "Y\n", name="empty answered x, then y"),
        emptied(L, lang=JA, keys=["Y"], answered=question(L, JA) + "Y\n", name="empty answered Y"),
        untouched("empty answered n", L, ["/empty"], q + "N\n" + msg("MSG_CANCELED", EN), 2, keys=["n"]),
        untouched("empty answered Esc", L, ["/empty"], q + "N\n" + msg("MSG_CANCELED", EN), 2, keys=[ESC]),
        untouched("empty answered Ctrl+C", L, ["/empty"], q + "^C\n", 3, keys=[CTRL_C]),
        # Data items that no entry lists leave the bin "already empty".
        untouched("nothing loaded, data items on the disk", L, ["/empty", "/Y"],
                  msg("MSG_ALREADY_EMPTY", EN), 3, drives={"T": build_bin(L, [GONE], extra=extras(L, listed=False))}),
        untouched("nothing loaded", L, ["/empty"], msg("MSG_ALREADY_EMPTY", JA), 3, lang=JA,
                  drives={"T": build_bin(L, [GONE])}),
    ]


# What cannot be removed stays; the pass goes on to its end and the
# emptying is reported as failed.
def locked_inside(data_name):
    def extra(root, folder):
        path = os.path.join(folder, data_name, "deep", "locked.txt")
        bl.write(path, b"read-only\n")
        os.chmod(path, 0o444)
    return extra


def failed_check(layout, kept):
    """Emptied, except the paths in `kept` (and the folders on their way):
    the items that hold them keep their records or $I files, so they stay
    listed and can be tried again; the other records are marked removed and
    the header counts what is left."""
    def check(result):
        before = result.before["T"]
        changes = {}
        for name in REMOVED[layout.key]:
            changes.update(removed(before, layout.rel + "/" + name))
        items = set()
        for rel in kept:
            parts = (layout.rel + "/" + rel).split("/")
            for depth in range(len(parts)):
                key = "/".join(parts[:depth + 1])
                changes.pop(key, None)
            items.add(rel.split("/")[0])
        if layout.items:
            for item in items:
                changes.pop(layout.rel + "/$I" + item[2:], None)
        else:
            index_rel = layout.rel + "/" + layout.index_name
            names_after = [n for n in bin_names(before, layout)
                           if changes.get(layout.rel + "/" + n, b"") is not None]
            changes[index_rel] = swept_index(before[index_rel], items, names_after)
        changed_only(result, changes)
        assert_consistent(result, layout)
    return check


def swept_index(before, kept_items, names_after):
    """The index once every live record but those of `kept_items` (data item
    names) is marked removed, counted anew."""
    data = bytearray(before)
    sizes = []
    for off, record in records_of(before):
        if record[0] == 0:
            continue
        number, drive, _, size = struct.unpack_from("<IIQI", record, 260)
        letter = chr(ord("a") + drive)
        if any(has_data_item([name], letter, number) for name in kept_items):
            sizes.append(size)
        else:
            data[off] = 0
    struct.pack_into("<I", data, 4, len(sizes))
    struct.pack_into("<I", data, 8, free_number(names_after))
    struct.pack_into("<I", data, 16, sum(sizes) & 0xFFFFFFFF)
    return bytes(data)


for L in LAYOUTS:
    folder_item = "$RBBBBB2" if L.items else "Dt1"
    CASES.append(empty_case(
        "a read-only file inside a folder item", L, ["/empty", "/Y"],
        out(EN, head(L), deleting(L), msg("MSG_ERR_EMPTY_FAILED", EN, L.folder)), 64,
        drives=full_bin(L, locked_inside(folder_item)),
        check=failed_check(L, [folder_item + "/deep/locked.txt"])))

file_item = "$RAAAAA1.txt"
CASES.append(empty_case(
    "a read-only $R item", ITEMS, ["/empty", "/Y"],
    out(EN, head(ITEMS), deleting(ITEMS), msg("MSG_ERR_EMPTY_FAILED", EN, ITEMS.folder)), 64,
    drives=full_bin(ITEMS, lambda root, folder: os.chmod(os.path.join(folder, file_item), 0o444)),
    check=failed_check(ITEMS, [file_item])))


# ----------------------------------------------------------------- links

# As in cases_entry.py: the native build removes the links, the .exe builds
# under Wine cannot and report the emptying as failed; neither touches O:.
for L in LAYOUTS:
    folder_item = PROJECT.data_name(L)
    emptying = head(L), deleting(L)
    CASES += [
        Case(f"en {L.key}: empty a bin holding links out of it", [L.folder, "/empty", "/Y"],
             stdout=out(EN, *emptying, msg("MSG_EMPTIED", EN)), exit_code=0,
             drives=link_drives(L, True, lambda extra, L=L: full_bin(L, extra)["T"]),
             builds=(NATIVE,), check=emptied_check(L)),
        Case(f"en {L.key}: empty a bin holding a link out of it, under Wine", [L.folder, "/empty", "/Y"],
             stdout=out(EN, *emptying, msg("MSG_ERR_EMPTY_FAILED", EN, L.folder)), exit_code=64,
             drives=link_drives(L, False, lambda extra, L=L: full_bin(L, extra)["T"]),
             builds=WINE_BUILDS, check=failed_check(L, [folder_item + "/link"])),
    ]
