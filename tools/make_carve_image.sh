#!/usr/bin/env bash
# Makes a raw image for the carving tests: real files of the carved formats
# laid sector-aligned, each followed by zeros to its sector's end, between
# stretches of random, zero and English-text filler; no file system.
#
# Usage: tools/make_carve_image.sh OUTDIR
#
# The files are the samples of tools/make_format_samples.sh (every format the
# signature engine carves) and, made here, larger and more typical ones:
# photos of several sizes, MP3s with an ID3v1 tag, multi-track MIDI, Monkey's
# Audio with an APEv2 tag, 7z and zip archives, multi-sector PDFs, longer
# video. Output:
#   OUTDIR/carve.img       the image (512-byte sectors)
#   OUTDIR/carve.manifest  one line per file, tab-separated:
#     first sector, size, sha256, expected carved size, inner carves, name
#   The expected size is what the length rules give for the file in this
#   layout: "exact" (the rules find the file's own end), "next" (the format
#   leaves no end mark: the estimate runs to the first sector of the next
#   file, or to the image's end), "sector" (one sector), or a byte count.
#   Inner carves is "inner" when the rules also carve files that start inside
#   this one (a movie of JPEG frames, MPEG audio frames that fall on sector
#   starts), else "-".
#
# OUTDIR/.stamp holds the hash of this script and the sample script; a run
# against an OUTDIR whose stamp matches does nothing.
set -euo pipefail

out=${1:?usage: make_carve_image.sh OUTDIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
stamp=$(cat "$here/make_carve_image.sh" "$here/make_format_samples.sh" | sha256sum | cut -c1-64)
if [[ -f "$out/.stamp" && "$(cat "$out/.stamp")" == "$stamp" ]]; then
  exit 0
fi
for tool in ffmpeg convert sox zip 7z python3; do
  command -v "$tool" >/dev/null || { echo "make_carve_image.sh: $tool is missing" >&2; exit 1; }
done

tmp=$(mktemp -d "${out%/}.tmp.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
"$here/make_format_samples.sh" "$tmp/samples"
mkdir "$tmp/extra"
cd "$tmp/extra"
export SOURCE_DATE_EPOCH=1700000000 TZ=UTC LC_ALL=C

# ---- photos, music and video as cameras, phones and players leave them ------
for shot in 1:320x240:85 2:640x480:90 3:1024x768:92 4:1600x1200:90 5:800x600:75 6:2048x1536:88; do
  IFS=: read -r n size q <<<"$shot"
  convert -seed "$n" -size "$size" plasma:fractal +set date:create +set date:modify -quality "$q" "photo$n.jpg"
done
convert -seed 7 -size 400x300 plasma:fractal -define png:exclude-chunks=date,time plasma1.png
convert -seed 8 -size 900x700 plasma:fractal -define png:exclude-chunks=date,time plasma2.png
convert -seed 9 -size 300x200 plasma:fractal +set date:create +set date:modify plasma.gif
convert -seed 10 -size 200x150 plasma:fractal +set date:create +set date:modify BMP3:plasma.bmp

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@" -bitexact; }
for d in 2 5 9; do
  ff -f lavfi -i "sine=frequency=$((200 * d)):sample_rate=44100:duration=$d" -c:a libmp3lame -b:a 128k \
    -write_id3v1 1 -metadata title="Track $d" -metadata artist="Tessaroo" -f mp3 "song$d.mp3"
done
sox -n -r 44100 -c 2 -b 16 stereo.wav synth 1.5 sine 330 sine 550
video="-f lavfi -i testsrc=size=320x240:rate=25:duration=3"
tone="-f lavfi -i sine=frequency=440:sample_rate=44100:duration=3"
# shellcheck disable=SC2086  # the source options are meant to split
{
  ff $video $tone -c:v mpeg4 -c:a mp2 -f avi clip.avi
  ff $video $tone -c:v mpeg1video -c:a mp2 -f mpeg clip.mpg
  ff $video $tone -c:v mpeg2video -c:a mp2 -f mpegts clip.ts
  ff $video $tone -c:v wmv2 -c:a wmav2 -f asf clip.wmv
  ff $video $tone -c:v mpeg4 -c:a aac -f mp4 clip.mp4
}

# ---- archives -----------------------------------------------------------------
for i in 1 2 3 4 5 6 7 8; do seq $((i * 300)) $((i * 700)) > "list$i.txt"; done
7z a -bd -bso0 -bsp0 lists.7z list1.txt list2.txt list3.txt list4.txt list5.txt list6.txt >/dev/null
7z a -bd -bso0 -bsp0 more.7z list3.txt list4.txt list5.txt list6.txt list7.txt list8.txt photo1.jpg >/dev/null
zip -q -X -9 lists.zip list1.txt list2.txt list3.txt list4.txt list5.txt list6.txt list7.txt list8.txt
echo "Lists of numbers, one per line" | zip -q -X -z commented.zip list7.txt list8.txt >/dev/null
rm list?.txt

# ---- made by their formats' layouts ---------------------------------------------
python3 - <<'PY'
import random, struct, zlib

def write(name, data):
    with open(name, "wb") as f:
        f.write(data)

# Standard MIDI files, format 1: a tempo track and note tracks.
def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, 0x80 | (n & 0x7F))
        n >>= 7
    return bytes(out)
def track(events):
    data = b"".join(vlq(dt) + ev for dt, ev in events) + b"\x00\xFF\x2F\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + data
def midi(tracks, notes):
    rng = random.Random(tracks * 100 + notes)
    body = track([(0, b"\xFF\x51\x03\x07\xA1\x20")])
    for t in range(1, tracks):
        ev = [(0, b"\xFF\x03\x05Voice")]
        for _ in range(notes):
            n = rng.randrange(40, 90)
            ev += [(rng.randrange(0, 48), bytes([0x90 | t, n, 0x50])), (rng.randrange(24, 96), bytes([0x80 | t, n, 0x40]))]
        body += track(ev)
    return b"MThd" + struct.pack(">IHHH", 6, 1, tracks, 96) + body
write("quartet.mid", midi(4, 60))
write("symphony.mid", midi(12, 900))

# Monkey's Audio 3.99 with an APEv2 tag (header, two items, footer).
def ape_tag(items):
    body = b"".join(struct.pack("<II", len(v), 0) + k + b"\x00" + v for k, v in items)
    def frame(flags):
        return b"APETAGEX" + struct.pack("<IIII", 2000, len(body) + 32, len(items), flags) + bytes(8)
    return frame(0xA0000000) + body + frame(0x80000000)
rng = random.Random(5)
frames = bytes(rng.randrange(256) for _ in range(30000))
desc = b"MAC " + struct.pack("<HH", 3990, 0) + struct.pack("<IIIIIIII", 52, 24, 0, 0, len(frames), 0, 0, 0) + bytes(16)
hdr = struct.pack("<HHIIIHHI", 2000, 0, 73728, 1, 1000, 16, 2, 44100)
write("tagged.ape", desc + hdr + frames + ape_tag([(b"Title", b"Sine"), (b"Artist", b"Tessaroo")]))

# PDFs of several pages, their content streams deflated, ending "%%EOF\n".
def pdf(pages, seed):
    rng = random.Random(seed)
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(b"%d 0 R" % (4 + 2 * i) for i in range(pages)), pages),
            b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    for i in range(pages):
        text = b"".join(b"BT /F1 10 Tf 40 %d Td (Line %d of page %d: %d) Tj ET\n" % (780 - 12 * k, k, i, rng.randrange(10**9))
                        for k in range(60))
        stream = zlib.compress(text)
        objs.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 3 0 R >> >> "
                    b"/Contents %d 0 R >>" % (5 + 2 * i))
        objs.append(b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(stream) + stream + b"\nendstream")
    data, offsets = b"%PDF-1.5\n%\xE2\xE3\xCF\xD3\n", []
    for i, o in enumerate(objs):
        offsets.append(len(data))
        data += b"%d 0 obj\n" % (i + 1) + o + b"\nendobj\n"
    xref = len(data)
    data += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    data += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    data += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    return data
write("report.pdf", pdf(3, 1))
write("manual.pdf", pdf(40, 2))
PY

# ---- the layout -------------------------------------------------------------------
cd "$tmp"
python3 - "$tmp/samples" "$tmp/extra" <<'PY'
import hashlib, os, random, sys

samples, extra = sys.argv[1], sys.argv[2]
SECTOR = 512
# Samples the engine does not carve (no length estimate) or that are not files.
SKIP = {"program.exe", "library.dll", "driver.sys", "backup.gho"}
# What the length rules give for each file: the rules find the true end of
# these...
EXACT = {
    "windows_media.wmv", "windows_media_audio.wma",
    "mjpeg_uncompressed.swf", "mpeg4.avi", "mpeg2.ts", "pcm.wav", "gif89a.gif", "gif87a.gif", "bitmap.bmp",
    "bitmap.dib", "jfif.jpg", "exif.jpg", "picture.png", "icon.ico", "photos.zip", "text.zip", "track.mid",
    "word.doc", "excel.xls", "slides.ppt", "plain.ole", "flash.fla", "by_name.doc", "by_name.xls", "by_name.ppt",
    "word.docx", "book.xlsx", "slides.pptx", "archive.rar", "cabinet.cab", "font.ttf",
    "photo1.jpg", "photo2.jpg", "photo3.jpg", "photo4.jpg", "photo5.jpg", "photo6.jpg", "plasma1.png",
    "plasma2.png", "plasma.gif", "plasma.bmp", "song2.mp3", "song5.mp3", "song9.mp3", "stereo.wav", "clip.avi",
    "clip.ts", "clip.wmv", "quartet.mid", "symphony.mid", "tagged.ape", "lists.7z", "more.7z",
    "lists.zip", "commented.zip",
}
# ... a compressed Flash movie is one sector, a PDF ends at its last "%%EOF"
# (the line end after it is left out), an MPEG audio file ends where one of
# its own frame headers starts a sector (every fourth 1152-byte frame), and
# every other format runs on to the next file (MPEG program streams too:
# ffmpeg writes no program end code).
SECTOR_ONLY = {"compressed.swf"}
SIZES = {"layer2.mp2": 4 * 1152}
INNER = {"layer2.mp2", "mjpeg_uncompressed.swf"}

files = []
for folder in (samples, extra):
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if name.startswith(".") or name in SKIP or name.startswith("fs_") or not os.path.isfile(path):
            continue
        files.append((name, open(path, "rb").read()))

rng = random.Random(20240611)
rng.shuffle(files)
WORDS = ("the card holds photos of the summer and a few songs recorded at home while the camera kept "
         "every picture in its folder until someone deleted them by mistake so now we look for them "
         "again sector by sector with patience").split()
def filler(kind, sectors):
    n = sectors * SECTOR
    if kind == "zero":
        return bytes(n)
    if kind == "random":
        return rng.randbytes(n)
    text = []
    size = 0
    while size < n:
        w = rng.choice(WORDS) + (". " if rng.random() < 0.1 else " ")
        text.append(w)
        size += len(w)
    return "".join(text).encode()[:n]

image = bytearray(filler("random", 16))
placed = []
for name, data in files:
    start = len(image) // SECTOR
    image += data + bytes(-len(data) % SECTOR)
    placed.append((name, data, start))
    gap = 0 if rng.random() < 0.1 else rng.randrange(1, 48)
    image += filler(rng.choice(("random", "zero", "text")), gap)
image += filler("random", 16)

with open("carve.img", "wb") as f:
    f.write(image)
total = len(image) // SECTOR
with open("carve.manifest", "w") as m:
    for i, (name, data, start) in enumerate(placed):
        if name in EXACT:
            expect = "exact"
        elif name in SECTOR_ONLY:
            expect = "sector"
        elif name in SIZES:
            expect = str(SIZES[name])
        elif name.endswith(".pdf") and len(data) > SECTOR:
            expect = str(data.rindex(b"%%EOF") + 5)
        else:
            expect = "next"
        m.write("%d\t%d\t%s\t%s\t%s\t%s\n" % (start, len(data), hashlib.sha256(data).hexdigest(), expect,
                                              "inner" if name in INNER else "-", name))
PY

mkdir -p "$out"
mv "$tmp/carve.img" "$tmp/carve.manifest" "$out/"
echo "$stamp" > "$out/.stamp"
