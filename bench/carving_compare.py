#!/usr/bin/env python3
"""Lays a carving corpus into a raw image and scores byte-exact recoveries.

  carving_compare.py lay CORPUS IMAGE MANIFEST
  carving_compare.py score MANIFEST OURS_DIR PHOTOREC_DIR OURS_SECONDS PHOTOREC_SECONDS
"""
import hashlib
import os
import random
import sys

SECTOR = 512


def lay(corpus, image, manifest):
    files = sorted(os.path.join(d, f) for d, _, fs in os.walk(corpus) for f in fs)
    rng = random.Random(7)
    rng.shuffle(files)
    with open(image, "wb") as img, open(manifest, "w") as man:
        img.write(bytes(1 << 20))
        for path in files:
            data = open(path, "rb").read()
            start = img.tell() // SECTOR
            img.write(data)
            # The rest of the last sector and a gap: zeros (a fresh card) or old data.
            slack = (-len(data)) % SECTOR + SECTOR * rng.randrange(0, 9)
            img.write(os.urandom(slack) if rng.random() < 0.5 else bytes(slack))
            kind = os.path.basename(os.path.dirname(path))
            man.write(f"{kind}\t{hashlib.sha256(data).hexdigest()}\t{len(data)}\t{start}\n")
        img.write(bytes(1 << 20))
    print(f"image: {len(files)} files, {os.path.getsize(image) >> 20} MiB")


def hashes(folder):
    out = set()
    for d, _, fs in os.walk(folder):
        for f in fs:
            with open(os.path.join(d, f), "rb") as fh:
                out.add(hashlib.sha256(fh.read()).hexdigest())
    return out


def score(manifest, ours_dir, pr_dir, ours_s, pr_s):
    rows = [line.rstrip("\n").split("\t") for line in open(manifest)]
    ours, pr = hashes(ours_dir), hashes(pr_dir)
    kinds = {}
    for kind, digest, _, _ in rows:
        k = kinds.setdefault(kind, [0, 0, 0])
        k[0] += 1
        k[1] += digest in ours
        k[2] += digest in pr
    print("| kind | files | Orvale exact | PhotoRec exact |")
    print("|---|---:|---:|---:|")
    total = [0, 0, 0]
    for kind in sorted(kinds):
        n, o, p = kinds[kind]
        total = [a + b for a, b in zip(total, kinds[kind])]
        print(f"| {kind} | {n} | {o} ({100 * o / n:.0f}%) | {p} ({100 * p / n:.0f}%) |")
    n, o, p = total
    print(f"| all | {n} | {o} ({100 * o / n:.1f}%) | {p} ({100 * p / n:.1f}%) |")
    print(f"time: Orvale deep scan with recovery {float(ours_s):.1f} s, PhotoRec {float(pr_s):.1f} s")


if __name__ == "__main__":
    if sys.argv[1] == "lay":
        lay(*sys.argv[2:5])
    else:
        score(*sys.argv[2:7])
