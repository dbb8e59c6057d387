#!/usr/bin/env bash
# exFAT recovery benchmark: a card image with several hundred files of every
# category (Unicode names, nested folders, about half deleted, some fragmented,
# one deleted folder tree), written through exfat-fuse on a loop device. The
# quick and the deep scan of orvale-cli and tsk_recover (sleuthkit) recover it
# in the same run; each deleted file counts when it comes back byte for byte
# under its own name and folder. Then the same image with both boot regions
# zeroed. Needs root (loop device, FUSE), exfatprogs, exfat-fuse, sleuthkit.
# Usage: bench/exfat_bench.sh [build-dir] [files]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
files=${2:-480}
cli=$PWD/$build/bin/orvale-cli
for tool in mkfs.exfat mount.exfat-fuse losetup tsk_recover python3 "$cli"; do
  command -v "$tool" >/dev/null || { echo "exfat_bench: SKIPPED: $tool is missing" >&2; exit 2; }
done
work=$(mktemp -d /tmp/exfat-bench-XXXXXX)
dev=""
cleanup() {
  mountpoint -q "$work/mnt" 2>/dev/null && umount "$work/mnt"
  [ -n "$dev" ] && losetup -d "$dev" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home ORVALE_SUPPORT_DIR=$work/support
mkdir -p "$HOME" "$work/mnt"

img=$work/card.img
truncate -s 256M "$img"
mkfs.exfat -L CARD -c 32K "$img" >/dev/null
dev=$(losetup -f --show "$img") || { echo "exfat_bench: SKIPPED: no loop device" >&2; exit 2; }
mount.exfat-fuse "$dev" "$work/mnt"

# Writes the files, deletes about half and one folder tree, and keeps the
# deleted files' contents as the reference (ref/<folder>/<name>).
python3 - "$work/mnt" "$work/ref" "$files" <<'PY'
import os, random, shutil, struct, sys, zipfile, io
mnt, ref, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
rnd = random.Random(16)
def blob(n): return rnd.randbytes(n)
def jpg(n): return b'\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00' + blob(n) + b'\xff\xd9'
def png(n): return b'\x89PNG\r\n\x1a\n' + struct.pack('>I', 13) + b'IHDR' + blob(n)
def pdf(n): return b'%PDF-1.4\n' + blob(n) + b'\n%%EOF\n'
def mp3(n): return b'ID3\x03\x00\x00\x00\x00\x00\x00' + blob(n)
def mp4(n): return struct.pack('>I', 24) + b'ftypisom\x00\x00\x02\x00isomiso2' + blob(n)
def zipf(n):
    b = io.BytesIO()
    with zipfile.ZipFile(b, 'w', zipfile.ZIP_STORED) as z: z.writestr('data.bin', blob(n))
    return b.getvalue()
def txt(n): return ' '.join(rnd.choice(['alpha', 'beta', 'gamma', 'δέλτα', 'данные', '日本語']) for _ in range(n // 6)).encode()
kinds = [('jpg', jpg), ('png', png), ('pdf', pdf), ('mp3', mp3), ('mp4', mp4), ('zip', zipf), ('docx', zipf), ('txt', txt)]
words = ['Été', 'plage', 'Привет', 'мир', '写真', '日本', 'fête', 'naïve', 'report', 'photo', '🎉', 'Ωmega']
folders = ['', 'DCIM', 'DCIM/100CANON', 'DCIM/101CANON', 'Musique', 'Документы', 'Documents/2024/Été',
           '写真/旅行', 'Trip/Day 1', 'Trip/Day 2', 'Trip/Day 2/Evening']
for f in folders: os.makedirs(os.path.join(mnt, f), exist_ok=True)
written = []
for i in range(count):
    ext, make = kinds[i % len(kinds)]
    folder = folders[i % len(folders)]
    name = '%s %s %03d.%s' % (rnd.choice(words), rnd.choice(words), i, ext)
    size = rnd.choice([300, 2000, 9000, 40000, 120000, 400000])
    data = make(size)
    path = os.path.join(folder, name)
    if i % 12 == 5:
        # Written in two halves around the next file: a FAT chain.
        with open(os.path.join(mnt, path), 'wb') as fh: fh.write(data[:len(data) // 2])
        os.sync()
        spacer = os.path.join(folder, 'spacer %03d.bin' % i)
        with open(os.path.join(mnt, spacer), 'wb') as fh: fh.write(blob(70000))
        written.append((spacer, None))
        os.sync()
        with open(os.path.join(mnt, path), 'ab') as fh: fh.write(data[len(data) // 2:])
    else:
        with open(os.path.join(mnt, path), 'wb') as fh: fh.write(data)
    written.append((path, data))
    os.sync()
deleted = []
for idx, (path, data) in enumerate(written):
    if data is not None and not path.startswith('Trip/') and idx % 2 == 1:
        os.remove(os.path.join(mnt, path)); deleted.append((path, data))
deleted += [(p, d) for p, d in written if p.startswith('Trip/') and d is not None]
shutil.rmtree(os.path.join(mnt, 'Trip'))
os.sync()
for path, data in deleted:
    os.makedirs(os.path.join(ref, os.path.dirname(path)), exist_ok=True)
    with open(os.path.join(ref, path), 'wb') as fh: fh.write(data)
print('files written %d, deleted %d (fragmented among them %d)' % (
    sum(1 for _, d in written if d is not None), len(deleted),
    sum(1 for p, _ in deleted if int(p.rsplit(' ', 1)[1].split('.')[0]) % 12 == 5)))
PY
sync
umount "$work/mnt"
losetup -d "$dev"; dev=""
zeroed=$work/zeroed.img
cp "$img" "$zeroed"
dd if=/dev/zero of="$zeroed" bs=512 count=24 conv=notrunc status=none

now() { date +%s.%N; }
# Counts reference files recovered byte for byte with name and folder.
score_orvale() {  # json recover-dir
  python3 - "$work/ref" "$1" "$2" <<'PY'
import hashlib, json, os, sys
ref, js, out = sys.argv[1:4]
sha = lambda p: hashlib.sha256(open(p, 'rb').read()).hexdigest()
saved = {}
for root, _, fs in os.walk(out):
    for f in fs: saved.setdefault(sha(os.path.join(root, f)), set()).add(f)
found = {(f['folder'].strip('/'), f['name']) for f in json.load(open(js))['files']}
ok = 0
for root, _, fs in os.walk(ref):
    for f in fs:
        folder = os.path.relpath(root, ref); folder = '' if folder == '.' else folder
        base, ext = os.path.splitext(f)
        names = saved.get(sha(os.path.join(root, f)), set())
        if (folder, f) in found and any(n == f or (n.startswith(base + '(') and n.endswith(ext)) for n in names): ok += 1
print(ok)
PY
}
score_tsk() {  # recover-dir
  python3 - "$work/ref" "$1" <<'PY'
import filecmp, os, sys
ref, out = sys.argv[1:3]
ok = 0
for root, _, fs in os.walk(ref):
    for f in fs:
        p = os.path.join(out, os.path.relpath(os.path.join(root, f), ref))
        if os.path.isfile(p) and filecmp.cmp(p, os.path.join(root, f), shallow=False): ok += 1
print(ok)
PY
}
total=$(find "$work/ref" -type f | wc -l)
row() { printf '| %-34s | %6s / %-4s | %8.2f s |\n' "$1" "$2" "$total" "$3"; }
run_orvale() {  # label image extra-args
  local out=$work/out-$RANDOM t0 t1
  t0=$(now)
  "$cli" scan "$2" $3 --json --recover "$out" > "$out.json" 2>/dev/null || true
  t1=$(now)
  row "$1" "$(score_orvale "$out.json" "$out")" "$(echo "$t1 - $t0" | bc)"
}
run_tsk() {  # label image
  local out=$work/tsk-$RANDOM t0 t1
  mkdir -p "$out"
  t0=$(now)
  tsk_recover "$2" "$out" >/dev/null 2>&1 || true
  t1=$(now)
  row "$1" "$(score_tsk "$out")" "$(echo "$t1 - $t0" | bc)"
}
echo
echo "| run                                | byte-exact with name+folder | time |"
echo "|------------------------------------|---------------|------------|"
run_orvale "orvale-cli --quick" "$img" "--quick"
run_orvale "orvale-cli (deep)" "$img" ""
run_tsk "tsk_recover" "$img"
run_orvale "orvale-cli (deep), boot regions zeroed" "$zeroed" ""
run_tsk "tsk_recover, boot regions zeroed" "$zeroed"
