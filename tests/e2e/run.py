#!/usr/bin/env python3
"""Command line of the end-to-end rig (ctest calls it; see README.md).

  run.py setup   --root DIR                 make the run's Wine prefix
  run.py cleanup --root DIR                 stop its wine servers, drop the copies
  run.py cases   --root DIR [options] FILE  run one group of cases (cases_*.py)
"""

import argparse
import concurrent.futures
import importlib.util
import os
import queue
import re
import shutil
import subprocess
import sys
import threading
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True

import rig  # noqa: E402
from texts import JA  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))
IN_CI = os.environ.get("CI", "").lower() in ("1", "true", "yes")


def base_prefix(root):
    return os.path.join(root, "base-prefix")


def worker_prefixes(root):
    folder = os.path.join(root, "prefixes")
    if not os.path.isdir(folder):
        return []
    return [os.path.join(folder, name) for name in sorted(os.listdir(folder))]


def has_locale(name):
    out = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout
    wanted = name.lower().replace("utf-8", "utf8")
    return any(line.strip().lower().replace("utf-8", "utf8") == wanted for line in out.splitlines())


def require_tools():
    missing = [t for t in ("wine", "wineboot", "wineserver") if shutil.which(t) is None]
    if missing:
        sys.exit(f"e2e: {', '.join(missing)} not found; install Debian's wine and wine64")


# ----------------------------------------------------------------- setup / cleanup

def cmd_setup(args):
    require_tools()
    if not has_locale(rig.LOCALES[JA]):
        message = (f"e2e: locale {rig.LOCALES[JA]} is missing "
                   "(localedef -i ja_JP -f UTF-8 ja_JP.UTF-8); the Japanese cases need it")
        if IN_CI:
            sys.exit(message)
        print(message + "; they will be skipped")
    os.makedirs(args.root, exist_ok=True)
    for prefix in worker_prefixes(args.root):
        rig.kill_server(prefix)
    shutil.rmtree(os.path.join(args.root, "prefixes"), ignore_errors=True)
    started = time.monotonic()
    rig.create_prefix(base_prefix(args.root), os.path.join(args.root, "wineboot.log"))
    print(f"e2e: Wine prefix {base_prefix(args.root)} made in {time.monotonic() - started:.1f}s")


def cmd_cleanup(args):
    for prefix in worker_prefixes(args.root) + [base_prefix(args.root)]:
        rig.kill_server(prefix)
    # A prefix is some 700 MB; the next run makes a new one anyway.
    shutil.rmtree(os.path.join(args.root, "prefixes"), ignore_errors=True)
    shutil.rmtree(base_prefix(args.root), ignore_errors=True)
    print("e2e: wine servers stopped, prefixes removed")


# ----------------------------------------------------------------- cases

def load_group(path):
    name = os.path.splitext(os.path.basename(path))[0]
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    cases = list(getattr(module, "CASES"))
    seen = set()
    for case in cases:
        if case.name in seen:
            sys.exit(f"e2e: {path}: two cases are named {case.name!r}")
        seen.add(case.name)
    return cases


def find_builds(args):
    native = os.path.abspath(args.native)
    if not os.access(native, os.X_OK):
        sys.exit(f"e2e: native build {native} not found (cmake --build build/native)")
    # Absolute: every build runs with a drive folder as its working directory.
    windows_dir = os.path.abspath(args.windows_dir)
    exe = os.path.join(windows_dir, "dustpail.exe")
    ansi = os.path.join(windows_dir, "dustpail-ansi.exe")
    available = [rig.NATIVE]
    for build, path in ((rig.EXE, exe), (rig.ANSI, ansi)):
        if os.path.isfile(path):
            available.append(build)
        elif os.environ.get("DUSTPAIL_E2E_NATIVE_ONLY"):
            print(f"e2e: {path} not found; DUSTPAIL_E2E_NATIVE_ONLY is set, running without it")
        else:
            sys.exit(f"e2e: {path} not found: build the windows preset first "
                     "(cmake --preset windows && cmake --build build/windows), or set "
                     "DUSTPAIL_E2E_NATIVE_ONLY=1 to run the native build alone")
    if args.builds:
        wanted = args.builds.split(",")
        unknown = set(wanted) - set(rig.ALL_BUILDS)
        if unknown:
            sys.exit(f"e2e: unknown builds {sorted(unknown)}")
        available = [b for b in available if b in wanted]
    return rig.Builds(native=native, exe=exe, ansi=ansi), available


class Worker:
    """One private prefix copy with a persistent wine server; runs one case at a time."""

    def __init__(self, root, group, index, builds, available):
        self.prefix = os.path.join(root, "prefixes", f"{group}-{index}")
        rig.copy_prefix(base_prefix(root), self.prefix)
        env = rig.wine_env(self.prefix)
        rig.run_quiet(["wineserver", "-p"], env)
        if rig.EXE in available:
            # Starts the prefix's services now, with no terminal or file of a case open.
            rig.run_quiet(["wine", builds.exe, "/nologo", "/?"], env, timeout=120)
        self.folder_of = rig.folder_resolver(self.prefix)

    def close(self):
        rig.kill_server(self.prefix)
        shutil.rmtree(self.prefix, ignore_errors=True)


def slug(text):
    return re.sub(r"[^A-Za-z0-9]+", "-", text).strip("-")[:60] or "case"


def run_case(number, case, chosen, worker, builds, work_root):
    work = os.path.join(work_root, f"{number:03d}-{slug(case.name)}")
    results = []
    started = time.monotonic()
    retries = []
    for build in chosen:
        build_work = os.path.join(work, build)
        for attempt in range(1, rig.WINE_START_ATTEMPTS + 1):
            shutil.rmtree(build_work, ignore_errors=True)
            os.makedirs(build_work)
            result = rig.run_once(case, build, builds, worker.prefix, worker.folder_of, build_work)
            if not rig.wine_failed_to_start(result) or attempt == rig.WINE_START_ATTEMPTS:
                break
            retries.append(f"Wine failed to start {build}, ran it again")
        results.append(result)
    problems = rig.verify(case, results)
    return results, problems, time.monotonic() - started, work, retries


def cmd_cases(args):
    require_tools()
    builds, available = find_builds(args)
    group = re.sub(r"^cases_", "", os.path.splitext(os.path.basename(args.file))[0])
    if not os.path.isdir(base_prefix(args.root)):
        print("e2e: no prefix yet (the ctest fixture makes it); making one")
        cmd_setup(args)
    work_root = os.path.join(args.root, "work", group)
    shutil.rmtree(work_root, ignore_errors=True)
    os.makedirs(work_root)

    started = time.monotonic()
    jobs = max(1, args.jobs)
    workers = []
    try:
        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            made = [pool.submit(Worker, args.root, group, i, builds, available) for i in range(jobs)]
        for future in made:
            if future.exception() is None:
                workers.append(future.result())
        for future in made:
            if future.exception() is not None:
                raise future.exception()
        rig.BANNER = rig.read_banner(builds.native, workers[0].prefix, os.path.join(work_root, "banner"))
        cases = load_group(os.path.abspath(args.file))
        if args.k:
            cases = [c for c in cases if re.search(args.k, c.name)]
        print(f"e2e {group}: {len(cases)} cases, builds {', '.join(available)}, {jobs} workers "
              f"(set up in {time.monotonic() - started:.1f}s)")
        japanese = has_locale(rig.LOCALES[JA])

        free = queue.Queue()
        for w in workers:
            free.put(w)
        lock = threading.Lock()
        passed, failed, skipped = [], [], []

        def one(number, case):
            if case.skip:
                with lock:
                    skipped.append(case.name)
                    print(f"SKIP {case.name}: {case.skip}", flush=True)
                return
            if case.lang == JA and not japanese:
                with lock:
                    if IN_CI:
                        failed.append(case.name)
                        print(f"FAIL {case.name}: locale {rig.LOCALES[JA]} is missing", flush=True)
                    else:
                        skipped.append(case.name)
                        print(f"SKIP {case.name}: locale {rig.LOCALES[JA]} is missing", flush=True)
                return
            chosen, notes = rig.builds_for(case, available)
            if not chosen:
                with lock:
                    skipped.append(case.name)
                    print(f"SKIP {case.name}: no build to run it on ({'; '.join(notes) or 'builds left out'})",
                          flush=True)
                return
            worker = free.get()
            try:
                results, problems, seconds, work, retries = run_case(
                    number, case, chosen, worker, builds, work_root)
            except Exception:  # a broken case must not stop the group
                results, problems, seconds, work, retries = [], ["rig error: " + traceback.format_exc()], 0, None, []
            finally:
                free.put(worker)
            notes = notes + retries
            with lock:
                label = f"{case.name} [{' '.join(chosen)}] {seconds:.2f}s"
                if problems:
                    failed.append(case.name)
                    print(f"FAIL {label}" + "".join(f" ({n})" for n in notes), flush=True)
                    for line in problems + ["  what each build did:"] + rig.describe_results(results):
                        print("  " + line)
                    if work:
                        print(f"  files kept in {work}")
                else:
                    passed.append(case.name)
                    print(f"ok   {label}" + "".join(f" ({n})" for n in notes), flush=True)
                    if args.verbose:
                        for line in rig.describe_results(results):
                            print("  " + line)
                    if work and not args.keep:
                        shutil.rmtree(work, ignore_errors=True)

        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            for f in [pool.submit(one, n, c) for n, c in enumerate(cases, 1)]:
                f.result()
    finally:
        for w in workers:
            w.close()

    print(f"e2e {group}: {time.monotonic() - started:.1f}s")
    if failed:
        print("failed cases:\n" + "".join(f"  {name}\n" for name in failed), end="")
    print(f"{len(passed)} passed, {len(failed)} failed, {len(skipped)} skipped")
    return 1 if failed or not (passed or skipped) else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("setup", "cleanup", "cases"):
        p = sub.add_parser(name)
        p.add_argument("--root", default=os.path.join(REPO, "build", "e2e"),
                       help="scratch folder of the run (prefix, copies, case folders)")
        if name == "cases":
            p.add_argument("--native", default=os.path.join(REPO, "build", "native", "dustpail"))
            p.add_argument("--windows-dir", default=os.path.join(REPO, "build", "windows"))
            p.add_argument("-j", "--jobs", type=int, default=int(os.environ.get("DUSTPAIL_E2E_JOBS", "3")),
                           help="cases run at once, each in its own prefix copy")
            p.add_argument("--builds", default=os.environ.get("DUSTPAIL_E2E_BUILDS"),
                           help="comma-separated subset of native,exe,ansi to run "
                                "(default: DUSTPAIL_E2E_BUILDS, else all)")
            p.add_argument("-k", metavar="REGEX", help="run only the cases whose name matches")
            p.add_argument("-v", "--verbose", action="store_true", help="show every build's output")
            p.add_argument("--keep", action="store_true", help="keep the folders of passed cases")
            p.add_argument("file", help="a cases_*.py file")
    args = parser.parse_args()
    args.root = os.path.abspath(args.root)
    if args.command == "setup":
        cmd_setup(args)
    elif args.command == "cleanup":
        cmd_cleanup(args)
    else:
        try:
            sys.exit(cmd_cases(args))
        except rig.CaseFailure as e:
            sys.exit(f"e2e: {e}")


if __name__ == "__main__":
    main()
