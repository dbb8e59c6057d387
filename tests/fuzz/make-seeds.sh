#!/usr/bin/env bash
# Builds the seed corpus of every fuzz target from small real images into
# $1/<target>/ (made at run time, never committed). Tools that are missing
# leave their seeds out; the targets still run from an empty corpus.
set -uo pipefail
out=${1:?usage: make-seeds.sh corpus-dir}
mkdir -p "$out" && out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
mkdir -p "$out"/{fuzz_boot_sectors,fuzz_fat_directory,fuzz_ntfs_record,fuzz_signatures,fuzz_partition_table,fuzz_deep_fat_intake,fuzz_deep_ntfs_record,fuzz_scan_log_config,fuzz_quick_fat_chains,fuzz_quick_ntfs_mft,fuzz_carving_read_ahead}

# slice FILE OFFSET-BYTES LENGTH-BYTES DEST
slice() { dd if="$1" of="$4" bs=1 skip="$2" count="$3" status=none 2>/dev/null || true; }

if command -v mkfs.vfat >/dev/null && command -v mcopy >/dev/null; then
  for bits in 16 32; do
    img=$work/fat$bits.img
    if [ "$bits" = 32 ]; then mkfs.vfat -C -F 32 -s 1 "$img" 40000 >/dev/null; else mkfs.vfat -C -F 16 -s 4 "$img" 16384 >/dev/null; fi
    mmd -i "$img" ::/Folder
    echo "some text" > "$work/a.txt"
    mcopy -i "$img" "$work/a.txt" "::/Folder/A rather long file name.txt"
    mcopy -i "$img" "$work/a.txt" ::/SHORT.TXT
    mdel -i "$img" ::/SHORT.TXT
    slice "$img" 0 512 "$out/fuzz_boot_sectors/fat$bits-boot"
    # The first directory sectors: wherever the entries are, they hold the long name.
    off=$(grep -obUaP "A\x00 \x00r\x00" "$img" | head -1 | cut -d: -f1 2>/dev/null)
    if [ -n "${off:-}" ]; then
      start=$(( off / 512 * 512 ))
      slice "$img" "$start" 2048 "$out/fuzz_fat_directory/fat$bits-dir"
      slice "$img" "$start" 512 "$out/fuzz_boot_sectors/fat$bits-dir"
      { printf '\x00\x01\x00\x00\x00\x00\x00\x00'; dd if="$img" bs=512 skip=$(( start / 512 )) count=8 status=none; } > "$out/fuzz_deep_fat_intake/fat$bits-dir"
    fi
    # The quick engine's volume: the width, the start of the first FAT, the root and the first data.
    reserved=$(od -An -tu2 -j14 -N2 "$img" | tr -d ' ')
    if [ "$bits" = 32 ]; then fatsz=$(od -An -tu4 -j36 -N4 "$img" | tr -d ' '); width='\x01'; fatcopy=16; else fatsz=$(od -An -tu2 -j22 -N2 "$img" | tr -d ' '); width='\x00'; fatcopy=8; fi
    { printf "$width"; dd if="$img" bs=512 skip="$reserved" count="$fatcopy" status=none;
      dd if="$img" bs=512 skip=$(( reserved + 2 * fatsz )) count=64 status=none; } > "$out/fuzz_quick_fat_chains/fat$bits"
  done
fi

if command -v mkntfs >/dev/null; then
  img=$work/ntfs.img
  truncate -s 8M "$img" && mkntfs -F -f -q "$img" >/dev/null 2>&1
  slice "$img" 0 512 "$out/fuzz_boot_sectors/ntfs-boot"
  # The first MFT records: $MFT, $MFTMirr, $LogFile, $Volume, $AttrDef, root.
  mft=$(grep -obUa "FILE0" "$img" | head -1 | cut -d: -f1)
  if [ -n "${mft:-}" ]; then
    for n in 0 1 3 5 6; do
      { printf '\x00'; dd if="$img" bs=1 skip=$(( mft + n * 1024 )) count=1024 status=none; } > "$out/fuzz_ntfs_record/rec$n"
    done
    dd if="$img" of="$out/fuzz_deep_ntfs_record/mft-start" bs=1 skip="$mft" count=16384 status=none
    { head -c 512 "$img"; cat "$out/fuzz_deep_ntfs_record/mft-start"; } > "$out/fuzz_quick_ntfs_mft/boot-and-mft"
  fi
fi

if command -v sfdisk >/dev/null; then
  img=$work/mbr.img
  truncate -s 1M "$img"
  printf 'label: dos\nstart=64, size=128, type=83\nstart=256, size=512, type=5\nstart=320, size=64, type=83\nstart=448, size=64, type=83\n' | sfdisk -q "$img" >/dev/null 2>&1
  # The MBR and the chain of extended boot records up to the last one.
  head -c $(( 449 * 512 )) "$img" > "$out/fuzz_partition_table/mbr-ebr"
  img=$work/gpt.img
  truncate -s 2M "$img"
  printf 'label: gpt\nstart=64, size=1024, name=data\n' | sfdisk -q "$img" >/dev/null 2>&1
  head -c $(( 64 * 512 )) "$img" > "$out/fuzz_partition_table/gpt"
fi

# A scan log index: the folder counter, then one 592-byte record.
{ printf '\x02\x00\x00\x00\x00\x00\x00\x00'; printf '\x05\x00\x00\x00'; head -c 588 /dev/zero; } > "$out/fuzz_scan_log_config/one-record"

# Signature seeds: small real files of the common kinds.
sig=$out/fuzz_signatures
printf '%%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%%%EOF\n' > "$sig/a.pdf"
printf '\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x02\x00\x00\x00\x90wS\xde\x00\x00\x00\x00IEND\xaeB`\x82' > "$sig/a.png"
printf '\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xd9' > "$sig/a.jpg"
if command -v zip >/dev/null; then (cd "$work" && zip -q a.zip a.txt 2>/dev/null && cp a.zip "$sig/"); fi
if command -v sqlite3 >/dev/null; then sqlite3 "$work/a.db" 'create table t(a); insert into t values(1);' && cp "$work/a.db" "$sig/"; fi
if [ -x /usr/bin/convert ]; then
  for ext in gif bmp tif; do /usr/bin/convert -size 16x16 xc:red "$sig/b.$ext" 2>/dev/null; done
fi
cp "$sig"/* "$out/fuzz_carving_read_ahead/" 2>/dev/null
exit 0
