#!/usr/bin/env python3
"""Fault injection: every command on every store layout, run once per fault point.

For one layout and one kind of fault (allocation or system call), each
scenario (a command on a small bin of three entries) is first run without a
fault, which must succeed; then with the 1st, 2nd, 3rd ... fault point made to
fail, until a run no longer meets its fault. Two modes per kind: "once" (only
that allocation or call fails; later ones succeed again, so the program can
still report) and "from" (that one and every later one fail: memory or the
disk gone for good). dustpail-faults (tests/faults/main.cpp) carries the
fault; see there for the environment it reads.

Every run must:
- end by itself: no signal, nothing on stderr (a sanitizer report), an exit
  code of the program's table, a complete last line that is a catalogue
  message (or a line of the listing), and the message of its exit code
  printed;
- leave the drive in a state that the command may leave: as before, as after
  success, or one of the partial states below, each with the exit code it
  must be reported with. The bin is read back by the independent reader
  below, not by the program.

The partial states are counted by name and printed; each is one that loses
nothing, and must be reported with the codes PARTIAL_STATES gives it. Every
other state fails the test.

  run_faults.py --program build/native/tests/faults/dustpail-faults \\
                --layout info2 --kind alloc [--scenario restore] [-v]
  run_faults.py --table summary-*.json      figures for docs/robustness.md

The scenarios and the partial states are in faults_scenarios.py, the reader
of the bin in faults_view.py, the states a run left in faults_states.py.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))
sys.dont_write_bytecode = True

import binlayout as bl  # noqa: E402,F401  (the kill, stress and full-disk tests take it from here)
from faults_scenarios import (CODE_MESSAGE, ENTRIES, EXIT_CODES, KINDS, LASTING_FAULT_ONLY,  # noqa: E402
                              LAYOUTS, PARTIAL_STATES, SCENARIOS, SUCCESS_MESSAGE, WARNING_MESSAGE,
                              bin_rel, lay_out_drive)
from faults_states import (Violation, classify_empty, classify_restore_or_delete,  # noqa: E402
                           classify_throw)
from faults_view import DIR, View, snapshot  # noqa: E402,F401  (DIR: for the ledger)
from texts import MESSAGES  # noqa: E402


# ----------------------------------------------------------------- catalogue

def _pattern(text):
    """A catalogue text (printf format) as a regular expression of one line."""
    out = ""
    i = 0
    while i < len(text):
        m = re.match(r"%-?\d*([sdcu])", text[i:])
        if m:
            out += {"s": ".*", "d": r"-?\d+", "u": r"\d+", "c": "."}[m.group(1)]
            i += m.end()
        else:
            out += re.escape(text[i])
            i += 1
    return out


MESSAGE_LINES = {}   # name -> regex matching its lines
for _name, _en, _ja in MESSAGES:
    MESSAGE_LINES[_name] = [re.compile(_pattern(line)) for line in _en.split("\n") if line.strip()]
LISTING_LINE = re.compile(r"\[ *\d+\] .* (\d{4}/\d\d/\d\d \d\d:\d\d:\d\d|\?{4}/\?\?/\?\? \?\?:\?\?:\?\?) "
                          r"(<DIR> |      )[A-][S-][H-][R-]")


def printed(lines, name):
    """True when the message's first line is among the output's lines."""
    first = MESSAGE_LINES[name][0]
    return any(first.fullmatch(line) for line in lines)



def printed_any(lines, names):
    return any(printed(lines, name) for name in names)

def is_catalogue_line(line):
    return any(p.fullmatch(line) for patterns in MESSAGE_LINES.values() for p in patterns)


# ----------------------------------------------------------------- running

class Runner:
    def __init__(self, program, work, layout, verbose):
        self.program = os.path.abspath(program)
        self.work = os.path.abspath(work)
        self.layout = layout
        self.verbose = verbose
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        # Thousands of drives are laid out and removed: on a memory file
        # system where there is one, since removing folders on disk is slow.
        scratch = "/dev/shm" if os.access("/dev/shm", os.W_OK) else self.work
        self.scratch = tempfile.mkdtemp(prefix=f"faults-{layout}-", dir=scratch)
        self.template = os.path.join(self.scratch, "template")
        self.drive = os.path.join(self.scratch, "T")
        self.prefix = os.path.join(self.scratch, "prefix")
        os.makedirs(os.path.join(self.prefix, "dosdevices"))
        os.symlink(self.drive, os.path.join(self.prefix, "dosdevices", "t:"))
        lay_out_drive(self.template, layout)
        self.before = View(snapshot(self.template), layout)
        if self.before.problems or len(self.before.listed()) != len(ENTRIES):
            raise RuntimeError(f"the scenario's bin reads wrong: {self.before.problems}")
        self.report = os.path.join(self.work, "report")
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("LC_", "DUSTPAIL_FAIL")) and k not in ("LANG", "LANGUAGE")}
        self.env.update(LC_ALL="C.UTF-8", LANG="C.UTF-8", TZ="UTC", WINEPREFIX=self.prefix,
                        DUSTPAIL_FAULT_REPORT=self.report)

    def arguments(self, args):
        return [("T:\\" + bin_rel(self.layout).replace("/", "\\")) if a == "<bin>" else a for a in args]

    def close(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def run(self, args, fault_env):
        shutil.rmtree(self.drive, ignore_errors=True)
        shutil.copytree(self.template, self.drive, symlinks=True)
        if os.path.exists(self.report):
            os.unlink(self.report)
        env = dict(self.env)
        env.update(fault_env)
        proc = subprocess.run([self.program] + self.arguments(args), cwd=self.drive, env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60)
        report = {}
        if os.path.exists(self.report):
            for line in open(self.report):
                key, _, value = line.rstrip("\n").partition(" ")
                report[key] = value
        return proc, report, View(snapshot(self.drive), self.layout)

    def check(self, name, proc, report, after, mode=None, expect_success=False):
        """The state name of one run; raises Violation."""
        args, command, extra = SCENARIOS[name]
        if proc.returncode < 0:
            raise Violation(f"ended by signal {-proc.returncode}")
        if proc.stderr:
            raise Violation("wrote to stderr: " + proc.stderr.decode("utf-8", "replace")[:2000])
        if "met" not in report:
            raise Violation("no fault report: the run did not end through main or exit")
        code = proc.returncode
        if code not in EXIT_CODES:
            raise Violation(f"exit code {code} is not one of the program's")
        text = proc.stdout.decode("utf-8", "replace")
        if not text.endswith("\n"):
            raise Violation(f"output does not end with a line break: {text[-200:]!r}")
        lines = text.split("\n")[:-1]
        last = next((l for l in reversed(lines) if l.strip()), "")
        # A throw goes on after a failed load, with no message to close it
        # (code 61 stands): then the last line names the last item.
        if not (is_catalogue_line(last) or (command == "list" and LISTING_LINE.fullmatch(last))
                or (command == "throw" and code >= 20 and last.startswith("T:\\"))):
            raise Violation(f"last line is no catalogue message: {last!r}")
        if code == 0:
            if not printed(lines, SUCCESS_MESSAGE[command]):
                raise Violation(f"exit code 0 without {SUCCESS_MESSAGE[command]}")
        elif code == 11:
            if not printed(lines, WARNING_MESSAGE.get(command, "MSG_ERR_UNKNOWN")):
                raise Violation("exit code 11 without its warning")
        elif not printed_any(lines, CODE_MESSAGE[code]):
            raise Violation(f"exit code {code} without {' or '.join(CODE_MESSAGE[code])}")

        if command == "list":
            state = "unchanged" if after.tree == self.before.tree else None
            if state is None:
                raise Violation("a listing changed the drive")
        elif command in ("restore", "delete"):
            state = classify_restore_or_delete(command, self.before, after, extra)
        elif command == "empty":
            state = classify_empty(self.before, after)
        else:
            state = classify_throw(self.before, after, extra)
        if after.problems and state != "index truncated":
            raise Violation("the store reads wrong: " + "; ".join(after.problems))

        success = printed(lines, SUCCESS_MESSAGE[command])
        failed = report.get("failed", "").split()
        if expect_success:
            want = "unchanged" if command == "list" else "done"
            if code != 0 or state != want:
                raise Violation(f"without a fault: exit code {code}, state {state!r}")
            return state
        # How each state must be reported.
        if state == "unchanged":
            if command != "list" and code < 20 and code not in (2, 3):
                raise Violation(f"nothing changed, yet exit code {code}")
        elif state == "done":
            if code == 11 and command in WARNING_MESSAGE:
                state = "done, warned"
            elif code != 0 and not (mode == "from" and code >= 20):
                # With the disk gone for good, a step done may not be
                # confirmed, and is reported as failed.
                raise Violation(f"done, yet exit code {code}")
        if state in ("unchanged", "done"):
            pass
        elif state == "done, warned":
            pass  # the store's update could not be confirmed; the item is where it was asked to go
        elif (command, state) not in PARTIAL_STATES:
            raise Violation(f"state {state!r} is not one a {command} may leave")
        elif code not in PARTIAL_STATES[(command, state)][0]:
            raise Violation(f"{state}, yet exit code {code}")
        if state in LASTING_FAULT_ONLY and mode != "from":
            raise Violation(f"state {state!r} after a single failed call: the clean-up failed")
        return state


def run_kind(runner, kind, scenarios, modes, limit, verbose):
    """Runs every scenario through every fault point of `kind`. Returns the summary."""
    summary = {"layout": runner.layout, "kind": kind, "points": {}, "runs": 0, "states": {},
               "failures": []}
    for name in scenarios:
        args = SCENARIOS[name][0]
        proc, report, after = runner.run(args, {})
        summary["runs"] += 1
        try:
            runner.check(name, proc, report, after, expect_success=True)
        except Violation as e:
            summary["failures"].append(f"{name}, no fault: {e}\n{proc.stdout.decode('utf-8', 'replace')}")
            continue
        for mode, variable in KINDS[kind]:
            if mode not in modes:
                continue
            points = 0
            for n in range(1, limit + 1):
                value = str(n) if kind == "alloc" else f"any:{n}"
                proc, report, after = runner.run(args, {variable: value})
                summary["runs"] += 1
                if report.get("met") == "0":
                    break
                points += 1
                label = f"{name} {mode} {kind} {n}" + (f" ({report.get('failed')})" if kind == "syscall" else "")
                try:
                    state = runner.check(name, proc, report, after, mode)
                except Violation as e:
                    out = proc.stdout.decode("utf-8", "replace")
                    summary["failures"].append(
                        f"{label}: {e}\n  exit {proc.returncode}; again: {variable}={value} "
                        f"{' '.join(runner.arguments(args))} on a bin of this layout; output:\n    "
                        + "\n    ".join(out.splitlines()[-8:]))
                    continue
                key = f"{SCENARIOS[name][1]}: {state}"
                summary["states"][key] = summary["states"].get(key, 0) + 1
                if verbose:
                    print(f"  {label}: exit {proc.returncode}, {state}")
            else:
                summary["failures"].append(f"{name} {mode}: still meeting faults after {limit} points")
            summary["points"][f"{name} {mode}"] = points
    return summary


def print_summary(summary, seconds):
    total = sum(summary["points"].values())
    print(f"faults {summary['kind']} {summary['layout']}: {total} fault points, "
          f"{summary['runs']} runs, {seconds:.1f}s")
    for key, points in summary["points"].items():
        print(f"  {key:24s} {points:5d}")
    for key, count in sorted(summary["states"].items()):
        command, _, state = key.partition(": ")
        reason = PARTIAL_STATES.get((command, state), (None, None))[1]
        print(f"  state {key}: {count}" + (f"  ({reason})" if reason else ""))
    for failure in summary["failures"]:
        print("FAIL " + failure)
    print(f"{total - len(summary['failures'])} passed, {len(summary['failures'])} failed")


def table(paths):
    """Markdown figures from summary files."""
    rows = {}
    states = {}
    seconds = 0.0
    for path in paths:
        s = json.load(open(path))
        seconds += s.get("seconds", 0)
        for key, points in s["points"].items():
            name, mode = key.rsplit(" ", 1)
            rows.setdefault((s["layout"], name), {})[f"{s['kind']} {mode}"] = points
        for key, count in s["states"].items():
            states[key] = states.get(key, 0) + count
    columns = ["alloc once", "alloc from", "syscall once", "syscall from"]
    print("| layout | scenario | " + " | ".join(columns) + " |")
    print("|---|---|" + "---|" * len(columns))
    totals = [0] * len(columns)
    for (layout, name), cells in sorted(rows.items()):
        values = [cells.get(c, 0) for c in columns]
        totals = [a + b for a, b in zip(totals, values)]
        print(f"| {layout} | {name} | " + " | ".join(str(v) for v in values) + " |")
    print("| all | all | " + " | ".join(str(v) for v in totals) + " |")
    print(f"\n{sum(totals)} fault points in {seconds:.0f} s.\n")
    print("| state left | runs |")
    print("|---|---|")
    for key, count in sorted(states.items()):
        print(f"| {key} | {count} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", help="dustpail-faults")
    parser.add_argument("--layout", choices=sorted(LAYOUTS))
    parser.add_argument("--kind", choices=sorted(KINDS))
    parser.add_argument("--scenario", action="append", choices=sorted(SCENARIOS),
                        help="run only these scenarios (default: all)")
    parser.add_argument("--modes", default="once,from",
                        help="once (that fault alone), from (it and every later one), or both")
    parser.add_argument("--work", default=os.path.join("build", "faults"))
    parser.add_argument("--limit", type=int, default=3000, help="most fault points per scenario")
    parser.add_argument("--summary", help="write the figures as JSON here")
    parser.add_argument("--table", nargs="+", metavar="JSON", help="print the figures of summary files")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    if args.table:
        table(args.table)
        return 0
    if not (args.program and args.layout and args.kind):
        parser.error("--program, --layout and --kind are needed")
    started = time.monotonic()
    work = os.path.join(args.work, f"{args.kind}-{args.layout}")
    runner = Runner(args.program, work, args.layout, args.verbose)
    try:
        summary = run_kind(runner, args.kind, args.scenario or list(SCENARIOS), args.modes.split(","),
                           args.limit, args.verbose)
    finally:
        runner.close()
    seconds = time.monotonic() - started
    summary["seconds"] = round(seconds, 1)
    print_summary(summary, seconds)
    if args.summary:
        with open(args.summary, "w") as f:
            json.dump(summary, f, indent=1)
    if not summary["failures"]:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if summary["failures"] else 0


if __name__ == "__main__":
    sys.exit(main())
