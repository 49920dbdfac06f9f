#!/usr/bin/env python3
"""Writes the archives the zip tests mount, with the writers a game's data
is packed with: Python's zipfile and Info-ZIP zip. Usage: make_archives.py DIR

DIR/tree holds the files; each archive in DIR holds exactly those files
(directory entries aside), so a test can check every member against them."""
import io
import os
import random
import shutil
import subprocess
import sys
import zipfile

out = sys.argv[1]
tree = os.path.join(out, "tree")
shutil.rmtree(out, ignore_errors=True)
os.makedirs(tree)

rng = random.Random(1234)
words = [bytes(rng.choice(b"abcdefghij klmnop") for _ in range(rng.randint(2, 9))) for _ in range(300)]


def text(size):
    data = bytearray()
    while len(data) < size:
        data += rng.choice(words) + (b"\n" if rng.random() < 0.1 else b" ")
    return bytes(data[:size])


files = {
    "Maps/Level1.DAT": text(100_000),
    "Maps/sub/a.dat": b"hello\n",
    "Sounds/noise.raw": bytes(rng.getrandbits(8) for _ in range(70_000)),
    "Textures/Big File.tex": text(300_000),
    "empty.txt": b"",
    "readme.txt": b"The sample archive.\r\n",
}
for name, data in files.items():
    path = os.path.join(tree, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
names = sorted(files)


def python_archive(name, method, comment=b"", stream=False, dirs=False):
    class Unseekable(io.RawIOBase):  # makes zipfile write data descriptors
        def __init__(self, sink):
            self.sink = sink

        def writable(self):
            return True

        def write(self, b):
            self.sink.write(b)
            return len(b)

    with open(os.path.join(out, name), "wb") as sink:
        target = Unseekable(sink) if stream else sink
        with zipfile.ZipFile(target, "w", method, compresslevel=9 if method else None) as z:
            if dirs:
                for d in ("Maps/", "Maps/sub/", "Sounds/", "Textures/"):
                    z.mkdir(d)
            for n in names:
                z.writestr(n, files[n])
            z.comment = comment


python_archive("py_stored.zip", zipfile.ZIP_STORED, dirs=True)
# A comment holding a stray end-record signature must not be taken for one.
python_archive("py_deflated.zip", zipfile.ZIP_DEFLATED, comment=b"made PK\x05\x06 here")
python_archive("py_descriptors.zip", zipfile.ZIP_DEFLATED, stream=True)


def info_zip(name, *options):
    subprocess.run(["zip", "-q", "-r", *options, os.path.join("..", name), "."], cwd=tree, check=True)


info_zip("iz_deflated.zip", "-9")
info_zip("iz_stored.zip", "-0")
subprocess.run(["zip", "-q", "-z", os.path.join(out, "iz_deflated.zip")],
               input=b"an archive comment\n", check=True)
# Written to a pipe, zip cannot go back to fill in sizes: data descriptors.
with open(os.path.join(out, "iz_streamed.zip"), "wb") as sink:
    piped = subprocess.run(["zip", "-q", "-r", "-", "."], cwd=tree, stdout=subprocess.PIPE, check=True)
    sink.write(piped.stdout)
