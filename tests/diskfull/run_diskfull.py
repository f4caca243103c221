#!/usr/bin/env python3
"""Full-disk test: every command on a drive that is full, or nearly so.

Drive T: is a small tmpfs mounted for the test (root only; without the
right to mount, the test is skipped with exit code 77). For each build
(native, and dustpail.exe under Wine), store layout, command and fill level,
the drive is laid out afresh (run_faults' bin of three entries and the
files outside it), filled, and the command run once. Then:

1. every file the test made is accounted for (tests/faults/ledger.py: in
   place, in the bin with its own record, restored, or gone by a delete or
   empty), the index is whole, no record number is taken twice;
2. the exit code tells the truth: 0 only with the whole effect and the
   success message, an error code never with it;
3. with the space given back, /view lists exactly what the reader sees, and
   the command run once more, and then the throw of another file, lose
   nothing either (a piece of a record left at the end of the index would
   put the next record off its boundary).

Fill levels:
- pages: tmpfs counts whole pages, so the free space is the free pages
  (0 or 1) plus the room left in the index file's last page, which removed
  records in the index set: just below, at and above the record size, the
  least and the most the record size allows;
- inodes: no file can be created at all (the rest of the inode table taken
  by empty folders);
- bytes: the last free bytes, byte by byte: RLIMIT_FSIZE caps the size any
  file may grow to (SIGXFSZ ignored, so a write past it fails with EFBIG):
  around the record size past the index's end, around 544 for a new $I
  file, around 20 for the index an empty rewrites (there the cap stands for
  the space the truncation freed being taken before the header is written
  back), the index's own size for a restore or delete.

  run_diskfull.py [--native build/native/dustpail] [--exe build/windows/dustpail.exe]
                  [--build native] [--layout info2] [--scenario throw] [-v]

Environment: DUSTPAIL_DISKFULL_BUILDS (native,exe), DUSTPAIL_DISKFULL_LAYOUTS
(info,info2,items), DUSTPAIL_DISKFULL_SCENARIOS, DUSTPAIL_DISKFULL_STEPS
(the bytes below a critical size and the ones from it up, default 2;
DUSTPAIL_DISKFULL_EXE_STEPS for the .exe, default 1, which also leaves out
the extreme rooms of a page), DUSTPAIL_DISKFULL_EXE_SCENARIOS (throw,restore-to,
delete-dir,empty), DUSTPAIL_DISKFULL_PREFIX (a Wine prefix to copy),
DUSTPAIL_DISKFULL_WORK. DUSTPAIL_E2E_BUILDS without "exe" (as in the
sanitizer run) leaves the .exe out.
"""

import argparse
import collections
import os
import resource
import shutil
import signal
import subprocess
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
REPO = os.path.dirname(TESTS)
sys.path.insert(0, os.path.join(TESTS, "faults"))
sys.path.insert(0, os.path.join(TESTS, "e2e"))
sys.dont_write_bytecode = True

import ledger as lg  # noqa: E402
import rig  # noqa: E402
import run_faults as rf  # noqa: E402
import run_kills as rk  # noqa: E402

SKIP = 77
PAGE = 4096
MOUNT_BYTES = 1 << 20
MOUNT_INODES = 400
BALLAST = "ballast"          # relpaths beginning with it are the filling, not test files
ITEM_INFO_SIZE = 544
HEADER = 20

SCENARIOS = ["throw", "throw-dir", "restore-to", "delete-dir", "empty"]


def env_list(name, default):
    return [x for x in os.environ.get(name, default).split(",") if x]


class Mount:
    def __init__(self, path):
        self.path = path
        os.makedirs(path, exist_ok=True)
        if os.path.ismount(path):
            subprocess.run(["umount", path], check=False)
        proc = subprocess.run(["mount", "-t", "tmpfs", "-o",
                               f"size={MOUNT_BYTES},nr_inodes={MOUNT_INODES},mode=0755", "tmpfs", path],
                              capture_output=True, text=True)
        self.error = None if proc.returncode == 0 else (proc.stderr.strip() or f"exit {proc.returncode}")

    def clear(self):
        for name in os.listdir(self.path):
            full = os.path.join(self.path, name)
            if os.path.isdir(full) and not os.path.islink(full):
                shutil.rmtree(full)
            else:
                os.unlink(full)

    def close(self):
        if self.error is None:
            subprocess.run(["umount", self.path], check=False)


def record_size(layout):
    return rf.LAYOUTS[layout][2]


def index_path(drive, layout):
    folder, name, _ = rf.LAYOUTS[layout]
    return os.path.join(drive, *folder.split("/"), name)


def slack_of(size):
    return (-size) % PAGE


def removed_for_slack(layout, want):
    """Removed records to add so that the index's last page has `want`
    bytes left, or None when no count gives it."""
    rs = record_size(layout)
    for removed in range(PAGE):
        if slack_of(HEADER + rs * (len(rf.ENTRIES) + removed)) == want:
            return removed
    return None


def slacks_near(layout, centre, spread):
    """The room values the index can have within `spread` of `centre`."""
    rs = record_size(layout)
    found = set()
    for removed in range(PAGE):
        s = slack_of(HEADER + rs * (len(rf.ENTRIES) + removed))
        if abs(s - centre) <= spread:
            found.add(s)
    return sorted(found)


def fills(layout, scenario, steps, brief=False):
    """(label, fill) for every fill level of a scenario. `brief` keeps the
    levels either side of each critical size only (for the slow .exe runs)."""
    out = []
    rs = record_size(layout)
    if scenario.startswith("throw") and rs is not None:
        # Pages: the record meets a full disk after the room in the index's
        # last page; with a page free it fits.
        near = slacks_near(layout, rs, 12 if rs < 800 else 40)
        rooms = {max(s for s in near if s < rs), min(s for s in near if s >= rs)}
        every = sorted({slack_of(HEADER + rs * (len(rf.ENTRIES) + r)) for r in range(PAGE)})
        if not brief:
            rooms |= {every[0], every[-1]}
        for room in sorted(rooms):
            out.append((f"0 pages free, {room} bytes left in the index's last page",
                        dict(kind="pages", free=0, room=room)))
        if not brief:
            out.append((f"1 page free, {every[0]} bytes left in the index's last page",
                        dict(kind="pages", free=1, room=every[0])))
        for room in sorted(set(range(rs - steps, rs + steps)) | set(range(0, steps))):
            out.append((f"{room} bytes may be added to the index", dict(kind="bytes", grow=room)))
    elif scenario.startswith("throw"):
        out.append(("0 pages free", dict(kind="pages", free=0)))
        if not brief:
            out.append(("1 page free", dict(kind="pages", free=1)))
        for size in sorted(set(range(ITEM_INFO_SIZE - steps, ITEM_INFO_SIZE + steps)) | set(range(0, steps))):
            out.append((f"a new file may hold {size} bytes", dict(kind="bytes", limit=size)))
    else:
        out.append(("0 pages free", dict(kind="pages", free=0)))
        if scenario == "empty" and rs is not None:
            for size in sorted(set(range(HEADER - steps, HEADER + steps)) | {0}):
                out.append((f"a file may hold {size} bytes", dict(kind="bytes", limit=size)))
        elif rs is not None:
            # The index is rewritten in place: as much room as it has, no more.
            out.append(("no file may grow", dict(kind="bytes", grow=0)))
        else:
            out.append(("no file may grow", dict(kind="bytes", limit=0)))
    out.append(("no inode free", dict(kind="inodes")))
    return out


def lay_out(drive, layout, fill):
    """The scenario's drive (run_kills' layout) and the index padded with
    removed records to leave the room the fill asks for."""
    rf.lay_out_drive(drive, layout)
    for rel, data in rk.EXTRA_OUTSIDE.items():
        rf.bl.write(os.path.join(drive, rel), data)
    rs = record_size(layout)
    if rs is not None and fill.get("room") is not None:
        removed = removed_for_slack(layout, fill["room"])
        path = index_path(drive, layout)
        with open(path, "rb") as f:
            raw = f.read()
        dead = b"\0" + raw[HEADER + 1:HEADER + rs]
        with open(path, "ab") as f:
            f.write(dead * removed)
        assert slack_of(os.path.getsize(path)) == fill["room"]


def fill_up(drive, fill):
    """Takes the free pages (all but fill["free"]) or the free inodes."""
    if fill["kind"] == "pages":
        free = os.statvfs(drive).f_bavail - fill["free"]
        block = (b"ballast page\n" * (PAGE // 13 + 1))[:PAGE]
        with open(os.path.join(drive, BALLAST + ".bin"), "wb") as f:
            for _ in range(free):
                f.write(block)
        left = os.statvfs(drive).f_bavail
        if left != fill["free"]:
            raise RuntimeError(f"filled to {left} free pages, not {fill['free']}")
    elif fill["kind"] == "inodes":
        folder = os.path.join(drive, BALLAST + "-inodes")
        os.mkdir(folder)
        n = 0
        try:
            while True:
                os.mkdir(os.path.join(folder, str(n)))
                n += 1
        except OSError:
            pass
        if os.statvfs(drive).f_favail != 0:
            raise RuntimeError("inodes left after filling")


def empty_out(drive):
    for name in os.listdir(drive):
        if name.startswith(BALLAST):
            full = os.path.join(drive, name)
            shutil.rmtree(full) if os.path.isdir(full) else os.unlink(full)


def view(drive, layout):
    tree = {k: v for k, v in rf.snapshot(drive).items() if not k.startswith(BALLAST)}
    return rf.View(tree, layout)


class Runner:
    def __init__(self, native, exe, work, base_prefix, builds):
        self.native = os.path.abspath(native)
        self.exe = os.path.abspath(exe) if exe else None
        self.work = work
        self.prefix = os.path.join(work, "prefix")
        self.wine = "exe" in builds
        if self.wine:
            if base_prefix and os.path.isdir(base_prefix):
                rig.copy_prefix(base_prefix, self.prefix)
            else:
                print("diskfull: making a Wine prefix", flush=True)
                rig.create_prefix(self.prefix, os.path.join(work, "wineboot.log"))
        else:
            os.makedirs(os.path.join(self.prefix, "dosdevices"), exist_ok=True)
        self.env = rig.wine_env(self.prefix)
        self.env.update(LC_ALL="C.UTF-8", LANG="C.UTF-8", TZ="UTC", WINEDEBUG="-all")
        if self.wine:
            rig.run_quiet(["wineserver", "-p"], self.env)
            rig.run_quiet(["wine", self.exe, "/nologo", "/?"], self.env, timeout=120)

    def map(self, drive):
        link = os.path.join(self.prefix, "dosdevices", "t:")
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(drive, link)

    def close(self):
        if self.wine:
            rig.kill_server(self.prefix)

    def run(self, build, drive, args, limit=None):
        def cap():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            if limit is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
        cmd = [self.native] + args if build == "native" else ["wine", self.exe] + args
        for _ in range(rig.WINE_START_ATTEMPTS):
            proc = subprocess.run(cmd, cwd=drive, env=self.env, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=120, preexec_fn=cap)
            out = proc.stdout.replace(b"\r\n", b"\n")
            if not (build != "native" and proc.returncode == 1 and not out
                    and rig.WINE_START_FAILURE.search(proc.stderr)):
                break
        return proc.returncode, rig.output_text(out, build), proc.stderr


def first_listing(runner, mount, layout):
    """The paths /view lists on the fresh drive, which an index names."""
    mount.clear()
    lay_out(mount.path, layout, {})
    code, out, _ = runner.run("native", mount.path, ["/view"])
    if code != 0:
        raise RuntimeError(f"/view of the fresh {layout} drive: exit {code}")
    return lg.listing(out)[0]


def run_case(runner, mount, build, layout, scenario, fill, first):
    """One command at one fill level. Returns the problems found."""
    args, command, what = rk.SCENARIOS[scenario]
    drive = mount.path
    mount.clear()
    lay_out(drive, layout, fill)
    before = view(drive, layout)
    ledger = lg.Ledger(before)
    limit = None
    if fill["kind"] == "bytes":
        limit = fill["limit"] if "limit" in fill else os.path.getsize(index_path(drive, layout)) + fill["grow"]
    else:
        fill_up(drive, fill)
    code, out, err = runner.run(build, drive, args, limit)
    actions = lg.Actions()
    target = rk.act(actions, scenario, first)
    after = view(drive, layout)
    problems, fates = ledger.account(after, actions)
    problems += lg.check_report(command, code, out, err)
    problems += lg.check_effect(command, code, before, after, fates, ledger, target=target,
                                thrown=what if command == "throw" else ())
    # The space given back: the listing and the command once more.
    empty_out(drive)
    code2, out2, err2 = runner.run(build, drive, ["/view"])
    if code2 != 0:
        problems.append(f"/view with the space back: exit {code2}")
    listed_problems, paths = lg.check_listing(out2, after)
    problems += ["with the space back: " + p for p in listed_problems]
    target2 = rk.act(actions, scenario, paths)
    code3, out3, err3 = runner.run(build, drive, args)
    again = view(drive, layout)
    problems2, fates2 = ledger.account(again, actions)
    problems += ["after the command ran again: " + p for p in problems2 if p not in problems]
    problems += ["the command again: " + p for p in
                 lg.check_report(command, code3, out3, err3)
                 + lg.check_effect(command, code3, after, again, fates2, ledger, target=target2,
                                   thrown=what if command == "throw" else ())]
    # And another file thrown: its record must start on a record boundary.
    code4, out4, err4 = runner.run(build, drive, rk.LATER)
    actions.throw(rk.LATER[1])
    last = view(drive, layout)
    problems3, fates3 = ledger.account(last, actions)
    problems += ["after a later throw: " + p for p in problems3 if p not in problems2]
    problems += ["the later throw: " + p for p in
                 lg.check_report("throw", code4, out4, err4)
                 + lg.check_effect("throw", code4, again, last, fates3, ledger, thrown=[rk.LATER[1]])]
    tail = [l for l in out.splitlines() if l.strip()][-3:]
    return code, problems, tail, lg.loose_ends(after)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--native", default=os.path.join(REPO, "build", "native", "dustpail"))
    parser.add_argument("--exe", default=os.path.join(REPO, "build", "windows", "dustpail.exe"))
    parser.add_argument("--build", action="append", choices=["native", "exe"])
    parser.add_argument("--layout", action="append", choices=sorted(rf.LAYOUTS))
    parser.add_argument("--scenario", action="append", choices=SCENARIOS)
    parser.add_argument("--work", default=os.environ.get("DUSTPAIL_DISKFULL_WORK",
                                                         os.path.join(REPO, "build", "diskfull")))
    parser.add_argument("--prefix", default=os.environ.get("DUSTPAIL_DISKFULL_PREFIX"))
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    builds = args.build or env_list("DUSTPAIL_DISKFULL_BUILDS", "native,exe")
    layouts = args.layout or env_list("DUSTPAIL_DISKFULL_LAYOUTS", "info,info2,items")
    scenarios = args.scenario or env_list("DUSTPAIL_DISKFULL_SCENARIOS", ",".join(SCENARIOS))
    # A Wine start costs some 50-100 ms, so the .exe takes fewer levels and
    # leaves out the throw of a folder, which writes what the throw of a file does.
    steps = {"native": int(os.environ.get("DUSTPAIL_DISKFULL_STEPS", "2")),
             "exe": int(os.environ.get("DUSTPAIL_DISKFULL_EXE_STEPS", "1"))}
    exe_scenarios = env_list("DUSTPAIL_DISKFULL_EXE_SCENARIOS", "throw,restore-to,delete-dir,empty")
    if "exe" in builds and "exe" not in os.environ.get("DUSTPAIL_E2E_BUILDS", "exe").split(","):
        print("diskfull: DUSTPAIL_E2E_BUILDS leaves out the .exe")
        builds = [b for b in builds if b != "exe"]
    if "exe" in builds and not (os.path.isfile(args.exe) and shutil.which("wine")):
        print(f"diskfull: no {args.exe} or no wine: the .exe is left out")
        builds = [b for b in builds if b != "exe"]
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    mount = Mount(os.path.join(work, "T"))
    if mount.error is not None:
        print(f"diskfull: SKIPPED: cannot mount a tmpfs as the test drive ({mount.error}); "
              "run as root where mount is permitted")
        return SKIP
    started = time.monotonic()
    runner = Runner(args.native, args.exe, work, args.prefix, builds)
    runner.map(mount.path)
    failures = []
    cases = 0
    codes = collections.Counter()
    states = collections.Counter()
    try:
        for build in builds:
            for layout in layouts:
                first = first_listing(runner, mount, layout)
                for scenario in scenarios:
                    if build == "exe" and not args.scenario and scenario not in exe_scenarios:
                        continue
                    for label, fill in fills(layout, scenario, steps[build], brief=build == "exe"):
                        try:
                            code, problems, tail, notes = run_case(runner, mount, build, layout, scenario,
                                                                   fill, first)
                        except Exception:  # a fault of the check: shown, and the rest still runs
                            code, problems, tail, notes = None, ["the check failed:\n" + traceback.format_exc()], [], []
                        cases += 1
                        codes[f"{rk.SCENARIOS[scenario][1]} {code}"] += 1
                        for n in notes:
                            states[f"{rk.SCENARIOS[scenario][1]}: {n}"] += 1
                        name = f"{build} {layout} {scenario}, {label}"
                        if args.verbose or problems:
                            print(f"{'FAIL ' if problems else ''}{name}: exit {code}"
                                  + (" (" + "; ".join(notes) + ")" if notes else ""))
                        if problems:
                            failures.append(name)
                            for p in problems:
                                print(f"    {p}")
                            print("    output ends: " + " | ".join(tail))
                print(f"diskfull {build} {layout}: done", flush=True)
    finally:
        runner.close()
        mount.close()
    print(f"diskfull: {cases} cases, {len(failures)} failed, {time.monotonic() - started:.1f}s")
    print("  exit codes: " + ", ".join(f"{k}: {v}" for k, v in sorted(codes.items())))
    for key, count in sorted(states.items()):
        print(f"  state {key}: {count}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
