#!/usr/bin/env bash
# Batch benchmarks of the built program, each timed as a whole process under Wine (start-up included):
#   convert  /batchconvert of a folder of photos: the nature wallpapers of mate-backgrounds when installed (real
#            photographs, 1280 x 1024 to 2560 x 1920), else pictures made once with ImageMagick; PHOTO_DIR picks
#            another folder of JPEG files
#   extract  /batchextract of every icon group of the prefix's shell32.dll (184 groups under Wine 8)
#   Each also times the tool a user would script instead, on the same input: Pillow's ICO writer (16, 32, 48,
#   256) and wrestool -x --type=14 over the whole 64-bit shell32.dll.
# Usage: bench/batch.sh [convert|extract|all] [runs]     BUILD_DIR picks the build root (default: build; GW_ARCH as for scripts/glyphwright), EXE
# another program to time (an earlier build, for before and after figures).
# Prints the wall time of every run and the best and median of them. Not part of the test suite.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$here/scripts/arch.sh"
gw_pick_arch batch
build=$gw_pick_build
what=${1:-all}
runs=${2:-3}
photos=${PHOTOS:-12}
exe=${EXE:-$build/Glyphwright.exe}
[ -f "$exe" ] || { echo "no $exe: build the program first" >&2; exit 1; }
source "$here/scripts/wine-env.sh" "$build"

work="$build/bench-batch"
mkdir -p "$work"
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

# A persistent wineserver keeps the start-up cost of each run small and equal.
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

wallpapers=${PHOTO_DIR:-/usr/share/backgrounds/mate/nature}

make_photos() {
    local folder="$work/photos"
    if [ -d "$wallpapers" ] && ls "$wallpapers"/*.jpg >/dev/null 2>&1; then
        if [ "$(ls "$folder" 2>/dev/null | wc -l)" -ne "$(ls "$wallpapers"/*.jpg | wc -l)" ]; then
            rm -rf "$folder"
            mkdir -p "$folder"
            cp "$wallpapers"/*.jpg "$folder/"
        fi
        photos=$(ls "$folder" | wc -l)
        return
    fi
    if [ "$(ls "$folder" 2>/dev/null | wc -l)" -ne "$photos" ]; then
        rm -rf "$folder"
        mkdir -p "$folder"
        echo "making $photos photos of 4000 x 3000 in $folder"
        for i in $(seq 1 "$photos"); do
            /usr/bin/convert -size 4000x3000 "plasma:fractal" -seed "$i" -quality 90 "$folder/photo$i.jpg"
        done
    fi
}

# Runs the program `runs` times with the given arguments, printing each wall time and a summary.
timed() {
    local label=$1 out=$2
    shift 2
    timed_command "$label" "$out" wine "$exe" "$@"
}

# The same for any command.
timed_command() {
    local label=$1 out=$2
    shift 2
    local times=()
    for run in $(seq 1 "$runs"); do
        rm -rf "$out"
        local start end code=0
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1 </dev/null || code=$?
        end=$(date +%s.%N)
        local seconds
        seconds=$(echo "$end - $start" | bc)
        times+=("$seconds")
        printf '%s run %d: %.3f s (exit code %d, %d files)\n' "$label" "$run" "$seconds" "$code" \
            "$(ls "$out" 2>/dev/null | wc -l)"
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v label="$label" '{ t[NR] = $1 } END {
        printf "%s: best %.3f s, median %.3f s over %d runs\n", label, t[1], t[int((NR + 1) / 2)], NR }'
}

if [ "$what" = convert ] || [ "$what" = all ]; then
    make_photos
    timed "batch convert ($photos photos, 16-256)" "$work/converted" \
        /batchconvert "$(winpath "$work/photos")" "$(winpath "$work")\\converted"
    timed_command "Pillow ICO writer ($photos photos, 16-256)" "$work/pillow" /usr/bin/python3 -c '
import glob, os, sys
from PIL import Image
os.makedirs(sys.argv[2], exist_ok=True)
for f in sorted(glob.glob(sys.argv[1] + "/*.jpg")):
    name = os.path.splitext(os.path.basename(f))[0] + ".ico"
    Image.open(f).save(os.path.join(sys.argv[2], name), sizes=[(16, 16), (32, 32), (48, 48), (256, 256)])
' "$work/photos" "$work/pillow"
fi
if [ "$what" = extract ] || [ "$what" = all ]; then
    timed "batch extract (shell32.dll, 16-256)" "$work/extracted" \
        /batchextract 'C:\windows\system32\shell32.dll' "$(winpath "$work")\\extracted"
    timed_command "wrestool -x --type=14 (64-bit shell32.dll)" "$work/wrestool" bash -c \
        'mkdir -p "$1" && wrestool -x --type=14 -o "$1" "$2"' - "$work/wrestool" \
        "$WINEPREFIX/drive_c/windows/system32/shell32.dll"
fi
