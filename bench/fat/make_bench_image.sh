#!/usr/bin/env bash
# Makes the fast-scan benchmark volume: a 1.25 GiB FAT32 image (4 KiB
# clusters) holding 50,000 files in 110 folders (10 top-level folders of 10
# subfolders each, 500 files per subfolder... see below), of which 10,000
# are then deleted: every fifth file. Long names throughout, as cameras and
# desktops write them. Deterministic: fixed volume id, dates and content.
#
# Usage: bench/fat/make_bench_image.sh IMAGE
#
# Needs mkfs.fat (dosfstools), mtools and python3. Takes a few minutes; the
# image is not committed.
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 IMAGE" >&2
    exit 2
fi
IMG=$1
for tool in mkfs.fat mcopy mdel python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$0: $tool is missing" >&2; exit 1; }
done
export TZ=UTC LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=1623758400
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null

STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT

# 100 folders (10 x 10) of 500 files: 50,000 files, 1 to 12 KiB each.
python3 - "$STAGE/tree" <<'PYEOF'
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
PYEOF

rm -f "$IMG"
mkfs.fat -C -F 32 -s 8 -i 5EEDBE00 -n BENCH "$IMG" $((1280 * 1024)) >/dev/null
mcopy -s -i "$IMG" "$STAGE/tree/"* ::/

# Delete every fifth file, a folder at a time (one mdel per folder).
python3 - "$STAGE/tree" >"$STAGE/del.list" <<'PYEOF'
import os, sys
root = sys.argv[1]
for top in sorted(os.listdir(root)):
    for sub in sorted(os.listdir(os.path.join(root, top))):
        names = sorted(os.listdir(os.path.join(root, top, sub)))
        print('\t'.join('::/%s/%s/%s' % (top, sub, n) for n in names[::5]))
PYEOF
while IFS=$'\t' read -r -a files; do
    mdel -i "$IMG" "${files[@]}"
done <"$STAGE/del.list"
echo "$IMG: $(wc -l <"$STAGE/del.list") folders, $(tr '\t' '\n' <"$STAGE/del.list" | wc -l) files deleted"
