#!/usr/bin/env python3
"""Runs the benchmarks on trees made by make_tree.py and prints one table (Markdown).

Every program is started directly (no shell), timed from start to exit, and its peak
resident memory taken with /usr/bin/time -f %M (so at least GNU time's own ~2 MiB; scan-bench
reads its own VmHWM instead, which is exact). Runs of the programs on one tree are interleaved round by
round, so that load from elsewhere on the machine spreads over all of them alike.

Warm runs read every file of the tree first, so the page cache holds it. With --cold every
run starts on an empty page cache instead (sync, then 3 written to /proc/sys/vm/drop_caches,
which needs root), as the first search after a boot meets it. The tree "usr" is the machine's
own /usr, made by nobody here.
"""

import argparse
import os
import platform as host
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_tree  # noqa: E402  (tree folder names)

TIME = "/usr/bin/time"
SEARCH_TOOLS = ["twinrake-find", "jdupes", "fdupes", "rdfind", "rmlint"]
# Programs whose output is groups of paths separated by empty lines.
GROUP_PRINTERS = ["twinrake-find", "jdupes", "fdupes"]


class Run:
    def __init__(self, seconds, peak_kib, status, stdout):
        self.seconds = seconds
        self.peak_kib = peak_kib
        self.status = status  # exit status, or "timeout"
        self.stdout = stdout


def peak_of_children(pid):
    """The largest VmHWM (KiB) among the children of `pid`: the program GNU time runs, read
    before a timeout kills it, when time itself can no longer report it."""
    peak = 0
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
            kids = [int(k) for k in f.read().split()]
    except (OSError, ValueError):
        return 0
    for kid in kids:
        try:
            with open("/proc/%d/status" % kid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
        except (OSError, ValueError, IndexError):
            pass
    return peak


def run(argv, cwd, timeout, stdout_path=None):
    # GNU time reports the child's peak resident memory; taking it from our own wait4 would
    # not do, since a child forked from this interpreter starts with its high-water mark.
    peak_path = os.path.join(cwd, ".peak")
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    try:
        start = time.perf_counter()
        child = subprocess.Popen([TIME, "-q", "-o", peak_path, "-f", "%M"] + argv, cwd=cwd,
                                 stdout=out, stderr=subprocess.DEVNULL,
                                 stdin=subprocess.DEVNULL, start_new_session=True)
        timed_out = threading.Event()
        killed_peak = []

        def kill():
            timed_out.set()
            killed_peak.append(peak_of_children(child.pid))
            try:
                os.killpg(child.pid, signal.SIGKILL)  # only the group this run started
            except ProcessLookupError:
                pass

        timer = threading.Timer(timeout, kill)
        timer.start()
        child.wait()
        seconds = time.perf_counter() - start
        timer.cancel()
    finally:
        if stdout_path:
            out.close()
    text = None
    if stdout_path:
        with open(stdout_path, "rb") as f:
            text = f.read()
    peak_kib = killed_peak[0] if killed_peak else 0
    try:
        with open(peak_path) as f:
            peak_kib = int(f.read().split()[-1])
        os.remove(peak_path)
    except (OSError, ValueError, IndexError):
        pass
    return Run(seconds, peak_kib, "timeout" if timed_out.is_set() else child.returncode, text)


# Other builds of twinrake-find, timed in the same rounds (--compare NAME=PATH).
OTHER_BUILDS = {}


def search_argv(tool, build, tree):
    if tool in OTHER_BUILDS:
        return [OTHER_BUILDS[tool], tree]
    return {
        "twinrake-find": [os.path.join(build, "twinrake-find"), tree],
        "jdupes": ["jdupes", "-r", "-q", tree],
        "fdupes": ["fdupes", "-r", "-q", tree],
        "rdfind": ["rdfind", "-dryrun", "true", tree],
        "rmlint": ["rmlint", tree],
    }[tool]


def groups_of(text):
    """The set of groups (each a set of paths) of an empty-line separated listing."""
    groups = set()
    for block in text.split(b"\n\n"):
        paths = frozenset(line for line in block.split(b"\n") if line)
        if paths:
            groups.add(paths)
    return groups


def drop_caches():
    """Empties the page cache and the caches of folders and inodes."""
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def warm(tree):
    """Reads every file once, so the page cache holds the tree."""
    for folder, _, names in os.walk(tree):
        for name in names:
            try:
                with open(os.path.join(folder, name), "rb", buffering=0) as f:
                    while f.read(1 << 20):
                        pass
            except OSError:
                pass


def median(values):
    return statistics.median(values) if values else None


def machine():
    model = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%d cores (%s), Linux %s, load at start %.2f %.2f %.2f" % (
        (os.cpu_count(), model, host.release()) + os.getloadavg())


def scan_benchmark(args, tree, workdir):
    bench = os.path.join(args.build, "bench", "scan-bench")
    find = ["find", tree, "-type", "f", "-printf", "%s %p\\n"]
    if not args.cold:
        run(find, workdir, args.timeout)  # warms the folders and inodes
    scans, empties, finds, inside = [], [], [], []
    entries = None
    for _ in range(args.runs):
        if args.cold:
            drop_caches()
        r = run([bench, tree], workdir, args.timeout, os.path.join(workdir, "scan.out"))
        fields = r.stdout.split()
        entries = int(fields[1])
        inside.append(float(fields[3]))
        r.peak_kib = int(fields[5])
        scans.append(r)
        e = run([bench, "--empty", tree], workdir, args.timeout, os.path.join(workdir, "e.out"))
        e.peak_kib = int(e.stdout.split()[5])
        empties.append(e)
        if args.cold:
            drop_caches()
        finds.append(run(find, workdir, args.timeout))
    scan_s = median([r.seconds for r in scans])
    find_s = median([r.seconds for r in finds])
    scan_kib = median([r.peak_kib for r in scans])
    empty_kib = median([r.peak_kib for r in empties])
    per_entry = (scan_kib - empty_kib) * 1024 / entries if entries else float("nan")
    lines = [
        "Scan of %s: %d entries, median of %d runs, %s cache" % (
            tree, entries, args.runs, "cold" if args.cold else "warm"),
        "",
        "| what | median s | ratio to find | peak RSS MiB |",
        "|---|---:|---:|---:|",
        "| scan-bench (whole process) | %.3f | %.2f | %.1f |" % (scan_s, scan_s / find_s,
                                                               scan_kib / 1024),
        "| scan-bench (ScanFolder only) | %.3f | %.2f | |" % (median(inside),
                                                           median(inside) / find_s),
        "| scan-bench --empty | %.3f | | %.1f |" % (median([r.seconds for r in empties]),
                                                  empty_kib / 1024),
        "| find -type f -printf '%%s %%p\\n' (time -f %%M) | %.3f | 1.00 | %.1f |"
        % (find_s, median([r.peak_kib for r in finds]) / 1024),
        "",
        "Catalogue: (%d - %d) KiB * 1024 / %d entries = %.1f bytes per entry"
        % (scan_kib, empty_kib, entries, per_entry),
    ]
    return lines


def search_benchmark(args, name, tree, workdir):
    tools = [t for t in args.tools if t in SEARCH_TOOLS] + list(OTHER_BUILDS)
    if not args.cold:
        warm(tree)
    runs = {t: [] for t in tools}
    first_output = {}
    for round_no in range(args.runs):
        for tool in tools:
            if runs[tool] and (runs[tool][-1].status == "timeout" or
                               runs[tool][0].seconds > args.repeat_limit):
                continue  # one such run says enough; more would only repeat it
            keep = (tool in GROUP_PRINTERS or tool in OTHER_BUILDS) and round_no == 0
            out = os.path.join(workdir, "%s-%s.out" % (name, tool)) if keep else None
            cwd = os.path.join(workdir, tool)
            os.makedirs(cwd, exist_ok=True)  # rdfind and rmlint write their reports here
            if args.cold:
                drop_caches()
            elif round_no > 0 or tool != tools[0]:
                # Read again before every run: a machine may page out what stayed untouched
                # for a while (DAMON's pageout here), which a warm run must not meet.
                warm(tree)
            r = run(search_argv(tool, args.build, tree), cwd, args.timeout, out)
            runs[tool].append(r)
            if keep and r.status != "timeout":
                first_output[tool] = r.stdout
            print("  %s %s round %d: %s s, %d KiB, status %s" % (
                name, tool, round_no + 1, "%.3f" % r.seconds, r.peak_kib, r.status),
                file=sys.stderr, flush=True)
    rows = []
    base = None
    if "twinrake-find" in tools and all(r.status != "timeout" for r in runs["twinrake-find"]):
        base = median([r.seconds for r in runs["twinrake-find"]])
    for tool in tools:
        done = [r for r in runs[tool] if r.status != "timeout"]
        if len(done) < len(runs[tool]):
            rows.append("| %s | %s | timeout (> %d s) | | %.1f | |"
                        % (name, tool, args.timeout, max(r.peak_kib for r in runs[tool]) / 1024))
            continue
        seconds = median([r.seconds for r in done])
        if base:
            ratio = "1.00" if tool == "twinrake-find" else "%.3g" % (seconds / base)
        elif "twinrake-find" in runs and runs["twinrake-find"]:
            ratio = "< %.3g" % (seconds / args.timeout)  # twinrake-find took at least that
        else:
            ratio = ""
        bad = [r.status for r in done if r.status not in (0, 1)]
        note = "exit %s" % bad[0] if bad else ""
        if len(done) < args.runs:
            note = (note + ", " if note else "") + "%d run%s" % (len(done),
                                                              "" if len(done) == 1 else "s")
        groups = first_output.get(tool)
        if groups is not None:
            found = groups_of(groups)
            note = (note + ", " if note else "") + "%d groups, %d files" % (
                len(found), sum(len(g) for g in found))
        rows.append("| %s | %s | %.3f | %s | %.1f | %s |" % (
            name, tool, seconds, ratio, median([r.peak_kib for r in done]) / 1024, note))
    checks = []
    peers = [(median([r.seconds for r in runs[t]]), t) for t in tools
             if t != "twinrake-find" and t not in OTHER_BUILDS and
             all(r.status != "timeout" for r in runs[t])]
    if peers and "twinrake-find" in tools:
        fastest, who = min(peers)
        mine_s = ("%.3f s" % base) if base else "> %d s" % args.timeout
        checks.append("tree %s: twinrake-find %s, fastest peer %s %.3f s: twinrake-find takes "
                      "%s times its time" % (name, mine_s, who, fastest,
                                             "%.3g" % (base / fastest) if base else
                                             "> %.3g" % (args.timeout / fastest)))
    if "twinrake-find" in first_output:
        mine = groups_of(first_output["twinrake-find"])
        for other in ["jdupes", "fdupes"] + list(OTHER_BUILDS):
            if other in first_output:
                theirs = groups_of(first_output[other])
                if mine == theirs:
                    verdict = "MATCH"
                else:
                    verdict = "DIFF (%d groups only in twinrake-find, %d only in %s)" % (
                        len(mine - theirs), len(theirs - mine), other)
                checks.append("tree %s: twinrake-find vs %s: %s" % (name, other, verdict))
    return rows, checks


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="build folder (Release)")
    parser.add_argument("--root", default="/tmp/twinrake-bench")
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--timeout", type=int, default=600, help="seconds per run")
    parser.add_argument("--repeat-limit", type=float, default=120,
                        help="a program whose first run on a tree took longer is not repeated")
    parser.add_argument("--trees", default="scan a b c")
    parser.add_argument("--tools", default=" ".join(SEARCH_TOOLS))
    parser.add_argument("--cold", action="store_true",
                        help="empty the page cache before every run (needs root)")
    parser.add_argument("--compare", action="append", default=[], metavar="NAME=PATH",
                        help="another twinrake-find, timed in the same rounds")
    args = parser.parse_args()
    for other in args.compare:
        name, path = other.split("=", 1)
        OTHER_BUILDS[name] = path
    args.trees = args.trees.split()
    args.tools = args.tools.split()

    print("Machine: %s" % machine())
    print("Runs: median of %d, timeout %d s per run, no repeats after a run over %g s"
          % (args.runs, args.timeout, args.repeat_limit))
    print()
    checks = []
    rows = []
    with tempfile.TemporaryDirectory(prefix="twinrake-bench-run-") as workdir:
        for name in args.trees:
            tree = ("/usr" if name == "usr" else
                    make_tree.tree_dir(os.path.abspath(args.root), name, args.scale))
            if not os.path.isdir(tree):
                sys.exit("measure: no tree %s (run make_tree.py first)" % tree)
            if name == "scan":
                print("\n".join(scan_benchmark(args, tree, workdir)))
                print()
            else:
                print("tree %s ..." % name, file=sys.stderr, flush=True)
                tree_rows, tree_checks = search_benchmark(args, name, tree, workdir)
                rows += tree_rows
                checks += tree_checks
    if rows:
        print("Duplicate search, %s cache, median of %d runs" % (
            "cold" if args.cold else "warm", args.runs))
        print()
        print("| tree | tool | median s | ratio to twinrake-find | peak RSS MiB | notes |")
        print("|---|---|---:|---:|---:|---|")
        print("\n".join(rows))
        print()
    for line in checks:
        print(line)
    print()
    print("Load at the end: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
