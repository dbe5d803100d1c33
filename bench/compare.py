#!/usr/bin/env python3
"""Times treemeter-view comparing two reports of a million rows each, and takes its peak memory.

Writes two reports of the same synthetic tree (the same every time): /bench holding 100 folders
of 100 folders of 100 folders, 1,010,101 rows; in the second one, 1% of the folders grew or
shrank, 0.5% are gone and as many are new. Then runs the viewer on them as a user would, for the
page and for CSV, each --runs times, with GNU time (Debian package time) for the peak resident
memory, and prints the median time and the largest peak. Fails (status 1) when a run takes
--seconds or more, or --mib or more of memory.

  python3 bench/compare.py --viewer build/release/treemeter-view
"""
import argparse
import os
import random
import statistics
import subprocess
import sys
import tempfile

HEADER = "path\ttotal size\tsize on disk\tfile count\tlatest file stamp\r\n"


def size_text(value, unit, label):
    return "%.3f %s" % (value / unit, label)


def binary(value):
    if value >= 2**40:
        return size_text(value, 2**40, "TB")
    return size_text(value, 2**20, "MB") if value < 2**30 else size_text(value, 2**30, "GB")


def decimal(value):
    if value >= 10**12:
        return size_text(value, 10**12, "TiB")
    return size_text(value, 10**6, "MiB") if value < 10**9 else size_text(value, 10**9, "GiB")


def write_report(path, changed):
    """The report of the tree; with `changed`, the second one."""
    rng = random.Random(7)
    lines = []

    def row(name, total, count):
        lines.append("%s\t%s\t%s\t%d\t12/07/26 10:00:00\r\n" %
                     (name, binary(total), decimal(total + 4096 * count), count))

    everything = 0
    for a in range(100):
        in_a = 0
        for b in range(100):
            in_b = 0
            for c in range(100):
                total = rng.randrange(1, 50_000_000)
                fate = rng.random()
                name = "/bench/folder-%02d/sub-%02d/leaf-%02d" % (a, b, c)
                if changed and fate < 0.005:
                    continue  # gone
                if changed and fate < 0.01:
                    name += "-new"  # a new folder where one went
                elif changed and fate < 0.02:
                    total = total * 2 if fate < 0.015 else total // 2
                row(name, total, 40)
                in_b += total
            row("/bench/folder-%02d/sub-%02d" % (a, b), in_b, 4000)
            in_a += in_b
        row("/bench/folder-%02d" % a, in_a, 400000)
        everything += in_a
    row("/bench", everything, 40000000)
    with open(path, "w", newline="") as report:
        report.write("Treemeter v2.0 -- (c) 2026 the Treemeter developers.\r\n"
                     "Generating stats for: /bench\r\n"
                     "Report includes folders equal or greater than 0.000 MB\r\n"
                     "No time filter specified\r\n" + HEADER)
        report.writelines(lines)
    return len(lines)


def measure(command):
    """Seconds and peak resident MiB of one run, its output thrown away."""
    with tempfile.NamedTemporaryFile("r") as stats:
        subprocess.run(["/usr/bin/time", "-f", "%e %M", "-o", stats.name] + command,
                       stdout=subprocess.DEVNULL, check=True)
        seconds, kib = stats.read().split()[-2:]
    return float(seconds), int(kib) / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--viewer", default="build/release/treemeter-view")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--mib", type=float, default=1024.0)
    parser.add_argument("--folder", default=None, help="where to write the reports")
    options = parser.parse_args()
    folder = options.folder or tempfile.mkdtemp(prefix="treemeter-compare-")
    os.makedirs(folder, exist_ok=True)
    before, after = os.path.join(folder, "before.tsv"), os.path.join(folder, "after.tsv")
    rows = write_report(before, False), write_report(after, True)
    print("reports: %d and %d rows, %.0f and %.0f MB" %
          (rows[0], rows[1], os.path.getsize(before) / 1e6, os.path.getsize(after) / 1e6))
    failed = False
    for form in (["before.tsv", "after.tsv"], ["--csv", "before.tsv", "after.tsv"]):
        command = [options.viewer] + [os.path.join(folder, word) if word.endswith(".tsv")
                                      else word for word in form]
        runs = [measure(command) for _ in range(options.runs)]
        seconds = statistics.median(run[0] for run in runs)
        peak = max(run[1] for run in runs)
        within = seconds < options.seconds and peak < options.mib
        failed = failed or not within
        print("treemeter-view %-28s median %.2f s, peak %.0f MiB%s" %
              (" ".join(form), seconds, peak, "" if within else "  OVER THE LIMIT"))
    if not options.folder:
        for path in (before, after):
            os.remove(path)
        os.rmdir(folder)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
