#!/usr/bin/env bash
# Builds both programs in Release and writes dist/Glyphwright-<version>.zip: the 32-bit Glyphwright.exe at the
# root, the 64-bit one under x64/, the README and SHA256SUMS (sha256sum -c checks it). The version is the
# project's, from CMakeLists.txt, where the program's version resource takes it from too.
# Usage: scripts/package.sh [--no-build] [--out FOLDER]      BUILD_DIR picks the build root as for the tests.
#   --no-build  packs the programs as they are built (fails when one is missing)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$here/scripts/arch.sh"
root=$gw_root

build=1
out="$here/dist"
while [ $# -gt 0 ]; do
    case "$1" in
    --no-build) build=0 ;;
    --out)
        out=${2:?--out needs a folder}
        shift
        ;;
    *)
        echo "package: unknown argument '$1'" >&2
        exit 2
        ;;
    esac
    shift
done

version=$(sed -n 's/^project(Glyphwright VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }

if [ "$build" = 1 ]; then
    "$here/scripts/setup.sh" >/dev/null
    for arch in x86 x64; do
        echo "package: building the $(gw_describe "$arch")"
        gw_build "$arch" --target Glyphwright >/dev/null
    done
fi
for arch in x86 x64; do
    [ -f "$root/$arch/Glyphwright.exe" ] || { echo "package: $root/$arch/Glyphwright.exe is not built" >&2; exit 1; }
    if ! grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$root/$arch/CMakeCache.txt"; then
        echo "package: $root/$arch is not a Release build" >&2
        exit 1
    fi
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/x64"
cp "$root/x86/Glyphwright.exe" "$stage/Glyphwright.exe"
cp "$root/x64/Glyphwright.exe" "$stage/x64/Glyphwright.exe"
cp "$here/README.md" "$stage/README.md"
(cd "$stage" && sha256sum Glyphwright.exe x64/Glyphwright.exe README.md >SHA256SUMS)
zip="$out/Glyphwright-$version.zip"
rm -f "$zip.part"
(cd "$stage" && /usr/bin/python3 - "$zip.part" Glyphwright.exe x64/Glyphwright.exe README.md SHA256SUMS <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name in sys.argv[2:]:
        archive.write(name, name)
PY
)
mv "$zip.part" "$zip"
echo "package: wrote $zip"
