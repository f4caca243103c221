"""Drives from the mount table, as on WSL, with no Wine prefix.

The native build runs with a prefix folder that has no dosdevices, and
DUSTPAIL_MOUNTS naming a mount table (written before each run) in which the
test drive's folder is mounted as C: in the WSL 1 form (type drvfs) or the
WSL 2 form (type 9p, "aname=drvfs;path=C:\\"). The program must then call
that folder C: for the current directory, for the bins it finds, for the
paths it records and for the paths it restores to; a prefix with a
dosdevices folder, when there is one, is used alone.
"""

import datetime
import itertools
import os
import tempfile

import binlayout as bl
from cases_throw import rifiuti_items
from rig import NATIVE, Case, UnixPath
from texts import EN, msg

SID = "S-1-5-21-1004336348-1177238915-682003330-1001"
OTHER_SID = "S-1-5-21-1004336348-1177238915-682003330-1002"
BIN_REL = "$Recycle.Bin/" + SID       # as Windows names it; found without regard to case
BIN = "C:\\$RECYCLE.BIN\\" + SID
HOME = "T:\\Users\\me"
OLD = bl.filetime(datetime.datetime(2024, 3, 1, 8, 0, tzinfo=datetime.timezone.utc))

SCRATCH = tempfile.mkdtemp(prefix="dustpail-wsl-")
NO_PREFIX = os.path.join(SCRATCH, "no-prefix")   # a prefix folder without dosdevices
os.makedirs(NO_PREFIX, exist_ok=True)
_TABLES = itertools.count()


def escaped(path):
    """A path as the mount table writes it."""
    return path.replace("\\", "\\134").replace(" ", "\\040")


def mount_table(form, table):
    """A before_run hook that names the test drive's folder as C: in `table`."""
    def write(folders, _stdout):
        folder = escaped(folders["T"])
        lines = ["none / ext4 rw,relatime 0 0", "tmpfs /tmp tmpfs rw 0 0"]
        if form == "wsl1":
            lines.append(f"C:\\134 {folder} drvfs rw,noatime,uid=1000,gid=1000 0 0")
        else:
            lines.append(f"C:\\134 {folder} 9p rw,dirsync,aname=drvfs;path=C:\\134;uid=1000;gid=1000;"
                         "symlinkroot=/mnt/,mmap,trans=virtio 0 0")
        # Mounts that name no drive leave their paths on Z:.
        lines.append("drvfs /mnt/wsl/none 9p rw,aname=other 0 0")
        with open(table, "w") as f:
            f.write("\n".join(lines) + "\n")
        return None
    return write


def drive(item_bins=(SID,), old=True, files=None):
    """The C: folder: per-item bins of the given users, the first holding
    C:\\Users\\me\\old.txt when `old`, and Users\\me with report.txt."""
    def build(folder):
        for n, sid in enumerate(item_bins):
            items = [dict(code="ABC123", path="C:\\Users\\me\\old.txt", time=OLD, size=5, version=2)] if n == 0 and old else []
            bl.build_item_bin(os.path.join(folder, "$Recycle.Bin", sid), items, bl.DESKTOP_INI_MARKER)
        for rel, data in (files or {"Users/me/report.txt": b"report\n"}).items():
            bl.write(os.path.join(folder, rel), data)
    return build


def wsl(name, args, form="wsl2", prefix=NO_PREFIX, **kw):
    """A native case with its own mount table (cases run side by side)."""
    kw.setdefault("drives", {"T": drive()})
    table = os.path.join(SCRATCH, f"mounts-{next(_TABLES)}")
    env = {"DUSTPAIL_MOUNTS": table}
    if prefix is not None:
        env["WINEPREFIX"] = prefix
    return Case(f"{form}: {name}", ["/nologo"] + args, builds=(NATIVE,), cwd=HOME,
                env=env, before_run=mount_table(form, table), **kw)


def shows(*texts):
    def check(result):
        for text in texts:
            assert text in result.shown, f"{text!r} not in the output:\n{result.shown}"
    return check


def thrown_as(path):
    """report.txt left its place and the bin's $I records `path`."""
    def check(result):
        after = result.after["T"]
        assert "Users/me/report.txt" not in after, "report.txt is still there"
        seen = rifiuti_items(result, BIN_REL)
        assert list(seen) == [path], f"the $I files record {sorted(seen)!r}, not {path!r}"
    return check


def restored(result):
    after = result.after["T"]
    assert after.get("Users/me/old.txt") == b"data\n", "old.txt is not back under C:\\Users\\me"
    assert not any(k.startswith(BIN_REL + "/$") for k in after), "the item is still in the bin"


CASES = []
for form in ("wsl1", "wsl2"):
    CASES += [
        # The current directory lies on C:, so the bin of C: is found and its
        # record's path is shown as Windows wrote it.
        wsl("listing the bin of the current drive", ["/view"], form, exit_code=0, unchanged=True,
            check=shows(msg("MSG_BIN_PATH", EN, BIN), "C:\\Users\\me\\old.txt")),
        wsl("throwing records the C: path", ["/f", "report.txt", "/Y"], form, exit_code=0,
            drives={"T": drive(old=False)}, check=thrown_as("C:\\Users\\me\\report.txt")),
        wsl("a Unix path given is on C: too", ["/f", UnixPath("T", "Users/me/report.txt"), "/Y"], form,
            exit_code=0, drives={"T": drive(old=False)}, check=thrown_as("C:\\Users\\me\\report.txt")),
        wsl("restoring puts the item back under the mount", ["1", "/Y"], form, exit_code=0,
            check=restored),
    ]

CASES += [
    wsl("two users' bins make a choice", ["/view"], stdin="1\n", exit_code=0, unchanged=True,
        drives={"T": drive(item_bins=(SID, OTHER_SID))},
        check=shows(msg("MSG_CHOOSE_BIN", EN), BIN, "C:\\$RECYCLE.BIN\\" + OTHER_SID,
                    "C:\\Users\\me\\old.txt")),
    # The rig's own prefix maps the folder as T:, and it is used alone.
    wsl("a prefix with dosdevices wins over the mount table", ["/f", "report.txt", "/Y"], prefix=None,
        drives={"T": drive(old=False)}, exit_code=0, check=thrown_as("T:\\Users\\me\\report.txt")),
]
