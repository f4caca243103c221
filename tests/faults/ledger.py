"""Where every file a test made has gone: the check the kill, stress and
full-disk tests share.

Every file a test lays out holds bytes no other file holds, so a file is
found by its bytes wherever it went. A ledger is made from the drive before
the commands run; `account` then looks for each file in the drive after
them, read by faults_view.View (the independent reader of the three layouts),
and names every file that is not in one of its allowed places:

- where it was: outside the bin at its path, or in the bin listed by the
  record (or $I file) that listed it before;
- in the bin listed by its own record: a live record (or $I file) whose
  original path is the file's path and whose data item holds its bytes,
  when a throw took it there;
- restored: at the target of a restore of the entry that held it;
- gone: deleted by a delete of the entry that held it, or by an empty.

On top of that: nothing outside the bin changes but the thrown files and the
restore targets; no two live records share a number and drive; the index is
never shorter than its header and holds whole records only.
"""

import collections
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
if HERE not in sys.path:
    sys.path.insert(0, HERE)

import run_faults as rf  # noqa: E402

DIR = rf.DIR


def fold(path):
    """A Windows path compared the way the file system compares it."""
    return path.replace("/", "\\").rstrip("\\").lower()


def windows_path(rel, letter="T"):
    return f"{letter}:\\" + rel.replace("/", "\\")


def rel_of(path):
    """The relpath on drive T: of a Windows path T:\\..."""
    assert path[:3].upper() == "T:\\", path
    return path[3:].replace("\\", "/").rstrip("/")


def under(path, top):
    """True when the Windows path is `top` or inside it (case folded)."""
    p, t = fold(path), fold(top)
    return p == t or p.startswith(t + "\\")


def leaves(data):
    """(subpath, bytes) of an entry's data: ("", bytes) for a file."""
    if isinstance(data, bytes):
        return [("", data)]
    if isinstance(data, frozenset):
        return [(sub, value) for sub, value in data if value is not DIR]
    return []


def join(top, sub):
    return top if not sub else top + "\\" + sub.replace("/", "\\")


File = collections.namedtuple("File", "data path began_in_bin rel")
# path: the Windows path the file has (outside) or that its record gives it
# (in the bin); rel: its relpath outside the bin, None for a file that began
# in the bin.


class Actions:
    """What the commands run so far may have done."""

    def __init__(self):
        self.thrown = []       # Windows paths of thrown items (files or directories)
        self.restored = []     # (entry path, target Windows path)
        self.deleted = []      # entry paths deleted
        self.emptied = False

    def throw(self, *paths):
        self.thrown.extend(paths)
        return self

    def restore(self, entry_path, target=None):
        self.restored.append((entry_path, target or entry_path))
        return self

    def delete(self, entry_path):
        self.deleted.append(entry_path)
        return self

    def empty(self):
        self.emptied = True
        return self


class Ledger:
    """The files of a drive before the commands, by their bytes."""

    def __init__(self, view, letter="T"):
        self.before = view
        self.letter = letter
        self.files = {}
        for e in view.listed():
            for sub, data in leaves(e.data):
                self._add(File(data, join(e.path, sub), True, None))
        for rel, data in view.outside.items():
            if data is not DIR:
                self._add(File(data, windows_path(rel, letter), False, rel))
        self.outside_dirs = {rel for rel, data in view.outside.items() if data is DIR}

    def _add(self, f):
        if f.data in self.files:
            raise ValueError(f"two files of the test hold the same bytes: {f.path}, "
                             f"{self.files[f.data].path}")
        self.files[f.data] = f

    # ------------------------------------------------------------ places

    def _may_be_in_bin(self, f, actions):
        return f.began_in_bin or any(under(f.path, t) for t in actions.thrown)

    def _restore_places(self, f, actions):
        """Windows paths a restore may have put the file at."""
        places = []
        for entry, target in actions.restored:
            if under(f.path, entry):
                places.append(target + f.path[len(entry):])
        return places

    def _may_be_gone(self, f, actions):
        if not self._may_be_in_bin(f, actions):
            return False
        return actions.emptied or any(under(f.path, d) for d in actions.deleted)

    def account(self, after, actions):
        """Problems of the drive `after` (a View); an empty list when every file is accounted for.

        Also returns the fate of each file: "outside", "bin", "restored", "gone"."""
        problems = []
        fates = {}
        found = collections.defaultdict(list)   # bytes -> [(where, detail)]
        for e in after.listed():
            for sub, data in leaves(e.data):
                found[data].append(("bin", join(e.path, sub), e))
        for name, data in after.orphans:
            for sub, value in leaves(data):
                found[value].append(("orphan", join(name, sub), None))
        known_items = {e.item for e in after.entries} | {name for name, _ in after.orphans}
        index_name = rf.LAYOUTS[after.layout][1]
        unreadable = {name[2:] for name in after.unreadable}
        for name in after.children:
            if name in known_items or name == index_name or name.lower() == "desktop.ini":
                continue
            if name[:2] in ("$I", "$i"):
                continue
            kind = "unreadable" if name[:2] in ("$R", "$r") and name[2:] in unreadable else "stray"
            for sub, value in leaves(after.content(name)):
                found[value].append((kind, join(name, sub), None))
        for rel, data in after.outside.items():
            if data is not DIR:
                found[data].append(("outside", windows_path(rel, self.letter), None))

        for data, places in found.items():
            if data not in self.files:
                where = places[0][1]
                if places[0][0] == "outside":
                    problems.append(f"{where}: a file the test did not make (a file outside changed?)")
                continue

        for data, f in self.files.items():
            places = found.get(data, [])
            if len(places) > 1:
                problems.append(f"{f.path}: found {len(places)} times: "
                                + ", ".join(f"{kind} {where}" for kind, where, _ in places))
                fates[f.path] = "twice"
                continue
            if not places:
                if self._may_be_gone(f, actions):
                    fates[f.path] = "gone"
                else:
                    problems.append(f"{f.path}: LOST (nowhere on the drive)")
                    fates[f.path] = "lost"
                continue
            kind, where, entry = places[0]
            if kind == "outside":
                if fold(where) == fold(f.path) and f.rel is not None:
                    fates[f.path] = "outside"
                elif any(fold(where) == fold(p) for p in self._restore_places(f, actions)):
                    fates[f.path] = "restored"
                else:
                    problems.append(f"{f.path}: found outside the bin at {where}")
                    fates[f.path] = "misplaced"
            elif kind == "bin":
                if fold(where) != fold(f.path):
                    problems.append(f"{f.path}: in the bin, but listed by the record of {where} "
                                    f"(data item {entry.item})")
                    fates[f.path] = "misplaced"
                elif not self._may_be_in_bin(f, actions):
                    problems.append(f"{f.path}: in the bin, yet it was never thrown")
                    fates[f.path] = "misplaced"
                else:
                    fates[f.path] = "bin"
            elif kind == "orphan":
                problems.append(f"{f.path}: LOST in the bin as {where}, which no record lists")
                fates[f.path] = "orphan"
            elif kind == "unreadable":
                problems.append(f"{f.path}: LOST in the bin as {where}, whose $I file cannot be read")
                fates[f.path] = "orphan"
            else:
                problems.append(f"{f.path}: LOST in the bin as {where}, which is no data item")
                fates[f.path] = "stray"

        problems.extend(self._check_outside_dirs(after, actions))
        problems.extend(store_problems(after))
        return problems, fates

    def _check_outside_dirs(self, after, actions):
        problems = []
        now = {rel for rel, data in after.outside.items() if data is DIR}
        targets = [t for _, t in actions.restored]
        for rel in sorted(self.outside_dirs - now):
            path = windows_path(rel, self.letter)
            if not any(under(path, t) for t in actions.thrown):
                problems.append(f"folder {path} gone, yet it was not thrown")
        for rel in sorted(now - self.outside_dirs):
            path = windows_path(rel, self.letter)
            if not any(under(path, t) for t in targets):
                problems.append(f"new folder {path} outside the bin")
        return problems


def store_problems(view):
    """What is wrong with the store itself, whatever the files."""
    problems = list(view.problems)
    if view.taken_twice:
        numbers = collections.Counter()
        for rec in view.records:
            if rec[0] != 0:
                numbers[(int.from_bytes(rec[264:268], "little"), int.from_bytes(rec[260:264], "little"))] += 1
        twice = sorted(n for n, c in numbers.items() if c > 1)
        problems.append("two live records share a record number: "
                        + ", ".join(f"D{chr(ord('a') + d) if d < 64 else f'<drive {d}>'}{n}"
                                    for d, n in twice))
    return problems


def loose_ends(view):
    """States that lose nothing but that a reader trips over: live records
    or $I files whose data item is missing, data items nothing lists."""
    notes = []
    missing = [e for e in view.entries if e.data is None]
    if missing:
        kind = "$I file" if view.index is None else "live record"
        notes.append(f"{kind} without its data item")
    if view.orphans:
        notes.append("data item without record")
    if view.unreadable:
        notes.append("unreadable $I file")
    if view.header is not None and not view.header_consistent():
        notes.append("header counts stale")
    return notes


# ----------------------------------------------------------------- output

LISTING = re.compile(r"\[ *(\d+)\] (.*?) +(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d|\?{4}/\?\?/\?\? \?\?:\?\?:\?\?) "
                     r"(<DIR> |      )[A-][S-][H-][R-]")
COUNT = re.compile(r"The number of files: (\d+)")


def listing(text):
    """The paths a /view printed, in order, and the count it gave (or None)."""
    paths = []
    count = None
    for line in text.split("\n"):
        m = LISTING.fullmatch(line.rstrip("\r"))
        if m:
            paths.append(m.group(2))
            continue
        m = COUNT.fullmatch(line.rstrip("\r"))
        if m:
            count = int(m.group(1))
    return paths, count


def check_listing(text, view):
    """A /view's output against the reader: every entry the reader lists is
    printed once, and nothing else; a $I file whose $R item is missing may be
    printed or not."""
    paths, count = listing(text)
    problems = []
    if count is None:
        problems.append("/view printed no count")
    elif count != len(paths):
        problems.append(f"/view counts {count} files but lists {len(paths)}")
    want = collections.Counter(fold(e.path) for e in view.listed())
    maybe = collections.Counter(fold(e.path) for e in view.entries if e.data is None) \
        if view.index is None else collections.Counter()
    got = collections.Counter(fold(p) for p in paths)
    missing = want - got
    extra = got - want - maybe
    if missing:
        problems.append("/view leaves out " + ", ".join(sorted(missing)))
    if extra:
        problems.append("/view lists what the reader does not see: " + ", ".join(sorted(extra)))
    return problems, paths


SUCCESS = rf.SUCCESS_MESSAGE
ERROR_MESSAGES = [name for name in rf.MESSAGE_LINES if name.startswith("MSG_ERR_")]
WARNINGS = ["MSG_WARN_MOVED_NOT_UNREGISTERED", "MSG_WARN_DELETED_NOT_UNREGISTERED"]


def check_report(command, code, text, stderr=b""):
    """A completed run's exit code against what it printed: a failure never
    ends with 0 or with the success message, a success never follows an
    error message."""
    problems = []
    lines = [line.rstrip("\r") for line in text.split("\n")]
    if stderr:
        problems.append("wrote to stderr: " + stderr.decode("utf-8", "replace")[:300])
    if code not in rf.EXIT_CODES:
        problems.append(f"exit code {code} is not one of the program's")
        return problems
    errors = [name for name in ERROR_MESSAGES if rf.printed(lines, name)]
    success = rf.printed(lines, SUCCESS[command])
    if code == 0:
        if errors:
            problems.append(f"exit code 0 after {', '.join(errors)}")
        if not success:
            problems.append(f"exit code 0 without {SUCCESS[command]}")
    elif code >= 20:
        if success:
            problems.append(f"exit code {code}, yet {SUCCESS[command]} printed")
        if code in rf.CODE_MESSAGE and not rf.printed_any(lines, rf.CODE_MESSAGE[code]):
            problems.append(f"exit code {code} without {' or '.join(rf.CODE_MESSAGE[code])}")
    elif errors and code != 11:
        problems.append(f"exit code {code} after {', '.join(errors)}")
    return problems


def registered_paths(view):
    return collections.Counter(fold(e.path) for e in view.entries)


def check_effect(command, code, before, after, fates, ledger, target=None, thrown=()):
    """What an exit code of 0 promises: the whole command took effect.
    `target` is the entry path a restore or delete acted on, `thrown` the
    Windows paths a throw named."""
    if code != 0:
        return []
    problems = []
    if command == "restore" or command == "delete":
        for f in ledger.files.values():
            if target is not None and under(f.path, target) and f.began_in_bin:
                want = "restored" if command == "restore" else "gone"
                if fates.get(f.path) != want:
                    problems.append(f"exit code 0, yet {f.path} is {fates.get(f.path)}, not {want}")
        if target is not None and registered_paths(after)[fold(target)] >= registered_paths(before)[fold(target)]:
            problems.append(f"exit code 0, yet {target} is still registered")
    elif command == "empty":
        if after.listed():
            problems.append(f"exit code 0, yet the bin still lists {len(after.listed())} entries")
    elif command == "throw":
        for f in ledger.files.values():
            if any(under(f.path, t) for t in thrown) and fates.get(f.path) != "bin":
                problems.append(f"exit code 0, yet {f.path} is {fates.get(f.path)}, not in the bin")
    return problems
