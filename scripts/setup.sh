#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine (run as root).
# Idempotent: a second run installs nothing and rebuilds nothing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$here/.deps"
packages=(cmake ninja-build g++-mingw-w64-i686-posix wine wine32:i386 wine64 xvfb xauth xdotool
          fonts-wqy-microhei fonts-liberation icoutils imagemagick python3-pil googletest
          dpkg-dev file nasm)

sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ] || [ ! -f "$deps/pcre2/lib/libpcre2-16.a" ] || [ ! -f "$deps/jpeg/lib/libjpeg.a" ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        sudo_ dpkg --add-architecture i386
    fi
    # PCRE2 and libjpeg-turbo have no mingw build in Debian: their source packages are cross-built below.
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

if [ ! -f "$deps/pcre2/lib/libpcre2-16.a" ]; then
    echo "setup: building PCRE2 (16-bit, static, i686-w64-mingw32)"
    rm -rf "$deps/pcre2-src" && mkdir -p "$deps/pcre2-src"
    (cd "$deps/pcre2-src" && apt-get source --download-only pcre2 >/dev/null 2>&1 ||
        apt-get source --download-only pcre2)
    tarball=$(ls "$deps"/pcre2-src/pcre2_*.orig.tar.* | head -n1)
    tar -xf "$tarball" -C "$deps/pcre2-src"
    src=$(find "$deps/pcre2-src" -maxdepth 1 -mindepth 1 -type d -name 'pcre2-*' | head -n1)
    cmake -S "$src" -B "$deps/pcre2-build" -G Ninja -Wno-dev \
        -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER=i686-w64-mingw32-gcc-posix \
        -DCMAKE_RC_COMPILER=i686-w64-mingw32-windres -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$deps/pcre2" -DBUILD_SHARED_LIBS=OFF \
        -DPCRE2_BUILD_PCRE2_8=OFF -DPCRE2_BUILD_PCRE2_16=ON -DPCRE2_BUILD_PCRE2_32=OFF \
        -DPCRE2_SUPPORT_UNICODE=ON -DPCRE2_SUPPORT_JIT=OFF -DPCRE2_BUILD_PCRE2GREP=OFF \
        -DPCRE2_BUILD_TESTS=OFF >/dev/null
    cmake --build "$deps/pcre2-build" >/dev/null
    cmake --install "$deps/pcre2-build" >/dev/null
    rm -rf "$deps/pcre2-src" "$deps/pcre2-build"
fi
# JPEG photos are decoded with libjpeg-turbo (scaled DCT decoding); nasm builds its SIMD code.
if [ ! -f "$deps/jpeg/lib/libjpeg.a" ]; then
    echo "setup: building libjpeg-turbo (static, i686-w64-mingw32)"
    rm -rf "$deps/jpeg-src" && mkdir -p "$deps/jpeg-src"
    (cd "$deps/jpeg-src" && apt-get source --download-only libjpeg-turbo >/dev/null 2>&1 ||
        apt-get source --download-only libjpeg-turbo)
    tarball=$(ls "$deps"/jpeg-src/libjpeg-turbo_*.orig.tar.* | head -n1)
    tar -xf "$tarball" -C "$deps/jpeg-src"
    src=$(find "$deps/jpeg-src" -maxdepth 1 -mindepth 1 -type d -name 'libjpeg-turbo-*' | head -n1)
    cmake -S "$src" -B "$deps/jpeg-build" -G Ninja -Wno-dev \
        -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=i686 \
        -DCMAKE_C_COMPILER=i686-w64-mingw32-gcc-posix -DCMAKE_RC_COMPILER=i686-w64-mingw32-windres \
        -DCMAKE_ASM_NASM_COMPILER=nasm -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps/jpeg" \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DWITH_SIMD=ON \
        -DREQUIRE_SIMD=ON >/dev/null
    cmake --build "$deps/jpeg-build" --target jpeg-static >/dev/null
    mkdir -p "$deps/jpeg/lib" "$deps/jpeg/include"
    cp "$src/jpeglib.h" "$src/jmorecfg.h" "$src/jerror.h" "$deps/jpeg-build/jconfig.h" "$deps/jpeg/include/"
    cp "$deps/jpeg-build/libjpeg.a" "$deps/jpeg/lib/libjpeg.a.part"
    mv "$deps/jpeg/lib/libjpeg.a.part" "$deps/jpeg/lib/libjpeg.a"
    rm -rf "$deps/jpeg-src" "$deps/jpeg-build"
fi
echo "setup: ready"
