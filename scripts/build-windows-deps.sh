#!/usr/bin/env bash
# Cross-builds the target libraries the Windows build links from Debian's own
# sources: a static libavutil (ffmpeg with only avutil) and GoogleTest, one tree
# per architecture under build/windows-deps/<triplet>/. Each is built once; a
# stamp file marks a finished build.
#   scripts/build-windows-deps.sh [x86_64|i686]...   (default: x86_64, and i686
#                                                     when wine32 is installed)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/build/windows-deps"
src="$deps/src"
jobs=${JOBS:-2}
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi

arches=("$@")
if [[ ${#arches[@]} -eq 0 ]]; then
  arches=(x86_64)
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    arches+=(i686)
  fi
fi

# Source packages come from the same archive as the binary ones, enabled in a
# file of our own so the system's list stays as it was.
ensure_deb_src() {
  local list=/etc/apt/sources.list.d/kqbridge-deb-src.sources
  [[ -f $list ]] && return
  local suite
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  $sudo tee "$list" >/dev/null <<LIST
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
LIST
  $sudo apt-get update -qq || true
}

fetch_ffmpeg() {
  local dir
  dir=$(find "$src" -maxdepth 1 -type d -name 'ffmpeg-*' 2>/dev/null | head -n1)
  if [[ -z $dir ]]; then
    ensure_deb_src
    mkdir -p "$src"
    (cd "$src" && apt-get source -qq --download-only ffmpeg >/dev/null &&
      dpkg-source --no-check -x ffmpeg_*.dsc >/dev/null)
    dir=$(find "$src" -maxdepth 1 -type d -name 'ffmpeg-*' | head -n1)
  fi
  echo "$dir"
}

build_avutil() {
  local arch=$1 triplet=$2 prefix=$3
  [[ -f $prefix/.avutil-done ]] && return
  local source
  source=$(fetch_ffmpeg)
  local work="$deps/$triplet-ffmpeg"
  rm -rf "$work" && mkdir -p "$work"
  echo "build-windows-deps: libavutil for $triplet"
  (cd "$work" && "$source/configure" --prefix="$prefix" \
      --enable-cross-compile --target-os=mingw32 --arch="$arch" --cross-prefix="$triplet-" \
      --disable-everything --disable-programs --disable-doc --disable-autodetect \
      --disable-avcodec --disable-avformat --disable-avdevice --disable-avfilter \
      --disable-swscale --disable-swresample --disable-postproc --disable-network \
      --disable-x86asm \
      --enable-static --disable-shared --disable-debug &&
    make -j"$jobs" install) >"$deps/$triplet-avutil.log" 2>&1 ||
    { echo "build-windows-deps: libavutil failed, see $deps/$triplet-avutil.log" >&2; exit 1; }
  rm -rf "$work"
  touch "$prefix/.avutil-done"
}

build_gtest() {
  local arch=$1 triplet=$2 prefix=$3
  [[ -f $prefix/.gtest-done ]] && return
  local work="$deps/$triplet-googletest"
  echo "build-windows-deps: GoogleTest for $triplet"
  { cmake -S /usr/src/googletest -B "$work" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
      -Dgtest_disable_pthreads=OFF -DBUILD_SHARED_LIBS=OFF &&
    cmake --build "$work" -j"$jobs" && cmake --install "$work"; } >"$deps/$triplet-googletest.log" 2>&1 ||
    { echo "build-windows-deps: GoogleTest failed, see $deps/$triplet-googletest.log" >&2; exit 1; }
  rm -rf "$work"
  touch "$prefix/.gtest-done"
}

for arch in "${arches[@]}"; do
  triplet="$arch-w64-mingw32"
  prefix="$deps/$triplet"
  mkdir -p "$prefix"
  build_avutil "$arch" "$triplet" "$prefix"
  build_gtest "$arch" "$triplet" "$prefix"
done
