#!/usr/bin/env bash
# Cross-builds the target libraries the Windows build links from Debian's own
# sources: a static libavutil (ffmpeg with only avutil), a static libmosquitto
# (the client library, without TLS: Debian has no OpenSSL for the target) and
# GoogleTest, one tree per architecture under build/windows-deps/<triplet>/,
# beside the header-only nlohmann-json. Each is built once; a stamp file marks
# a finished build.
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

# The unpacked source tree of a Debian source package.
fetch_source() {
  local package=$1 dir
  dir=$(find "$src" -maxdepth 1 -type d -name "$package-*" 2>/dev/null | head -n1)
  if [[ -z $dir ]]; then
    ensure_deb_src
    mkdir -p "$src"
    (cd "$src" && apt-get source -qq --download-only "$package" >/dev/null &&
      dpkg-source --no-check -x "$package"_*.dsc >/dev/null)
    dir=$(find "$src" -maxdepth 1 -type d -name "$package-*" | head -n1)
  fi
  echo "$dir"
}

build_avutil() {
  local arch=$1 triplet=$2 prefix=$3
  [[ -f $prefix/.avutil-done ]] && return
  local source
  source=$(fetch_source ffmpeg)
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

# Only the client library, with its threading on (winpthreads stands in for the
# POSIX threads it uses), linked statically into remote.dll. Its own CMake
# files name a prebuilt pthreads for Windows, which a static library never
# links, so only that target is built, and installed by hand with a pkg-config
# file of ours.
build_mosquitto() {
  local arch=$1 triplet=$2 prefix=$3
  [[ -f $prefix/.mosquitto-done ]] && return
  local source
  source=$(fetch_source mosquitto)
  local work="$deps/$triplet-mosquitto"
  echo "build-windows-deps: libmosquitto for $triplet"
  { cmake -S "$source" -B "$work" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DWITH_STATIC_LIBRARIES=ON -DWITH_THREADING=ON -DWITH_TLS=OFF -DWITH_TLS_PSK=OFF -DWITH_EC=OFF \
      -DWITH_CJSON=OFF -DWITH_SOCKS=OFF -DWITH_SRV=OFF -DWITH_BROKER=OFF -DWITH_APPS=OFF \
      -DWITH_CLIENTS=OFF -DWITH_PLUGINS=OFF -DWITH_LIB_CPP=OFF -DDOCUMENTATION=OFF &&
    cmake --build "$work" -j"$jobs" --target libmosquitto_static; } >"$deps/$triplet-mosquitto.log" 2>&1 ||
    { echo "build-windows-deps: libmosquitto failed, see $deps/$triplet-mosquitto.log" >&2; exit 1; }
  mkdir -p "$prefix/lib/pkgconfig" "$prefix/include"
  cp "$work/lib/libmosquitto_static.a" "$prefix/lib/"
  cp "$source/include/mosquitto.h" "$source/include/mqtt_protocol.h" "$prefix/include/"
  cat >"$prefix/lib/pkgconfig/libmosquitto.pc" <<PC
prefix=$prefix
Name: libmosquitto
Description: MQTT client library (static, without TLS)
Version: $(basename "$source" | sed 's/^mosquitto-//')
Cflags: -I\${prefix}/include -DLIBMOSQUITTO_STATIC
Libs: -L\${prefix}/lib -lmosquitto_static -lws2_32
PC
  rm -rf "$work"
  touch "$prefix/.mosquitto-done"
}

# Header-only, the same for every target: Debian's copy.
copy_json() {
  local prefix=$1
  [[ -d $prefix/include/nlohmann ]] || cp -r /usr/include/nlohmann "$prefix/include/"
}

for arch in "${arches[@]}"; do
  triplet="$arch-w64-mingw32"
  prefix="$deps/$triplet"
  mkdir -p "$prefix"
  build_avutil "$arch" "$triplet" "$prefix"
  build_gtest "$arch" "$triplet" "$prefix"
  build_mosquitto "$arch" "$triplet" "$prefix"
  copy_json "$prefix"
done
