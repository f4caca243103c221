"""Safety of what people keep in the bin, in the three layouts.

- The bin never takes itself in: its folder, a folder that holds it, its
  index, desktop.ini, $I files and data items are refused by /f under any
  spelling that reaches them (a trailing dot, a doubled separator, "..",
  the 8.3 name, another case of a non-ASCII name), and nothing changes.
- A restore never puts an item back inside the bin folder, where no entry
  would list it.
- Two runs never change one bin at once: a command that meets the bin's
  lock held by another process waits and then gives up (66) without
  changing a byte, or goes on once the lock is let go.

Every case checks the drive's bytes afterwards: a refusal leaves every byte
as it was, a change is compared with what it must be field by field. What
the bin's records keep (numbers, paths, sizes, what emptying leaves) is in
cases_records.py, which takes its helpers from here.
"""

import fcntl
import os
import struct
import threading

import binlayout as bl
from cases_empty import deleting, emptied_check, full_bin
from cases_entry import (INFO2, ITEMS, LAYOUTS, NOTES, PROJECT, STANDARD, T_DRIVE, Layout, build_bin,
                         changed_only, deleted_check, detail_block, head, out, restored_check, restoring,
                         source_of)
from cases_store import FILE, FOLDER, listing, shown_time
from cases_throw import cluster_of, rounded, throw_mask
from rig import Case, banner
from texts import EN, msg

CASES = []


# ----------------------------------------------------------------- helpers

def short_name(name):
    """The 8.3 name Wine makes up for a long name (the native build makes the
    same): four characters of the name, '~', three characters of a hash of
    the whole name, the extension's first three; upper case."""
    hash_chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"
    value = 0xBEEF
    low = [ord(c.lower()) for c in name]
    for a, b in zip(low, low[1:]):
        value = ((value << 3) ^ (value >> 5) ^ a ^ (b << 8)) & 0xFFFF
    value = ((value << 3) ^ (value >> 5) ^ low[-1]) & 0xFFFF
    dot = max((i for i in range(1, len(name) - 1) if name[i] == "."), default=None)
    stem = name[:dot] if dot is not None else name
    invalid = set('*?<>|"+=,;[] \xe5~.')
    keep = lambda c: "_" if ord(c) > 0x7F or c in invalid else c  # noqa: E731
    text = "".join(keep(c) for c in stem[:4])
    text += "~" * (5 - len(text) if len(text) < 4 else 1)
    text += hash_chars[(value >> 10) & 0x1F] + hash_chars[(value >> 5) & 0x1F] + hash_chars[value & 0x1F]
    if dot is not None:
        text += "." + "".join(keep(c) for c in name[dot + 1:dot + 4])
    return text.upper()


# The examples of docs/platform-facts.md, measured under Wine.
assert short_name("long_filename_here.text") == "LONG~FPK.TEX"
assert short_name(".hidden") == "_HID~45N"


def has_short_name(name):
    """Whether the system makes up an 8.3 name for `name`: not for a name that
    is one already (case aside)."""
    stem, dot, ext = name.partition(".")
    legal = all(c.isascii() and c not in '*?<>|"+=,;[] .' for c in stem + ext) and \
        1 <= len(stem) <= 8 and len(ext) <= 3 and not (dot and not ext)
    return not legal


def split(layout):
    """(parent folder, bin folder's own name) of a layout on T:; the parent
    of a folder in the root is "T:", so that parent + "\\" + name is its path."""
    parent, _, name = layout.relfolder.rpartition("\\")
    return ("T:\\" + parent) if parent else "T:", name


def write_files(files):
    """An `extra` of build_bin that writes {path below the drive: bytes}."""
    def extra(root, folder):
        for rel, data in files.items():
            bl.write(os.path.join(root, *rel.split("/")), data)
    return extra


def with_marker(layout, more=None):
    """An `extra` that gives every bin folder a desktop.ini (the INFO2 layout
    of cases_entry has none), so that it can be named as a store file."""
    def extra(root, folder):
        path = os.path.join(folder, "desktop.ini")
        if not os.path.exists(path):
            bl.write(path, bl.DESKTOP_INI_OLD)
        if more:
            more(root, folder)
    return extra


def view_rows(items=STANDARD):
    return [(it.path, shown_time(it.time), FOLDER if it.directory else FILE) for it in items if not it.removed]


def index_rel(layout):
    return layout.rel + "/" + layout.index_name


# ----------------------------------------------------------------- 1. the bin refuses itself

# A bin folder with a long name, so that it has an 8.3 name; the SID folders
# of the other two layouts have long names already.
LONG_INFO = Layout("INFO", "Bins\\Old Recycled Items", "INFO", bl.INFO_RECORD_SIZE, version=0,
                   desktop_ini=bl.DESKTOP_INI_OLD)
IDENTITY_LAYOUTS = (LONG_INFO, INFO2, ITEMS)


def store_files(layout):
    """The index (or a $I file), desktop.ini, a file data item, a folder data item."""
    first = layout.index_name if not layout.items else "$I" + NOTES.code + NOTES.ext()
    return first, "desktop.ini", NOTES.data_name(layout), PROJECT.data_name(layout)


def identity_names(layout):
    """(name given to /f, the name the refusal prints). A name the search
    finds is printed with its folder as given and its own long name."""
    parent, name = split(layout)
    folder = layout.folder
    short = parent + "\\" + short_name(name)
    doubled = "T:\\\\" + layout.relfolder
    first, ini, data_file, data_folder = store_files(layout)
    return [
        (folder + ".\\" + first, folder + ".\\" + first),
        # A doubled separator is one in the full path, as the system reads it.
        (doubled + "\\" + first, folder + "\\" + first),
        ("T:\\work\\..\\" + layout.relfolder + "\\" + first, folder + "\\" + first),
        ("T:\\nothere\\..\\" + layout.relfolder + "\\" + first, folder + "\\" + first),
        (short + "\\" + first, short + "\\" + first),
        (short + "\\" + data_file, short + "\\" + data_file),
        (folder + ".\\" + data_folder, folder + ".\\" + data_folder),
        (doubled + "\\" + ini, folder + "\\" + ini),
        (short + "\\" + data_folder + "\\inside.txt", short + "\\" + data_folder + "\\inside.txt"),
        (folder, folder),
        (short, folder),
        (folder + ".", folder),
        (doubled, folder),
        (parent, parent),
        (parent + ".", parent),
        ("T:\\work\\..\\" + parent[3:], parent),
    ]


def refused_names(name, layout, bin_path, names, reading=None, **kw):
    """One /f of many names, each refused with its own line; nothing changes."""
    reading = reading or (bin_path if layout.items else bin_path + "\\" + layout.index_name)
    stdout = banner() + msg("MSG_BIN_PATH", EN, bin_path) + msg("MSG_READING", EN, reading) + \
        "".join(msg("MSG_ERR_FILE_INVALID", EN, shown) for _, shown in names)
    kw.setdefault("drives", {"T": build_bin(layout, STANDARD, extra=with_marker(layout))})
    return Case(f"en {layout.key}: {name}", [bin_path, "/f"] + [given for given, _ in names] + ["/Y"],
                stdout=stdout, exit_code=25, unchanged=True, **kw)


def view_through(layout, bin_path, reading=None, drives=None):
    """The listing of the bin through another spelling of its folder: proves
    that the spelling reaches the bin on every build, so that a refusal of
    names spelled so is the bin check's, not a missing file's."""
    reading = reading or (bin_path if layout.items else bin_path + "\\" + layout.index_name)
    return Case(f"en {layout.key}: the bin listed through {bin_path}", [bin_path, "/view"],
                stdout=listing(EN, bin_path, reading, view_rows()), exit_code=0, unchanged=True,
                drives=drives or {"T": build_bin(layout, STANDARD, extra=with_marker(layout))})


for L in IDENTITY_LAYOUTS:
    parent, own = split(L)
    short = parent + "\\" + short_name(own)
    CASES += [
        refused_names("every spelling of the bin and its files is refused", L, L.folder, identity_names(L)),
        # The bin given by its 8.3 name: the plain names are the same files.
        refused_names("the bin given by its 8.3 name refuses its plain names", L, short,
                      [(L.folder + "\\" + f, L.folder + "\\" + f) for f in store_files(L)]
                      + [(L.folder, L.folder), (parent, parent)]),
    ]
    for spelled in (L.folder + ".", "T:\\\\" + L.relfolder, "T:\\work\\..\\" + L.relfolder,
                    "T:\\nothere\\..\\" + L.relfolder, short):
        CASES.append(view_through(L, spelled))

# A non-ASCII bin folder given in another letter case: only an identity
# check (or a case table beyond ASCII) tells that "ärger" is "Ärger".
UMLAUT = {
    "INFO": Layout("INFO", "Ärger", "INFO", bl.INFO_RECORD_SIZE, version=0, desktop_ini=bl.DESKTOP_INI_OLD),
    "INFO2": Layout("INFO2", "Ärger", "INFO2", bl.INFO2_RECORD_SIZE, desktop_ini=bl.DESKTOP_INI_OLD),
    "$I/$R": Layout("$I/$R", "Ärger", desktop_ini=bl.DESKTOP_INI_MARKER),
}
for L in UMLAUT.values():
    first, ini, data_file, data_folder = store_files(L)
    names = [("T:\\Ärger\\" + first, "T:\\Ärger\\" + first),
             ("T:\\ÄRGER\\" + data_file, "T:\\ÄRGER\\" + data_file),
             ("T:\\ärger.\\" + data_folder, "T:\\ärger.\\" + data_folder),
             ("T:\\ÄRGER\\" + ini, "T:\\ÄRGER\\" + ini),
             ("T:\\Ärger", "T:\\Ärger"),
             ("T:\\ÄRGER", "T:\\Ärger"),
             ("T:\\ärger.", "T:\\Ärger")]
    CASES += [
        refused_names("a non-ASCII bin folder in another case refuses its files", L, "T:\\ärger", names),
        view_through(L, "T:\\ärger"),
    ]


# ----------------------------------------------------------------- 2. restores into the bin

def restore_targets(layout):
    """(target given, target printed, cwd) of restores that end in the bin folder."""
    folder, rel = layout.folder, layout.relfolder
    data = NOTES.data_name(layout)
    parent, own = split(layout)
    targets = [
        (folder + "\\" + data, folder + "\\" + data, "T:\\"),            # the item itself
        (folder + "\\" + data.upper(), folder + "\\" + data.upper(), "T:\\"),
        (folder + "\\", folder + "\\notes.txt", "T:\\"),
        (folder + ".\\x\\", folder + ".\\x\\notes.txt", "T:\\"),          # x is a folder in the bin
        (folder + "\\x\\..\\moved.txt", folder + "\\x\\..\\moved.txt", "T:\\"),
        ("T:\\\\" + rel + "\\moved.txt", "T:\\\\" + rel + "\\moved.txt", "T:\\"),
        ("T:\\nothere\\..\\" + rel + "\\x\\", "T:\\nothere\\..\\" + rel + "\\x\\notes.txt", "T:\\"),
        (rel + "\\moved.txt", rel + "\\moved.txt", "T:\\"),              # relative to T:\
        ("moved.txt", "moved.txt", folder),                               # relative, inside the bin
    ]
    if has_short_name(own):
        short = parent + "\\" + short_name(own)
        targets.append((short + "\\moved.txt", short + "\\moved.txt", "T:\\"))
    return targets


for L in LAYOUTS:
    drives = {"T": build_bin(L, STANDARD, extra=lambda root, folder: os.makedirs(os.path.join(folder, "x")))}
    for given, shown, cwd in restore_targets(L):
        CASES.append(Case(
            f"en {L.key}: restore to {given} (cwd {cwd}) is refused", [L.folder, "1", "/Y", given], cwd=cwd,
            stdout=out(EN, head(L), detail_block(L, NOTES, 1), msg("MSG_ERR_RESTORE_FAILED", EN, shown)),
            exit_code=62, unchanged=True, drives=drives))


# ----------------------------------------------------------------- 3. the bin's lock

LOCK_BYTE = 1 << 62
WAIT_NOTICE = msg("MSG_WAIT_BIN", EN).rstrip("\n").encode("ascii")


def lock_file(layout):
    """The file that carries the bin's lock: the index, or desktop.ini."""
    return index_rel(layout) if not layout.items else layout.rel + "/desktop.ini"


def hold_lock(layout, until_notice=False):
    """A before_run hook: another process's lock on the bin (an open file
    description lock on the byte the program locks, as Wine's LockFileEx
    takes it too). With until_notice it is let go 1 s after the program
    has said that it waits, else (or if it never says so) once the run has
    ended."""
    def before_run(folders, stdout_path):
        stream = open(os.path.join(folders["T"], *lock_file(layout).split("/")), "r+b")
        fcntl.fcntl(stream.fileno(), fcntl.F_OFD_SETLK,
                    struct.pack("hhqqi4x", fcntl.F_WRLCK, os.SEEK_SET, LOCK_BYTE, 1, 0))
        if not until_notice:
            return stream.close

        ended = threading.Event()

        def let_go():
            while not ended.is_set():
                with open(stdout_path, "rb") as f:
                    if WAIT_NOTICE in f.read():
                        # Held on a while, so that a notice repeated as the
                        # wait goes on would show.
                        ended.wait(1.0)
                        break
                ended.wait(0.02)
            stream.close()
        helper = threading.Thread(target=let_go, daemon=True)
        helper.start()

        def after_run():
            ended.set()
            helper.join()
        return after_run
    return before_run


FRESH = "T:\\work\\fresh.txt"
FRESH_BYTES = b"thrown while another run held the bin\n" * 3


def lock_drives(layout):
    return {"T": build_bin(layout, STANDARD, extra=with_marker(layout, write_files({"work/fresh.txt": FRESH_BYTES})))}


def fresh_thrown(layout):
    """The check of a throw of FRESH into a STANDARD bin: the record (or
    $I file) and the data item, nothing else changed."""
    def check(result):
        before, after = result.before["T"], result.after["T"]
        assert "work/fresh.txt" not in after, "fresh.txt is still in its place"
        new = {k: v for k, v in after.items() if k not in before}
        if layout.items:
            names = sorted(k.rsplit("/", 1)[1] for k in new)
            assert len(names) == 2 and names[0].startswith("$I") and names[1] == "$R" + names[0][2:], names
            info = after[layout.rel + "/" + names[0]]
            assert info[:16] == struct.pack("<QQ", 1, len(FRESH_BYTES)), info[:16].hex()
            assert info[24:].decode("utf-16-le").split("\0")[0] == FRESH
            assert after[layout.rel + "/" + names[1]] == FRESH_BYTES
            changed_only(result, {"work/fresh.txt": None, **new})
            return
        index = after[index_rel(layout)]
        old = before[index_rel(layout)]
        size = rounded(len(FRESH_BYTES), cluster_of(result))
        # Records 0, 1 and 3 are in use; the removed record 2 is not.
        assert len(index) == len(old) + layout.record_size, f"index of {len(index)} bytes"
        assert index[20:len(old)] == old[20:], "the old records changed"
        record = index[len(old):]
        number, drive, _, rec_size = struct.unpack_from("<IIQI", record, 260)
        assert (number, drive, rec_size) == (2, T_DRIVE, size), (number, drive, rec_size)
        assert record[:260].split(b"\0")[0] == FRESH.encode("cp1252")
        version, count, next_number, record_size, total = struct.unpack_from("<5I", index)
        assert (count, next_number, total) == (4, 4, sum(it.size for it in STANDARD if not it.removed) + size), \
            (count, next_number, total)
        changed_only(result, {"work/fresh.txt": None, layout.rel + "/Dt2.txt": FRESH_BYTES,
                              index_rel(layout): index})
    return check


WAIT = {"DUSTPAIL_LOCK_WAIT_MS": "300"}
LONG_WAIT = {"DUSTPAIL_LOCK_WAIT_MS": "5000"}

for L in LAYOUTS:
    busy = msg("MSG_ERR_BIN_BUSY", EN, L.folder)
    notice = msg("MSG_WAIT_BIN", EN)
    held = dict(drives=lock_drives(L), env=WAIT, before_run=hold_lock(L))
    CASES += [
        Case(f"en {L.key}: throw while another process holds the bin", [L.folder, "/f", FRESH, "/Y"],
             stdout=banner() + msg("MSG_BIN_PATH", EN, L.folder) + busy, exit_code=66, unchanged=True, **held),
        Case(f"en {L.key}: restore while another process holds the bin", [L.folder, "1", "/Y"],
             stdout=out(EN, head(L), detail_block(L, NOTES, 1), busy), exit_code=66, unchanged=True, **held),
        Case(f"en {L.key}: delete while another process holds the bin", [L.folder, "2", "/delete", "/Y"],
             stdout=out(EN, head(L), detail_block(L, PROJECT, 2), busy), exit_code=66, unchanged=True, **held),
        Case(f"en {L.key}: empty while another process holds the bin", [L.folder, "/empty", "/Y"],
             stdout=out(EN, head(L), busy), exit_code=66, unchanged=True, **held),
        # Listing takes no lock.
        Case(f"en {L.key}: list while another process holds the bin", [L.folder, "/view"],
             stdout=listing(EN, L.folder, L.reading(), view_rows()), exit_code=0, unchanged=True, **held),
    ]
    # The lock let go while the command waits: one notice (the lock is held
    # on for twice the time before it), then the work.
    waited = dict(env=LONG_WAIT, before_run=hold_lock(L, until_notice=True), timeout=20)
    CASES += [
        Case(f"en {L.key}: throw waits for the bin", [L.folder, "/f", FRESH, "/Y"],
             stdout=banner() + msg("MSG_BIN_PATH", EN, L.folder) + notice
             + msg("MSG_READING", EN, L.reading()) + FRESH + "\n" + msg("MSG_THROW_OK", EN),
             exit_code=0, drives=lock_drives(L), check=fresh_thrown(L), mask=throw_mask, **waited),
        Case(f"en {L.key}: restore waits for the bin", [L.folder, "1", "/Y"],
             stdout=out(EN, head(L), detail_block(L, NOTES, 1), notice, restoring(L, NOTES, NOTES.path),
                        msg("MSG_RESTORE_OK", EN)),
             exit_code=0, drives=lock_drives(L),
             check=restored_check(L, NOTES, STANDARD, "work/notes.txt"), **waited),
        Case(f"en {L.key}: delete waits for the bin", [L.folder, "2", "/delete", "/Y"],
             stdout=out(EN, head(L), detail_block(L, PROJECT, 2), notice,
                        msg("MSG_DELETING_ONE", EN, source_of(L, PROJECT)), msg("MSG_DELETE_OK", EN)),
             exit_code=0, drives=lock_drives(L), check=deleted_check(L, PROJECT, STANDARD), **waited),
        Case(f"en {L.key}: empty waits for the bin", [L.folder, "/empty", "/Y"],
             stdout=out(EN, head(L), notice, deleting(L), msg("MSG_EMPTIED", EN)),
             exit_code=0, drives=full_bin(L, with_marker(L)), check=emptied_check(L), **waited),
    ]
