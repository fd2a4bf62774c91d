#!/usr/bin/env python3
"""Times the cleanups side by side: replacing duplicates by hard links and deleting them, by
twinrake-find and by the tools people use for it, each on a fresh copy of one tree.

For every round, every program gets a copy of the tree made just before it (cp -a), so that
each one finds the same duplicates to act on; the copy is not timed. Rounds interleave the
programs, so that load from elsewhere on the machine spreads over all of them alike; the
median of the rounds is reported, with the files left afterwards as a check that every program
acted on the same members. Warm runs read the copy first; with --cold the page cache is
emptied before each run instead (root).

  python3 bench/cleanup.py --tree /tmp/twinrake-bench/b --find build/twinrake-find \\
      [--program before=/tmp/old/twinrake-find] [--runs 3] [--cold] [--actions link delete]
      [--leave-out "hardlink -c"]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

# What each tool is asked to do; {tree} is the copy. Every one keeps one file of each group.
PEERS = {
    "link": {
        "jdupes -L": ["jdupes", "-r", "-q", "-L", "{tree}"],
        "rdfind -makehardlinks": ["rdfind", "-makehardlinks", "true", "-outputname",
                                  "{scratch}/rdfind.txt", "{tree}"],
        "hardlink -c": ["hardlink", "-q", "-c", "{tree}"],
    },
    "delete": {
        "jdupes -dN": ["jdupes", "-r", "-q", "-d", "-N", "{tree}"],
        "rdfind -deleteduplicates": ["rdfind", "-deleteduplicates", "true", "-outputname",
                                     "{scratch}/rdfind.txt", "{tree}"],
        "fdupes -dN": ["fdupes", "-r", "-q", "-d", "-N", "{tree}"],
    },
}
OURS = {"link": ["--link", "-q", "{tree}"], "delete": ["--delete", "-q", "{tree}"]}


def drop_caches():
    subprocess.run(["sync"], check=True)
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def read_all(tree):
    subprocess.run(["sh", "-c", 'find "$1" -type f -print0 | xargs -0 cat >/dev/null', "-",
                    tree], check=True)


def files_and_inodes(tree):
    names = 0
    inodes = set()
    for folder, _, files in os.walk(tree):
        for name in files:
            info = os.lstat(os.path.join(folder, name))
            names += 1
            inodes.add((info.st_dev, info.st_ino))
    return names, len(inodes)


def one_run(argv, source, scratch, cold):
    copy = os.path.join(scratch, "tree")
    if os.path.exists(copy):
        shutil.rmtree(copy)
    subprocess.run(["cp", "-a", source, copy], check=True)
    if cold:
        drop_caches()
    else:
        read_all(copy)
    argv = [a.replace("{tree}", copy).replace("{scratch}", scratch) for a in argv]
    start = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          stdin=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    names, inodes = files_and_inodes(copy)
    return seconds, done.returncode, names, inodes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tree", required=True)
    parser.add_argument("--find", required=True, help="the twinrake-find to time")
    parser.add_argument("--program", action="append", default=[],
                        help="NAME=PATH: another twinrake-find, timed beside it")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--cold", action="store_true")
    parser.add_argument("--actions", nargs="+", default=["link", "delete"])
    parser.add_argument("--scratch", default="/tmp/twinrake-cleanup-bench")
    parser.add_argument("--no-peers", action="store_true", help="time the twinrake-finds only")
    parser.add_argument("--leave-out", action="append", default=[],
                        help='a peer not to time, by its name here ("hardlink -c")')
    args = parser.parse_args()
    if args.cold and os.geteuid() != 0:
        sys.exit("cleanup.py: --cold empties the page cache, which needs root")
    os.makedirs(args.scratch, exist_ok=True)
    finds = [("twinrake-find", args.find)] + [tuple(p.split("=", 1)) for p in args.program]

    print("| action | program | median s | runs | status | names left | files left |")
    print("|---|---|---|---|---|---|---|")
    for action in args.actions:
        programs = [(name, [path] + OURS[action]) for name, path in finds]
        programs += [(name, argv) for name, argv in PEERS[action].items()
                     if shutil.which(argv[0]) and not args.no_peers and
                     name not in args.leave_out]
        times = {name: [] for name, _ in programs}
        last = {}
        for _ in range(args.runs):
            for name, argv in programs:
                seconds, status, names, inodes = one_run(argv, args.tree, args.scratch,
                                                         args.cold)
                times[name].append(seconds)
                last[name] = (status, names, inodes)
        for name, _ in programs:
            status, names, inodes = last[name]
            runs = " ".join("%.2f" % t for t in times[name])
            print("| %s | %s | %.2f | %s | %d | %d | %d |" % (
                action, name, statistics.median(times[name]), runs, status, names, inodes))
        sys.stdout.flush()
    shutil.rmtree(os.path.join(args.scratch, "tree"), ignore_errors=True)


if __name__ == "__main__":
    main()
