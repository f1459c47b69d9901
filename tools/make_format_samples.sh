#!/usr/bin/env bash
# Makes small real files of the formats the signature recognisers know, for
# the signature tests, the file-type benchmark and the fuzz seeds.
#
# Usage: tools/make_format_samples.sh OUTDIR
#
# Files are made with the tools that write each format (ffmpeg, ImageMagick,
# sox, sqlite3, zip, gzip, python3's zipfile and gzip) and, for formats no
# Debian tool writes (compound files, PE images, RAR, CAB, 7z, ICO-free font
# and mail headers...), by the Python below, which writes each structure as
# its format lays it out. File names say what each is; the tests keep the
# table of the codes each must be recognised as.
#
# Also written, for the file-system sector tests:
#   fs_fat_boot.bin  fs_fat_dir.bin   boot sector and first root-directory
#                                     sector of a FAT16 volume (mkfs.fat, mtools)
#   fs_ntfs_boot.bin fs_ntfs_FILE.bin fs_ntfs_INDX.bin
#                                     boot sector, first sector of the first MFT
#                                     record and of the first index record of an
#                                     NTFS volume (mkntfs)
#
# OUTDIR/.stamp holds the hash of this script; a run against an OUTDIR whose
# stamp matches does nothing, so callers may run the script before every use.
set -euo pipefail

out=${1:?usage: make_format_samples.sh OUTDIR}
script="${BASH_SOURCE[0]}"
stamp=$(sha256sum "$script" | cut -c1-64)
if [[ -f "$out/.stamp" && "$(cat "$out/.stamp")" == "$stamp" ]]; then
  exit 0
fi

# The file-system makers live in the sbin folders, which a user's PATH may lack.
PATH="$PATH:/usr/sbin:/sbin"
for tool in ffmpeg convert sox sqlite3 zip gzip python3 mkfs.fat mcopy mkntfs; do
  command -v "$tool" >/dev/null || { echo "make_format_samples.sh: $tool is missing" >&2; exit 1; }
done

tmp=$(mktemp -d "${out%/}.tmp.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
export SOURCE_DATE_EPOCH=1700000000 TZ=UTC LC_ALL=C

# ---- video and audio: ffmpeg, sox ----------------------------------------
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@" -bitexact; }
video="-f lavfi -i testsrc=size=64x48:rate=25:duration=1"
tone="-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1"
# shellcheck disable=SC2086  # the source options are meant to split
{
  ff $video $tone -c:v mpeg1video -c:a mp2 -f mpeg mpeg1_program.mpg
  ff $video $tone -c:v mpeg2video -c:a mp2 -f vob mpeg2_program.vob
  ff $video -c:v mpeg1video -f mpeg1video mpeg1_elementary.mpeg
  ff $video $tone -c:v mpeg4 -c:a aac -f mp4 isom.mp4
  ff $video $tone -c:v mpeg4 -c:a aac -brand mp42 -f mp4 mp42.mp4
  ff $video $tone -c:v rv10 -c:a ac3 -f rm realmedia.rm
  ff $video $tone -c:v wmv2 -c:a wmav2 -f asf windows_media.wmv
  ff $tone -c:a wmav2 -f asf windows_media_audio.wma
  ff $video -c:v mjpeg -f swf mjpeg_uncompressed.swf
  ff $video -c:v flv -f swf flv_v6.swf.tmp
  ff $video $tone -c:v mpeg4 -c:a mp2 -f avi mpeg4.avi
  ff $video $tone -c:v flv -c:a libmp3lame -ar 44100 -f flv sorenson.flv
  ff $video $tone -c:v h263 -s 176x144 -c:a aac -ar 8000 -ac 1 -f 3gp h263.3gp
  ff $video $tone -c:v mpeg4 -c:a mp2 -f matroska mpeg4.mkv
  ff $video $tone -c:v mpeg2video -c:a mp2 -f mpegts mpeg2.ts
  ff $video $tone -c:v mpeg2video -c:a mp2 -f mpegts -mpegts_m2ts_mode 1 avchd.m2ts.tmp
  ff -f lavfi -i testsrc=size=720x576:rate=25:duration=1 -f lavfi -i sine=sample_rate=48000:duration=1 \
    -c:v mpeg2video -b:v 5M -c:a pcm_s16le -f mxf mpeg2.mxf
  ff $video $tone -c:v mpeg4 -c:a aac -f mov quicktime.mov
  ff $tone -c:a libmp3lame -f mp3 id3v2.mp3
  ff -f lavfi -i sine=sample_rate=48000:duration=1 -ac 2 -c:a mp2 -b:a 384k -f mp2 layer2.mp2.tmp
}
sox -n -r 8000 -c 1 -b 16 pcm.wav synth 0.5 sine 440

# ---- pictures: ImageMagick -------------------------------------------------
im() { convert -size 64x48 gradient:red-blue +set date:create +set date:modify "$@"; }
im gif89a.gif
im GIF87:gif87a.gif
im BMP3:bitmap.bmp
im BMP3:bitmap.dib
im -quality 80 jfif.jpg
im -define png:exclude-chunks=date,time picture.png
im picture.psd
im -define tiff:endian=lsb intel.tif
im -define tiff:endian=msb motorola.tif
convert -size 64x64 gradient:red-blue -define icon:auto-resize=48,32,16 icon.ico

# ---- archives and databases ---------------------------------------------------
zip -q -X photos.zip jfif.jpg picture.png
head -c 20000 /dev/zero | tr '\0' 'a' > text.txt
gzip -n -c text.txt > default.gz          # extra flags 0
gzip -n -9 -c text.txt > best.gz          # extra flags 2
gzip -n -1 -c text.txt > fast.gz          # extra flags 4
sqlite3 sqlite.db "CREATE TABLE t(a INTEGER, b TEXT); INSERT INTO t VALUES (1, 'one'), (2, 'two');"
rm text.txt

# ---- file-system sectors: FAT16 (mkfs.fat, mtools) and NTFS (mkntfs) -----------
truncate -s 16M fat.img
mkfs.fat -F 16 -i 1234abcd -n SAMPLES fat.img >/dev/null
for name in "Holiday photo.jpg" "Notes for May.txt" "REPORT.DOC"; do
  printf 'sample %s\n' "$name" > "$name"
  MTOOLS_SKIP_CHECK=1 mcopy -i fat.img "$name" "::/$name"
  rm "$name"
done
truncate -s 16M ntfs.img
mkntfs -F -Q -q -s 512 -c 4096 -p 0 -H 0 -S 0 ntfs.img >/dev/null 2>&1 || { echo "mkntfs failed" >&2; exit 1; }

# ---- everything else: written by their formats' own layouts -------------------
python3 - <<'PY'
import gzip, io, struct, zipfile, zlib

def write(name, data):
    with open(name, "wb") as f:
        f.write(data)

# MPEG-2 layer II at 384 kbit/s, 48 kHz: clear the "original" bit that ffmpeg
# sets, so the frame headers read FF FD E4 00 (1152-byte frames, no padding).
mp2 = bytearray(open("layer2.mp2.tmp", "rb").read())
for off in range(0, len(mp2) - 4, 1152):
    if mp2[off] != 0xFF or mp2[off + 1] != 0xFD:
        break
    mp2[off + 3] &= ~0x04
write("layer2.mp2", mp2)

# Compressed Flash movie from ffmpeg's uncompressed version-6 one.
swf = open("flv_v6.swf.tmp", "rb").read()
write("compressed.swf", b"CWS" + swf[3:8] + zlib.compress(swf[8:]))

# AVCHD transport stream: 192-byte packets with a 4-byte arrival timestamp.
# Drop the service description packets ffmpeg writes first, so that the
# stream opens with its programme association table.
def crc32_mpeg(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if crc & 0x80000000 else (crc << 1) & 0xFFFFFFFF
    return crc
m2ts = open("avchd.m2ts.tmp", "rb").read()
packets = []
for off in range(0, len(m2ts) - 191, 192):
    p = bytearray(m2ts[off:off + 192])
    pid = ((p[5] & 0x1F) << 8) | p[6]
    if pid == 0x11:
        continue
    if pid == 0 and p[5] & 0x40:
        # Rewrite the table as a camera writes it: transport stream id 0, the
        # network information PID 0x1F for programme 0, then ffmpeg's programme.
        sec = 4 + 4 + 1 + p[8]                 # timestamp, TS header, pointer field
        program = bytes(p[sec + 8:sec + 12])
        table = b"\x00\xB0\x11\x00\x00\xC1\x00\x00" + b"\x00\x00\xE0\x1F" + program
        table += struct.pack(">I", crc32_mpeg(table))
        p[sec:] = table + b"\xFF" * (192 - sec - len(table))
    packets.append(bytes(p))
write("avchd.mts", b"".join(packets))

# Standard MIDI file, format 0, one track of a few notes.
events = b""
for i, note in enumerate([60, 62, 64, 65, 67]):
    events += bytes([0x00, 0x90, note, 0x40, 0x60, 0x80, note, 0x40])
events += b"\x00\xFF\x2F\x00"
write("track.mid", b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" + struct.pack(">I", len(events)) + events)

# Monkey's Audio: descriptor and header of a version 3.99 file, then frame bytes.
desc = b"MAC " + struct.pack("<HH", 3990, 0) + struct.pack("<IIIIIIII", 52, 24, 0, 0, 4096, 0, 0, 0) + bytes(16)
hdr = struct.pack("<HHIIIHHI", 2000, 0, 73728, 10, 1000, 16, 2, 44100)
write("monkey.ape", desc + hdr + bytes(range(256)) * 16)

# Yamaha SMAF: "MMMD" file chunk holding a contents-info chunk and a track.
cnti = b"CNTI" + struct.pack(">I", 5) + b"\x00\x01\x02\x03\x04"
track = b"MTR\x00" + struct.pack(">I", 64) + bytes(64)
body = cnti + track
write("yamaha.mmf", b"MMMD" + struct.pack(">I", len(body) + 2) + body + b"\x00\x00")

# JPEG with an Exif segment in place of the JFIF one.
jpg = open("jfif.jpg", "rb").read()
assert jpg[2:4] == b"\xFF\xE0"
app0_len = struct.unpack(">H", jpg[4:6])[0]
tiff = b"II*\x00" + struct.pack("<I", 8) + struct.pack("<H", 0) + struct.pack("<I", 0)
exif = b"Exif\x00\x00" + tiff
write("exif.jpg", b"\xFF\xD8\xFF\xE1" + struct.pack(">H", len(exif) + 2) + exif + jpg[4 + app0_len:])

# ---- compound files (Office 97-2003, Flash authoring) -------------------------
FREE, END, FATSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD
def compound_file(streams, clsid=bytes(16)):
    """streams: list of (name, data); each stream takes whole 512-byte sectors,
    in list order from sector 0 (every stream is at least 4096 bytes, so none
    lives in the mini stream)."""
    fat, sectors, entries = [], [], []
    for name, data in streams:
        data = data + bytes(-len(data) % 512)
        assert len(data) >= 4096
        start, n = len(fat), len(data) // 512
        fat += [start + i + 1 for i in range(n - 1)] + [END]
        sectors.append(data)
        entries.append((name, 2, start, len(data)))
    dir_sector = len(fat)
    fat.append(END)
    fat_sector = len(fat)
    fat.append(FATSECT)
    fat += [FREE] * (128 - len(fat))
    def entry(name, kind, start, size, child=FREE, right=FREE, clsid=bytes(16)):
        u = name.encode("utf-16-le") + b"\x00\x00"
        return (u + bytes(64 - len(u)) + struct.pack("<HBB", len(u), kind, 1) +
                struct.pack("<III", FREE, right, child) + clsid + struct.pack("<I", 0) + bytes(16) +
                struct.pack("<IQ", start, size))
    d = entry("Root Entry", 5, END, 0, child=1, clsid=clsid)
    for i, (name, kind, start, size) in enumerate(entries):
        d += entry(name, kind, start, size, right=(i + 2) if i + 1 < len(entries) else FREE)
    d += bytes(-len(d) % 512)
    assert len(d) == 512, "one directory sector"
    header = (b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + bytes(16) + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) +
              bytes(6) + struct.pack("<IIIIIIIII", 0, 1, dir_sector, 0, 4096, END, 0, END, 0) +
              struct.pack("<I", fat_sector) + struct.pack("<I", FREE) * 108)
    assert len(header) == 512
    return header + b"".join(sectors) + d + struct.pack("<128I", *fat)

CLSID_WORD = bytes.fromhex("0609020000000000c000000000000046")
CLSID_EXCEL8 = bytes.fromhex("2008020000000000c000000000000046")
CLSID_POWERPOINT = bytes.fromhex("108d81649b4fcf1186ea00aa00b929e8")
fib = struct.pack("<HHH", 0xA5EC, 0x00C1, 0x0409) + bytes(4090)
bof = struct.pack("<HHHHHH", 0x0809, 0x0010, 0x0600, 0x0005, 0x0DBB, 0x07CC) + bytes(4084)
ppt_record = struct.pack("<HHI", 0x000F, 0x03E8, 4088) + bytes(4088)
write("word.doc", compound_file([("WordDocument", fib), ("1Table", bytes(4096))], CLSID_WORD))
write("excel.xls", compound_file([("Workbook", bof)], CLSID_EXCEL8))
write("slides.ppt", compound_file([("PowerPoint Document", ppt_record), ("Current User", bytes(4096))],
                                  CLSID_POWERPOINT))
write("plain.ole", compound_file([("Contents", bytes(range(256)) * 16)]))
write("flash.fla", compound_file([("Contents", bytes(4096)), ("Page 1", bytes(4096))]))
# Decided by stream names alone: no class id, and a first stream that is neither.
write("by_name.doc", compound_file([("SummaryInformation", bytes(4096)), ("WordDocument", bytes(4096))]))
write("by_name.xls", compound_file([("SummaryInformation", bytes(4096)), ("Workbook", bytes(4096))]))
write("by_name.ppt", compound_file([("SummaryInformation", bytes(4096)), ("PowerPoint Document", bytes(4096))]))

# ---- Office Open XML (python zipfile) ---------------------------------------------
def ooxml(name, main_part, main_type, extra=()):
    ct = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
          '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
          '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
          '<Default Extension="xml" ContentType="application/xml"/>'
          '<Override PartName="/%s" ContentType="%s"/></Types>' % (main_part, main_type))
    rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
            'relationships/officeDocument" Target="%s"/></Relationships>' % main_part)
    with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED) as z:
        for part, text in [("[Content_Types].xml", ct), ("_rels/.rels", rels)] + list(extra):
            z.writestr(zipfile.ZipInfo(part, (2023, 11, 14, 22, 13, 20)), text)
        z.writestr(zipfile.ZipInfo(main_part, (2023, 11, 14, 22, 13, 20)), "<document>text</document>")
ooxml("word.docx", "word/document.xml", "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml")
ooxml("book.xlsx", "xl/workbook.xml", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml")
ooxml("slides.pptx", "ppt/presentation.xml", "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml")
with zipfile.ZipFile("text.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(3):
        z.writestr(zipfile.ZipInfo("notes/day%d.txt" % i, (2023, 11, 14, 22, 13, 20)), "line\n" * 200)

# PDF with one empty page, its cross-reference table and trailer.
objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"]
pdf, offsets = b"%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", []
for i, o in enumerate(objs):
    offsets.append(len(pdf))
    pdf += b"%d 0 obj\n" % (i + 1) + o + b"\nendobj\n"
xref = len(pdf)
pdf += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
pdf += b"".join(b"%010d 00000 n \n" % o for o in offsets)
pdf += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
write("document.pdf", pdf)

# gzip by python's module (level 9: extra flags 2, no stored name).
buf = io.BytesIO()
with gzip.GzipFile(fileobj=buf, mode="wb", mtime=1700000000) as g:
    g.write(b"python gzip member\n" * 100)
write("python.gz", buf.getvalue())

# 7z archive with no entries: signature header only.
start = struct.pack("<QQI", 0, 0, 0)
write("empty.7z", b"7z\xBC\xAF\x27\x1C\x00\x04" + struct.pack("<I", zlib.crc32(start)) + start)

# RAR 1.5-4.x archive: marker, archive header, one stored file, end of archive.
def rar_block(kind, flags, body):
    rest = struct.pack("<BHH", kind, flags, 7 + len(body)) + body
    return struct.pack("<H", zlib.crc32(rest) & 0xFFFF) + rest
content = b"stored in a rar archive\n" * 40
name = b"readme.txt"
filehdr = struct.pack("<IIBIIBBHI", len(content), len(content), 3, zlib.crc32(content), 0x577A0000, 20, 0x30,
                      len(name), 0x81A4) + name
write("archive.rar", b"Rar!\x1A\x07\x00" + rar_block(0x73, 0, bytes(6)) + rar_block(0x74, 0x8000, filehdr) + content +
      b"\xC4\x3D\x7B\x00\x40\x07\x00")

# Cabinet with one folder of stored (uncompressed) data holding one file.
content = b"stored in a cabinet\n" * 50
fname = b"readme.txt\x00"
cffile = struct.pack("<IIHHHH", len(content), 0, 0, 0x5771, 0x6A00, 0x20) + fname
header_len, folder_len = 36, 8
data_off = header_len + folder_len + len(cffile)
cfdata = struct.pack("<IHH", 0, len(content), len(content)) + content
total = data_off + len(cfdata)
cab = (b"MSCF" + struct.pack("<IIIIIBBHHHHH", 0, total, 0, header_len + folder_len, 0, 3, 1, 1, 1, 0, 0x1234, 0) +
       struct.pack("<IHH", data_off, 1, 0) + cffile + cfdata)
write("cabinet.cab", cab)

# Ghost image: its header signature and image bytes.
write("backup.gho", b"\xFE\xEF\x00\x00" + bytes(range(256)) * 8)

# Outlook Express mail folder and Outlook personal folders headers.
write("mail.dbx", b"\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F\x66\xE3\xD1\x11\x9A\x4E\x00\xC0\x4F\xA3\x09\xD4" + bytes(4076))
write("mail.pst", b"!BDN" + struct.pack("<I", 0x12345678) + b"SM" + struct.pack("<HHBB", 23, 19, 1, 1) + bytes(4080))

# PE images: DOS stub header, PE signature, file header, PE32 optional header,
# one section. The file header's characteristics say exe, dll or system file.
def pe(characteristics):
    dos = b"MZ" + bytes(58) + struct.pack("<I", 0x80)
    dos += bytes(0x80 - len(dos))
    fh = struct.pack("<HHIIIHH", 0x014C, 1, 1700000000, 0, 0, 224, characteristics)
    opt = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 14, 0, 512, 0, 0, 0x1000, 0x1000, 0x2000,
                      0x400000, 0x1000, 0x200, 6, 0, 0, 0, 6, 0, 0, 0x2000, 0x200, 0, 3, 0, 0x100000, 0x1000,
                      0x100000, 0x1000, 0, 16) + bytes(128)
    sec = b".text\x00\x00\x00" + struct.pack("<IIIIIIHHI", 0x10, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0x60000020)
    img = dos + b"PE\x00\x00" + fh + opt + sec
    img += bytes(0x200 - len(img))
    return img + b"\xC3" + bytes(0x1FF)
write("program.exe", pe(0x0102))
write("library.dll", pe(0x2102))
write("driver.sys", pe(0x1102))

# TrueType font: ten tables, the directory sorted by tag, 'head' stored first.
def table_data():
    head = struct.pack(">IIIIHHQQhhhhHHhhh", 0x00010000, 0x00010000, 0, 0x5F0F3CF5, 0x000B, 1000, 0, 0,
                       0, 0, 500, 700, 0, 8, 2, 0, 0)
    hhea = struct.pack(">Ihhh" + "H" + "hhhhhh" + "hhhhh" + "H", 0x00010000, 800, -200, 0, 500, 0, 0, 500, 1, 0,
                       0, 0, 0, 0, 0, 0, 1)
    maxp = struct.pack(">IHHHHHHHHHHHHHH", 0x00010000, 1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0)
    os2 = struct.pack(">HhHH", 1, 500, 400, 5) + bytes(74)
    cmap = struct.pack(">HHHHI", 0, 1, 3, 1, 12) + struct.pack(">HHHHHHHHHHHH", 4, 24, 0, 2, 2, 0, 0, 0xFFFF, 0, 1, 0, 0)
    glyf, loca = b"", struct.pack(">HH", 0, 0)
    hmtx = struct.pack(">Hh", 500, 0)
    name = struct.pack(">HHH", 0, 0, 6)
    post = struct.pack(">IIhhIIIII", 0x00030000, 0, -100, 50, 0, 0, 0, 0, 0)
    return [(b"head", head), (b"OS/2", os2), (b"cmap", cmap), (b"glyf", glyf), (b"hhea", hhea), (b"hmtx", hmtx),
            (b"loca", loca), (b"maxp", maxp), (b"name", name), (b"post", post)]
tables = table_data()
n = len(tables)
search = 1 << (n.bit_length() - 1)
offset = 12 + 16 * n
dir_entries, blob = [], b""
for tag, data in tables:
    dir_entries.append((tag, sum(struct.unpack(">%dI" % ((len(data) + 3) // 4), data + bytes(-len(data) % 4))) & 0xFFFFFFFF,
                        offset + len(blob), len(data)))
    blob += data + bytes(-len(data) % 4)
dir_entries.sort()
ttf = struct.pack(">IHHHH", 0x00010000, n, search * 16, search.bit_length() - 1, n * 16 - search * 16)
ttf += b"".join(struct.pack(">4sIII", *e) for e in dir_entries)
write("font.ttf", ttf + blob)

# ---- file-system sectors ------------------------------------------------------------
fat = open("fat.img", "rb").read()
bps = struct.unpack("<H", fat[11:13])[0]
reserved, nfats, fatsz = struct.unpack("<H", fat[14:16])[0], fat[16], struct.unpack("<H", fat[22:24])[0]
root = (reserved + nfats * fatsz) * bps
write("fs_fat_boot.bin", fat[:512])
write("fs_fat_dir.bin", fat[root:root + 512])
ntfs = open("ntfs.img", "rb").read()
write("fs_ntfs_boot.bin", ntfs[:512])
for magic in (b"FILE", b"INDX"):
    for off in range(0, len(ntfs), 512):
        if ntfs[off:off + 4] == magic:
            write("fs_ntfs_%s.bin" % magic.decode(), ntfs[off:off + 512])
            break
    else:
        raise SystemExit("no %s record in the NTFS image" % magic)
PY

rm -f ./*.tmp fat.img ntfs.img
echo "$stamp" > .stamp
cd - >/dev/null
rm -rf "$out"
mv "$tmp" "$out"
trap - EXIT
