"""Index lists ("1,3", "2-3") and /whatif, in the three layouts.

The bins are those of cases_entry.py (1 notes.txt, 2 the folder "old
project", 3 report.doc), with 4, a second notes.txt. A list names entries of
the listing before the run: after entry 1 left, 3 is still report.doc. The
store's bytes are checked as each removal in turn makes them. /whatif must
leave every byte and every time of the drive as it was.
"""

import hashlib
import os
import threading

import binlayout as bl
from cases_empty import REMOVED, full_bin
from cases_entry import (LAYOUTS, NOTES, PROJECT, REPORT, STANDARD, T3, Item, assert_consistent, bin_names,
                         build_bin, changed_only, detail_block, entry_case, head, index_after_removal, live,
                         moved, out, question, removed, restoring, source_of)
from rig import banner
from texts import EN, JA, command_line_error, msg

TWIN = Item(4, "DDDDD4", "T:\\tmp\\notes.txt", T3, 100)
MORE = STANDARD + [TWIN]
KEEP = "T:\\keep\\"


def several(name, layout, args, steps, exit_code=0, lang=EN, keys=None):
    """steps: (number, item, target path, or None to delete, answer text or None, declined)."""
    parts, gone = [head(layout, lang)], []
    for number, it, target, answered, declined in steps:
        parts += [detail_block(layout, it, number, lang), answered or ""]
        if declined:
            parts.append(msg("MSG_CANCELED", lang))
            continue
        gone.append((it, target and target[3:].replace("\\", "/")))
        parts += ([restoring(layout, it, target, lang), msg("MSG_RESTORE_OK", lang)] if target else
                  [msg("MSG_DELETING_ONE", lang, source_of(layout, it)), msg("MSG_DELETE_OK", lang)])

    def check(result):
        before = result.before["T"]
        changes = {}
        for it, target in gone:
            source = layout.rel + "/" + it.data_name(layout)
            changes.update(moved(before, source, target) if target else removed(before, source))
            changes[layout.rel + "/$I" + it.code + it.ext()] = None
        if not layout.items:  # each record marked in turn, on what the one before left
            index_rel = layout.rel + "/" + layout.index_name
            data, names, left = before[index_rel], bin_names(before, layout), live(MORE)
            for it, _ in gone:
                names = [n for n in names if n != it.data_name(layout)]
                data = index_after_removal(data, layout, it.number, [x.size for x in left], names)
                left = [x for x in left if x is not it]
            changes[index_rel] = data
        changed_only(result, changes)
        assert_consistent(result, layout)
    return entry_case(name, layout, args, out(lang, *parts), exit_code, lang=lang, keys=keys, items=MORE,
                      check=check)


# /whatif: the drive hashed with every name, size, content and time around the run.
_digests, _lock = {}, threading.Lock()


def drive_digest(folder):
    digest = hashlib.sha256()
    for dirpath, _, filenames in sorted(os.walk(folder)):
        for path in [dirpath] + [os.path.join(dirpath, n) for n in sorted(filenames)]:
            st = os.lstat(path)
            digest.update(repr((os.path.relpath(path, folder), st.st_mode, st.st_size, st.st_mtime_ns)).encode())
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    digest.update(f.read())
    return digest.hexdigest()


def stamp_drive(folders, stdout_path):
    before = drive_digest(folders["T"])

    def after():
        with _lock:
            _digests[folders["T"]] = (before, drive_digest(folders["T"]))
    return after


def untouched(result):
    with _lock:
        before, after = _digests.pop(result.folders["T"])
    assert before == after, "the drive's bytes or times changed"


def whatif(name, layout, args, lines, exit_code=0, lang=EN, drives=None, done=True):
    text = out(lang, head(layout, lang), *lines, msg("MSG_WHATIF_DONE", lang) if done else "")
    return entry_case("whatif " + name, layout, args, text, exit_code, lang=lang, items=MORE, unchanged=True,
                      before_run=stamp_drive, check=untouched, **({"drives": drives} if drives else {}))


def with_files(layout, *names):
    def extra(root, folder):
        for name in names:
            bl.write(os.path.join(root, *name.split("\\")), b"x\n")
    return {"T": build_bin(layout, MORE, extra=extra)}


CASES = []
for L in LAYOUTS:
    d = lambda it, n, lang=EN: detail_block(L, it, n, lang)  # noqa: E731
    CASES += [
        several("restore 1,3", L, ["1,3", "/Y"], [(1, NOTES, NOTES.path, None, 0), (3, REPORT, REPORT.path, None, 0)]),
        several("delete 3,1,1", L, ["3,1,1", "/delete", "/Y"], [(1, NOTES, None, None, 0), (3, REPORT, None, None, 0)]),
        several("ja restore 2-3 into a folder", L, ["2-3", "/Y", KEEP],
                [(2, PROJECT, KEEP + "old project", None, 0), (3, REPORT, KEEP + "report.doc", None, 0)], lang=JA),
        several("restore 1,3 answering y then n", L, ["1,3"], [(1, NOTES, NOTES.path, question(True) + "Y\n", 0),
                                                               (3, REPORT, None, question(True) + "N\n", 1)],
                exit_code=2, keys=["y", "n"]),
        entry_case("restore 1,5 of 4", L, ["1,5", "/Y"], out(EN, head(L), msg("MSG_ERR_INDEX_RANGE", EN, 4)), 23,
                   items=MORE, unchanged=True),
        entry_case("restore 1,3 to a path without a separator", L, ["1,3", "T:\\keep\\x", "/Y"],
                   banner() + command_line_error(EN), 21, unchanged=True),

        whatif("restore 1,3", L, ["1,3", "/whatif"],
               [d(NOTES, 1), msg("MSG_WHATIF_RESTORE", EN, source_of(L, NOTES), NOTES.path),
                d(REPORT, 3), msg("MSG_WHATIF_RESTORE", EN, source_of(L, REPORT), REPORT.path)]),
        whatif("ja delete 2", L, ["2", "/WhatIf", "/delete"],
               [d(PROJECT, 2, JA), msg("MSG_WHATIF_DELETE", JA, source_of(L, PROJECT))], lang=JA),
        whatif("restore 1,5 of 4", L, ["1,5", "-whatif"], [msg("MSG_ERR_INDEX_RANGE", EN, 4)], 23, done=False),
        # The second notes.txt would meet the first in the folder.
        whatif("restore 4,1 into a folder", L, ["4,1", "--whatif", KEEP],
               [d(NOTES, 1), msg("MSG_WHATIF_RESTORE", EN, source_of(L, NOTES), KEEP + "notes.txt"),
                d(TWIN, 4), msg("MSG_ERR_RESTORE_FAILED", EN, KEEP + "notes.txt")], 62),
        whatif("restore onto an existing file", L, ["1", "/whatif"],
               [d(NOTES, 1), msg("MSG_ERR_RESTORE_FAILED", EN, NOTES.path)], 62,
               drives=with_files(L, "work\\notes.txt")),
        entry_case("whatif empty", L, ["/empty", "/whatif"],
                   out(EN, head(L), *[msg("MSG_WHATIF_DELETE", EN, f"{L.folder}\\{n}") for n in REMOVED[L.key]
                                      if n != "$RZZZZZ9.txt"], msg("MSG_WHATIF_DONE", EN)),
                   0, drives=full_bin(L), unchanged=True, before_run=stamp_drive, check=untouched),
        entry_case("whatif empty of an empty bin", L, ["/whatif", "/empty", "/Y"],
                   out(EN, head(L), msg("MSG_ALREADY_EMPTY", EN)), 3, drives={"T": build_bin(L, [])},
                   unchanged=True, before_run=stamp_drive, check=untouched),
        whatif("throw", L, ["/f", "T:\\work\\a.txt", "T:\\tmp\\b", "T:\\none", "/whatif"],
               [msg("MSG_WHATIF_THROW", EN, "T:\\work\\a.txt"), msg("MSG_WHATIF_THROW", EN, "T:\\tmp\\b"),
                msg("MSG_ERR_FILE_INVALID", EN, "T:\\none")], 25, drives=with_files(L, "work\\a.txt", "tmp\\b")),
        entry_case("whatif with /view", L, ["/view", "/whatif"], banner() + command_line_error(EN), 21,
                   unchanged=True),
    ]
