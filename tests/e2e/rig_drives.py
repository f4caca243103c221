"""Drives of the end-to-end rig: a case's trees laid out as folders, and
folders read back as trees."""

import hashlib
import os


class _Dir:
    def __repr__(self):
        return "<dir>"


class LargeFile:
    """A file too big to hold in memory, as a snapshot keeps it: its size and
    a digest of its content that does not depend on where its holes are."""

    CHUNK = 1 << 20

    def __init__(self, path, size):
        self.size = size
        digest = hashlib.sha256()
        zero = hashlib.sha256(bytes(self.CHUNK)).digest()
        with open(path, "rb") as f:
            fd = f.fileno()
            for start in range(0, size, self.CHUNK):
                length = min(self.CHUNK, size - start)
                try:
                    in_hole = os.lseek(fd, start, os.SEEK_DATA) >= start + length
                except OSError:  # no data after `start`
                    in_hole = True
                if in_hole and length == self.CHUNK:
                    digest.update(zero)
                else:
                    f.seek(start)
                    digest.update(hashlib.sha256(f.read(length)).digest())
        self.digest = digest.hexdigest()

    def __eq__(self, other):
        return isinstance(other, LargeFile) and (self.size, self.digest) == (other.size, other.digest)

    def __hash__(self):
        return hash((self.size, self.digest))

    def __len__(self):
        return self.size

    def __repr__(self):
        return f"<{self.size} bytes, sha256 of chunks {self.digest[:12]}>"


# Files larger than this are kept as LargeFile in snapshots.
LARGE_FILE = 64 << 20


# Value of a directory in a tree (files map to their bytes).
DIR = _Dir()
# Value of a drive that is mapped to a folder that does not exist.
MISSING = "<missing>"


class UnixPath(str):
    """An argument that is the Unix path of a place on a case's drive, known
    only once the run has laid the drive out: UnixPath("T", "work/a.txt") is
    T:'s folder followed by "/work/a.txt" ("<T>/work/a.txt" in case names)."""

    def __new__(cls, letter, rest=""):
        text = super().__new__(cls, f"<{letter.upper()}>" + (f"/{rest}" if rest else ""))
        text.letter, text.rest = letter.upper(), rest
        return text

    def resolve(self, folders):
        return folders[self.letter] + (f"/{self.rest}" if self.rest else "")


def native_path(relpath):
    return relpath.replace("\\", "/").strip("/")


def lay_out(folder, spec):
    """Fills `folder` from a tree spec: {relpath: bytes | str | DIR} or callable."""
    os.makedirs(folder, exist_ok=True)
    if callable(spec):
        spec(folder)
        return
    for relpath, value in spec.items():
        path = os.path.join(folder.encode(), native_path(relpath).encode("utf-8"))
        if value is DIR:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        data = value.encode("utf-8") if isinstance(value, str) else value
        with open(path, "wb") as f:
            f.write(data)


def snapshot(folder):
    """{relpath: bytes or DIR} of everything below `folder` (relpaths use '/')."""
    tree = {}
    if not os.path.isdir(folder):
        return tree
    base = folder.encode()
    for dirpath, dirnames, filenames in os.walk(base):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, base).decode("utf-8", "surrogateescape")
            if os.path.islink(path):
                tree[rel] = b"<link to " + os.readlink(path) + b">"
            elif os.path.isdir(path):
                tree[rel] = DIR
            elif os.path.getsize(path) > LARGE_FILE:
                tree[rel] = LargeFile(path, os.path.getsize(path))
            else:
                with open(path, "rb") as f:
                    tree[rel] = f.read()
    return tree


def apply_mask(tree, mask):
    if mask is None:
        return tree
    out = {}
    for rel, data in tree.items():
        kept = mask(rel, data)
        if kept is not None:
            out[kept[0]] = kept[1]
    return out


def describe_tree(tree):
    lines = []
    for rel in sorted(tree):
        data = tree[rel]
        if data is DIR:
            lines.append(f"{rel}/")
        elif isinstance(data, LargeFile):
            lines.append(f"{rel}  {data!r}")
        else:
            digest = hashlib.sha256(data).hexdigest()[:12]
            lines.append(f"{rel}  {len(data)} bytes  {digest}")
    return lines
