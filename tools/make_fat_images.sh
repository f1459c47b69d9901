#!/usr/bin/env bash
# Makes FAT volume images with known deleted files, for the FAT engines' tests.
#
# Usage: tools/make_fat_images.sh OUTDIR
#
# Writes into OUTDIR (created when missing):
#   fat12.img     FAT12, 2 MiB, 1 KiB clusters, 512 root entries
#   floppy.img    FAT12, 1440 KiB floppy: 224 root entries (14 root sectors), 512-byte clusters
#   fat16.img     FAT16, 16 MiB, 2 KiB clusters
#   fat32.img     FAT32, 40 MiB, 512-byte clusters
#   mbr.img       MBR disk (sfdisk) with one FAT16 partition (type 0x06) at sector 2048
#   card.img      FAT32, 260 MiB (sparse), 4 KiB clusters, as cameras and phones
#                 format cards: deleted files without the archive bit, long names
#                 of 240 to 255 characters, names in other scripts and with an
#                 emoji, a BMP with a V5 header, JPEGs that start without JFIF/Exif
# and beside each image NAME.manifest, a tab-separated list of every file and
# folder the script made on the volume, deleted or not:
#
#   #@ key=value                    volume facts (fat_type, partition_start_sector,
#                                   bytes_per_sector, sectors_per_cluster,
#                                   data_start_sector (volume-relative), ...)
#   # ...                           comment
#   type state size sha256 first_cluster entry_sector short_name path
#
#   type          file | dir
#   state         live        not deleted
#                 intact      deleted; size bytes read from first_cluster on,
#                             over consecutive clusters, are exactly the file
#                 partial     deleted; the first cluster is the file's, later ones not
#                 fragmented  deleted; the file's chain was not contiguous, so reading
#                             consecutive clusters gives other data after the first
#                 overwritten deleted; the first cluster now holds other data
#                 (a deleted dir is intact when its first cluster still starts
#                 with its own "." entry, overwritten otherwise)
#   size          bytes (0 for folders)
#   sha256        of the file's content as written ("-" for folders)
#   first_cluster from the directory entry (0 for an empty file)
#   entry_sector  absolute 512-byte sector of the image holding the short entry
#   short_name    the 8.3 name as stored before deletion, "NAME.EXT"
#   path          '/'-separated from the volume root, the long name as created (UTF-8)
#
# The images are the same byte for byte on every run (fixed volume ids, dates
# from SOURCE_DATE_EPOCH, generated content), and every state above is
# measured on the finished image, not assumed: the script fails when mtools
# placed data otherwise than the scenario expects.
set -euo pipefail

# "source make_fat_images.sh --lib" defines the helpers below and returns
# (tools/make_sample.sh builds the sample card with them).
FAT_LIB=0
if [ "${1:-}" = --lib ]; then
    FAT_LIB=1
elif [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi

for tool in mkfs.fat mcopy mmd mdel mdeltree mlabel sfdisk convert python3 sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$0: $tool is missing (dosfstools, mtools, fdisk, imagemagick, python3)" >&2; exit 1; }
done

# Fixed clock and locale: mtools stamps entries from SOURCE_DATE_EPOCH, in TZ.
export TZ=UTC LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=1623758400 # 2021-06-15 12:00:00
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null
PY=$(python3 -c 'import sys; print(sys.executable)')

STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
mkdir "$STAGE/src"

# ---------------------------------------------------------------------------
# The measuring side: walks the volume's own directories and FAT, records
# where each item's entry and data are before it is deleted, and at the end
# compares what the image holds with what was written.
cat >"$STAGE/fat.py" <<'PYEOF'
import hashlib, mmap, os, struct, sys

def u16(b, o): return struct.unpack_from('<H', b, o)[0]
def u32(b, o): return struct.unpack_from('<I', b, o)[0]

class Volume:
    def __init__(self, image, offset):
        # Mapped, not read: the card image is 260 MiB, mostly holes.
        with open(image, 'rb') as f:
            self.img = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        self.off = offset
        bs = self.img[offset:offset + 512]
        if bs[510:512] != b'\x55\xaa':
            sys.exit('no boot sector signature')
        self.bps = u16(bs, 11); self.spc = bs[13]; self.res = u16(bs, 14)
        self.nfats = bs[16]; self.rootent = u16(bs, 17)
        self.total = u16(bs, 19) or u32(bs, 32)
        self.spf = u16(bs, 22) or u32(bs, 36)
        self.rootsecs = (self.rootent * 32 + self.bps - 1) // self.bps
        self.data = self.res + self.nfats * self.spf + self.rootsecs
        self.clusters = (self.total - self.data) // self.spc
        self.fat = 12 if self.clusters < 4085 else 16 if self.clusters < 65525 else 32
        self.rootclus = u32(bs, 44) if self.fat == 32 else 0
        self.cs = self.bps * self.spc

    def cluster_off(self, n):
        return self.off + (self.data + (n - 2) * self.spc) * self.bps

    def next(self, n):
        fo = self.off + self.res * self.bps
        if self.fat == 12:
            v = u16(self.img, fo + n * 3 // 2)
            v = v >> 4 if n & 1 else v & 0xFFF
            return None if v >= 0xFF8 or v < 2 else v
        if self.fat == 16:
            v = u16(self.img, fo + n * 2)
            return None if v >= 0xFFF8 or v < 2 else v
        v = u32(self.img, fo + n * 4) & 0x0FFFFFFF
        return None if v >= 0x0FFFFFF8 or v < 2 else v

    def chain(self, first):
        out, n = [], first
        while n is not None and 2 <= n < self.clusters + 2 and n not in out:
            out.append(n)
            n = self.next(n)
        return out

    def dir_slots(self, first):
        # Absolute byte offsets of the 32-byte slots of a folder (0: the root).
        if first == 0 and self.fat != 32:
            base = self.off + (self.res + self.nfats * self.spf) * self.bps
            return [base + 32 * i for i in range(self.rootent)]
        slots = []
        for c in self.chain(first or self.rootclus):
            base = self.cluster_off(c)
            slots += [base + 32 * i for i in range(self.cs // 32)]
        return slots

    def entries(self, first):
        # Live entries of a folder: (long name or None, short 11 bytes, slot offset).
        out, lfn = [], []
        for s in self.dir_slots(first):
            e = self.img[s:s + 32]
            if e[0] == 0:
                break
            if e[0] == 0xE5:
                lfn = []
                continue
            if e[11] == 0x0F:
                lfn.append(e)
                continue
            name = None
            if lfn and all(x[13] == checksum(e[:11]) for x in lfn):
                units = b''.join(x[1:11] + x[14:26] + x[28:32] for x in reversed(lfn))
                name = units.decode('utf-16-le').split('\0')[0]
            lfn = []
            if e[11] & 0x08:
                continue
            out.append((name, e[:11], s))
        return out

    def lookup(self, path):
        cur, found = 0, None
        for part in [p for p in path.split('/') if p]:
            found = None
            for name, short, slot in self.entries(cur):
                if name == part or (name is None and short_text(short).lower() == part.lower()):
                    found = slot
                    break
            if found is None:
                sys.exit('not on the volume: ' + path)
            cur = first_cluster(self.img[found:found + 32], self.fat)
        return found

def checksum(name11):
    s = 0
    for b in name11:
        s = (((s >> 1) | (s << 7)) + b) & 0xFF
    return s

def first_cluster(e, fat):
    return (u16(e, 20) << 16 if fat == 32 else 0) | u16(e, 26)

def short_text(b):
    def txt(x):
        return ''.join(chr(c) if 0x20 < c < 0x7F else '%%%02X' % c for c in x.rstrip(b' '))
    n, x = txt(b[:8]), txt(b[8:11])
    return n + '.' + x if x else n

def load_items(path):
    items = []
    with open(path, encoding='utf-8') as f:
        for line in f:
            kind, p, src, expect = line.rstrip('\n').split('\t')
            items.append((kind, p, src, expect))
    return items

def snap(image, offset, items_file, snap_file):
    v = Volume(image, offset)
    done = set()
    if os.path.exists(snap_file):
        with open(snap_file, encoding='utf-8') as f:
            done = {l.split('\t')[0] for l in f}
    with open(snap_file, 'a', encoding='utf-8') as f:
        for kind, p, src, expect in load_items(items_file):
            if p in done:
                continue
            slot = v.lookup(p)
            e = v.img[slot:slot + 32]
            chain = v.chain(first_cluster(e, v.fat))
            f.write('\t'.join([p, str(slot), e.hex(), ','.join(map(str, chain))]) + '\n')

def final(image, offset, items_file, snap_file, manifest, label):
    v = Volume(image, offset)
    snaps = {}
    with open(snap_file, encoding='utf-8') as f:
        for l in f:
            p, slot, ehex, chain = l.rstrip('\n').split('\t')
            snaps[p] = (int(slot), bytes.fromhex(ehex), [int(c) for c in chain.split(',') if c])
    bad = []
    rows = []
    for kind, p, src, expect in load_items(items_file):
        data = open(src, 'rb').read() if kind == 'file' else b''
        if expect == 'live':
            slot = v.lookup(p)
            e = v.img[slot:slot + 32]
            first = first_cluster(e, v.fat)
            if kind == 'file':
                got = b''.join(v.img[v.cluster_off(c):v.cluster_off(c) + v.cs] for c in v.chain(first))[:len(data)]
                if got != data or u32(e, 28) != len(data):
                    bad.append(p + ': live file does not read back')
            state = 'live'
        else:
            if p not in snaps:
                bad.append(p + ': deleted before it was recorded')
                continue
            slot, e, chain = snaps[p]
            now = v.img[slot:slot + 32]
            if now[0] != 0xE5 or now[1:] != e[1:]:
                bad.append(p + ': deleted entry no longer on the volume')
            first = first_cluster(e, v.fat)
            if kind == 'dir':
                d = v.img[v.cluster_off(first):v.cluster_off(first) + 32]
                state = 'intact' if d[:11] == b'.          ' and first_cluster(d, v.fat) == first else 'overwritten'
            elif not data:
                state = 'intact'
            else:
                start = v.cluster_off(first)
                got = v.img[start:start + len(data)]
                head = min(len(data), v.cs)
                need = (len(data) + v.cs - 1) // v.cs
                if got[:head] != data[:head]:
                    state = 'overwritten'
                elif got == data:
                    state = 'intact'
                elif chain[:need] != list(range(first, first + need)):
                    state = 'fragmented'
                else:
                    state = 'partial'
            if state != expect:
                bad.append('%s: %s, expected %s' % (p, state, expect))
        sha = hashlib.sha256(data).hexdigest() if kind == 'file' else '-'
        rows.append([kind, state, str(len(data)), sha, str(first), str(slot // 512), short_text(e[:11]), p])
    if bad:
        sys.exit(label + ': ' + '; '.join(bad))
    with open(manifest, 'w', encoding='utf-8') as f:
        f.write('# Files and folders of %s, written by tools/make_fat_images.sh.\n' % label)
        f.write('# columns: type state size sha256 first_cluster entry_sector short_name path\n')
        for k, val in [('image', label), ('fat_type', v.fat), ('partition_start_sector', offset // 512),
                       ('bytes_per_sector', v.bps), ('sectors_per_cluster', v.spc),
                       ('reserved_sectors', v.res), ('fat_count', v.nfats), ('sectors_per_fat', v.spf),
                       ('root_entries', v.rootent), ('total_sectors', v.total),
                       ('data_start_sector', v.data), ('cluster_count', v.clusters),
                       ('root_cluster', v.rootclus)]:
            f.write('#@ %s=%s\n' % (k, val))
        for r in rows:
            f.write('\t'.join(r) + '\n')

def gen(kind, size, seed, out):
    # Text files are printable lines naming their file, so a format check on
    # them passes; binary files are a hash stream nothing else on the volume matches.
    if kind == 'docx':
        return make_docx(seed, out)
    if kind == 'pdf':
        return make_pdf(seed, out)
    buf = bytearray()
    if kind == 'text':
        i = 0
        while len(buf) < size:
            i += 1
            buf += ('%s line %05d: the quick brown fox jumps over the lazy dog\n' % (seed, i)).encode()
    else:
        i = 0
        while len(buf) < size:
            buf += hashlib.sha256(('%s/%d' % (seed, i)).encode()).digest()
            i += 1
    with open(out, 'wb') as f:
        f.write(bytes(buf[:size]))

def make_docx(seed, out):
    # A minimal word-processing document: the three parts a reader needs,
    # with fixed member dates so the archive is the same on every run.
    import zipfile
    parts = [
        ('[Content_Types].xml',
         '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
         '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
         '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
         '<Default Extension="xml" ContentType="application/xml"/>'
         '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>'
         '</Types>'),
        ('_rels/.rels',
         '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
         '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
         '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>'
         '</Relationships>'),
        ('word/document.xml',
         '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
         '<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>'
         + ''.join('<w:p><w:r><w:t>%s, paragraph %d: the quick brown fox jumps over the lazy dog.</w:t></w:r></w:p>' % (seed, i)
                   for i in range(1, 40))
         + '</w:body></w:document>'),
    ]
    with zipfile.ZipFile(out, 'w') as z:
        for name, text in parts:
            info = zipfile.ZipInfo(name, date_time=(2021, 6, 15, 12, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            z.writestr(info, text)

def make_pdf(seed, out):
    # A one-page PDF with a text line; offsets in the cross-reference table
    # are computed, so readers open it without repair.
    text = '%s: invoice for one sample card' % seed
    stream = ('BT /F1 18 Tf 72 720 Td (%s) Tj ET' % text).encode()
    objs = [b'<< /Type /Catalog /Pages 2 0 R >>',
            b'<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
            b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R '
            b'/Resources << /Font << /F1 5 0 R >> >> >>',
            b'<< /Length %d >>\nstream\n' % len(stream) + stream + b'\nendstream',
            b'<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>']
    pdf = bytearray(b'%PDF-1.4\n%\xe2\xe3\xcf\xd3\n')
    offs = []
    for i, o in enumerate(objs, 1):
        offs.append(len(pdf))
        pdf += b'%d 0 obj\n' % i + o + b'\nendobj\n'
    xref = len(pdf)
    pdf += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objs) + 1)
    for o in offs:
        pdf += b'%010d 00000 n \n' % o
    pdf += b'trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (len(objs) + 1, xref)
    with open(out, 'wb') as f:
        f.write(bytes(pdf))

def jpeg_edit(mode, path):
    # Rewrites the segments before the scan data: 'noapp' drops every
    # application segment (the file starts with its quantisation tables),
    # 'adobe' puts an Adobe APP14 segment (YCbCr transform) in their place.
    b = open(path, 'rb').read()
    if b[:2] != b'\xff\xd8':
        sys.exit(path + ': not a JPEG')
    i, segs = 2, []
    while b[i] == 0xFF and b[i + 1] != 0xDA:
        n = (b[i + 2] << 8) | b[i + 3]
        segs.append(b[i:i + 2 + n])
        i += 2 + n
    segs = [x for x in segs if not 0xE0 <= x[1] <= 0xEF]
    if mode == 'adobe':
        segs.insert(0, b'\xff\xee\x00\x0eAdobe\x00\x64\x00\x00\x00\x00\x01')
    with open(path, 'wb') as f:
        f.write(b'\xff\xd8' + b''.join(segs) + b[i:])

def lfn_rename(image, offset, path, newname):
    # Rewrites the long name of the live entry at path in place, for a new
    # name of as many UTF-16 units (mtools cannot write characters beyond
    # the first plane; other systems write them as surrogate pairs).
    v = Volume(image, offset)
    parent, old = path.rsplit('/', 1)
    cur = first_cluster(v.img[v.lookup(parent):v.lookup(parent) + 32], v.fat) if parent else 0
    new = newname.encode('utf-16-le')
    if len(new) != len(old.encode('utf-16-le')):
        sys.exit('lfn: %s and %s differ in length' % (old, newname))
    lfn = []
    for s in v.dir_slots(cur):
        e = v.img[s:s + 32]
        if e[0] == 0:
            break
        if e[11] == 0x0F and e[0] != 0xE5:
            lfn.append(s)
            continue
        slots = list(reversed(lfn))  # the first part of the name first
        lfn = []
        units = b''.join(v.img[x + 1:x + 11] + v.img[x + 14:x + 26] + v.img[x + 28:x + 32] for x in slots)
        if e[0] == 0xE5 or not slots or units.decode('utf-16-le', 'replace').split('\0')[0] != old:
            continue
        units = new + units[len(new):]
        with open(image, 'r+b') as f:
            for k, x in enumerate(slots):
                u = units[26 * k:26 * k + 26]
                for at, lo, hi in ((1, 0, 10), (14, 10, 22), (28, 22, 26)):
                    f.seek(x + at)
                    f.write(u[lo:hi])
        return
    sys.exit('lfn: not on the volume: ' + path)

if __name__ == '__main__':
    mode = sys.argv[1]
    if mode == 'gen':
        gen(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5])
    elif mode == 'snap':
        snap(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5])
    elif mode == 'final':
        final(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5], sys.argv[6], sys.argv[7])
    elif mode == 'jpeg':
        jpeg_edit(sys.argv[2], sys.argv[3])
    elif mode == 'short':
        v = Volume(sys.argv[2], int(sys.argv[3]))
        slot = v.lookup(sys.argv[4])
        print(short_text(v.img[slot:slot + 11]))
    elif mode == 'lfn':
        lfn_rename(sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5])
    elif mode == 'hint':
        # Sets the FAT32 FSInfo next-free hint, which mtools allocates after.
        image, offset, value = sys.argv[2], int(sys.argv[3]), int(sys.argv[4], 0)
        with open(image, 'r+b') as f:
            f.seek(offset)
            bs = f.read(512)
            f.seek(offset + u16(bs, 48) * u16(bs, 11) + 492)
            f.write(struct.pack('<I', value & 0xFFFFFFFF))
PYEOF

# ---------------------------------------------------------------------------
# The acting side: mtools on the current volume, with a record of each item.
VOL=""     # mtools image argument: FILE or FILE@@OFFSET
IMG=""
VOLOFF=0
ITEMS=""
SNAP=""
NSRC=0

volume() { # NAME IMAGE BYTE-OFFSET
    IMG=$2
    VOLOFF=$3
    if [ "$VOLOFF" -eq 0 ]; then VOL=$IMG; else VOL="$IMG@@$VOLOFF"; fi
    ITEMS=$STAGE/$1.items
    SNAP=$STAGE/$1.snap
    : >"$ITEMS"
    : >"$SNAP"
}

# gen text|bin|jpeg|jpegnoapp|jpegadobe|png|bmp|docx|pdf SIZE: makes a source
# file and sets SRC to its path. SIZE is the picture's width for pictures.
# (Not called in a subshell: the counter must advance.)
SRC=""
gen() {
    NSRC=$((NSRC + 1))
    SRC=$STAGE/src/$NSRC
    case $1 in
        jpeg) convert -size "$2x$(($2 * 2 / 3))" -seed "$NSRC" plasma:fractal -strip -quality 85 "jpeg:$SRC" ;;
        jpegnoapp | jpegadobe)
            convert -size "$2x$(($2 * 2 / 3))" -seed "$NSRC" plasma:fractal -strip -quality 85 "jpeg:$SRC"
            "$PY" "$STAGE/fat.py" jpeg "${1#jpeg}" "$SRC"
            ;;
        png) convert -size "$2x$(($2 * 2 / 3))" -seed "$NSRC" plasma:fractal -strip "png:$SRC" ;;
        # ImageMagick writes a V5 header (124 bytes), as most editors do.
        bmp) convert -size "$2x$(($2 * 2 / 3))" -seed "$NSRC" plasma:fractal -strip "bmp:$SRC" ;;
        *) "$PY" "$STAGE/fat.py" gen "$1" "$2" "file$NSRC" "$SRC" ;;
    esac
}

md() { # PATH...
    local p
    for p in "$@"; do
        mmd -i "$VOL" "::$p"
        printf 'dir\t%s\t-\tlive\n' "$p" >>"$ITEMS"
    done
}

put() { # PATH KIND SIZE: a new file of generated content
    gen "$2" "$3"
    mcopy -i "$VOL" "$SRC" "::$1"
    printf 'file\t%s\t%s\tlive\n' "$1" "$SRC" >>"$ITEMS"
}

# Records entries and chains of everything made so far, before a deletion
# erases the chain.
snap() { "$PY" "$STAGE/fat.py" snap "$IMG" "$VOLOFF" "$ITEMS" "$SNAP"; }

expect() { # PATH STATE: the state PATH must have when the image is done
    awk -F'\t' -v OFS='\t' -v p="$1" -v s="$2" '$2 == p { $4 = s } { print }' "$ITEMS" >"$ITEMS.new"
    mv "$ITEMS.new" "$ITEMS"
}

del() { # PATH STATE
    snap
    mdel -i "$VOL" "::$1"
    expect "$1" "$2"
}

dels() { # PATH...: deletes files that stay intact, after one record of them all
    local p
    snap
    for p in "$@"; do
        mdel -i "$VOL" "::$p"
        expect "$p" intact
    done
}

# delshort PATH: deletes a file by its 8.3 name, for a long name mtools
# cannot match (a character beyond the first plane).
delshort() {
    local short
    short=$("$PY" "$STAGE/fat.py" short "$IMG" "$VOLOFF" "$1")
    snap
    mdel -i "$VOL" "::${1%/*}/$short"
    expect "$1" intact
}

# attrs ATTRS PATH: sets attributes as mattrib takes them ("-a +r"...).
attrs() {
    # shellcheck disable=SC2086  # the attribute words are meant to split
    mattrib -i "$VOL" $1 "::$2"
}

# lfn PATH NEWNAME: gives the live file at PATH the long name NEWNAME, of as
# many UTF-16 units, written as other systems write it.
lfn() {
    "$PY" "$STAGE/fat.py" lfn "$IMG" "$VOLOFF" "$1" "$2"
    awk -F'\t' -v OFS='\t' -v p="$1" -v n="${1%/*}/$2" '$2 == p { $2 = n } { print }' "$ITEMS" >"$ITEMS.new"
    mv "$ITEMS.new" "$ITEMS"
}

# longname LENGTH EXT: a name of LENGTH characters ending in EXT.
longname() { "$PY" -c 'import sys; n, e = int(sys.argv[1]), sys.argv[2]; print((("name of %d characters " % n) * 20)[:n - len(e)].replace(" ", "-") + e)' "$1" "$2"; }

deltree() { # PATH: deletes a folder and everything below it; all intact unless expect says otherwise
    snap
    mdeltree -i "$VOL" "::$1"
    awk -F'\t' -v OFS='\t' -v p="$1" '$2 == p || index($2, p "/") == 1 { $4 = "intact" } { print }' "$ITEMS" >"$ITEMS.new"
    mv "$ITEMS.new" "$ITEMS"
}

# mkfs.fat stamps a label entry with the wall clock; mtools with SOURCE_DATE_EPOCH.
label() { mlabel -i "$VOL" "::$1"; }

hint() { "$PY" "$STAGE/fat.py" hint "$IMG" "$VOLOFF" "$1"; } # FAT32 FSInfo next-free hint

finish() { # NAME
    "$PY" "$STAGE/fat.py" final "$IMG" "$VOLOFF" "$ITEMS" "$SNAP" "$OUT/$1.manifest" "$1.img"
}

# ---------------------------------------------------------------------------
# The scenario every volume gets. mtools allocates the lowest free cluster on
# FAT12/16 (and on FAT32 after the next-free hint), so what is made first
# lies first; the victim is made first so that the file written after its
# deletion lands on it.
common() {
    md /NEW
    put /VICTIM.JPG jpeg 160
    VICTIM_SIZE=$(stat -c %s "$SRC")
    put /README.TXT text 700
    put /DELROOT.TXT text 900
    put "/Long name in root.txt" text 3000
    put "/Holiday photo.jpg" jpeg 120
    put /EMPTY.TXT text 0
    md /DOCS /DOCS/SUB
    put /DOCS/keep.txt text 1500
    put "/DOCS/Quarterly report.txt" text 5000
    put /DOCS/SUB/NESTED.DAT bin 2500
    put /DOCS/SUB/live.txt text 300
    md /TRASH "/TRASH/Inner Folder"
    put /TRASH/A.TXT text 1200
    put "/TRASH/Inner Folder/photo two.jpg" jpeg 100
    put "/TRASH/Inner Folder/DEEP.TXT" text 2200
}

common_delete() {
    del /VICTIM.JPG overwritten
    del /DELROOT.TXT intact
    del "/Long name in root.txt" intact
    del "/Holiday photo.jpg" intact
    del /EMPTY.TXT intact
    del "/DOCS/Quarterly report.txt" intact
    del /DOCS/SUB/NESTED.DAT intact
    deltree /TRASH
}

# Written after the deletions: lands on the victim's clusters.
common_overwrite() {
    put /NEW/FILLER.BIN bin "$VICTIM_SIZE"
}

fat12() {
    rm -f "$OUT/fat12.img"
    mkfs.fat -C -F 12 -s 2 -r 512 -i 5EED0012 "$OUT/fat12.img" 2048 >/dev/null
    volume fat12 "$OUT/fat12.img" 0
    label FAT12TEST
    common
    # FAT12 packs two 12-bit entries into three bytes: a chain of many
    # clusters crosses every packing phase.
    put /BIGFILE.BIN bin 20000
    put /LIVEBIG.BIN bin 9000
    common_delete
    del /BIGFILE.BIN intact
    common_overwrite
    finish fat12
}

floppy() {
    # A plain 1.44 MB floppy: 224 root entries, i.e. a 14-sector root directory.
    rm -f "$OUT/floppy.img"
    mkfs.fat -C -i 5EED0144 "$OUT/floppy.img" 1440 >/dev/null
    volume floppy "$OUT/floppy.img" 0
    put /OLDNOTE.TXT text 1800
    put /KEEP.TXT text 400
    put "/Scanned page.jpg" jpeg 140
    md /LETTERS
    put /LETTERS/DRAFT.TXT text 2600
    del /OLDNOTE.TXT intact
    del "/Scanned page.jpg" intact
    del /LETTERS/DRAFT.TXT intact
    finish floppy
}

fat16() {
    rm -f "$OUT/fat16.img"
    mkfs.fat -C -F 16 -s 4 -r 512 -i 5EED0016 "$OUT/fat16.img" 16384 >/dev/null
    volume fat16 "$OUT/fat16.img" 0
    label FAT16TEST
    common
    put /SAMPLE.PNG png 80
    # A hole that a later, longer file fills in part: that file's chain is
    # split, and once deleted it reads back wrong after its first cluster.
    # Done before the common deletions so that the hole is the lowest free
    # space, and in another folder: mtools reuses a deleted entry's slot.
    put /GAP1.BIN bin 2048
    put /GAP2.BIN bin 2048
    put /GAP3.BIN bin 2048
    del /GAP2.BIN overwritten
    put /DOCS/SPLIT.BIN bin 6000
    del /DOCS/SPLIT.BIN fragmented
    common_delete
    del /SAMPLE.PNG intact
    common_overwrite
    finish fat16
}

fat32() {
    rm -f "$OUT/fat32.img"
    mkfs.fat -C -F 32 -s 1 -i 5EED0032 "$OUT/fat32.img" 40960 >/dev/null
    volume fat32 "$OUT/fat32.img" 0
    label FAT32TEST
    common
    put "/照片 假期.jpg" jpeg 90
    md "/A folder with a rather long name"
    put "/A folder with a rather long name/deeply nested file name.txt" text 1000
    put /PARTIAL.BIN bin 4096
    put /AFTER.TXT text 500
    common_delete
    del "/照片 假期.jpg" intact
    del "/A folder with a rather long name/deeply nested file name.txt" intact
    del /PARTIAL.BIN partial
    # mtools allocates after the FSInfo hint on FAT32: from the start for
    # the victim, then just after PARTIAL.BIN's third cluster.
    hint 0xFFFFFFFF
    common_overwrite
    snap
    local first
    first=$(awk -F'\t' '$1 == "/PARTIAL.BIN" { split($4, c, ","); print c[1] }' "$SNAP")
    hint $((first + 2))
    put /NEW/TAIL.BIN bin 300
    hint 0xFFFFFFFF
    finish fat32
}

mbr() {
    # A disk with an MBR and one FAT16 partition 1 MiB in, as a card reader shows it.
    local img=$OUT/mbr.img start=2048 size=16384
    rm -f "$img"
    truncate -s $(((start + size) * 512)) "$img"
    printf 'label: dos\nlabel-id: 0x5eed0001\nunit: sectors\n\nstart=%d, size=%d, type=6\n' "$start" "$size" |
        sfdisk --no-reread --no-tell-kernel -q "$img" >/dev/null
    mkfs.fat -F 16 -s 2 -r 512 -h "$start" -i 5EED0106 --offset="$start" "$img" $((size / 2)) >/dev/null
    volume mbr "$img" $((start * 512))
    label PART1
    md /DCIM /DCIM/100CARD
    put /DCIM/100CARD/IMG_0001.JPG jpeg 150
    put /DCIM/100CARD/IMG_0002.JPG jpeg 130
    put "/Travel notes.txt" text 2500
    put /DCIM/100CARD/IMG_0003.JPG jpeg 110
    del /DCIM/100CARD/IMG_0002.JPG intact
    del "/Travel notes.txt" intact
    finish mbr
}

card() {
    # A card as cameras and phones format it: FAT32 with 4 KiB clusters, so
    # at least 65525 clusters (fewer would make it FAT16 by count).
    rm -f "$OUT/card.img"
    mkfs.fat -C -F 32 -S 512 -s 8 -i 5EED0C4D "$OUT/card.img" 266240 >/dev/null
    volume card "$OUT/card.img" 0
    label CARD
    md /DCIM /DCIM/100PHOTO
    # Files whose archive bit a backup tool cleared or a camera never set.
    put /NOTES.TXT text 3000
    attrs -a /NOTES.TXT
    put /READONLY.TXT text 2000
    attrs "-a +r" /READONLY.TXT
    put /HIDDEN.TXT text 5000
    attrs "-a +h" /HIDDEN.TXT
    put /SYSTEM.DAT bin 9000
    attrs "-a +s" /SYSTEM.DAT
    put "/Shopping list.txt" text 1500
    attrs -a "/Shopping list.txt"
    # Long names of 19 parts (240 characters) and 20 parts (248 to 255).
    put "/$(longname 240 .txt)" text 2000
    put "/$(longname 248 .jpg)" jpeg 200
    put "/$(longname 250 .docx)" docx 0
    put "/DCIM/$(longname 255 .txt)" text 7000
    md "/$(longname 249 " album")"
    put "/$(longname 249 " album")/IMG_0001.JPG" jpeg 140
    # Names beyond GB2312 and beyond the first Unicode plane.
    put "/Größe und Maße.txt" text 2500
    put "/Año nuevo en España.txt" text 2600
    put "/DCIM/100PHOTO/가족 사진.jpg" jpeg 180
    put "/DCIM/100PHOTO/Φωτογραφία διακοπών.jpg" jpeg 170
    put "/party ZZ.txt" text 1200
    lfn "/party ZZ.txt" "party 🎉.txt"
    # Intact pictures that start otherwise than with JFIF or Exif.
    put /DCIM/100PHOTO/DRAWING.BMP bmp 90
    put "/DCIM/100PHOTO/no app segments.jpg" jpegnoapp 160
    put "/DCIM/100PHOTO/adobe first.jpg" jpegadobe 150
    put /DCIM/100PHOTO/KEEP.JPG jpeg 100
    dels /NOTES.TXT /READONLY.TXT /HIDDEN.TXT /SYSTEM.DAT "/Shopping list.txt" \
        "/$(longname 240 .txt)" "/$(longname 248 .jpg)" "/$(longname 250 .docx)" "/DCIM/$(longname 255 .txt)" \
        "/$(longname 249 " album")/IMG_0001.JPG" \
        "/Größe und Maße.txt" "/Año nuevo en España.txt" "/DCIM/100PHOTO/가족 사진.jpg" \
        "/DCIM/100PHOTO/Φωτογραφία διακοπών.jpg" /DCIM/100PHOTO/DRAWING.BMP \
        "/DCIM/100PHOTO/no app segments.jpg" "/DCIM/100PHOTO/adobe first.jpg"
    delshort "/party 🎉.txt"
    finish card
}

if [ "$FAT_LIB" = 1 ]; then
    return 0
fi
mkdir -p "$1"
OUT=$(cd "$1" && pwd)
fat12
floppy
fat16
fat32
mbr
card
