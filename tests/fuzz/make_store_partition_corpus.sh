#!/usr/bin/env bash
# Seeds for the partition and store fuzz targets.
#
# Usage: tests/fuzz/make_store_partition_corpus.sh partition OUTDIR
#        tests/fuzz/make_store_partition_corpus.sh store OUTDIR CLI
#
# partition: the first 256 KiB of every image of tools/make_partition_images.sh,
#   once as the start of a 64 MiB disk and once (first 64 KiB) as the whole
#   disk, an MBR with an extended partition and four logicals laid out by
#   sfdisk inside 256 KiB, and hand-built chains: an EBR linking to itself, a
#   loop back, a link to the MBR, two extended entries in the MBR, a link far
#   off the input, a chain longer than the walk follows, and an Apple map
#   whose entries run off the disk.
# store: the store files of a fast scan of the bundled sample by CLI (the
#   command-line front end), with and without a scan index whose records name
#   that folder, folders beside it and paths outside the scan-log root,
#   damaged copies (a relation text cut short or looping, cut records) and
#   a folder chain 300 deep without folder names.
set -euo pipefail
mode=${1:?usage: make_store_partition_corpus.sh partition|store OUTDIR [CLI]}
out=${2:?usage: make_store_partition_corpus.sh partition|store OUTDIR [CLI]}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tools=$here/../../tools
PATH="$PATH:/usr/sbin:/sbin"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Little-endian fields as printf escapes.
le() { # VALUE BYTES
  local v=$1 n=$2 s="" i
  for ((i = 0; i < n; i++)); do
    s+=$(printf '\\x%02x' $(((v >> (8 * i)) & 255)))
  done
  printf '%s' "$s"
}
be32() {
  printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((($1 >> 24) & 255)) $((($1 >> 16) & 255)) $((($1 >> 8) & 255)) $(($1 & 255))
}
# A text in a zero-filled field of SIZE bytes.
field() { # TEXT SIZE
  printf '%s' "$1"
  head -c $(($2 - ${#1})) /dev/zero
}

# One 512-byte MBR or EBR sector from "TYPE:START:COUNT" entries, TYPE in hex.
table_sector() {
  local e type start count
  head -c 446 /dev/zero
  for e in "$@"; do
    IFS=: read -r type start count <<<"$e"
    printf '%b' "\\x00\\x00\\x00\\x00$(printf '\\x%02x' $((16#$type)))\\x00\\x00\\x00$(le "$start" 4)$(le "$count" 4)"
  done
  head -c $((16 * (4 - $#))) /dev/zero
  printf '\x55\xaa'
}

# put IMAGE SECTOR: stdin goes to that sector of the image.
put() { dd of="$1" bs=512 seek="$2" conv=notrunc status=none; }

partition_seeds() {
  "$tools/make_partition_images.sh" "$work/images" >/dev/null
  for img in "$work"/images/*.img; do
    name=$(basename "$img" .img)
    head -c 262144 "$img" > "$out/$name"
    # A trailing byte 0 makes the input the whole disk: tables reaching
    # further point off it.
    { head -c 65536 "$img"; printf '\000'; } > "$out/$name.exact"
  done

  truncate -s 256K "$work/small.img"
  sfdisk -q "$work/small.img" >/dev/null <<'TABLE'
label: dos
unit: sectors
small.img1 : start=4, size=60, type=83
small.img2 : start=64, size=440, type=f
small.img5 : start=66, size=60, type=83
small.img6 : start=130, size=60, type=7
small.img7 : start=194, size=60, type=c
small.img8 : start=258, size=240, type=83
TABLE
  cp "$work/small.img" "$out/sfdisk-logicals"

  hand() { # NAME, then SECTOR "ENTRY..." pairs separated by --
    local name=$1 img="$work/hand.img"
    shift
    rm -f "$img"
    truncate -s 128K "$img"
    while [ $# -gt 0 ]; do
      local sector=$1 entries=()
      shift
      while [ $# -gt 0 ] && [ "$1" != "--" ]; do entries+=("$1"); shift; done
      [ $# -gt 0 ] && shift
      table_sector "${entries[@]}" | put "$img" "$sector"
    done
    cp "$img" "$out/$name"
  }
  hand ebr-self-link 0 83:8:10 5:20:100 -- 20 83:1:10 5:0:100
  hand ebr-loop-back 0 5:20:100 -- 20 83:1:5 5:10:50 -- 30 83:1:5 5:20:50 -- 40 83:1:5 5:10:50
  hand ebr-link-to-mbr 0 83:8:10 5:20:100 -- 20 83:1:10 5:$((0xFFFFFFFF - 19)):50
  hand two-extended 0 5:20:30 f:60:60 -- 20 83:1:5 5:5:10 -- 25 83:1:3 -- 60 83:2:10 5:20:20 -- 80 83:1:5
  hand ebr-far-link 0 83:8:10 5:4000000000:50 83:30:10
  # A chain longer than the walk follows: EBRs in a row, one logical each.
  chain=(0 5:10:200)
  for ((k = 0; k < 150; k++)); do chain+=(-- $((10 + k)) 83:1:1 5:$((k + 1)):1); done
  hand ebr-long-chain "${chain[@]}"
  hand entries-off-disk 0 7:100:4000000000 83:$((0xFFFFFF00)):$((0x1000)) c:120:10

  # Apple map: "ER" block 0, three map entries, the last one off the disk.
  apm="$work/apm.img"
  rm -f "$apm"
  truncate -s 16K "$apm"
  printf 'ER\x02\x00' | put "$apm" 0
  i=1
  for entry in "1:0:3:map" "4:0:20:data" "3000000000:16:2000000000:far"; do
    IFS=: read -r phys dstart dcount pname <<<"$entry"
    { printf '%b' "PM\\x00\\x00$(be32 3)$(be32 "$phys")$(be32 "$dcount")"
      field "$pname" 32
      head -c 32 /dev/zero
      printf '%b' "$(be32 "$dstart")$(be32 "$dcount")"
    } | put "$apm" $i
    i=$((i + 1))
  done
  cp "$apm" "$out/apm-off-disk"
}

# One scan index record: DISK START COUNT FREE LOGDIR [DEVICEPATH [VALUE72]].
index_record() {
  printf '%b' "$(le "$1" 4)$(le 0 4)$(le "$2" 8)$(le "$3" 8)"
  head -c 40 /dev/zero                       # run start, length, offset, scanned, files
  printf '%b' "$(le "$4" 8)$(le "${7:-0}" 8)"
  field "${6:-}" 256
  field "$5" 256
}

# store_seed NAME FLAGS NODE RELATION DIRINFO [CONFIG]
store_seed() {
  local f
  {
    printf '%b' "$(printf '\\x%02x' "$2")"
    for f in "$3" "$4" "$5"; do printf '%b' "$(le "$(wc -c < "$f")" 4)"; done
    cat "$3" "$4" "$5"
    if [ -n "${6:-}" ]; then cat "$6"; fi
  } > "$out/$1"
}

store_seeds() {
  local cli=${1:?the store seeds need the command-line front end}
  gzip -dc "$here/../../samples/sample.img.gz" > "$work/sample.img"
  TESSAROO_SUPPORT_DIR="$work/support" "$cli" scan --image "$work/sample.img" >/dev/null
  local dir="$work/support/ScanLog/1" node rel dirinfo
  node=$(find "$dir" -type f -name 'Fast_*' ! -name '*_Relation' ! -name '*_DirInfo' | head -1)
  rel="${node}_Relation"
  dirinfo="${node}_DirInfo"
  [ -s "$node" ] && [ -s "$rel" ] || { echo "$0: the scan left no store" >&2; exit 1; }

  # The index of a deep scan of the sample whose folder is "1/", then
  # records naming folders beside it, a changed volume and places outside.
  { printf '%b' "$(le 1 8)"
    index_record 0 0 32768 0 "@1/"
    index_record 0 2048 4096 5 "@2/"
    index_record 1 0 100 0 "@01/"
    index_record 2 0 100 0 "@1/../"
    index_record 3 0 100 0 "@../"
    index_record 4 0 100 7 "/tmp/"
    index_record 5 0 100 0 "@18446744073709551616/" "/dev/sdz" 9
  } > "$work/config"
  { printf '%b' "$(le -1 8)"; index_record 0 0 32768 0 "@1/" "/dev/sdy" 3; } > "$work/config.wrap"
  : > "$work/empty"

  store_seed sample "0" "$node" "$rel" "$dirinfo"
  store_seed sample-reopened "2" "$node" "$rel" "$dirinfo"
  store_seed sample-indexed "0" "$node" "$rel" "$dirinfo" "$work/config"
  store_seed sample-indexed-tmp "1" "$node" "$rel" "$dirinfo" "$work/config"
  store_seed sample-indexed-short-path "6" "$node" "$rel" "$dirinfo" "$work/config.wrap"

  # Damaged copies.
  head -c $(($(wc -c < "$rel") / 2)) "$rel" > "$work/rel.cut"
  printf ' | 0 - [1,2,3] | 4294967298 - [3,1] | 8589934595 - [2,3,9999999999,0,]' > "$work/rel.loop"
  head -c 300 "$dirinfo" > "$work/dirinfo.cut"
  head -c $(($(wc -c < "$node") - 200)) "$node" > "$work/node.cut"
  store_seed relation-cut "0" "$node" "$work/rel.cut" "$dirinfo"
  store_seed relation-loop "2" "$node" "$work/rel.loop" "$work/empty"
  store_seed cut-records "4" "$work/node.cut" "$rel" "$work/dirinfo.cut" "$work/config"
  store_seed empty "0" "$work/empty" "$work/empty" "$work/empty"

  # A folder chain 300 deep without folder names: folder j (cluster j) is
  # filed under folder j + 1, so every path step looks in the node file.
  : > "$work/chain.node"
  rel=" | 0 - [1]"
  for ((j = 1; j <= 300; j++)); do
    { printf '%b' "$(le 0 4)$(le 1 4)$(le 1 4)$(le 0 4)$(le 1 4)$(le "$j" 4)$(le "$j" 4)$(le 4096 4)"
      head -c 56 /dev/zero
      field "d$j" 256
    } >> "$work/chain.node"
    if [ "$j" -lt 300 ]; then rel+=" | $((j + 1)) - [$j]"; fi
  done
  printf '%s' "$rel" > "$work/chain.rel"
  store_seed deep-folder-chain "0" "$work/chain.node" "$work/chain.rel" "$work/empty"
}

case $mode in
  partition) partition_seeds ;;
  store) store_seeds "${3:-}" ;;
  *) echo "usage: $0 partition|store OUTDIR [CLI]" >&2; exit 2 ;;
esac
