#!/usr/bin/env python3
"""A synthetic game for bench/run.sh game, the same on every run (seeded).

gengame.py OUTDIR writes OUTDIR/tree (about 5,500 files, ~300 MB: per level
geometry, textures, sounds, scripts and music, a shared pool of textures,
sounds and scripts, and interface files) and OUTDIR/game.dump, the load dump of
booting the game and playing its 40 levels in eight worlds: each level opens
its world's pack of shared files, its own files in the order the game asks for
them (not name order) with a few more shared files among them, and the
interface; the front end loads between levels. A tenth of each level's files
are never opened."""
import os
import random
import sys

rng = random.Random(13)
out = sys.argv[1]
tree = os.path.join(out, "tree")
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(3000)]
# Pieces of 4 KB that the files are made of: text, loosely structured binary
# (vertex-like records), and noise that does not compress.
def text_piece():
    line = b" ".join(rng.choice(words) for _ in range(700))
    return line[:4096]
def record_piece():
    base = rng.randrange(1 << 16)
    return b"".join((base + rng.randrange(64)).to_bytes(4, "little") + rng.randbytes(2) + b"\0\0"
                    for _ in range(512))
texts = [text_piece() for _ in range(256)]
records = [record_piece() for _ in range(256)]

def content(kind, size):
    if kind == "noise":
        return rng.randbytes(size)
    pool = texts if kind == "text" else records
    parts = []
    while sum(len(p) for p in parts) < size:
        parts.append(rng.choice(pool))
        parts.append(rng.randbytes(16))  # no two files alike
    return b"".join(parts)[:size]

KINDS = {  # extension: (content, smallest, largest)
    "bin": ("records", 20_000, 200_000),
    "tex": ("records", 10_000, 100_000),
    "wav": ("noise", 20_000, 120_000),
    "ogg": ("noise", 300_000, 900_000),
    "lua": ("text", 1_000, 24_000),
    "fnt": ("records", 8_000, 40_000),
    "cfg": ("text", 500, 4_000),
}

files = []
def add(name):
    kind, low, high = KINDS[name.rsplit(".", 1)[1]]
    files.append(name)
    path = os.path.join(tree, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content(kind, rng.randint(low, high)))
    return name

boot = [add("Config/%s.cfg" % n) for n in ("startup", "input", "video", "audio")]
ui = [add("UI/%s/%s_%02d.%s" % (d, d.lower(), i, e)) for d, e, n in
      (("Fonts", "fnt", 12), ("Menus", "tex", 60), ("Sounds", "wav", 30)) for i in range(n)]
frontend = [add("UI/Music/theme.ogg")] + ui[:40]
hud = ui[40:]
shared = [add("Shared/%s/%s_%03d.%s" % (d, d.lower(), i, e)) for d, e, n in
          (("Textures", "tex", 420), ("Sounds", "wav", 200), ("Scripts", "lua", 80)) for i in range(n)]
# Eight worlds of five levels; a level loads its world's pack of shared files
# (in the pack's own order) and then its own files in the order the game asks
# for them (not name order), with a few files of the common pool in among them.
packs = [rng.sample(shared, 70) for _ in range(8)]
levels = []
for level in range(1, 41):
    own = [add("Levels/Level%02d/%s_%03d.%s" % (level, what, i, e)) for what, e, n in
           (("geometry", "bin", 30), ("texture", "tex", 50), ("sound", "wav", 15), ("script", "lua", 20),
            ("music", "ogg", 1)) for i in range(n)]
    unused = int(len(own) * 0.1)
    order = own[:len(own) - unused]
    rng.shuffle(order)
    for name in rng.sample(shared, 6):
        order.insert(rng.randrange(len(order) + 1), name)
    levels.append(packs[(level - 1) // 5] + order + hud)

lines = ["Booting"]
lines += ["::OPEN::($\\%s)    // %dms" % (n.replace("/", "\\"), rng.randint(0, 40)) for n in boot]
for level, order in enumerate(levels, 1):
    lines.append("::LOADSEG::(frontend)")
    lines += ["::OPEN::($\\%s)    // %dms" % (n.replace("/", "\\"), rng.randint(0, 40)) for n in frontend]
    lines.append("::LOADSEG::(level%02d)" % level)
    lines += ["::OPEN::($\\%s)    // %dms" % (n.replace("/", "\\"), rng.randint(0, 40)) for n in order]
with open(os.path.join(out, "game.dump"), "w", newline="\r\n") as f:
    f.write("\n".join(lines) + "\n")
print("%d files, %.1f MB" % (len(files), sum(os.path.getsize(os.path.join(tree, *n.split("/"))) for n in files) / 1e6))
