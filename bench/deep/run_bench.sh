#!/usr/bin/env bash
# The whole deep recovery (tessaroo-cli recover, deep by default) against
# PhotoRec on the same images, in one run: wall time, MB/s and peak memory
# of each, page cache warm. PhotoRec searches every file type it knows over
# the whole image and writes what it finds, as recover writes what it finds.
#
# Usage: bench/deep/run_bench.sh TESSAROO_CLI [WORKDIR]
#
# TESSAROO_CLI is a Release (or RelWithDebInfo) build of tessaroo-cli. The recovered files of
# both tools go below $TMPDIR: on a tmpfs (TMPDIR=/dev/shm) the figures are the tools' own, on a
# disk they are mostly the time the disk takes to write them.
# WORKDIR (default: the current folder) keeps the images between runs:
#   raw.img     1 GiB of random, zero and text filler with media files
#               (bench/carve/make_bench_image.sh)
#   fat32.img   a 1.25 GiB FAT32 volume, 50,000 files, 10,000 deleted
#               (bench/fat/make_bench_image.sh)
#   sparse.img  a sparse 64 GiB image: a FAT32 volume with a few hundred
#               files (peak memory only; PhotoRec is not run on it)
set -euo pipefail
if [ $# -lt 1 ]; then
    echo "usage: $0 TESSAROO_CLI [WORKDIR]" >&2
    exit 2
fi
CLI=$(readlink -f "$1")
DIR=$(readlink -f "${2:-$PWD}")
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v photorec >/dev/null || { echo "$0: photorec is missing (testdisk)" >&2; exit 1; }
[ -f "$DIR/raw.img" ] || "$HERE/../carve/make_bench_image.sh" "$DIR/raw.img"
[ -f "$DIR/fat32.img" ] || "$HERE/../fat/make_bench_image.sh" "$DIR/fat32.img"
if [ ! -f "$DIR/sparse.img" ]; then
    truncate -s 64G "$DIR/sparse.img"
    mkfs.fat -F 32 -i 64000000 -n SPARSE "$DIR/sparse.img" >/dev/null
    for i in $(seq 1 300); do
        head -c $((4096 + i * 37)) /dev/urandom >"$DIR/f.bin"
        mcopy -i "$DIR/sparse.img" "$DIR/f.bin" "::/file$i.bin"
    done
    for i in $(seq 1 3 300); do mdel -i "$DIR/sparse.img" "::/file$i.bin"; done
    rm -f "$DIR/f.bin"
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export TESSAROO_SUPPORT_DIR=$WORK/support

# "seconds peak_MiB" of a command, its output thrown away.
measure() {
    /usr/bin/time -f '%e %M' -o "$WORK/time" "$@" >/dev/null 2>&1 || true
    awk '{ printf "%s %d\n", $1, $2 / 1024 }' "$WORK/time"
}
photorec_run() {
    rm -rf "$WORK/pr" && mkdir "$WORK/pr"
    (cd "$WORK/pr" && measure photorec /log /d "$WORK/pr/out" /cmd "$1" \
        partition_none,options,keep_corrupted_file_no,fileopt,everything,enable,wholespace,search)
}
ours_run() {
    rm -rf "$WORK/out"
    measure "$CLI" recover --image "$1" --out "$WORK/out"
}

printf '%-12s %9s %8s %9s   %9s %8s %9s\n' image "ours s" "MB/s" "peak MiB" "photorec" "MB/s" "peak MiB"
for img in raw fat32; do
    f="$DIR/$img.img"
    mib=$(($(stat -c %s "$f") / 1048576))
    cat "$f" >/dev/null
    read -r os om < <(ours_run "$f")
    files=$(find "$WORK/out" -type f | wc -l)
    read -r ps pm < <(photorec_run "$f")
    pfiles=$(find "$WORK/pr" -path '*/out*' -type f ! -name report.xml | wc -l)
    printf '%-12s %9s %8.0f %9s   %9s %8.0f %9s   (%s files; photorec %s)\n' "$img" "$os" \
        "$(echo "$mib / $os" | bc -l)" "$om" "$ps" "$(echo "$mib / $ps" | bc -l)" "$pm" "$files" "$pfiles"
done
read -r ss sm < <(ours_run "$DIR/sparse.img")
printf '%-12s %9s %8s %9s   (%s files recovered)\n' "sparse 64G" "$ss" "-" "$sm" "$(find "$WORK/out" -type f | wc -l)"
