#!/usr/bin/env bash
# Seeds for fuzz_filetype from the real sample files: each file's first 8 KiB
# as the device, judged at sector 0 (range tests off) and, after a free
# sector, at sector 1 (range tests on), with the file's own extension.
#
# Usage: tests/fuzz/make_filetype_corpus.sh OUTDIR
set -euo pipefail
out=${1:?usage: make_filetype_corpus.sh OUTDIR}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
samples="$out.samples"
"$here/../../tools/make_format_samples.sh" "$samples"
mkdir -p "$out"
for f in "$samples"/*; do
  name=$(basename "$f")
  ext=${name##*.}
  [[ "$ext" == "$name" || ${#ext} -gt 8 ]] && ext=""
  n=$(printf '\\%03o' "${#ext}")
  { printf '\000'; printf '%b' "$n"; printf '%s' "$ext"; head -c 8192 "$f"; } > "$out/$name.0"
  { printf '\024'; printf '%b' "$n"; printf '%s' "$ext"; head -c 512 /dev/zero; head -c 8192 "$f"; } > "$out/$name.1"
done
# Hostile heads for the length estimates, each followed by a few sectors:
# a compound file whose DIFAT chain loops, MIDI tracks whose lengths wrap or
# run past the file, header fields claiming 4 GiB, an ICO and a TTF whose
# directories run past what was read, an ASF whose file properties sit at the
# sector's end, a transport stream of 1 KiB sectors; and random sectors.
python3 - "$out" <<'PY'
import os, struct, sys
out = sys.argv[1]
def seed(name, ctrl, ext, disk):
    with open(os.path.join(out, "hostile_" + name), "wb") as f:
        f.write(bytes([ctrl, len(ext)]) + ext + disk + bytes(-len(disk) % 512))
cfb = bytearray(b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + bytes(504))
struct.pack_into("<HIII", cfb, 30, 9, 0, 0, 0)
struct.pack_into("<I", cfb, 44, 300)
struct.pack_into("<II", cfb, 68, 1, 2)
struct.pack_into("<109I", cfb, 76, *([3] * 109))
difat = bytearray(b"\xFF" * 512)
struct.pack_into("<I", difat, 508, 1)            # links to itself
seed("cfb_difat_loop", 0, b"doc", bytes(cfb) + bytes(512) + bytes(difat) + bytes(1024))
midi = b"MThd" + struct.pack(">IHHH", 6, 1, 3, 96) + b"MTrk" + struct.pack(">I", 0xFFFFFFF8) + bytes(8)
seed("midi_wrap", 0, b"mid", midi + bytes(1024))
midi = b"MThd" + struct.pack(">IHHH", 6, 1, 65535, 96) + (b"MTrk" + struct.pack(">I", 0)) * 60
seed("midi_many_empty_tracks", 0x80 | 0, b"mid", midi + bytes(2048))
seed("avi_4gib", 0, b"avi", b"RIFF\xFF\xFF\xFF\xFFAVI LIST" + bytes(496))
seed("wav_4gib", 0, b"wav", b"RIFF\xFF\xFF\xFF\xFFWAVEfmt " + bytes(496))
seed("ico_wide", 0, b"ico", b"\x00\x00\x01\x00\xFF\xFF" + bytes(506) + bytes(1024))
seed("ttf_wide", 0, b"ttf", b"\x00\x01\x00\x00\xFF\xFF\x00\x10\x00\x04\x00\x10" + bytes(500))
asf = bytearray(b"\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C" + bytes(496))
asf[496:512] = b"\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"
seed("asf_properties_at_end", 0, b"wmv", bytes(asf))
ts = b"".join(b"\x47\x40\x11\x10" + bytes(184) for _ in range(40))
seed("ts_1k_sectors", 0x01 | 0x04 | 0x10, b"ts", bytes(1024) + ts)
# Random sectors judged at sector 1 with the range tests on: one where sync
# bytes on the packet grid cross from sector 0 into it, one starting with a
# zip header.
import random
rng = random.Random(99)
for i in range(8):
    disk = bytearray(rng.randbytes(4096))
    if i == 1:
        for p in range(16):
            disk[324 + p * 188] = 0x47
    if i == 2:
        disk[512:516] = b"PK\x03\x04"
    seed("random_%d" % i, 0x04 | 0x10, b"", bytes(disk))
PY
