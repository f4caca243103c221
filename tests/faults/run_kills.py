#!/usr/bin/env python3
"""Kill test: every command on every store layout, killed before each call
that changes the disk in turn.

dustpail-faults with DUSTPAIL_KILL_AT=K ends with _exit(137) just before its
K-th mutating system call (an open that can write, a write, the close of a
written stream, a move, a delete, a directory removal), as a SIGKILL there
would: nothing buffered reaches the disk. K runs from 1 until a run
completes, so the last run of each scenario is a whole one.

After each run, on the drive it left:
1. every file the test made is accounted for (ledger.py): where it was, in
   the bin with its own record, restored to the command's target, or gone
   by a delete or empty that was asked for; nothing else outside the bin
   changed; no record number is taken twice; the index is whole. A run that
   completed must also report truthfully: exit code 0 only with the whole
   effect and its success message, an error code never with it;
2. /view succeeds, leaves the drive alone and lists exactly the entries the
   reader sees;
3. the command runs once more (restore and delete: the same index again)
   and completes, and (1) holds again for both runs together;
4. another file is thrown, and (1) holds again: a record left live without
   its item must not lend its number to it.

  run_kills.py --program build/native/tests/faults/dustpail-faults
               [--layout info2] [--scenario throw] [-v] [--summary kills.json]
  run_kills.py --table kills.json        figures for docs/robustness.md

Environment: DUSTPAIL_KILL_LAYOUTS, DUSTPAIL_KILL_SCENARIOS (comma lists)
choose what runs when the options are not given.
"""

import argparse
import collections
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True

import ledger as lg  # noqa: E402
import run_faults as rf  # noqa: E402

# Besides the files of run_faults' drive: a folder to throw whole, and a
# file thrown after every scenario, which takes the lowest record number
# free in the folder and so meets a live record left without its item.
EXTRA_OUTSIDE = {
    "docs/album/one.jpg": b"album one\n",
    "docs/album/two.jpg": b"album two\n",
    "docs/later.txt": b"thrown later\n",
}
LATER = ["/f", "T:\\docs\\later.txt", "/Y"]

# name: (arguments, command, what the arguments act on)
#   restore/delete: ("index", n, target folder or None)
#   throw: the Windows paths thrown
#   empty-selected: the end of the names the pattern takes
SCENARIOS = {
    "restore": (["1", "/Y"], "restore", ("index", 1, None)),
    "restore-to": (["3", "T:\\out\\", "/Y"], "restore", ("index", 3, "T:\\out\\")),
    "restore-dir": (["2", "/Y"], "restore", ("index", 2, None)),
    "delete": (["1", "/delete", "/Y"], "delete", ("index", 1, None)),
    "delete-dir": (["2", "/delete", "/Y"], "delete", ("index", 2, None)),
    "empty": (["/empty", "/Y"], "empty", None),
    "empty-match": (["/empty", "/match:*.txt", "/Y"], "empty-selected", ".txt"),
    "throw": (["/f", "T:\\docs\\new.txt", "/Y"], "throw", ["T:\\docs\\new.txt"]),
    "throw-many": (["/f", "T:\\docs\\*.log", "/Y"], "throw", ["T:\\docs\\a.log", "T:\\docs\\b.log"]),
    "throw-dir": (["/f", "T:\\docs\\album", "/Y"], "throw", ["T:\\docs\\album"]),
}


class Failure(Exception):
    pass


class Drive:
    """Drive T: of one layout in a scratch folder, mapped through a Wine prefix folder."""

    def __init__(self, program, layout, scratch_root):
        self.program = os.path.abspath(program)
        self.layout = layout
        self.scratch = tempfile.mkdtemp(prefix=f"kills-{layout}-", dir=scratch_root)
        self.template = os.path.join(self.scratch, "template")
        self.drive = os.path.join(self.scratch, "T")
        prefix = os.path.join(self.scratch, "prefix")
        os.makedirs(os.path.join(prefix, "dosdevices"))
        os.symlink(self.drive, os.path.join(prefix, "dosdevices", "t:"))
        rf.lay_out_drive(self.template, layout)
        for rel, data in EXTRA_OUTSIDE.items():
            rf.bl.write(os.path.join(self.template, rel), data)
        self.before = rf.View(rf.snapshot(self.template), layout)
        if self.before.problems or len(self.before.listed()) != len(rf.ENTRIES):
            raise RuntimeError(f"the scenario's bin reads wrong: {self.before.problems}")
        self.report = os.path.join(self.scratch, "report")
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("LC_", "DUSTPAIL_FAIL", "DUSTPAIL_KILL"))
                    and k not in ("LANG", "LANGUAGE")}
        self.env.update(LC_ALL="C.UTF-8", LANG="C.UTF-8", TZ="UTC", WINEPREFIX=prefix,
                        DUSTPAIL_FAULT_REPORT=self.report)

    def close(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def reset(self):
        shutil.rmtree(self.drive, ignore_errors=True)
        shutil.copytree(self.template, self.drive, symlinks=True)

    def run(self, args, kill_at=None):
        """(exit code, stdout text, stderr bytes, report dict) of one run on the drive as it is."""
        if os.path.exists(self.report):
            os.unlink(self.report)
        env = dict(self.env)
        if kill_at is not None:
            env["DUSTPAIL_KILL_AT"] = str(kill_at)
        proc = subprocess.run([self.program] + args, cwd=self.drive, env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60)
        report = {}
        if os.path.exists(self.report):
            for line in open(self.report):
                key, _, value = line.rstrip("\n").partition(" ")
                report[key] = value
        return proc.returncode, proc.stdout.decode("utf-8", "replace"), proc.stderr, report

    def view(self):
        return rf.View(rf.snapshot(self.drive), self.layout)


def act(actions, scenario, listed_paths):
    """Adds what one run of the scenario may do to `actions`; returns the
    entry path a restore or delete names (None when the index is out of range)."""
    _, command, what = SCENARIOS[scenario]
    if command == "empty":
        actions.empty()
        return None
    if command == "throw":
        actions.throw(*what)
        return None
    if command == "empty-selected":  # a delete of each entry it takes
        for path in listed_paths:
            if path.lower().endswith(what):
                actions.delete(path)
        return None
    _, index, folder = what
    if index > len(listed_paths):
        return None
    path = listed_paths[index - 1]
    if command == "delete":
        actions.delete(path)
    else:
        target = folder + path.rsplit("\\", 1)[-1] if folder else path
        actions.restore(path, target)
    return path


def check_completed(drive, scenario, code, text, stderr, before, after, fates, ledger, target):
    _, command, what = SCENARIOS[scenario]
    problems = lg.check_report(command, code, text, stderr)
    if command == "empty-selected":
        taken = [p for p, n in lg.registered_paths(after).items() if n and p.endswith(what)]
        if code == 0 and taken:
            problems.append(f"exit code 0, yet {', '.join(taken)} still registered")
        return problems
    problems += lg.check_effect(command, code, before, after, fates, ledger, target=target,
                                thrown=what if command == "throw" else ())
    return problems


def listing_of(drive):
    code, text, stderr, _ = drive.run(["/view"])
    if code != 0 or stderr:
        raise RuntimeError(f"/view of the fresh drive: exit {code}, {stderr!r}")
    return lg.listing(text)[0]


def run_scenario(drive, scenario, limit, verbose, stats):
    """Every kill point of one scenario. Returns the failures (strings)."""
    args, command, _ = SCENARIOS[scenario]
    failures = []
    drive.reset()
    first_listing = listing_of(drive)
    ledger = lg.Ledger(drive.before)
    points = 0
    for k in range(1, limit + 1):
        drive.reset()
        code, text, stderr, report = drive.run(args, kill_at=k)
        stats["runs"] += 1
        label = f"{drive.layout} {scenario} K={k}"
        killed = report.get("killed") == "1"
        if killed:
            points += 1
            label += f" (before {report.get('next')}, call {k} of the mutating ones)"
        else:
            label += f" (completed, {report.get('mutating', '?')} mutating calls)"
        problems = []
        try:
            if not report:
                raise Failure(f"no report: exit {code}, stderr {stderr[:300]!r}")
            if killed and code != 137:
                raise Failure(f"killed, yet exit code {code}")
            actions = lg.Actions()
            target = act(actions, scenario, first_listing)
            after = drive.view()
            found, fates = ledger.account(after, actions)
            problems += found
            for note in lg.loose_ends(after):
                stats["states"][f"{command} killed: {note}" if killed else f"{command} done: {note}"] += 1
            if not killed:
                problems += check_completed(drive, scenario, code, text, stderr, drive.before, after,
                                            fates, ledger, target)
            # The next command: a listing that matches the reader.
            code2, text2, stderr2, _ = drive.run(["/view"])
            stats["runs"] += 1
            view_after = drive.view()
            if view_after.tree != after.tree:
                problems.append("/view changed the drive")
            if code2 != 0 or stderr2:
                problems.append(f"/view after the run: exit {code2}"
                                + (f", stderr {stderr2[:200]!r}" if stderr2 else ""))
            listed_problems, paths = lg.check_listing(text2, after)
            problems += ["after the run: " + p for p in listed_problems]
            # The command again: it completes and loses nothing either.
            target2 = act(actions, scenario, paths)
            code3, text3, stderr3, _ = drive.run(args)
            stats["runs"] += 1
            again = drive.view()
            found2, fates2 = ledger.account(again, actions)
            problems += ["after the command ran again: " + p for p in found2 if p not in found]
            problems += ["the command again: " + p for p in
                         check_completed(drive, scenario, code3, text3, stderr3, after, again, fates2,
                                         ledger, target2)]
            # A throw after it all: it must not take a number a live record holds.
            code4, text4, stderr4, _ = drive.run(LATER)
            stats["runs"] += 1
            actions.throw(LATER[1])
            last = drive.view()
            found3, fates3 = ledger.account(last, actions)
            problems += ["after a later throw: " + p for p in found3 if p not in found2]
            problems += ["the later throw: " + p for p in
                         lg.check_report("throw", code4, text4, stderr4)
                         + lg.check_effect("throw", code4, again, last, fates3, ledger, thrown=[LATER[1]])]
            lost = sum(1 for fate in fates3.values() if fate in ("lost", "orphan", "misplaced", "twice"))
            stats["files lost"] += lost
        except Failure as e:
            problems.append(str(e))
        except Exception:  # a fault of the check: shown, and the rest still runs
            problems.append("the check failed:\n" + traceback.format_exc())
        if verbose:
            print(f"  {label}: exit {code}" + (f", {len(problems)} problems" if problems else ""))
        if problems:
            failures.append(f"{label}: exit {code}\n    " + "\n    ".join(problems)
                            + f"\n    to repeat: DUSTPAIL_KILL_AT={k} dustpail-faults {' '.join(args)} "
                            f"on this layout's drive (faults_scenarios.lay_out_drive plus EXTRA_OUTSIDE), "
                            f"then /view, the command again, {' '.join(LATER)}")
        if not killed:
            break
    else:
        failures.append(f"{drive.layout} {scenario}: still killed after {limit} points")
    stats["points"][f"{drive.layout} {scenario}"] = points
    stats["kills"] += points
    return failures


def table(paths):
    rows = {}
    totals = collections.Counter()
    states = collections.Counter()
    for path in paths:
        s = json.load(open(path))
        for key, points in s["points"].items():
            layout, scenario = key.split(" ", 1)
            rows.setdefault(scenario, {})[layout] = points
        for key in ("runs", "kills", "files lost", "failures"):
            totals[key] += s[key] if key != "failures" else len(s["failures"])
        totals["seconds"] += s.get("seconds", 0)
        states.update(s["states"])
    layouts = ["info", "info2", "items"]
    print("| scenario | " + " | ".join(layouts) + " |")
    print("|---|" + "---|" * len(layouts))
    for scenario in SCENARIOS:
        if scenario in rows:
            print(f"| {scenario} | " + " | ".join(str(rows[scenario].get(l, "-")) for l in layouts) + " |")
    print(f"\n{totals['kills']} kill points, {totals['runs']} runs, {totals['files lost']} files lost, "
          f"{totals['failures']} failed points, {totals['seconds']:.0f} s\n")
    print("| state left | runs |\n|---|---|")
    for key, count in sorted(states.items()):
        print(f"| {key} | {count} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", help="dustpail-faults")
    parser.add_argument("--layout", action="append", choices=sorted(rf.LAYOUTS))
    parser.add_argument("--scenario", action="append", choices=list(SCENARIOS))
    parser.add_argument("--limit", type=int, default=500, help="most kill points per scenario")
    parser.add_argument("--summary", help="write the figures as JSON here")
    parser.add_argument("--table", nargs="+", metavar="JSON")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    if args.table:
        table(args.table)
        return 0
    if not args.program:
        parser.error("--program is needed")
    layouts = args.layout or [l for l in os.environ.get("DUSTPAIL_KILL_LAYOUTS", "info,info2,items").split(",") if l]
    scenarios = args.scenario or [s for s in os.environ.get("DUSTPAIL_KILL_SCENARIOS", ",".join(SCENARIOS)).split(",") if s]
    scratch_root = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    started = time.monotonic()
    stats = {"runs": 0, "kills": 0, "files lost": 0, "points": {}, "states": collections.Counter()}
    failures = []
    for layout in layouts:
        drive = Drive(args.program, layout, scratch_root)
        try:
            for scenario in scenarios:
                found = run_scenario(drive, scenario, args.limit, args.verbose, stats)
                failures += found
                print(f"kills {layout} {scenario}: {stats['points'][f'{layout} {scenario}']} kill points, "
                      f"{len(found)} failed", flush=True)
        finally:
            drive.close()
    seconds = time.monotonic() - started
    for failure in failures:
        print("FAIL " + failure)
    print(f"kills: {stats['kills']} kill points, {stats['runs']} runs, {stats['files lost']} files lost or "
          f"misplaced, {len(failures)} failed points, {seconds:.1f}s")
    for key, count in sorted(stats["states"].items()):
        print(f"  state {key}: {count}")
    if args.summary:
        summary = dict(stats, states=dict(stats["states"]), failures=failures, seconds=round(seconds, 1))
        with open(args.summary, "w") as f:
            json.dump(summary, f, indent=1)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
