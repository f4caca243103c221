"""Index lists ("1,3", "2-3") and /whatif, in the three layouts.

The bins are those of cases_entry.py: entries 1 notes.txt, 2 the folder
"old project", 3 report.doc (a removed record sits between 2 and 3 in the
index layouts). A list names entries of the listing before the run, so
after entry 1 has left, "3" must still be report.doc. After a change the
store's bytes are checked as each entry's removal makes them, in turn.
/whatif must leave every byte of every drive as it was, the times of every
file and folder included: the drive is hashed with its stat data around the
run.
"""

import hashlib
import os
import threading

import binlayout as bl
from cases_empty import REMOVED, full_bin
from cases_entry import (LAYOUTS, NOTES, PROJECT, REPORT, STANDARD, INFO2, T3, Item, assert_consistent,
                         bin_names, build_bin, changed_only, detail_block, entry_case, head,
                         index_after_removal, live, moved, out, question, removed, restoring,
                         source_of)
from rig import Case, banner
from texts import EN, JA, command_line_error, msg


# ----------------------------------------------------------------- several entries

def after_removals(result, layout, gone, items, extra_changes):
    """The store once every entry of `gone` left it, one after the other,
    each removal made on what the one before left."""
    before = result.before["T"]
    changes = dict(extra_changes)
    if layout.items:
        for it in gone:
            changes[layout.rel + "/$I" + it.code + it.ext()] = None
    else:
        index_rel = layout.rel + "/" + layout.index_name
        data, names, remaining = before[index_rel], bin_names(before, layout), live(items)
        for it in gone:
            names = [n for n in names if n != it.data_name(layout)]
            data = index_after_removal(data, layout, it.number, [x.size for x in remaining], names)
            remaining = [x for x in remaining if x is not it]
        changes[index_rel] = data
    changed_only(result, changes)
    assert_consistent(result, layout)


def moves_check(layout, targets, items):
    """targets: [(item, target relpath or None for a deletion)], in listing order."""
    def check(result):
        tree, extra = result.before["T"], {}
        for it, target in targets:
            source = layout.rel + "/" + it.data_name(layout)
            extra.update(moved(tree, source, target) if target else removed(tree, source))
        after_removals(result, layout, [it for it, _ in targets], items, extra)
    return check


def several(name, layout, args, steps, exit_code=0, lang=EN, keys=None, items=STANDARD):
    """steps: [(number, item, target path or None for delete, answer text or None, outcome)]
    where outcome is "ok" or "no"."""
    parts, targets = [head(layout, lang)], []
    for number, it, target, answered, outcome in steps:
        parts += [detail_block(layout, it, number, lang), answered or ""]
        if outcome == "no":
            parts.append(msg("MSG_CANCELED", lang))
        elif target is None:
            parts += [msg("MSG_DELETING_ONE", lang, source_of(layout, it)), msg("MSG_DELETE_OK", lang)]
            targets.append((it, None))
        else:
            parts += [restoring(layout, it, target, lang), msg("MSG_RESTORE_OK", lang)]
            targets.append((it, target[3:].replace("\\", "/")))
    return entry_case(name, layout, args, out(lang, *parts), exit_code, lang=lang, keys=keys,
                      items=items, check=moves_check(layout, targets, items))


CASES = []
KEEP = "T:\\keep\\"

for L in LAYOUTS:
    CASES += [
        # After entry 1 left, the third of the listing is still report.doc.
        several("restore 1,3", L, ["1,3", "/Y"],
                [(1, NOTES, NOTES.path, None, "ok"), (3, REPORT, REPORT.path, None, "ok")]),
        # Listing order, each once, whatever the order typed.
        several("delete 3,1,1", L, ["3,1,1", "/delete", "/Y"],
                [(1, NOTES, None, None, "ok"), (3, REPORT, None, None, "ok")]),
        several("restore 2-3,1 into a folder", L, ["2-3,1", "/Y", KEEP],
                [(1, NOTES, KEEP + "notes.txt", None, "ok"),
                 (2, PROJECT, KEEP + "old project", None, "ok"),
                 (3, REPORT, KEEP + "report.doc", None, "ok")]),
        # Each entry asks for itself; "no" passes over that one only.
        several("restore 1,3 answering y then n", L, ["1,3"],
                [(1, NOTES, NOTES.path, question(True) + "Y\n", "ok"),
                 (3, REPORT, None, question(True) + "N\n", "no")], exit_code=2, keys=["y", "n"]),
        several("ja delete 1-2", L, ["1-2", "/delete", "/Y"],
                [(1, NOTES, None, None, "ok"), (2, PROJECT, None, None, "ok")], lang=JA),
        # One number out of range: nothing is done, not even the others.
        entry_case("restore 1,4 of 3", L, ["1,4", "/Y"],
                   out(EN, head(L), msg("MSG_ERR_INDEX_RANGE", EN, 3)), 23, unchanged=True),
        # Several entries cannot all take one file name.
        entry_case("restore 1,3 to a path without a separator", L, ["1,3", "T:\\keep\\x", "/Y"],
                   banner() + command_line_error(EN), 21, unchanged=True),
    ]

# Entry 4 takes the name entry 1 takes in a folder; entry 5 goes into the
# folder that entry 2 brings back.
TWIN = Item(4, "DDDDD4", "T:\\tmp\\notes.txt", T3, 100)
INNER = Item(5, "EEEEE5", "T:\\work\\old project\\inner.txt", T3, 200)
MORE = STANDARD + [TWIN, INNER]
for L in LAYOUTS:
    CASES.append(several("restore 2,5: the second into the first", L, ["2,5", "/Y"],
                         [(2, PROJECT, PROJECT.path, None, "ok"), (5, INNER, INNER.path, None, "ok")],
                         items=MORE))

# A list that breaks the grammar is judged as an out-of-range number is.
for text in ("3-", "3-1", "1,,2", "1,", "0-2", "2,99999999999"):
    CASES.append(entry_case(f"malformed list {text}", INFO2, [text, "/delete", "/Y"],
                            out(EN, head(INFO2), msg("MSG_ERR_INDEX_RANGE", EN, 3)), 23,
                            unchanged=True))
# The same number twice is one entry: one file may take the given name.
CASES.append(several("restore 1,1-1 to a new name", INFO2, ["1,1-1", "/Y", "T:\\keep\\x"],
                     [(1, NOTES, "T:\\keep\\x", None, "ok")]))


# ----------------------------------------------------------------- /whatif

_stamps = {}
_stamps_lock = threading.Lock()


def drive_digest(folder):
    """Every name, type, size, content and modification time below the folder."""
    digest = hashlib.sha256()
    for dirpath, dirnames, filenames in sorted(os.walk(folder)):
        dirnames.sort()
        for name in [""] + sorted(filenames) + dirnames:
            path = os.path.join(dirpath, name) if name else dirpath
            st = os.lstat(path)
            digest.update(repr((os.path.relpath(path, folder), st.st_mode, st.st_size,
                                st.st_mtime_ns)).encode())
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    digest.update(f.read())
    return digest.hexdigest()


def stamp_drive(folders, stdout_path):
    folder = folders["T"]
    before = drive_digest(folder)

    def after():
        with _stamps_lock:
            _stamps[folder] = (before, drive_digest(folder))
    return after


def untouched(result):
    with _stamps_lock:
        before, after = _stamps.pop(result.folders["T"])
    assert before == after, "the drive's bytes or times changed"


def whatif(name, layout, args, lines, exit_code=0, lang=EN, drives=None, done=True):
    text = out(lang, head(layout, lang), *lines, msg("MSG_WHATIF_DONE", lang) if done else "")
    return entry_case("whatif " + name, layout, args, text, exit_code, lang=lang,
                      unchanged=True, before_run=stamp_drive, check=untouched,
                      **({"drives": drives} if drives else {}))


def with_files(layout, *names):
    def extra(root, folder):
        for name in names:
            bl.write(os.path.join(root, *name.split("\\")), b"to throw\n")
    return {"T": build_bin(layout, STANDARD, extra=extra)}


for L in LAYOUTS:
    emptied = [n for n in REMOVED[L.key] if n != "$RZZZZZ9.txt"]  # a $I file without its $R item
    CASES += [
        whatif("restore 1,3", L, ["1,3", "/whatif"],
               [detail_block(L, NOTES, 1), msg("MSG_WHATIF_RESTORE", EN, source_of(L, NOTES), NOTES.path),
                detail_block(L, REPORT, 3), msg("MSG_WHATIF_RESTORE", EN, source_of(L, REPORT), REPORT.path)]),
        whatif("delete 2", L, ["2", "/WhatIf", "/delete"],
               [detail_block(L, PROJECT, 2), msg("MSG_WHATIF_DELETE", EN, source_of(L, PROJECT))]),
        whatif("ja restore 3 into a folder", L, ["3", "--whatif", KEEP],
               [detail_block(L, REPORT, 3, JA), msg("MSG_WHATIF_RESTORE", JA, source_of(L, REPORT),
                                             KEEP + "report.doc")], lang=JA),
        # The codes the real run would give, where they are known beforehand.
        whatif("restore 1,4 of 3", L, ["1,4", "-whatif"], [msg("MSG_ERR_INDEX_RANGE", EN, 3)], 23,
               done=False),
        whatif("restore onto an existing file", L, ["3,1", "/whatif"],
               [detail_block(L, NOTES, 1), msg("MSG_ERR_RESTORE_FAILED", EN, NOTES.path)], 62,
               drives=with_files(L, "work\\notes.txt")),
        whatif("restore into a folder that is gone", L, ["1", "/whatif", "T:\\nowhere\\"],
               [detail_block(L, NOTES, 1), msg("MSG_ERR_RESTORE_FAILED", EN, "T:\\nowhere\\notes.txt")], 62),
        entry_case("whatif empty", L, ["/empty", "/whatif"],
                   out(EN, head(L), *[msg("MSG_WHATIF_DELETE", EN, f"{L.folder}\\{n}") for n in emptied],
                       msg("MSG_WHATIF_DONE", EN)),
                   0, drives=full_bin(L), unchanged=True, before_run=stamp_drive, check=untouched),
        entry_case("whatif empty of an empty bin", L, ["/whatif", "/empty", "/Y"],
                   out(EN, head(L), msg("MSG_ALREADY_EMPTY", EN)), 3, drives={"T": build_bin(L, [])},
                   unchanged=True, before_run=stamp_drive, check=untouched),
        whatif("throw", L, ["/f", "T:\\work\\a.txt", "T:\\tmp\\b", "/whatif"],
               [msg("MSG_WHATIF_THROW", EN, "T:\\work\\a.txt"), msg("MSG_WHATIF_THROW", EN, "T:\\tmp\\b")],
               drives=with_files(L, "work\\a.txt", "tmp\\b")),
        whatif("throw a name that is not there", L, ["/f", "T:\\work\\none.txt", "/whatif"],
               [msg("MSG_ERR_FILE_INVALID", EN, "T:\\work\\none.txt")], 25),
    ]

    CASES += [
        whatif("restore 1,4 into one folder", L, ["1,4", "/whatif", KEEP],
               [detail_block(L, NOTES, 1), msg("MSG_WHATIF_RESTORE", EN, source_of(L, NOTES), KEEP + "notes.txt"),
                detail_block(L, TWIN, 4), msg("MSG_ERR_RESTORE_FAILED", EN, KEEP + "notes.txt")], 62,
               drives={"T": build_bin(L, MORE)}),
        whatif("restore 2,5: the second into the first", L, ["2,5", "/whatif"],
               [detail_block(L, PROJECT, 2), msg("MSG_WHATIF_RESTORE", EN, source_of(L, PROJECT), PROJECT.path),
                detail_block(L, INNER, 5), msg("MSG_WHATIF_RESTORE", EN, source_of(L, INNER), INNER.path)],
               drives={"T": build_bin(L, MORE)}),
    ]

# /whatif where it does not apply is an invalid command line.
for args in (["/whatif"], ["/view", "/whatif"], ["/whatif", "/?"]):
    CASES.append(entry_case("whatif with " + " ".join(args), INFO2, args,
                            banner() + command_line_error(EN), 21, unchanged=True))
