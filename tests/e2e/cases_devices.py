"""Device names, colons, the working directory and moves across file systems.

Under Wine a last name whose base (up to its first '.' or ':', blanks at the
end dropped) is NUL, CON, AUX, PRN, COM1-9 or LPT1-9 is the device, not the
file of that name (made here on the Linux side); a colon is an ordinary
character; the working directory can be neither moved nor removed; a file
moved to another file system whose source stays must not be left in both.
"""

import datetime
import os
import subprocess
import tempfile

import binlayout as bl
from cases_throw import throw_mask
from rig import Case
from texts import EN, msg

SID = "S-1-5-21-1004336348-1177238915-682003330-1000"
RECYCLER, RECYCLER_REL = "T:\\Recycler\\" + SID, "Recycler/" + SID
ITEM_BIN, ITEM_REL = "T:\\$RECYCLE.BIN\\" + SID, "$RECYCLE.BIN/" + SID
OLD = datetime.datetime(2005, 6, 1, 10, 30, tzinfo=datetime.timezone.utc)
UNKNOWN = msg("MSG_ERR_UNKNOWN", EN)


def head(bin_path, reading):
    return msg("MSG_BIN_PATH", EN, bin_path) + msg("MSG_READING", EN, reading)


def detail(path):
    return f"\n[1] {path} 2005/06/01 10:30:00\n\n"


def holds(key, data):
    def check(result):
        assert result.after["T"].get(key) == data, f"{key}: {result.after['T'].get(key)!r}"
    return check


def drive(item_layout=False, original=None, files=()):
    """T: with an empty INFO2 or $I bin, or an INFO2 bin holding `original`
    as Dt0 (a folder when it has no extension), and `files` {relpath: bytes}."""
    def build(folder):
        if item_layout:
            bl.build_item_bin(os.path.join(folder, ITEM_REL), [], bl.DESKTOP_INI_UTF16)
        else:
            records = [] if original is None else [dict(
                number=0, drive=19, time=bl.filetime(OLD), size=0, ansi=original.encode(), wide=original,
                directory="." not in original)]
            bl.build_index_bin(os.path.join(folder, RECYCLER_REL), "INFO2", 800, records, desktop_ini=bl.DESKTOP_INI_OLD)
        for rel, data in dict(files).items():
            os.makedirs(os.path.dirname(os.path.join(folder, rel)), exist_ok=True)
            with open(os.path.join(folder, rel), "wb") as f:
                f.write(data)
    return build


# --- throwing: T:\work in the order of a listing, True for what is thrown; then
# devices named directly, shown by their base as typed
WORK = [("a:b.txt", True), ("aux/in.txt", False), ("com0", True), ("COM1.log", False), ("con", False),
        ("lpt1.txt", False), ("lpt10.txt", True), ("nul.txt", False), ("plain.txt", True), ("Prn .x", False)]
DIRECT = [("nul.txt", "nul"), ("COM1.log", "COM1"), ("Prn .x", "Prn")]


def devices_stay(result):
    for name, thrown in WORK:
        got = result.after["T"].get("work/" + name)
        assert got == (None if thrown else name.encode()), f"work/{name}: {got!r}"


def throw_case(bin_path, reading, item_layout):
    text = "".join("T:\\work\\%s\n%s" % (name.split("/")[0], "" if thrown else UNKNOWN) for name, thrown in WORK)
    text += "".join(f"T:\\work\\{shown}\n" + UNKNOWN for _, shown in DIRECT) + msg(
        "MSG_ERR_FILE_INVALID", EN, "T:\\missing\\nul")
    return Case(f"throwing leaves the devices, {reading}",
                ["/nologo", bin_path, "/f", "T:\\work\\*"] + [f"T:\\work\\{n}" for n, _ in DIRECT]
                + ["T:\\missing\\nul", "/Y"], stdout=head(bin_path, reading) + text, exit_code=25,
                drives={"T": drive(item_layout, files={"work/" + n: n.encode() for n, _ in WORK})},
                mask=throw_mask, check=devices_stay)


# --- restoring to a target: the file it makes, None where it must fail
TARGETS = [("T:\\out\\nul.txt", None), ("T:\\out\\COM1", None), ("T:\\out\\con.txt", None),
           ("T:\\out\\aux .log", None), ("T:\\out\\nul:x", None), ("T:\\missing\\nul", None),
           ("T:\\out\\a:b.txt", "out/a:b.txt"), ("T:\\c:d\\", "c:d/f.txt")]


def restore_case(target, made):
    shown = target + "f.txt" if target.endswith("\\") else target
    tail = msg("MSG_RESTORE_OK", EN) if made else msg("MSG_ERR_RESTORE_FAILED", EN, shown)
    return Case(f"restore to {target}", ["/nologo", RECYCLER, "1", target, "/Y"],
                stdout=head(RECYCLER, RECYCLER + "\\INFO2") + detail("T:\\old\\f.txt")
                + msg("MSG_RESTORING", EN, RECYCLER + "\\Dt0.txt", shown) + tail,
                exit_code=0 if made else 62, unchanged=not made,
                drives={"T": drive(original="T:\\old\\f.txt", files={"out/x": b"x", "c:d/y": b"y"})},
                check=made and holds(made, b"data\n"))


# --- a folder item holding device names: they stay, so the folder stays too
DT0, DT0_REL = RECYCLER + "\\Dt0", RECYCLER_REL + "/Dt0"
HELD = [("nul", True), ("con.txt", True), ("COM1.log", True), ("lpt1", True), ("Aux .log", True),
        ("a:b", False), ("x.txt", False), ("con.d/in.txt", False), ("keep/k.txt", False)]


def left_in_dt0(*names):
    def check(result):
        left = sorted(k[len(DT0_REL) + 1:] for k in result.after["T"] if k.startswith(DT0_REL + "/"))
        assert left == sorted(names), f"left in Dt0: {left}"
    return check


EMPTYING = msg("MSG_DELETING", EN) + DT0 + "\n\n" + msg("MSG_FINISHED", EN) + msg("MSG_ERR_EMPTY_FAILED", EN, RECYCLER)
DELETING = detail("T:\\old\\d") + msg("MSG_DELETING_ONE", EN, DT0) + msg("MSG_ERR_DELETE_FAILED", EN, DT0)
HOLDER = drive(original="T:\\old\\d", files={f"{DT0_REL}/{n}": n.encode() for n, _ in HELD})
KEPT = [n for n, stays in HELD if stays] + ["con.d"]

# --- the working directory: (what, cwd, arguments, text after the bin's lines, exit code, check)
CWD = drive(original="T:\\old\\d", files={"work/sub/s.txt": b"s", "old/o": b"o", DT0_REL + "/in/i.txt": b"i"})
CWD_CASES = [
    ("throwing it as '.'", "T:\\work", ["/f", "."], "T:\\work\n" + UNKNOWN, 255, None),
    ("throwing it by another case", "T:\\work", ["/f", "T:\\WORK"], "T:\\work\n" + UNKNOWN, 255, None),
    ("throwing its parent", "T:\\work\\sub", ["/f", "T:\\work"], "T:\\work\n" + msg("MSG_THROW_OK", EN), 0,
     holds(RECYCLER_REL + "/Dt1/sub/s.txt", b"s")),
    ("restoring the data item it is", DT0, ["1"], detail("T:\\old\\d") + msg("MSG_RESTORING", EN, DT0, "T:\\old\\d")
     + msg("MSG_ERR_RESTORE_FAILED", EN, "T:\\old\\d"), 62, None),
    ("deleting the data item it is", DT0, ["1", "/delete"], DELETING, 63, left_in_dt0()),
    ("emptying with it inside a data item", DT0 + "\\in", ["/empty"], EMPTYING, 64, left_in_dt0("in")),
]

# --- a move across file systems: the bin lies on a tmpfs of its own as W:,
# read-only or not, and the item is restored to T:
W_BIN = "W:\\$RECYCLE.BIN\\" + SID
W_ITEM = dict(code="Q7K2M0", path="W:\\docs\\report.txt", time=OLD, size=5)


def mount_problem():
    """Why a tmpfs cannot be mounted and made read-only here, or None."""
    with tempfile.TemporaryDirectory() as folder:
        try:
            for step in (["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", folder],
                         ["mount", "-o", "remount,ro", folder]):
                done = subprocess.run(step, capture_output=True, text=True)
                if done.returncode != 0:
                    return f"'{' '.join(step[:3])}' failed: " + (done.stderr.strip().splitlines() or ["?"])[0]
        except OSError as e:
            return str(e)
        finally:
            subprocess.run(["umount", folder], capture_output=True)
    return None


MOUNT_PROBLEM = mount_problem()


def tmpfs_bin(read_only):
    def build(folder):
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", folder], check=True)
        bl.build_item_bin(os.path.join(folder, "$RECYCLE.BIN", SID), [W_ITEM], bl.DESKTOP_INI_UTF16)
        if read_only:
            subprocess.run(["mount", "-o", "remount,ro", folder], check=True)
    return build


def moved_across(result):
    assert result.after["T"].get("back.txt") == b"data\n", "the item is not on T:"
    left = sorted(k.split("/")[-1] for k in result.after["W"])
    assert left == sorted(["$RECYCLE.BIN", SID, "desktop.ini"]), f"left on W: {left}"


def across_case(read_only):
    source = W_BIN + "\\$R" + W_ITEM["code"] + ".txt"
    tail = msg("MSG_ERR_RESTORE_FAILED", EN, "T:\\back.txt") if read_only else msg("MSG_RESTORE_OK", EN)
    return Case(f"restore across file systems from a {'read-only' if read_only else 'writable'} bin",
                ["/nologo", W_BIN, "1", "T:\\back.txt", "/Y"],
                stdout=head(W_BIN, W_BIN) + detail(W_ITEM["path"]) + msg("MSG_RESTORING", EN, source, "T:\\back.txt")
                + tail, exit_code=62 if read_only else 0, unchanged=read_only,
                drives={"T": {}, "W": tmpfs_bin(read_only)}, teardown=lambda f: subprocess.run(["umount", f["W"]]),
                check=None if read_only else moved_across,
                skip=MOUNT_PROBLEM and f"needs a tmpfs mounted as drive W: ({MOUNT_PROBLEM}); run as root")


CASES = [
    throw_case(RECYCLER, RECYCLER + "\\INFO2", item_layout=False),
    throw_case(ITEM_BIN, ITEM_BIN, item_layout=True),
    *[restore_case(target, made) for target, made in TARGETS],
    Case("deleting a folder item keeps its device names", ["/nologo", RECYCLER, "1", "/delete", "/Y"],
         stdout=head(RECYCLER, RECYCLER + "\\INFO2") + DELETING, exit_code=63, drives={"T": HOLDER},
         check=left_in_dt0(*KEPT)),
    Case("emptying keeps the device names", ["/nologo", RECYCLER, "/empty", "/Y"],
         stdout=head(RECYCLER, RECYCLER + "\\INFO2") + EMPTYING, exit_code=64, drives={"T": HOLDER},
         check=left_in_dt0(*KEPT)),
    *[Case("the current directory: " + what, ["/nologo", RECYCLER] + args + ["/Y"], cwd=cwd,
           stdout=head(RECYCLER, RECYCLER + "\\INFO2") + text, exit_code=code, unchanged=check is None,
           drives={"T": CWD}, mask=throw_mask, check=check) for what, cwd, args, text, code, check in CWD_CASES],
    # Only a last name is a device: this bin's index is "T:\nul\INFO2".
    *[Case(f"a bin in the folder {name}", ["/nologo", f"T:\\{name}", "/view"],
           stdout=head(f"T:\\{name}", f"T:\\{name}\\INFO2") + "\n" + msg("MSG_FILE_COUNT", EN, 0) + "\n"
           + msg("MSG_BIN_EMPTY", EN), exit_code=0, unchanged=True,
           drives={"T": {f"{name}/INFO2": bl.index_header(800)}}) for name in ("nul", "a:b")],
    across_case(read_only=False),
    across_case(read_only=True),
]
