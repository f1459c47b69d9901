#!/usr/bin/env bash
# Makes the bundled sample: a 16 MiB FAT16 memory card, as a camera and a
# laptop leave one, with photos, documents and a text file, some deleted,
# one folder deleted with its files.
#
# Usage: tools/make_sample.sh [OUTDIR]     (default: samples/ of this tree)
#
# Writes OUTDIR/sample.img.gz (gzip -9n: the same bytes on every run) and
# OUTDIR/sample.manifest (the format of tools/make_fat_images.sh: every file
# with its size, sha256 and, for the deleted ones, whether its data is intact).
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
OUTDIR=${1:-$HERE/../samples}
mkdir -p "$OUTDIR"
OUTDIR=$(cd "$OUTDIR" && pwd)

# shellcheck source=tools/make_fat_images.sh
source "$HERE/make_fat_images.sh" --lib
command -v gzip >/dev/null || { echo "$0: gzip is missing" >&2; exit 1; }

OUT=$OUTDIR
img=$STAGE/sample.img
mkfs.fat -C -F 16 -s 4 -r 512 -i 5EED5A3B "$img" 16384 >/dev/null
volume sample "$img" 0
label "SAMPLE CARD"

md /DCIM /DCIM/100PHOTO /Documents
put /DCIM/100PHOTO/IMG_0001.JPG jpeg 320
put /DCIM/100PHOTO/IMG_0002.JPG jpeg 300
put /DCIM/100PHOTO/IMG_0003.JPG jpeg 280
put /DCIM/100PHOTO/IMG_0004.JPG jpeg 320
put /Screenshot.png png 120
put "/Documents/Project report.docx" docx 0
put "/Documents/Invoice 2021.pdf" pdf 0
put "/shopping list.txt" text 1400
put /readme.txt text 600
md "/Trip 2020"
put "/Trip 2020/beach.jpg" jpeg 300
put "/Trip 2020/itinerary.txt" text 2200

del /DCIM/100PHOTO/IMG_0002.JPG intact
del /DCIM/100PHOTO/IMG_0003.JPG intact
del /Screenshot.png intact
del "/Documents/Project report.docx" intact
del "/shopping list.txt" intact
deltree "/Trip 2020"
finish sample

gzip -9n -c "$img" >"$OUTDIR/sample.img.gz"
