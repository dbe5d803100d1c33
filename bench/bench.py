#!/usr/bin/env python3
"""Times Treemeter side by side with du, ncdu and gdu on the same trees, in one run.

The commands take turns (one run of each, then the next round), so that a change in the
machine's load falls on all of them alike. For each tree the script prints the median and the
fastest time of every command, its processor time, its peak memory (resident set, measured in
one more, untimed run), and Treemeter's median
as a share of each peer's median: below 1 means Treemeter was faster.

Trees: a synthetic tree built deterministically (same shape, names, sizes and stamps every time)
and any folders given on the command line. Everything is scanned without crossing into other
file systems (Treemeter "no", du/ncdu/gdu -x), so all tools do the same work.

  python3 bench/bench.py                      # build treemeter, synthetic tree in a temp folder
  python3 bench/bench.py --runs 10 /usr       # also /usr
  python3 bench/bench.py --cold /usr          # drop the page cache before every run (root)
  python3 bench/bench.py --binary build/release/treemeter --tree-dir /var/tmp/tm-tree
  python3 bench/bench.py --workers 1,2,4,8,16 /usr   # also fixed numbers of folder reads in flight

Only the Python standard library, the peers themselves (Debian: coreutils, ncdu, gdu) and, for
peak memory, GNU time (Debian: time).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The synthetic tree: its shape is fixed by these numbers and the generator's seed.
FOLDERS = 30000
FILES = 300000
LINKS = 1500
SPARSE_FILES = 5
SEED = 20261207
TREE_MARK = ".treemeter-bench-tree"
TREE_VERSION = "1 %d %d %d %d %d" % (FOLDERS, FILES, LINKS, SPARSE_FILES, SEED)


class Generator:
    """A small linear congruential generator: the same numbers on every Python version."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        return self.state >> 33

    def below(self, bound):
        return self.next() % bound

    def unit(self):
        return self.next() / float(1 << 31)


def name_for(rng, prefix, number):
    letters = "abcdefghijklmnopqrstuvwxyz0123456789_-."
    tail = "".join(letters[rng.below(len(letters))] for _ in range(rng.below(24)))
    return "%s%d%s" % (prefix, number, tail)


def build_tree(root):
    """Folders with varied depth and fan-out, files spread unevenly, a few links and a few very
    large sparse files. Every file is sparse (ftruncate), so the tree costs inodes, not data."""
    rng = Generator(SEED)
    folders = [root]
    depths = [0]
    for number in range(1, FOLDERS):
        if rng.unit() < 0.45:
            # Deepen: a child of one of the folders made just before.
            parent = len(folders) - 1 - rng.below(min(8, len(folders)))
        else:
            # Spread: a child of any folder, shallow ones more often.
            parent = int(len(folders) * rng.unit() ** 2)
        if depths[parent] >= 40:
            parent = 0
        path = os.path.join(folders[parent], name_for(rng, "d", number))
        os.mkdir(path)
        folders.append(path)
        depths.append(depths[parent] + 1)
    base_stamp = 1500000000
    for number in range(FILES):
        folder = folders[int(FOLDERS * rng.unit() ** 3)]
        path = os.path.join(folder, name_for(rng, "f", number))
        size = rng.below(1 << rng.below(24))
        descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        os.ftruncate(descriptor, size)
        os.close(descriptor)
        stamp = (base_stamp + rng.below(200000000)) * 1000000000 + rng.below(1000000000)
        os.utime(path, ns=(stamp, stamp))
    for number in range(LINKS):
        folder = folders[rng.below(FOLDERS)]
        target = folders[rng.below(FOLDERS)] if number % 2 else "missing-%d" % number
        path = os.path.join(folder, name_for(rng, "l", number))
        os.symlink(target, path)
        os.utime(path, ns=(base_stamp * 1000000000,) * 2, follow_symlinks=False)
    for number in range(SPARSE_FILES):
        path = os.path.join(folders[rng.below(FOLDERS)], "sparse-%d.img" % number)
        with open(path, "wb") as file:
            file.truncate((1 + rng.below(64)) << 30)
        os.utime(path, (base_stamp, base_stamp))
    with open(os.path.join(root, TREE_MARK), "w") as mark:
        mark.write(TREE_VERSION + "\n")
    os.utime(os.path.join(root, TREE_MARK), (base_stamp, base_stamp))


def prepare_tree(tree_dir):
    """The synthetic tree in `tree_dir` (reused when it is already there), or in a temp folder."""
    if tree_dir:
        mark = os.path.join(tree_dir, TREE_MARK)
        if os.path.exists(mark):
            with open(mark) as file:
                if file.read().strip() == TREE_VERSION:
                    return tree_dir, False
        if os.path.exists(tree_dir) and os.listdir(tree_dir):
            sys.exit("%s is not empty and holds no benchmark tree" % tree_dir)
        os.makedirs(tree_dir, exist_ok=True)
        root, temporary = tree_dir, False
    else:
        root, temporary = tempfile.mkdtemp(prefix="treemeter-bench-"), True
    print("Building the synthetic tree in %s ..." % root, flush=True)
    started = time.monotonic()
    build_tree(root)
    print("  done in %.0f s" % (time.monotonic() - started), flush=True)
    return root, temporary


def build_treemeter():
    """The release build of treemeter, and of treemeter-workers: the same program with the number
    of folder reads in flight as its first argument, where treemeter chooses for itself."""
    subprocess.run(["cmake", "--preset", "release"], cwd=REPO, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "release", "--target", "treemeter",
                    "treemeter-workers", "-j2"], cwd=REPO, check=True, stdout=subprocess.DEVNULL)
    return (os.path.join(REPO, "build", "release", "treemeter"),
            os.path.join(REPO, "build", "release", "treemeter-workers"))


PEERS = ("du -s -x", "ncdu -0 -x -o /dev/null", "gdu -n -p -x")


def build_floor():
    """bench/floor.c, compiled into a temp folder: the bare system calls of a one-thread scan."""
    folder = tempfile.mkdtemp(prefix="treemeter-floor-")
    binary = os.path.join(folder, "floor")
    subprocess.run(["cc", "-O2", "-o", binary, os.path.join(REPO, "bench", "floor.c")],
                   check=True)
    return binary


def commands_for(binary, other_binary, floor_binary, workers_binary, workers, tree):
    commands = [
        ("treemeter, few rows", [binary, "no", "1GB", "0", "0", tree]),
        ("treemeter, row per folder", [binary, "no", "0", "0", "0", tree]),
    ]
    commands += [("treemeter, %d in flight" % count,
                  [workers_binary, str(count), "no", "1GB", "0", "0", tree]) for count in workers]
    if other_binary:
        commands += [
            ("other build, few rows", [other_binary, "no", "1GB", "0", "0", tree]),
            ("other build, row per folder", [other_binary, "no", "0", "0", "0", tree]),
        ]
    if floor_binary:
        commands.append(("floor (bench/floor.c)", [floor_binary, tree]))
    return commands + [(peer, peer.split() + [tree]) for peer in PEERS]


def drop_caches():
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as control:
        control.write("3\n")


def time_once(argv):
    """Wall time and processor time (user + system) in seconds of one run, output discarded."""
    actions = [
        (os.POSIX_SPAWN_OPEN, 0, "/dev/null", os.O_RDONLY, 0),
        (os.POSIX_SPAWN_OPEN, 1, "/dev/null", os.O_WRONLY, 0),
        (os.POSIX_SPAWN_OPEN, 2, "/dev/null", os.O_WRONLY, 0),
    ]
    started = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.perf_counter() - started
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: %s" % " ".join(argv))
    return elapsed, usage.ru_utime + usage.ru_stime


def peak_memory(argv):
    """Peak resident memory in KiB of one untimed run, as GNU time reports it; None without it.
    (wait4 from this script would report at least the script's own size: Linux carries the
    spawning process's peak across exec.)"""
    if not os.path.exists("/usr/bin/time"):
        return None
    with tempfile.NamedTemporaryFile("r") as result:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", result.name] + argv, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(result.read().split()[-1])


def measure(commands, runs, warmup, cold):
    times = {label: [] for label, _ in commands}
    processor = {label: [] for label, _ in commands}
    memory = {}
    for _ in range(warmup):
        for _, argv in commands:
            time_once(argv)
    for _ in range(runs):
        for label, argv in commands:
            if cold:
                drop_caches()
            elapsed, used = time_once(argv)
            times[label].append(elapsed)
            processor[label].append(used)
    for label, argv in commands:
        memory[label] = peak_memory(argv)
    return times, processor, memory


def report(title, commands, times, processor, memory):
    print()
    print(title)
    print("  %-28s %9s %9s %11s %12s" % ("command", "median", "fastest", "median cpu",
                                        "peak memory"))
    medians = {}
    for label, _ in commands:
        medians[label] = statistics.median(times[label])
        peak = "%8.1f MiB" % (memory[label] / 1024.0) if memory[label] else "n/a"
        print("  %-28s %8.3fs %8.3fs %10.3fs %12s" % (
            label, medians[label], min(times[label]), statistics.median(processor[label]), peak))
    ours = [label for label, _ in commands if label not in PEERS and not label.startswith("floor")]
    peers = [label for label, _ in commands if label in PEERS]
    fastest = min(peers, key=lambda label: medians[label])
    print("  Treemeter median / peer median (below 1: Treemeter faster):")
    print("  %-28s" % "" + "".join("%10s" % label.split()[0] for label in peers) +
          "   fastest peer (%s)" % fastest.split()[0])
    for label in ours:
        ratios = "".join("%10.2f" % (medians[label] / medians[peer]) for peer in peers)
        print("  %-28s%s%10.2f" % (label, ratios, medians[label] / medians[fastest]))
    floor = [label for label, _ in commands if label.startswith("floor")]
    if floor:
        print("  Treemeter median / floor median: " + ", ".join(
            "%s %.2f" % (label.split(", ")[1], medians[label] / medians[floor[0]])
            for label in ours[:2]))
    if all(memory.values()):
        print("  Treemeter peak memory / smallest peer's: %.2f" %
              (max(memory[label] for label in ours[:2]) / min(memory[label] for label in peers)))
    else:
        print("  Peak memory needs GNU time (Debian package: time).")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("trees", nargs="*", help="further folders to measure, such as /usr")
    parser.add_argument("--binary", help="treemeter binary to time (default: build it)")
    parser.add_argument("--other-binary", help="another treemeter build to time alongside, "
                        "such as an earlier version")
    parser.add_argument("--tree-dir", help="where the synthetic tree is built and kept "
                        "(default: a temp folder removed afterwards)")
    parser.add_argument("--floor", action="store_true",
                        help="also time bench/floor.c (needs cc): getdents64 and statx alone")
    parser.add_argument("--no-synthetic", action="store_true", help="skip the synthetic tree")
    parser.add_argument("--runs", type=int, default=10, help="timed runs of each command")
    parser.add_argument("--warmup", type=int, default=1, help="untimed rounds first (warm only)")
    parser.add_argument("--cold", action="store_true",
                        help="drop the page cache before every run (needs root)")
    parser.add_argument("--workers", default="",
                        help="also time treemeter with these fixed numbers of folder reads in "
                        "flight, such as 1,2,4,8,16 (few rows)")
    arguments = parser.parse_args()

    for peer in ("du", "ncdu", "gdu"):
        if not shutil.which(peer):
            sys.exit("%s is not installed (Debian: apt-get install coreutils ncdu gdu)" % peer)
    if arguments.cold and os.geteuid() != 0:
        sys.exit("--cold needs root to drop the page cache")
    workers = [int(count) for count in arguments.workers.split(",") if count]
    built, workers_binary = build_treemeter()
    binary = os.path.abspath(arguments.binary) if arguments.binary else built
    other_binary = os.path.abspath(arguments.other_binary) if arguments.other_binary else None
    floor_binary = build_floor() if arguments.floor else None

    trees = []
    synthetic, temporary = None, False
    if not arguments.no_synthetic:
        synthetic, temporary = prepare_tree(arguments.tree_dir)
        trees.append((synthetic, "synthetic tree, %d files in %d folders" % (FILES, FOLDERS)))
    trees += [(os.path.abspath(tree), "given tree") for tree in arguments.trees]

    mode = "cold cache (page cache dropped before every run)" if arguments.cold else "warm cache"
    warmup = 0 if arguments.cold else arguments.warmup
    print("treemeter: %s" % binary)
    if other_binary:
        print("other build: %s" % other_binary)
    print("%d runs of each command, alternating, %s; %d CPUs; load average %.2f" %
          (arguments.runs, mode, os.cpu_count(), os.getloadavg()[0]))
    try:
        for tree, description in trees:
            commands = commands_for(binary, other_binary, floor_binary, workers_binary, workers,
                                    tree)
            times, processor, memory = measure(commands, arguments.runs, warmup, arguments.cold)
            report("%s (%s), %s:" % (tree, description, mode), commands, times, processor,
                   memory)
    finally:
        if temporary:
            shutil.rmtree(synthetic)
        if floor_binary:
            shutil.rmtree(os.path.dirname(floor_binary))


if __name__ == "__main__":
    main()
