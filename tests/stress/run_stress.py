#!/usr/bin/env python3
"""Stress test: many processes working on one bin at the same time.

For each store layout, on one drive T: with an empty bin:

- "throw": W workers throw N files each at once (every file its own bytes),
  some one file per process, some a wildcard of up to ten per process.
  Afterwards every file is in the bin, listed by a record of its own, or
  still in place after a throw that failed and said so; no record number is
  taken twice; every $I file has its $R item and every $R item its $I file
  (every record its data item and every data item its record); /view lists
  every thrown file once.
- "race": the same throws, while loops run /view, "1 /Y" (restore), "1
  /delete /Y" and "/empty /Y" against them. Every file must end in place
  (never thrown, or restored), in the bin with its own record, or gone; the
  files gone must be no more than the removals the deletes and empties
  printed, a delete that said it deleted a file must have, and no exit code
  0 may come with a file lost.

Round "native" runs build/native/dustpail only; round "mixed" runs half the
workers and loops with dustpail.exe under Wine, in one prefix with a
persistent wine server.

  run_stress.py [--native build/native/dustpail] [--exe build/windows/dustpail.exe]
                [--layout info2] [--scenario race] [--round native] [-v]

Environment (defaults): DUSTPAIL_STRESS_WORKERS (8), DUSTPAIL_STRESS_FILES
(40 per worker), DUSTPAIL_STRESS_LAYOUTS (info,info2,items),
DUSTPAIL_STRESS_SCENARIOS (throw,race), DUSTPAIL_STRESS_ROUNDS
(native,mixed), DUSTPAIL_STRESS_PREFIX (a Wine prefix to copy; else one is
made), DUSTPAIL_STRESS_WORK (scratch folder). DUSTPAIL_E2E_BUILDS without
"exe" (as in the sanitizer run) leaves the mixed round out.
"""

import argparse
import collections
import os
import random
import re
import shutil
import subprocess
import sys
import threading
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

bl = rf.bl

# "[1] T:\w0\f000.txt 2024/01/01 10:00:00": the entry a restore or delete names.
DETAIL = re.compile(r"\[(\d+)\] (.*) (\d{4}/\d\d/\d\d \d\d:\d\d:\d\d|\?{4}/\?\?/\?\? \?\?:\?\?:\?\?)")
DATA_ITEM = re.compile(r"(?:[Dd].(?:0|[1-9][0-9]*)(?:\..*)?|\$[Rr].{6}(?:\..*)?)")


def env_int(name, default):
    return int(os.environ.get(name, default))


def env_list(name, default):
    return [x for x in os.environ.get(name, default).split(",") if x]


class Rig:
    """The programs, the drive and (for the mixed round) a Wine prefix."""

    def __init__(self, native, exe, work, base_prefix, need_wine):
        self.native = os.path.abspath(native)
        self.exe = os.path.abspath(exe) if exe else None
        self.work = os.path.abspath(work)
        self.drive = os.path.join(self.work, "T")
        self.prefix = os.path.join(self.work, "prefix")
        self.wine = False
        os.makedirs(self.work, exist_ok=True)
        if need_wine:
            if base_prefix and os.path.isdir(base_prefix):
                rig.copy_prefix(base_prefix, self.prefix)
            else:
                print("stress: making a Wine prefix", flush=True)
                rig.create_prefix(self.prefix, os.path.join(self.work, "wineboot.log"))
            self.wine = True
        else:
            os.makedirs(os.path.join(self.prefix, "dosdevices"), exist_ok=True)
        link = os.path.join(self.prefix, "dosdevices", "t:")
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(self.drive, link)
        self.env = rig.wine_env(self.prefix)
        self.env.update(LC_ALL="C.UTF-8", LANG="C.UTF-8", TZ="UTC", WINEDEBUG="-all")
        if self.wine:
            rig.run_quiet(["wineserver", "-p"], self.env)
            # Starts the prefix's services now, not in the first timed run.
            rig.run_quiet(["wine", self.exe, "/nologo", "/?"], self.env, timeout=120)

    def close(self):
        if self.wine:
            rig.kill_server(self.prefix)
        shutil.rmtree(self.work, ignore_errors=True)

    def run(self, build, args):
        """(exit code, stdout text, stderr bytes)."""
        cmd = [self.native] + args if build == "native" else ["wine", self.exe] + args
        for _ in range(rig.WINE_START_ATTEMPTS):
            proc = subprocess.run(cmd, cwd=self.drive, env=self.env, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=120)
            out = proc.stdout.replace(b"\r\n", b"\n")
            if not (build != "native" and proc.returncode == 1 and not out
                    and rig.WINE_START_FAILURE.search(proc.stderr)):
                break
        return proc.returncode, rig.output_text(out, build), proc.stderr


def lay_out(drive, layout, workers, files, salt):
    """An empty bin and workers x files files, each with bytes of its own."""
    shutil.rmtree(drive, ignore_errors=True)
    os.makedirs(drive)
    relfolder, index_name, record_size = rf.LAYOUTS[layout]
    binfolder = os.path.join(drive, *relfolder.split("/"))
    if index_name is not None:
        bl.build_index_bin(binfolder, index_name, record_size, [], items=False,
                           desktop_ini=bl.DESKTOP_INI_OLD)
    else:
        bl.build_item_bin(binfolder, [], desktop_ini=bl.DESKTOP_INI_MARKER)
    for w in range(workers):
        for i in range(files):
            bl.write(os.path.join(drive, f"w{w}", f"f{i:03d}.txt"),
                     f"stress {layout} {salt} worker {w} file {i}\n".encode())


def throw_plan(worker, files):
    """The throws of one worker: decades alternate between one file per
    process and one wildcard for the decade."""
    plan = []
    for decade in range(0, files, 10):
        names = [f"T:\\w{worker}\\f{i:03d}.txt" for i in range(decade, min(decade + 10, files))]
        if (decade // 10) % 2 == 0:
            plan += [(["/f", n, "/Y"], [n]) for n in names]
        else:
            plan.append((["/f", f"T:\\w{worker}\\f{decade // 10:02d}?.txt", "/Y"], names))
    return plan


class Log:
    """Every run of a scenario: (build, args, exit code, stdout, stderr, files named)."""

    def __init__(self):
        self.lock = threading.Lock()
        self.runs = []

    def add(self, *run):
        with self.lock:
            self.runs.append(run)


def thrower(r, build, worker, files, log, start):
    start.wait()
    for args, names in throw_plan(worker, files):
        code, out, err = r.run(build, args)
        log.add(build, args, code, out, err, names)


def looper(r, builds, args, log, start, stop, pause):
    start.wait()
    turn = 0
    while not stop.is_set():
        build = builds[turn % len(builds)]
        turn += 1
        code, out, err = r.run(build, args)
        log.add(build, args, code, out, err, [])
        time.sleep(pause)


def run_round(r, layout, scenario, round_name, workers, files, verbose):
    """One scenario of one layout in one round. Returns (failures, figures)."""
    salt = f"{round_name}-{scenario}-{random.randrange(1 << 30)}"
    lay_out(r.drive, layout, workers, files, salt)
    before = rf.View(rf.snapshot(r.drive), layout)
    ledger = lg.Ledger(before)
    log = Log()
    builds_of = (lambda w: "native") if round_name == "native" else \
        (lambda w: "exe" if w % 2 else "native")
    loops = []
    if scenario == "race":
        loops = [(["/view"], 0.02), (["1", "/Y"], 0.05), (["1", "/delete", "/Y"], 0.05),
                 (["/empty", "/Y"], 0.4)]
    start = threading.Barrier(workers + len(loops))
    stop = threading.Event()
    threads = [threading.Thread(target=thrower, args=(r, builds_of(w), w, files, log, start))
               for w in range(workers)]
    loop_builds = ["native"] if round_name == "native" else ["native", "exe"]
    loopers = [threading.Thread(target=looper, args=(r, loop_builds, args, log, start, stop, pause))
               for args, pause in loops]
    started = time.monotonic()
    for t in threads + loopers:
        t.start()
    for t in threads:
        t.join()
    stop.set()
    for t in loopers:
        t.join()
    seconds = time.monotonic() - started

    failures = []
    after = rf.View(rf.snapshot(r.drive), layout)
    actions = lg.Actions().throw(*[f.path for f in ledger.files.values()])
    deleted_paths = collections.Counter()
    empty_removals = 0
    restores = 0
    codes = collections.Counter()
    thrown_by = {}
    for build, args, code, out, err, names in log.runs:
        kind = {"/f": "throw", "/view": "list", "/empty": "empty"}.get(args[0], "delete" if "/delete" in args else "restore")
        codes[f"{kind} {code}"] += 1
        for n in names:
            thrown_by[lg.fold(n)] = (build, code)
        problems = lg.check_report(kind, code, out, err)
        if problems:
            failures.append(f"{build} {' '.join(args)}: exit {code}: " + "; ".join(problems)
                            + "\n      " + "\n      ".join(out.splitlines()[-6:]))
        detail = [m for m in (DETAIL.fullmatch(l) for l in out.splitlines()) if m]
        if kind == "delete" and code in (0, 11) and detail:
            deleted_paths[lg.fold(detail[0].group(2))] += 1
            actions.delete(detail[0].group(2))
        elif kind == "restore" and code in (0, 11) and detail:
            restores += 1
            actions.restore(detail[0].group(2))
        elif kind == "empty" and rf.printed(out.splitlines(), "MSG_DELETING"):
            actions.empty()
            lines = out.splitlines()
            first = next(i for i, l in enumerate(lines) if rf.printed([l], "MSG_DELETING"))
            for line in lines[first + 1:]:
                if not line.strip():
                    break
                if DATA_ITEM.fullmatch(line.rsplit("\\", 1)[-1]):
                    empty_removals += 1
        elif kind == "list" and code == 0:
            paths, count = lg.listing(out)
            if count != len(paths):
                failures.append(f"{build} /view: counts {count} files, lists {len(paths)}")

    problems, fates = ledger.account(after, actions)
    for p in problems:
        path = p.split(":", 2)[0] + ":" + p.split(":", 2)[1] if p.startswith("T:") else None
        who = thrown_by.get(lg.fold(path)) if path else None
        failures.append(p + (f" (thrown by {who[0]}, which exited {who[1]})" if who else ""))
    # Nothing excuses a loose end here: no process was killed.
    for e in after.entries:
        if e.data is None:
            failures.append(f"{'$I file' if after.index is None else 'live record'} of {e.path} "
                            f"without its data item {e.item}")
    for name, _ in after.orphans:
        failures.append(f"data item {name} without its {'$I file' if after.index is None else 'record'}")
    for name in after.unreadable:
        failures.append(f"$I file {name} cannot be read")
    folded_fates = {lg.fold(p): fate for p, fate in fates.items()}
    gone = [p for p, fate in fates.items() if fate == "gone"]
    by_delete = collections.Counter(lg.fold(p) for p in gone) & deleted_paths
    not_deleted = deleted_paths - collections.Counter(lg.fold(p) for p in gone)
    for path in not_deleted:
        failures.append(f"a delete reported {path} deleted (exit 0 or 11), yet that file is "
                        f"{folded_fates.get(path, 'unknown')}: its record named another file's data")
    unexplained = len(gone) - sum(by_delete.values())
    if unexplained > empty_removals:
        failures.append(f"LOST: {unexplained} files gone beyond the deletes that named them, yet the "
                        f"empties printed only {empty_removals} data items removed")
    if scenario == "throw":
        for path, fate in fates.items():
            build, code = thrown_by.get(lg.fold(path), ("?", None))
            if fate == "outside" and code == 0:
                failures.append(f"{path}: still in place, yet its throw ({build}) exited 0")
    # The listing at the end.
    code, out, err = r.run("native", ["/view"])
    listed, _ = lg.listing(out)
    if code != 0:
        failures.append(f"the final /view exited {code}")
    else:
        failures += lg.check_listing(out, after)[0]
        twice = [p for p, n in collections.Counter(lg.fold(p) for p in listed).items() if n > 1]
        if twice:
            failures.append(f"/view lists {len(twice)} files more than once, e.g. {twice[0]}")
    if after.header is not None and not after.header_consistent():
        # Not data, but worth seeing: the counts read-modify-written by racing throws.
        codes["header counts stale"] += 1
    figures = dict(seconds=round(seconds, 1), runs=len(log.runs), fates=dict(collections.Counter(fates.values())),
                   codes=dict(codes), restores=restores, deletes=sum(deleted_paths.values()),
                   empty_removals=empty_removals)
    if verbose:
        print(f"    {figures}")
    return failures, figures


SHOWN = 12

KINDS = [
    ("file lost: nowhere on the drive", re.compile(r"LOST \(nowhere")),
    ("file lost: in the bin, no record lists it", re.compile(r"LOST in the bin")),
    ("files gone beyond the removals reported", re.compile(r"LOST: \d+ files gone")),
    ("file listed by several records", re.compile(r"found \d+ times")),
    ("file listed by another file's record", re.compile(r"listed by the record of")),
    ("file restored to another file's place", re.compile(r"found outside the bin at")),
    ("two live records share a number", re.compile(r"share a record number")),
    ("data item without its record or $I file", re.compile(r"^data item .* without")),
    ("record or $I file without its data item", re.compile(r"without its data item")),
    ("a delete removed another file's data", re.compile(r"a delete reported")),
    ("exit code and output disagree", re.compile(r"exit \d+: ")),
    ("/view", re.compile(r"/view")),
]


def kinds(failures):
    counts = collections.Counter()
    for f in failures:
        kind = next((name for name, pattern in KINDS if pattern.search(f)), "other")
        counts[kind] += 1
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--native", default=os.path.join(REPO, "build", "native", "dustpail"))
    parser.add_argument("--exe", default=os.path.join(REPO, "build", "windows", "dustpail.exe"))
    parser.add_argument("--layout", action="append", choices=sorted(rf.LAYOUTS))
    parser.add_argument("--scenario", action="append", choices=["throw", "race"])
    parser.add_argument("--round", action="append", choices=["native", "mixed"])
    parser.add_argument("--work", default=os.environ.get("DUSTPAIL_STRESS_WORK",
                                                         os.path.join(REPO, "build", "stress")))
    parser.add_argument("--prefix", default=os.environ.get("DUSTPAIL_STRESS_PREFIX"),
                        help="a Wine prefix to copy (hard links) instead of making one")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    workers = env_int("DUSTPAIL_STRESS_WORKERS", 8)
    files = env_int("DUSTPAIL_STRESS_FILES", 40)
    layouts = args.layout or env_list("DUSTPAIL_STRESS_LAYOUTS", "info,info2,items")
    scenarios = args.scenario or env_list("DUSTPAIL_STRESS_SCENARIOS", "throw,race")
    rounds = args.round or env_list("DUSTPAIL_STRESS_ROUNDS", "native,mixed")
    if "mixed" in rounds and "exe" not in os.environ.get("DUSTPAIL_E2E_BUILDS", "exe").split(","):
        print("stress: DUSTPAIL_E2E_BUILDS leaves out the .exe: the mixed round is left out")
        rounds = [x for x in rounds if x != "mixed"]
    if "mixed" in rounds and not (args.exe and os.path.isfile(args.exe) and shutil.which("wine")):
        print(f"stress: no {args.exe} or no wine: the mixed round is left out")
        rounds = [x for x in rounds if x != "mixed"]
    started = time.monotonic()
    r = Rig(args.native, args.exe, args.work, args.prefix, "mixed" in rounds)
    total = 0
    try:
        for round_name in rounds:
            for scenario in scenarios:
                for layout in layouts:
                    try:
                        failures, figures = run_round(r, layout, scenario, round_name, workers, files,
                                                      args.verbose)
                    except Exception:  # a fault of the check: shown, and the rest still runs
                        failures = ["the check failed:\n" + traceback.format_exc()]
                        figures = dict(runs=0, seconds=0, fates={})
                    print(f"stress {round_name} {scenario} {layout}: {workers}x{files} files, "
                          f"{figures['runs']} runs in {figures['seconds']}s, files {figures['fates']}, "
                          f"{len(failures)} failures", flush=True)
                    shown = failures if args.verbose else failures[:SHOWN]
                    for f in shown:
                        print(f"  FAIL {round_name} {scenario} {layout}: {f}")
                    if len(shown) < len(failures):
                        print(f"  ... and {len(failures) - len(shown)} more (-v shows all)")
                    for kind, count in sorted(kinds(failures).items()):
                        print(f"  {count:4d} x {kind}")
                    total += len(failures)
    finally:
        r.close()
    print(f"stress: {total} failures, {time.monotonic() - started:.1f}s")
    return 1 if total else 0


if __name__ == "__main__":
    sys.exit(main())
