#!/usr/bin/env bash
# Makes lost FAT volumes for the deep FAT engine's tests: volumes whose boot
# sector, partition table or folder entries are gone, so that their files
# can only be found from the folder sectors left on the disk.
#
# Usage: tools/make_deep_fat_images.sh OUTDIR
#        tools/make_deep_fat_images.sh --big OUTDIR   (the 64 GiB card below only)
#
# Writes into OUTDIR (created when missing):
#   fat16qf.img   FAT16, 16 MiB, 2 KiB clusters, filled, some files deleted,
#                 then formatted again by mkfs.fat over it and given new files
#   fat32qf.img   the same on FAT32, 160 MiB (sparse), 2 KiB clusters
#   noboot.img    FAT16, 16 MiB, 2 KiB clusters, a tree with deleted files and
#                 a deleted folder tree; then its boot sector is zeroed
#   lostdir.img   FAT32, 160 MiB, 2 KiB clusters: a folder deleted with its
#                 files, its own entry then taken by a later file, so its files
#                 are reachable only through the folder's own sectors
#   mbr.img       an MBR disk with a FAT32 volume (160 MiB, 2 KiB clusters) at
#                 sector 2048 and a FAT16 volume (16 MiB, 4 KiB clusters) after
#                 it, each with files; then the partition table is zeroed
#   big.img       (--big only) a sparse 64 GiB FAT32 card, 32 KiB clusters,
#                 a few hundred files in folders, some deleted, boot sector
#                 zeroed: for measuring a deep scan's memory, not for tests
#   worst.img     (--worst only) 256 MiB of directory sectors no formatter
#                 writes, made to reach every memory bound of the deep FAT
#                 engine at once: more sectors than it parks before any layout,
#                 more folder entries with 255-character names and more files
#                 than it keeps; for measuring, not for tests
# and beside each volume NAME.manifest (mbr.img: mbra.manifest and
# mbrb.manifest), in the columns of tools/make_fat_images.sh:
#
#   type state size sha256 first_cluster entry_sector short_name path
#
# where state tells what is left of the item on the finished image, as
# three words joined by '-':
#   live | deleted   the item's short entry, read where it was written
#   kept | lost      kept: that entry is still there (deleted or not);
#                    lost: the slot was zeroed by a new format or taken over
#   intact | changed a file: its size bytes, read from its first cluster on
#                    over consecutive clusters, are (not) exactly the file
#   dot | nodot      a folder: its first cluster does (not) still begin with
#                    its own "." entry
# short_name is the 8.3 name as first written ("NAME.EXT"); the volume facts
# (#@ lines) are those of the volume as it was made, before the damage.
#
# Every state is measured on the finished image, not assumed. The images are
# the same byte for byte on every run.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ONLY=""
if [ "${1:-}" = --big ] || [ "${1:-}" = --worst ]; then
    ONLY=${1#--}
    shift
fi
if [ $# -ne 1 ]; then
    echo "usage: $0 [--big | --worst] OUTDIR" >&2
    exit 2
fi
mkdir -p "$1"
OUT=$(cd "$1" && pwd)

# The helpers that make volumes with mtools and record every item's entry
# and chain before it is deleted.
# shellcheck source=tools/make_fat_images.sh
source "$HERE/make_fat_images.sh" --lib

# ---------------------------------------------------------------------------
# The measuring side: the volume's layout as made, and the state of every
# recorded item on the finished image.
cat >"$STAGE/deep.py" <<'PYEOF'
import hashlib, json, mmap, os, struct, sys
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fat import Volume, first_cluster, load_items, short_text

def layout(image, offset, out):
    v = Volume(image, offset)
    facts = {'partition_start_sector': offset // 512, 'fat_type': v.fat, 'bytes_per_sector': v.bps,
             'sectors_per_cluster': v.spc, 'data_start_sector': v.data, 'total_sectors': v.total,
             'root_cluster': v.rootclus, 'cluster_count': v.clusters}
    with open(out, 'w') as f:
        json.dump(facts, f)

def final(image, offset, items_file, snap_file, layout_file, manifest, label):
    facts = json.load(open(layout_file))
    with open(image, 'rb') as f:
        img = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
    bps, spc, fat = facts['bytes_per_sector'], facts['sectors_per_cluster'], facts['fat_type']
    def cluster_off(n):
        return offset + (facts['data_start_sector'] + (n - 2) * spc) * bps
    snaps = {}
    with open(snap_file, encoding='utf-8') as f:
        for l in f:
            p, slot, ehex, chain = l.rstrip('\n').split('\t')
            snaps[p] = (int(slot), bytes.fromhex(ehex))
    rows = []
    for kind, p, src, expect in load_items(items_file):
        if p not in snaps:
            sys.exit('%s: %s was never recorded' % (label, p))
        slot, e = snaps[p]
        now = img[slot:slot + 32]
        kept = now[1:] == e[1:] and now[0] in (e[0], 0xE5)
        deleted = (now[0] == 0xE5) if kept else (expect != 'live')
        first = first_cluster(e, fat)
        data = open(src, 'rb').read() if kind == 'file' else b''
        if kind == 'file':
            start = cluster_off(first)
            tail = 'intact' if not data or (first >= 2 and img[start:start + len(data)] == data) else 'changed'
        else:
            d = img[cluster_off(first):cluster_off(first) + 64]
            tail = 'dot' if d[:11] == b'.          ' and first_cluster(d, fat) == first else 'nodot'
        state = '-'.join(['deleted' if deleted else 'live', 'kept' if kept else 'lost', tail])
        sha = hashlib.sha256(data).hexdigest() if kind == 'file' else '-'
        rows.append([kind, state, str(len(data)), sha, str(first), str(slot // 512), short_text(e[:11]), p])
    with open(manifest, 'w', encoding='utf-8') as f:
        f.write('# Files and folders of %s, written by tools/make_deep_fat_images.sh.\n' % label)
        f.write('# columns: type state size sha256 first_cluster entry_sector short_name path\n')
        f.write('#@ image=%s\n' % label)
        for k in sorted(facts):
            f.write('#@ %s=%s\n' % (k, facts[k]))
        for r in rows:
            f.write('\t'.join(r) + '\n')

if __name__ == '__main__':
    if sys.argv[1] == 'layout':
        layout(sys.argv[2], int(sys.argv[3]), sys.argv[4])
    elif sys.argv[1] == 'final':
        final(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5], sys.argv[6], sys.argv[7], sys.argv[8])
PYEOF

# record_layout NAME: the current volume's layout, kept for after the damage.
record_layout() { "$PY" "$STAGE/deep.py" layout "$IMG" "$VOLOFF" "$STAGE/$1.layout"; }

# deep_finish NAME LABEL: the manifest of the current volume.
deep_finish() {
    "$PY" "$STAGE/deep.py" final "$IMG" "$VOLOFF" "$ITEMS" "$SNAP" "$STAGE/$1.layout" "$OUT/$1.manifest" "$2"
}

# revisit NAME IMAGE BYTE-OFFSET: the volume made earlier under NAME again,
# with its records (volume starts them anew).
revisit() {
    IMG=$2
    VOLOFF=$3
    VOL="$IMG@@$VOLOFF"
    ITEMS=$STAGE/$1.items
    SNAP=$STAGE/$1.snap
}

zero_sector() { # IMAGE SECTOR
    dd if=/dev/zero of="$1" bs=512 seek="$2" count=1 conv=notrunc status=none
}

# The tree every filled volume gets: a first file whose clusters the files
# made after a new format land on (so the folders after it survive), photos
# and documents in folders two levels deep, long names, files in the root.
fill() {
    put /FIRST.BIN bin 24576
    md /DCIM /DCIM/100PHOTO /DOCS /DOCS/LETTERS
    put /DCIM/100PHOTO/IMG_0001.JPG jpeg 160
    put "/DCIM/100PHOTO/Holiday at the sea.jpg" jpeg 140
    put /DCIM/100PHOTO/IMG_0003.JPG jpeg 120
    put "/DOCS/Meeting notes.txt" text 3000
    put /DOCS/BUDGET.DAT bin 5000
    put "/DOCS/LETTERS/A letter to a friend.txt" text 2500
    put /DOCS/LETTERS/DRAFT.TXT text 700
    put /ROOTNOTE.TXT text 800
    put "/Root long name.txt" text 1200
    snap
}

# The same volume formatted again over itself and given a few new files.
refill() {
    put /NEWFILE.TXT text 3000
    md /NEWDIR
    put "/NEWDIR/New photo.jpg" jpeg 80
    snap
}

fat16qf() {
    local img=$OUT/fat16qf.img
    rm -f "$img"
    mkfs.fat -C -F 16 -s 4 -r 512 -i 5EEDD016 "$img" 16384 >/dev/null
    volume fat16qf "$img" 0
    record_layout fat16qf
    label OLDCARD
    fill
    del /DCIM/100PHOTO/IMG_0003.JPG intact
    del /DOCS/LETTERS/DRAFT.TXT intact
    del /ROOTNOTE.TXT intact
    # A quick format: a new boot sector, FATs and an empty root over the old volume.
    mkfs.fat -F 16 -s 4 -r 512 -i 5EEDD116 "$img" >/dev/null
    label NEWCARD
    refill
    deep_finish fat16qf fat16qf.img
}

fat32qf() {
    local img=$OUT/fat32qf.img
    rm -f "$img"
    mkfs.fat -C -F 32 -s 4 -i 5EEDD032 "$img" 163840 >/dev/null
    volume fat32qf "$img" 0
    record_layout fat32qf
    hint 0xFFFFFFFF
    label OLDCARD
    fill
    put "/DCIM/100PHOTO/照片 假期.jpg" jpeg 90
    # Enough entries to run 100PHOTO into a second cluster, which lies after
    # the files' data; the subfolder made then has its entry there.
    local i
    for i in $(seq 10 29); do
        put "/DCIM/100PHOTO/Photo number $i.txt" text 300
    done
    md /DCIM/100PHOTO/EDITED
    put /DCIM/100PHOTO/EDITED/CROP.TXT text 400
    put "/DCIM/100PHOTO/Photo number 30.txt" text 300
    snap
    del /DCIM/100PHOTO/IMG_0003.JPG intact
    del "/DOCS/Meeting notes.txt" intact
    del "/DCIM/100PHOTO/Photo number 30.txt" intact
    mkfs.fat -F 32 -s 4 -i 5EEDD132 "$img" >/dev/null
    hint 0xFFFFFFFF
    label NEWCARD
    refill
    deep_finish fat32qf fat32qf.img
}

noboot() {
    local img=$OUT/noboot.img
    rm -f "$img"
    mkfs.fat -C -F 16 -s 4 -r 512 -i 5EEDD0B0 "$img" 16384 >/dev/null
    volume noboot "$img" 0
    record_layout noboot
    label NOBOOT
    fill
    md /TRASH "/TRASH/Inner Folder"
    put /TRASH/A.TXT text 1200
    put "/TRASH/Inner Folder/photo two.jpg" jpeg 100
    del "/DCIM/100PHOTO/Holiday at the sea.jpg" intact
    del /DOCS/BUDGET.DAT intact
    deltree /TRASH
    zero_sector "$img" 0
    deep_finish noboot noboot.img
}

lostdir() {
    local img=$OUT/lostdir.img
    rm -f "$img"
    mkfs.fat -C -F 32 -s 4 -i 5EEDD1D1 "$img" 163840 >/dev/null
    volume lostdir "$img" 0
    record_layout lostdir
    hint 0xFFFFFFFF
    label LOSTDIR
    put /FIRST.BIN bin 8192
    md /ALBUM
    put /ALBUM/PIC_0001.JPG jpeg 140
    put "/ALBUM/Summer evening.jpg" jpeg 120
    put /ALBUM/NOTES.TXT text 1500
    md /KEEP
    put /KEEP/STAY.TXT text 900
    snap
    deltree /ALBUM
    # The next file takes the deleted folder's slot in the root; its data
    # goes far from the folder's clusters.
    hint 40000
    put /LATER.TXT text 2000
    hint 0xFFFFFFFF
    snap
    deep_finish lostdir lostdir.img
}

mbr() {
    local img=$OUT/mbr.img a=2048 asize=327680 b bsize=32768
    b=$((a + asize))
    rm -f "$img"
    truncate -s $(((b + bsize) * 512)) "$img"
    printf 'label: dos\nlabel-id: 0x5eed0002\nunit: sectors\n\nstart=%d, size=%d, type=c\nstart=%d, size=%d, type=6\n' \
        "$a" "$asize" "$b" "$bsize" | sfdisk --no-reread --no-tell-kernel -q "$img" >/dev/null
    # (mkfs.fat warns that the disk is larger than the volume it is told to make.)
    mkfs.fat -F 32 -s 4 -h "$a" -i 5EEDD0A1 --offset="$a" "$img" $((asize / 2)) >/dev/null 2>&1
    mkfs.fat -F 16 -s 8 -r 512 -h "$b" -i 5EEDD0B1 --offset="$b" "$img" $((bsize / 2)) >/dev/null

    volume mbra "$img" $((a * 512))
    record_layout mbra
    hint 0xFFFFFFFF
    label PARTONE
    # PHOTOS takes cluster 4, as WORK does on the second volume: a folder
    # of one volume read where the other volume's layout puts it starts
    # with a dot pair of the right number.
    put /FIRST.BIN bin 2048
    md /PHOTOS /PHOTOS/2021
    put /PHOTOS/2021/IMG_0101.JPG jpeg 150
    put "/PHOTOS/2021/Birthday cake.jpg" jpeg 130
    put "/Shopping list.txt" text 1400
    snap
    del /PHOTOS/2021/IMG_0101.JPG intact

    volume mbrb "$img" $((b * 512))
    record_layout mbrb
    label PARTTWO
    put /FIRST.BIN bin 8192
    md /WORK /WORK/OLD
    put "/WORK/Project plan.txt" text 4000
    put /WORK/OLD/ARCHIVE.DAT bin 6000
    put /README.TXT text 500
    snap
    del /WORK/OLD/ARCHIVE.DAT intact

    zero_sector "$img" 0
    revisit mbra "$img" $((a * 512))
    deep_finish mbra mbr.img
    revisit mbrb "$img" $((b * 512))
    deep_finish mbrb mbr.img
}

# A 64 GiB card with a few hundred files, its boot sector zeroed: what a
# deep scan of a large card holds in memory.
big() {
    local img=$OUT/big.img src=$STAGE/bigsrc d i
    rm -f "$img"
    mkfs.fat -C -F 32 -s 64 -i 5EEDB16B "$img" $((64 * 1024 * 1024)) >/dev/null
    mkdir -p "$src"
    for d in 100PHOTO 101PHOTO 102PHOTO DOCS; do
        mkdir -p "$src/$d"
        for i in $(seq -w 1 80); do
            "$PY" "$STAGE/fat.py" gen text $((1000 + 37 * 10#$i)) "$d$i" "$src/$d/File number $i.txt"
        done
    done
    MTOOLS_NO_VFAT=0 mcopy -s -i "$img" "$src" ::/CARD
    mdel -i "$img" "::/CARD/100PHOTO/File number 0*.txt"
    zero_sector "$img" 0
}

# Directory sectors built byte by byte, 8 sectors per cluster, data area at
# sector 80000: first 70000 sectors of short entries before any folder start
# (more than the engine parks), then folders whose first sector is a dot
# pair: 140000 folder entries with 255-character long names, then 4.5
# million file entries (more of each than the engine keeps).
worst() {
    "$PY" - "$OUT/worst.img" <<'PYEOF'
import struct, sys
DATE = ((2021 - 1980) << 9) | (6 << 5) | 15
SPC, BASE = 8, 80000

def short(name11, attr, cluster, size=0):
    e = bytearray(32)
    e[0:11] = name11
    e[11] = attr
    struct.pack_into('<HHHHHHHI', e, 14, 0, DATE, DATE, cluster >> 16, 0, DATE, cluster & 0xFFFF, size)
    return bytes(e)

def checksum(n):
    s = 0
    for b in n:
        s = (((s >> 1) | (s << 7)) + b) & 0xFF
    return s

def named(text, name11, cluster):
    units = [ord(c) for c in text] + [0]
    units += [0xFFFF] * (-len(units) % 13)
    parts = len(units) // 13
    out = b''
    for seq in range(parts, 0, -1):
        u = units[(seq - 1) * 13:seq * 13]
        e = bytearray(32)
        e[0] = seq | (0x40 if seq == parts else 0)
        e[11], e[13] = 0x0F, checksum(name11)
        for k, at in enumerate((1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30)):
            struct.pack_into('<H', e, at, u[k])
        out += bytes(e)
    return out + short(name11, 0x10, cluster)

with open(sys.argv[1], 'wb') as f:
    for i in range(70000):
        f.write(b''.join(short(b'P%07d   ' % ((i * 16 + k) % 10**7), 0x20, 0) for k in range(16)))
    f.seek(BASE * 512)
    cluster = 2
    def folders(entries):
        # Folders of one cluster each: a dot pair and 126 entries.
        global cluster
        for at in range(0, len(entries), 126):
            body = short(b'.          ', 0x10, cluster) + short(b'..         ', 0x10, 0)
            body += b''.join(entries[at:at + 126])
            f.write(body.ljust(SPC * 512, b'\0'))
            cluster += 1
    entries = []
    for i in range(140000):
        run = named(('folder %06d ' % i).ljust(255, 'x'), b'F%07d   ' % i, 10**6 + i)
        entries += [run[k:k + 32] for k in range(0, len(run), 32)]
    entries += [short(b'F%07d   ' % (i % 10**7), 0x20, 0) for i in range(4500000)]
    folders(entries)
PYEOF
}

if [ -n "$ONLY" ]; then
    "$ONLY"
    exit 0
fi
fat16qf
fat32qf
noboot
lostdir
mbr
