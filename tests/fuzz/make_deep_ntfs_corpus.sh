#!/usr/bin/env bash
# Seeds for fuzz_deep_ntfs_records: devices behind the 6-byte prefix the
# target reads (order of the records, shuffle seed, first sector).
#
# The devices: 1 MiB windows of the images of tools/make_deep_ntfs_images.sh
# (the old MFT of the quick-formatted card; the lost volume's boot sector
# and MFT on the disk without its table), the volumes tests/fuzz/
# make_ntfs_corpus.sh builds for what no formatter writes (loops, lists,
# runs), and two volumes whose MFT pieces alternate on one device. Each is
# offered in the sweep's order and in a shuffled one.
#
# Usage: tests/fuzz/make_deep_ntfs_corpus.sh OUTDIR
set -euo pipefail
out=${1:?usage: make_deep_ntfs_corpus.sh OUTDIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$here/../..
command -v python3 >/dev/null 2>&1 || { echo "$0: python3 is missing" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$out" "$stage/dev"

if "$root/tools/make_deep_ntfs_images.sh" "$stage/made" >/dev/null && [ ! -f "$stage/made/SKIPPED" ]; then
    dd if="$stage/made/quick.img" of="$stage/dev/quick" bs=1M count=1 status=none
    dd if="$stage/made/mbr.img" of="$stage/dev/mbr" bs=512 skip=1536 count=2048 status=none
else
    echo "$0: no mkntfs images (see above); hand-built seeds only" >&2
fi
if "$here/make_ntfs_corpus.sh" "$stage/vol" "$stage/rec" >/dev/null; then
    for f in loops lists runs; do
        [ -f "$stage/vol/$f" ] && cp "$stage/vol/$f" "$stage/dev/$f"
    done
fi

python3 - "$stage/dev" <<'PYEOF'
import os, struct, sys

def attr_resident(t, value):
    a = bytearray((0x18 + len(value) + 7) & ~7)
    struct.pack_into('<IIBBH', a, 0, t, len(a), 0, 0, 0x18)
    struct.pack_into('<IH', a, 0x10, len(value), 0x18)
    a[0x18:0x18 + len(value)] = value
    return bytes(a)

def attr_data(runs, size, clusters, cluster_bytes):
    a = bytearray((0x40 + len(runs) + 7) & ~7)
    struct.pack_into('<IIBBH', a, 0, 0x80, len(a), 1, 0, 0x40)
    struct.pack_into('<QQHxxxxxxQQQ', a, 0x10, 0, clusters - 1, 0x40, clusters * cluster_bytes, size, size)
    a[0x40:0x40 + len(runs)] = runs
    return bytes(a)

def file_name(parent, name):
    n = name.encode('utf-16-le')
    v = struct.pack('<Q', parent | 1 << 48) + struct.pack('<QQQQ', *[132683184000000000] * 4)
    v += struct.pack('<QQI', 0, 0, 0x20) + bytes(4) + bytes([len(n) // 2, 1]) + n
    return attr_resident(0x30, v)

def runs(*pairs):
    out = bytearray()
    for count, off in pairs:
        ob = next(w for w in range(1, 9) if -(1 << (8 * w - 1)) <= off < (1 << (8 * w - 1)))
        out += bytes([1 | ob << 4, count]) + off.to_bytes(ob, 'little', signed=True)
    return bytes(out + b'\0')

def record(number, flags, attrs):
    r = bytearray(1024)
    r[0:4] = b'FILE'
    struct.pack_into('<HHQHHHH', r, 4, 0x30, 3, 0, 1, 1, 0x38, flags)
    pos = 0x38
    for a in attrs:
        r[pos:pos + len(a)] = a
        pos += len(a)
    struct.pack_into('<I', r, pos, 0xFFFFFFFF)
    struct.pack_into('<II', r, 0x18, pos + 8, 1024)
    struct.pack_into('<I', r, 0x2C, number)
    struct.pack_into('<H', r, 0x30, 7)
    for i in range(2):
        r[0x32 + 2 * i:0x34 + 2 * i] = r[512 * (i + 1) - 2:512 * (i + 1)]
        struct.pack_into('<H', r, 512 * (i + 1) - 2, 7)
    return bytes(r)

# Volume A at 128 (512-byte clusters), volume B at 256 (2 KiB clusters),
# their MFT pieces alternating: A0 B0 A1 B1, a folder 16 in each.
dev = bytearray(1400 * 512)
def put(sector, data):
    dev[sector * 512:sector * 512 + len(data)] = data
text = b''.join(b'line %04d of a deep seed\n' % i for i in range(200))
put(228, record(0, 1, [file_name(5, '$MFT'), attr_data(runs((32, 100), (32, 600)), 32768, 64, 512)]))
put(296, record(0, 1, [file_name(5, '$mft'), attr_data(runs((8, 10), (8, 190)), 32768, 16, 2048)]))
put(828, record(16, 3, [file_name(5, 'AlphaDocs')]))
put(836, record(20, 0, [file_name(16, 'a.txt'), attr_data(runs((2, 1200)), 1000, 2, 512)]))
put(1056, record(16, 3, [file_name(5, 'BetaDocs')]))
put(1064, record(20, 0, [file_name(16, 'b.txt'), attr_data(runs((2, 100)), 3000, 2, 2048)]))
put(128 + 1200, text[:1024])
put(256 + 400, text[:4096])
with open(os.path.join(sys.argv[1], 'interleaved'), 'wb') as f:
    f.write(bytes(dev))
PYEOF

# Each device in the sweep's order and shuffled.
for f in "$stage"/dev/*; do
    name=$(basename "$f")
    { printf '\x00\x01\x00\x00\x00\x00'; cat "$f"; } >"$out/$name.sweep"
    { printf '\x03\x2a\x17\x05\x00\x00'; cat "$f"; } >"$out/$name.shuffled"
done
echo "$0: $(ls "$out" | wc -l) seeds"
