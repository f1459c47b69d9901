#!/usr/bin/env bash
# Makes the carving benchmark's raw image (not committed): 1 GiB, mostly
# random and zero stretches, with media files laid sector-aligned among them
# (about a fifth of the image): the real files of tools/make_carve_image.sh,
# over and over, in a random order.
#
# Usage: bench/carve/make_bench_image.sh IMAGE [MIB]
set -euo pipefail
img=${1:?usage: make_bench_image.sh IMAGE [MIB]}
mib=${2:-1024}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/../../tools/make_carve_image.sh" "$work/carve"
python3 - "$work/carve" "$img" "$mib" <<'PY'
import os, random, sys
src, img, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
SECTOR = 512
data = open(os.path.join(src, "carve.img"), "rb").read()
pool = []
for line in open(os.path.join(src, "carve.manifest")):
    start, size = (int(x) for x in line.split("\t")[:2])
    pool.append(data[start * SECTOR:start * SECTOR + size])
rng = random.Random(7)
total = mib << 20
with open(img, "wb") as f:
    size = 0
    while size < total:
        kind = rng.choices(("random", "zero", "media"), (45, 35, 20))[0]
        if kind == "media":
            piece = b""
            while len(piece) < (4 << 20):
                b = rng.choice(pool)
                piece += b + bytes(-len(b) % SECTOR)
        else:
            n = rng.randrange(1, 64) << 16
            piece = rng.randbytes(n) if kind == "random" else bytes(n)
        piece = piece[:total - size]
        f.write(piece)
        size += len(piece)
PY
echo "made $img ($mib MiB)"
