#!/usr/bin/env python3
"""Checks a treemeter report against find's view of the same tree.

Usage: crosscheck.py TREEMETER FOLDER

Runs `treemeter no 0 0 0 FOLDER` (a row for every folder) and `find FOLDER -xdev` and compares,
folder by folder, the total bytes, the bytes on disk (each file rounded up to 4096), the entry
count (every entry, "." and ".." included) and the latest file stamp. Symbolic links count as
entries with their stamp but without size (links to folders without stamp either), and are not
followed, as with "no".
"""
import os
import subprocess
import sys
import time
from collections import defaultdict


def find_totals(folder):
    out = subprocess.run(
        ["find", folder, "-xdev", "-mindepth", "1", "-printf", r"%h\0%y\0%s\0%T@\0%p\0"],
        capture_output=True, check=False).stdout.split(b"\0")
    own = defaultdict(lambda: [0, 0, 2, 0.0])  # bytes, on disk, entries, latest stamp
    children = defaultdict(list)
    own[folder.encode()]
    for i in range(0, len(out) - 4, 5):
        parent, kind, size, stamp, path = out[i:i + 5]
        totals = own[parent]
        totals[2] += 1
        if kind == b"d":
            children[parent].append(path)
            own[path]
            continue
        if kind == b"l" and os.path.isdir(path):
            continue  # a link to a folder is a folder entry: no stamp, no size
        totals[3] = max(totals[3], float(stamp))
        if kind != b"l":
            size = int(size)
            totals[0] += size
            totals[1] += -(-size // 4096) * 4096
    result = {}

    def total(path):  # iterative post-order, so deep trees need no deep stack
        stack = [(path, False)]
        while stack:
            node, done = stack.pop()
            if not done:
                stack.append((node, True))
                stack.extend((child, False) for child in children[node])
                continue
            t = list(own[node])
            for child in children[node]:
                c = result[child]
                t[0] += c[0]; t[1] += c[1]; t[2] += c[2]; t[3] = max(t[3], c[3])
            result[node] = t
    total(folder.encode())
    return result


def stamp_text(seconds):
    if seconds == 0:
        return b"01/01/01 00:00:00"  # no file below: the stamp 0, 1601-01-01 UTC
    return time.strftime("%m/%d/%y %H:%M:%S", time.gmtime(int(seconds))).encode()


UNIT_BYTES = {b"MB": 2**20, b"GB": 2**30, b"TB": 2**40, b"MiB": 1e6, b"GiB": 1e9, b"TiB": 1e12}


def shows(size_text, size):
    """True when a size text such as b"1.001 GB" shows `size` bytes to within its last decimal."""
    number, unit = size_text.split()
    return abs(float(number) * UNIT_BYTES[unit] - size) <= 0.0005 * UNIT_BYTES[unit]


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    treemeter, folder = sys.argv[1], sys.argv[2].rstrip("/") or "/"
    report = subprocess.run([treemeter, "no", "0", "0", "0", folder], capture_output=True,
                            env={"TZ": "UTC", "LC_ALL": "C"}).stdout
    expected = find_totals(folder)
    rows = [line.split(b"\t") for line in report.split(b"\r\n")[5:] if b"\t" in line]
    errors = [line for line in report.split(b"\r\n") if line.startswith(b"Error accessing")]
    mismatches = 0
    for path, total, on_disk, count, stamp in rows:
        want = expected.get(path)
        ok = want is not None and int(count) == want[2] and stamp == stamp_text(want[3])
        ok = ok and shows(total, want[0]) and shows(on_disk, want[1])
        if not ok:
            mismatches += 1
            if mismatches <= 10:
                print("MISMATCH", path, total, on_disk, count, "find:", want)
    print(f"{len(rows)} rows, {len(expected)} folders seen by find, {len(errors)} error lines, "
          f"{mismatches} mismatches")
    return 1 if mismatches or len(rows) != len(expected) else 0


if __name__ == "__main__":
    sys.exit(main())
