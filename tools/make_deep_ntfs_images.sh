#!/usr/bin/env bash
# Makes NTFS images whose files only a deep scan finds again, for the deep
# NTFS engine's tests: mkntfs formats, ntfs-3g (a FUSE mount, so this needs
# root or a setuid ntfs-3g) writes and deletes through the real file system.
#
# Usage: tools/make_deep_ntfs_images.sh OUTDIR
#        tools/make_deep_ntfs_images.sh --big OUTDIR
#
# Writes into OUTDIR (created when missing):
#   quick.img   NTFS, 64 MiB, 512-byte sectors, 4 KiB clusters: filled with
#               files (some deleted), quick-formatted over (mkntfs -Q, the same
#               geometry) and given a few new files. The old files are in old
#               MFT records the new volume no longer knows.
#   mbr.img     a 48 MiB MBR disk (sfdisk) with one NTFS partition at sector
#               2048 holding files (some deleted, one in hundreds of pieces),
#               whose partition table was then zeroed: the disk shows no
#               volume at all.
# With --big, only big.img: a sparse 64 GiB NTFS volume holding a few
# hundred files in folders (some deleted), then quick-formatted over, for
# measuring a deep scan of a large card (it is not used by the tests).
#
# Beside each image NAME.manifest, a tab-separated list of every file and
# folder the script made before the format (or the table's loss), as the
# image holds it at the end:
#
#   #@ key=value   volume facts: image, volume_start_sector (absolute sector
#                  of the NTFS volume the files were made on), sector_count
#                  (of the image), sectors_per_cluster
#   # ...          comment
#   type state size sha256 record record_sector shown path
#
#   type           file | dir
#   state          intact  the item's record is still where it was, and for
#                          a file its data reads back whole from it
#                  named   a file whose record is still there but whose data
#                          does not read back whole (other data took clusters)
#                  kept    a folder whose record is still there
#                  gone    the record now holds something else
#                  covered the record is still there, but in clusters the
#                          volume now in place uses (its MFT grew over it):
#                          a sweep of the free space does not read it
#   size           bytes (0 for folders)
#   sha256         of the content as written ("-" for folders)
#   record         MFT record number
#   record_sector  absolute 512-byte sector of the image where the record is
#   shown          the path a deep scan shows: folders whose record is gone
#                  become "LostFolder<record>" at the root, what lay above
#                  them is not known any more
#   path           '/'-separated from the volume root, UTF-8, as created
#
# When the volume cannot be mounted (no FUSE, not root) the script writes
# OUTDIR/SKIPPED with the reason and exits 0, so that tests skip.
#
# The states are measured on the finished image by reading the records and
# clusters where the items were before (not assumed); the script fails when
# the old MFT was not contiguous (the scenario needs it so).
set -euo pipefail

BIG=0
if [ "${1:-}" = "--big" ]; then
    BIG=1
    shift
fi
if [ $# -ne 1 ]; then
    echo "usage: $0 [--big] OUTDIR" >&2
    exit 2
fi
for tool in mkntfs ntfs-3g sfdisk convert python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$0: $tool is missing (ntfs-3g, fdisk, imagemagick, python3)" >&2; exit 1; }
done
mkdir -p "$1"
OUT=$(cd "$1" && pwd)
rm -f "$OUT/SKIPPED"

export TZ=UTC LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=1623758400
PY=$(python3 -c 'import sys; print(sys.executable)')

STAGE=$(mktemp -d)
MNT=$STAGE/mnt
mkdir "$MNT" "$STAGE/src"
cleanup() {
    mountpoint -q "$MNT" 2>/dev/null && umount "$MNT" 2>/dev/null
    rm -rf "$STAGE"
}
trap cleanup EXIT

# ---------------------------------------------------------------------------
# The measuring side: reads the volume's MFT directly, notes where each item
# lives before the format, and at the end reads those places again.
cat >"$STAGE/measure.py" <<'PYEOF'
import hashlib, json, os, struct, sys

def u16(b, o): return struct.unpack_from('<H', b, o)[0]
def u32(b, o): return struct.unpack_from('<I', b, o)[0]
def u64(b, o): return struct.unpack_from('<Q', b, o)[0]

class Volume:
    def __init__(self, image, offset):
        self.f = open(image, 'rb')
        self.off = offset
        bs = self.read(offset, 512)
        if bs[3:11] != b'NTFS    ':
            sys.exit('no NTFS boot sector')
        self.bps = u16(bs, 11) or 512
        self.spc = bs[13]
        self.cs = self.bps * self.spc
        self.mftc = u64(bs, 0x30)
        self.rb = 1024
        r0 = self.fixed(self.off + self.mftc * self.cs)
        self.mft = []
        for a in self.attrs(r0):
            if a['type'] == 0x80 and a['nonres'] and a['namelen'] == 0:
                self.mft = self.runs(a)
                break

    def read(self, o, n):
        self.f.seek(o)
        return self.f.read(n)

    def fixed(self, o):
        r = bytearray(self.read(o, self.rb))
        if r[:4] != b'FILE':
            return bytes(r)
        usa, n = u16(r, 4), u16(r, 6) - 1
        for i in range(n):
            r[512 * (i + 1) - 2:512 * (i + 1)] = r[usa + 2 + 2 * i:usa + 4 + 2 * i]
        return bytes(r)

    def rec_offset(self, n):
        o, pos = n * self.rb, 0
        for lcn, cnt in self.mft:
            size = cnt * self.cs
            if o < pos + size:
                return self.off + lcn * self.cs + o - pos
            pos += size
        return None

    def rec(self, n):
        o = self.rec_offset(n)
        return None if o is None else self.fixed(o)

    def attrs(self, r):
        out, p, end = [], u16(r, 0x14), min(u32(r, 0x18), len(r))
        while p + 8 <= end:
            t = u32(r, p)
            if t == 0xFFFFFFFF:
                break
            ln = u32(r, p + 4)
            if ln < 0x18 or p + ln > end:
                break
            a = {'type': t, 'nonres': r[p + 8], 'namelen': r[p + 9], 'raw': r[p:p + ln]}
            if not r[p + 8]:
                vl, vo = u32(r, p + 0x10), u16(r, p + 0x14)
                a['value'] = r[p + vo:p + vo + vl]
            else:
                a['svcn'], a['size'] = u64(r, p + 0x10), u64(r, p + 0x30)
            out.append(a)
            p += ln
        return out

    def runs(self, a):
        raw, p, out, lcn = a['raw'], u16(a['raw'], 0x20), [], 0
        while p < len(raw) and raw[p]:
            h = raw[p]
            la, lb = h & 15, h >> 4
            cnt = int.from_bytes(raw[p + 1:p + 1 + la], 'little')
            if lb:
                lcn += int.from_bytes(raw[p + 1 + la:p + 1 + la + lb], 'little', signed=True)
                out.append((lcn, cnt))
            else:
                out.append((None, cnt))
            p += 1 + la + lb
        return out

    def names(self, r, n):
        # (parent, name) of the long name, else the first, looking into the
        # extension records an attribute list names.
        found = []
        for a in self.attrs(r):
            if a['type'] == 0x30 and 'value' in a:
                found.append(a['value'])
            if a['type'] == 0x20 and 'value' in a:
                v, p = a['value'], 0
                while p + 0x1A <= len(v) and u16(v, p + 4) >= 0x1A:
                    ref = u64(v, p + 0x10) & 0xFFFFFFFFFFFF
                    if u32(v, p) == 0x30 and ref != n:
                        found += [b['value'] for b in self.attrs(self.rec(ref)) if b['type'] == 0x30 and 'value' in b]
                    p += u16(v, p + 4)
        best = None
        for v in found:
            nm = (u32(v, 0), v[0x42:0x42 + 2 * v[0x40]].decode('utf-16-le'), v[0x41])
            if best is None or nm[2] == 1:
                best = nm
        return best

    def data(self, n, r):
        # Resident bytes, or the byte extents (offset or None for a hole,
        # length) of the unnamed data, through an attribute list.
        attrs = self.attrs(r)
        for a in attrs:
            if a['type'] == 0x80 and a['namelen'] == 0 and not a['nonres']:
                return a['value'], None
        pieces = [a for a in attrs if a['type'] == 0x80 and a['namelen'] == 0 and a['nonres']]
        for a in attrs:
            if a['type'] == 0x20 and 'value' in a:
                v, p, pieces = a['value'], 0, []
                while p + 0x1A <= len(v) and u16(v, p + 4) >= 0x1A:
                    ref = u64(v, p + 0x10) & 0xFFFFFFFFFFFF
                    if u32(v, p) == 0x80 and v[p + 6] == 0:
                        rr = r if ref == n else self.rec(ref)
                        pieces += [b for b in self.attrs(rr) if b['type'] == 0x80 and b['namelen'] == 0
                                   and b['nonres'] and b['svcn'] == u64(v, p + 8)]
                    p += u16(v, p + 4)
        if not pieces:
            return b'', None
        runs = []
        for a in sorted(pieces, key=lambda a: a['svcn']):
            runs += self.runs(a)
        size = [a for a in pieces if a['svcn'] == 0][0]['size']
        extents, left = [], size
        for lcn, cnt in runs:
            if left <= 0:
                break
            ln = min(cnt * self.cs, left)
            extents.append((None if lcn is None else self.off + lcn * self.cs, ln))
            left -= ln
        return None, extents

    def lookup(self, path):
        # Record of a live path, by the names of the records in use.
        if not hasattr(self, 'tree'):
            self.tree, n = {}, 16
            while self.rec_offset(n) is not None:
                r = self.rec(n)
                if r[:4] == b'FILE' and u16(r, 0x16) & 1 and u64(r, 0x20) & 0xFFFFFFFFFFFF == 0:
                    nm = self.names(r, n)
                    if nm:
                        self.tree[(nm[0], nm[1])] = n
                n += 1
        cur = 5
        for part in [p for p in path.split('/') if p]:
            if (cur, part) not in self.tree:
                sys.exit('not on the volume: ' + path)
            cur = self.tree[(cur, part)]
        return cur

def load_items(path):
    with open(path, encoding='utf-8') as f:
        return [l.rstrip('\n').split('\t') for l in f]

def snap(image, offset, items_file, snap_file):
    # Where each item made so far lives: its record and its data.
    v = Volume(image, offset)
    if len(v.mft) != 1:
        sys.exit('the MFT is in %d pieces; the scenario needs it in one' % len(v.mft))
    done = {}
    if os.path.exists(snap_file):
        with open(snap_file, encoding='utf-8') as f:
            done = {json.loads(l)['path']: 1 for l in f}
    with open(snap_file, 'a', encoding='utf-8') as f:
        for kind, p, src in load_items(items_file):
            if p in done:
                continue
            n = v.lookup(p)
            item = {'path': p, 'kind': kind, 'src': src, 'record': n, 'sector': v.rec_offset(n) // 512}
            if kind == 'file':
                res, ext = v.data(n, v.rec(n))
                item['extents'] = ext
            f.write(json.dumps(item) + '\n')

def used_clusters(v):
    # The bitmap of the volume now at the image's start (record 6).
    r = v.rec(6)
    for a in v.attrs(r):
        if a['type'] == 0x80 and a['namelen'] == 0:
            if not a['nonres']:
                return a['value']
            out = bytearray()
            for lcn, cnt in v.runs(a):
                out += bytes(cnt * v.cs) if lcn is None else v.read(v.off + lcn * v.cs, cnt * v.cs)
            return bytes(out[:a['size']])
    return b''

def final(image, offset, snap_file, manifest, label, swept):
    v = Volume(image, offset)
    with open(snap_file, encoding='utf-8') as f:
        items = [json.loads(l) for l in f]
    # With a volume at the start, the deep sweep reads only its free clusters.
    bitmap = used_clusters(Volume(image, 0)) if swept == 'free' else b''
    def covered(sector):
        c = sector * 512 // v.cs
        return c // 8 < len(bitmap) and bitmap[c // 8] >> (c % 8) & 1
    by_path = {i['path']: i for i in items}
    state = {}
    for it in items:
        n, r = it['record'], v.fixed(it['sector'] * 512)
        nm = v.names(r, n) if r[:4] == b'FILE' else None
        there = (r[:4] == b'FILE' and u32(r, 0x2C) == n and u64(r, 0x20) & 0xFFFFFFFFFFFF == 0 and
                 bool(u16(r, 0x16) & 2) == (it['kind'] == 'dir') and nm is not None and
                 nm[1] == it['path'].split('/')[-1])
        if it['kind'] == 'dir':
            state[it['path']] = 'kept' if there else 'gone'
            continue
        content = open(it['src'], 'rb').read()
        if not there:
            state[it['path']] = 'gone'
            continue
        if covered(it['sector']):
            state[it['path']] = 'covered'
            continue
        if it['extents'] is None:
            got, _ = v.data(n, r)
        else:
            got = b''.join(bytes(ln) if o is None else v.read(o, ln) for o, ln in it['extents'])
        state[it['path']] = 'intact' if got == content else 'named'
    rows = []
    for it in items:
        # The path a deep scan shows: up from the item to the first folder
        # whose record is gone.
        parts = it['path'].strip('/').split('/')
        shown = [parts[-1]]
        for k in range(len(parts) - 1, 0, -1):
            folder = '/' + '/'.join(parts[:k])
            if state[folder] == 'gone':
                shown.insert(0, 'LostFolder%d' % by_path[folder]['record'])
                break
            shown.insert(0, parts[k - 1])
        data = open(it['src'], 'rb').read() if it['kind'] == 'file' else b''
        sha = hashlib.sha256(data).hexdigest() if it['kind'] == 'file' else '-'
        rows.append([it['kind'], state[it['path']], str(len(data)), sha, str(it['record']), str(it['sector']),
                     '/'.join(shown), it['path']])
    with open(manifest, 'w', encoding='utf-8') as f:
        f.write('# Files and folders of %s, written by tools/make_deep_ntfs_images.sh.\n' % label)
        f.write('# columns: type state size sha256 record record_sector shown path\n')
        for k, val in [('image', label), ('volume_start_sector', offset // 512),
                       ('sector_count', os.path.getsize(image) // 512), ('sectors_per_cluster', v.spc)]:
            f.write('#@ %s=%s\n' % (k, val))
        for row in rows:
            f.write('\t'.join(row) + '\n')

def gen(kind, size, seed, out):
    # Text files are printable lines naming their file; binary files a hash
    # stream nothing else on the volume matches.
    buf, i = bytearray(), 0
    while len(buf) < size:
        i += 1
        if kind == 'text':
            buf += ('%s line %05d: the quick brown fox jumps over the lazy dog\n' % (seed, i)).encode()
        else:
            buf += hashlib.sha256(('%s/%d' % (seed, i)).encode()).digest()
    with open(out, 'wb') as f:
        f.write(bytes(buf[:size]))

if __name__ == '__main__':
    mode = sys.argv[1]
    if mode == 'gen':
        gen(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5])
    elif mode == 'snap':
        snap(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5])
    elif mode == 'final':
        final(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5], sys.argv[6], sys.argv[7])
PYEOF

# ---------------------------------------------------------------------------
# The acting side: ntfs-3g on the current volume, with a list of its items.
IMG=""
VOLOFF=0
ITEMS=""
SNAP=""
NSRC=0

volume() { # NAME IMAGE BYTE-OFFSET
    IMG=$2
    VOLOFF=$3
    ITEMS=$STAGE/$1.items
    SNAP=$STAGE/$1.snap
    : >"$ITEMS"
    : >"$SNAP"
}

mnt() {
    if ! ntfs-3g "$IMG" "$MNT" 2>"$STAGE/mount.err"; then
        echo "cannot mount an NTFS image with ntfs-3g (FUSE): $(head -c 300 "$STAGE/mount.err")" >"$OUT/SKIPPED"
        echo "$0: $(cat "$OUT/SKIPPED")" >&2
        exit 0
    fi
}
umnt() {
    sync
    umount "$MNT"
}

SRC=""
gen() { # text|bin|jpeg SIZE: a source file in SRC
    NSRC=$((NSRC + 1))
    SRC=$STAGE/src/$NSRC
    case $1 in
        jpeg) convert -size "$2x$(($2 * 2 / 3))" -seed "$NSRC" plasma:fractal -strip -quality 85 "jpeg:$SRC" ;;
        *) "$PY" "$STAGE/measure.py" gen "$1" "$2" "file$NSRC" "$SRC" ;;
    esac
}

md() { # PATH...
    local p
    for p in "$@"; do
        mkdir "$MNT$p"
        printf 'dir\t%s\t-\n' "$p" >>"$ITEMS"
    done
}

put() { # PATH KIND SIZE
    gen "$2" "$3"
    cp "$SRC" "$MNT$1"
    printf 'file\t%s\t%s\n' "$1" "$SRC" >>"$ITEMS"
}

# Files of the new volume, not in the list.
extra() { # PATH KIND SIZE
    gen "$2" "$3"
    cp "$SRC" "$MNT$1"
}

pad() { # FOLDER COUNT: small resident files that take MFT records
    local i
    for i in $(seq 1 "$2"); do
        SRC=$STAGE/src/pad-${1//\//_}-$i
        printf 'padding %03d of %s\n' "$i" "$1" >"$SRC"
        cp "$SRC" "$MNT$1/p$i.txt"
        printf 'file\t%s\t%s\n' "$1/p$i.txt" "$SRC" >>"$ITEMS"
    done
}

# interleave PATH-A PATH-B PIECES: two files written 4 KiB at a time in
# turns, so that each one's clusters alternate with the other's.
interleave() {
    local a=$1 b=$2 i
    gen bin $(($3 * 4096))
    local sa=$SRC
    gen bin $(($3 * 4096 + 1000))
    local sb=$SRC
    : >"$MNT$a"
    : >"$MNT$b"
    for ((i = 0; i < $3; i++)); do
        dd if="$sa" of="$MNT$a" bs=4096 skip="$i" seek="$i" count=1 conv=notrunc status=none
        dd if="$sb" of="$MNT$b" bs=4096 skip="$i" seek="$i" count=1 conv=notrunc status=none
    done
    dd if="$sb" of="$MNT$b" bs=4096 skip="$3" seek="$3" count=1 conv=notrunc status=none
    printf 'file\t%s\t%s\n' "$a" "$sa" >>"$ITEMS"
    printf 'file\t%s\t%s\n' "$b" "$sb" >>"$ITEMS"
}

snap() { "$PY" "$STAGE/measure.py" snap "$IMG" "$VOLOFF" "$ITEMS" "$SNAP"; }
finish() { # NAME free|all: what the deep sweep reads
    "$PY" "$STAGE/measure.py" final "$IMG" "$VOLOFF" "$SNAP" "$OUT/$1.manifest" "$1.img" "$2"
}

# ---------------------------------------------------------------------------
# A card used for a while, then quick-formatted and written again. The new
# MFT takes the first records of the old one; padding files first push the
# items to records past what the new volume's MFT grows to.
quick() {
    local img=$OUT/quick.img i
    rm -f "$img"
    truncate -s 64M "$img"
    mkntfs -q -Q -F -T -s 512 -c 4096 -L OLDCARD "$img" >/dev/null 2>&1
    volume quick "$img" 0
    mnt
    # A folder made first keeps a record the new volume takes again: its
    # files, made later, are left without it.
    md /Early /Pad
    pad /Pad 150
    md /DCIM /DCIM/100CAMERA /Docs /Docs/Sub /Trash
    put /DCIM/100CAMERA/IMG_0001.jpg jpeg 320
    put /DCIM/100CAMERA/IMG_0002.jpg jpeg 300
    put /DCIM/100CAMERA/IMG_0003.jpg jpeg 280
    put /Docs/report.txt text 9000
    put /Docs/notes.txt text 700
    put "/Docs/Sub/Größe ünd Ωmega.txt" text 2500
    put /Docs/Sub/data.bin bin 150000
    put /Trash/old.txt text 3000
    put /readme.txt text 400
    put /video.bin bin 1200000
    put /Early/late.txt text 1800
    interleave /Docs/frag-a.bin /Docs/frag-b.bin 6
    umnt
    snap
    mnt
    rm "$MNT/DCIM/100CAMERA/IMG_0002.jpg" "$MNT/Docs/notes.txt"
    rm -r "$MNT/Trash"
    umnt
    # The quick format: a new, empty volume of the same geometry over it.
    mkntfs -q -Q -F -T -s 512 -c 4096 -L NEWCARD "$img" >/dev/null 2>&1
    mnt
    extra /first.txt text 5000
    extra /second.txt text 300
    extra /third.bin bin 20000
    umnt
    finish quick free
}

# A disk whose partition table was lost: one NTFS volume at sector 2048.
mbr() {
    local img=$OUT/mbr.img part=$STAGE/part.img
    local start=2048 size=94208
    rm -f "$img"
    truncate -s $(((start + size) * 512)) "$img"
    printf 'label: dos\nlabel-id: 0x5eed0001\nunit: sectors\n\nstart=%d, size=%d, type=7\n' "$start" "$size" |
        sfdisk --no-reread --no-tell-kernel -q "$img" >/dev/null
    truncate -s $((size * 512)) "$part"
    mkntfs -q -Q -F -T -s 512 -c 2048 -p "$start" -L LOSTDISK "$part" >/dev/null 2>&1
    volume mbr "$part" 0
    mnt
    md /Music /Music/Album /Work
    put /Music/Album/track01.bin bin 90000
    put /Music/Album/track02.bin bin 60000
    put /Music/cover.jpg jpeg 200
    put /Work/plan.txt text 4000
    put /Work/tiny.txt text 300
    put /Work/empty.txt text 0
    put /top.txt text 1500
    # Hundreds of pieces do not fit one record: the runs and the name move
    # to extension records named by an attribute list.
    interleave /Work/many.bin /Work/many-b.bin 300
    umnt
    snap
    mnt
    rm "$MNT/Music/Album/track02.bin" "$MNT/Work/tiny.txt"
    umnt
    dd if="$part" of="$img" bs=512 seek="$start" conv=notrunc status=none
    # Record sectors of the manifest are absolute on the disk; the table goes.
    IMG=$img
    VOLOFF=$((start * 512))
    "$PY" - "$SNAP" "$start" <<'PYEOF'
import json, sys
path, start = sys.argv[1], int(sys.argv[2])
items = [json.loads(l) for l in open(path, encoding='utf-8')]
with open(path, 'w', encoding='utf-8') as f:
    for it in items:
        it['sector'] += start
        if it.get('extents'):
            it['extents'] = [[None if o is None else o + start * 512, n] for o, n in it['extents']]
        f.write(json.dumps(it) + '\n')
PYEOF
    finish mbr all
    dd if=/dev/zero of="$img" bs=512 count=1 conv=notrunc status=none
}

# A large card: a sparse 64 GiB volume with a few hundred files in folders,
# quick-formatted over.
big() {
    local img=$OUT/big.img d i
    rm -f "$img"
    truncate -s 64G "$img"
    mkntfs -q -Q -F -T -s 512 -c 4096 -L BIGCARD "$img" >/dev/null 2>&1
    volume big "$img" 0
    mnt
    md /Pad
    pad /Pad 100
    for d in $(seq 1 10); do
        md "/Folder$d"
        for i in $(seq 1 30); do
            put "/Folder$d/file$i.bin" bin $((d * 7000 + i * 1500))
        done
    done
    umnt
    snap
    mnt
    for d in $(seq 1 10); do
        rm "$MNT/Folder$d/file1.bin" "$MNT/Folder$d/file2.bin"
    done
    umnt
    mkntfs -q -Q -F -T -s 512 -c 4096 -L BIGCARD "$img" >/dev/null 2>&1
    finish big free
}

if [ "$BIG" = 1 ]; then
    big
else
    quick
    mbr
fi
