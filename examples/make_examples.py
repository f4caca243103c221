#!/usr/bin/env python3
"""Writes the sample bins of this folder, one per store layout:

    win95-info/        "INFO" of Windows 95: version 0, 280-byte records,
                       paths in the writer's ANSI code page (one in 932)
    xp-info2/          "INFO2" of Windows XP: version 5, 800-byte records,
                       a removed record and a network path (drive 26)
    vista-item-v1/     $I files of version 1 (Vista to 8.1), 544 bytes
    win10-item-v2/     $I files of version 2 (Windows 10 and 11)

The $I bins carry the ANSI desktop.ini that marks a folder as a bin, so that
they are recognised away from a drive's $RECYCLE.BIN folder. Run the script
from anywhere; it rewrites the folders in place. List one with
    dustpail examples\\xp-info2 /view
"""

import datetime
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import binlayout as bl  # noqa: E402


def at(*fields):
    return bl.filetime(datetime.datetime(*fields))


def fresh(name):
    folder = os.path.join(HERE, name)
    shutil.rmtree(folder, ignore_errors=True)
    return folder


def win95():
    bl.build_index_bin(fresh("win95-info"), "INFO", bl.INFO_RECORD_SIZE, [
        dict(number=0, drive=2, time=at(1998, 3, 14, 9, 26, 53), size=4096,
             ansi=b"C:\\MYDOCU~1\\REPORT.DOC"),
        dict(number=1, drive=2, time=at(1998, 3, 15, 17, 2, 0), size=2048,
             ansi="C:\\書類\\メモ.TXT".encode("cp932")),
        dict(number=2, drive=2, time=at(1998, 3, 16, 8, 0, 0), size=512,
             ansi=b"C:\\TEMP\\GONE.TXT", removed=True),
        dict(number=3, drive=3, time=at(1998, 4, 1, 12, 0, 0), size=8192,
             ansi=b"D:\\GAMES\\OLD", directory=True),
    ], version=0, desktop_ini=bl.DESKTOP_INI_OLD)


def xp():
    bl.build_index_bin(fresh("xp-info2"), "INFO2", bl.INFO2_RECORD_SIZE, [
        dict(number=1, drive=2, time=at(2005, 6, 1, 10, 30, 0), size=16384,
             ansi=b"C:\\Documents and Settings\\user\\My Documents\\notes.txt",
             wide="C:\\Documents and Settings\\user\\My Documents\\notes.txt"),
        dict(number=2, drive=2, time=at(2005, 6, 2, 11, 0, 0), size=4096,
             ansi=b"C:\\tmp\\removed.txt", wide="C:\\tmp\\removed.txt", removed=True),
        dict(number=3, drive=bl.NETWORK_DRIVE, time=at(2005, 6, 3, 14, 15, 16), size=20480,
             ansi=b"\\\\server\\share\\plan.xls", wide="\\\\server\\share\\plan.xls"),
        dict(number=4, drive=2, time=at(2005, 6, 4, 23, 59, 59), size=12288,
             ansi=b"C:\\tmp\\??.txt", wide="C:\\tmp\\日本.txt"),
        dict(number=5, drive=2, time=at(2005, 6, 5, 8, 0, 0), size=65536,
             ansi=b"C:\\tmp\\old project", wide="C:\\tmp\\old project", directory=True),
    ], version=5, desktop_ini=bl.DESKTOP_INI_OLD)


def vista():
    bl.build_item_bin(fresh("vista-item-v1"), [
        dict(code="4K0Z1Q", path="C:\\Users\\user\\Documents\\report.docx",
             time=at(2009, 11, 20, 16, 45, 0), size=23456),
        dict(code="A7B2C9", path="C:\\Users\\user\\Pictures\\holiday",
             time=at(2009, 11, 21, 9, 0, 0), size=0, directory=True),
        dict(code="ZZ0001", path="C:\\Users\\user\\Desktop\\todo",
             time=at(2009, 11, 22, 18, 30, 0), size=12),
    ])


def win10():
    bl.build_item_bin(fresh("win10-item-v2"), [
        dict(code="QW3RT7", version=2, path="C:\\Users\\user\\Downloads\\setup.exe",
             time=at(2021, 2, 3, 4, 5, 6), size=1048576),
        dict(code="M1N2B3", version=2, path="C:\\Users\\user\\Documents\\日本語のメモ.txt",
             time=at(2023, 7, 8, 9, 10, 11), size=321),
        dict(code="0PQ9XY", version=2, path="D:\\projects\\old",
             time=at(2024, 12, 31, 23, 59, 59), size=0, directory=True),
    ])


if __name__ == "__main__":
    win95()
    xp()
    vista()
    win10()
