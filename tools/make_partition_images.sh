#!/bin/sh
# Builds the disk images the partition-discovery tests read, each with a
# listing of its partitions as the tool that wrote the table reports it.
#
#   make_partition_images.sh OUTDIR
#
# OUTDIR receives, for each image NAME.img, NAME.expect: one line
# "START END" (absolute first and last sector) per partition the tool lists,
# in the tool's order; extended-partition containers are left out, since only
# the volumes inside them hold data. Images are sparse files of a few MiB.
#
#   mbr.img     two primaries and an extended partition (slot 3) holding three
#               logical partitions, laid out by sfdisk
#   mbr2.img    extended partition in slot 1 with two logicals, then a primary
#               in slot 2: a second disk whose labels continue
#   gpt.img     GPT made by sfdisk, with named and unnamed entries
#   apm.img     Apple partition map made by parted (mklabel mac)
#   fat.img     a FAT volume written over the whole image by mkfs.fat (no table)
#   ntfs.img    an NTFS volume written over the whole image by mkntfs (no table)
set -eu
PATH="$PATH:/usr/sbin:/sbin"
export PATH

if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
out=$1
mkdir -p "$out"
cd "$out"

for tool in sfdisk parted mkfs.fat mkntfs; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "$0: $tool is missing (packages fdisk, parted, dosfstools, ntfs-3g)" >&2
        exit 3
    fi
done

# "START END" for every non-extended entry of sfdisk's dump, in its order.
sfdisk_expect() {
    sfdisk -d "$1" | awk -F'[:,]' '
        /^[^ ]+ *: *start=/ {
            start = ""; size = ""; type = ""
            for (i = 2; i <= NF; i++) {
                f = $i; gsub(/ /, "", f)
                if (f ~ /^start=/) start = substr(f, 7)
                else if (f ~ /^size=/) size = substr(f, 6)
                else if (f ~ /^type=/) type = tolower(substr(f, 6))
            }
            if (type == "5" || type == "f" || type == "85") next
            print start, start + size - 1
        }' > "${1%.img}.expect"
}

fresh() {
    rm -f "$1"
    truncate -s "$2" "$1"
}

fresh mbr.img 64M
sfdisk -q mbr.img >/dev/null <<'TABLE'
label: dos
unit: sectors
mbr.img1 : start=2048, size=16384, type=83
mbr.img2 : start=18432, size=16384, type=c
mbr.img3 : start=34816, size=65536, type=5
mbr.img5 : size=8192, type=83
mbr.img6 : size=12288, type=7
mbr.img7 : size=8192, type=83
TABLE
sfdisk_expect mbr.img

fresh mbr2.img 32M
sfdisk -q mbr2.img >/dev/null <<'TABLE'
label: dos
unit: sectors
mbr2.img1 : start=2048, size=40960, type=5
mbr2.img2 : start=45056, size=8192, type=83
mbr2.img5 : start=4096, size=8192, type=83
mbr2.img6 : start=14336, size=8192, type=b
TABLE
sfdisk_expect mbr2.img

fresh gpt.img 16M
sfdisk -q gpt.img >/dev/null <<'TABLE'
label: gpt
unit: sectors
start=2048, size=4096, name="Data One"
start=6144, size=8192, name="Données"
start=14336, size=2048
start=16384, size=10240, name="Last"
TABLE
sfdisk_expect gpt.img

fresh apm.img 32M
parted -s apm.img mklabel mac 2>/dev/null
parted -s apm.img mkpart first hfs+ 1MiB 10MiB 2>/dev/null
parted -s apm.img mkpart second hfs+ 10MiB 20MiB 2>/dev/null
parted -s -m apm.img unit s print 2>/dev/null |
    awk -F: '/^[0-9]+:/ { sub(/s$/, "", $2); sub(/s$/, "", $3); print $2, $3 }' > apm.expect

# A whole-disk volume lists as one partition covering every sector.
whole_disk_expect() {
    bytes=$(wc -c < "$1")
    echo 0 $((bytes / 512 - 1)) > "${1%.img}.expect"
}

fresh fat.img 16M
mkfs.fat -F 16 -n TESSAROO fat.img >/dev/null
whole_disk_expect fat.img

fresh ntfs.img 16M
mkntfs -F -q -Q -L TESSAROO ntfs.img >/dev/null 2>&1
whole_disk_expect ntfs.img
