#!/usr/bin/env python3
"""Generates the benchmark trees, deterministically (fixed seed), standard library only.

Trees (each written to ROOT/NAME, or ROOT/NAME-xSCALE when --scale is not 1):
  scan  200,000 small files (0 B to 4 KiB) in nested folders with names like real ones.
  a     20,000 files of 1 KiB to 2 MiB (log-uniform sizes, about 5.5 GB): duplicate sets of
        2 to 4 copies, and sets of 2 to 4 files of one size that differ at one random byte.
  b     200,000 files of 10 B to 16 KiB in nested folders; many share one size but differ
        (log-uniform sizes plus a few very common sizes); some have a copy.
  c     3,000 files of exactly 64 KiB that all share their first 60 KiB: 2,700 different
        contents, 300 of which appear twice.

A finished tree leaves ROOT/NAME.stamp beside it (outside, so no tool sees it) holding the
parameters; a later call with the same parameters reuses the tree. A tree is only ever
removed when one of our own marks (stamp or ROOT/NAME.partial) says we wrote it.
"""

import argparse
import json
import math
import os
import random
import shutil
import struct
import sys
import time

VERSION = 1
SEED = 20240611
CHUNK = 64 * 1024
STAMP_BYTES = 16
MASK64 = (1 << 64) - 1

DIR_WORDS = [
    "src", "lib", "include", "docs", "assets", "images", "photos", "music", "videos",
    "Downloads", "Documents", "Projects", "backup", "archive", "old", "new", "tmp", "build",
    "test", "data", "config", "share", "icons", "fonts", "locale", "de", "en", "Holiday",
    "Family", "Work", "Invoices", "Reports", "drafts", "misc", "vendor", "third_party",
    "packages", "cache", "logs", "scripts", "tools", "web", "static", "css", "js",
    "templates", "Camera", "Scans", "Taxes", "Letters", "Recipes", "Music Library",
    "Album", "Season 1", "raw", "export", "thumbnails", "plugins", "modules", "Desktop",
]
YEARS = [str(y) for y in range(2003, 2025)]
FILE_KINDS = [
    ("IMG_{n:04d}", ".jpg"), ("DSC{n:05d}", ".JPG"), ("Screenshot {y}-{m:02d}-{d:02d}", ".png"),
    ("report_{y}_{m:02d}", ".pdf"), ("Invoice {n}", ".pdf"), ("notes", ".txt"),
    ("README", ".md"), ("index", ".html"), ("main", ".cpp"), ("utils", ".py"),
    ("config", ".json"), ("settings", ".xml"), ("style", ".css"), ("app", ".js"),
    ("track{n:02d}", ".mp3"), ("Letter to {w}", ".docx"), ("budget {y}", ".xlsx"),
    ("server", ".log"), ("export_{n}", ".csv"), ("backup-{y}{m:02d}{d:02d}", ".zip"),
    ("{w}", ".h"), ("{w}_{n}", ".cpp"), ("test_{w}", ".py"), ("{w}", ".txt"),
]
WORDS = [
    "alpha", "Anna", "budget", "camera", "draft", "family", "garden", "holiday", "kitchen",
    "ledger", "Müller", "network", "parser", "quarterly", "receipt", "summary", "widget",
    "zebra", "Übersicht", "catalogue", "helper", "window", "scanner", "reader", "writer",
]


class Namer:
    """Names like real ones, unique within their folder."""

    def __init__(self, rng):
        self.rng = rng
        self.used = {}

    def folder_name(self):
        r = self.rng.random()
        if r < 0.15:
            return self.rng.choice(YEARS)
        if r < 0.25:
            return "%s %s" % (self.rng.choice(DIR_WORDS), self.rng.choice(YEARS))
        return self.rng.choice(DIR_WORDS)

    def file_name(self):
        stem, ext = self.rng.choice(FILE_KINDS)
        return stem.format(n=self.rng.randrange(1, 10000), y=self.rng.choice(YEARS),
                           m=self.rng.randrange(1, 13), d=self.rng.randrange(1, 29),
                           w=self.rng.choice(WORDS)) + ext

    def unique(self, folder, name):
        names = self.used.setdefault(folder, set())
        if name in names:
            stem, dot, ext = name.rpartition(".")
            if not dot:
                stem, ext = name, ""
            k = 2
            while True:
                candidate = "%s (%d)%s%s" % (stem, k, dot, ext)
                if candidate not in names:
                    name = candidate
                    break
                k += 1
        names.add(name)
        return name


def make_folders(rng, namer, count):
    """A random recursive tree of `count` folders below the tree's top ('' is the top)."""
    folders = [""]
    for _ in range(count):
        # Parents drawn from the newer half lean the tree deeper, as real trees are.
        parent = folders[rng.randrange(len(folders) // 2, len(folders))] if rng.random() < 0.5 \
            else rng.choice(folders)
        name = namer.unique(parent, namer.folder_name())
        folders.append(parent + "/" + name if parent else name)
    return folders


def log_uniform(rng, low, high):
    return int(math.exp(rng.uniform(math.log(low), math.log(high + 1))))


class Content:
    """Cheap, distinct file contents: a shared random pool, sliced at offsets derived from a
    content number, with a stamp of that number at the start of every 64 KiB chunk. Two
    content numbers never give equal bytes; equal numbers always do."""

    def __init__(self, rng, pool_size=1 << 20):
        self.pool = rng.randbytes(pool_size + CHUNK)
        self.pool_size = pool_size

    def stamp(self, cid, k):
        mixed = (cid * 0x9E3779B97F4A7C15 + 1) & MASK64  # a bijection: distinct ids stay distinct
        return struct.pack("<QQ", mixed, (k * 0xC2B2AE3D27D4EB4F + cid) & MASK64)

    def bytes(self, cid, size):
        """The content of number `cid`, `size` bytes long."""
        parts = []
        for k, at in enumerate(range(0, size, CHUNK)):
            n = min(CHUNK, size - at)
            off = (cid * 2654435761 + k * 40503) % self.pool_size
            parts.append((self.stamp(cid, k) + self.pool[off:off + CHUNK - STAMP_BYTES])[:n])
        return b"".join(parts)


def write_file(path, data):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
    finally:
        os.close(fd)


# Each plan is a list of (relative path, size, producer) where producer() gives the bytes.

def plan_scan(rng, scale):
    namer = Namer(rng)
    files = int(200_000 * scale)
    folders = make_folders(rng, namer, max(1, files // 16))
    content = Content(rng, 1 << 16)
    plan = []
    for i in range(files):
        folder = rng.choice(folders)
        size = 0 if rng.random() < 0.02 else log_uniform(rng, 1, 4096)
        name = namer.unique(folder, namer.file_name())
        plan.append((os.path.join(folder, name), size, (content, i + 1, size)))
    return plan


def plan_a(rng, scale):
    namer = Namer(rng)
    target = int(20_000 * scale)
    folders = make_folders(rng, namer, max(1, target // 50))
    content = Content(rng)
    plan = []
    cid = 0

    def place(plan_item, size, same_name_as=None):
        folder = rng.choice(folders)
        name = same_name_as if same_name_as and rng.random() < 0.5 else namer.file_name()
        name = namer.unique(folder, name)
        plan.append((os.path.join(folder, name), size, plan_item))
        return name

    while len(plan) < target:
        cid += 1
        size = log_uniform(rng, 1024, 2 * 1024 * 1024)
        r = rng.random()
        if r < 0.55:  # unique
            place((content, cid, size), size)
        elif r < 0.80:  # a duplicate set of 2 to 4 copies
            name = place((content, cid, size), size)
            for _ in range(rng.randrange(1, 4)):
                place((content, cid, size), size, name)
        else:  # 2 to 4 files of one size, each the base with one random byte changed
            name = place((content, cid, size), size)
            if rng.random() < 0.3:  # the base also has a copy
                place((content, cid, size), size, name)
            for _ in range(rng.randrange(1, 4)):
                at = rng.randrange(size)
                place((content, cid, size, at, rng.randrange(1, 256)), size, name)
    del plan[target:]
    rng.shuffle(plan)  # copies and variants spread over the whole creation order
    return plan


def plan_b(rng, scale):
    namer = Namer(rng)
    files = int(200_000 * scale)
    folders = make_folders(rng, namer, max(1, files // 20))
    content = Content(rng, 1 << 18)
    common = [(4096, 6), (1024, 3), (2048, 2), (8192, 2), (512, 1), (16384, 1)]
    common_weight = sum(w for _, w in common)
    plan = []
    cid = 0
    while len(plan) < files:
        cid += 1
        if rng.random() < 0.25:  # one of a few very common sizes
            pick = rng.uniform(0, common_weight)
            for size, weight in common:
                pick -= weight
                if pick <= 0:
                    break
        else:
            size = log_uniform(rng, 10, 16 * 1024)
        copies = 1
        if rng.random() < 0.08:
            copies += rng.randrange(1, 3)
        name = None
        for _ in range(copies):
            folder = rng.choice(folders)
            name = namer.unique(folder, name if name and rng.random() < 0.5
                                else namer.file_name())
            plan.append((os.path.join(folder, name), size, (content, cid, size)))
    del plan[files:]
    rng.shuffle(plan)
    return plan


def plan_c(rng, scale):
    namer = Namer(rng)
    files = int(3_000 * scale)
    copied = int(300 * scale)
    folders = make_folders(rng, namer, 12)
    content = Content(rng)
    shared = rng.randbytes(60 * 1024)
    plan = []
    for cid in range(1, files - copied + 1):
        for _ in range(2 if cid <= copied else 1):
            folder = rng.choice(folders)
            name = namer.unique(folder, "part_%05d.bin" % rng.randrange(100000))
            plan.append((os.path.join(folder, name), 64 * 1024, (shared, content, cid)))
    rng.shuffle(plan)
    return plan


def produce(plan_item):
    if isinstance(plan_item[0], bytes):  # tree c: the shared head, then 4 KiB of its own
        shared, content, cid = plan_item
        return shared + content.bytes(cid, 4096)
    content, cid, size = plan_item[:3]
    data = content.bytes(cid, size)
    if len(plan_item) == 5:  # one byte changed
        at, flip = plan_item[3], plan_item[4]
        data = bytearray(data)
        data[at] ^= flip
    return data


PLANS = {"scan": plan_scan, "a": plan_a, "b": plan_b, "c": plan_c}


def tree_dir(root, name, scale):
    return os.path.join(root, name if scale == 1 else "%s-x%g" % (name, scale))


def make_tree(root, name, scale):
    path = tree_dir(root, name, scale)
    stamp_path = path + ".stamp"
    partial_path = path + ".partial"
    wanted = {"version": VERSION, "seed": SEED, "tree": name, "scale": scale}
    if os.path.isdir(path) and os.path.exists(stamp_path):
        try:
            with open(stamp_path) as f:
                if json.load(f).get("params") == wanted:
                    print("tree %s: reusing %s" % (name, path), file=sys.stderr)
                    return path
        except (OSError, ValueError):
            pass
    if os.path.exists(path):
        if not (os.path.exists(stamp_path) or os.path.exists(partial_path)):
            sys.exit("make_tree: %s exists and was not made by this script; not touching it"
                     % path)
        shutil.rmtree(path)
    if os.path.exists(stamp_path):
        os.remove(stamp_path)

    rng = random.Random("%d-%s" % (SEED, name))
    plan = PLANS[name](rng, scale)
    total = sum(size for _, size, _ in plan)
    need = total + 4096 * len(plan) * 2 + (512 << 20)  # blocks, inodes and a margin
    free = shutil.disk_usage(root).free
    print("tree %s: %d files, %.2f GB; %.1f GB free" % (name, len(plan), total / 1e9,
                                                         free / 1e9), file=sys.stderr)
    if free < need:
        sys.exit("make_tree: not enough space below %s for tree %s (need %.1f GB)"
                 % (root, name, need / 1e9))

    with open(partial_path, "w") as f:
        f.write("being written by make_tree.py\n")
    start = time.monotonic()
    os.makedirs(path)
    made = set()
    for rel, size, plan_item in plan:
        folder = os.path.dirname(rel)
        if folder and folder not in made:
            os.makedirs(os.path.join(path, folder), exist_ok=True)
            made.add(folder)
        data = produce(plan_item)
        assert len(data) == size, (rel, len(data), size)
        write_file(os.path.join(path, rel), data)
    with open(stamp_path, "w") as f:
        json.dump({"params": wanted, "files": len(plan), "bytes": total}, f)
        f.write("\n")
    os.remove(partial_path)
    print("tree %s: written in %.1f s" % (name, time.monotonic() - start), file=sys.stderr)
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("trees", nargs="*", default=["scan", "a", "b", "c"],
                        help="which trees (scan a b c)")
    parser.add_argument("--root", default="/tmp/twinrake-bench",
                        help="folder the trees are written below (default %(default)s)")
    parser.add_argument("--scale", type=float, default=1.0,
                        help="multiplies the file counts (default 1)")
    args = parser.parse_args()
    for name in args.trees:
        if name not in PLANS:
            parser.error("unknown tree %r" % name)
    os.makedirs(args.root, exist_ok=True)
    for name in args.trees:
        print(make_tree(args.root, name, args.scale))


if __name__ == "__main__":
    main()
