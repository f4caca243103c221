"""Throw cases: /f into the three layouts, read back byte by byte.

Every case lays out a bin and a work folder on drive T:, throws with /f and
checks what was written: the index header and the appended records (or the
$I files), the data items with their content, the console lines and the exit
code. rifiuti2 and rifiuti-vista (Debian's rifiuti2) read the same stores as
an independent reader, and the round-trip cases throw, list and restore with
the same build until every item is back in its place.

Deletion times and the six random characters of $I/$R names differ from one
build's run to the next; `throw_mask` takes them out before the builds'
drives are compared with each other. Each build's own bytes are checked in
full by the case's check.
"""

import datetime
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import uuid

import binlayout as bl
import rig
from rig import DIR, Case
from texts import EN, JA, msg

SID = "S-1-5-21-1004336348-1177238915-682003330-1000"
T_RECYCLED = "T:\\Recycled"
T_RECYCLER = "T:\\Recycler\\" + SID
T_RECYCLE_BIN = "T:\\$RECYCLE.BIN\\" + SID
DRIVE_T = ord("t") - ord("a")

# Deletion times are checked against the time the cases were loaded.
LOADED = time.time()

WORK = {
    "work/a.txt": b"alpha\n",
    "work/b.log": b"b" * 5000,
    "work/README": b"no extension here\n",
    "work/sub/inner.txt": b"inside a folder\n",
    "work/sub/deeper/x.bin": bytes(range(256)),
}
WORK_ITEMS = {  # what "T:\work\*" matches: path -> (size on record, kind)
    "T:\\work\\a.txt": "file",
    "T:\\work\\b.log": "file",
    "T:\\work\\README": "file",
    "T:\\work\\sub": "folder",
}

OLD_TIME = bl.filetime(datetime.datetime(2005, 6, 1, 10, 30, 0))
OLD_RECORDS = [
    dict(number=0, drive=2, time=OLD_TIME, size=8192, ansi=b"C:\\old\\x.txt", wide="C:\\old\\x.txt"),
    dict(number=1, drive=DRIVE_T, time=OLD_TIME, size=4096, ansi=b"T:\\old\\y.doc", wide="T:\\old\\y.doc"),
]
OLD_TOTAL = 8192 + 4096
OLD_ITEM = dict(code="4K0Z1Q", path="T:\\old\\notes.txt", time=OLD_TIME, size=11)


# ----------------------------------------------------------------- drives

def rel(path):
    """The snapshot key of a path on drive T:."""
    assert path[:3].upper() == "T:\\", path
    return path[3:].replace("\\", "/")


def drive(bin_builder=None, extra=None, work=True):
    def build(folder):
        if work:
            rig.lay_out(folder, WORK)
        if extra:
            rig.lay_out(folder, extra)
        if bin_builder:
            bin_builder(folder)
    return build


def index_bin(windows_folder, name, record_size, records=(), version=5, desktop_ini=None):
    def build(drive_folder):
        folder = os.path.join(drive_folder, *rel(windows_folder).split("/"))
        bl.build_index_bin(folder, name, record_size, list(records), version, desktop_ini)
    return build


def item_bin(windows_folder, items=()):
    def build(drive_folder):
        folder = os.path.join(drive_folder, *rel(windows_folder).split("/"))
        bl.build_item_bin(folder, list(items), bl.DESKTOP_INI_UTF16)
    return build


INFO2_BIN = index_bin(T_RECYCLER, "INFO2", 800, OLD_RECORDS, desktop_ini=bl.DESKTOP_INI_OLD)
INFO_BIN = index_bin(T_RECYCLED, "INFO", 280, (), version=0, desktop_ini=bl.DESKTOP_INI_OLD)
ITEM_BIN = item_bin(T_RECYCLE_BIN, [OLD_ITEM])


# ----------------------------------------------------------------- reading the stores back

def filetime_now_window():
    return bl.filetime(int(LOADED) - 1), bl.filetime(int(time.time()) + 1)


def cluster_of(result):
    return os.statvfs(result.folders["T"]).f_frsize


def rounded(size, cluster):
    return (size + cluster - 1) // cluster * cluster


def parse_index(data):
    version, count, next_number, record_size, total = struct.unpack_from("<5I", data)
    records = []
    for at in range(20, len(data) - record_size + 1, record_size):
        raw = data[at:at + record_size]
        number, drive_number, deleted, size = struct.unpack_from("<IIQI", raw, 260)
        wide = None
        if record_size >= 800:
            wide = raw[280:800].decode("utf-16-le").split("\0", 1)[0]
        records.append(dict(raw=raw, ansi=raw[:260].split(b"\0", 1)[0], number=number,
                            drive=drive_number, time=deleted, size=size, wide=wide))
    assert (len(data) - 20) % record_size == 0, f"index of {len(data)} bytes has a partial record"
    return dict(version=version, count=count, next=next_number, record_size=record_size,
                total=total, records=records)


def padded(field, used, what):
    assert field[used:] == bytes(len(field) - used), f"{what}: not zero-padded after its text"


def extension(path):
    own = path.rsplit("\\", 1)[-1]
    return own.rsplit(".", 1)[1] if "." in own else None


def data_item(bin_rel, number, path):
    ext = extension(path)
    return f"{bin_rel}/Dt{number}" + (f".{ext}" if ext is not None else "")


def thrown_lines(result, bin_shown, reading):
    """The item lines of a run that printed the bin, reading line, the items
    (in the file system's order) and one success line."""
    lines = result.text.split("\n")
    head = [msg("MSG_BIN_PATH", EN, bin_shown).rstrip("\n"), msg("MSG_READING", EN, reading).rstrip("\n")]
    assert lines[:2] == head, f"head {lines[:2]!r}"
    assert lines[-2:] == [msg("MSG_THROW_OK", EN).rstrip("\n"), ""], f"tail {lines[-2:]!r}"
    return lines[2:-2]


def content_of(tree, prefix):
    """The part of a tree below `prefix`, keyed relative to it."""
    out = {}
    for key, value in tree.items():
        if key.startswith(prefix + "/"):
            out[key[len(prefix) + 1:]] = value
    return out


def same_item(before, after, old_key, new_key):
    """The item at old_key before the run now lies at new_key, whole."""
    assert old_key not in after, f"{old_key} is still in its place"
    assert new_key in after, f"no {new_key}"
    assert after[new_key] == before[old_key], f"{new_key}: other content than {old_key}"
    if before[old_key] is DIR:
        assert content_of(after, new_key) == content_of(before, old_key), f"{new_key}: folder content differs"


def check_index_records(result, bin_rel, index_name, old_count, old_total, expected_paths,
                        code_page="cp1252"):
    """The header and the appended records of an index bin; returns the parsed index."""
    after, before = result.after["T"], result.before["T"]
    index = parse_index(after[f"{bin_rel}/{index_name}"])
    old = parse_index(before[f"{bin_rel}/{index_name}"])
    cluster = cluster_of(result)
    low, high = filetime_now_window()
    new = index["records"][old_count:]
    assert [r["raw"] for r in index["records"][:old_count]] == [r["raw"] for r in old["records"]], \
        "the records that were there changed"
    assert len(new) == len(expected_paths), f"{len(new)} records appended, {len(expected_paths)} expected"
    sizes = 0
    for i, (record, path) in enumerate(zip(new, expected_paths)):
        what = f"record {old_count + i} ({path})"
        number = old_count + i
        assert record["number"] == number, f"{what}: number {record['number']}"
        assert record["drive"] == DRIVE_T, f"{what}: drive number {record['drive']}"
        assert low <= record["time"] <= high and record["time"] % 10_000_000 == 0, \
            f"{what}: deletion time {record['time']}"
        original = before[rel(path)]
        size = 0 if original is DIR else rounded(len(original), cluster) if original else 0
        assert record["size"] == size, f"{what}: size {record['size']}, expected {size}"
        sizes += size
        ansi = path.encode(code_page, "replace").replace(b"?", b"#")
        assert record["ansi"] == ansi, f"{what}: ANSI path {record['ansi']!r}"
        padded(record["raw"][:260], len(ansi), f"{what} ANSI path")
        if index["record_size"] >= 800:
            assert record["wide"] == path, f"{what}: UTF-16 path {record['wide']!r}"
            padded(record["raw"][280:800], 2 * len(path), f"{what} UTF-16 path")
        same_item(before, result.after["T"], rel(path), data_item(bin_rel, number, path))
    assert index["version"] == old["version"], f"version {index['version']}"
    assert index["record_size"] == old["record_size"], f"record size {index['record_size']}"
    assert index["count"] == old_count + len(new), f"entryCount {index['count']}"
    assert index["next"] == old_count + len(new), f"nextRecordNumber {index['next']}"
    assert index["total"] == old_total + sizes, f"totalSize {index['total']}, expected {old_total + sizes}"
    return index


ITEM_NAME = re.compile(r"\$([IR])([0-9A-Z]{6})(\..*)?$")


def check_item_files(result, bin_rel, expected_paths, old_codes=(OLD_ITEM["code"],)):
    """The $I files and $R items of the thrown paths; returns {path: code}."""
    after, before = result.after["T"], result.before["T"]
    low, high = filetime_now_window()
    codes = {}
    for key, data in after.items():
        if not key.startswith(bin_rel + "/") or "/" in key[len(bin_rel) + 1:]:
            continue
        m = ITEM_NAME.match(key[len(bin_rel) + 1:])
        if not m or m.group(1) != "I" or m.group(2) in old_codes:
            continue
        assert len(data) == 544, f"{key}: {len(data)} bytes"
        version, size, deleted = struct.unpack_from("<QQQ", data)
        path = data[24:].decode("utf-16-le").split("\0", 1)[0]
        padded(data[24:], 2 * len(path), f"{key} path")
        assert path in expected_paths, f"{key} records {path!r}"
        assert path not in codes, f"two $I files record {path}"
        assert version == 1, f"{key}: version {version}"
        original = before[rel(path)]
        assert size == (0 if original is DIR else len(original)), f"{key}: size {size}"
        assert low <= deleted <= high and deleted % 10_000_000 == 0, f"{key}: deletion time {deleted}"
        ext = extension(path)
        assert m.group(3) == (f".{ext}" if ext is not None else None), f"{key}: extension"
        same_item(before, after, rel(path), f"{bin_rel}/$R{m.group(2)}{m.group(3) or ''}")
        codes[path] = m.group(2)
    assert sorted(codes) == sorted(expected_paths), f"$I files for {sorted(codes)}"
    for code in old_codes:
        for key in before:
            if f"/$I{code}" in key or f"/$R{code}" in key:
                assert after.get(key) == before[key], f"{key} changed"
    return codes


def unchanged_except(result, changed_prefixes):
    """Nothing outside the given keys (and what lies below them) changed."""
    before, after = result.before["T"], result.after["T"]
    def outside(key):
        return not any(key == p or key.startswith(p + "/") for p in changed_prefixes)
    b = {k: v for k, v in before.items() if outside(k)}
    a = {k: v for k, v in after.items() if outside(k)}
    assert a == b, "other files changed: " + " ".join(sorted(set(a) ^ set(b)))


# ----------------------------------------------------------------- the independent reader

def utc_text(filetime):
    seconds = (filetime - 116444736000000000) // 10_000_000
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S")


def run_reader(command):
    if shutil.which(command[0]) is None:
        raise AssertionError(f"{command[0]} is not installed (Debian package rifiuti2)")
    out = subprocess.run(command, capture_output=True, timeout=60)
    assert out.returncode == 0, f"{' '.join(command)} exited with {out.returncode}: {out.stderr[:300]!r}"
    return [line.split("\t") for line in out.stdout.decode("utf-8").splitlines() if line]


def rifiuti_index(result, bin_rel, index_name, legacy=False):
    """rifiuti2's reading of the index: {path: (time, size)} of its live records."""
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, index_name)
        with open(path, "wb") as f:
            f.write(result.after["T"][f"{bin_rel}/{index_name}"])
        command = ["rifiuti2", "-n"] + (["-l", "CP1252"] if legacy else []) + [path]
        rows = run_reader(command)
    seen = {}
    for row in rows:
        if legacy:  # index, time, size, path
            seen[row[3]] = (row[1], int(row[2]))
        else:       # index, time, gone, size, path
            assert row[2] == "No", f"rifiuti2 says {row[4]} is gone"
            seen[row[4]] = (row[1], int(row[3]))
    return seen


def rifiuti_items(result, bin_rel):
    """rifiuti-vista's reading of the $I files: {path: (time, size)}."""
    with tempfile.TemporaryDirectory() as scratch:
        for key, data in result.after["T"].items():
            name = key[len(bin_rel) + 1:]
            if key.startswith(bin_rel + "/$I") and "/" not in name:
                with open(os.path.join(scratch, name), "wb") as f:
                    f.write(data)
        rows = run_reader(["rifiuti-vista", "-n", scratch])
    return {row[3]: (row[1], int(row[2])) for row in rows}


def agrees_with_index(result, seen, index):
    wanted = {}
    for record in index["records"]:
        if record["raw"][0] == 0:
            continue
        path = record["wide"] if record["wide"] is not None else record["ansi"].decode("cp1252")
        wanted[path] = (utc_text(record["time"]), record["size"])
    assert seen == wanted, f"rifiuti2 read {seen!r}, the index holds {wanted!r}"


# ----------------------------------------------------------------- comparing builds

def _zero_index_times(data):
    record_size = struct.unpack_from("<I", data, 12)[0]
    if record_size < 280:
        return data
    out = bytearray(data)
    for at in range(20, len(data) - record_size + 1, record_size):
        out[at + 268:at + 276] = bytes(8)
    return bytes(out)


def throw_mask(relpath, data):
    """Deletion times and random item names out, so that builds compare."""
    name = relpath.rsplit("/", 1)[-1]
    if data is not DIR and name in ("INFO", "INFO2") and len(data) >= 20:
        return relpath, _zero_index_times(data)
    m = re.search(r"/\$([IR])[0-9A-Z]{6}((?:\.[^/]*)?)(/.*)?$", relpath)
    if not m:
        return relpath, data
    folder = relpath[:m.start()]
    if m.group(1) == "I" and m.group(3) is None and data is not DIR:
        path = data[24:].decode("utf-16-le", "replace").split("\0", 1)[0]
        return f"{folder}/$I~{path}", data[:16] + bytes(8) + data[24:]
    digest = "dir" if data is DIR and m.group(3) is None else hashlib.sha1(
        b"" if data is DIR else data).hexdigest()[:10]
    return f"{folder}/$R~{m.group(2)}~{digest}{m.group(3) or ''}", data


def throw_case(name, args, **kw):
    kw.setdefault("mask", throw_mask)
    return Case(name, args, **kw)


# ----------------------------------------------------------------- running a build again

def _runner_option(flag, default):
    argv = sys.argv
    for i, word in enumerate(argv):
        if word == flag and i + 1 < len(argv):
            return argv[i + 1]
        if word.startswith(flag + "="):
            return word.split("=", 1)[1]
    return default


class Rerun:
    """Runs the result's build again on the drives that its run left, in a
    private copy of the run's Wine prefix whose server stays up until the
    end of the `with` block."""

    def __init__(self, result):
        repo = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        root = os.path.abspath(_runner_option("--root", os.path.join(repo, "build", "e2e")))
        windows = os.path.abspath(_runner_option("--windows-dir", os.path.join(repo, "build", "windows")))
        native = os.path.join(repo, "build", "native", "dustpail")
        self.builds = rig.Builds(native=os.path.abspath(_runner_option("--native", native)),
                                 exe=os.path.join(windows, "dustpail.exe"),
                                 ansi=os.path.join(windows, "dustpail-ansi.exe"))
        self.result = result
        self.base = os.path.join(root, "base-prefix")
        self.prefix = os.path.join(root, "prefixes", "throw-rerun-" + uuid.uuid4().hex[:8])

    def __enter__(self):
        rig.copy_prefix(self.base, self.prefix)
        rig.map_drives(self.prefix, self.result.folders)
        self.env = rig.wine_env(self.prefix)
        self.env["LC_ALL"] = self.env["LANG"] = rig.LOCALES[EN]
        self.env["TZ"] = "UTC"
        if self.result.build != rig.NATIVE:
            # The prefix's services start now, with no output of a run open
            # (they outlive the run and would hold it).
            rig.run_quiet(["wineserver", "-p"], self.env)
            rig.run_quiet(self.builds.command(self.result.build, ["/nologo", "/?"]), self.env, timeout=120)
        return self

    def __exit__(self, *exc):
        rig.kill_server(self.prefix)
        shutil.rmtree(self.prefix, ignore_errors=True)

    def __call__(self, args):
        """(exit code, stdout) of one more run."""
        with tempfile.TemporaryFile() as stdout:
            code = subprocess.run(self.builds.command(self.result.build, args), cwd=self.result.folders["T"],
                                  env=self.env, stdin=subprocess.DEVNULL, stdout=stdout,
                                  stderr=subprocess.DEVNULL, timeout=120, start_new_session=True).returncode
            stdout.seek(0)
            text = rig.output_text(stdout.read().replace(b"\r\n", b"\n"), self.result.build)
        return code, text


def round_trip(bin_path, store_keys):
    """After the throw into an empty bin: the listing shows every item, and
    restoring entry 1 again and again brings each one back whole to its
    place and leaves no data item behind. `store_keys` tells the store's
    own files of the bin folder, which stay."""
    count = len(WORK_ITEMS)

    def check(result):
        with Rerun(result) as rerun:
            check_with(result, rerun)

    def check_with(result, rerun):
        code, text = rerun(["/nologo", bin_path, "/view"])
        assert code == 0, f"/view exited with {code}: {text!r}"
        assert msg("MSG_FILE_COUNT", EN, count) in text, f"/view: {text!r}"
        listed = [line for line in text.split("\n") if line.startswith("[")]
        assert len(listed) == count, f"/view lists {listed!r}"
        for path in WORK_ITEMS:
            assert any(line.split(" ")[1] == path for line in listed), f"/view does not list {path}"
        for step in range(count):
            code, text = rerun(["/nologo", bin_path, "1", "/Y"])
            assert code == 0, f"restore {step + 1} exited with {code}: {text!r}"
            assert msg("MSG_RESTORE_OK", EN) in text, f"restore {step + 1}: {text!r}"
        back = rig.snapshot(result.folders["T"])
        before = result.before["T"]
        work = {k: v for k, v in before.items() if k == "work" or k.startswith("work/")}
        assert {k: v for k, v in back.items() if k == "work" or k.startswith("work/")} == work, \
            "the work folder did not come back as it was"
        bin_rel = rel(bin_path)
        left = sorted(k[len(bin_rel) + 1:] for k in back if k.startswith(bin_rel + "/"))
        assert left == sorted(store_keys), f"left in the bin: {left!r}"
        code, text = rerun(["/nologo", bin_path, "/view"])
        assert code == 0 and msg("MSG_BIN_EMPTY", EN) in text, f"/view at the end: {text!r}"
    return check


# ----------------------------------------------------------------- checks of the cases

def info2_wildcard(result):
    order = thrown_lines(result, T_RECYCLER, T_RECYCLER + "\\INFO2")
    assert sorted(order) == sorted(WORK_ITEMS), f"thrown {order!r}"
    bin_rel = rel(T_RECYCLER)
    index = check_index_records(result, bin_rel, "INFO2", 2, OLD_TOTAL, order)
    agrees_with_index(result, rifiuti_index(result, bin_rel, "INFO2"), index)
    unchanged_except(result, [bin_rel + "/INFO2", "work"] + [data_item(bin_rel, 2 + i, p)
                                                            for i, p in enumerate(order)])


def info_relative(result):
    bin_rel = rel(T_RECYCLED)
    paths = ["T:\\work\\a.txt", "T:\\work\\sub"]
    index = check_index_records(result, bin_rel, "INFO", 0, 0, paths)
    assert len(index["records"][0]["raw"]) == 280
    agrees_with_index(result, rifiuti_index(result, bin_rel, "INFO", legacy=True), index)


def items_drive_relative(result):
    bin_rel = rel(T_RECYCLE_BIN)
    codes = check_item_files(result, bin_rel, ["T:\\work\\README", "T:\\work\\b.log"])
    assert len(set(codes.values())) == 2
    seen = rifiuti_items(result, bin_rel)
    for path in codes:
        assert path in seen, f"rifiuti-vista does not see {path}: {seen!r}"
        assert seen[path][1] == len(result.before["T"][rel(path)]), f"rifiuti-vista size of {path}"
    assert seen[OLD_ITEM["path"]] == (utc_text(OLD_TIME), OLD_ITEM["size"])


def items_wildcard(result):
    order = thrown_lines(result, T_RECYCLE_BIN, T_RECYCLE_BIN)
    assert sorted(order) == sorted(WORK_ITEMS), f"thrown {order!r}"
    bin_rel = rel(T_RECYCLE_BIN)
    check_item_files(result, bin_rel, list(WORK_ITEMS))
    seen = rifiuti_items(result, bin_rel)
    assert sorted(seen) == sorted(list(WORK_ITEMS) + [OLD_ITEM["path"]]), f"rifiuti-vista read {seen!r}"


def both_checks(*checks):
    def check(result):
        for c in checks:
            c(result)
    return check


def info2_checker(paths, old_count=2, old_total=OLD_TOTAL, code_page="cp1252"):
    def check(result):
        bin_rel = rel(T_RECYCLER)
        index = check_index_records(result, bin_rel, "INFO2", old_count, old_total, paths, code_page)
        agrees_with_index(result, rifiuti_index(result, bin_rel, "INFO2"), index)
    return check


def refused_store(result):
    """The pattern in the bin's parent threw the ordinary file only."""
    bin_rel = rel(T_RECYCLER)
    lines = result.text.split("\n")
    assert lines[:2] == [msg("MSG_BIN_PATH", EN, T_RECYCLER).rstrip("\n"),
                         msg("MSG_READING", EN, T_RECYCLER + "\\INFO2").rstrip("\n")], lines[:2]
    first = set(lines[2:4])
    assert first == {"T:\\Recycler\\other.txt", msg("MSG_ERR_FILE_INVALID", EN, T_RECYCLER).rstrip("\n")}, lines
    assert lines[4:] == [msg("MSG_ERR_FILE_INVALID", EN, f"T:\\RECYCLER\\{SID}\\INFO2").rstrip("\n"),
                         msg("MSG_ERR_FILE_INVALID", EN, "t:\\Recycler").rstrip("\n"),
                         msg("MSG_ERR_FILE_INVALID", EN, f"T:\\Recycler\\{SID}\\desktop.ini").rstrip("\n"),
                         ""], lines
    index = check_index_records(result, bin_rel, "INFO2", 2, OLD_TOTAL, ["T:\\Recycler\\other.txt"])
    assert index["count"] == 3


# ----------------------------------------------------------------- expected texts

def head(bin_path, reading, lang=EN):
    return msg("MSG_BIN_PATH", lang, bin_path) + msg("MSG_READING", lang, reading)


OK = msg("MSG_THROW_OK", EN)
LONG_EXT = "x." + "e" * 249                       # T:\work\x.eee... is 259 characters
LONG_DIR = "d" * 200
LONG_FILE = "f" * 60                              # T:\work\ddd...\fff... is 269 characters
JA_PATH = "T:\\work\\書類\\メモ.txt"
# 173 characters, but 333 bytes in code page 932: more than an ANSI field holds.
JA_LONG = "T:\\work\\" + "長" * 80 + "\\" + "名" * 80 + ".txt"
WIDE_ONLY = "T:\\work\\日本.txt"


CASES = [
    # --- INFO2: a wildcard over files, a file without extension and a folder
    throw_case("info2 wildcard throws files and a folder, records byte by byte",
               ["/nologo", T_RECYCLER, "/f", "T:\\work\\*", "/Y"], exit_code=0,
               drives={"T": drive(INFO2_BIN)}, check=info2_wildcard),
    throw_case("info2 numbers after 0 to 6: record 7, next 8",
               ["/nologo", T_RECYCLER, "/f", "T:\\work\\a.txt", "/Y"],
               stdout=head(T_RECYCLER, T_RECYCLER + "\\INFO2") + "T:\\work\\a.txt\n" + OK, exit_code=0,
               drives={"T": drive(index_bin(T_RECYCLER, "INFO2", 800, [
                   dict(number=n, drive=DRIVE_T, time=OLD_TIME, size=4096, ansi=b"T:\\old\\%d.txt" % n,
                        wide="T:\\old\\%d.txt" % n) for n in range(7)]))},
               check=info2_checker(["T:\\work\\a.txt"], old_count=7, old_total=7 * 4096)),

    # --- INFO: relative names against the current directory
    throw_case("info relative names, each its own success line",
               ["/nologo", T_RECYCLED, "/f", "a.txt", "..\\work\\.\\sub", "/Y"], cwd="T:\\work",
               stdout=head(T_RECYCLED, T_RECYCLED + "\\INFO") + "T:\\work\\a.txt\n" + OK
               + "T:\\work\\sub\n" + OK, exit_code=0,
               drives={"T": drive(INFO_BIN)}, check=info_relative),

    # --- $I/$R: drive-relative names in either case, and a wildcard
    throw_case("items drive-relative names get $I and $R pairs",
               ["/nologo", T_RECYCLE_BIN, "/f", "t:README", "T:b.log", "/Y"], cwd="T:\\work",
               stdout=head(T_RECYCLE_BIN, T_RECYCLE_BIN) + "T:\\work\\README\n" + OK
               + "T:\\work\\b.log\n" + OK, exit_code=0,
               drives={"T": drive(ITEM_BIN)}, check=items_drive_relative),
    throw_case("items wildcard throws files and a folder",
               ["/nologo", T_RECYCLE_BIN, "/f", "T:\\work\\*", "/Y"], exit_code=0,
               drives={"T": drive(ITEM_BIN)}, check=items_wildcard),

    # --- the question
    throw_case("question lists the full paths; yes throws",
               ["/nologo", T_RECYCLER, "/f", "a.txt", "sub\\..\\README"], cwd="T:\\work", keys=["y"],
               stdout=msg("MSG_BIN_PATH", EN, T_RECYCLER) + "1: T:\\work\\a.txt\n2: T:\\work\\README\n"
               + msg("MSG_ASK_THROW", EN) + " (Y/N)Y\n" + msg("MSG_READING", EN, T_RECYCLER + "\\INFO2")
               + "T:\\work\\a.txt\n" + OK + "T:\\work\\README\n" + OK, exit_code=0,
               drives={"T": drive(INFO2_BIN)}, check=info2_checker(["T:\\work\\a.txt", "T:\\work\\README"])),
    throw_case("question answered no: nothing loaded, nothing thrown",
               ["/nologo", T_RECYCLER, "/f", "a.txt"], cwd="T:\\work", keys=["n"],
               stdout=msg("MSG_BIN_PATH", EN, T_RECYCLER) + "1: T:\\work\\a.txt\n"
               + msg("MSG_ASK_THROW", EN) + " (Y/N)N\n" + msg("MSG_CANCELED", EN), exit_code=2,
               unchanged=True, drives={"T": drive(INFO2_BIN)}),

    # --- text: the ANSI field in the code page, '#' for what it lacks
    throw_case("ja path in cp932 and UTF-16",
               ["/nologo", T_RECYCLER, "/f", JA_PATH, "/Y"], lang=JA,
               stdout=head(T_RECYCLER, T_RECYCLER + "\\INFO2", JA) + JA_PATH + "\n" + msg("MSG_THROW_OK", JA),
               exit_code=0, drives={"T": drive(INFO2_BIN, {rel(JA_PATH): b"memo\n"})},
               check=info2_checker([JA_PATH], code_page="cp932")),
    throw_case("ja path too long for the ANSI field is refused by an index bin",
               ["/nologo", T_RECYCLER, "/f", JA_LONG, "/Y"], lang=JA,
               stdout=head(T_RECYCLER, T_RECYCLER + "\\INFO2", JA) + msg("MSG_ERR_FILE_INVALID", JA, JA_LONG),
               exit_code=25, unchanged=True, drives={"T": drive(INFO2_BIN, {rel(JA_LONG): b"long\n"})}),
    throw_case("ja the same path is kept whole by a $I bin",
               ["/nologo", T_RECYCLE_BIN, "/f", JA_LONG, "/Y"], lang=JA,
               stdout=head(T_RECYCLE_BIN, T_RECYCLE_BIN, JA) + JA_LONG + "\n" + msg("MSG_THROW_OK", JA),
               exit_code=0, drives={"T": drive(ITEM_BIN, {rel(JA_LONG): b"long\n"})},
               check=lambda r: check_item_files(r, rel(T_RECYCLE_BIN), [JA_LONG])),
    throw_case("a character the code page lacks is # in the ANSI field only",
               ["/nologo", T_RECYCLER, "/f", WIDE_ONLY, "/Y"],
               stdout=head(T_RECYCLER, T_RECYCLER + "\\INFO2") + "T:\\work\\##.txt\n" + OK, exit_code=0,
               drives={"T": drive(INFO2_BIN, {rel(WIDE_ONLY): b"wide\n"})},
               check=info2_checker([WIDE_ONLY])),

    # --- drives
    throw_case("a name on another drive is refused with both letters",
               ["/nologo", T_RECYCLER, "/f", "u:\\x.txt", "/Y"],
               stdout=head(T_RECYCLER, T_RECYCLER + "\\INFO2")
               + msg("MSG_ERR_DRIVE_MISMATCH", EN, "U", "T"), exit_code=26, unchanged=True,
               drives={"T": drive(INFO2_BIN), "U": {"x.txt": b"x"}}),
    throw_case("a bin given relative to the current directory passes the drive check",
               ["/nologo", "Recycler\\" + SID, "/f", "T:\\work\\a.txt", "/Y"], cwd="T:\\",
               stdout=head("Recycler\\" + SID, "Recycler\\" + SID + "\\INFO2") + "T:\\work\\a.txt\n" + OK,
               exit_code=0, drives={"T": drive(INFO2_BIN)}, check=info2_checker(["T:\\work\\a.txt"])),

    # --- refusals
    throw_case("the bin, what holds it and its files are refused, match by match",
               ["/nologo", T_RECYCLER, "/f", "T:\\Recycler\\*", f"T:\\RECYCLER\\{SID}\\INFO2",
                "t:\\recycler", f"T:\\Recycler\\{SID}\\desktop.ini", "/Y"], exit_code=25,
               drives={"T": drive(INFO2_BIN, {"Recycler/other.txt": b"other\n"}, work=False)},
               check=refused_store),
    throw_case("paths that would not fit are refused, nothing written",
               ["/nologo", T_RECYCLER, "/f", "T:\\work\\x.*", f"T:\\work\\{LONG_DIR}\\*", "/Y"],
               stdout=head(T_RECYCLER, T_RECYCLER + "\\INFO2")
               + msg("MSG_ERR_FILE_INVALID", EN, "T:\\work\\" + LONG_EXT)
               + msg("MSG_ERR_FILE_INVALID", EN, f"T:\\work\\{LONG_DIR}\\{LONG_FILE}"),
               exit_code=25, unchanged=True,
               drives={"T": drive(INFO2_BIN, {"work/" + LONG_EXT: b"e", f"work/{LONG_DIR}/{LONG_FILE}": b"f"},
                                  work=False)}),
    throw_case("a missing file is invalid",
               ["/nologo", T_RECYCLER, "/f", "T:\\work\\missing.txt", "/Y"],
               stdout=head(T_RECYCLER, T_RECYCLER + "\\INFO2")
               + msg("MSG_ERR_FILE_INVALID", EN, "T:\\work\\missing.txt"), exit_code=25, unchanged=True,
               drives={"T": drive(INFO2_BIN)}),

    # --- round trips: throw, list, restore
    throw_case("round trip INFO2", ["/nologo", T_RECYCLER, "/f", "T:\\work\\*", "/Y"], exit_code=0,
               drives={"T": drive(index_bin(T_RECYCLER, "INFO2", 800, (), desktop_ini=bl.DESKTOP_INI_OLD))},
               check=round_trip(T_RECYCLER, ["INFO2", "desktop.ini"])),
    throw_case("round trip INFO", ["/nologo", T_RECYCLED, "/f", "T:\\work\\*", "/Y"], exit_code=0,
               drives={"T": drive(INFO_BIN)}, check=round_trip(T_RECYCLED, ["INFO", "desktop.ini"])),
    throw_case("round trip $I", ["/nologo", T_RECYCLE_BIN, "/f", "T:\\work\\*", "/Y"], exit_code=0,
               drives={"T": drive(item_bin(T_RECYCLE_BIN))}, check=round_trip(T_RECYCLE_BIN, ["desktop.ini"])),
]
