#!/usr/bin/env bash
# Speed of the deep pass against the speed of the reads, in one run on one image:
#
#   bench/perf_compare.sh [IMAGE] [work-folder]
#
# IMAGE defaults to the image of the carving benchmark (bench/carving_compare.sh
# builds it). With the image warm in the page cache it times dd bs=1M, the deep
# scan without and with recovery (TZ unset, as in a desktop session), PhotoRec,
# and the deep scan of the image read at 100 MB/s (a memory card), and prints the
# ratios, byte-exact counts and peak memory.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
IMG=${1:-/tmp/orvale-carving-bench/disk.img}
W=${2:-/tmp/orvale-perf-bench}
CLI=${ORVALE_CLI:-$HERE/../build/bin/orvale-cli}
[ -f "$IMG" ] || { echo "no image $IMG (run bench/carving_compare.sh first)" >&2; exit 2; }
[ -x "$CLI" ] || { echo "build orvale-cli first ($CLI)" >&2; exit 2; }
command -v photorec >/dev/null || { echo "missing photorec (package testdisk)" >&2; exit 2; }
unset TZ
rm -rf "$W" && mkdir -p "$W"
export ORVALE_SUPPORT_DIR=$W/support
bytes=$(stat -c %s "$IMG")
secs() { python3 -c "import sys;print(f'{float(sys.argv[1]):.2f}')" "$1"; }

# Runs a command under /usr/bin/time; sets T (seconds) and M (peak KiB).
timed() {
  /usr/bin/time -f '%e %M' -o "$W/time" "$@" >"$W/out" 2>"$W/err" || true
  read -r T M <"$W/time"
}
# Byte-exact count: recovered files whose hash is one of the image's originals,
# when the carving benchmark left its manifest of hashes beside the image.
exact() {
  local manifest; manifest=$(dirname "$IMG")/manifest.tsv
  [ -f "$manifest" ] || { echo "-"; return; }
  python3 - "$manifest" "$1" <<'PY'
import hashlib, os, sys
want = {}
for line in open(sys.argv[1]):
    parts = line.rstrip("\n").split("\t")
    if len(parts) >= 2: want[parts[1]] = want.get(parts[1], 0) + 1
seen = 0
for root, _, files in os.walk(sys.argv[2]):
    for f in files:
        h = hashlib.sha256(open(os.path.join(root, f), "rb").read()).hexdigest()
        if want.get(h, 0) > 0:
            want[h] -= 1; seen += 1
print(seen)
PY
}

cat "$IMG" >/dev/null  # warm the page cache
timed dd if="$IMG" of=/dev/null bs=1M; dd_t=$T
timed "$CLI" scan "$IMG" --json; scan_t=$T; scan_m=$M
timed "$CLI" scan "$IMG" --recover "$W/ours"; rec_t=$T; rec_m=$M
ours=$(exact "$W/ours")
# What writing those files alone costs on this destination: the floor of any
# recovery, whatever its scan.
timed cp -r "$W/ours" "$W/floor"; floor_t=$T
rm -rf "$W/floor"
# PhotoRec writes its log into the current folder and its files into pr/rec.N.
mkdir -p "$W/pr"
(cd "$W" && timed photorec /log /d "$W/pr/rec" /cmd "$IMG" fileopt,everything,enable,wholespace,search); pr_t=$(cut -d' ' -f1 "$W/time")
[ -n "$(ls -A "$W/pr")" ] || { echo "PhotoRec recovered nothing; its output:" >&2; tail -5 "$W/out" "$W/err" >&2; }
pr=$(exact "$W/pr")
rate() { python3 -c "import sys;print(f'{int(sys.argv[1])/float(sys.argv[2])/1e6:.0f}' if float(sys.argv[2])>0 else 'inf')" "$bytes" "$1"; }
ratio() { python3 -c "import sys;print(f'{float(sys.argv[1])/float(sys.argv[2]):.2f}' if float(sys.argv[2])>0 else '-')" "$1" "$2"; }

echo "image: $IMG ($((bytes / 1048576)) MiB), page cache warm, TZ unset"
printf '%-34s %9s %10s %10s %12s\n' run seconds MB/s "peak KiB" byte-exact
printf '%-34s %9s %10s %10s %12s\n' "dd bs=1M" "$(secs "$dd_t")" "$(rate "$dd_t")" - -
printf '%-34s %9s %10s %10s %12s\n' "deep scan" "$(secs "$scan_t")" "$(rate "$scan_t")" "$scan_m" -
printf '%-34s %9s %10s %10s %12s\n' "deep scan + recovery" "$(secs "$rec_t")" "$(rate "$rec_t")" "$rec_m" "$ours"
printf '%-34s %9s %10s %10s %12s\n' "cp -r of our recovered files" "$(secs "$floor_t")" "$(rate "$floor_t")" - -
printf '%-34s %9s %10s %10s %12s\n' "PhotoRec (wholespace)" "$(secs "$pr_t")" "$(rate "$pr_t")" - "$pr"
echo "deep scan rate / dd rate: $(ratio "$dd_t" "$scan_t")   PhotoRec time / ours with recovery: $(ratio "$pr_t" "$rec_t")"
echo "PhotoRec time / cp -r of the same files (the most any recovery could gain here): $(ratio "$pr_t" "$floor_t")"

# A source limited to 100 MB/s: the scan should run at the source's rate. The
# runs above left gigabytes of recovered files to write back; let that finish
# and warm the image again, so the machine's write-back is not timed as the scan.
rm -rf "$W/ours" "$W/pr"
sync
cat "$IMG" >/dev/null
timed env ORVALE_READ_LIMIT_MBPS=100 "$CLI" scan "$IMG" --json; slow_t=$T
echo "deep scan at a 100 MB/s source: $(secs "$slow_t") s = $(rate "$slow_t") MB/s (source alone: $(secs "$(python3 -c "print($bytes/100e6)")") s)"
