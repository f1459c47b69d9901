#!/usr/bin/env bash
# Draws the application's image resources with ImageMagick and writes them
# under app/resources/image/ together with the resource file that compiles
# them in. The pictures are committed; run this again only to change them.
#
# Every picture is drawn on a 256 (or 128) unit canvas and scaled down once,
# which gives clean anti-aliased edges at the small sizes shown on screen.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="$ROOT/app/resources/image"
QRC="$ROOT/app/resources/resources.qrc"
FONT="${TESSAROO_ICON_FONT:-/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf}"

command -v convert >/dev/null || { echo "make_icons.sh: ImageMagick's convert is needed" >&2; exit 1; }
[ -f "$FONT" ] || { echo "make_icons.sh: font $FONT not found (set TESSAROO_ICON_FONT)" >&2; exit 1; }

mkdir -p "$OUT/FileIcon"

# One palette for the whole set: the window's dark blue and one colour per kind.
BRAND="#1E3A5F"
ACCENT="#2F6FD0"
GREEN="#2E9E6A"
PHOTO="#E8793A"
MUSIC="#8E5BD0"
VIDEO="#D94A4A"
OFFICE="#2F80ED"
ARCHIVE="#C99A2E"
OTHER="#6B7785"
DRIVE="#56657A"

# PNGs without time stamps, so that drawing again gives the same bytes.
PNGOPTS=(-strip -define png:exclude-chunks=date,time)

# draw <out> <design size> <out size> <convert drawing arguments...>
draw() {
    local out="$1" design="$2" size="$3"
    shift 3
    convert -size "${design}x${design}" xc:none "$@" -resize "${size}x${size}" "${PNGOPTS[@]}" "PNG32:$out"
}

# --- kinds of file (page 1 tiles, 64 px) ---------------------------------------
tile() { TILE=(-fill "$1" -stroke none -draw "roundrectangle 16,16 240,240 44,44"); }

tile "$PHOTO"
draw "$OUT/photo.png" 256 64 "${TILE[@]}" \
    -fill none -stroke white -strokewidth 14 -draw "roundrectangle 52,64 204,192 16,16" \
    -fill white -stroke none -draw "polygon 60,184 112,116 146,160 168,136 196,184" \
    -draw "circle 164,100 164,118"
tile "$MUSIC"
draw "$OUT/music.png" 256 64 "${TILE[@]}" \
    -fill white -stroke none \
    -draw "ellipse 96,180 28,21 0,360" -draw "ellipse 176,160 28,21 0,360" \
    -draw "rectangle 112,76 124,180" -draw "rectangle 192,56 204,160" \
    -draw "polygon 112,76 204,56 204,84 112,104"
tile "$VIDEO"
draw "$OUT/video.png" 256 64 "${TILE[@]}" \
    -fill white -stroke none -draw "roundrectangle 44,80 170,176 14,14" \
    -draw "polygon 164,128 214,94 214,162"
tile "$OFFICE"
draw "$OUT/document.png" 256 64 "${TILE[@]}" \
    -fill white -stroke none -draw "polygon 72,44 156,44 188,76 188,212 72,212" \
    -fill "#A9C8F5" -draw "polygon 156,44 156,76 188,76" \
    -fill "$OFFICE" -draw "rectangle 94,106 166,118" -draw "rectangle 94,136 166,148" \
    -draw "rectangle 94,166 142,178"
tile "$ARCHIVE"
draw "$OUT/archive.png" 256 64 "${TILE[@]}" \
    -fill white -stroke none -draw "roundrectangle 60,96 196,208 10,10" \
    -draw "roundrectangle 48,58 208,94 10,10" \
    -fill "$ARCHIVE" -draw "roundrectangle 104,118 152,134 6,6" \
    -draw "rectangle 122,96 134,110" -draw "rectangle 122,142 134,154" -draw "rectangle 122,162 134,174"
tile "$OTHER"
draw "$OUT/other.png" 256 64 "${TILE[@]}" \
    -fill white -stroke none -draw "circle 80,128 80,148" -draw "circle 128,128 128,148" \
    -draw "circle 176,128 176,148"

# --- title-bar buttons (white on the dark strip, 20 px) ---------------------------
draw "$OUT/close.png" 256 20 -fill none -stroke white -strokewidth 26 -draw "stroke-linecap round" \
    -draw "line 70,70 186,186" -draw "line 186,70 70,186"
draw "$OUT/minimize.png" 256 20 -fill none -stroke white -strokewidth 26 -draw "stroke-linecap round" \
    -draw "line 66,176 190,176"
draw "$OUT/help.png" 256 20 -fill none -stroke white -strokewidth 22 -draw "circle 128,128 128,22" \
    -stroke none -fill white -font "$FONT" -pointsize 150 -gravity center -annotate +0+6 "?"
draw "$OUT/about.png" 256 20 -fill none -stroke white -strokewidth 22 -draw "circle 128,128 128,22" \
    -stroke none -fill white -draw "circle 128,78 128,94" -draw "roundrectangle 114,112 142,190 8,8"
draw "$OUT/support.png" 256 20 -fill none -stroke white -strokewidth 22 \
    -draw "roundrectangle 26,40 230,180 40,40" -stroke none -fill white \
    -draw "polygon 60,170 60,232 120,176" \
    -draw "circle 84,110 84,126" -draw "circle 128,110 128,126" -draw "circle 172,110 172,126"

# --- disks and partitions (tree rows, 48 px drawn for 24 px shown) --------------
draw "$OUT/physical_drive.png" 256 48 -stroke none \
    -fill "$DRIVE" -draw "roundrectangle 16,64 240,192 26,26" \
    -fill "#3E4A5A" -draw "roundrectangle 16,150 240,192 18,18" -draw "rectangle 16,150 240,170" \
    -fill "#7D8CA0" -draw "rectangle 40,96 150,108" -draw "rectangle 40,118 120,130" \
    -fill "#54D38A" -draw "circle 206,171 206,182"
draw "$OUT/drive.png" 256 48 -stroke none \
    -fill "$ACCENT" -draw "roundrectangle 24,80 232,184 22,22" \
    -fill "#1F56A8" -draw "roundrectangle 24,148 232,184 18,18" -draw "rectangle 24,148 232,162" \
    -fill "#CFE0FA" -draw "rectangle 48,104 156,116" \
    -fill white -draw "circle 204,166 204,174"

# --- page headers (64 px) and the question dialog (48 px) -------------------------
draw "$OUT/scan_files.png" 256 64 -stroke none -fill "$ACCENT" -draw "roundrectangle 16,16 240,240 44,44" \
    -fill white -draw "polygon 56,40 136,40 164,68 164,200 56,200" -fill "#A9C8F5" -draw "polygon 136,40 136,68 164,68" \
    -fill "$ACCENT" -draw "rectangle 76,92 144,102" -draw "rectangle 76,118 128,128" \
    -fill none -stroke "$BRAND" -strokewidth 18 -draw "circle 150,150 150,196" \
    -draw "stroke-linecap round" -draw "line 184,184 218,218" \
    -stroke none -fill "#FFFFFF80" -draw "circle 150,150 150,187"
draw "$OUT/recover_file.png" 256 64 -stroke none -fill "$GREEN" -draw "roundrectangle 16,16 240,240 44,44" \
    -fill white -draw "polygon 64,40 148,40 180,72 180,216 64,216" -fill "#B7E4CF" -draw "polygon 148,40 148,72 180,72" \
    -fill none -stroke "$GREEN" -strokewidth 16 -draw "arc 84,96 160,172 200,500" \
    -stroke none -fill "$GREEN" -draw "polygon 66,132 102,132 84,160"
draw "$OUT/question.png" 256 48 -stroke none -fill "$ACCENT" -draw "circle 128,128 128,16" \
    -fill white -font "$FONT" -pointsize 170 -gravity center -annotate +0+8 "?"
# The program's own picture: a drive under a circular "bring back" arrow.
draw "$OUT/logo.png" 256 64 -stroke none -fill "$BRAND" -draw "roundrectangle 16,16 240,240 44,44" \
    -fill "$ACCENT" -draw "roundrectangle 36,166 220,224 16,16" \
    -fill "#1F56A8" -draw "roundrectangle 36,200 220,224 12,12" -draw "rectangle 36,200 220,210" \
    -fill "#54D38A" -draw "circle 194,186 194,195" \
    -fill none -stroke white -strokewidth 18 -draw "arc 74,30 182,138 150,385" \
    -stroke none -fill white -draw "polygon 202,120 154,92 157,142"

# --- file-type icons of the results page (32 px) ---------------------------------
# the page outline with its folded corner, shared by every file-type icon
PAGE=(-stroke "#B8C2CC" -strokewidth 4 -fill white -draw "polygon 28,8 84,8 108,32 108,122 28,122"
    -stroke none -fill "#DDE3EA" -draw "polygon 84,8 84,32 108,32")
fileicon() { # <name> <colour> <label>
    local name="$1" colour="$2" label="$3" pt=36
    case ${#label} in 1 | 2) pt=40 ;; 3) pt=34 ;; 4) pt=27 ;; *) pt=22 ;; esac
    draw "$OUT/FileIcon/$name.png" 128 32 "${PAGE[@]}" \
        -fill "$colour" -draw "roundrectangle 10,62 118,104 8,8" \
        -fill white -font "$FONT" -pointsize "$pt" -gravity center -annotate +0+19 "$label"
}
glyphicon() { # <name> <colour> <glyph drawing...> : the kind's own picture instead of a label
    local name="$1" colour="$2"
    shift 2
    draw "$OUT/FileIcon/$name.png" 128 32 "${PAGE[@]}" \
        -fill "$colour" "$@"
}

for e in bmp gif ico jpg png psd psp thm tif indd; do fileicon "$e" "$PHOTO" "${e^^}"; done
for e in epson mamiya minolta; do fileicon "$e" "$PHOTO" "RAW"; done
for e in aiff at3 au dss mid mp3 ogg wma rps acid; do fileicon "$e" "$MUSIC" "${e^^}"; done
for e in asf avi divx dv mov mp4 mpeg rmvb vob wmv tod; do fileicon "$e" "$VIDEO" "${e^^}"; done
fileicon real "$VIDEO" "RM"
for e in accdb chm doc html ods one pdf ppt txt wps xls xml; do fileicon "$e" "$OFFICE" "${e^^}"; done
for e in 7z ace cab exe gzip jar rar zip; do fileicon "$e" "$ARCHIVE" "${e^^}"; done

PHOTO_GLYPH=(-draw "polygon 40,104 62,70 76,88 86,78 96,104" -draw "circle 82,54 82,62")
NOTE_GLYPH=(-draw "ellipse 54,98 11,8 0,360" -draw "ellipse 84,90 11,8 0,360" -draw "rectangle 60,52 66,98"
    -draw "rectangle 90,44 96,90" -draw "polygon 60,52 96,44 96,56 60,64")
PLAY_GLYPH=(-draw "polygon 50,50 50,102 92,76")
LINES_GLYPH=(-draw "rectangle 44,52 92,58" -draw "rectangle 44,68 92,74" -draw "rectangle 44,84 92,90"
    -draw "rectangle 44,100 76,106")
glyphicon image "$PHOTO" "${PHOTO_GLYPH[@]}"
glyphicon photo_default "$PHOTO" "${PHOTO_GLYPH[@]}"
glyphicon music "$MUSIC" "${NOTE_GLYPH[@]}"
glyphicon audio_default "$MUSIC" "${NOTE_GLYPH[@]}"
glyphicon video_default "$VIDEO" "${PLAY_GLYPH[@]}"
glyphicon office_default "$OFFICE" "${LINES_GLYPH[@]}"
glyphicon default "$OTHER" "${LINES_GLYPH[@]}"
glyphicon other "$OTHER" -draw "circle 48,76 48,84" -draw "circle 68,76 68,84" -draw "circle 88,76 88,84"

# --- the resource file: every picture under its fixed name ":/image/..." ----------
{
    echo '<!DOCTYPE RCC>'
    echo '<RCC version="1.0">'
    echo '  <qresource prefix="/">'
    (cd "$ROOT/app/resources" && find image -name '*.png' | LC_ALL=C sort | sed 's|.*|    <file>&</file>|')
    echo '  </qresource>'
    echo '</RCC>'
} >"$QRC"

echo "make_icons.sh: $(find "$OUT" -name '*.png' | wc -l) pictures in $OUT"
