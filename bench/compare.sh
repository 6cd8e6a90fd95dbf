#!/usr/bin/env bash
# Glyphwright against the tools a user would otherwise script (Pillow's ICO writer and ImageMagick's mogrify), on the
# same inputs in one run. Prints per row the three wall times (median of RUNS whole-process runs), the ratios, the
# peak memory (/usr/bin/time -v), and for the small sizes PSNR and local contrast against Pillow's LANCZOS reduction.
# The photos are the real photographs of Debian's mate-backgrounds package (installed when missing), those of
# 1600 to 2560 pixels wide; the large photo is its biggest one enlarged to 6000 x 4000. The batch is also set against
# what a careful user would script with Pillow: two worker processes, JPEGs decoded at a reduced DCT scale.
# Usage: bench/compare.sh        RUNS (default 3) and BUILD_DIR as for the other benchmarks; EXE another program to
# time (another build's, while the Wine prefix and the files stay in this build folder). Not part of the tests.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$here/scripts/arch.sh"
gw_pick_arch compare
build=$gw_pick_build
runs=${RUNS:-3}
exe=${EXE:-$build/Glyphwright.exe}
[ -f "$exe" ] || { echo "no $exe: build the program first" >&2; exit 1; }
sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
for p in mate-backgrounds python3-pil imagemagick icoutils time; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
        sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" >/dev/null
done
source "$here/scripts/wine-env.sh" "$build"
python=/usr/bin/python3

work="$build/bench-compare"
rm -rf "$work/out"
mkdir -p "$work/photos" "$work/out"
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

# The corpus: every photo of the package between 1600 and 2560 pixels wide (JPEG and PNG).
if [ -z "$(ls "$work/photos")" ]; then
    "$python" - "$work/photos" <<'PY'
import os, shutil, sys
from PIL import Image
for root, _, files in os.walk("/usr/share/backgrounds/mate"):
    for name in sorted(files):
        if name.lower().endswith((".jpg", ".jpeg", ".png")):
            path = os.path.join(root, name)
            with Image.open(path) as im:
                if 1600 <= im.width <= 2560:
                    shutil.copy(path, os.path.join(sys.argv[1], name))
PY
fi
large="$work/large.jpg"
[ -f "$large" ] || /usr/bin/convert /usr/share/backgrounds/mate/abstract/Elephants_5640x3172.jpg -resize '6000x4000!' \
    -quality 90 "$large"
# The same photo as a non-interlaced PNG with an alpha channel, which is decoded a row at a time.
large_png="$work/large.png"
[ -f "$large_png" ] ||
    /usr/bin/convert "$large" -alpha on -channel A -evaluate set 100% -interlace none "PNG32:$large_png"
[ -f "$work/flat.png" ] || /usr/bin/convert -size 64x64 'xc:rgba(200,100,50,0.50196)' "$work/flat.png"
count=$(ls "$work/photos" | wc -l)
# The corpus's PNG photos alone, for a batch of the row-by-row decoder.
if [ -z "$(ls "$work/png-photos" 2>/dev/null)" ]; then
    mkdir -p "$work/png-photos"
    cp "$work"/photos/*.png "$work/png-photos/"
fi
png_count=$(ls "$work/png-photos" | wc -l)
png_pixels=$("$python" -c 'import sys; from PIL import Image
print(max(Image.open(p).width * Image.open(p).height for p in sys.argv[1:]))' "$work"/png-photos/*)

wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# Runs a command RUNS times into an emptied output folder (the first argument), so that every tool writes new
# files and Glyphwright never spends a run keeping the previous run's outputs as backups; prints
# "median-seconds peak-KiB" (peak of the median run's largest process).
measure() {
    local out="$work/time.txt" folder="$1" i
    shift
    for i in $(seq 1 "$runs"); do
        rm -rf "$folder" && mkdir -p "$folder"
        "$@" >/dev/null 2>&1 </dev/null || true
        rm -rf "$folder" && mkdir -p "$folder"
        /usr/bin/time -v -o "$out" "$@" >/dev/null 2>&1 </dev/null || true
        awk -F': ' '/Elapsed/ { split($2, t, ":"); s = (length(t) == 3) ? t[1] * 3600 + t[2] * 60 + t[3] : t[1] * 60 + t[2] }
                    /Maximum resident/ { m = $2 } END { print s, m }' "$out"
    done | sort -n | awk '{ a[NR] = $0 } END { print a[int((NR + 1) / 2)] }'
}

pillow_ico() {
    "$python" - "$@" <<'PY'
import os, sys
from PIL import Image
out = sys.argv[1]
for path in sys.argv[2:]:
    with Image.open(path) as im:
        im.convert("RGBA").save(os.path.join(out, os.path.splitext(os.path.basename(path))[0] + ".ico"),
                                sizes=[(16, 16), (32, 32), (48, 48), (256, 256)])
PY
}
# What a careful user would write for a batch: two worker processes, and JPEGs decoded at the smallest DCT scale
# that still leaves both sides at least 256 pixels (Pillow's writer drops a size larger than the picture in either
# direction). Outputs follow the program's folder rules: name.ico in the target folder, created when missing; pictures
# that share an output name go to one worker in listing order, and the later one keeps the earlier as a backup.
pillow_draft_ico() {
    "$python" - "$@" <<'PY'
import os, sys
from multiprocessing import Pool
from PIL import Image
out = sys.argv[1]

def keep_as_backup(target):
    stem, ext = os.path.splitext(target)
    backup = "%s (backup)%s" % (stem, ext)
    if os.path.exists(backup):
        n = 2
        while os.path.exists("%s (backup %d)%s" % (stem, n, ext)):
            n += 1
        os.replace(backup, "%s (backup %d)%s" % (stem, n, ext))
    os.replace(target, backup)

def convert(paths):
    for path in paths:
        target = os.path.join(out, os.path.splitext(os.path.basename(path))[0] + ".ico")
        with Image.open(path) as im:
            if im.format == "JPEG":
                im.draft("RGB", (256, 256))
            im = im.convert("RGBA")
        if os.path.exists(target):
            keep_as_backup(target)
        im.save(target, sizes=[(16, 16), (32, 32), (48, 48), (256, 256)])

if __name__ == "__main__":
    os.makedirs(out, exist_ok=True)
    groups = {}
    for path in sys.argv[2:]:
        groups.setdefault(os.path.splitext(os.path.basename(path))[0].lower(), []).append(path)
    with Pool(2) as pool:
        pool.map(convert, list(groups.values()), chunksize=1)
PY
}
export -f pillow_ico pillow_draft_ico
export python

row() {  # label gw pil im (each "seconds KiB"; "-" when a tool has no such job)
    "$python" - "$@" <<'PY'
import sys
label, *cells = sys.argv[1:]
vals = [c.split() if c != "-" else None for c in cells]
fmt = lambda v: "%6.2f s %6.0f MiB" % (float(v[0]), float(v[1]) / 1024) if v else "%17s" % "-"
ratio = lambda v: "%5.2fx" % (float(v[0]) / float(vals[0][0])) if v and float(vals[0][0]) > 0 else "    -"
print("%-34s %s | %s | %s | Pillow/GW %s  IM/GW %s" % (label, fmt(vals[0]), fmt(vals[1]), fmt(vals[2]),
                                                          ratio(vals[1]), ratio(vals[2])))
PY
}

echo "Glyphwright vs Pillow vs ImageMagick, $runs runs each, medians; $(nproc) cores"
printf '%-34s %-17s | %-17s | %-17s\n' "work" "Glyphwright" "Pillow" "ImageMagick"

# Batch of the corpus to 16/32/48/256.
gw_batch=$(measure "$work/out/gw" wine "$exe" /batchconvert "$(winpath "$work/photos")" "$(winpath "$work/out")\\gw")
pil_batch=$(measure "$work/out/pil" bash -c 'pillow_ico "$0" "$1"/*' "$work/out/pil" "$work/photos")
im_batch=$(measure "$work/out/im" /usr/bin/mogrify -path "$work/out/im" -format ico -define icon:auto-resize=256,48,32,16 \
    "$work"/photos/*)
row "batchconvert $count photos" "$gw_batch" "$pil_batch" "$im_batch"
# The same batch against the two-process Pillow script with JPEG draft mode.
pil_draft=$(measure "$work/out/pil-draft" bash -c 'pillow_draft_ico "$0" "$1"/*' "$work/out/pil-draft" "$work/photos")
row "  Pillow 2 processes, JPEG draft" "$gw_batch" "$pil_draft" -

# The PNG photos alone; peak memory per pixel of the largest of them.
gw_pngs=$(measure "$work/out/gw-png" wine "$exe" /batchconvert "$(winpath "$work/png-photos")" "$(winpath "$work/out")\\gw-png")
pil_pngs=$(measure "$work/out/pil-png" bash -c 'pillow_ico "$0" "$1"/*' "$work/out/pil-png" "$work/png-photos")
im_pngs=$(measure "$work/out/im-png" /usr/bin/mogrify -path "$work/out/im-png" -format ico \
    -define icon:auto-resize=256,48,32,16 "$work"/png-photos/*)
row "batchconvert $png_count PNG photos" "$gw_pngs" "$pil_pngs" "$im_pngs"
echo "  peak bytes per pixel of the largest PNG: $(echo "$gw_pngs $pil_pngs $im_pngs" | awk -v p="$png_pixels" '{ printf "Glyphwright %.1f  Pillow %.1f  ImageMagick %.1f", $2 * 1024 / p, $4 * 1024 / p, $6 * 1024 / p }')"

# One 6000 x 4000 JPEG; peak memory per source pixel.
gw_one=$(measure "$work/out/one" wine "$exe" /convert "$(winpath "$large")" "$(winpath "$work/out/one")\\large.ico")
pil_one=$(measure "$work/out/one" bash -c 'pillow_ico "$0" "$1"' "$work/out/one" "$large")
im_one=$(measure "$work/out/one" /usr/bin/convert "$large" -define icon:auto-resize=256,48,32,16 "$work/out/one/large-im.ico")
row "convert 6000x4000 JPEG" "$gw_one" "$pil_one" "$im_one"
echo "  peak bytes per source pixel: $(echo "$gw_one $pil_one $im_one" | awk '{ printf "Glyphwright %.1f  Pillow %.1f  ImageMagick %.1f", $2 * 1024 / 24e6, $4 * 1024 / 24e6, $6 * 1024 / 24e6 }')"

# The same picture as a 6000 x 4000 RGBA PNG.
gw_png=$(measure "$work/out/one" wine "$exe" /convert "$(winpath "$large_png")" "$(winpath "$work/out/one")\\large.ico")
pil_png=$(measure "$work/out/one" bash -c 'pillow_ico "$0" "$1"' "$work/out/one" "$large_png")
im_png=$(measure "$work/out/one" /usr/bin/convert "$large_png" -define icon:auto-resize=256,48,32,16 "$work/out/one/large-im.ico")
row "convert 6000x4000 PNG (RGBA)" "$gw_png" "$pil_png" "$im_png"
echo "  peak bytes per source pixel: $(echo "$gw_png $pil_png $im_png" | awk '{ printf "Glyphwright %.1f  Pillow %.1f  ImageMagick %.1f", $2 * 1024 / 24e6, $4 * 1024 / 24e6, $6 * 1024 / 24e6 }')"

# Extraction of every icon group of shell32.dll; wrestool is the yardstick (neither Pillow nor ImageMagick does it).
shell32="$WINEPREFIX/drive_c/windows/system32/shell32.dll"
gw_ext=$(measure "$work/out/extracted" wine "$exe" /batchextract 'C:\windows\system32\shell32.dll' "$(winpath "$work/out")\\extracted")
wres=$(measure "$work/out/wrestool" bash -c 'wrestool -x --type=14 -o "$0" "$1"' "$work/out/wrestool" "$shell32")
echo "$(row "batchextract shell32.dll" "$gw_ext" - -)  wrestool $(echo "$wres $gw_ext" | awk '{ printf "%.2f s (GW/wrestool %.1fx)", $1, $3 / $1 }')"

# The run script's own cost on a 16 px job, against the program it runs (this build folder's, also with EXE).
script_run=$(measure "$work/out/script" "$here/scripts/glyphwright" /formats=16 /convert "$work/flat.png" "$work/out/script/flat.ico")
direct_run=$(measure "$work/out/direct" wine "$build/Glyphwright.exe" /formats=16 /convert "$(winpath "$work/flat.png")" "$(winpath "$work/out/direct")\\flat.ico")
mkdir -p "$work/out/flat"
wine "$exe" /formats=16 /convert "$(winpath "$work/flat.png")" "$(winpath "$work/out/flat")\\flat.ico" >/dev/null 2>&1 </dev/null || true
echo "scripts/glyphwright 16 px job: $(echo "$script_run $direct_run" | awk '{ printf "%.2f s, the program alone %.2f s (+%.2f s)", $1, $3, $1 - $3 }')"

# Pixels: the half-transparent flat colour, and PSNR / sharpness of our small sizes against Pillow's LANCZOS.
"$python" - "$work/photos" "$work/out/gw" "$work/out/flat/flat.ico" <<'PY'
import glob, math, os, sys
from PIL import Image, ImageFilter, ImageStat
photos, ours, flat = sys.argv[1:]
with Image.open(flat) as icon:
    print("flat (200,100,50,128) at 16 px comes out as", icon.convert("RGBA").getpixel((8, 8)))

def entry(path, size):
    with Image.open(path) as icon:
        icon.size = (size, size)
        return icon.convert("RGBA")

def lanczos(path, size):
    # The same centred fit as Glyphwright's default: the whole picture, transparent margins.
    with Image.open(path) as im:
        im = im.convert("RGBA")
        w, h = im.size
        scale = size / max(w, h)
        small = im.resize((max(1, int(w * scale)), max(1, int(h * scale))), Image.LANCZOS)
        canvas = Image.new("RGBA", (size, size), (0, 0, 0, 0))
        canvas.paste(small, ((size - small.width) // 2, (size - small.height) // 2))
        return canvas

def opaque_rgb(im):
    return Image.composite(im, Image.new("RGBA", im.size, (0, 0, 0, 255)), im).convert("RGB")

def psnr(a, b):
    d = [(x - y) ** 2 for x, y in zip(a.tobytes(), b.tobytes())]
    mse = sum(d) / len(d)
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)

def contrast(im):
    # Mean absolute gradient of the luminance: how much local contrast the reduction kept.
    grey = im.convert("L")
    total = 0.0
    for kernel in ((0, 0, 0, 0, 1, -1, 0, 0, 0), (0, 0, 0, 0, 1, 0, 0, -1, 0)):
        edges = grey.filter(ImageFilter.Kernel((3, 3), kernel, 1, 128))
        total += ImageStat.Stat(Image.eval(edges, lambda v: abs(v - 128))).mean[0]
    return total

for size in (16, 32, 48):
    values, ratios = [], []
    for photo in sorted(glob.glob(os.path.join(photos, "*"))):
        icon = os.path.join(ours, os.path.splitext(os.path.basename(photo))[0] + ".ico")
        if not os.path.exists(icon):
            continue
        a, b = opaque_rgb(entry(icon, size)), opaque_rgb(lanczos(photo, size))
        values.append(psnr(a, b))
        cb = contrast(b)
        if cb > 0:
            ratios.append(contrast(a) / cb)
    values.sort()
    print("%2d px: PSNR against Pillow LANCZOS median %.1f dB (min %.1f, max %.1f); local contrast %.0f%% of LANCZOS"
          % (size, values[len(values) // 2], values[0], values[-1], 100 * sum(ratios) / len(ratios)))
PY
