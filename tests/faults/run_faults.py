#!/usr/bin/env python3
"""Fault injection: every command on every store layout, run once per fault point.

For one layout and one kind of fault (allocation or system call), each
scenario (a command on a small bin of three entries) is first run without a
fault, which must succeed; then with the 1st, 2nd, 3rd ... fault point made to
fail, until a run no longer meets its fault. Two modes per kind: "once" (only
that allocation or call fails; later ones succeed again, so the program can
still report) and "from" (that one and every later one fail: memory or the
disk gone for good). dustpail-faults (tests/faults/main.cpp) carries the
fault; see there for the environment it reads.

Every run must:
- end by itself: no signal, nothing on stderr (a sanitizer report), an exit
  code of the program's table, a complete last line that is a catalogue
  message (or a line of the listing), and the message of its exit code
  printed;
- leave the drive in a state that the command may leave: as before, as after
  success, or one of the partial states below, each with the exit code it
  must be reported with. The bin is read back by the independent reader
  below, not by the program.

The partial states are counted by name and printed; each is one that loses
nothing, and must be reported with the codes PARTIAL_STATES gives it. Every
other state fails the test.

  run_faults.py --program build/native/tests/faults/dustpail-faults \\
                --layout info2 --kind alloc [--scenario restore] [-v]
  run_faults.py --table summary-*.json      figures for docs/robustness.md
"""

import argparse
import collections
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
sys.dont_write_bytecode = True

import binlayout as bl  # noqa: E402
from texts import MESSAGES  # noqa: E402

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


def printed_any(lines, names):
    return any(printed(lines, name) for name in names)
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


class Violation(Exception):
    pass


# ----------------------------------------------------------------- catalogue

def _pattern(text):
    """A catalogue text (printf format) as a regular expression of one line."""
    out = ""
    i = 0
    while i < len(text):
        m = re.match(r"%-?\d*([sdcu])", text[i:])
        if m:
            out += {"s": ".*", "d": r"-?\d+", "u": r"\d+", "c": "."}[m.group(1)]
            i += m.end()
        else:
            out += re.escape(text[i])
            i += 1
    return out


MESSAGE_LINES = {}   # name -> regex matching its lines
for _name, _en, _ja in MESSAGES:
    MESSAGE_LINES[_name] = [re.compile(_pattern(line)) for line in _en.split("\n") if line.strip()]
LISTING_LINE = re.compile(r"\[ *\d+\] .* (\d{4}/\d\d/\d\d \d\d:\d\d:\d\d|\?{4}/\?\?/\?\? \?\?:\?\?:\?\?) "
                          r"(<DIR> |      )[A-][S-][H-][R-]")


def printed(lines, name):
    """True when the message's first line is among the output's lines."""
    first = MESSAGE_LINES[name][0]
    return any(first.fullmatch(line) for line in lines)


def is_catalogue_line(line):
    return any(p.fullmatch(line) for patterns in MESSAGE_LINES.values() for p in patterns)


# ----------------------------------------------------------------- drives

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


DIR = "<dir>"


def snapshot(folder):
    """{relpath: bytes or DIR} below folder, relpaths with '/'."""
    tree = {}
    for dirpath, dirnames, filenames in os.walk(folder):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, folder)
            if os.path.isdir(path) and not os.path.islink(path):
                tree[rel] = DIR
            else:
                with open(path, "rb") as f:
                    tree[rel] = f.read()
    return tree


def subtree(tree, rel):
    """The content of a file (bytes) or directory (frozenset of (relpath, bytes)) or None."""
    if rel not in tree:
        return None
    if tree[rel] is not DIR:
        return tree[rel]
    prefix = rel + "/"
    return frozenset((k[len(prefix):], v) for k, v in tree.items() if k.startswith(prefix))


# ----------------------------------------------------------------- reading the bin

DATA_ITEM = re.compile(r"^[Dd](.)(0|[1-9][0-9]*)(\..*)?$", re.S)

# One registered item: key (path, number, time) or (path, $I name); data
# None when its data item is missing; item the data item's name.
Entry = collections.namedtuple("Entry", "key path data size item")


class View:
    """What a drive tree holds, as a reader of the store sees it."""

    def __init__(self, tree, layout):
        self.tree = tree
        self.layout = layout
        self.binrel = bin_rel(layout)
        prefix = self.binrel + "/"
        self.outside = {k: v for k, v in tree.items()
                        if k != self.binrel and not k.startswith(prefix)
                        and not self.binrel.startswith(k + "/")}
        self.children = {k[len(prefix):]: v for k, v in tree.items()
                         if k.startswith(prefix) and "/" not in k[len(prefix):]}
        self.entries = []     # Entry, listed by a reader, or with data None
        self.orphans = []     # (name, data)
        self.registered = set()
        self.taken_twice = False   # two live records of one data item name
        self.unreadable = []       # $I files too short to read
        self.problems = []
        if LAYOUTS[layout][1] is not None:
            self._read_index()
        else:
            self._read_items()

    def content(self, name):
        return subtree(self.tree, self.binrel + "/" + name)

    def _read_index(self):
        _, name, record_size = LAYOUTS[self.layout]
        raw = self.children.get(name)
        self.index = raw
        self.header = None
        self.records = []
        if not isinstance(raw, bytes) or len(raw) < 20:
            self.problems.append("index missing or shorter than its header")
            return
        self.header = struct.unpack("<5I", raw[:20])
        if self.header[3] != record_size:
            self.problems.append(f"record size {self.header[3]}")
            return
        body = raw[20:]
        if len(body) % record_size:
            self.problems.append(f"index of {len(raw)} bytes ends in a piece of a record")
        self.records = [body[i:i + record_size] for i in range(0, len(body) - record_size + 1, record_size)]
        items = {}
        for child in sorted(self.children):
            m = DATA_ITEM.match(child)
            if m:
                items.setdefault((m.group(1).lower(), int(m.group(2))), child)
        claimed = set()
        numbers = set()
        for rec in self.records:
            if rec[0] == 0:
                continue
            number, drive, when, size = struct.unpack("<IIQI", rec[260:280])
            if record_size >= 800:
                path = rec[280:800].decode("utf-16-le", "replace").split("\0")[0]
            else:
                path = rec[:260].split(b"\0")[0].decode("cp1252", "replace")
            key = (path, number, when)
            self.registered.add(key)
            if (drive, number) in numbers:
                self.taken_twice = True
            numbers.add((drive, number))
            # A record off its boundary may hold any drive number.
            letter = chr(ord("a") + drive) if ord("a") + drive <= 0x10FFFF else None
            item = items.get((letter, number))
            if item is None:
                continue
            claimed.add(item)
            self.entries.append(Entry(key, path, self.content(item), size, item))
        for child in self.children:
            if DATA_ITEM.match(child) and child not in claimed:
                self.orphans.append((child, self.content(child)))

    def _read_items(self):
        self.index = None
        self.header = None
        infos = set()
        for child, data in sorted(self.children.items()):
            if not (child[:2] in ("$I", "$i") and isinstance(data, bytes)):
                continue
            infos.add(child[2:])
            version = struct.unpack("<Q", data[:8])[0] if len(data) >= 8 else None
            if version == 2 and len(data) >= 28:
                count = struct.unpack("<I", data[24:28])[0]
                path = data[28:28 + 2 * count].decode("utf-16-le", "replace").split("\0")[0]
            elif len(data) >= 544:
                path = data[24:544].decode("utf-16-le", "replace").split("\0")[0]
            else:
                self.unreadable.append(child)  # readers pass it over
                continue
            size, when = struct.unpack("<QQ", data[8:24])
            key = (path, child)
            self.registered.add(key)
            item = "$R" + child[2:]
            self.entries.append(Entry(key, path, self.content(item), size & 0xFFFFFFFF, item))
        for child in self.children:
            if child[:2] in ("$R", "$r") and child[2:] not in infos:
                self.orphans.append((child, self.content(child)))

    def listed(self):
        return [e for e in self.entries if e.data is not None]

    def header_consistent(self):
        """Counts of the index header against the entries a reader lists."""
        if self.header is None:
            return True
        listed = self.listed()
        return self.header[1] == len(listed) and self.header[4] == sum(e.size for e in listed)


# ----------------------------------------------------------------- states

def target_rel(path, extra):
    """Where a restored entry goes, as a relpath of drive T:."""
    if "target_dir" in extra:
        return extra["target_dir"] + "/" + path.rsplit("\\", 1)[-1]
    assert path[:3].upper() == "T:\\", path
    return path[3:].replace("\\", "/")


def outside_files(view):
    return {k: v for k, v in view.outside.items() if v is not DIR}


def same_records(before, after, allowed_zeroed=()):
    """Index records of `before` still in place, byte for byte, except that
    the ones listed may have been marked removed. Returns the records that
    were appended after them."""
    if len(after.records) < len(before.records):
        raise Violation(f"the index lost records ({len(before.records)} -> {len(after.records)})")
    for i, (old, new) in enumerate(zip(before.records, after.records)):
        if old == new:
            continue
        if i in allowed_zeroed and new == b"\0" + old[1:]:
            continue
        raise Violation(f"record {i} changed")
    return after.records[len(before.records):]


def entry_state(command, before, after, entry, extra):
    """What a restore or delete did to one entry: "done" or a partial state."""
    registered = entry.key in after.registered
    left = after.content(entry.item)
    if left is not None and not registered:
        raise Violation(f"{entry.path}: no longer registered, but its data is still in the bin")
    if command == "restore":
        target = target_rel(entry.path, extra)
        if subtree(after.tree, target) != entry.data or subtree(before.tree, target) is not None:
            raise Violation(f"{entry.path}: neither in the bin nor restored to {target}")
    if left is not None:
        # Only a directory that a delete emptied half way may be left, and
        # it must stay listed.
        if not (command == "delete" and registered and isinstance(left, frozenset) and left < entry.data):
            raise Violation(f"{entry.path}: " + ("changed in the bin" if registered else
                                                 "no longer registered, but its data is still in the bin"))
        return "directory partly removed"
    if registered:
        return "moved, still registered" if command == "restore" else "deleted, still registered"
    return "done"


def classify_restore_or_delete(command, before, after, extra):
    """The state a restore or delete left: "unchanged", "done" or a partial
    state. With several entries chosen they are handled in listing order and
    the run stops at an error, so the ones changed come first."""
    if after.tree == before.tree:
        return "unchanged"
    chosen = [before.listed()[i] for i in extra.get("chosen", [])]
    changed = [e for e in before.listed() if e not in after.entries]
    if not chosen and len(changed) != 1:
        raise Violation(f"{len(changed)} entries changed")
    if chosen and (not changed or changed != chosen[:len(changed)]):
        raise Violation(f"entries changed: {[e.path for e in changed]}, not the first of those chosen")
    states = [entry_state(command, before, after, e, extra) for e in changed]
    targets = [target_rel(e.path, extra) for e in changed] if command == "restore" else []
    others = {k: v for k, v in outside_files(after).items()
              if not any(k == t or k.startswith(t + "/") for t in targets)}
    if others != outside_files(before):
        raise Violation("files outside the bin changed" + (" besides the restored ones" if targets else ""))
    # The store: the records (or $I files) of the entries that went alone
    # may have gone.
    done = [e for e, state in zip(changed, states) if state == "done"]
    partial = [state for state in states if state != "done"]
    if before.index is not None:
        if not done and after.index != before.index:
            raise Violation(f"{partial[0]}, yet the index changed")
        numbers = {e.key[1] for e in done}
        record = [i for i, r in enumerate(before.records)
                  if r[0] != 0 and struct.unpack("<I", r[260:264])[0] in numbers]
        if same_records(before, after, allowed_zeroed=record):
            raise Violation("records appended")
        if done and not after.header_consistent():
            partial.append("moved, header counts stale" if command == "restore" else "deleted, header counts stale")
    else:
        gone = set(before.children) - set(after.children)
        new = set(after.children) - set(before.children)
        if new:
            raise Violation(f"new files in the bin: {sorted(new)}")
        if not gone <= {name for e in changed for name in (e.key[1], e.item)}:
            raise Violation(f"other items removed: {sorted(gone)}")
    if len(changed) < len(chosen):
        return "some restored" if command == "restore" else "some deleted"
    return partial[0] if partial else "done"


def classify_empty(before, after):
    if after.tree == before.tree:
        return "unchanged"
    if outside_files(after) != outside_files(before):
        raise Violation("files outside the bin changed")
    for name, data in after.children.items():
        if name not in before.children:
            raise Violation(f"new file in the bin: {name}")
    left_items = []
    for name, data in after.children.items():
        if before.index is not None and name == LAYOUTS[before.layout][1]:
            continue
        if name.lower() == "desktop.ini":
            if data != before.children[name]:
                raise Violation("desktop.ini changed")
            continue
        if after.content(name) != before.content(name):
            # A directory whose removal stopped half way.
            was, now = before.content(name), after.content(name)
            if not (isinstance(was, frozenset) and isinstance(now, frozenset) and now < was):
                raise Violation(f"{name} changed")
        left_items.append(name)
    # Every item that was listed and is still there is still listed.
    listed_after = {e.item for e in after.listed()}
    for e in before.listed():
        if after.content(e.item) is not None and e.item not in listed_after:
            raise Violation(f"{e.item} is left in the bin, but no longer listed")
    if before.index is not None:
        raw = after.index
        reset = struct.pack("<5I", before.header[0], 0, 0, before.header[3], 0)
        if not left_items and raw == reset:
            return "done"
        if raw is None or len(raw) != len(before.index):
            raise Violation(f"index rewritten as {raw[:40]!r} ({len(raw or b'')} bytes)")
        # Records stay in place; only their first bytes may be cleared.
        same_records(before, after, allowed_zeroed=range(len(before.records)))
        return "partly emptied" if left_items else "emptied, index not reset"
    if left_items:
        return "partly emptied"
    return "done"


def classify_throw(before, after, extra):
    """Every thrown file is still outside, or listed in the bin with its content."""
    thrown = extra["thrown"]
    outside_before = outside_files(before)
    outside_after = outside_files(after)
    untouched = {k: v for k, v in outside_before.items() if k not in thrown}
    if {k: v for k, v in outside_after.items() if k not in thrown} != untouched:
        raise Violation("files outside the bin changed besides the thrown ones")
    if after.taken_twice:
        return "record number taken twice"
    for e in before.entries:
        if e not in after.entries:
            raise Violation(f"entry {e.path} changed")
    new_entries = [e for e in after.entries if e not in before.entries]
    new_orphans = [o for o in after.orphans if o not in before.orphans]
    states = set()
    moved = 0
    listed = []
    for rel in thrown:
        content = outside_before[rel]
        path = "T:\\" + rel.replace("/", "\\")
        if outside_after.get(rel) == content:
            continue
        if rel in outside_after:
            raise Violation(f"{rel} changed")
        moved += 1
        match = [e for e in new_entries if e.path == path and e.data == content]
        if len(match) == 1:
            listed.append(match[0])
        elif any(o[1] == content for o in new_orphans):
            states.add("thrown item without record")
        else:
            raise Violation(f"{path} is neither in place nor listed once in the bin")
    if [e for e in new_entries if e.data is not None and e not in listed]:
        raise Violation("the bin lists new entries that no thrown item accounts for")
    if before.index is not None:
        for rec in same_records(before, after):
            if rec[0] == 0:
                continue  # taken back after a failed move
            number = struct.unpack("<I", rec[260:264])[0]
            if not any(e.key[1] == number for e in listed):
                states.add("live record without item")
        if not after.header_consistent():
            states.add("header counts stale")
    elif [e for e in new_entries if e.data is None] or set(after.unreadable) - set(before.unreadable):
        states.add("item index without its item")
    if after.taken_twice:
        return "record number taken twice"
    # A record without its item, or an item without its record, carries the
    # header's counts with it.
    if len(states) > 1:
        states.discard("header counts stale")
    if len(states) > 1:
        raise Violation("several partial states: " + ", ".join(sorted(states)))
    if states:
        return states.pop()
    if moved == 0:
        return "unchanged"
    return "done" if moved == len(thrown) else "some thrown"


# ----------------------------------------------------------------- running

class Runner:
    def __init__(self, program, work, layout, verbose):
        self.program = os.path.abspath(program)
        self.work = os.path.abspath(work)
        self.layout = layout
        self.verbose = verbose
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        # Thousands of drives are laid out and removed: on a memory file
        # system where there is one, since removing folders on disk is slow.
        scratch = "/dev/shm" if os.access("/dev/shm", os.W_OK) else self.work
        self.scratch = tempfile.mkdtemp(prefix=f"faults-{layout}-", dir=scratch)
        self.template = os.path.join(self.scratch, "template")
        self.drive = os.path.join(self.scratch, "T")
        self.prefix = os.path.join(self.scratch, "prefix")
        os.makedirs(os.path.join(self.prefix, "dosdevices"))
        os.symlink(self.drive, os.path.join(self.prefix, "dosdevices", "t:"))
        lay_out_drive(self.template, layout)
        self.before = View(snapshot(self.template), layout)
        if self.before.problems or len(self.before.listed()) != len(ENTRIES):
            raise RuntimeError(f"the scenario's bin reads wrong: {self.before.problems}")
        self.report = os.path.join(self.work, "report")
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("LC_", "DUSTPAIL_FAIL")) and k not in ("LANG", "LANGUAGE")}
        self.env.update(LC_ALL="C.UTF-8", LANG="C.UTF-8", TZ="UTC", WINEPREFIX=self.prefix,
                        DUSTPAIL_FAULT_REPORT=self.report)

    def arguments(self, args):
        return [("T:\\" + bin_rel(self.layout).replace("/", "\\")) if a == "<bin>" else a for a in args]

    def close(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def run(self, args, fault_env):
        shutil.rmtree(self.drive, ignore_errors=True)
        shutil.copytree(self.template, self.drive, symlinks=True)
        if os.path.exists(self.report):
            os.unlink(self.report)
        env = dict(self.env)
        env.update(fault_env)
        proc = subprocess.run([self.program] + self.arguments(args), cwd=self.drive, env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60)
        report = {}
        if os.path.exists(self.report):
            for line in open(self.report):
                key, _, value = line.rstrip("\n").partition(" ")
                report[key] = value
        return proc, report, View(snapshot(self.drive), self.layout)

    def check(self, name, proc, report, after, mode=None, expect_success=False):
        """The state name of one run; raises Violation."""
        args, command, extra = SCENARIOS[name]
        if proc.returncode < 0:
            raise Violation(f"ended by signal {-proc.returncode}")
        if proc.stderr:
            raise Violation("wrote to stderr: " + proc.stderr.decode("utf-8", "replace")[:2000])
        if "met" not in report:
            raise Violation("no fault report: the run did not end through main or exit")
        code = proc.returncode
        if code not in EXIT_CODES:
            raise Violation(f"exit code {code} is not one of the program's")
        text = proc.stdout.decode("utf-8", "replace")
        if not text.endswith("\n"):
            raise Violation(f"output does not end with a line break: {text[-200:]!r}")
        lines = text.split("\n")[:-1]
        last = next((l for l in reversed(lines) if l.strip()), "")
        # A throw goes on after a failed load, with no message to close it
        # (code 61 stands): then the last line names the last item.
        if not (is_catalogue_line(last) or (command == "list" and LISTING_LINE.fullmatch(last))
                or (command == "throw" and code >= 20 and last.startswith("T:\\"))):
            raise Violation(f"last line is no catalogue message: {last!r}")
        if code == 0:
            if not printed(lines, SUCCESS_MESSAGE[command]):
                raise Violation(f"exit code 0 without {SUCCESS_MESSAGE[command]}")
        elif code == 11:
            if not printed(lines, WARNING_MESSAGE.get(command, "MSG_ERR_UNKNOWN")):
                raise Violation("exit code 11 without its warning")
        elif not printed_any(lines, CODE_MESSAGE[code]):
            raise Violation(f"exit code {code} without {' or '.join(CODE_MESSAGE[code])}")

        if command == "list":
            state = "unchanged" if after.tree == self.before.tree else None
            if state is None:
                raise Violation("a listing changed the drive")
        elif command in ("restore", "delete"):
            state = classify_restore_or_delete(command, self.before, after, extra)
        elif command == "empty":
            state = classify_empty(self.before, after)
        else:
            state = classify_throw(self.before, after, extra)
        if after.problems and state != "index truncated":
            raise Violation("the store reads wrong: " + "; ".join(after.problems))

        success = printed(lines, SUCCESS_MESSAGE[command])
        failed = report.get("failed", "").split()
        if expect_success:
            want = "unchanged" if command == "list" else "done"
            if code != 0 or state != want:
                raise Violation(f"without a fault: exit code {code}, state {state!r}")
            return state
        # How each state must be reported.
        if state == "unchanged":
            if command != "list" and code < 20 and code not in (2, 3):
                raise Violation(f"nothing changed, yet exit code {code}")
        elif state == "done":
            if code == 11 and command in WARNING_MESSAGE:
                state = "done, warned"
            elif code != 0 and not (mode == "from" and code >= 20):
                # With the disk gone for good, a step done may not be
                # confirmed, and is reported as failed.
                raise Violation(f"done, yet exit code {code}")
        if state in ("unchanged", "done"):
            pass
        elif state == "done, warned":
            pass  # the store's update could not be confirmed; the item is where it was asked to go
        elif (command, state) not in PARTIAL_STATES:
            raise Violation(f"state {state!r} is not one a {command} may leave")
        elif code not in PARTIAL_STATES[(command, state)][0]:
            raise Violation(f"{state}, yet exit code {code}")
        if state in LASTING_FAULT_ONLY and mode != "from":
            raise Violation(f"state {state!r} after a single failed call: the clean-up failed")
        return state


def run_kind(runner, kind, scenarios, modes, limit, verbose):
    """Runs every scenario through every fault point of `kind`. Returns the summary."""
    summary = {"layout": runner.layout, "kind": kind, "points": {}, "runs": 0, "states": {},
               "failures": []}
    for name in scenarios:
        args = SCENARIOS[name][0]
        proc, report, after = runner.run(args, {})
        summary["runs"] += 1
        try:
            runner.check(name, proc, report, after, expect_success=True)
        except Violation as e:
            summary["failures"].append(f"{name}, no fault: {e}\n{proc.stdout.decode('utf-8', 'replace')}")
            continue
        for mode, variable in KINDS[kind]:
            if mode not in modes:
                continue
            points = 0
            for n in range(1, limit + 1):
                value = str(n) if kind == "alloc" else f"any:{n}"
                proc, report, after = runner.run(args, {variable: value})
                summary["runs"] += 1
                if report.get("met") == "0":
                    break
                points += 1
                label = f"{name} {mode} {kind} {n}" + (f" ({report.get('failed')})" if kind == "syscall" else "")
                try:
                    state = runner.check(name, proc, report, after, mode)
                except Violation as e:
                    out = proc.stdout.decode("utf-8", "replace")
                    summary["failures"].append(
                        f"{label}: {e}\n  exit {proc.returncode}; again: {variable}={value} "
                        f"{' '.join(runner.arguments(args))} on a bin of this layout; output:\n    "
                        + "\n    ".join(out.splitlines()[-8:]))
                    continue
                key = f"{SCENARIOS[name][1]}: {state}"
                summary["states"][key] = summary["states"].get(key, 0) + 1
                if verbose:
                    print(f"  {label}: exit {proc.returncode}, {state}")
            else:
                summary["failures"].append(f"{name} {mode}: still meeting faults after {limit} points")
            summary["points"][f"{name} {mode}"] = points
    return summary


def print_summary(summary, seconds):
    total = sum(summary["points"].values())
    print(f"faults {summary['kind']} {summary['layout']}: {total} fault points, "
          f"{summary['runs']} runs, {seconds:.1f}s")
    for key, points in summary["points"].items():
        print(f"  {key:24s} {points:5d}")
    for key, count in sorted(summary["states"].items()):
        command, _, state = key.partition(": ")
        reason = PARTIAL_STATES.get((command, state), (None, None))[1]
        print(f"  state {key}: {count}" + (f"  ({reason})" if reason else ""))
    for failure in summary["failures"]:
        print("FAIL " + failure)
    print(f"{total - len(summary['failures'])} passed, {len(summary['failures'])} failed")


def table(paths):
    """Markdown figures from summary files."""
    rows = {}
    states = {}
    seconds = 0.0
    for path in paths:
        s = json.load(open(path))
        seconds += s.get("seconds", 0)
        for key, points in s["points"].items():
            name, mode = key.rsplit(" ", 1)
            rows.setdefault((s["layout"], name), {})[f"{s['kind']} {mode}"] = points
        for key, count in s["states"].items():
            states[key] = states.get(key, 0) + count
    columns = ["alloc once", "alloc from", "syscall once", "syscall from"]
    print("| layout | scenario | " + " | ".join(columns) + " |")
    print("|---|---|" + "---|" * len(columns))
    totals = [0] * len(columns)
    for (layout, name), cells in sorted(rows.items()):
        values = [cells.get(c, 0) for c in columns]
        totals = [a + b for a, b in zip(totals, values)]
        print(f"| {layout} | {name} | " + " | ".join(str(v) for v in values) + " |")
    print("| all | all | " + " | ".join(str(v) for v in totals) + " |")
    print(f"\n{sum(totals)} fault points in {seconds:.0f} s.\n")
    print("| state left | runs |")
    print("|---|---|")
    for key, count in sorted(states.items()):
        print(f"| {key} | {count} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", help="dustpail-faults")
    parser.add_argument("--layout", choices=sorted(LAYOUTS))
    parser.add_argument("--kind", choices=sorted(KINDS))
    parser.add_argument("--scenario", action="append", choices=sorted(SCENARIOS),
                        help="run only these scenarios (default: all)")
    parser.add_argument("--modes", default="once,from",
                        help="once (that fault alone), from (it and every later one), or both")
    parser.add_argument("--work", default=os.path.join("build", "faults"))
    parser.add_argument("--limit", type=int, default=3000, help="most fault points per scenario")
    parser.add_argument("--summary", help="write the figures as JSON here")
    parser.add_argument("--table", nargs="+", metavar="JSON", help="print the figures of summary files")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    if args.table:
        table(args.table)
        return 0
    if not (args.program and args.layout and args.kind):
        parser.error("--program, --layout and --kind are needed")
    started = time.monotonic()
    work = os.path.join(args.work, f"{args.kind}-{args.layout}")
    runner = Runner(args.program, work, args.layout, args.verbose)
    try:
        summary = run_kind(runner, args.kind, args.scenario or list(SCENARIOS), args.modes.split(","),
                           args.limit, args.verbose)
    finally:
        runner.close()
    seconds = time.monotonic() - started
    summary["seconds"] = round(seconds, 1)
    print_summary(summary, seconds)
    if args.summary:
        with open(args.summary, "w") as f:
            json.dump(summary, f, indent=1)
    if not summary["failures"]:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if summary["failures"] else 0


if __name__ == "__main__":
    sys.exit(main())
