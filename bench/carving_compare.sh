#!/usr/bin/env bash
# Carving benchmark against PhotoRec on one image, in one run.
#
#   bench/carving_compare.sh [files-per-kind] [size-scale] [work-folder]
#
# Builds a corpus with the real tools (ImageMagick, Ghostscript, ffmpeg, sox, zip,
# 7z, gzip, sqlite3; 300 files of every kind and variant by default, about 2 GiB),
# (size-scale 4 by default: pictures, sounds, videos and archives grow with it),
# lays the files at sector boundaries with zero or random slack and gaps, then runs
# the deep scan with recovery (orvale-cli) and PhotoRec on the same image and
# scores byte-exact recoveries per kind. A smaller run: bench/carving_compare.sh 30 1.
set -euo pipefail
N=${1:-300}
S=${2:-4}
W=${3:-/tmp/orvale-carving-bench}
HERE=$(cd "$(dirname "$0")" && pwd)
CLI=${ORVALE_CLI:-$HERE/../build/bin/orvale-cli}
for t in convert ffmpeg sox zip 7z gzip sqlite3 gs python3 photorec; do
  command -v "$t" >/dev/null || { echo "missing tool: $t (run scripts/setup.sh)" >&2; exit 2; }
done
[ -x "$CLI" ] || { echo "build orvale-cli first ($CLI)" >&2; exit 2; }

C=$W/corpus
# A finished corpus of the same size is reused (REBUILD=1 makes it anew).
if [ "${REBUILD:-0}" = 1 ] || [ "$(cat "$W/corpus.done" 2>/dev/null)" != "$N $S" ]; then
  rm -rf "$W" && mkdir -p "$C"
  fresh=1
else
  rm -rf "$W/ours" "$W/pr" "$W/support"
  fresh=0
fi
ff() { ffmpeg -loglevel error -y -f lavfi "$@"; }
text() { # a few hundred to a few thousand words of text, varying with $1
  local i=$1 n=$(( (20 + ($1 * 37) % 400) * S ))
  for ((k = 0; k < n; k++)); do echo "line $k of note $i: recovered text $(( (k * 7919 + i) % 100003 ))"; done
}
pic() { # a photograph-like picture of w x h: a small plasma, scaled up (plasma itself is slow)
  convert -size $(( w / 4 + 8 ))x$(( h / 4 + 8 )) -seed $i plasma:fractal -resize "${w}x${h}!" "$@"
}
make_kind() { # kind index file
  local kind=$1 i=$2 f=$3 w=$(( (64 + ($2 * 53) % 900) * S / 2 )) h=$(( (48 + ($2 * 31) % 700) * S / 2 )) d=$(( (1 + $2 % 5) * S ))
  local t=$W/tmp/$kind.$i; rm -rf "$t"; mkdir -p "$t"
  case $kind in
    jfif.jpg) pic -quality $(( 60 + i % 35 )) "$f" ;;
    progressive.jpg) pic -interlace Plane "$f" ;;
    adobe.jpg) pic -colorspace CMYK "$f" ;;
    dqt.jpg) pic "$t/a.jpg"
       python3 -c 'import sys;b=open(sys.argv[1],"rb").read();n=(b[4]<<8)|b[5];open(sys.argv[2],"wb").write(b[:2]+b[4+n:])' "$t/a.jpg" "$f" ;;
    png) pic "$f" ;;
    gif) w=$(( w / 2 )) h=$(( h / 2 )) pic "$f" ;;
    v3.bmp) w=$(( w / 2 )) h=$(( h / 2 )) pic "bmp3:$f" ;;
    os2.bmp) w=$(( w / 2 )) h=$(( h / 2 )) pic "bmp2:$f" ;;
    v5.bmp) w=$(( w / 2 )) h=$(( h / 2 )) pic "$f" ;;
    tif) w=$(( w / 2 )) h=$(( h / 2 )) pic "$f" ;;
    be.tif) w=$(( w / 2 )) h=$(( h / 2 )) pic -define tiff:endian=msb "$f" ;;
    pdf) { echo '%!PS'; echo '/Helvetica findfont 11 scalefont setfont';
           for ((k = 0; k < 10 + i % 40; k++)); do echo "72 $(( 750 - (k % 60) * 12 )) moveto (page text $i $k) show"; [ $(( k % 60 )) = 59 ] && echo showpage; done; echo showpage; } > "$t/a.ps"
         gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile="$f" "$t/a.ps" ;;
    mp3) ff -i "sine=frequency=$(( 200 + i % 800 )):duration=$d" -metadata title="t$i" -write_id3v1 $(( i % 2 )) "$f" ;;
    bare.mp3) ff -i "sine=frequency=$(( 200 + i % 800 )):duration=$d" -id3v2_version 0 -write_xing 0 "$f" ;;
    ogg) ff -i "sine=frequency=$(( 200 + i % 800 )):duration=$d" -c:a libvorbis "$f" ;;
    wav) sox -n -r 8000 "$f" synth $d sine $(( 200 + i % 800 )) ;;
    avi|mp4|mov|mkv|flv|ts) ff -i "testsrc=duration=$d:size=$(( 64 + i % 5 * 16 ))x$(( 48 + i % 3 * 16 )):rate=10" "$f" ;;
    mpg) ff -i "testsrc=duration=$d:size=96x64:rate=25" "$f" ;;
    zip|docx|odt|epub|jar)
       head -c $(( (1000 + (i * 7717) % 60000) * S * S )) /dev/urandom > "$t/r.bin"; text $i > "$t/n.txt"
       ( cd "$t"
         case $kind in
           zip) zip -q -X "$f" r.bin n.txt ;;
           docx) mkdir -p _rels word; echo '<?xml version="1.0"?><Types/>' > '[Content_Types].xml'; echo '<Relationships/>' > _rels/.rels
                 cp n.txt word/document.xml; zip -q -X "$f" '[Content_Types].xml' _rels/.rels word/document.xml ;;
           odt|epub) [ $kind = odt ] && printf application/vnd.oasis.opendocument.text > mimetype || printf application/epub+zip > mimetype
                 mkdir -p META-INF; echo '<manifest/>' > META-INF/manifest.xml; cp n.txt content.xml
                 zip -q -X -0 "$f" mimetype && zip -q -X -r "$f" content.xml META-INF r.bin ;;
           jar) mkdir -p META-INF; echo 'Manifest-Version: 1.0' > META-INF/MANIFEST.MF; zip -q -X -r "$f" META-INF r.bin ;;
         esac ) ;;
    7z) head -c $(( (1000 + (i * 7717) % 60000) * S * S )) /dev/urandom > "$t/r.bin"; text $i > "$t/n.txt"; (cd "$t" && 7z a -bd "$f" r.bin n.txt >/dev/null) ;;
    gz) text $i > "$t/n.txt"; gzip -c "$t/n.txt" > "$f" ;;
    name.gz) text $i > "$t/n$i.txt"; gzip -k "$t/n$i.txt"; mv "$t/n$i.txt.gz" "$f" ;;
    db) sqlite3 "$f" "create table t(a, b); $(for ((k = 0; k < 20 + i % 300; k++)); do echo "insert into t values($k, 'row $k of $i');"; done)" ;;
    txt) text $i > "$f" ;;
    csv) { echo id,name,amount; for ((k = 0; k < 20 + i % 300; k++)); do echo "$k,item$k,$(( k * i % 997 ))"; done; } > "$f" ;;
    html) { echo '<!DOCTYPE html>'; echo "<html><head><title>page $i</title></head><body>"; text $i | sed 's/$/<br>/'; echo '</body></html>'; } > "$f" ;;
    json) { echo '{'; echo "  \"id\": $i,"; echo '  "lines": ['; text $i | sed 's/.*/    "&",/'; echo '    "end"'; echo '  ]'; echo '}'; } > "$f" ;;
    xml) { echo '<?xml version="1.0" encoding="UTF-8"?>'; echo '<notes>'; text $i | sed 's/.*/  <n>&<\/n>/'; echo '</notes>'; } > "$f" ;;
    sh) { echo '#!/bin/sh'; echo "# job $i"; text $i | sed 's/.*/echo "&"/'; } > "$f" ;;
  esac
}
KINDS="jfif.jpg progressive.jpg adobe.jpg dqt.jpg png gif v3.bmp os2.bmp v5.bmp tif be.tif pdf mp3 bare.mp3 ogg wav avi mp4 mov mkv flv ts mpg zip docx odt epub jar 7z gz name.gz db txt csv html json xml sh"
start=$(date +%s)
if [ $fresh = 1 ]; then
export -f make_kind text ff pic
export W S
for kind in $KINDS; do
  mkdir -p "$C/$kind"
  for ((i = 0; i < N; i++)); do echo "$kind $i $C/$kind/$i.${kind##*.}"; done
done | xargs -P 2 -L 1 bash -c 'make_kind "$0" "$1" "$2"'
echo "corpus: $(find "$C" -type f | wc -l) files, $(du -sh "$C" | cut -f1), made in $(( $(date +%s) - start )) s"
python3 "$HERE/carving_compare.py" lay "$C" "$W/disk.img" "$W/manifest.tsv"
echo "$N $S" > "$W/corpus.done"
fi

export ORVALE_SUPPORT_DIR=$W/support
t0=$(date +%s.%N)
"$CLI" scan "$W/disk.img" --recover "$W/ours" > "$W/ours.log" 2>&1 || echo "orvale-cli exited $?" >&2
t1=$(date +%s.%N)
mkdir -p "$W/pr"
(cd "$W" && photorec /log /d "$W/pr/rec" /cmd "$W/disk.img" fileopt,everything,enable,wholespace,search > "$W/pr.log" 2>&1) || echo "photorec exited $?" >&2
t2=$(date +%s.%N)
python3 "$HERE/carving_compare.py" score "$W/manifest.tsv" "$W/ours" "$W/pr" "$(echo "$t1 - $t0" | bc)" "$(echo "$t2 - $t1" | bc)"
