#!/usr/bin/env bash
# Seeds for the deep FAT fuzz target (tests/fuzz/DeepFatFuzz.cpp says what
# an input is): the volumes of tools/make_deep_fat_images.sh, each cut to a
# window of 4096 sectors from its start, as records: the boot sector and the
# first sector of every file's data written to the device only, then every
# sector of the window that looks like directory entries, offered through
# the recognisers in sector order, and once more in reverse order.
#
# Usage: tests/fuzz/make_deep_fat_corpus.sh OUTDIR
set -euo pipefail
out=${1:?usage: make_deep_fat_corpus.sh OUTDIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$here/../..
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$out"
"$root/tools/make_deep_fat_images.sh" "$stage" >/dev/null

python3 - "$stage" "$out" <<'PYEOF'
import os, struct, sys
stage, out = sys.argv[1:3]
WINDOW, LIMIT = 4096, 100

def manifest(name):
    facts, files = {}, []
    for line in open(os.path.join(stage, name + '.manifest'), encoding='utf-8'):
        if line.startswith('#@ '):
            k, v = line[3:].strip().split('=', 1)
            facts[k] = v
        elif not line.startswith('#'):
            f = line.rstrip('\n').split('\t')
            if f[0] == 'file':
                files.append(int(f[4]))
    return facts, files

def dirlike(s):
    if s[0] == 0:
        return False
    for i in range(0, 512, 32):
        e = s[i:i + 32]
        if e[0] == 0:
            return not any(s[i:])
        if e[11] > 0x3F:
            return False
    return True

def seed(name, image, volume):
    facts, clusters = manifest(volume)
    base = int(facts['partition_start_sector'])
    data = int(facts['data_start_sector'])
    spc = int(facts['sectors_per_cluster'])
    with open(os.path.join(stage, image + '.img'), 'rb') as f:
        f.seek(base * 512)
        win = f.read(WINDOW * 512)
    sector = lambda n: win[n * 512:(n + 1) * 512]
    device = [0] + [data + (c - 2) * spc for c in clusters if c >= 2 and data + (c - 2) * spc < WINDOW]
    offered = [n for n in range(WINDOW) if n * 512 < len(win) and dirlike(sector(n))][:LIMIT - len(device)]
    for order, suffix in ((offered, ''), (offered[::-1], '.reversed')):
        body = bytes([0])
        for n in device:
            body += bytes([4]) + struct.pack('<H', n) + sector(n)
        for n in order:
            body += bytes([2]) + struct.pack('<H', n) + sector(n)
        with open(os.path.join(out, name + suffix), 'wb') as f:
            f.write(body)

for name in ('fat16qf', 'fat32qf', 'noboot', 'lostdir'):
    seed(name, name, name)
seed('mbra', 'mbr', 'mbra')
seed('mbrb', 'mbr', 'mbrb')
PYEOF
