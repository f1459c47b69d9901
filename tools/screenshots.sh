#!/usr/bin/env bash
# Starts the desktop application on a virtual X server (Xvfb) with a disk
# image as its only disk and saves screenshots of page 1 (kinds of file) and
# page 2 (media), so the window can be looked at without a desktop.
#
#   tools/screenshots.sh [OUTDIR]          default OUTDIR: build/screenshots
#
#   TESSAROO_APP    the executable (default: the newest build/*/app/tessaroo)
#   SCREENSHOT_IMAGE  the disk image (default: samples/sample.img.gz unpacked;
#                   without a sample, a FAT volume made by mkfs.fat)
#
# Needs Xvfb, xdotool and ImageMagick (packages xvfb, xdotool, imagemagick).
# Runs without rights: the image is read as disk 0, scan logs go to a
# temporary folder.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/build/screenshots}"
PATH="$PATH:/usr/sbin:/sbin"

for tool in Xvfb xdotool import compare; do
    command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool is missing (packages xvfb, xdotool, imagemagick)" >&2; exit 3; }
done

APP="${TESSAROO_APP:-}"
if [ -z "$APP" ]; then
    APP="$(ls -t "$ROOT"/build/*/app/tessaroo 2>/dev/null | head -n 1 || true)"
fi
[ -n "$APP" ] && [ -x "$APP" ] || { echo "screenshots.sh: build the tessaroo target first, or set TESSAROO_APP" >&2; exit 2; }
APP="$(cd "$(dirname "$APP")" && pwd)/$(basename "$APP")"

TMP="$(mktemp -d)"
XVFB_PID=""
APP_PID=""
cleanup() {
    [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$TMP"
}
trap cleanup EXIT

# --- the disk ---------------------------------------------------------------------
IMAGE="${SCREENSHOT_IMAGE:-}"
if [ -z "$IMAGE" ]; then
    IMAGE="$TMP/disk.img"
    if [ -f "$ROOT/samples/sample.img.gz" ]; then
        gzip -dc "$ROOT/samples/sample.img.gz" >"$IMAGE"
    else
        command -v mkfs.fat >/dev/null || { echo "screenshots.sh: no sample and no mkfs.fat (package dosfstools)" >&2; exit 3; }
        mkfs.fat -C -F 16 -n CARD "$IMAGE" 16384 >/dev/null
    fi
fi
IMAGE="$(cd "$(dirname "$IMAGE")" && pwd)/$(basename "$IMAGE")"

# --- the X server ------------------------------------------------------------------------
exec 3>"$TMP/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$TMP/xvfb.log" 2>&1 &
XVFB_PID=$!
exec 3>&-
for _ in $(seq 100); do
    [ -s "$TMP/display" ] && break
    sleep 0.1
done
[ -s "$TMP/display" ] || { echo "screenshots.sh: Xvfb did not start" >&2; cat "$TMP/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$TMP/display")"

# --- the application -----------------------------------------------------------------------
mkdir -p "$TMP/run" "$TMP/support" "$OUT"
(cd "$TMP/run" && exec env QT_QPA_PLATFORM=xcb TESSAROO_DISKS="$IMAGE" TESSAROO_SUPPORT_DIR="$TMP/support" \
    "$APP" start) >"$TMP/app.log" 2>&1 &
APP_PID=$!

WID="$(timeout 30 xdotool search --sync --onlyvisible --name '^Tessaroo$' | head -n 1 || true)"
[ -n "$WID" ] || { echo "screenshots.sh: the window did not appear" >&2; cat "$TMP/app.log" >&2; exit 1; }
sleep 1

import -window "$WID" "$OUT/page1.png"

# "Start" sits at the bottom right of page 1: the layout's right margin is
# 70 px, the button 150 x 42 above the version label.
xdotool mousemove --window "$WID" 855 585 click 1
sleep 1
import -window "$WID" "$OUT/page2.png"

if [ "$(compare -metric AE "$OUT/page1.png" "$OUT/page2.png" null: 2>&1 || true)" = "0" ]; then
    echo "screenshots.sh: the click on Start did not reach page 2" >&2
    exit 1
fi

# A right-button click on the window's background closes it, as a user would.
xdotool mousemove --window "$WID" 500 40 click 3
for _ in $(seq 50); do
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.1
done
if ! kill -0 "$APP_PID" 2>/dev/null; then
    wait "$APP_PID" || true
    APP_PID=""
fi

echo "screenshots.sh: $OUT/page1.png $OUT/page2.png"
