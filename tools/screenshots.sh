#!/usr/bin/env bash
# Starts the desktop application on a virtual X server (Xvfb) with a disk
# image as its only disk, goes through a whole recovery as a user would, and
# saves a picture of every page and dialog on the way:
#
#   page1.png            kinds of file
#   page2.png            media
#   scan_progress.png    the progress dialog during the scan
#   cancel_question.png  the question after Cancel (answered No)
#   results.png          the results page with a photo previewed
#   results_ticked.png   the results page with files ticked
#   recovery_done.png    the progress dialog after the recovery
#   recovery_detail.png  the recovery detail list
#
#   tools/screenshots.sh [OUTDIR]          default OUTDIR: build/screenshots
#
#   TESSAROO_APP      the executable (default: the newest build/*/app/tessaroo)
#   SCREENSHOT_IMAGE  the disk image (default: samples/sample.img.gz unpacked)
#
# Needs Xvfb, xdotool, ImageMagick and a C compiler (packages xvfb, xdotool,
# imagemagick, build-essential). Runs without rights: the image is read as
# disk 0, scan logs go to a temporary folder.
#
# The sample card scans in a blink; to catch the scan's dialog, a small
# preloaded library makes reads of the image slow while a flag file exists.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUT="${1:-$ROOT/build/screenshots}"
PATH="$PATH:/usr/sbin:/sbin"

for tool in Xvfb xdotool import compare cc; do
    command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool is missing (packages xvfb, xdotool, imagemagick, build-essential)" >&2; exit 3; }
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

fail() {
    echo "screenshots.sh: $*" >&2
    [ -f "$TMP/app.log" ] && tail -n 20 "$TMP/app.log" >&2
    exit 1
}

# --- the disk ---------------------------------------------------------------------
IMAGE="${SCREENSHOT_IMAGE:-}"
if [ -z "$IMAGE" ]; then
    IMAGE="$TMP/disk.img"
    gzip -dc "$ROOT/samples/sample.img.gz" >"$IMAGE"
fi
IMAGE="$(cd "$(dirname "$IMAGE")" && pwd)/$(basename "$IMAGE")"

# --- slow reads of the image, on demand ----------------------------------------------
cat >"$TMP/slowread.c" <<'EOF'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static ssize_t (*real_read)(int, void*, size_t);

static int is_slow(int fd)
{
    const char* image = getenv("SLOWREAD_IMAGE");
    const char* flag = getenv("SLOWREAD_FLAG");
    struct stat a, b;
    if (!image || !flag || access(flag, F_OK) != 0)
        return 0;
    return fstat(fd, &a) == 0 && stat(image, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

ssize_t read(int fd, void* buf, size_t n)
{
    if (!real_read)
        real_read = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    if (is_slow(fd))
        usleep(400 * 1000);
    return real_read(fd, buf, n);
}
EOF
cc -shared -fPIC -O2 -o "$TMP/slowread.so" "$TMP/slowread.c" -ldl

# --- the X server ------------------------------------------------------------------------
exec 3>"$TMP/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$TMP/xvfb.log" 2>&1 &
XVFB_PID=$!
exec 3>&-
for _ in $(seq 100); do
    [ -s "$TMP/display" ] && break
    sleep 0.1
done
[ -s "$TMP/display" ] || { cat "$TMP/xvfb.log" >&2; fail "Xvfb did not start"; }
export DISPLAY=":$(head -n 1 "$TMP/display")"

# --- the application -----------------------------------------------------------------------
mkdir -p "$TMP/run" "$TMP/support" "$TMP/recovered" "$OUT"
FLAG="$TMP/slow"
(cd "$TMP/run" && exec env QT_QPA_PLATFORM=xcb TESSAROO_DISKS="$IMAGE" TESSAROO_SUPPORT_DIR="$TMP/support" \
    LD_PRELOAD="$TMP/slowread.so" SLOWREAD_IMAGE="$IMAGE" SLOWREAD_FLAG="$FLAG" \
    "$APP" start) >"$TMP/app.log" 2>&1 &
APP_PID=$!

WID="$(timeout 30 xdotool search --sync --onlyvisible --name '^Tessaroo$' | head -n 1 || true)"
[ -n "$WID" ] || fail "the window did not appear"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$WID")" # X, Y: the main window's corner
MAIN_X=$X
MAIN_Y=$Y

# The visible window of the application with this size; "" when none.
window_of_size() {
    local w
    for w in $(xdotool search --onlyvisible --name '^Tessaroo$' 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        if [ "$WIDTH" = "$1" ] && [ "$HEIGHT" = "$2" ]; then
            echo "$w"
            return
        fi
    done
}

# Waits up to 20 s for a window of this size to come up (or, with "gone", to go).
wait_window() {
    local _
    for _ in $(seq 200); do
        if [ "${3:-}" = gone ]; then
            [ -z "$(window_of_size "$1" "$2")" ] && return 0
        else
            [ -n "$(window_of_size "$1" "$2")" ] && return 0
        fi
        sleep 0.1
    done
    return 1
}

# Clicks at x, y relative to the main window's corner (dialogs lie over it).
click_at() {
    xdotool mousemove $((MAIN_X + $1)) $((MAIN_Y + $2)) click "${3:-1}"
}

# The main window's area of the screen, dialogs over it included.
shoot() {
    sleep "${2:-0.6}"
    import -window root -crop "1000x660+${MAIN_X}+${MAIN_Y}" +repage "$OUT/$1"
}

shoot page1.png 0

# "Start" sits at the bottom right of page 1: the layout's right margin is
# 70 px, the button 150 x 42 above the version label.
click_at 855 585
shoot page2.png
if [ "$(compare -metric AE "$OUT/page1.png" "$OUT/page2.png" null: 2>&1 || true)" = "0" ]; then
    fail "the click on Start did not reach page 2"
fi

# Scan, slowly; the dialog is centred over the window (500 x 250 at 250, 165).
touch "$FLAG"
click_at 865 627
wait_window 500 250 || fail "the scan's dialog did not appear"
shoot scan_progress.png 1.5
# Cancel, bottom right of the dialog; then the question (400 x 150 at 62, 31
# from the dialog's corner), answered No.
click_at $((250 + 500 - 20 - 60)) $((165 + 250 - 14 - 18))
wait_window 400 150 || fail "the cancel question did not appear"
shoot cancel_question.png
click_at $((250 + 62 + 400 - 12 - 90 - 12 - 45)) $((165 + 31 + 150 - 23))
wait_window 400 150 gone || fail "the cancel question did not go"
rm -f "$FLAG"
wait_window 500 250 gone || fail "the scan did not end"
sleep 1

# Page 3: the tree (rows of 28 px from y 147) has "Photo(4)", "jpg Files",
# "png Files", "Office(3)", ...; choosing "jpg Files" previews its first file.
click_at 150 189
wait_window 500 250 gone || fail "the preview did not end"
shoot results.png 1

# Tick the first two groups (their check boxes sit left of the rows'
# texts) and recover into a folder typed into the folder dialog.
click_at 51 161
click_at 51 245
shoot results_ticked.png
click_at 905 629
sleep 1.5
xdotool type --delay 20 "$TMP/recovered"
xdotool key Return
wait_window 500 250 || fail "the recovery's dialog did not appear"
shoot recovery_done.png 1.5
# "Detail", the first of the dialog's three buttons.
click_at $((250 + 500 - 20 - 120 - 12 - 120 - 12 - 60)) $((165 + 250 - 14 - 18))
wait_window 600 400 || fail "the detail list did not appear"
shoot recovery_detail.png

# The recovered files lie in their kinds' folders.
[ -n "$(ls -A "$TMP/recovered" 2>/dev/null)" ] || fail "nothing was recovered"

# OK on the detail list, "Finished", then a right-button click on the
# window's background, which closes it, as a user would.
click_at $((250 + 600 - 12 - 55)) $((165 + 400 - 12 - 17))
wait_window 600 400 gone || fail "the detail list did not close"
click_at $((250 + 500 - 20 - 60)) $((165 + 250 - 14 - 18))
wait_window 500 250 gone || fail "the recovery's dialog did not close"
click_at 500 40 3
for _ in $(seq 50); do
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$APP_PID" 2>/dev/null && fail "the window did not close"
wait "$APP_PID" || true
APP_PID=""

echo "screenshots.sh: $(cd "$OUT" && ls *.png | tr '\n' ' ')"
