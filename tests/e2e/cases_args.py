"""Arguments as a user types them: names and folders written with '/', names
that begin with a digit, "--", and Unix paths in the native build.

A name thrown with '/' is stored with '\\' in all three layouts: in the
records' ANSI and UTF-16 paths, in the $I files and in every printed path. A
restore folder typed with a trailing '/' keeps the item's own name, also for
a record that an earlier version wrote with '/'. The native build turns an
argument that begins with '/' and holds a second '/' into the drive path
Wine gives it; the Windows build takes such an argument for an option, so
those cases run on the native build alone.
"""

import cases_entry as en
import cases_throw as th
from rig import DIR, NATIVE, Case, UnixPath
from texts import EN, msg

OK = th.OK


class ThrowLayout:
    def __init__(self, key, folder, bin_builder, reading, check):
        self.key = key
        self.folder = folder
        self.rel = th.rel(folder)
        self.bin_builder = bin_builder
        self.reading = reading
        self.check = check  # check(result, paths) of the stored paths


THROW_LAYOUTS = (
    ThrowLayout("INFO", th.T_RECYCLED, th.INFO_BIN, th.T_RECYCLED + "\\INFO",
                lambda r, paths: th.check_index_records(r, th.rel(th.T_RECYCLED), "INFO", 0, 0, paths)),
    ThrowLayout("INFO2", th.T_RECYCLER, th.INFO2_BIN, th.T_RECYCLER + "\\INFO2",
                lambda r, paths: th.check_index_records(r, th.rel(th.T_RECYCLER), "INFO2", 2,
                                                        th.OLD_TOTAL, paths)),
    ThrowLayout("$I/$R", th.T_RECYCLE_BIN, th.ITEM_BIN, th.T_RECYCLE_BIN,
                lambda r, paths: th.check_item_files(r, th.rel(th.T_RECYCLE_BIN), paths)),
)

REPORT = {"docs/my report.txt": b"my report\n"}


def stored_paths(result, bin_rel):
    """Every path the bin's store holds: the index records' ANSI and UTF-16
    fields, or the $I files' paths."""
    paths = []
    for key, data in result.after["T"].items():
        name = key[len(bin_rel) + 1:]
        if not key.startswith(bin_rel + "/") or "/" in name or data is DIR:
            continue
        if name in ("INFO", "INFO2"):
            for record in th.parse_index(data)["records"]:
                paths.append(record["ansi"].decode("cp1252"))
                if record["wide"] is not None:
                    paths.append(record["wide"])
        elif name.upper().startswith("$I"):
            paths.append(data[24:].decode("utf-16-le").split("\0", 1)[0])
    return paths


def thrown(layout, paths):
    """The stored paths are exactly `paths` (checked field by field), and
    neither the store nor the output holds a '/'."""
    def check(result):
        layout.check(result, paths)
        stored = stored_paths(result, layout.rel)
        assert all(p in stored for p in paths), f"stored {stored!r}"
        assert not [p for p in stored if "/" in p], f"a '/' is stored: {stored!r}"
        printed = result.stdout.replace(b"(Y/N)", b"")
        assert b"/" not in printed, f"a '/' is printed: {result.stdout!r}"
    return check


def throw_ok(name, layout, args, paths, extra=None, **kw):
    """A throw with /Y into `layout` that stores `paths`, one line and one
    success message each."""
    stdout = th.head(layout.folder, layout.reading) + "".join(p + "\n" + OK for p in paths)
    return th.throw_case(f"{layout.key}: {name}", args, stdout=stdout, exit_code=0,
                         drives={"T": th.drive(layout.bin_builder, extra)}, check=thrown(layout, paths), **kw)


# A record that an earlier version wrote for a name typed with '/'.
SLASHED = en.Item(0, "DDDDD4", "T:\\docs/my report.txt", en.T2, 4096)

CASES = []

for L in THROW_LAYOUTS:
    CASES += [
        # '/' in every form of name: relative, absolute, drive-relative, a pattern.
        throw_ok("names typed with '/' are stored with '\\'", L,
                 ["/nologo", L.folder, "/f", "docs/my report.txt", "T:/work/sub/../b.log", "T:work/sub",
                  "work/R*", "/Y"],
                 ["T:\\docs\\my report.txt", "T:\\work\\b.log", "T:\\work\\sub", "T:\\work\\README"],
                 extra=REPORT),
        # Native build: Unix paths for the names and for the bin path.
        throw_ok("Unix paths after /f become drive paths", L,
                 ["/nologo", L.folder, "/f", UnixPath("T", "docs/my report.txt"),
                  UnixPath("T", "work/sub/../b.log"), UnixPath("T", "work/R*"), "/Y"],
                 ["T:\\docs\\my report.txt", "T:\\work\\b.log", "T:\\work\\README"],
                 extra=REPORT, builds=(NATIVE,)),
        throw_ok("a Unix bin path becomes a drive path", L,
                 ["/nologo", UnixPath("T", L.rel), "/f", "T:\\work\\a.txt", "/Y"], ["T:\\work\\a.txt"],
                 builds=(NATIVE,)),
    ]

INFO2 = THROW_LAYOUTS[1]
CASES += [
    # The question lists the full paths with '\' too.
    th.throw_case("INFO2: the question lists names typed with '/' with '\\'",
                  ["/nologo", INFO2.folder, "/f", "docs/my report.txt", "work/sub"], keys=["y"],
                  stdout=msg("MSG_BIN_PATH", EN, INFO2.folder)
                  + "1: T:\\docs\\my report.txt\n2: T:\\work\\sub\n" + msg("MSG_ASK_THROW", EN) + " (Y/N)Y\n"
                  + msg("MSG_READING", EN, INFO2.reading) + "T:\\docs\\my report.txt\n" + OK
                  + "T:\\work\\sub\n" + OK, exit_code=0,
                  drives={"T": th.drive(INFO2.bin_builder, REPORT)},
                  check=thrown(INFO2, ["T:\\docs\\my report.txt", "T:\\work\\sub"])),

    # After /f a name may begin with a digit; /Y among the names is still the option.
    throw_ok("names that begin with a digit", INFO2,
             ["/nologo", INFO2.folder, "/f", "2024-report.txt", "/Y", "7"],
             ["T:\\work\\2024-report.txt", "T:\\work\\7"], cwd="T:\\work",
             extra={"work/2024-report.txt": b"annual\n", "work/7": b"seven\n"}),
    throw_ok("names that begin with a digit", THROW_LAYOUTS[2],
             ["/nologo", THROW_LAYOUTS[2].folder, "/f", "1.txt", "/Y"], ["T:\\work\\1.txt"], cwd="T:\\work",
             extra={"work/1.txt": b"one\n"}),

    # "--" ends the options: "-dash.txt" and "/Y" are names ("/Y" rooted at T:).
    throw_ok("after -- names may look like options", INFO2,
             ["/nologo", INFO2.folder, "/Y", "/f", "--", "-dash.txt", "/Y"], ["T:\\work\\-dash.txt", "T:\\Y"],
             cwd="T:\\work", extra={"work/-dash.txt": b"dash\n", "Y": b"why\n"}),
    Case("after -- a word like an option is the bin path", ["/nologo", "--", "-view"],
         stdout=msg("MSG_BIN_PATH", EN, "-view") + msg("MSG_ERR_BIN_INVALID", EN, "-view"), exit_code=22,
         unchanged=True, drives={"T": {"readme.txt": b"not a bin\r\n"}}),
    # Unix paths after "--" too; a name with one '/' only is no Unix path.
    throw_ok("a Unix path after -- becomes a drive path", INFO2,
             ["/nologo", INFO2.folder, "/Y", "/f", "--", UnixPath("T", "work/a.txt"), "/Y"],
             ["T:\\work\\a.txt", "T:\\Y"], extra={"Y": b"why\n"}, builds=(NATIVE,)),
    # The most specific drive: U: holds the name, so the bins' drives differ.
    th.throw_case("INFO2: a Unix path on another drive is refused with its letter",
                  ["/nologo", INFO2.folder, "/f", UnixPath("U", "x.txt"), "/Y"],
                  stdout=th.head(INFO2.folder, INFO2.reading) + msg("MSG_ERR_DRIVE_MISMATCH", EN, "U", "T"),
                  exit_code=26, unchanged=True, builds=(NATIVE,),
                  drives={"T": th.drive(INFO2.bin_builder), "U": {"x.txt": b"x"}}),
]

for L in en.LAYOUTS:
    CASES += [
        # A folder typed with a trailing '/' keeps the item's own name, which
        # follows the record's last '/' as well as its last '\'.
        en.restore_ok(L, 1, SLASHED, "T:\\keep\\my report.txt", "keep/my report.txt",
                      args=["1", "/Y", "T:\\keep/"], items=[SLASHED],
                      name="a record written with '/' into a folder typed with '/'"),
        # Native build: a Unix restore folder, its trailing '/' kept.
        en.restore_ok(L, 1, en.NOTES, "T:\\keep\\notes.txt", "keep/notes.txt",
                      args=["1", "/Y", UnixPath("T", "keep/")], name="into a Unix folder", builds=(NATIVE,)),
    ]

CASES += [
    en.restore_ok(en.INFO2, 1, SLASHED, "keep\\my report.txt", "keep/my report.txt",
                  args=["1", "/Y", "keep/"], items=[SLASHED],
                  name="a record written with '/' into a relative folder typed with '/'"),
    # After "--" a number is the index and "-restored.txt" the restore path.
    en.restore_ok(en.INFO2, 1, en.NOTES, "-restored.txt", "work/-restored.txt",
                  args=["/Y", "--", "1", "-restored.txt"], cwd="T:\\work", name="index and restore path after --"),
    # Native build: a Unix restore path to a new name.
    en.restore_ok(en.ITEMS, 3, en.REPORT, "T:\\keep\\renamed.doc", "keep/renamed.doc",
                  args=["3", UnixPath("T", "keep/renamed.doc"), "/Y"], name="to a Unix path", builds=(NATIVE,)),
]
