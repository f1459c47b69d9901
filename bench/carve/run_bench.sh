#!/usr/bin/env bash
# The carving sweep (bench_carve) against PhotoRec on the same raw image, in
# one run: wall time of each, over a few runs, with the page cache warm.
#
# Usage: bench/carve/run_bench.sh BENCH_CARVE [IMAGE] [RUNS]
#
# BENCH_CARVE is a Release (or RelWithDebInfo) build of bench_carve. IMAGE
# defaults to carve_bench.img in the current folder and is made with
# make_bench_image.sh when missing. PhotoRec (package testdisk) searches the
# whole image for every file type it knows and writes what it finds to a
# scratch folder; bench_carve only spools its nodes to a store.
set -euo pipefail
if [ $# -lt 1 ]; then
    echo "usage: $0 BENCH_CARVE [IMAGE] [RUNS]" >&2
    exit 2
fi
BENCH=$(readlink -f "$1")
IMG=$(readlink -f "${2:-$PWD/carve_bench.img}")
RUNS=${3:-3}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v photorec >/dev/null || { echo "$0: photorec is missing (testdisk)" >&2; exit 1; }
[ -f "$IMG" ] || "$HERE/make_bench_image.sh" "$IMG"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export TESSAROO_SUPPORT_DIR=$WORK/support
cat "$IMG" >/dev/null # warm the page cache

photorec_run() {
    rm -rf "$WORK/pr" && mkdir "$WORK/pr"
    (cd "$WORK/pr" && photorec /log /d "$WORK/pr/out" /cmd "$IMG" \
        partition_none,options,keep_corrupted_file_no,fileopt,everything,enable,wholespace,search >/dev/null 2>&1)
}
# Wall seconds of a command whose output goes to the file $1.
seconds() {
    local out=$1 t0 t1
    shift
    t0=$(date +%s%N)
    "$@" >"$out"
    t1=$(date +%s%N)
    printf '%d.%02d' $(((t1 - t0) / 1000000000)) $(((t1 - t0) / 10000000 % 100))
}

echo "image: $IMG ($(du -h --apparent-size "$IMG" | cut -f1))"
printf '%-10s %14s %14s\n' "run" "bench_carve s" "photorec s"
for i in $(seq 1 "$RUNS"); do
    ours=$(seconds "$WORK/ours.txt" "$BENCH" "$IMG")
    theirs=$(seconds /dev/null photorec_run)
    printf '%-10s %14s %14s\n' "#$i" "$ours" "$theirs"
done
echo "bench_carve: $(cat "$WORK/ours.txt")"
echo "photorec: $(find "$WORK/pr/out"* -type f ! -name report.xml | wc -l) files recovered"
