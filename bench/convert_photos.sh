#!/usr/bin/env bash
# Converts a folder of large photos one by one with the command line (/convert), timing every conversion as a
# whole process under Wine (start-up included), as a script that converts photos would see it.
# Usage: bench/convert_photos.sh [photos] [width]x[height]    BUILD_DIR picks the build root (default: build; GW_ARCH as for scripts/glyphwright).
# The photos are made once with ImageMagick into a temporary folder that is removed at the end; the program's
# options go in GW_OPTIONS (default: none, i.e. 16, 32, 48, 256 with PNG compression). Not part of the test suite.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$here/scripts/arch.sh"
gw_pick_arch convert_photos
build=$gw_pick_build
count=${1:-10}
geometry=${2:-4000x3000}
exe="$build/Glyphwright.exe"
[ -f "$exe" ] || { echo "no $exe: build the program first" >&2; exit 1; }
source "$here/scripts/wine-env.sh" "$build"

work=$(mktemp -d /tmp/gw-photos.XXXXXX)
# A persistent wineserver keeps the start-up cost of each run small and equal.
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

echo "making $count photos of $geometry in $work"
for i in $(seq 1 "$count"); do
    /usr/bin/convert -size "$geometry" "plasma:fractal" -seed "$i" -blur 0x1 -quality 90 "$work/photo$i.jpg"
done

times=()
failed=0
for photo in "$work"/photo*.jpg; do
    start=$(date +%s.%N)
    code=0
    # shellcheck disable=SC2086  # GW_OPTIONS holds several options
    wine "$exe" ${GW_OPTIONS:-} /convert "$(winpath "$photo")" >/dev/null 2>&1 </dev/null || code=$?
    end=$(date +%s.%N)
    seconds=$(echo "$end - $start" | bc -l)
    times+=("$seconds")
    [ "$code" -eq 0 ] && [ -s "${photo%.jpg}.ico" ] || failed=$((failed + 1))
    printf '%-14s %6.3f s  exit %d\n' "$(basename "$photo")" "$seconds" "$code"
done

printf '%s\n' "${times[@]}" | sort -n | awk -v failed="$failed" '
    { t[NR] = $1; sum += $1 }
    END {
        median = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
        printf "photos %d  total %.2f s  mean %.3f s  median %.3f s  best %.3f s  worst %.3f s  failed %d\n",
               NR, sum, sum / NR, median, t[1], t[NR], failed
    }'
[ "$failed" -eq 0 ]
