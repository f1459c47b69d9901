#!/usr/bin/env bash
# Makes the fast-scan benchmark volume: a 1.25 GiB NTFS image (512-byte
# sectors, 4 KiB clusters) holding 50,000 files in 100 folders (10 top-level
# folders of 10 subfolders, 500 files each, 1 to 12 KiB), of which 10,000
# are then deleted: every fifth file. Long names throughout, as cameras and
# desktops write them. The files are written and deleted through ntfs-3g, so
# the MFT is laid out as a real file system lays it out.
#
# Usage: bench/ntfs/make_bench_image.sh IMAGE
#
# Needs mkntfs and ntfs-3g (a FUSE mount: root, or a setuid ntfs-3g) and
# python3. Takes a minute or two; the image is not committed.
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 IMAGE" >&2
    exit 2
fi
IMG=$1
for tool in mkntfs ntfs-3g python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$0: $tool is missing" >&2; exit 1; }
done
MNT=$(mktemp -d)
trap 'mountpoint -q "$MNT" && umount "$MNT"; rmdir "$MNT"' EXIT

rm -f "$IMG"
truncate -s $((1280 * 1024 * 1024)) "$IMG"
mkntfs -q -Q -F -T -s 512 -c 4096 -L BENCH "$IMG" >/dev/null 2>&1
ntfs-3g "$IMG" "$MNT"

python3 - "$MNT" <<'PYEOF'
import os, sys
root = sys.argv[1]
line = b'the quick brown fox jumps over the lazy dog 0123456789\n'
n = 0
for top in range(10):
    for sub in range(10):
        d = os.path.join(root, 'Album %02d' % top, 'Day %02d' % sub)
        os.makedirs(d)
        for i in range(500):
            n += 1
            ext = ('txt', 'dat', 'log', 'csv')[i % 4]
            size = 1024 + (n * 2654435761 % 11264)
            head = ('file %06d of the benchmark volume\n' % n).encode()
            body = (head + line * (size // len(line) + 1))[:size]
            with open(os.path.join(d, 'Holiday note %06d.%s' % (n, ext)), 'wb') as f:
                f.write(body)
deleted = 0
for top in sorted(os.listdir(root)):
    if not top.startswith('Album'):
        continue
    for sub in sorted(os.listdir(os.path.join(root, top))):
        d = os.path.join(root, top, sub)
        for name in sorted(os.listdir(d))[::5]:
            os.remove(os.path.join(d, name))
            deleted += 1
print('%s: %d files written, %d deleted' % (sys.argv[1], n, deleted))
PYEOF
sync
umount "$MNT"
