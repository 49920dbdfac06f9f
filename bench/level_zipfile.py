#!/usr/bin/env python3
"""Python's zipfile loading what a loadsim script loads, for bench/run.sh level.

level_zipfile.py names ARCHIVE SCRIPT > NAMES
    the script's file names as the archive spells them (the zip layer finds
    names with letter case ignored; zipfile wants them exact), one a line, in
    the script's order; segment lines and comments left out
level_zipfile.py read ARCHIVE NAMES
    ZipFile(ARCHIVE), then every member NAMES lists read whole, in order,
    timed inside the process: "zipfile: N files, B bytes, T ms (open O ms)"
    on standard error, as loadsim prints its own summary
"""
import sys
import time
import zipfile


def names(archive, script):
    with zipfile.ZipFile(archive) as z:
        exact = {n.lower(): n for n in z.namelist()}
    with open(script) as f:
        for line in f:
            text = line.split("#", 1)[0].strip()
            if not text or text.startswith("segment "):
                continue
            if text.lower() not in exact:
                sys.exit("level_zipfile.py: '%s' is not in %s" % (text, archive))
            print(exact[text.lower()])


def read(archive, listed):
    with open(listed) as f:
        members = f.read().split("\n")[:-1]
    start = time.perf_counter()
    total = 0
    with zipfile.ZipFile(archive) as z:
        opened = time.perf_counter()
        for name in members:
            total += len(z.read(name))
        end = time.perf_counter()
    sys.stderr.write("zipfile: %d files, %d bytes, %.1f ms (open %.1f ms)\n" %
                     (len(members), total, (end - start) * 1e3, (opened - start) * 1e3))


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "names":
        names(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 4 and sys.argv[1] == "read":
        read(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
