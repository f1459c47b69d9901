#!/usr/bin/env bash
# Sets up a fresh Debian machine for Tessaroo and runs one job:
#   tools/bootstrap.sh run    install, configure, build, recover the bundled sample's deleted files
#   tools/bootstrap.sh test   install, configure, build (normal, address/undefined sanitizer, fuzz), run every test
set -euo pipefail

job="${1:-run}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

packages=(
  build-essential cmake pkg-config python3 util-linux
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev xvfb xauth xdotool
  dosfstools mtools ntfs-3g exfatprogs e2fsprogs fdisk parted sleuthkit
  imagemagick ffmpeg sox sqlite3 zip gzip p7zip-full
  libssl-dev libunistring-dev libcli11-dev nlohmann-json3-dev qt6-image-formats-plugins testdisk
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update
  as_root apt-get install -y --no-install-recommends "${packages[@]}"
}

jobs_flag="-j$(nproc 2>/dev/null || echo 2)"

build() {
  local preset="$1"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "$jobs_flag"
}

case "$job" in
  run)
    install_packages
    build dev
    mkdir -p build
    gzip -dc samples/sample.img.gz > build/sample.img
    rm -rf recovered
    ./build/dev/cli/tessaroo-cli recover --image build/sample.img --out ./recovered
    echo
    echo "Recovered files:"
    find recovered -type f | sort
    ;;
  test)
    install_packages
    # The sanitizer build runs first; the last summary printed is the full suite's.
    build asan
    (cd build/asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --output-on-failure "$jobs_flag" --timeout 600)
    # The fuzz targets (clang, libFuzzer) replay their seeds and corpora:
    # the hostile-input cases of the volumes, tables, stores and formats.
    build fuzz
    (cd build/fuzz && ctest --output-on-failure "$jobs_flag" --timeout 600)
    build ci
    (cd build/ci && QT_QPA_PLATFORM=offscreen ctest --output-on-failure "$jobs_flag" --timeout 600)
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 1
    ;;
esac
