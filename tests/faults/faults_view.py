"""The independent reader of the fault-injection tests: a drive read back
as a tree, and the bin in it as a reader of the store lists it, in each of
the three layouts. It shares no code with the program."""

import collections
import os
import re
import struct

from faults_scenarios import LAYOUTS, bin_rel

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
