#!/usr/bin/env python3
"""Times the master file table reading on a volume of 1,000,000 files, from a warm image and on one
processor, side by side with the Linux scan of the same files on ext4, in one run.

The volume is a real NTFS volume: mkntfs makes the image and ntfs-3g, mounted, writes every file
into it, as Windows would through its own driver; the same files are made in a folder on the file
system of --dir (ext4 here). Making them takes a few minutes (ntfs-3g writes one file at a time);
both are kept in --dir and reused while this script's tree version matches. Every file is empty
but one in a hundred, which gets a size (sparse on both), so that sizes are added up too.

The commands take turns, one run of each per round, each pinned to one processor with taskset:

  treemeter-ntfs IMAGE no 0 0 0 \\tree     the table read from the image (cached: warm)
  treemeter no 0 0 0 DIR/ext4/tree          the Linux scan of the same files

Before timing, both must count the same entries and bytes. The script prints each command's
median and fastest time and the table reading's median as a share of the Linux scan's.

  sudo python3 bench/ntfs.py --dir /var/tmp/treemeter-ntfs-bench --runs 9

Needs root (for the ntfs-3g mount and /dev/fuse), Debian's ntfs-3g, and taskset (util-linux).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

TOP_FOLDERS = 100
SUBFOLDERS = 10
FILES_PER_FOLDER = 1000
SIZED_EVERY = 100
TREE_VERSION = "1 %d %d %d %d" % (TOP_FOLDERS, SUBFOLDERS, FILES_PER_FOLDER, SIZED_EVERY)
IMAGE_BYTES = 4 << 30


def fill(root):
    """Makes the tree's folders and files below `root`: the same names and sizes every time."""
    os.mkdir(os.path.join(root, "tree"))
    number = 0
    for top in range(TOP_FOLDERS):
        top_path = os.path.join(root, "tree", "folder %03d" % top)
        os.mkdir(top_path)
        for sub in range(SUBFOLDERS):
            folder = os.path.join(top_path, "sub %d" % sub)
            os.mkdir(folder)
            for file in range(FILES_PER_FOLDER):
                path = os.path.join(folder, "file %04d.dat" % file)
                os.mknod(path, 0o644)
                if number % SIZED_EVERY == 0:
                    os.truncate(path, 4096 + number % 100000)
                number += 1


def run(argv, **options):
    return subprocess.run(argv, check=True, **options)


def prepare(folder):
    """The image and the ext4 tree in `folder`, made unless this version of them is there."""
    image = os.path.join(folder, "volume.img")
    ext4 = os.path.join(folder, "ext4")
    mark = os.path.join(folder, "version")
    if os.path.exists(mark) and open(mark).read() == TREE_VERSION:
        return image, ext4
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(ext4)
    started = time.monotonic()
    print("making the ext4 tree in %s ..." % ext4, flush=True)
    fill(ext4)
    with open(image, "wb") as made:
        made.truncate(IMAGE_BYTES)
    run(["mkntfs", "-F", "-f", "-q", image], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    mount = os.path.join(folder, "mount")
    os.mkdir(mount)
    print("making the NTFS volume through ntfs-3g ...", flush=True)
    # In the foreground, so that its end, once it has written everything, can be waited for.
    driver = subprocess.Popen(["ntfs-3g", "-o", "no_detach,noatime", image, mount],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not os.path.ismount(mount):
        if driver.poll() is not None:
            sys.exit("ntfs-3g could not mount %s" % image)
        time.sleep(0.05)
    try:
        fill(mount)
    finally:
        run(["umount", mount])
        driver.wait()
    os.rmdir(mount)
    with open(mark, "w") as done:
        done.write(TREE_VERSION)
    print("made in %.0f s" % (time.monotonic() - started), flush=True)
    return image, ext4


def build():
    run(["cmake", "--preset", "release"], cwd=REPO, stdout=subprocess.DEVNULL)
    run(["cmake", "--build", "--preset", "release", "--target", "treemeter", "treemeter-ntfs"],
        cwd=REPO, stdout=subprocess.DEVNULL)
    binaries = os.path.join(REPO, "build", "release")
    return os.path.join(binaries, "treemeter"), os.path.join(binaries, "treemeter-ntfs")


def last_row(output):
    """The size, size on disk and count columns of a report's last row."""
    row = output.decode("latin-1").rstrip("\r\n").split("\r\n")[-1].split("\t")
    return row[1:4]


def time_once(argv):
    started = time.monotonic()
    result = subprocess.run(argv, stdout=subprocess.PIPE, check=True)
    return time.monotonic() - started, result.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dir", default="/var/tmp/treemeter-ntfs-bench",
                        help="where the image and the ext4 tree are made and kept")
    parser.add_argument("--runs", type=int, default=9, help="timed runs of each command")
    parser.add_argument("--processor", default="0", help="the processor taskset pins them to")
    options = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("ntfs.py mounts the volume with ntfs-3g while making it: run it as root")
    treemeter, treemeter_ntfs = build()
    image, ext4 = prepare(options.dir)
    pin = ["taskset", "-c", options.processor]
    commands = {
        "MFT, image": pin + [treemeter_ntfs, image, "no", "0", "0", "0", "\\tree"],
        "Linux scan, ext4": pin + [treemeter, "no", "0", "0", "0", os.path.join(ext4, "tree")],
    }
    # Warm both, and check that they count alike.
    found = {name: last_row(time_once(argv)[1]) for name, argv in commands.items()}
    if len(set(map(tuple, found.values()))) != 1:
        sys.exit("the two scans do not count alike: %s" % found)
    print("both count %s entries, %s (%s on disk)" % (found["MFT, image"][2],
                                                      found["MFT, image"][0],
                                                      found["MFT, image"][1]))
    times = {name: [] for name in commands}
    for _ in range(options.runs):
        for name, argv in commands.items():
            times[name].append(time_once(argv)[0])
    print("%-18s %9s %9s" % ("one processor", "median", "fastest"))
    for name, measured in times.items():
        print("%-18s %8.3fs %8.3fs" % (name, statistics.median(measured), min(measured)))
    print("MFT / Linux scan, medians: %.2f" % (statistics.median(times["MFT, image"]) /
                                               statistics.median(times["Linux scan, ext4"])))


if __name__ == "__main__":
    main()
