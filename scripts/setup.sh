#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine (run as root), for both programs: the
# 32-bit one (i686) and the 64-bit one (x86_64). Idempotent: a second run installs nothing and rebuilds nothing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$here/.deps"
packages=(cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 xvfb xauth xdotool
          fonts-wqy-microhei fonts-liberation icoutils imagemagick python3-pil googletest
          dpkg-dev file nasm libz-mingw-w64-dev libstb-dev)

sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# The libraries are kept apart per architecture: .deps/x86 and .deps/x64.
triplet() { case "$1" in x86) echo i686-w64-mingw32 ;; x64) echo x86_64-w64-mingw32 ;; esac; }
processor() { case "$1" in x86) echo i686 ;; x64) echo AMD64 ;; esac; }
libs_missing=0
for arch in x86 x64; do
    for lib in pcre2/lib/libpcre2-16.a jpeg/lib/libjpeg.a spng/lib/libspng.a webp/lib/libwebpdemux.a; do
        [ -f "$deps/$arch/$lib" ] || libs_missing=1
    done
done

if [ ${#missing[@]} -gt 0 ] || [ "$libs_missing" = 1 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        sudo_ dpkg --add-architecture i386
    fi
    # PCRE2, libjpeg-turbo, libspng and libwebp have no mingw build in Debian: their source packages are cross-built
    # below.
    if ! grep -rqs '^\(Types:.*deb-src\|deb-src\)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        # The suites of the main archive, from one-line and deb822 entries alike; the security archive has no
        # sources at this address.
        shopt -s nullglob
        lists=(/etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
        [ -f /etc/apt/sources.list ] && lists+=(/etc/apt/sources.list)
        suites=$(awk '
            function flush() { if (uri ~ /\/debian\/?$/ && st != "") print st; uri = ""; st = "" }
            FNR == 1 { flush() }
            /^[[:space:]]*$/ { flush(); next }
            /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); uri = $0; next }
            /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); st = $0; next }
            /^deb[[:space:]]/ { line = $0; gsub(/\[[^]]*\]/, "", line); split(line, f, /[[:space:]]+/)
                                if (f[2] ~ /\/debian\/?$/) print f[3]; next }
            END { flush() }' "${lists[@]}" /dev/null 2>/dev/null |
            tr -s ' \n' '\n\n' | awk 'NF && !seen[$0]++' | tr '\n' ' ' | sed 's/ $//' || true)
        shopt -u nullglob
        [ -n "$suites" ] || suites=$(. /etc/os-release && echo "$VERSION_CODENAME")
        sudo_ tee /etc/apt/sources.list.d/glyphwright-src.sources >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suites
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    fi
    export DEBIAN_FRONTEND=noninteractive
    sudo_ apt-get update -qq
fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

build_pcre2() {
    local arch=$1 host prefix="$deps/$1/pcre2" work="$deps/$1/pcre2-work"
    host=$(triplet "$arch")
    echo "setup: building PCRE2 (16-bit, static, $host)"
    rm -rf "$work" && mkdir -p "$work/src"
    (cd "$work/src" && apt-get source --download-only pcre2 >/dev/null 2>&1 || apt-get source --download-only pcre2)
    tar -xf "$(ls "$work"/src/pcre2_*.orig.tar.* | head -n1)" -C "$work/src"
    local src
    src=$(find "$work/src" -maxdepth 1 -mindepth 1 -type d -name 'pcre2-*' | head -n1)
    cmake -S "$src" -B "$work/build" -G Ninja -Wno-dev \
        -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR="$(processor "$arch")" \
        -DCMAKE_C_COMPILER="$host-gcc-posix" -DCMAKE_RC_COMPILER="$host-windres" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
        -DPCRE2_BUILD_PCRE2_8=OFF -DPCRE2_BUILD_PCRE2_16=ON -DPCRE2_BUILD_PCRE2_32=OFF \
        -DPCRE2_SUPPORT_UNICODE=ON -DPCRE2_SUPPORT_JIT=OFF -DPCRE2_BUILD_PCRE2GREP=OFF \
        -DPCRE2_BUILD_TESTS=OFF >/dev/null
    cmake --build "$work/build" >/dev/null
    cmake --install "$work/build" >/dev/null
    rm -rf "$work"
}

# JPEG photos are decoded with libjpeg-turbo (scaled DCT decoding); nasm builds its SIMD code.
build_jpeg() {
    local arch=$1 host prefix="$deps/$1/jpeg" work="$deps/$1/jpeg-work"
    host=$(triplet "$arch")
    echo "setup: building libjpeg-turbo (static, $host)"
    rm -rf "$work" && mkdir -p "$work/src"
    (cd "$work/src" && apt-get source --download-only libjpeg-turbo >/dev/null 2>&1 ||
        apt-get source --download-only libjpeg-turbo)
    tar -xf "$(ls "$work"/src/libjpeg-turbo_*.orig.tar.* | head -n1)" -C "$work/src"
    local src
    src=$(find "$work/src" -maxdepth 1 -mindepth 1 -type d -name 'libjpeg-turbo-*' | head -n1)
    cmake -S "$src" -B "$work/build" -G Ninja -Wno-dev \
        -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR="$(processor "$arch")" \
        -DCMAKE_C_COMPILER="$host-gcc-posix" -DCMAKE_RC_COMPILER="$host-windres" \
        -DCMAKE_ASM_NASM_COMPILER=nasm -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DWITH_SIMD=ON \
        -DREQUIRE_SIMD=ON >/dev/null
    cmake --build "$work/build" --target jpeg-static >/dev/null
    mkdir -p "$prefix/lib" "$prefix/include"
    cp "$src/jpeglib.h" "$src/jmorecfg.h" "$src/jerror.h" "$work/build/jconfig.h" "$prefix/include/"
    cp "$work/build/libjpeg.a" "$prefix/lib/libjpeg.a.part"
    mv "$prefix/lib/libjpeg.a.part" "$prefix/lib/libjpeg.a"
    rm -rf "$work"
}

# Fetches a source package into $2/src and unpacks it with Debian's patches applied (libwebp's security fixes are
# patches on top of the upstream archive); prints the unpacked folder.
unpack_source() {
    local package=$1 work=$2
    rm -rf "$work" && mkdir -p "$work/src" || return 1
    (cd "$work/src" && apt-get source --download-only "$package" >/dev/null 2>&1 ||
        apt-get source --download-only "$package" >&2) || return 1
    (cd "$work/src" && dpkg-source --no-check -x "$(ls ./*.dsc | head -n1)" tree >/dev/null) || return 1
    echo "$work/src/tree"
}

# PNG is decoded row by row with libspng, over Debian's mingw zlib.
build_spng() {
    local arch=$1 host prefix="$deps/$1/spng" work="$deps/$1/spng-work" src
    host=$(triplet "$arch")
    echo "setup: building libspng (static, $host)"
    src=$(unpack_source libspng "$work")
    # One C file; its CMake project can't build the static library alone.
    "$host-gcc-posix" -O2 -msse2 -DSPNG_STATIC -c "$src/spng/spng.c" -o "$work/spng.o"
    mkdir -p "$prefix/lib" "$prefix/include"
    "$host-ar" rcs "$prefix/lib/libspng.a.part" "$work/spng.o"
    cp "$src/spng/spng.h" "$prefix/include/"
    mv "$prefix/lib/libspng.a.part" "$prefix/lib/libspng.a"
    rm -rf "$work"
}

# WebP: the decoder and the demuxer (an animation's first frame); no encoder, no tools.
build_webp() {
    local arch=$1 host prefix="$deps/$1/webp" work="$deps/$1/webp-work" src
    host=$(triplet "$arch")
    echo "setup: building libwebp (decoder and demux, static, $host)"
    src=$(unpack_source libwebp "$work")
    cmake -S "$src" -B "$work/build" -G Ninja -Wno-dev \
        -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR="$(processor "$arch")" \
        -DCMAKE_C_COMPILER="$host-gcc-posix" -DCMAKE_RC_COMPILER="$host-windres" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS=OFF -DWEBP_USE_THREAD=OFF -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF \
        -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF \
        -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_LIBWEBPMUX=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF \
        >/dev/null
    cmake --build "$work/build" --target webpdecoder webpdemux >/dev/null
    mkdir -p "$prefix/lib" "$prefix/include/webp"
    cp "$src/src/webp/decode.h" "$src/src/webp/demux.h" "$src/src/webp/mux_types.h" "$src/src/webp/types.h" \
        "$prefix/include/webp/"
    cp "$work/build/libwebpdecoder.a" "$prefix/lib/libwebpdecoder.a"
    cp "$work/build/libwebpdemux.a" "$prefix/lib/libwebpdemux.a.part"
    mv "$prefix/lib/libwebpdemux.a.part" "$prefix/lib/libwebpdemux.a"
    rm -rf "$work"
}

for arch in x86 x64; do
    [ -f "$deps/$arch/pcre2/lib/libpcre2-16.a" ] || build_pcre2 "$arch"
    [ -f "$deps/$arch/jpeg/lib/libjpeg.a" ] || build_jpeg "$arch"
    [ -f "$deps/$arch/spng/lib/libspng.a" ] || build_spng "$arch"
    [ -f "$deps/$arch/webp/lib/libwebpdemux.a" ] || build_webp "$arch"
done
echo "setup: ready"
