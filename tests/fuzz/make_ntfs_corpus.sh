#!/usr/bin/env bash
# Seeds for the NTFS fuzz targets.
#
# fuzz_ntfs_volume (VOLDIR): the volumes of tools/make_ntfs_images.sh (512-
# and 4096-byte sectors, the NTFS partition of its GPT disk), each cut after
# its last sector with data within the first 1 MiB (the fuzz target pads the
# device with zeros up to the size the boot sector states), and small
# volumes built here record by record for what no formatter writes: folder
# chains that loop, attribute lists that point at themselves or at records
# another file took, sparse and backward runs, lengths that lie.
#
# fuzz_ntfs_records (RECDIR): the first records of each of those volumes,
# each behind the 5-byte prefix the target reads (sector-size code, cluster
# count).
#
# Usage: tests/fuzz/make_ntfs_corpus.sh VOLDIR RECDIR
set -euo pipefail
vol=${1:?usage: make_ntfs_corpus.sh VOLDIR RECDIR}
rec=${2:?usage: make_ntfs_corpus.sh VOLDIR RECDIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$here/../..
command -v python3 >/dev/null 2>&1 || { echo "$0: python3 is missing" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$vol" "$rec" "$stage/img"

# The real volumes, when this machine can mount them.
if "$root/tools/make_ntfs_images.sh" "$stage/made" >/dev/null && [ ! -f "$stage/made/SKIPPED" ]; then
    for f in ntfs ntfs4k gpt-ntfs; do
        cp "$stage/made/$f.img" "$stage/img/$f.img"
    done
else
    echo "$0: no mkntfs volumes (see above); hand-built seeds only" >&2
fi

python3 - "$stage/img" <<'PYEOF'
import os, struct, sys

def attr_resident(t, value, name_len=0):
    voff = (0x18 + 2 * name_len + 7) & ~7
    a = bytearray((voff + len(value) + 7) & ~7)
    struct.pack_into('<IIBBH', a, 0, t, len(a), 0, name_len, 0x18)
    struct.pack_into('<IH', a, 0x10, len(value), voff)
    a[voff:voff + len(value)] = value
    return bytes(a)

def attr_nonresident(t, runs, size, svcn=0, evcn=0):
    a = bytearray((0x40 + len(runs) + 7) & ~7)
    struct.pack_into('<IIBBH', a, 0, t, len(a), 1, 0, 0x40)
    struct.pack_into('<QQHxxxxxxQQQ', a, 0x10, svcn, evcn, 0x40, size, size, size)
    a[0x40:0x40 + len(runs)] = runs
    return bytes(a)

def file_name(parent, name, ns=1):
    n = name.encode('utf-16-le')
    v = struct.pack('<Q', parent | 1 << 48) + struct.pack('<QQQQ', *[132683184000000000] * 4)
    v += struct.pack('<QQI', 4096, len(n) // 2, 0x20) + bytes(4) + bytes([len(n) // 2, ns]) + n
    return attr_resident(0x30, v)

def runs(*pairs):
    out = bytearray()
    for count, off in pairs:
        cb = (count.bit_length() + 7) // 8 or 1
        ob = 0 if off is None else next(w for w in range(1, 9) if -(1 << (8 * w - 1)) <= off < (1 << (8 * w - 1)))
        out.append(cb | ob << 4)
        out += count.to_bytes(cb, 'little')
        if off is not None:
            out += off.to_bytes(ob, 'little', signed=True)
    return bytes(out + b'\0')

def list_entry(t, record, svcn=0):
    return struct.pack('<IHBBQQH', t, 0x20, 0, 0x1A, svcn, record | 1 << 48, 0) + bytes(4)

def record(number, flags, attrs, rb, base=0, in_use_bytes=None):
    r = bytearray(rb)
    blocks = rb // 512
    first = (0x30 + 2 * (blocks + 1) + 7) & ~7
    r[0:4] = b'FILE'
    struct.pack_into('<HHQHHHH', r, 4, 0x30, blocks + 1, 0, 1, 1, first, flags)
    pos = first
    for a in attrs:
        a = a[:rb - pos]
        r[pos:pos + len(a)] = a
        pos += len(a)
    if pos + 8 <= rb:
        struct.pack_into('<I', r, pos, 0xFFFFFFFF)
        pos += 8
    struct.pack_into('<IIQ', r, 0x18, in_use_bytes or pos, rb, base)
    struct.pack_into('<I', r, 0x2C, number)
    struct.pack_into('<H', r, 0x30, 7)
    for i in range(blocks):
        r[0x32 + 2 * i:0x34 + 2 * i] = r[512 * (i + 1) - 2:512 * (i + 1)]
        struct.pack_into('<H', r, 512 * (i + 1) - 2, 7)
    return bytes(r)

def volume(path, bps, records, data=(), total=2048, mft=16, nrec=48):
    rb = 1024 if bps == 512 else bps
    img = bytearray(total * bps)
    img[3:11] = b'NTFS    '
    struct.pack_into('<HB', img, 11, bps, 1)
    struct.pack_into('<QQQ', img, 0x28, total, mft, 2)
    img[0x40] = 0xF6
    img[510:512] = b'\x55\xAA'
    mft_clusters = nrec * rb // bps
    base = {0: (1, [file_name(5, '$MFT'), attr_nonresident(0x80, runs((mft_clusters, mft)), nrec * rb)]),
            5: (3, [file_name(5, '.')]),
            6: (1, [file_name(5, '$Bitmap'), attr_resident(0x80, b'\xff' * ((mft + mft_clusters) // 8) + bytes(8))])}
    base.update(records)
    for n, entry in base.items():
        flags, attrs = entry[0], entry[1]
        extra = entry[2] if len(entry) > 2 else {}
        img[mft * bps + n * rb:mft * bps + (n + 1) * rb] = record(n, flags, attrs, rb, **extra)
    for cluster, content in data:
        img[cluster * bps:cluster * bps + len(content)] = content
    with open(path, 'wb') as f:
        f.write(img)

text = b''.join(b'line %04d of a seed file for the NTFS fuzz targets\n' % i for i in range(200))
out = sys.argv[1]
# Folder chains that loop, a folder that is its own parent, a lost folder.
volume(os.path.join(out, 'loops.img'), 512, {
    16: (2, [file_name(17, 'A')]), 17: (2, [file_name(16, 'B')]),
    18: (0, [file_name(16, 'in loop.txt'), attr_resident(0x80, text[:300])]),
    19: (2, [file_name(19, 'Self')]), 20: (0, [file_name(19, 'mine.txt'), attr_resident(0x80, text[:90])]),
    21: (1, [file_name(5, 'taken.txt'), attr_resident(0x80, b'x')]),
    22: (0, [file_name(21, 'orphan.txt'), attr_nonresident(0x80, runs((4, 200)), 2000)]),
    23: (0, [file_name(900, 'far.txt', 2), file_name(900, 'Far away.txt', 1), attr_resident(0x80, text[:40])]),
}, data=[(200, text[:2048])])
# Attribute lists: one that names itself, one whose piece another file took,
# one that is non-resident.
lst = b''.join([list_entry(0x20, 30), list_entry(0x30, 30), list_entry(0x80, 30, 0), list_entry(0x80, 30, 0),
                list_entry(0x80, 31, 2), list_entry(0x80, 30, 4)])
lst2 = b''.join([list_entry(0x80, 32, 0), list_entry(0x80, 33, 2)])
volume(os.path.join(out, 'lists.img'), 512, {
    30: (0, [file_name(5, 'selfish.txt'), attr_resident(0x20, lst), attr_nonresident(0x80, runs((2, 300)), 3072, 0, 1)]),
    31: (0, [attr_nonresident(0x80, runs((2, 310)), 0, 2, 3)], {'base': 30}),
    32: (0, [file_name(5, 'robbed.txt'), attr_resident(0x20, lst2), attr_nonresident(0x80, runs((2, 320)), 2048, 0, 1)]),
    33: (1, [attr_nonresident(0x80, runs((2, 330)), 0, 2, 3)]),
    34: (0, [file_name(5, 'far list.txt'), attr_nonresident(0x20, runs((1, 340)), 64),
             attr_nonresident(0x80, runs((2, 350)), 1024, 0, 1)]),
}, data=[(300, text[:1024]), (310, text[1024:2048]), (330, text[:1024]), (340, lst2)])
# Sparse and backward runs, a length that lies, bytes in use past the record.
volume(os.path.join(out, 'runs.img'), 512, {
    40: (0, [file_name(5, 'sparse.bin'), attr_nonresident(0x80, runs((2, 400), (8, None), (2, -100)), 6144)]),
    41: (0, [file_name(5, 'huge.txt'), bytes(attr_resident(0x80, text[:64])[:4]) + b'\xf0\xff\xff\xff' +
             attr_resident(0x80, text[:64])[8:]]),
    42: (0, [file_name(5, 'wide.txt'), attr_nonresident(0x80, bytes([0x15, 1, 2, 3, 4, 5, 0x10, 0]), 4096)],
         {'in_use_bytes': 0xFFFFFFFF}),
}, data=[(400, text[:1024]), (298, text[1024:2048])])
# 4096-byte sectors: one record a sector, eight update-sequence tails.
volume(os.path.join(out, 'sect4k.img'), 4096, {
    16: (1 | 2, [file_name(5, 'Folder')]),
    17: (0, [file_name(16, 'n' * 200 + '.txt'), attr_resident(0x80, text[:900])]),
    18: (0, [file_name(16, 'data.bin'), attr_nonresident(0x80, runs((2, 100)), 6000)]),
}, total=256, mft=8, nrec=24, data=[(100, text[:8192])])
PYEOF

# Cuts each volume after its last sector with data (at most 1 MiB, the
# fuzzer's -max_len) and takes its first records as record seeds.
python3 - "$stage/img" "$vol" "$rec" <<'PYEOF'
import os, struct, sys
src, vol, rec = sys.argv[1:4]
LIMIT = 1 << 20
for name in sorted(os.listdir(src)):
    data = open(os.path.join(src, name), 'rb').read()
    stem = name[:-4]
    cut = data[:LIMIT]
    end = len(cut.rstrip(b'\0'))
    with open(os.path.join(vol, stem), 'wb') as f:
        f.write(cut[:(end + 511) // 512 * 512])
    bps = struct.unpack_from('<H', data, 11)[0] or 512
    spc = data[13]
    total = struct.unpack_from('<Q', data, 0x28)[0]
    mft = struct.unpack_from('<Q', data, 0x30)[0] * spc * bps
    rb = 1024 if bps == 512 else bps
    code = {512: 0, 1024: 1, 2048: 2, 4096: 3}.get(bps, 0)
    prefix = bytes([code]) + struct.pack('<I', min(total // max(spc, 1), 0xFFFFFFFF))
    for n in range(64):
        r = data[mft + n * rb:mft + (n + 1) * rb]
        if r[:4] == b'FILE':
            with open(os.path.join(rec, '%s.%02d' % (stem, n)), 'wb') as f:
                f.write(prefix + r)
PYEOF
echo "$0: $(ls "$vol" | wc -l) volume seeds, $(ls "$rec" | wc -l) record seeds"
