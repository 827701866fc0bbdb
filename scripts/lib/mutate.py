#!/usr/bin/env python3
"""Plants the faults of scripts/mutants/ one at a time in a copy of the sources, builds oe-trial there and
runs it on fresh seeds: a fault the simulation does not catch is a hole in its invariants.

A mutant is a text file:
    what: one line on the fault
    expect: the invariant that should catch it (shown beside the one that did)
    needs: a check of oe-trial that is off by default (see oe-trial --list-checks)
    judge: a test program instead of oe-trial, for a fault only a window shows (the simulation has none)
    waiting: why the fault cannot be planted yet (the code it belongs in is not there); with edits, the
             mutant waits only while none of them applies
    file: path/from/the/root
    <<<
    text to find, exactly once in the file
    ===
    what it becomes
    >>>
Several edits may follow a file line, and several file lines may follow each other. The text to find
is short on purpose: when the code around it moves, the mutant still applies; when it no longer does,
the run says so before it builds anything. While code is being moved, a mutant may say the same fault
twice, for the code before and after the move: a line "--- or ---" starts another variant, and the
first variant that applies is planted.
"""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path


class Mutant:
    def __init__(self, path):
        self.path = path
        self.name = path.stem
        self.what = ""
        self.expect = ""
        self.needs = []
        self.waiting = ""
        self.judge = ""
        self.variants = [[]]  # each a list of (file, search, replace)
        self.edits = []  # the variant that applies
        self.parse(path.read_text())

    def parse(self, text):
        lines = text.split("\n")
        current_file = None
        i = 0
        while i < len(lines):
            line = lines[i]
            if line == "--- or ---":
                self.variants.append([])
                current_file = None
            elif line == "<<<":
                search, replace, part = [], [], "search"
                i += 1
                while i < len(lines) and lines[i] != ">>>":
                    if lines[i] == "===" and part == "search":
                        part = "replace"
                    elif part == "search":
                        search.append(lines[i])
                    else:
                        replace.append(lines[i])
                    i += 1
                if current_file is None or part != "replace":
                    raise ValueError(f"{self.path}: an edit needs a file line before it and a === inside it")
                self.variants[-1].append((current_file, "\n".join(search), "\n".join(replace)))
            elif ":" in line and not line.startswith(" "):
                key, value = line.split(":", 1)
                value = value.strip()
                if key == "file":
                    current_file = value
                elif key == "what":
                    self.what = value
                elif key == "expect":
                    self.expect = value
                elif key == "needs":
                    self.needs += value.split()
                elif key == "waiting":
                    self.waiting = value
                elif key == "judge":
                    self.judge = value
            i += 1

    @staticmethod
    def variant_problem(edits, root):
        if not edits:
            return "no edit"
        texts = {}
        for file, search, _ in edits:
            source = root / file
            if not source.exists():
                return f"{file} is gone"
            text = texts.setdefault(file, source.read_text())
            count = text.count(search)
            if count != 1:
                first = search.strip().split("\n")[0]
                return f"{file}: '{first}' found {count} times (once wanted)"
        return None

    def problem(self, root):
        """Why the mutant does not apply to the sources under root, or None; picks the variant that does."""
        if self.waiting and not any(self.variants):
            return None
        problems = []
        for edits in self.variants:
            problem = self.variant_problem(edits, root)
            if problem is None:
                self.edits = edits
                return None
            problems.append(problem)
        if self.waiting:
            self.edits = []
            return None
        return "; or ".join(problems)

    def apply(self, root):
        originals = {}
        for file, search, replace in self.edits:
            source = root / file
            text = source.read_text()
            originals.setdefault(file, text)
            source.write_text(text.replace(search, replace, 1))
        return originals


def sync_sources(root, copy):
    """Brings the copy up to the worktree as it is now (uncommitted changes too); unchanged files keep
    their times, so the copy's build only redoes what changed."""
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            cwd=root, check=True, capture_output=True).stdout.split(b"\0")
    for name in listed:
        if not name:
            continue
        rel = name.decode()
        if rel.startswith("build"):
            continue
        source = root / rel
        if not source.is_file():
            continue
        target = copy / rel
        data = source.read_bytes()
        if target.is_file() and target.read_bytes() == data:
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        shutil.copymode(source, target)


def build(copy, build_dir, log, target="oe-trial"):
    env = dict(os.environ, CCACHE_BASEDIR=str(copy), CCACHE_NOHASHDIR="1")
    steps = [["cmake", "-S", str(copy), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release"],
             ["nice", "cmake", "--build", str(build_dir), "-j", str(os.cpu_count() or 2), "--target", target]]
    for step in steps:
        result = subprocess.run(step, env=env, stdout=log, stderr=subprocess.STDOUT)
        if result.returncode != 0:
            return False
    return True


def run_trial(trial, seconds, seed, checks, work):
    """Runs fresh seeds; returns (invariant or None, detail, seed, wall seconds)."""
    command = [str(trial), "--seconds", str(seconds), "--first-seed", str(seed)]
    for check in checks:
        command += ["--check", check]
    start = time.monotonic()
    try:
        result = subprocess.run(command, cwd=work, capture_output=True, text=True, timeout=seconds + 120)
    except subprocess.TimeoutExpired:
        return "hang (the run did not end)", "", seed, time.monotonic() - start
    took = time.monotonic() - start
    out = result.stdout
    broken = re.search(r"INVARIANT BROKEN: (.*)", out)
    if broken:
        failed_seed = re.search(r"^seed (\d+)", out, re.M)
        detail = out[broken.end():].strip().split("\n")[1] if "\n" in out[broken.end():].strip() else ""
        return broken.group(1).strip(), detail, failed_seed.group(1) if failed_seed else "?", took
    if result.returncode < 0:
        return f"crash (signal {-result.returncode})", "", seed, took
    if result.returncode != 0:
        return f"exit status {result.returncode}", result.stderr.strip().split("\n")[-1:], seed, took
    return None, "", seed, took


def run_test(build_dir, name, seconds):
    """Runs a test program; returns (its first failure or None, wall seconds)."""
    found = [p for p in build_dir.glob(f"tests/*/{name}") if p.is_file()]
    if not found:
        return f"no test program {name}", 0.0
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    start = time.monotonic()
    try:
        result = subprocess.run([str(found[0])], cwd=found[0].parent, env=env, capture_output=True, text=True,
                                timeout=seconds + 300)
    except subprocess.TimeoutExpired:
        return f"{name}: hang (the run did not end)", time.monotonic() - start
    took = time.monotonic() - start
    if result.returncode == 0:
        return None, took
    failed = re.search(r"FAIL!\s*:\s*\S+::(\S+?)\((.*?)\)", result.stdout)
    return (f"{name}: {failed.group(1)}({failed.group(2)})" if failed else f"{name}: exit status {result.returncode}"), took


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seconds", type=int, default=60, help="how long each mutant runs at most (default 60)")
    parser.add_argument("--baseline-seconds", type=int, default=20,
                        help="how long the sources as they are run first (default 20; 0 skips)")
    parser.add_argument("--only", action="append", default=[], help="this mutant only (repeatable)")
    parser.add_argument("--check-only", action="store_true", help="only say whether each mutant still applies")
    parser.add_argument("--first-seed", type=int, help="seeds from here instead of fresh ones")
    parser.add_argument("--list", action="store_true", help="list the mutants")
    args = parser.parse_args()

    root = Path(__file__).resolve().parents[2]
    mutants = [Mutant(p) for p in sorted((root / "scripts" / "mutants").glob("*.mutant"))]
    if args.only:
        unknown = set(args.only) - {m.name for m in mutants}
        if unknown:
            sys.exit(f"no such mutant: {', '.join(sorted(unknown))}")
        mutants = [m for m in mutants if m.name in args.only]
    if args.list:
        for m in mutants:
            print(f"{m.name:34} {m.what}")
        return 0

    # Every mutant is checked against the sources before anything is built.
    stale = {}
    for m in mutants:
        problem = m.problem(root)
        if problem:
            stale[m.name] = problem
    for name, problem in stale.items():
        print(f"STALE {name}: {problem}  (refresh scripts/mutants/{name}.mutant)")
    if args.check_only:
        for m in mutants:
            if m.waiting and not m.edits:
                print(f"WAITING {m.name}: {m.waiting}")
        return 1 if stale else 0

    base = Path(os.environ.get("OE_MUTATE_DIR", root / "build-mutate"))
    # The build sits inside the copy as build/ sits in the worktree: the compiler sees the same relative
    # paths, so ccache serves the unchanged files from the worktree's own builds.
    copy, work = base / "source", base / "runs"
    build_dir = copy / "build"
    for folder in (copy, build_dir, work):
        folder.mkdir(parents=True, exist_ok=True)
    sync_sources(root, copy)
    log_path = base / "build.log"
    trial = build_dir / "sim" / "trial" / "oe-trial"
    rng = random.Random()

    def seed():
        return args.first_seed if args.first_seed is not None else rng.getrandbits(44)

    with open(log_path, "w") as log:
        if not build(copy, build_dir, log):
            sys.exit(f"the sources as they are do not build (see {log_path})")
    # A mutant that needs a check the sources as they are break cannot be judged by it: the check would
    # "catch" the program's own fault.
    unjudged = {}
    if args.baseline_seconds > 0:
        invariant, detail, failed, _ = run_trial(trial, args.baseline_seconds, seed(), [], work)
        if invariant:
            sys.exit(f"the sources as they are break '{invariant}' (seed {failed}): {detail}\n"
                     "mend that first: a mutant is only judged against a simulation that holds")
        print(f"baseline: every invariant held for {args.baseline_seconds} s")
        for needs in sorted({tuple(m.needs) for m in mutants if m.needs and m.edits and m.name not in stale}):
            invariant, detail, failed, _ = run_trial(trial, args.baseline_seconds, seed(), list(needs), work)
            if invariant:
                unjudged[needs] = f"--check {' '.join(needs)} breaks '{invariant}' on the sources as they are (seed {failed})"
                print(f"baseline with --check {' '.join(needs)}: {invariant} (seed {failed}): {detail}")
            else:
                print(f"baseline with --check {' '.join(needs)}: every invariant held")

    rows = []
    for m in mutants:
        if m.name in stale:
            rows.append((m, "STALE", stale[m.name], "", ""))
            continue
        if m.waiting and not m.edits:
            rows.append((m, "waiting", m.waiting, "", ""))
            continue
        if tuple(m.needs) in unjudged:
            rows.append((m, "not judged", unjudged[tuple(m.needs)], "", ""))
            continue
        originals = m.apply(copy)
        try:
            with open(log_path, "a") as log:
                log.write(f"\n==== {m.name}\n")
                log.flush()
                built = build(copy, build_dir, log, m.judge or "oe-trial")
            if not built:
                rows.append((m, "did not build", f"see {log_path}", "", ""))
                continue
            if m.judge:
                invariant, took = run_test(build_dir, m.judge, args.seconds)
                failed = "-"
            else:
                invariant, detail, failed, took = run_trial(trial, args.seconds, seed(), m.needs, work)
        finally:
            for file, text in originals.items():
                (copy / file).write_text(text)
        if invariant:
            rows.append((m, "caught", invariant, f"{took:.1f} s", str(failed)))
        else:
            rows.append((m, "SURVIVED", f"{args.seconds} s of seeds from {failed}", "", ""))
        print(f"{m.name}: {rows[-1][1]} {rows[-1][2]} {rows[-1][3]}", flush=True)

    # Leave the copy as the sources are, so the next run builds from there.
    with open(log_path, "a") as log:
        for target in ["oe-trial"] + sorted({m.judge for m in mutants if m.judge}):
            build(copy, build_dir, log, target)

    print()
    print("| mutant | fault | caught | by | after | seed |")
    print("|---|---|---|---|---|---|")
    for m, verdict, by, after, failed in rows:
        needs = f" (needs --check {', '.join(m.needs)})" if m.needs and verdict != "caught" else ""
        print(f"| {m.name} | {m.what} | {verdict} | {by}{needs} | {after} | {failed} |")
    holes = [r for r in rows if r[1] != "caught"]
    print()
    print(f"{len(rows) - len(holes)} of {len(rows)} caught")
    return 1 if holes else 0


if __name__ == "__main__":
    sys.stdout.reconfigure(line_buffering=True)
    sys.exit(main())
