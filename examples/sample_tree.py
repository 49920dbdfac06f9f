#!/usr/bin/env python3
"""sample_tree.py DIR: the files examples/sample.dump opens, and two it does not,
under DIR, for trying segzip build and layout on the sample dump. Each holds
20 to 200 KB of noise that does not deflate, so every member is stored and the
archives' layout (hence the figures in the README) is the same on every run."""
import os
import random
import re
import sys
import zlib

here = os.path.dirname(os.path.abspath(__file__))
names = []
for line in open(os.path.join(here, "sample.dump")):
    m = re.match(r"::OPEN::\(\$[\\/](.*?)\)", line)
    name = m and m.group(1).replace("\\", "/").lower()
    if name and name not in names:
        names.append(name)
names += ["ui/menu/credits.tex", "levels/jungle/geometry.bin"]
for name in names:
    seed = zlib.crc32(name.encode())
    path = os.path.join(sys.argv[1], *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(random.Random(seed).randbytes(20_000 + seed % 180_000))
