"""The states a command left, read from the views of the drive before and
after it: unchanged, done, or one of the partial states of
faults_scenarios.PARTIAL_STATES; anything else is a Violation."""

import struct

from faults_scenarios import LAYOUTS
from faults_view import DIR, subtree


class Violation(Exception):
    pass


def target_rel(path, extra):
    """Where a restored entry goes, as a relpath of drive T:."""
    if "target_dir" in extra:
        return extra["target_dir"] + "/" + path.rsplit("\\", 1)[-1]
    assert path[:3].upper() == "T:\\", path
    return path[3:].replace("\\", "/")


def outside_files(view):
    return {k: v for k, v in view.outside.items() if v is not DIR}


def same_records(before, after, allowed_zeroed=()):
    """Index records of `before` still in place, byte for byte, except that
    the ones listed may have been marked removed. Returns the records that
    were appended after them."""
    if len(after.records) < len(before.records):
        raise Violation(f"the index lost records ({len(before.records)} -> {len(after.records)})")
    for i, (old, new) in enumerate(zip(before.records, after.records)):
        if old == new:
            continue
        if i in allowed_zeroed and new == b"\0" + old[1:]:
            continue
        raise Violation(f"record {i} changed")
    return after.records[len(before.records):]


def entry_state(command, before, after, entry, extra):
    """What a restore or delete did to one entry: "done" or a partial state."""
    registered = entry.key in after.registered
    left = after.content(entry.item)
    if left is not None and not registered:
        raise Violation(f"{entry.path}: no longer registered, but its data is still in the bin")
    if command == "restore":
        target = target_rel(entry.path, extra)
        if subtree(after.tree, target) != entry.data or subtree(before.tree, target) is not None:
            raise Violation(f"{entry.path}: neither in the bin nor restored to {target}")
    if left is not None:
        # Only a directory that a delete emptied half way may be left, and
        # it must stay listed.
        if not (command == "delete" and registered and isinstance(left, frozenset) and left < entry.data):
            raise Violation(f"{entry.path}: " + ("changed in the bin" if registered else
                                                 "no longer registered, but its data is still in the bin"))
        return "directory partly removed"
    if registered:
        return "moved, still registered" if command == "restore" else "deleted, still registered"
    return "done"


def classify_restore_or_delete(command, before, after, extra):
    """The state a restore or delete left: "unchanged", "done" or a partial
    state. With several entries chosen they are handled in listing order and
    the run stops at an error, so the ones changed come first."""
    if after.tree == before.tree:
        return "unchanged"
    chosen = [before.listed()[i] for i in extra.get("chosen", [])]
    changed = [e for e in before.listed() if e not in after.entries]
    if not chosen and len(changed) != 1:
        raise Violation(f"{len(changed)} entries changed")
    if chosen and (not changed or changed != chosen[:len(changed)]):
        raise Violation(f"entries changed: {[e.path for e in changed]}, not the first of those chosen")
    states = [entry_state(command, before, after, e, extra) for e in changed]
    targets = [target_rel(e.path, extra) for e in changed] if command == "restore" else []
    others = {k: v for k, v in outside_files(after).items()
              if not any(k == t or k.startswith(t + "/") for t in targets)}
    if others != outside_files(before):
        raise Violation("files outside the bin changed" + (" besides the restored ones" if targets else ""))
    # The store: the records (or $I files) of the entries that went alone
    # may have gone.
    done = [e for e, state in zip(changed, states) if state == "done"]
    partial = [state for state in states if state != "done"]
    if before.index is not None:
        if not done and after.index != before.index:
            raise Violation(f"{partial[0]}, yet the index changed")
        numbers = {e.key[1] for e in done}
        record = [i for i, r in enumerate(before.records)
                  if r[0] != 0 and struct.unpack("<I", r[260:264])[0] in numbers]
        if same_records(before, after, allowed_zeroed=record):
            raise Violation("records appended")
        if done and not after.header_consistent():
            partial.append("moved, header counts stale" if command == "restore" else "deleted, header counts stale")
    else:
        gone = set(before.children) - set(after.children)
        new = set(after.children) - set(before.children)
        if new:
            raise Violation(f"new files in the bin: {sorted(new)}")
        if not gone <= {name for e in changed for name in (e.key[1], e.item)}:
            raise Violation(f"other items removed: {sorted(gone)}")
    if len(changed) < len(chosen):
        return "some restored" if command == "restore" else "some deleted"
    return partial[0] if partial else "done"


def classify_empty(before, after):
    if after.tree == before.tree:
        return "unchanged"
    if outside_files(after) != outside_files(before):
        raise Violation("files outside the bin changed")
    for name, data in after.children.items():
        if name not in before.children:
            raise Violation(f"new file in the bin: {name}")
    left_items = []
    for name, data in after.children.items():
        if before.index is not None and name == LAYOUTS[before.layout][1]:
            continue
        if name.lower() == "desktop.ini":
            if data != before.children[name]:
                raise Violation("desktop.ini changed")
            continue
        if after.content(name) != before.content(name):
            # A directory whose removal stopped half way.
            was, now = before.content(name), after.content(name)
            if not (isinstance(was, frozenset) and isinstance(now, frozenset) and now < was):
                raise Violation(f"{name} changed")
        left_items.append(name)
    # Every item that was listed and is still there is still listed.
    listed_after = {e.item for e in after.listed()}
    for e in before.listed():
        if after.content(e.item) is not None and e.item not in listed_after:
            raise Violation(f"{e.item} is left in the bin, but no longer listed")
    if before.index is not None:
        raw = after.index
        reset = struct.pack("<5I", before.header[0], 0, 0, before.header[3], 0)
        if not left_items and raw == reset:
            return "done"
        if raw is None or len(raw) != len(before.index):
            raise Violation(f"index rewritten as {raw[:40]!r} ({len(raw or b'')} bytes)")
        # Records stay in place; only their first bytes may be cleared.
        same_records(before, after, allowed_zeroed=range(len(before.records)))
        return "partly emptied" if left_items else "emptied, index not reset"
    if left_items:
        return "partly emptied"
    return "done"


def classify_throw(before, after, extra):
    """Every thrown file is still outside, or listed in the bin with its content."""
    thrown = extra["thrown"]
    outside_before = outside_files(before)
    outside_after = outside_files(after)
    untouched = {k: v for k, v in outside_before.items() if k not in thrown}
    if {k: v for k, v in outside_after.items() if k not in thrown} != untouched:
        raise Violation("files outside the bin changed besides the thrown ones")
    if after.taken_twice:
        return "record number taken twice"
    for e in before.entries:
        if e not in after.entries:
            raise Violation(f"entry {e.path} changed")
    new_entries = [e for e in after.entries if e not in before.entries]
    new_orphans = [o for o in after.orphans if o not in before.orphans]
    states = set()
    moved = 0
    listed = []
    for rel in thrown:
        content = outside_before[rel]
        path = "T:\\" + rel.replace("/", "\\")
        if outside_after.get(rel) == content:
            continue
        if rel in outside_after:
            raise Violation(f"{rel} changed")
        moved += 1
        match = [e for e in new_entries if e.path == path and e.data == content]
        if len(match) == 1:
            listed.append(match[0])
        elif any(o[1] == content for o in new_orphans):
            states.add("thrown item without record")
        else:
            raise Violation(f"{path} is neither in place nor listed once in the bin")
    if [e for e in new_entries if e.data is not None and e not in listed]:
        raise Violation("the bin lists new entries that no thrown item accounts for")
    if before.index is not None:
        for rec in same_records(before, after):
            if rec[0] == 0:
                continue  # taken back after a failed move
            number = struct.unpack("<I", rec[260:264])[0]
            if not any(e.key[1] == number for e in listed):
                states.add("live record without item")
        if not after.header_consistent():
            states.add("header counts stale")
    elif [e for e in new_entries if e.data is None] or set(after.unreadable) - set(before.unreadable):
        states.add("item index without its item")
    if after.taken_twice:
        return "record number taken twice"
    # A record without its item, or an item without its record, carries the
    # header's counts with it.
    if len(states) > 1:
        states.discard("header counts stale")
    if len(states) > 1:
        raise Violation("several partial states: " + ", ".join(sorted(states)))
    if states:
        return states.pop()
    if moved == 0:
        return "unchanged"
    return "done" if moved == len(thrown) else "some thrown"
