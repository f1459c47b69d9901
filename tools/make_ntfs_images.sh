#!/usr/bin/env bash
# Makes NTFS volume images with known deleted files, for the NTFS engine's
# tests: mkntfs formats, ntfs-3g (a FUSE mount, so this needs root or a
# setuid ntfs-3g) writes and deletes through the real file system.
#
# Usage: tools/make_ntfs_images.sh OUTDIR
#
# Writes into OUTDIR (created when missing):
#   ntfs.img      NTFS, 32 MiB, 512-byte sectors, 4 KiB clusters: the full scenario
#   ntfs4k.img    NTFS, 16 MiB, 4096-byte sectors (4096-byte records)
#   gpt.img       GPT disk: partition 1 FAT32 (sector 2048), partition 2 NTFS
#   gpt-ntfs.img  the NTFS partition of gpt.img on its own (the manifest's source)
# and beside each NTFS image NAME.manifest (gpt.img: gpt.manifest for its
# NTFS partition), a tab-separated list of every file and folder the script
# made on the volume, deleted or not:
#
#   #@ key=value        volume facts (partition_start_sector, sector_count,
#                       bytes_per_sector, sectors_per_cluster, record_bytes,
#                       mft_cluster) and fn_mtime_<record>=<seconds since 1970>,
#                       the modification time in each item's file-name attribute
#   # ...               comment
#   type state size sha256 record record_sector form path
#
#   type           file | dir
#   state          live        not deleted
#                  intact      deleted; the record still describes the data and
#                              the data reads back whole from it
#                  partial     deleted; the first cluster is the file's, later ones not
#                  overwritten deleted; the first cluster now holds other data
#                  reused      deleted; its record now belongs to another file
#                  unnamed     deleted; its record no longer holds a file name (the
#                              name had moved to an extension record, which
#                              ntfs-3g empties on deletion); nothing is claimed
#                              about its data
#   size           bytes (0 for folders)
#   sha256         of the content as written ("-" for folders)
#   record         MFT record number
#   record_sector  absolute 512-byte sector of the image where the record starts
#   form           dir | resident | nonresident | fragmented | sparse | listed
#                  (listed: the data runs lie in other records, named by an
#                  attribute list)
#   path           '/'-separated from the volume root, UTF-8
#
# When the volume cannot be mounted (no FUSE, not root) the script writes
# OUTDIR/SKIPPED with the reason and exits 0, so that tests skip.
#
# Every state and form above is measured on the finished image by reading the
# MFT directly (not assumed): the script fails when ntfs-3g placed records or
# data otherwise than the scenario expects.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
for tool in mkntfs ntfs-3g mkfs.fat mcopy mdel sfdisk convert python3 sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$0: $tool is missing (ntfs-3g, dosfstools, mtools, fdisk, imagemagick, python3)" >&2; exit 1; }
done
mkdir -p "$1"
OUT=$(cd "$1" && pwd)
rm -f "$OUT/SKIPPED"

export TZ=UTC LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=1623758400
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null
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
# The measuring side: reads the MFT of the image directly (boot sector, the
# MFT's runs, fix-ups, attributes, run lists), records where each item lives
# before it is deleted, and at the end compares what the image holds with
# what was written.
cat >"$STAGE/ntfs.py" <<'PYEOF'
import hashlib, os, struct, sys

def u16(b, o): return struct.unpack_from('<H', b, o)[0]
def u32(b, o): return struct.unpack_from('<I', b, o)[0]
def u64(b, o): return struct.unpack_from('<Q', b, o)[0]

class Volume:
    def __init__(self, image, offset):
        with open(image, 'rb') as f:
            self.img = f.read()
        self.off = offset
        bs = self.img[offset:offset + 512]
        if bs[3:11] != b'NTFS    ':
            sys.exit('no NTFS boot sector')
        self.bps = u16(bs, 11) or 512
        self.spc = bs[13]
        self.cs = self.bps * self.spc
        self.total = u64(bs, 0x28)
        self.mftc = u64(bs, 0x30)
        self.rb = 1024 if self.bps == 512 else self.bps
        r0 = self.fixed(self.off + self.mftc * self.cs)
        self.mft = []
        for a in self.attrs(r0):
            if a['type'] == 0x80 and a['nonres'] and a['namelen'] == 0:
                self.mft = self.runs(a)
                break

    def fixed(self, o):
        # The update sequence protects every 512 bytes of a record.
        r = bytearray(self.img[o:o + self.rb])
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

    def records(self):
        n = 0
        while self.rec_offset(n) is not None:
            yield n, self.rec(n)
            n += 1

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
                a['svcn'], a['evcn'], a['size'] = u64(r, p + 0x10), u64(r, p + 0x18), u64(r, p + 0x30)
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

    def names(self, r):
        # (parent, name, modify time) of the long name, else the first.
        best = None
        for a in self.attrs(r):
            if a['type'] == 0x30 and 'value' in a:
                v = a['value']
                n = (u32(v, 0), v[0x42:0x42 + 2 * v[0x40]].decode('utf-16-le'), u64(v, 0x10), v[0x41])
                if best is None or n[3] == 1:
                    best = n
        return best

    def data(self, n, r):
        # (form, runs or resident bytes, size) of the unnamed data, following
        # an attribute list into extension records.
        attrs = self.attrs(r)
        for a in attrs:
            if a['type'] == 0x80 and a['namelen'] == 0 and not a['nonres']:
                return 'resident', a['value'], len(a['value'])
        pieces = [a for a in attrs if a['type'] == 0x80 and a['namelen'] == 0 and a['nonres']]
        form = None
        for a in attrs:
            if a['type'] == 0x20:
                v = a['value'] if 'value' in a else self.read_runs(self.runs(a), a['size'])
                p, pieces, form = 0, [], 'listed'
                while p + 0x1A <= len(v):
                    t, ln = u32(v, p), u16(v, p + 4)
                    if ln < 0x1A:
                        break
                    if t == 0x80 and v[p + 6] == 0:
                        ref = u64(v, p + 0x10) & 0xFFFFFFFFFFFF
                        rr = r if ref == n else self.rec(ref)
                        pieces += [b for b in self.attrs(rr) if b['type'] == 0x80 and b['namelen'] == 0
                                   and b['nonres'] and b['svcn'] == u64(v, p + 8)]
                    p += ln
        if not pieces:
            return None, [], 0
        runs = []
        for a in sorted(pieces, key=lambda a: a['svcn']):
            runs += self.runs(a)
        size = [a for a in pieces if a['svcn'] == 0][0]['size']
        if form is None:
            real = [x for x in runs if x[0] is not None]
            form = 'sparse' if len(real) < len(runs) else 'fragmented' if len(real) > 1 else 'nonresident'
        return form, runs, size

    def read_runs(self, runs, size):
        out = bytearray()
        for lcn, cnt in runs:
            if len(out) >= size:
                break
            if lcn is None:
                out += bytes(cnt * self.cs)
            else:
                o = self.off + lcn * self.cs
                out += self.img[o:o + cnt * self.cs]
        return bytes(out[:size])

    def lookup(self, path):
        # Record of a live path, by the file-name attributes of records in use.
        if not hasattr(self, 'tree'):
            self.tree = {}
            for n, r in self.records():
                if r[:4] == b'FILE' and u16(r, 0x16) & 1 and n >= 16:
                    nm = self.names(r)
                    if nm:
                        # A name moved to an extension record names its base record.
                        self.tree[(nm[0], nm[1])] = (u64(r, 0x20) & 0xFFFFFFFFFFFF) or n
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
    v = Volume(image, offset)
    done = set()
    if os.path.exists(snap_file):
        with open(snap_file, encoding='utf-8') as f:
            done = {l.split('\t')[0] for l in f}
    with open(snap_file, 'a', encoding='utf-8') as f:
        for kind, p, src, state, form in load_items(items_file):
            if p not in done:
                f.write('%s\t%d\n' % (p, v.lookup(p)))

def final(image, offset, sector_count, items_file, snap_file, manifest, label):
    v = Volume(image, offset)
    with open(snap_file, encoding='utf-8') as f:
        recs = dict((l.split('\t')[0], int(l.split('\t')[1])) for l in f)
    bad, rows, facts = [], [], []
    for kind, p, src, expect, want_form in load_items(items_file):
        data = open(src, 'rb').read() if kind == 'file' else b''
        n = recs.get(p)
        if n is None:
            bad.append(p + ': never recorded')
            continue
        r = v.rec(n)
        in_use = r[:4] == b'FILE' and u16(r, 0x16) & 1
        nm = v.names(r)
        if kind == 'dir':
            form = 'dir'
        else:
            form, runs, size = v.data(n, r)
        if expect == 'live':
            state = 'live'
            if not in_use or (nm and nm[1] != p.split('/')[-1]):
                bad.append(p + ': live item not in its record')
            elif kind == 'file':
                got = runs if form == 'resident' else v.read_runs(runs, size)
                if got != data:
                    bad.append(p + ': live file does not read back')
        elif in_use:
            state = 'reused'
        elif nm is None:
            state = 'unnamed'
        elif kind == 'dir':
            state = 'intact'
        else:
            got = runs if form == 'resident' else v.read_runs(runs, size)
            cs = v.cs if form != 'resident' else len(data)
            if size != len(data) or got[:min(cs, len(data))] != data[:cs]:
                state = 'overwritten'
            elif got == data:
                state = 'intact'
            else:
                state = 'partial'
        if state != expect:
            bad.append('%s: %s, expected %s' % (p, state, expect))
        if want_form != '-' and form != want_form and state != 'reused':
            bad.append('%s: form %s, expected %s' % (p, form, want_form))
        if nm and state != 'reused':
            facts.append('fn_mtime_%d=%d' % (n, nm[2] // 10000000 - 11644473600))
        sha = hashlib.sha256(data).hexdigest() if kind == 'file' else '-'
        rows.append([kind, state, str(len(data)), sha, str(n), str(v.rec_offset(n) // 512),
                     form or '-', p])
    if bad:
        sys.exit(label + ': ' + '; '.join(bad))
    with open(manifest, 'w', encoding='utf-8') as f:
        f.write('# Files and folders of %s, written by tools/make_ntfs_images.sh.\n' % label)
        f.write('# columns: type state size sha256 record record_sector form path\n')
        for k, val in [('image', label), ('partition_start_sector', offset // 512),
                       ('sector_count', sector_count), ('bytes_per_sector', v.bps),
                       ('sectors_per_cluster', v.spc), ('record_bytes', v.rb), ('mft_cluster', v.mftc)]:
            f.write('#@ %s=%s\n' % (k, val))
        for fact in facts:
            f.write('#@ %s\n' % fact)
        for row in rows:
            f.write('\t'.join(row) + '\n')

def gen(kind, size, seed, out):
    # Text files are printable lines naming their file; binary files a hash
    # stream nothing else on the volume matches; sparse files hold a block of
    # text far into a file of zeros.
    buf = bytearray()
    if kind == 'text':
        i = 0
        while len(buf) < size:
            i += 1
            buf += ('%s line %05d: the quick brown fox jumps over the lazy dog\n' % (seed, i)).encode()
    elif kind == 'bin':
        i = 0
        while len(buf) < size:
            buf += hashlib.sha256(('%s/%d' % (seed, i)).encode()).digest()
            i += 1
    with open(out, 'wb') as f:
        if kind == 'sparse':
            f.truncate(size)
            f.seek(size * 3 // 4)
            f.write(('%s: data after a hole\n' % seed).encode() * 200)
        else:
            f.write(bytes(buf[:size]))

if __name__ == '__main__':
    mode = sys.argv[1]
    if mode == 'gen':
        gen(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5])
    elif mode == 'snap':
        snap(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5])
    elif mode == 'final':
        final(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], sys.argv[6], sys.argv[7],
              sys.argv[8])
    elif mode == 'record':
        print(Volume(sys.argv[2], int(sys.argv[3])).lookup(sys.argv[4]))
PYEOF

# ---------------------------------------------------------------------------
# The acting side: ntfs-3g on the current volume, with a record of each item.
IMG=""
VOLOFF=0
ITEMS=""
SNAP=""
NSRC=0

volume() { # NAME IMAGE BYTE-OFFSET: the image holding the file system
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

# gen text|bin|sparse|jpeg|png SIZE: makes a source file and sets SRC to its
# path (SIZE is the width of a picture). Not in a subshell: the counter moves.
SRC=""
gen() {
    NSRC=$((NSRC + 1))
    SRC=$STAGE/src/$NSRC
    case $1 in
        jpeg) convert -size "$2x$(($2 * 2 / 3))" -seed "$NSRC" plasma:fractal -strip -quality 85 "jpeg:$SRC" ;;
        png) convert -size "$2x$(($2 * 2 / 3))" -seed "$NSRC" plasma:fractal -strip "png:$SRC" ;;
        *) "$PY" "$STAGE/ntfs.py" gen "$1" "$2" "file$NSRC" "$SRC" ;;
    esac
}

md() { # PATH...
    local p
    for p in "$@"; do
        mkdir "$MNT$p"
        printf 'dir\t%s\t-\tlive\tdir\n' "$p" >>"$ITEMS"
    done
}

put() { # PATH KIND SIZE [FORM]: a new file of generated content
    gen "$2" "$3"
    cp --sparse=always "$SRC" "$MNT$1"
    printf 'file\t%s\t%s\tlive\t%s\n' "$1" "$SRC" "${4:--}" >>"$ITEMS"
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
    printf 'file\t%s\t%s\tlive\t-\n' "$a" "$sa" >>"$ITEMS"
    printf 'file\t%s\t%s\tlive\t-\n' "$b" "$sb" >>"$ITEMS"
}

# Records the record of everything made so far (run before deleting).
snap() { "$PY" "$STAGE/ntfs.py" snap "$IMG" "$VOLOFF" "$ITEMS" "$SNAP"; }

expect() { # PATH STATE [FORM]
    awk -F'\t' -v OFS='\t' -v p="$1" -v s="$2" -v f="${3:-}" \
        '$2 == p { $4 = s; if (f != "") $5 = f } { print }' "$ITEMS" >"$ITEMS.new"
    mv "$ITEMS.new" "$ITEMS"
}

del() { # PATH STATE [FORM]: deleted in the current mount (snap first, unmounted)
    rm "$MNT$1"
    expect "$@"
}

deltree() { # PATH: a folder and everything below it; all intact
    rm -r "$MNT$1"
    awk -F'\t' -v OFS='\t' -v p="$1" '$2 == p || index($2, p "/") == 1 { $4 = "intact" } { print }' "$ITEMS" >"$ITEMS.new"
    mv "$ITEMS.new" "$ITEMS"
}

finish() { # NAME SECTOR-COUNT
    "$PY" "$STAGE/ntfs.py" final "$IMG" "$VOLOFF" "$2" "$ITEMS" "$SNAP" "$OUT/$1.manifest" "$1.img"
}

# ---------------------------------------------------------------------------
# The full scenario. ntfs-3g hands out the lowest free record (from 64) at
# each mount and clusters further on, so the order below decides which
# records the later files take: /Gone and /victim.txt first, to be reused,
# /spare.txt for the filler, then everything else.
ntfs_main() {
    local img=$OUT/ntfs.img
    rm -f "$img"
    truncate -s 32M "$img"
    mkntfs -q -Q -F -T -s 512 -c 4096 -L NTFSTEST "$img" >/dev/null 2>&1
    volume ntfs "$img" 0
    mnt
    md /Gone
    put /victim.txt text 200
    put /Gone/orphan.txt text 1500 nonresident
    put /spare.txt text 100
    put /victim.jpg jpeg 160 nonresident
    md /Docs /Docs/Sub "/Scans.jpg" /Trash "/Trash/Inner Folder"
    put /README.txt text 700
    put /Docs/keep.txt text 1500
    put "/Docs/Quarterly report.txt" text 5000 nonresident
    put /Docs/small.txt text 600 resident
    put /Docs/Sub/nested.dat bin 2500
    put /Docs/Sub/live.txt text 300
    put "/Holiday photo.jpg" jpeg 120
    put /empty.txt text 0
    put /big.bin bin 300000 nonresident
    put /sparse.bin sparse 200000 sparse
    put "/Scans.jpg/notes.txt" text 1800
    put "/Größe ünd Ωmega.txt" text 1200
    put "/한국어 문서.txt" text 800
    put "/emoji 🎵 song.txt" text 300
    put "/$(printf 'Ω%.0s' $(seq 140)).txt" text 400
    put /Trash/A.TXT text 1200
    put "/Trash/Inner Folder/photo two.jpg" jpeg 100
    put "/Trash/Inner Folder/deep.txt" text 2200
    interleave /frag.bin /Docs/frag-live.bin 8
    expect /frag.bin live fragmented
    # Hundreds of fragments do not fit one record: the data runs move to
    # extension records named by an attribute list (the file name goes to
    # one too, and is gone once the file is deleted).
    interleave /many-frags.bin /Docs/many-live.bin 300
    expect /many-frags.bin live listed
    umnt
    snap

    # The picture's clusters get other data: a filler takes every free
    # cluster (and /spare.txt's record, the lowest free one).
    mnt
    del /spare.txt reused
    del /victim.jpg overwritten
    umnt
    mnt
    dd if=/dev/zero of="$MNT/filler.bin" bs=1M status=none 2>/dev/null || true
    umnt

    mnt
    del /Gone/orphan.txt intact
    rmdir "$MNT/Gone"
    expect /Gone reused
    del /victim.txt reused
    del "/Docs/Quarterly report.txt" intact
    del /Docs/small.txt intact
    del /Docs/Sub/nested.dat intact
    del "/Holiday photo.jpg" intact
    del /empty.txt intact
    del /big.bin intact
    del /sparse.bin intact
    del "/Scans.jpg/notes.txt" intact
    del "/Größe ünd Ωmega.txt" intact
    del "/한국어 문서.txt" intact
    del "/emoji 🎵 song.txt" intact
    del "/$(printf 'Ω%.0s' $(seq 140)).txt" intact
    del /frag.bin intact
    del /many-frags.bin unnamed
    deltree /Trash
    umnt

    # Two new files take the two lowest free records: /Gone's (so its file
    # is left without a folder) and /victim.txt's.
    mnt
    put /new1.txt text 50
    put /new2.txt text 60
    umnt
    snap
    finish ntfs $(($(stat -c %s "$img") / 512))
}

# 4096-byte sectors: records of 4096 bytes, eight update-sequence tails. A
# name of 200 characters runs across the first tail at offset 510.
ntfs_4k() {
    local img=$OUT/ntfs4k.img
    rm -f "$img"
    truncate -s 16M "$img"
    mkntfs -q -Q -F -T -s 4096 -c 4096 -L NTFS4K "$img" >/dev/null 2>&1
    volume ntfs4k "$img" 0
    mnt
    md /Folder
    put "/$(printf 'a%.0s' $(seq 200)).txt" text 900 resident
    put /Folder/data.bin bin 20000 nonresident
    put /Folder/keep.txt text 500
    put /photo.png png 90
    umnt
    snap
    mnt
    del "/$(printf 'a%.0s' $(seq 200)).txt" intact
    del /Folder/data.bin intact
    del /photo.png intact
    umnt
    finish ntfs4k $(($(stat -c %s "$img") / 512))
}

# A GPT disk as a partitioned stick shows it: FAT32 first, NTFS second.
gpt() {
    local img=$OUT/gpt.img part=$OUT/gpt-ntfs.img
    local fstart=2048 fsize=81920 nstart=83968 nsize=32768
    rm -f "$img" "$part"
    truncate -s $(((nstart + nsize + 2048) * 512)) "$img"
    printf 'label: gpt\nlabel-id: 5EED0000-0000-4000-8000-000000000001\nunit: sectors\n\nstart=%d, size=%d, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name="CARD"\nstart=%d, size=%d, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, name="DATA"\n' \
        "$fstart" "$fsize" "$nstart" "$nsize" | sfdisk --no-reread --no-tell-kernel -q "$img" >/dev/null
    mkfs.fat -F 32 -s 1 -i 5EED0032 -n CARD --offset="$fstart" "$img" $((fsize / 2)) >/dev/null
    gen text 2500
    mcopy -i "$img@@$((fstart * 512))" "$SRC" ::/CARD.TXT
    mdel -i "$img@@$((fstart * 512))" ::/CARD.TXT

    truncate -s $((nsize * 512)) "$part"
    mkntfs -q -Q -F -T -s 512 -c 4096 -p "$nstart" -L DATA "$part" >/dev/null 2>&1
    volume gpt-ntfs "$part" 0
    mnt
    md /Reports
    put /Reports/summary.txt text 3000 nonresident
    put /Reports/chart.png png 80
    put /keep.txt text 400
    umnt
    snap
    mnt
    del /Reports/summary.txt intact
    del /Reports/chart.png intact
    umnt
    finish gpt-ntfs "$nsize"
    dd if="$part" of="$img" bs=512 seek="$nstart" conv=notrunc status=none
    sed "s/^#@ partition_start_sector=0$/#@ partition_start_sector=$nstart/; s/^#@ image=gpt-ntfs.img$/#@ image=gpt.img/" \
        "$OUT/gpt-ntfs.manifest" >"$OUT/gpt.manifest"
    # Record sectors are absolute on the disk.
    awk -F'\t' -v OFS='\t' -v s="$nstart" '/^#/ { print; next } { $6 += s; print }' "$OUT/gpt.manifest" >"$OUT/gpt.manifest.new"
    mv "$OUT/gpt.manifest.new" "$OUT/gpt.manifest"
}

ntfs_main
ntfs_4k
gpt
