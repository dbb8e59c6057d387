#!/usr/bin/env python3
"""Mutation run of orvale-cli under AddressSanitizer and UBSan.

Builds realistic FAT12/16/32, NTFS, exFAT (when mkfs.exfat exists), MBR and GPT
images with the real tools, makes fixed-seed mutants of them (byte flips, zeroed
and copied sectors, truncation, looping FAT chains, absurd sizes and clusters,
broken MFT attributes and runlists, partition entries past the end) and scans
each deep, quick and deep with recovery. It counts crashes, hangs, invalid JSON,
writes outside the destination, changes to the image, and scans slower than ten
times the same scan of the unmutated image, and fails when any is not zero.

Usage: bench/mutate.py [--mutants N] [--seed S] [--build DIR] [--keep DIR]
"""
import argparse
import hashlib
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Scans shorter than this are timed as this long: process start-up under the
# sanitizers varies more than a tenth of it on a shared machine.
TIME_FLOOR = 0.25
SLOWDOWN_LIMIT = 10.0


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw).returncode


def have(tool):
    return shutil.which(tool) is not None


def write_random(path, size, rng):
    with open(path, "wb") as f:
        f.write(bytes(rng.getrandbits(8) for _ in range(size)))


def fat_image(work, name, fat_bits, kib, rng):
    img = os.path.join(work, name)
    opts = ["-F", str(fat_bits)] + (["-s", "1"] if fat_bits == 32 else [])
    if run(["mkfs.vfat", "-C"] + opts + [img, str(kib)]) != 0:
        return None
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    run(["mmd", "-i", img, "::/Photos"], env=env)
    files = []
    for i in range(8):
        src = os.path.join(work, "file_%s_%d.%s" % (name, i, ["jpg", "txt", "bin", "pdf"][i % 4]))
        write_random(src, 1500 + 3000 * i, rng)
        dest = "::/Photos/" if i % 2 else "::/"
        run(["mcopy", "-i", img, src, dest + os.path.basename(src)], env=env)
        files.append(dest + os.path.basename(src))
    for f in files[::2]:
        run(["mdel", "-i", img, f], env=env)
    return img


def ntfs_image(work, rng):
    img = os.path.join(work, "ntfs.img")
    with open(img, "wb") as f:
        f.truncate(6 << 20)
    if run(["mkntfs", "-F", "-f", "-q", img]) != 0:
        return None
    mnt = os.path.join(work, "mnt")
    os.makedirs(mnt, exist_ok=True)
    if run(["ntfs-3g", img, mnt]) == 0:
        os.makedirs(os.path.join(mnt, "Docs"), exist_ok=True)
        for i in range(10):
            p = os.path.join(mnt, "Docs" if i % 2 else "", "note_%d.%s" % (i, ["txt", "jpg", "doc"][i % 3]))
            write_random(p, 400 + 2500 * i, rng)
        run(["sync"])
        for i in range(0, 10, 2):
            os.unlink(os.path.join(mnt, "Docs" if i % 2 else "", "note_%d.%s" % (i, ["txt", "jpg", "doc"][i % 3])))
        run(["umount", mnt])
    else:
        print("mutate: ntfs-3g cannot mount here; the NTFS image holds no files")
    return img


def exfat_image(work):
    if not have("mkfs.exfat"):
        print("mutate: SKIPPED exFAT: mkfs.exfat is not installed (package exfatprogs)")
        return None
    img = os.path.join(work, "exfat.img")
    with open(img, "wb") as f:
        f.truncate(4 << 20)
    return img if run(["mkfs.exfat", img]) == 0 else None


def partitioned_image(work, name, label, volume, rng):
    img = os.path.join(work, name)
    size = os.path.getsize(volume) + (2 << 20)
    with open(img, "wb") as f:
        f.truncate(size)
    sectors = os.path.getsize(volume) // 512
    script = "label: %s\nstart=2048, size=%d, type=%s\n" % (label, sectors, "c" if label == "dos" else "L")
    if subprocess.run(["sfdisk", "-q", img], input=script.encode(), stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL).returncode != 0:
        return None
    with open(volume, "rb") as src, open(img, "r+b") as dst:
        dst.seek(2048 * 512)
        dst.write(src.read())
    return img


# ---- mutations -----------------------------------------------------------

def metadata_offset(data, rng):
    # Most structures live near the start; a quarter of the hits go anywhere.
    span = len(data) if rng.random() < 0.25 else min(len(data), 256 * 1024)
    return rng.randrange(max(1, span))


def byte_flips(data, rng, kind):
    for _ in range(rng.randint(1, 64)):
        data[metadata_offset(data, rng)] ^= 1 << rng.randrange(8)


def zero_sectors(data, rng, kind):
    s = metadata_offset(data, rng) // 512 * 512
    n = rng.randint(1, 16) * 512
    data[s:s + n] = bytes(len(data[s:s + n]))


def copy_sectors(data, rng, kind):
    a = metadata_offset(data, rng) // 512 * 512
    b = metadata_offset(data, rng) // 512 * 512
    n = rng.randint(1, 8) * 512
    chunk = bytes(data[a:a + n])
    data[b:b + len(chunk)] = chunk[:len(data) - b]


def truncate(data, rng, kind):
    cut = rng.randrange(512, len(data))
    if rng.random() < 0.5:
        cut = cut // 512 * 512
    del data[cut:]


def fat_geometry(data, base):
    if len(data) < base + 512:
        return None
    bps, spc, reserved, fats = struct.unpack_from("<HBHB", data, base + 11)
    fat_sectors = struct.unpack_from("<H", data, base + 22)[0] or struct.unpack_from("<I", data, base + 36)[0]
    if bps not in (512, 1024, 2048, 4096) or spc == 0 or fats == 0:
        return None
    return bps, spc, reserved, fats, fat_sectors


def volume_start(data):
    # A partitioned image: the first entry's volume; else the image itself.
    if data[510:512] == b"\x55\xaa" and data[450] not in (0, 0xEE) and struct.unpack_from("<I", data, 454)[0]:
        return struct.unpack_from("<I", data, 454)[0] * 512
    if data[512:520] == b"EFI PART":
        return struct.unpack_from("<Q", data, 1024 + 32)[0] * 512
    return 0


def looping_fat_chain(data, rng, kind):
    base = volume_start(data)
    geo = fat_geometry(data, base)
    if not geo:
        return byte_flips(data, rng, kind)
    bps, spc, reserved, fats, fat_sectors = geo
    fat = base + reserved * bps
    width = {"fat12": 1.5, "fat32": 4}.get(kind, 2)
    cluster = rng.randint(2, 60)
    target = rng.choice([cluster, max(2, cluster - rng.randint(1, 5)), 2])
    if width == 1.5:
        off = fat + cluster * 3 // 2
        if off + 2 > len(data):
            return
        v = struct.unpack_from("<H", data, off)[0]
        v = (v & 0xF) | (target << 4) if cluster & 1 else (v & 0xF000) | target
        struct.pack_into("<H", data, off, v & 0xFFFF)
    else:
        off = fat + cluster * int(width)
        if off + int(width) <= len(data):
            struct.pack_into("<I" if width == 4 else "<H", data, off, target)


def dir_entries(data, rng):
    # Offsets of plausible 8.3 directory entries (deleted or live files).
    found = []
    start = rng.randrange(0, max(1, len(data) - (1 << 20))) // 32 * 32 if rng.random() < 0.2 else 0
    for off in range(start, min(len(data) - 32, start + (4 << 20)), 32):
        attr = data[off + 11]
        if attr in (0x20, 0x10, 0x00) and data[off] not in (0, 0x2E) and all(32 <= c < 127 for c in data[off + 1:off + 8]):
            if data[off + 8:off + 11].isalnum():
                found.append(off)
    return found


def absurd_size(data, rng, kind):
    entries = dir_entries(data, rng)
    if not entries:
        return byte_flips(data, rng, kind)
    for off in rng.sample(entries, min(len(entries), rng.randint(1, 4))):
        struct.pack_into("<I", data, off + 28, rng.choice([0xFFFFFFFF, 0x80000000, rng.getrandbits(32)]))


def absurd_cluster(data, rng, kind):
    entries = dir_entries(data, rng)
    if not entries:
        return byte_flips(data, rng, kind)
    for off in rng.sample(entries, min(len(entries), rng.randint(1, 4))):
        struct.pack_into("<H", data, off + 26, rng.choice([0xFFFF, 0, 1, rng.getrandbits(16)]))
        struct.pack_into("<H", data, off + 20, rng.choice([0xFFFF, 0x0FFF, rng.getrandbits(16)]))


def mft_records(data):
    return [o for o in range(0, len(data) - 1024, 1024) if data[o:o + 4] == b"FILE"]


def broken_mft_attribute(data, rng, kind):
    records = mft_records(data)
    if not records:
        return byte_flips(data, rng, kind)
    for rec in rng.sample(records, min(len(records), rng.randint(1, 6))):
        first = struct.unpack_from("<H", data, rec + 20)[0]
        off = rec + (first if first < 1024 else 56)
        for _ in range(rng.randint(0, 4)):  # walk to a later attribute
            if off + 8 > rec + 1024:
                break
            length = struct.unpack_from("<I", data, off + 4)[0]
            if length == 0 or length > 1024:
                break
            off += length
        if off + 24 > rec + 1024:
            continue
        field = rng.choice([4, 9, 10, 16, 20, 32, 40, 48])
        value = rng.choice([0, 0xFFFF, 0xFFFFFFFF, rng.getrandbits(16)])
        wide = field in (4, 16, 40, 48)
        struct.pack_into("<I" if wide else "<H", data, off + field, value & (0xFFFFFFFF if wide else 0xFFFF))


def broken_runlist(data, rng, kind):
    records = mft_records(data)
    if not records:
        return byte_flips(data, rng, kind)
    for rec in rng.sample(records, min(len(records), 8)):
        body = data[rec:rec + 1024]
        i = body.find(b"\x80\x00\x00\x00")  # $DATA
        if i < 0 or rec + i + 72 > len(data) or body[i + 8] == 0:
            continue
        runs = rec + i + struct.unpack_from("<H", data, rec + i + 32)[0]
        for k in range(rng.randint(1, 6)):
            if runs + k < rec + 1024:
                data[runs + k] = rng.choice([0xFF, 0x11, 0x48, 0x00, rng.getrandbits(8)])
        return


def partition_past_end(data, rng, kind):
    if data[512:520] == b"EFI PART":
        entries = struct.unpack_from("<Q", data, 512 + 72)[0] * 512
        if entries + 128 <= len(data):
            struct.pack_into("<Q", data, entries + 40, rng.choice([0xFFFFFFFFFFFF, len(data) // 512 + 100]))
            return
    if data[510:512] == b"\x55\xaa":
        struct.pack_into("<I", data, 458, rng.choice([0xFFFFFFFF, len(data) // 512 + 1000]))
        if rng.random() < 0.5:
            start = struct.unpack_from("<I", data, 454)[0] * 512
            data[start:start + 512] = bytes(len(data[start:start + 512]))
        return
    byte_flips(data, rng, kind)


MUTATIONS = [byte_flips, zero_sectors, copy_sectors, truncate, looping_fat_chain, absurd_size, absurd_cluster,
             broken_mft_attribute, broken_runlist, partition_past_end]


# ---- scanning --------------------------------------------------------------

def sha(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def scan(cli, image, mode, jail, timeout):
    """Runs one scan; returns (status, seconds, stdout, stderr, destination)."""
    support = os.path.join(jail, "support")
    dest = os.path.join(jail, "dest")
    args = [cli, "scan", image]
    if mode == "quick":
        args += ["--quick", "--json"]
    elif mode == "deep":
        args += ["--json"]
    else:
        args += ["--recover", dest]
    env = dict(os.environ, ORVALE_SUPPORT_DIR=support,
               ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:exitcode=99",
               UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=98")
    t0 = time.monotonic()
    try:
        p = subprocess.run(args, cwd=os.path.join(jail, "cwd"), env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=timeout)
        status, out, err = p.returncode, p.stdout, p.stderr
    except subprocess.TimeoutExpired as e:
        status, out, err = "hang", e.stdout or b"", e.stderr or b""
    return status, time.monotonic() - t0, out, err, dest


def outside_writes(jail, image_name):
    """Anything the scan left outside its destination and support folder."""
    bad = []
    for entry in os.listdir(jail):
        if entry not in ("support", "dest", "cwd", image_name):
            bad.append(entry)
    bad += ["cwd/" + e for e in os.listdir(os.path.join(jail, "cwd"))]
    dest = os.path.realpath(os.path.join(jail, "dest"))
    for top, dirs, files in os.walk(dest):
        for name in dirs + files:
            p = os.path.join(top, name)
            if os.path.islink(p) or not os.path.realpath(p).startswith(dest + os.sep):
                bad.append(p)
    return bad


def fresh_jail(work):
    jail = tempfile.mkdtemp(prefix="jail-", dir=work)
    os.makedirs(os.path.join(jail, "cwd"))
    return jail


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mutants", type=int, default=300)
    ap.add_argument("--seed", type=int, default=22)
    ap.add_argument("--build", default=os.path.join(ROOT, "build-sanitize"))
    ap.add_argument("--keep", help="folder to keep the images of failing mutants in")
    args = ap.parse_args()

    args.build = os.path.abspath(args.build)
    cli = os.path.join(args.build, "bin", "orvale-cli")
    if not os.access(cli, os.X_OK):
        print("mutate: building the sanitizer orvale-cli in %s" % args.build)
        subprocess.check_call(["cmake", "-S", ROOT, "-B", args.build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                               "-DORVALE_SANITIZE=ON", "-DORVALE_BUILD_UI=OFF", "-DORVALE_BUILD_BENCH=OFF"],
                              stdout=subprocess.DEVNULL)
        subprocess.check_call(["cmake", "--build", args.build, "--target", "orvale-cli", "-j2"], stdout=subprocess.DEVNULL)

    work = tempfile.mkdtemp(prefix="orvale-mutate-")
    try:
        rng = random.Random(args.seed)
        bases = {}
        for name, bits, kib in (("fat12", 12, 1440), ("fat16", 16, 16384), ("fat32", 32, 33300)):
            img = fat_image(work, name + ".img", bits, kib, rng)
            if img:
                bases[name] = img
        ntfs = ntfs_image(work, rng)
        if ntfs:
            bases["ntfs"] = ntfs
        exfat = exfat_image(work)
        if exfat:
            bases["exfat"] = exfat
        if "fat16" in bases:
            mbr = partitioned_image(work, "mbr.img", "dos", bases["fat16"], rng)
            if mbr:
                bases["mbr"] = mbr
        if "fat12" in bases:
            gpt = partitioned_image(work, "gpt.img", "gpt", bases["fat12"], rng)
            if gpt:
                bases["gpt"] = gpt
        if not bases:
            print("mutate: no image could be made (dosfstools, mtools, ntfs-3g, fdisk)")
            return 1

        # The unmutated scans: the yardstick for "slower than ten times".
        base_time = {}
        for kind, img in bases.items():
            for mode in ("deep", "quick", "recover"):
                jail = fresh_jail(work)
                shutil.copy(img, os.path.join(jail, "disk.img"))
                status, secs, _, err, _ = scan(cli, os.path.join(jail, "disk.img"), mode, jail, 600)
                if status not in (0, 1):
                    print("mutate: the unmutated %s image fails its %s scan (%s): %s" % (kind, mode, status, err[-400:]))
                    return 1
                base_time[(kind, mode)] = max(secs, TIME_FLOOR)
                shutil.rmtree(jail)
        print("mutate: %d base images (%s), %d mutants, seed %d" % (len(bases), ", ".join(bases), args.mutants, args.seed))

        counts = dict(crash=0, hang=0, invalid_json=0, outside=0, image_changed=0, slow=0)
        worst = 0.0
        kinds = sorted(bases)
        t_start = time.monotonic()
        for i in range(args.mutants):
            kind = kinds[i % len(kinds)]
            mrng = random.Random(args.seed * 1000003 + i)
            data = bytearray(open(bases[kind], "rb").read())
            mutation = MUTATIONS[mrng.randrange(len(MUTATIONS))]
            for _ in range(mrng.choice([1, 1, 1, 2, 3])):
                mutation(data, mrng, kind)
                mutation = MUTATIONS[mrng.randrange(len(MUTATIONS))]
            jail = fresh_jail(work)
            image = os.path.join(jail, "disk.img")
            with open(image, "wb") as f:
                f.write(data)
            digest = sha(image)
            failed = []
            for mode in ("deep", "quick", "recover"):
                limit = base_time[(kind, mode)] * SLOWDOWN_LIMIT
                status, secs, out, err, _ = scan(cli, image, mode, jail, max(60.0, limit * 3))
                worst = max(worst, max(secs, TIME_FLOOR) / base_time[(kind, mode)])
                if status == "hang":
                    counts["hang"] += 1
                    failed.append("%s hang" % mode)
                elif status not in (0, 1, 2, 3) or b"Sanitizer" in err or b"runtime error" in err:
                    counts["crash"] += 1
                    failed.append("%s crash %s: %s" % (mode, status, err.decode(errors="replace")[-600:]))
                elif secs > limit and secs > TIME_FLOOR * SLOWDOWN_LIMIT:
                    counts["slow"] += 1
                    failed.append("%s slow %.2fs vs %.2fs" % (mode, secs, base_time[(kind, mode)]))
                # A scan that could not begin says why on stderr and lists nothing.
                if mode != "recover" and status in (0, 1, 3) and out.strip():
                    try:
                        json.loads(out.decode("utf-8"))
                    except ValueError:
                        counts["invalid_json"] += 1
                        failed.append("%s invalid json" % mode)
                bad = outside_writes(jail, "disk.img")
                if bad:
                    counts["outside"] += 1
                    failed.append("%s wrote outside: %s" % (mode, bad[:3]))
                if sha(image) != digest:
                    counts["image_changed"] += 1
                    failed.append("%s changed the image" % mode)
            if failed:
                sys.stdout.flush()
                print("mutant %d (%s, %s): %s" % (i, kind, mutation.__name__, "; ".join(failed)))
                if args.keep:
                    os.makedirs(args.keep, exist_ok=True)
                    shutil.copy(image, os.path.join(args.keep, "mutant-%d-%s.img" % (i, kind)))
            shutil.rmtree(jail)
            if (i + 1) % 100 == 0:
                print("mutate: %d/%d mutants, %.0f s: %s; slowest %.1fx" % (
                    i + 1, args.mutants, time.monotonic() - t_start, ", ".join("%s %d" % kv for kv in counts.items()),
                    worst), flush=True)

        print("mutate: %d mutants x 3 scans in %.0f s: %s; slowest %.1fx its unmutated image"
              % (args.mutants, time.monotonic() - t_start, ", ".join("%s %d" % kv for kv in counts.items()), worst))
        return 1 if any(counts.values()) else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
