#!/usr/bin/env bash
# A larger run of the hostile-input test (tests/app/test_fuzz.py): N seeded mutants of every format the program
# reads, through /convert, /extract, /batchextract and /batchconvert of the built program.
# Usage: scripts/fuzz.sh [N] [SEED]      (default 2000 mutants, seed from the clock, printed first)
# BUILD_DIR picks the build root (default: build; GW_ARCH as for scripts/glyphwright). Not part of the test suite; build the tests first.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$here/scripts/arch.sh"
gw_pick_arch fuzz
build=$gw_pick_build
count=${1:-2000}
seed=${2:-$(date +%s)}
[ -f "$build/Glyphwright.exe" ] && [ -f "$build/gwtest_iconlib.exe" ] ||
    { echo "no $build/Glyphwright.exe or gwtest_iconlib.exe: build the tests first" >&2; exit 1; }
source "$here/scripts/wine-env.sh" "$build"
echo "fuzz: $count mutants, seed $seed"

# A persistent wineserver keeps each run's start-up short; one that already runs is kept and left running.
if wineserver -p 2>/dev/null; then
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
fi
wine cmd /c exit >/dev/null 2>&1 </dev/null || true

cd "$here/tests/app"
GW_BUILD_DIR="$build" GW_FUZZ_COUNT="$count" GW_FUZZ_SEED="$seed" GW_FUZZ_SAMPLE=1 PYTHONPATH="$here/tests/support" \
    PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -m unittest -v test_fuzz
