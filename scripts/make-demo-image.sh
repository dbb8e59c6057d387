#!/usr/bin/env bash
# Makes the demo disk: an MBR image with one FAT32 partition holding folders and
# deleted photos and documents, and files left in its free space without any
# directory entry (only carving finds those). No root needed.
# Usage: scripts/make-demo-image.sh OUTPUT.img
set -euo pipefail
out=${1:?usage: make-demo-image.sh OUTPUT.img}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

convert_bin=/usr/bin/convert
[ -x "$convert_bin" ] || { echo "make-demo-image: ImageMagick is missing (run scripts/setup.sh)" >&2; exit 1; }

# Pictures and documents.
"$convert_bin" -size 640x480 plasma:red-blue "$work/beach.jpg"
"$convert_bin" -size 800x600 gradient:yellow-green -swirl 90 "$work/garden.jpg"
"$convert_bin" -size 320x240 pattern:checkerboard "$work/board.png"
"$convert_bin" -size 400x300 plasma:orange-purple "$work/sunset.gif"
# A small hand-written PDF (ImageMagick's policy here forbids writing PDF).
{
  printf '%%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n'
  printf '2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n'
  printf '3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents 4 0 R >> endobj\n'
  printf '4 0 obj << /Length 44 >> stream\nBT /F1 18 Tf 40 100 Td (Dear reader,) Tj ET\nendstream endobj\n'
  for i in $(seq 1 60); do printf '%% padding line %d of the demo letter\n' "$i"; done
  printf 'trailer << /Root 1 0 R >>\n%%%%EOF\n'
} > "$work/letter.pdf"
for i in $(seq 1 40); do echo "Meeting notes, line $i: the quarterly figures are in the archive." ; done > "$work/notes.txt"
(cd "$work" && mkdir -p zipdir && cp notes.txt zipdir/ && zip -q -r report.zip zipdir)
"$convert_bin" -size 500x375 plasma:green-cyan "$work/lost-holiday.jpg"
"$convert_bin" -size 256x256 radial-gradient:white-black "$work/lost-logo.png"

# The FAT32 volume: 64 MiB, one sector per cluster.
fs="$work/fat32.img"
mkfs.vfat -C -F 32 -s 1 -n DEMO "$fs" 65536 >/dev/null
mmd -i "$fs" ::/Photos ::/Photos/Holiday ::/Documents ::/Old
mcopy -i "$fs" "$work/beach.jpg" ::/Photos/Holiday/BeachHoliday.jpg
mcopy -i "$fs" "$work/garden.jpg" ::/Photos/GardenInMay.jpg
mcopy -i "$fs" "$work/board.png" ::/Photos/Chessboard.png
mcopy -i "$fs" "$work/letter.pdf" ::/Documents/LetterToBank.pdf
mcopy -i "$fs" "$work/notes.txt" ::/Documents/MeetingNotes.txt
mcopy -i "$fs" "$work/report.zip" ::/Old/QuarterlyReport.zip
mcopy -i "$fs" "$work/sunset.gif" ::/Old/SunsetOverSea.gif
# Delete some files and a whole folder.
mdel -i "$fs" ::/Photos/Holiday/BeachHoliday.jpg ::/Documents/LetterToBank.pdf
mdeltree -i "$fs" ::/Old
# Files in the free space, far past the used clusters, with no directory entry.
dd if="$work/lost-holiday.jpg" of="$fs" bs=512 seek=100000 conv=notrunc status=none
dd if="$work/lost-logo.png" of="$fs" bs=512 seek=110000 conv=notrunc status=none

# The disk: an MBR with the volume as its first partition.
rm -f "$out"
truncate -s 80M "$out"
printf 'label: dos\nstart=2048, size=131072, type=c\n' | sfdisk -q "$out"
dd if="$fs" of="$out" bs=512 seek=2048 conv=notrunc status=none
echo "$out"
