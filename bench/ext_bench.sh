#!/usr/bin/env bash
# Deleted-file recovery on ext2, ext3 and ext4 images, against the peers of
# this field on the same image in the same run: PhotoRec (free space, every
# kind), ext4magic, extundelete; and the quick scan against `fls -r`.
# Each image: several hundred files of every category in nested folders,
# written after a checkerboard of small files (so many are fragmented), about
# half of them deleted one by one and one whole folder tree removed.
# Needs root (loop mounts). Usage: bench/ext_bench.sh [build-dir] [work-dir]
# EXT_BENCH_FS picks the images ("ext2:1024 ext4:4096"; kind:block size).
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
work=${2:-/tmp/orvale-ext-bench}
cli=$build/bin/orvale-cli
[ -x "$cli" ] || { echo "no $cli: build orvale-cli first" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "loop mounts need root" >&2; exit 2; }
mkdir -p "$work"
work=$(realpath "$work")
export ORVALE_SUPPORT_DIR=$work/support

# ---- one pool of sample files, made once and reused by every image ----
pool=$work/pool
if [ ! -f "$pool/.done" ]; then
  rm -rf "$pool" && mkdir -p "$pool"
  n=0
  mk() { n=$((n + 1)); echo "$pool/$(printf %03d $n)_$1"; }
  for i in $(seq 1 90); do /usr/bin/convert -size $((200 + i * 13))x$((150 + i * 7)) plasma: -quality $((70 + i % 25)) "$(mk photo$i.jpg)"; done
  for i in $(seq 1 30); do /usr/bin/convert -size $((100 + i * 9))x$((90 + i * 5)) plasma: "$(mk image$i.png)"; done
  for i in $(seq 1 12); do /usr/bin/convert -size $((80 + i * 20))x$((60 + i * 10)) plasma: "$(mk anim$i.gif)"; done
  for i in $(seq 1 12); do /usr/bin/convert -size $((120 + i * 15))x$((90 + i * 9)) plasma: "BMP3:$(mk scan$i.bmp)"; done
  # ImageMagick's policy here refuses to write PDF: Ghostscript makes them from PostScript.
  for i in $(seq 1 15); do
    { echo '%!PS'; echo '/Courier findfont 9 scalefont setfont';
      for k in $(seq 1 $((30 + i * 25))); do echo "40 $((800 - (k % 70) * 11)) moveto (report $i line $k $RANDOM $RANDOM) show"; [ $((k % 70)) = 0 ] && echo showpage; done
      echo showpage; } | ps2pdf - "$(mk report$i.pdf)"
  done
  for i in $(seq 1 15); do ffmpeg -v quiet -f lavfi -i "sine=frequency=$((300 + i * 40)):duration=$((2 + i % 7))" "$(mk song$i.mp3)"; done
  for i in $(seq 1 12); do sox -n "$(mk tone$i.wav)" synth $((1 + i % 4)) sine $((200 + i * 50)); done
  for i in $(seq 1 10); do ffmpeg -v quiet -f lavfi -i "testsrc=duration=$((1 + i % 4)):size=320x240:rate=$((10 + i))" "$(mk clip$i.mp4)"; done
  for i in $(seq 1 15); do head -c $((2000 + i * 3000)) /dev/urandom | base64 > "$pool/t$i.txt"; (cd "$pool" && zip -q "$(basename "$(mk bundle$i.zip)")" "t$i.txt"); rm "$pool/t$i.txt"; done
  for i in $(seq 1 30); do f=$(mk notes$i.txt); for k in $(seq 1 $((20 + i * 40))); do echo "line $k of note $i: $RANDOM $RANDOM"; done > "$f"; done
  for i in $(seq 1 10); do sqlite3 "$(mk data$i.db)" "create table t(a,b); $(for k in $(seq 1 $((50 * i))); do echo "insert into t values($k,'row $k of $i');"; done)"; done
  touch "$pool/.done"
fi
mapfile -t samples < <(ls "$pool" | grep -v '^\.')

folders=(Photos Photos/2023 Photos/2023/Trip Music Music/Live Videos Documents Documents/Work Documents/Work/Old Archive)

# ---- helpers ----
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
# sha256 of every regular file under a folder, one per line.
hashes() { find "$1" -type f -print0 2>/dev/null | xargs -0 -r sha256sum | cut -d' ' -f1 | sort -u; }
exact() { comm -12 <(cut -d' ' -f1 "$truth" | sort -u) <(hashes "$1") | wc -l; }
# Exact recoveries that also carry the original file name.
named() {
  find "$1" -type f -print0 2>/dev/null | xargs -0 -r sha256sum | awk '{ n = $2; sub(".*/", "", n); print $1 " " n }' | sort -u >"$work/got.txt"
  awk '{ n = $2; sub(".*/", "", n); print $1 " " n }' "$truth" | sort -u | comm -12 - "$work/got.txt" | wc -l
}

printf '\n%-6s %7s | %-28s | %-14s | %-20s | %-20s | %-16s\n' fs deleted "orvale exact/named/folder (s)" "photorec (s)" "ext4magic ex/named (s)" "extundelete ex/nm (s)" "quick s vs fls s"
for image in ${EXT_BENCH_FS:-ext2:1024 ext3:1024 ext4:4096}; do
  fs=${image%%:*}
  bs=${image##*:}
  dir=$work/$fs
  rm -rf "$dir" && mkdir -p "$dir/mnt"
  img=$dir/$fs.img
  truncate -s 160M "$img" && mkfs."$fs" -q -F -b "$bs" "$img"
  mount -o loop "$img" "$dir/mnt" || { echo "$fs: loop mount refused" >&2; continue; }
  m=$dir/mnt
  # Small files, every other one deleted: the large files that follow are laid in pieces.
  mkdir -p "$m/filler"
  for i in $(seq 1 600); do head -c $((bs * 3)) /dev/urandom >"$m/filler/f$i"; done
  sync
  for i in $(seq 1 2 600); do rm "$m/filler/f$i"; done
  sync
  truth=$dir/deleted.txt
  : >"$truth"
  i=0
  for s in "${samples[@]}"; do
    folder=${folders[$((i % ${#folders[@]}))]}
    mkdir -p "$m/$folder"
    cp "$pool/$s" "$m/$folder/${s#*_}"
    i=$((i + 1))
  done
  sync
  # Every other file in the kept folders, and the whole Documents/Work tree.
  i=0
  for s in "${samples[@]}"; do
    folder=${folders[$((i % ${#folders[@]}))]}
    f="$folder/${s#*_}"
    if [[ $folder == Documents/Work* ]]; then
      echo "$(sha256sum <"$m/$f" | cut -d' ' -f1) $f" >>"$truth"
    elif [ $((i % 2)) = 1 ]; then
      echo "$(sha256sum <"$m/$f" | cut -d' ' -f1) $f" >>"$truth"
      rm "$m/$f"
      sync
    fi
    i=$((i + 1))
  done
  rm -rf "$m/Documents/Work"
  sync
  umount "$m"
  deleted=$(wc -l <"$truth")

  # orvale: the default (deep) scan with --recover, and its JSON for names and folders.
  rm -rf "$ORVALE_SUPPORT_DIR" "$dir/orvale"
  t=$(now)
  "$cli" scan "$img" --recover "$dir/orvale" --json >"$dir/orvale.json" 2>"$dir/orvale.log"
  ot=$(elapsed "$t")
  oe=$(exact "$dir/orvale")
  on=$(named "$dir/orvale")
  # Exactly recovered files listed under their original folder.
  of=$(python3 - "$dir/orvale.json" "$truth" "$dir/orvale" <<'EOF'
import hashlib, json, os, sys
findings = json.load(open(sys.argv[1]))["files"]
truth = {}
for line in open(sys.argv[2]):
    h, p = line.rstrip("\n").split(" ", 1)
    truth[p] = h
got = set()
for root, _, files in os.walk(sys.argv[3]):
    for f in files:
        got.add((f, hashlib.sha256(open(os.path.join(root, f), "rb").read()).hexdigest()))
print(sum(1 for f in findings if (f["folder"] + f["name"]) in truth and (f["name"], truth[f["folder"] + f["name"]]) in got))
EOF
)
  # PhotoRec over free space, every kind.
  rm -rf "$dir/photorec"
  mkdir -p "$dir/photorec"
  t=$(now)
  (cd "$dir/photorec" && photorec /log /d "$dir/photorec/rec" /cmd "$img" fileopt,everything,enable,freespace,search >/dev/null 2>&1)
  pt=$(elapsed "$t")
  pe=$(exact "$dir/photorec")
  # ext4magic: every deleted file it can find (-M), into a folder tree.
  rm -rf "$dir/ext4magic"
  t=$(now)
  ext4magic "$img" -M -d "$dir/ext4magic" >/dev/null 2>&1
  et=$(elapsed "$t")
  ee=$(exact "$dir/ext4magic")
  en=$(named "$dir/ext4magic")
  # extundelete writes RECOVERED_FILES into its working folder.
  rm -rf "$dir/extundelete"
  mkdir -p "$dir/extundelete"
  t=$(now)
  (cd "$dir/extundelete" && extundelete "$img" --restore-all >/dev/null 2>&1)
  ut=$(elapsed "$t")
  ue=$(exact "$dir/extundelete")
  un=$(named "$dir/extundelete")
  # Quick scan against the sleuth kit's file listing, best of three each.
  best() { local b=999; for _ in 1 2 3; do local s; s=$(now); "$@" >/dev/null 2>&1; local e; e=$(elapsed "$s"); b=$(awk -v a="$b" -v c="$e" 'BEGIN { print (c < a) ? c : a }'); done; echo "$b"; }
  rm -rf "$ORVALE_SUPPORT_DIR"
  qt=$(best "$cli" scan "$img" --quick)
  ft=$(best fls -r "$img")
  printf '%-6s %7s | %5s %5s %5s (%6s) | %5s (%6s) | %5s %5s (%6s) | %5s %5s (%6s) | %6s vs %6s\n' \
    "$fs" "$deleted" "$oe" "$on" "$of" "$ot" "$pe" "$pt" "$ee" "$en" "$et" "$ue" "$un" "$ut" "$qt" "$ft"
done
