"""The scenarios of the fault-injection tests: the drive they run on (a bin
of three entries in each store layout, and files outside it), the commands,
the fault kinds, the exit codes and messages of the program, and the
partial states a command may leave, each with why nothing is lost.

Imported through run_faults, which puts tests/e2e (binlayout) on the path.
"""

import os

import binlayout as bl

SID = "S-1-5-21-1004336348-1177238915-682003330-1000"
# layout: (bin folder on T:, index file name, record size)
LAYOUTS = {
    "info": ("Recycled", "INFO", bl.INFO_RECORD_SIZE),
    "info2": ("Recycler/" + SID, "INFO2", bl.INFO2_RECORD_SIZE),
    "items": ("$RECYCLE.BIN/" + SID, None, None),
}
DRIVE_T = ord("t") - ord("a")
WHEN = 1_300_000_000

# The bin's three entries: a file, a directory of two files, a file. The
# directory is the one /delete takes, so that a half-removed tree shows.
ENTRIES = [
    dict(path="T:\\docs\\report.txt", data=b"report\n", code="AAAAA1"),
    dict(path="T:\\docs\\photos", data={"inside.txt": b"one\n", "second.txt": b"two\n"}, code="BBBBB2"),
    dict(path="T:\\docs\\notes.txt", data=b"notes\n", code="CCCCC3"),
]
OUTSIDE = {
    "docs/keep.txt": b"keep\n",
    "docs/new.txt": b"new file\n",
    "docs/a.log": b"log a\n",
    "docs/b.log": b"log b\n",
}

# name: (arguments, command kind, extra)
SCENARIOS = {
    "list": (["/view"], "list", {}),
    "list-path": (["<bin>", "/view"], "list", {}),
    "restore": (["1", "/Y"], "restore", {}),
    "restore-to": (["3", "T:\\out\\", "/Y"], "restore", {"target_dir": "out"}),
    "delete": (["2", "/delete", "/Y"], "delete", {}),
    # Several entries: "chosen" are their places in the listing.
    "restore-list": (["3,1", "T:\\out\\", "/Y"], "restore", {"target_dir": "out", "chosen": [0, 2]}),
    "delete-list": (["2-3", "/delete", "/Y"], "delete", {"chosen": [1, 2]}),
    "empty": (["/empty", "/Y"], "empty", {}),
    "throw": (["/f", "T:\\docs\\new.txt", "/Y"], "throw", {"thrown": ["docs/new.txt"]}),
    "throw-many": (["/f", "T:\\docs\\*.log", "/Y"], "throw", {"thrown": ["docs/a.log", "docs/b.log"]}),
}

KINDS = {
    "alloc": (("once", "DUSTPAIL_FAIL_ALLOC"), ("from", "DUSTPAIL_FAIL_ALLOC_FROM")),
    "syscall": (("once", "DUSTPAIL_FAIL_SYSCALL"), ("from", "DUSTPAIL_FAIL_SYSCALL_FROM")),
}

EXIT_CODES = {0, 1, 2, 3, 11, 21, 22, 23, 24, 25, 26, 27, 28, 29, 61, 62, 63, 64, 65, 66, 254, 255}
# The messages each error code may be reported with.
CODE_MESSAGE = {
    1: ("MSG_USAGE",), 2: ("MSG_CANCELED",), 3: ("MSG_ALREADY_EMPTY",), 21: ("MSG_ERR_COMMAND_LINE",),
    22: ("MSG_ERR_BIN_INVALID",), 23: ("MSG_ERR_INDEX_RANGE",), 24: ("MSG_ERR_NO_FILES",),
    25: ("MSG_ERR_FILE_INVALID",), 26: ("MSG_ERR_DRIVE_MISMATCH",), 27: ("MSG_ERR_DRIVE_ACCESS",),
    28: ("MSG_ERR_BIN_NOT_FOUND",), 29: ("MSG_ERR_NOTHING_TO_THROW",), 61: ("MSG_ERR_READ_FAILED",),
    # A restore or delete whose entry left the bin after it was listed.
    62: ("MSG_ERR_RESTORE_FAILED", "MSG_ERR_ENTRY_CHANGED"),
    63: ("MSG_ERR_DELETE_FAILED", "MSG_ERR_ENTRY_CHANGED"),
    64: ("MSG_ERR_EMPTY_FAILED",), 65: ("MSG_ERR_CREATE_FAILED",), 66: ("MSG_ERR_BIN_BUSY",),
    254: ("MSG_ERR_NO_MEMORY",), 255: ("MSG_ERR_UNKNOWN",),
}

SUCCESS_MESSAGE = {"list": "MSG_FILE_COUNT", "restore": "MSG_RESTORE_OK", "delete": "MSG_DELETE_OK",
                   "empty": "MSG_EMPTIED", "throw": "MSG_THROW_OK",
                   "empty-selected": "MSG_SELECTED_DELETED"}
WARNING_MESSAGE = {"restore": "MSG_WARN_MOVED_NOT_UNREGISTERED",
                   "delete": "MSG_WARN_DELETED_NOT_UNREGISTERED"}

ERROR_CODES = {c for c in EXIT_CODES if c >= 20}

# The partial states a command may leave when a step fails or the disk goes
# away, each with the exit codes it must be reported with, and why nothing is
# lost: every item is in place, where the command put it, or in the bin with
# its own record. Any other state fails the run.
PARTIAL_STATES = {
    ("restore", "moved, still registered"): (
        {11}, "the item is where it was restored to; its record stays live without its item, so it "
              "lists nothing and keeps its number from any later item: warned with code 11"),
    ("restore", "moved, header counts stale"): (
        {11}, "the record is removed but the header's counts were not rewritten: warned with code 11"),
    ("delete", "deleted, still registered"): (
        {11, 63}, "the item is gone as asked; its record stays live without its item, so it lists "
                  "nothing and keeps its number from any later item: warned with code 11, or 63 "
                  "when the check that the item is gone failed, so its record was kept"),
    ("delete", "deleted, header counts stale"): (
        {11}, "the record is removed but the header's counts were not rewritten: warned with code 11"),
    ("restore", "some restored"): (
        ERROR_CODES, "of several entries, the first ones are restored and the run stopped at an "
                     "error: the others are in the bin with their records"),
    ("delete", "some deleted"): (
        ERROR_CODES, "of several entries, the first ones are deleted and the run stopped at an "
                     "error: the others are in the bin with their records"),
    ("delete", "directory partly removed"): (
        {63}, "deleting a directory failed half way; it stays listed with what is left"),
    ("empty", "partly emptied"): (
        ERROR_CODES, "what could not be removed keeps its record or $I file and stays listed; the "
                     "records of what went are marked removed, or stay live without their items "
                     "(and list nothing) when the disk went away"),
    ("empty", "emptied, index not reset"): (
        ERROR_CODES, "every item went, but the index could not be cut back to its header: its live "
                     "records list nothing, since their items are gone"),
    ("throw", "some thrown"): (
        ERROR_CODES, "the items before the failure are in the bin with their records, the rest in "
                     "place"),
    ("throw", "live record without item"): (
        ERROR_CODES, "the move failed and taking the record back failed as well (disk gone); the "
                     "record lists nothing and keeps its number"),
    ("throw", "header counts stale"): (
        ERROR_CODES, "a write failed and putting the header back failed as well (disk gone)"),
    ("throw", "item index without its item"): (
        ERROR_CODES, "writing the $I file or moving the item failed, and removing the new $I file "
                     "failed as well (disk gone): it names an item that is still in place"),
}


# States that only a lasting fault may leave: the program's clean-up after a
# failed step meets the same fault again. After a single failed call the
# clean-up must work.
LASTING_FAULT_ONLY = {"live record without item", "item index without its item", "header counts stale"}

# The calls through which loading reads the store.
LOAD_CALLS = ("read", "findFirstFileW", "findNextFileW")


# ----------------------------------------------------------------- the drive

def bin_rel(layout):
    return LAYOUTS[layout][0]


def lay_out_drive(folder, layout):
    """The scenario's drive T: the bin of three entries and the files outside."""
    for rel, data in OUTSIDE.items():
        bl.write(os.path.join(folder, rel), data)
    os.makedirs(os.path.join(folder, "out"))
    binfolder = os.path.join(folder, *bin_rel(layout).split("/"))
    relfolder, index_name, record_size = LAYOUTS[layout]
    if index_name is not None:
        records = []
        for number, e in enumerate(ENTRIES):
            directory = isinstance(e["data"], dict)
            records.append(dict(number=number, drive=DRIVE_T, time=bl.filetime(WHEN + number),
                                size=4096 * (number + 1), ansi=e["path"].encode("cp1252"),
                                wide=e["path"], directory=directory))
        bl.build_index_bin(binfolder, index_name, record_size, records, items=False,
                           desktop_ini=bl.DESKTOP_INI_OLD)
        names = [bl.data_item_name("t", r["number"], r["wide"]) for r in records]
    else:
        bl.build_item_bin(binfolder, [], desktop_ini=bl.DESKTOP_INI_MARKER)
        names = []
        for number, e in enumerate(ENTRIES):
            own = e["path"].rsplit("\\", 1)[-1]
            ext = "." + own.rsplit(".", 1)[1] if "." in own else ""
            bl.write(os.path.join(binfolder, "$I" + e["code"] + ext),
                     bl.item_info_v2(len(e["data"]) if isinstance(e["data"], bytes) else 0,
                                     bl.filetime(WHEN + number), e["path"]))
            names.append("$R" + e["code"] + ext)
    for name, e in zip(names, ENTRIES):
        target = os.path.join(binfolder, name)
        if isinstance(e["data"], dict):
            for rel, data in e["data"].items():
                bl.write(os.path.join(target, rel), data)
        else:
            bl.write(target, e["data"])
