#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite under Wine.
# Extra arguments go to ctest (for example -R engine. or -L gui). BUILD_DIR picks another build folder;
# SKIP_BUILD=1 runs the tests of the last build.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$here/build}
case "$build" in /*) ;; *) build="$here/$build" ;; esac

if [ "${SKIP_BUILD:-0}" != 1 ]; then
    "$here/scripts/setup.sh"
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build"
fi
source "$here/scripts/wine-env.sh" "$build"

# Window tests need a display; the persistent wineserver must start inside the same X session, and its first
# client's output must go nowhere, or services it starts keep a later pipe open.
export GW_BUILD_DIR="$build"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1 </dev/null
    cd "$GW_BUILD_DIR"
    set +e
    ctest --output-on-failure --timeout 600 "$@"
    rc=$?
    wineserver -k >/dev/null 2>&1
    exit $rc
' ctest "$@"
