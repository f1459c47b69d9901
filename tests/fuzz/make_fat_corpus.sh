#!/usr/bin/env bash
# Seeds for the FAT fuzz targets.
#
# fuzz_fat_volume (VOLDIR): the volumes of tools/make_fat_images.sh, the
# partition of its MBR disk, the bundled sample card, and a few small
# volumes made here (512-byte, 2 KiB and 4 KiB sectors; live, deleted and
# nested files, deleted folders). Each is cut after its last sector that is
# not all zeros: the fuzz target pads the device with zeros up to the size
# the boot sector states, so the cut volume reads as the whole one.
#
# fuzz_fat_records (RECDIR): the boot sectors, root folders and first data
# clusters of those volumes, and the boot sector and first MFT record of an
# NTFS volume and the start of an ext2 volume where mkntfs and mke2fs exist.
#
# Usage: tests/fuzz/make_fat_corpus.sh VOLDIR RECDIR
set -euo pipefail
vol=${1:?usage: make_fat_corpus.sh VOLDIR RECDIR}
rec=${2:?usage: make_fat_corpus.sh VOLDIR RECDIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$here/../..

for tool in mkfs.fat mcopy mmd mdel mdeltree python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$0: $tool is missing (dosfstools, mtools, python3)" >&2; exit 1; }
done
export TZ=UTC LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=1623758400
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$vol" "$rec" "$stage/img" "$stage/src"

"$root/tools/make_fat_images.sh" "$stage/made" >/dev/null
for f in fat12 floppy fat16 fat32; do
    cp "$stage/made/$f.img" "$stage/img/$f.img"
done
# The card (FAT32, 4 KiB clusters, long names of 20 parts, names beyond the
# first plane) is 260 MiB of mostly holes; its used start is well under 1 MiB.
head -c $((1024 * 1024)) "$stage/made/card.img" >"$stage/img/card.img"
# The MBR disk's one partition starts 1 MiB in.
tail -c +$((2048 * 512 + 1)) "$stage/made/mbr.img" >"$stage/img/mbrpart.img"
gzip -dc "$root/samples/sample.img.gz" >"$stage/img/sample.img"

# Source files: text lines, and a small picture when ImageMagick is there.
i=0
while [ $i -lt 400 ]; do
    printf 'line %04d of a seed file for the FAT fuzz targets\n' $i
    i=$((i + 1))
done >"$stage/src/text"
head -c 700 "$stage/src/text" >"$stage/src/short"
if command -v convert >/dev/null 2>&1 && convert -size 40x30 -seed 7 plasma:fractal -strip "jpeg:$stage/src/pic" 2>/dev/null; then
    :
else
    printf '\377\330\377\340\000\020JFIF\000' >"$stage/src/pic"
    head -c 3000 "$stage/src/text" >>"$stage/src/pic"
fi

# small NAME KIB MKFS-OPTIONS...: a volume with live, deleted and nested files, a
# long name split over several entries and a deleted folder tree.
small() {
    local name=$1 kib=$2
    shift 2
    local img=$stage/img/$name.img
    mkfs.fat -C -i 5EEDF022 "$@" "$img" "$kib" >/dev/null
    mmd -i "$img" ::/KEEP ::/KEEP/DEEP ::/GONE ::/GONE/INNER
    mcopy -i "$img" "$stage/src/text" "::/A long file name that needs several entries.txt"
    mcopy -i "$img" "$stage/src/short" ::/NOTE.TXT
    mcopy -i "$img" "$stage/src/pic" "::/KEEP/Photo one.jpg"
    mcopy -i "$img" "$stage/src/short" ::/KEEP/DEEP/LIVE.TXT
    mcopy -i "$img" "$stage/src/text" ::/KEEP/DEEP/OLD.TXT
    mcopy -i "$img" "$stage/src/pic" ::/GONE/PIC.JPG
    mcopy -i "$img" "$stage/src/text" "::/GONE/INNER/Inner file.txt"
    mdel -i "$img" "::/A long file name that needs several entries.txt" ::/KEEP/DEEP/OLD.TXT
    mdeltree -i "$img" ::/GONE
}
small tiny12 256 -F 12 -s 1 -r 64
small sect2k 2048 -F 12 -S 2048 -s 1 -r 64
small fat16s 4096 -F 16 -s 1 -r 32
small fat32k 266240 -F 32 -S 4096 -s 1

# Damaged folder structures no formatter makes, built byte by byte: folder
# chains cross-linked into one another, a deep tree whose ".." entries lead
# up to the root, and a ".." loop. 512-byte clusters; one deleted file per
# folder.
python3 - "$stage/img" <<'PYEOF'
import os, struct, sys
DATE = ((2021 - 1980) << 9) | (6 << 5) | 15

def entry(name11, attr, cluster, size=0, deleted=False):
    e = bytearray(32)
    e[0:11] = name11
    e[11] = attr
    struct.pack_into('<HHH', e, 16, DATE, DATE, 0)
    struct.pack_into('<HHHI', e, 22, 0, DATE, cluster, size)
    if deleted:
        e[0] = 0xE5
    return e

def volume(path, n, linked, parent_of):
    res, nfats, spf, rootent, total = 4, 2, 32, 512, 32768
    data = res + nfats * spf + rootent * 32 // 512
    img = bytearray(512 * (data + n + 1))
    img[0:11] = b'\xEB\x3C\x90MSWIN4.1'
    struct.pack_into('<HBHBHHBH', img, 11, 512, 1, res, nfats, rootent, 0, 0xF8, spf)
    struct.pack_into('<I', img, 32, total)
    img[54:62] = b'FAT16   '
    img[510:512] = b'\x55\xAA'
    fat = res * 512
    struct.pack_into('<HH', img, fat, 0xFFF8, 0xFFFF)
    root = (res + nfats * spf) * 512
    img[root:root + 32] = entry(b'TOP        ', 0x10, 2)
    for i in range(n):
        c = 2 + i
        struct.pack_into('<H', img, fat + 2 * c, c + 1 if linked and i + 1 < n else 0xFFFF)
        off = (data + i) * 512
        img[off:off + 32] = entry(b'.          ', 0x10, c)
        img[off + 32:off + 64] = entry(b'..         ', 0x10, parent_of(c))
        if i + 1 < n:
            img[off + 64:off + 96] = entry(b'SUB%05d   ' % c, 0x10, c + 1)
        else:
            img[off + 64:off + 96] = entry(b'LAST    TXT', 0x20, 0)
        img[off + 96:off + 128] = entry(b'GONE%04dTXT' % c, 0x20, 2 + n, 100, deleted=True)
        for k in range(4, 16):
            img[off + 32 * k:off + 32 * k + 32] = entry(b'LIVE%04dTXT' % k, 0x20, 0)
    with open(path, 'wb') as f:
        f.write(img)

out = sys.argv[1]
volume(os.path.join(out, 'crosslink.img'), 24, True, lambda c: 0)
volume(os.path.join(out, 'deeptree.img'), 24, False, lambda c: c - 1 if c > 2 else 0)
volume(os.path.join(out, 'dotdotloop.img'), 24, False, lambda c: c + 5 if c + 5 < 26 else 2)
PYEOF

# Cuts each volume after its last sector with data (at most 1 MiB, the
# fuzzer's -max_len), and takes the record seeds from it.
python3 - "$stage/img" "$vol" "$rec" <<'PYEOF'
import os, struct, sys
src, vol, rec = sys.argv[1:4]
LIMIT = 1 << 20
for name in sorted(os.listdir(src)):
    data = open(os.path.join(src, name), 'rb').read()
    stem = name[:-4]
    end = len(data.rstrip(b'\0'))
    end = min((end + 511) // 512 * 512, LIMIT)
    with open(os.path.join(vol, stem), 'wb') as f:
        f.write(data[:end])
    u16 = lambda o: struct.unpack_from('<H', data, o)[0]
    u32 = lambda o: struct.unpack_from('<I', data, o)[0]
    bps, spc, res, nfats, rootent = u16(11), data[13], u16(14), data[16], u16(17)
    spf = u16(22) or u32(36)
    fat32 = data[82:90] == b'FAT32   '
    rootsecs = 0 if fat32 else (rootent * 32 + bps - 1) // bps
    first_data = (res + nfats * spf + rootsecs) * bps
    root = first_data + (u32(44) - 2) * spc * bps if fat32 else first_data - rootsecs * bps
    for part, off, n in (('boot', 0, 2048), ('root', root, 4096), ('data', first_data, 8192)):
        with open(os.path.join(rec, stem + '.' + part), 'wb') as f:
            f.write(data[off:off + n])
PYEOF

# Other file systems' first sectors, for the NTFS and ext tests.
if command -v mkntfs >/dev/null 2>&1; then
    truncate -s 4M "$stage/ntfs.img"
    if mkntfs -q -F -f -s 512 -c 4096 "$stage/ntfs.img" >/dev/null 2>&1; then
        head -c 2048 "$stage/ntfs.img" >"$rec/ntfs.boot"
        mft=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(512); print(struct.unpack_from("<Q",d,48)[0]*d[13]*struct.unpack_from("<H",d,11)[0])' "$stage/ntfs.img")
        dd if="$stage/ntfs.img" of="$rec/ntfs.mft" iflag=skip_bytes,count_bytes skip="$mft" count=4096 status=none
    fi
fi
if command -v mke2fs >/dev/null 2>&1; then
    truncate -s 1M "$stage/ext2.img"
    if mke2fs -q -F -t ext2 -E root_owner=0:0 "$stage/ext2.img" >/dev/null 2>&1; then
        head -c 2048 "$stage/ext2.img" >"$rec/ext2.boot"
    fi
fi
