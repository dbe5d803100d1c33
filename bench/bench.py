#!/usr/bin/env python3
"""Times Treemeter side by side with du, ncdu and gdu on the same trees, in one run.

The commands take turns (one run of each, then the next round), so that a change in the
machine's load falls on all of them alike. For each tree the script prints the median and the
fastest time of every command, its processor time, its peak memory (resident set, measured in
one more, untimed run), and Treemeter's median as a share of each peer's median: below 1 means
Treemeter was faster.

Trees: a synthetic tree built deterministically (same shape, names, sizes and stamps every time)
and any folders given on the command line. Everything is scanned without crossing into other
file systems (Treemeter "no", du/ncdu/gdu -x), so all tools do the same work.

  python3 bench/bench.py                      # build treemeter, synthetic tree in a temp folder
  python3 bench/bench.py --runs 10 /usr       # also /usr
  python3 bench/bench.py --cold /usr          # drop the page cache before every run (root)
  python3 bench/bench.py --binary build/release/treemeter --tree-dir /var/tmp/tm-tree
  python3 bench/bench.py --workers 1,2,4,8,16 /usr   # also fixed numbers of folder reads in flight
  python3 bench/bench.py --floor 1,16,32 /usr  # also the bare loop of floor.c with 1, 16, 32 threads

Every floor is first run once and must find what the one-thread floor finds in the tree itself.

A file server: --slow-server 5 mirrors the given trees (not the synthetic one) through
bench/slowfs.c, a FUSE file system whose every folder read and attribute lookup waits 5 ms,
mounted afresh for every run so that nothing stays cached in the kernel. The table then also
shows the most folder reads and lookups that each command kept in flight at once. Its listings
carry attributes, as a file server's do; --lookup-per-entry makes every entry a round trip more.

  sudo python3 bench/bench.py --slow-server 5 --runs 5 --workers 16,64,128 --floor 1,16,64 \\
      --windows-binary build/windows/Treemeter.exe /usr/share/doc

The matrix of storages, in one command (root): warm and cold /usr, the file server at 5 ms a
folder read, the same server serving only 8 requests at once, and the server at 1 ms a lookup with
a lookup per entry (both on /usr/share/doc). On each, taking turns: Treemeter's own choice, fixed
numbers of listings in flight from 1 to 128, the bare loop of floor.c with as many threads, gdu,
and warm also ncdu. It prints the choice's time as a share of the best fixed number's, and each
fixed number's as a share of the bare loop's with as many threads, in wall and processor time.

  sudo python3 bench/bench.py --matrix --runs 5

--windows-binary also times Treemeter.exe under wine64 (WINEDEBUG=-all, --wine-prefix), on the
tree's Z:\\ path, and on an empty folder: that time is wine starting the program, printed
subtracted as well. A wine server is kept running for the whole benchmark.

Only the Python standard library, the peers themselves (Debian: coreutils, ncdu, gdu) and, for
peak memory, GNU time (Debian: time); cc for the floor; fuse3 and libfuse3-dev for the slow
server; wine64 for Treemeter.exe.
"""

import argparse
import collections
import contextlib
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
WINE = "/usr/lib/wine/wine64"

# One command to time: its kind is "ours" (a Treemeter build), "peer", "floor" or "start-up"
# (wine starting Treemeter.exe on an empty folder).
Command = collections.namedtuple("Command", "label kind argv")

# What is timed besides the peers, from the command line.
Programs = collections.namedtuple(
    "Programs", "binary other_binary workers_binary workers floor_binary floor_threads "
    "floor_entries windows_binary wine_prefix empty_folder")

# The slow file server mirroring one tree: bench/slowfs.c built at `binary`, mounted at
# `mountpoint`, waiting `delay` ms a round trip; `lookups`: listings carry no attributes; `served`:
# round trips served at once (0: as many as come).
SlowServer = collections.namedtuple("SlowServer", "binary source mountpoint delay lookups served")


def compile_c(source, flags=()):
    """A C file of bench/ compiled into a temp folder of its own."""
    binary = os.path.join(tempfile.mkdtemp(prefix="treemeter-bench-bin-"), source[:-2])
    subprocess.run(["cc", "-O2", "-o", binary, os.path.join(REPO, "bench", source)] + list(flags),
                   check=True)
    return binary


def build_floor():
    """bench/floor.c: the bare system calls of a scan, with a number of threads."""
    return compile_c("floor.c", ["-pthread"])


def build_slowfs():
    """bench/slowfs.c: the slow file server (Debian: fuse3 and libfuse3-dev)."""
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "fuse3"], check=True,
                           capture_output=True, text=True).stdout.split()
    return compile_c("slowfs.c", flags)


def wine_environment(programs):
    return ["env", "WINEDEBUG=-all", "WINEPREFIX=" + programs.wine_prefix]


def windows_few_rows(programs, folder):
    """Treemeter.exe under wine, few rows, on `folder` as wine shows it: on drive Z:."""
    return wine_environment(programs) + [WINE, programs.windows_binary, "no", "1GB", "0", "0",
                                         "Z:" + folder.replace("/", "\\")]


def run_wine_server(programs, option):
    server = os.path.join(os.path.dirname(WINE), "wineserver")
    subprocess.run(wine_environment(programs) + [server, option], check=option != "-k")


def start_wine(programs):
    """A wine server that stays for the whole benchmark (else each run may or may not pay for
    starting one), and a first, untimed run, which creates the prefix when it is new."""
    os.makedirs(programs.wine_prefix, exist_ok=True)
    run_wine_server(programs, "-w")
    run_wine_server(programs, "-p")
    time_once(windows_few_rows(programs, programs.empty_folder))


def commands_for(programs, tree):
    few_rows, row_per_folder = ["no", "1GB", "0", "0", tree], ["no", "0", "0", "0", tree]
    binary, other = programs.binary, programs.other_binary
    commands = [
        Command("treemeter, few rows", "ours", [binary] + few_rows),
        Command("treemeter, row per folder", "ours", [binary] + row_per_folder),
    ]
    commands += [Command("treemeter, %d in flight" % count, "ours",
                         [programs.workers_binary, str(count)] + few_rows)
                 for count in programs.workers]
    if other:
        commands += [
            Command("other build, few rows", "ours", [other] + few_rows),
            Command("other build, row per folder", "ours", [other] + row_per_folder),
        ]
    if programs.windows_binary:
        commands += [
            Command("Treemeter.exe, few rows", "ours", windows_few_rows(programs, tree)),
            Command("Treemeter.exe, empty folder", "start-up",
                    windows_few_rows(programs, programs.empty_folder)),
        ]
    for count in programs.floor_threads:
        threads = "%d thread%s" % (count, "" if count == 1 else "s")
        commands.append(Command("floor, %s" % threads, "floor",
                                [programs.floor_binary, "-t", str(count), tree]))
        commands += [Command("floor, %s, %d a job" % (threads, entries), "floor",
                             [programs.floor_binary, "-t", str(count), "-e", str(entries), tree])
                     for entries in programs.floor_entries]
    return commands + [Command(peer, "peer", peer.split() + [tree]) for peer in PEERS]


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


@contextlib.contextmanager
def mounted(server, counts):
    """`server` mounted afresh, so that nothing is cached in the kernel; on leaving, unmounted,
    and its counts (requests, folder_reads, lookups, peak_folder_reads, peak_lookups) put in
    `counts`. Without a server, nothing."""
    if not server:
        yield
        return
    stats = server.mountpoint + ".counts"
    options = "delay=%d,stats=%s%s,served=%d" % (server.delay, stats,
                                                 ",noplus" if server.lookups else "", server.served)
    process = subprocess.Popen([server.binary, server.source, server.mountpoint, "-f", "-o",
                                options])
    deadline = time.monotonic() + 10
    while not os.path.ismount(server.mountpoint):
        if process.poll() is not None or time.monotonic() > deadline:
            process.kill()
            sys.exit("slowfs did not mount %s" % server.mountpoint)
        time.sleep(0.01)
    try:
        yield
    finally:
        # A program that has just ended may still hold the mount for a moment.
        for _ in range(100):
            if subprocess.run(["fusermount3", "-u", server.mountpoint],
                              stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.1)
        else:
            subprocess.run(["fusermount3", "-u", "-z", server.mountpoint])
        process.wait()
    with open(stats) as file:
        counts.update((name, int(value)) for name, value in map(str.split, file))


def check_floors(commands, server, tree):
    """Every floor must find what the one-thread floor finds in the tree itself, bytes and entries
    alike: a floor that loses or repeats work, or a mirror unlike its source, is not timed."""
    floors = [command for command in commands if command.kind == "floor"]
    if not floors:
        return
    expected = subprocess.run([floors[0].argv[0], tree], capture_output=True, text=True,
                              check=True).stdout
    for command in floors:
        with mounted(server, {}):
            found = subprocess.run(command.argv, capture_output=True, text=True,
                                   check=True).stdout
        if found != expected:
            sys.exit("%s: %s, but %s in %s itself" % (command.label, found.strip(),
                                                      expected.strip(), tree))


def measure(commands, runs, warmup, cold, server):
    """Times, processor times and, on a slow server, the peak folder reads and lookups in flight
    of every run, by command label; and each command's peak memory."""
    times = {command.label: [] for command in commands}
    processor = {command.label: [] for command in commands}
    in_flight = {command.label: [] for command in commands}
    memory = {}
    for _ in range(warmup):
        for command in commands:
            with mounted(server, {}):
                time_once(command.argv)
    for _ in range(runs):
        for command in commands:
            if cold:
                drop_caches()
            counts = {}
            with mounted(server, counts):
                elapsed, used = time_once(command.argv)
            times[command.label].append(elapsed)
            processor[command.label].append(used)
            in_flight[command.label].append((counts.get("peak_folder_reads"),
                                             counts.get("peak_lookups")))
    for command in commands:
        with mounted(server, {}):
            memory[command.label] = peak_memory(command.argv)
    return times, processor, in_flight, memory


def report(title, commands, times, processor, in_flight, memory):
    print()
    print(title)
    labels = [command.label for command in commands]
    medians = {label: statistics.median(times[label]) for label in labels}
    server = in_flight[labels[0]][0][0] is not None
    print("  %-32s %9s %9s %11s %12s%s" % (
        "command", "median", "fastest", "median cpu", "peak memory",
        "  in flight: reads lookups" if server else ""))
    for label in labels:
        peak = "%8.1f MiB" % (memory[label] / 1024.0) if memory[label] else "n/a"
        print("  %-32s %8.3fs %8.3fs %10.3fs %12s%s" % (
            label, medians[label], min(times[label]), statistics.median(processor[label]), peak,
            "  %17d %7d" % tuple(max(run[kind] for run in in_flight[label]) for kind in (0, 1))
            if server else ""))
    ours = [command.label for command in commands if command.kind == "ours"]
    peers = [command.label for command in commands if command.kind == "peer"]
    fastest = min(peers, key=lambda label: medians[label])
    print("  Treemeter median / peer median (below 1: Treemeter faster):")
    print("  %-32s" % "" + "".join("%10s" % label.split()[0] for label in peers) +
          "   fastest peer (%s)" % fastest.split()[0])
    for label in ours:
        ratios = "".join("%10.2f" % (medians[label] / medians[peer]) for peer in peers)
        print("  %-32s%s%10.2f" % (label, ratios, medians[label] / medians[fastest]))
    start_up = [command.label for command in commands if command.kind == "start-up"]
    if start_up:
        scan = medians["Treemeter.exe, few rows"] - medians[start_up[0]]
        print("  Treemeter.exe less wine's start (its median on an empty folder): %.3fs, %.2f of %s"
              % (scan, scan / medians[fastest], fastest.split()[0]))
    floors = [command.label for command in commands if command.kind == "floor"]
    if floors:
        best = min(floors, key=lambda label: medians[label])
        print("  Treemeter median / fastest floor median (%s): " % best + ", ".join(
            "%s %.2f" % (label.split(", ")[1], medians[label] / medians[best])
            for label in ours[:2]))
    if all(memory.values()):
        print("  Treemeter peak memory / smallest peer's: %.2f" %
              (max(memory[label] for label in ours[:2]) / min(memory[label] for label in peers)))
    else:
        print("  Peak memory needs GNU time (Debian package: time).")


# The storages of the matrix: a name, the tree, whether the page cache is dropped before every
# run, and the slow server's delay, lookups and places served at once (None: no server).
Storage = collections.namedtuple("Storage", "name tree cold server")
MATRIX_COUNTS = (1, 2, 4, 8, 16, 32, 64, 128)


def matrix_storages(local_tree, server_tree):
    return [
        Storage("warm %s" % local_tree, local_tree, False, None),
        Storage("cold %s" % local_tree, local_tree, True, None),
        Storage("file server, 5 ms a folder read, %s" % server_tree, server_tree, False, (5, False, 0)),
        Storage("file server, 5 ms, 8 served at once, %s" % server_tree, server_tree, False,
                (5, False, 8)),
        Storage("file server, 1 ms a lookup, a lookup an entry, %s" % server_tree, server_tree,
                False, (1, True, 0)),
    ]


def matrix_commands(programs, storage, tree):
    few_rows, row_per_folder = ["no", "1GB", "0", "0", tree], ["no", "0", "0", "0", tree]
    commands = [Command("choice, few rows", "ours", [programs.binary] + few_rows)]
    if not storage.cold and not storage.server:
        commands.append(Command("choice, row per folder", "ours", [programs.binary] + row_per_folder))
    for count in MATRIX_COUNTS:
        commands.append(Command("fixed %d" % count, "fixed",
                                [programs.workers_binary, str(count)] + few_rows))
        commands.append(Command("bare loop %d" % count, "floor",
                                [programs.floor_binary, "-t", str(count), tree]))
    peers = ["gdu -n -p -x"] + (["ncdu -0 -x -o /dev/null"] if not storage.cold and
                                not storage.server else [])
    return commands + [Command(peer, "peer", peer.split() + [tree]) for peer in peers]


def report_matrix(storage, commands, times, processor):
    medians = {c.label: statistics.median(times[c.label]) for c in commands}
    cpu = {c.label: statistics.median(processor[c.label]) for c in commands}
    print()
    print("%s; load average %.2f:" % (storage.name, os.getloadavg()[0]))
    for command in commands:
        print("  %-26s %8.3fs wall %8.3fs processor" % (command.label, medians[command.label],
                                                        cpu[command.label]))
    fixed = [c.label for c in commands if c.kind == "fixed"]
    best = min(fixed, key=lambda label: medians[label])
    print("  choice / best fixed (%s): %.2f wall, %.2f processor" % (
        best, medians["choice, few rows"] / medians[best], cpu["choice, few rows"] / cpu[best]))
    print("  fixed / bare loop with as many threads, wall and processor:")
    for label in fixed:
        floor = "bare loop " + label.split()[1]
        print("    %-10s %5.2f %5.2f" % (label, medians[label] / medians[floor],
                                         cpu[label] / cpu[floor]))
    for peer in (c.label for c in commands if c.kind == "peer"):
        ratios = ", ".join("%s %.2f" % (label, medians[label] / medians[peer])
                           for label in medians if label.startswith("choice"))
        print("  / %s: %s" % (peer.split()[0], ratios))


def run_matrix(programs, slowfs, runs, local_tree, server_tree):
    for storage in matrix_storages(local_tree, server_tree):
        server = None
        if storage.server:
            delay, lookups, served = storage.server
            server = SlowServer(slowfs, storage.tree, tempfile.mkdtemp(prefix="treemeter-slowfs-"),
                                delay, lookups, served)
        try:
            tree = server.mountpoint if server else storage.tree
            commands = matrix_commands(programs, storage, tree)
            check_floors(commands, server, storage.tree)
            times, processor, _, _ = measure(commands, runs, 0 if storage.cold else 1,
                                             storage.cold, server)
            report_matrix(storage, commands, times, processor)
        finally:
            if server:
                os.rmdir(server.mountpoint)
                if os.path.exists(server.mountpoint + ".counts"):
                    os.remove(server.mountpoint + ".counts")


def counts(text):
    return [int(count) for count in text.split(",") if count]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("trees", nargs="*", help="further folders to measure, such as /usr")
    parser.add_argument("--binary", help="treemeter binary to time (default: build it)")
    parser.add_argument("--other-binary", help="another treemeter build to time alongside, "
                        "such as an earlier version")
    parser.add_argument("--windows-binary", help="also time this Treemeter.exe under wine64")
    parser.add_argument("--wine-prefix", default=os.path.join(REPO, "build", "windows", "wine"),
                        help="the wine prefix for --windows-binary (default: the tests')")
    parser.add_argument("--tree-dir", help="where the synthetic tree is built and kept "
                        "(default: a temp folder removed afterwards)")
    parser.add_argument("--floor", nargs="?", const="1", default="",
                        help="also time bench/floor.c (needs cc), getdents64 and statx alone, "
                        "with these numbers of threads, such as 1,16,32 (default 1)")
    parser.add_argument("--floor-entries", default="",
                        help="also time the floor with each folder's entries described in jobs "
                        "of at most this many, such as 8,32, which any thread may take")
    parser.add_argument("--slow-server", type=int, metavar="MS",
                        help="measure the given trees as mirrored by a slow file server "
                        "(bench/slowfs.c: fuse3, libfuse3-dev, root) that waits MS ms a round "
                        "trip, mounted afresh for every run; no synthetic tree")
    parser.add_argument("--lookup-per-entry", action="store_true",
                        help="with --slow-server: listings carry no attributes, so every entry "
                        "costs a round trip of its own")
    parser.add_argument("--no-synthetic", action="store_true", help="skip the synthetic tree")
    parser.add_argument("--runs", type=int, default=10, help="timed runs of each command")
    parser.add_argument("--warmup", type=int, default=1, help="untimed rounds first (warm only)")
    parser.add_argument("--cold", action="store_true",
                        help="drop the page cache before every run (needs root)")
    parser.add_argument("--matrix", action="store_true",
                        help="the matrix of storages (root): warm and cold --matrix-tree, and the "
                        "slow server on --server-tree at 5 ms, at 5 ms serving 8 at once, and at "
                        "1 ms a lookup; every fixed number from 1 to 128 and the bare loop")
    parser.add_argument("--matrix-tree", default="/usr", help="the local tree of the matrix")
    parser.add_argument("--server-tree", default="/usr/share/doc",
                        help="the tree the matrix's slow server mirrors")
    parser.add_argument("--workers", default="",
                        help="also time treemeter with these fixed numbers of folder reads in "
                        "flight, such as 1,2,4,8,16 (few rows)")
    arguments = parser.parse_args()

    for peer in ("du", "ncdu", "gdu"):
        if not shutil.which(peer):
            sys.exit("%s is not installed (Debian: apt-get install coreutils ncdu gdu)" % peer)
    if (arguments.cold or arguments.slow_server is not None or arguments.matrix) and \
            os.geteuid() != 0:
        sys.exit("--cold, --slow-server and --matrix need root")
    if arguments.matrix:
        built, workers_binary = build_treemeter()
        programs = Programs(
            binary=os.path.abspath(arguments.binary) if arguments.binary else built,
            other_binary=None, workers_binary=workers_binary, workers=[],
            floor_binary=build_floor(), floor_threads=[], floor_entries=[], windows_binary=None,
            wine_prefix=None, empty_folder=None)
        slowfs = build_slowfs()
        print("treemeter: %s; %d runs of each command, alternating; %d CPUs" %
              (programs.binary, arguments.runs, os.cpu_count()))
        try:
            run_matrix(programs, slowfs, arguments.runs, arguments.matrix_tree,
                       arguments.server_tree)
        finally:
            for path in (os.path.dirname(programs.floor_binary), os.path.dirname(slowfs)):
                shutil.rmtree(path)
        return
    if arguments.slow_server is not None and not arguments.trees:
        sys.exit("--slow-server mirrors the trees given, and none is")
    temporaries, mount_points = [], []
    built, workers_binary = build_treemeter()
    floor_threads = counts(arguments.floor)
    programs = Programs(
        binary=os.path.abspath(arguments.binary) if arguments.binary else built,
        other_binary=os.path.abspath(arguments.other_binary) if arguments.other_binary else None,
        workers_binary=workers_binary, workers=counts(arguments.workers),
        floor_binary=build_floor() if floor_threads else None, floor_threads=floor_threads,
        floor_entries=counts(arguments.floor_entries),
        windows_binary=(os.path.abspath(arguments.windows_binary)
                        if arguments.windows_binary else None),
        wine_prefix=os.path.abspath(arguments.wine_prefix),
        empty_folder=tempfile.mkdtemp(prefix="treemeter-bench-empty-"))
    temporaries.append(programs.empty_folder)
    if programs.floor_binary:
        temporaries.append(os.path.dirname(programs.floor_binary))
    slowfs = build_slowfs() if arguments.slow_server is not None else None
    if slowfs:
        temporaries.append(os.path.dirname(slowfs))

    trees = []
    synthetic, temporary = None, False
    if not arguments.no_synthetic and not slowfs:
        synthetic, temporary = prepare_tree(arguments.tree_dir)
        trees.append((synthetic, "synthetic tree, %d files in %d folders" % (FILES, FOLDERS)))
    trees += [(os.path.abspath(tree), "given tree") for tree in arguments.trees]

    mode = "cold cache (page cache dropped before every run)" if arguments.cold else "warm cache"
    if slowfs:
        mode = "slow server, %d ms a round trip%s, mounted afresh for every run, %s" % (
            arguments.slow_server, " and a lookup per entry" if arguments.lookup_per_entry
            else "", mode)
    warmup = 0 if arguments.cold else arguments.warmup
    print("treemeter: %s" % programs.binary)
    if programs.other_binary:
        print("other build: %s" % programs.other_binary)
    if programs.windows_binary:
        print("Treemeter.exe: %s, under %s in %s" % (programs.windows_binary, WINE,
                                                     programs.wine_prefix))
    print("%d runs of each command, alternating, %s; %d CPUs" %
          (arguments.runs, mode, os.cpu_count()))
    try:
        if programs.windows_binary:
            start_wine(programs)
        for tree, description in trees:
            server = None
            if slowfs:
                server = SlowServer(slowfs, tree, tempfile.mkdtemp(prefix="treemeter-slowfs-"),
                                    arguments.slow_server, arguments.lookup_per_entry, 0)
                mount_points.append(server.mountpoint)
            load = os.getloadavg()[0]
            commands = commands_for(programs, server.mountpoint if server else tree)
            check_floors(commands, server, tree)
            results = measure(commands, arguments.runs, warmup, arguments.cold, server)
            report("%s (%s), %s; load average %.2f before, %.2f after:" % (
                tree, description, mode, load, os.getloadavg()[0]), commands, *results)
    finally:
        if programs.windows_binary:
            run_wine_server(programs, "-k")
        if temporary:
            shutil.rmtree(synthetic)
        for path in temporaries:
            shutil.rmtree(path)
        # Not recursive for a mount point: should it still be mounted, it stays.
        for path in mount_points:
            os.rmdir(path)
            if os.path.exists(path + ".counts"):
                os.remove(path + ".counts")


if __name__ == "__main__":
    main()
