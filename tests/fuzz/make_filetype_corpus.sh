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
