"""Recycle-bin stores built byte by byte, as Windows lays them out.

Used by the end-to-end cases and by examples/make_examples.py. Nothing here
imports the program: every field is packed from the documented layout, so
that a fault in the program's own reader cannot hide in a shared encoder.

    INFO / INFO2   20-byte header (version, entryCount, nextRecordNumber,
                   recordSize, totalSize), then records of recordSize bytes:
                   ansiPath[260], recordNumber, driveNumber, FILETIME, size,
                   and from 800 bytes on unicodePath[260 UTF-16 units]
    $I version 1   u64 1, u64 size, FILETIME, path[260 UTF-16 units] (544)
    $I version 2   u64 2, u64 size, FILETIME, u32 units, path with its
                   terminator (Windows 10 and 11)
"""

import datetime
import os
import struct

INFO_RECORD_SIZE = 280
INFO2_RECORD_SIZE = 800
NETWORK_DRIVE = 26
BIN_CLSID = "{645FF040-5081-101B-9F08-00AA002F954E}"

# desktop.ini of the bin folders. Only the section with both the bin's
# CLSID and a LocalizedResourceName key marks a folder as a $I/$R bin; the
# older systems write the CLSID alone; a UTF-16 file never marks (it counts
# only below a drive's $RECYCLE.BIN, whatever it holds).
_SECTION = "[.ShellClassInfo]\r\nCLSID=" + BIN_CLSID + "\r\n"
_LOCALIZED = "LocalizedResourceName=@%SystemRoot%\\system32\\shell32.dll,-8964\r\n"
DESKTOP_INI_OLD = _SECTION.encode("ascii")
DESKTOP_INI_MARKER = (_SECTION + _LOCALIZED).encode("ascii")
DESKTOP_INI_UTF16 = b"\xff\xfe" + (_SECTION + _LOCALIZED).encode("utf-16-le")

_EPOCH_AS_FILETIME = 116444736000000000


def filetime(moment):
    """FILETIME of a UTC datetime, or of seconds since 1970."""
    if isinstance(moment, datetime.datetime):
        if moment.tzinfo is None:
            moment = moment.replace(tzinfo=datetime.timezone.utc)
        delta = moment - datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)
        seconds = delta.days * 86400 + delta.seconds
    else:
        seconds = int(moment)
    return (seconds + 11644473600) * 10000000


def index_header(record_size, entry_count=0, next_number=0, total_size=0, version=5):
    return struct.pack("<5I", version, entry_count, next_number, record_size, total_size)


def _field(data, width):
    if len(data) > width:
        raise ValueError("field too long")
    return data + b"\0" * (width - len(data))


def index_record(record_size, number, drive, time, size, ansi_path, unicode_path=None,
                 removed=False):
    """One record. ansi_path is bytes (already in the writer's code page);
    unicode_path a str, written only when the record has room for it."""
    if removed:
        ansi_path = b"\0" + ansi_path[1:]
    record = _field(ansi_path, 260) + struct.pack("<IIQI", number, drive, time, size)
    if record_size >= INFO2_RECORD_SIZE:
        record += _field((unicode_path or "").encode("utf-16-le"), 520)
    return _field(record, record_size)


def data_item_name(letter, number, original_path):
    """"D", the letter, the number and the original extension."""
    own = original_path.replace("/", "\\").rsplit("\\", 1)[-1]
    ext = own.rsplit(".", 1)[1] if "." in own else None
    return "D%s%d" % (letter.lower(), number) + ("." + ext if ext is not None else "")


def item_info_v1(size, time, path):
    return struct.pack("<QQQ", 1, size, time) + _field(path.encode("utf-16-le"), 520)


def item_info_v2(size, time, path):
    units = path.encode("utf-16-le") + b"\0\0"
    return struct.pack("<QQQI", 2, size, time, len(units) // 2) + units


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as stream:
        stream.write(data)


def make_data_item(folder, name, directory=False, content=b"data\n"):
    """A data item: a file, or a folder holding one file."""
    target = os.path.join(folder, name)
    if directory:
        os.makedirs(target, exist_ok=True)
        write(os.path.join(target, "inside.txt"), content)
    else:
        write(target, content)
    return target


def build_index_bin(folder, name, record_size, records, version=5, desktop_ini=None,
                    items=True):
    """An INFO or INFO2 bin. records: dicts with number, drive (0 = A),
    time, size, ansi (bytes), wide (str, for 800-byte records), and
    optionally removed, directory, item (False: no data item)."""
    os.makedirs(folder, exist_ok=True)
    live = [r for r in records if not r.get("removed")]
    body = index_header(record_size, len(live),
                        max([r["number"] for r in records] + [-1]) + 1,
                        sum(r["size"] for r in live), version)
    for r in records:
        body += index_record(record_size, r["number"], r["drive"], r["time"], r["size"],
                             r["ansi"], r.get("wide"), r.get("removed", False))
    write(os.path.join(folder, name), body)
    if desktop_ini is not None:
        write(os.path.join(folder, "desktop.ini"), desktop_ini)
    if items:
        for r in live:
            if r.get("item", True):
                letter = chr(ord("a") + r["drive"])
                path = r.get("wide") or r["ansi"].decode("latin-1")
                make_data_item(folder, data_item_name(letter, r["number"], path),
                               r.get("directory", False))
    return folder


def build_item_bin(folder, items, desktop_ini=DESKTOP_INI_MARKER):
    """A $I/$R bin. items: dicts with code (six characters), path, time
    (FILETIME, or a datetime), size, and optionally version (1 or 2), directory, data (False: no $R)."""
    os.makedirs(folder, exist_ok=True)
    if desktop_ini is not None:
        write(os.path.join(folder, "desktop.ini"), desktop_ini)
    for it in items:
        own = it["path"].rsplit("\\", 1)[-1]
        ext = "." + own.rsplit(".", 1)[1] if "." in own else ""
        encode = item_info_v2 if it.get("version", 1) == 2 else item_info_v1
        time = it["time"] if isinstance(it["time"], int) else filetime(it["time"])
        write(os.path.join(folder, "$I" + it["code"] + ext), encode(it["size"], time, it["path"]))
        if it.get("data", True):
            make_data_item(folder, "$R" + it["code"] + ext, it.get("directory", False))
    return folder
