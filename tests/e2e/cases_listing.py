"""Listings as data (/json, /csv) and selection by age and name (/older,
/match), in the three layouts.

One bin per layout holds a file, a folder, a removed record, a path with a
comma, quotes and a tab, and one with characters beyond the code page. The
data must parse with Python's json and csv modules and give, entry by
entry, what the table listing of the same bin shows (the same table
EXPECTED drives both). The age boundaries are tested on a bin whose times
are set when it is laid out, a minute either side of 30 days.
"""

import csv
import datetime
import io
import json
import re
import struct
import time

import binlayout as bl
from cases_entry import (LAYOUTS, NOTES, PROJECT, GONE, REPORT, T2, T3, Item, assert_consistent, bin_names,
                         build_bin, head)
from cases_store import FILE, FOLDER, listing
from rig import Case, banner, code_page_text, true_text_of
from texts import EN, JA, command_line_error, msg

ODD = Item(4, "DDDDD4", 'T:\\work\\a,b "q"\tc.txt', T2, 77)
GREEK = Item(5, "EEEEE5", "T:\\work\\\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac \U0001F600.txt", T3,
             4000000000)
ITEMS = [NOTES, PROJECT, GONE, REPORT, ODD, GREEK]
LISTED = [NOTES, PROJECT, REPORT, ODD, GREEK]  # numbers 1 to 5


def path_of(item, layout):
    """The original path as loaded: the UTF-16 field, else the ANSI one."""
    return item.path if layout.wide else item.ansi.decode("cp1252")


def expected(layout, chosen=LISTED):
    return [dict(index=LISTED.index(it) + 1, path=path_of(it, layout),
                 deleted=it.time.strftime("%Y-%m-%dT%H:%M:%SZ"), size=it.size,
                 attributes=(FOLDER if it.directory else FILE).strip(), folder=it.directory,
                 item=it.data_name(layout)) for it in chosen]


def parsed_json(result):
    return [json.loads(line) for line in result.raw.decode("utf-8").split("\n") if line]


def parsed_csv(result):
    text = result.raw.decode("utf-8")
    assert text.startswith("index,path,deleted,size,attributes,folder,item\r\n"), text[:80]
    assert all(line.endswith("\r") for line in text.split("\n")[:-1]), "lines end in CR LF"
    rows = list(csv.DictReader(io.StringIO(text, newline="")))
    convert = dict(index=int, size=int, folder=lambda v: v == "true", deleted=lambda v: v or None)
    return [{k: convert.get(k, str)(v) for k, v in row.items()} for row in rows]


def data_check(parse, want, messages):
    def check(result):
        got = parse(result)
        assert got == want, f"\n got  {got}\n want {want}"
        assert result.stderr.decode("utf-8", "replace").replace("\r\n", "\n").startswith(messages), \
            f"messages on stderr: {result.stderr[:200]!r}"
    return check


def table(layout, chosen=LISTED):
    """The table listing of `chosen`, numbered as in the full listing."""
    rows = [((code_page_text(it.path, EN).encode("cp1252") if layout.wide else it.ansi).replace(b"\t", b"?"),
             it.time.strftime("%Y/%m/%d %H:%M:%S"),
             FOLDER if it.directory else FILE) for it in chosen]
    text = listing(EN, layout.folder, layout.reading(), rows)
    for k, it in enumerate(chosen):
        text = text.replace(b"[%d] " % (k + 1) + rows[k][0], b"[%d] " % (LISTED.index(it) + 1) + rows[k][0], 1)
    return text


CASES = []
SELECTIONS = [  # (arguments, entries chosen)
    ([], LISTED),
    (["/match:*.TXT"], [NOTES, ODD, GREEK]),
    (["-match:T:\\work\\*"], [NOTES, PROJECT, ODD, GREEK]),
    (["/match:t:/W?RK/*.txt"], [NOTES, ODD, GREEK]),
    (["--Match:old*"], [PROJECT]),
    (["/older:3650", "/match:*.txt"], [NOTES, ODD]),
]
for layout in LAYOUTS:
    bins = {"T": build_bin(layout, ITEMS)}
    for n, (args, chosen) in enumerate(SELECTIONS):
        CASES.append(Case(f"{layout.key} table {n}", [layout.folder, "/view"] + args, drives=bins,
                          stdout=table(layout, chosen).decode("cp1252"), exit_code=0, unchanged=True))
        for word, parse in (("/json", parsed_json), ("-CSV", parsed_csv)):
            CASES.append(Case(f"{layout.key} {word} {n}", [layout.folder, word] + args, drives=bins, data=True,
                              exit_code=0, unchanged=True,
                              check=data_check(parse, expected(layout, chosen), head(layout))))
    # Emptying what a selection takes: the others stay listed, the counts right.
    def emptied(result, layout=layout):
        names = bin_names(result.after["T"], layout)
        for it in LISTED:
            gone = it in (NOTES, ODD, GREEK)
            assert (it.data_name(layout) in names) != gone, f"{it.path}: gone {gone}"
        assert_consistent(result, layout)
        if not layout.items:
            header = struct.unpack_from("<5I", result.after["T"][layout.rel + "/" + layout.index_name])
            assert header[1] == 2 and header[4] == PROJECT.size + REPORT.size, f"header {header}"
    removed = [layout.folder + "\\" + name for it in (NOTES, ODD, GREEK)
               for name in ((("$I" + it.data_name(layout)[2:]),) if layout.items else ()) + (it.data_name(layout),)]
    CASES.append(Case(f"{layout.key} empty selected", [layout.folder, "/empty", "/match:*.txt", "/Y"], drives=bins,
                      stdout=head(layout) + msg("MSG_DELETING", EN) + "".join(p + "\n" for p in removed) + "\n"
                      + msg("MSG_FINISHED", EN) + msg("MSG_SELECTED_DELETED", EN), exit_code=0, check=emptied))
    CASES.append(Case(f"{layout.key} whatif empty selected", [layout.folder, "/whatif", "/empty", "/match:*.txt"],
                      drives=bins, stdout=head(layout) + "".join(msg("MSG_WHATIF_DELETE", EN, p) for p in removed)
                      + msg("MSG_WHATIF_DONE", EN), exit_code=0, unchanged=True))
    for lang, key, tail, code in ((EN, "n", "N\n" + msg("MSG_CANCELED", EN), 2), (JA, "y", None, 0)):
        ask = msg("MSG_ASK_EMPTY_SELECTED", lang, 3) + " (Y/N)"
        answered = ask + tail if tail else None
        CASES.append(Case(f"{lang} {layout.key} empty selected answered {key}", [layout.folder, "/empty", "/match:*.txt"],
                          lang=lang, drives=bins, keys=[key], exit_code=code, unchanged=code != 0,
                          stdout=head(layout, lang) + answered if answered else None,
                          check=None if answered else emptied))
    for lang in (EN, JA):
        CASES.append(Case(f"{lang} {layout.key} nothing selected", [layout.folder, "/empty", "/match:none"],
                          lang=lang, drives=bins, stdout=head(layout, lang) + msg("MSG_NONE_SELECTED", lang),
                          exit_code=3, unchanged=True))

# ----------------------------------------------------------------- age boundaries

DAY = 86400
OLD = Item(7, "GGGGG7", "T:\\work\\old.txt", None, 10)      # 30 days and a minute ago
YOUNG = Item(8, "HHHHH8", "T:\\work\\young.txt", None, 20)  # a minute short of 30 days
NEW = Item(9, "IIIII9", "T:\\work\\new.txt", None, 30)      # now


def aged_bin(layout):
    """Times are set when the drive is laid out, just before the run."""
    def build(root):
        now = int(time.time())
        for it, age in ((OLD, 30 * DAY + 60), (YOUNG, 30 * DAY - 60), (NEW, 0)):
            it.time = datetime.datetime.fromtimestamp(now - age, datetime.timezone.utc)
        build_bin(layout, [OLD, YOUNG, NEW])(root)
    return build


def without_times(relpath, data):
    """The trees of two builds differ by the seconds between their runs."""
    name = relpath.rsplit("/", 1)[-1]
    if name in ("INFO", "INFO2"):
        data = bytearray(data)
        size = struct.unpack_from("<I", data, 12)[0]
        for off in range(20 + 268, len(data) - 7, size):
            data[off:off + 8] = bytes(8)
        return relpath, bytes(data)
    if name.startswith("$I") and isinstance(data, bytes):
        return relpath, data[:16] + bytes(8) + data[24:]
    return relpath, data


def without_deleted(text):
    return re.sub(r'"deleted":"[^"]*"', '"deleted":""', text)


def only_old_listed(result):
    got = parsed_json(result)
    assert [(e["index"], e["path"]) for e in got] == [(1, OLD.path)], got


for layout in LAYOUTS:
    def old_gone(result, layout=layout):
        names = bin_names(result.after["T"], layout)
        assert [it.path for it in (OLD, YOUNG, NEW) if it.data_name(layout) in names] == [YOUNG.path, NEW.path]
        assert_consistent(result, layout)
    item = OLD.data_name(layout)
    removed = ([layout.folder + "\\$I" + item[2:]] if layout.items else []) + [layout.folder + "\\" + item]
    CASES.append(Case(f"{layout.key} older than 30 days listed", [layout.folder, "/OLDER:30", "/json"], data=True,
                      drives={"T": aged_bin(layout)}, exit_code=0, check=only_old_listed,
                      output_mask=without_deleted, mask=without_times))
    CASES.append(Case(f"{layout.key} older than 30 days emptied", [layout.folder, "/empty", "-older:30", "/y"],
                      drives={"T": aged_bin(layout)}, exit_code=0, check=old_gone, mask=without_times,
                      stdout=head(layout) + msg("MSG_DELETING", EN) + "".join(p + "\n" for p in removed)
                      + "\n" + msg("MSG_FINISHED", EN) + msg("MSG_SELECTED_DELETED", EN)))

# ----------------------------------------------------------------- refused

for args in (["/older:"], ["/older:-1"], ["/older:36501"], ["/older:1x"], ["/older"], ["/match:"],
             ["/match"], ["/json:1"], ["/json", "/csv"], ["/json", "/empty"], ["/csv", "1"],
             ["/older:5", "/f", "x"], ["/match:x", "1"], ["/json", "/help"], ["/jsonx"]):
    CASES.append(Case("refused " + " ".join(args), args, stdout=banner() + command_line_error(EN),
                      exit_code=21, unchanged=True))

# ----------------------------------------------------------------- odd records

LONE = "T:\\work\\x\udc00y.txt"  # a lone surrogate, which only a \u escape carries


def lone_bin(layout):
    def build(root):
        folder = root + "/" + layout.rel
        bl.write(folder + "/desktop.ini", layout.desktop_ini)
        path = LONE.encode("utf-16-le", "surrogatepass")
        bl.write(folder + "/$ILLLLL6.txt", struct.pack("<QQQ", 1, 5, 0) + path + bytes(520 - len(path)))
        bl.write(folder + "/$RLLLLL6.txt", b"data\n")
    return build


def lone_listed(parse, path):
    def check(result):
        got = parse(result)
        assert [(e["path"], e["deleted"], e["item"]) for e in got] == [(path, None, "$RLLLLL6.txt")], got
    return check


ITEM_LAYOUT = LAYOUTS[2]
CASES.append(Case("lone surrogate and no time /json", [ITEM_LAYOUT.folder, "/json"], data=True, unchanged=True,
                  drives={"T": lone_bin(ITEM_LAYOUT)}, exit_code=0, check=lone_listed(parsed_json, LONE)))
CASES.append(Case("lone surrogate and no time /csv", [ITEM_LAYOUT.folder, "/csv"], data=True, unchanged=True,
                  drives={"T": lone_bin(ITEM_LAYOUT)}, exit_code=0,
                  check=lone_listed(parsed_csv, LONE.replace("\udc00", "\ufffd"))))

# On a console the .exe gives the data to WriteConsoleW, which shows it (a
# character beyond the BMP as Wine's console does).
def console_check(result):
    want = [dict(e, path=true_text_of(e["path"], result.build)) for e in expected(ITEM_LAYOUT)]
    parse = lambda r: [json.loads(line) for line in r.shown.split("\n") if line]
    data_check(parse, want, head(ITEM_LAYOUT))(result)


CASES.append(Case("$I/$R /json on a console", [ITEM_LAYOUT.folder, "/json"], console=True, data=True, keys=[],
                  drives={"T": build_bin(ITEM_LAYOUT, ITEMS)}, exit_code=0, unchanged=True, check=console_check))
