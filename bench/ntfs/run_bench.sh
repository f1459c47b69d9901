#!/usr/bin/env bash
# Fast NTFS scan against The Sleuth Kit's `fls -r -d` and ntfs-3g's
# `ntfsundelete -s` on the same image: wall time and peak memory of each,
# side by side, over a few runs, and how many deleted files each lists.
#
# Usage: bench/ntfs/run_bench.sh TESSAROO_CLI [IMAGE] [RUNS]
#
# TESSAROO_CLI is a Release (or RelWithDebInfo) build of tessaroo-cli.
# IMAGE defaults to bench-ntfs.img in the current folder and is made with
# make_bench_image.sh when missing. Needs /usr/bin/time, fls (sleuthkit)
# and ntfsundelete (ntfs-3g). All three read the image from the page cache
# after a warm-up run, so the figures compare parsing, not the disk.
set -euo pipefail
if [ $# -lt 1 ]; then
    echo "usage: $0 TESSAROO_CLI [IMAGE] [RUNS]" >&2
    exit 2
fi
CLI=$(readlink -f "$1")
IMG=${2:-$PWD/bench-ntfs.img}
RUNS=${3:-5}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for tool in /usr/bin/time fls ntfsundelete; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$0: $tool is missing (time, sleuthkit, ntfs-3g)" >&2; exit 1; }
done
[ -f "$IMG" ] || "$HERE/make_bench_image.sh" "$IMG"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export TESSAROO_SUPPORT_DIR=$WORK/support

# One measured run: prints "seconds peak_kib".
measure() {
    /usr/bin/time -f '%e %M' -o "$WORK/time" "$@" >"$WORK/out" 2>/dev/null || true
    cat "$WORK/time"
}

# Warm-up (fills the page cache) and the counts.
"$CLI" scan --image "$IMG" --json >"$WORK/ours.json"
fls -r -d -f ntfs "$IMG" >"$WORK/fls.txt"
ntfsundelete -s -f "$IMG" >"$WORK/und.txt" 2>/dev/null || true
ours=$(grep -o '"record_sector"' "$WORK/ours.json" | wc -l)
# fls lists deleted files as "-/r * inode-type-id: path"; records that lost
# their names show as OrphanFile-<n>.
theirs=$(grep -E '^[-r]/r \*' "$WORK/fls.txt" | grep -vc 'OrphanFile-' || true)
# ntfsundelete lists "inode flags %age date time size name"; F marks a file.
und=$(grep -E '^[0-9]+ +F' "$WORK/und.txt" | grep -vc '<none>' || true)
echo "image: $IMG ($(du -h --apparent-size "$IMG" | cut -f1))"
echo "deleted files listed: tessaroo-cli $ours, fls $theirs, ntfsundelete $und"
printf '%-30s %10s %12s\n' "run" "seconds" "peak KiB"
for i in $(seq 1 "$RUNS"); do
    read -r s m < <(measure "$CLI" scan --image "$IMG" --json)
    printf '%-30s %10s %12s\n' "tessaroo-cli scan --json #$i" "$s" "$m"
    read -r s m < <(measure fls -r -d -f ntfs "$IMG")
    printf '%-30s %10s %12s\n' "fls -r -d #$i" "$s" "$m"
    read -r s m < <(measure ntfsundelete -s -f "$IMG")
    printf '%-30s %10s %12s\n' "ntfsundelete -s #$i" "$s" "$m"
done
