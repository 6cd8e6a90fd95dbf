#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite under Wine.
# Extra arguments go to ctest (for example -R engine. or -L gui). BUILD_DIR picks another build folder;
# SKIP_BUILD=1 runs the tests of the last build; GW_TEST_JOBS=2 runs two tests at a time.
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
#
# Wine starts its desktop process with the standard error of the first program that needs a window or GDI+,
# and ends it about a second after the last program: whoever reads that program's output (ctest, or a test
# running the program) waits until then, for every such program, and under ctest -j until every test beside it
# has ended. So a short window program with no output starts the desktop here, and a program waiting on an
# empty pipe keeps it for the whole run. A test must therefore never end the prefix's explorer.exe: one started
# again would hold that test's output until the run ends.
export GW_BUILD_DIR="$build"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1 </dev/null
    coproc keeper { exec sleep 100000; }
    exec 3<&"${keeper[0]}"
    wine cmd <&3 >/dev/null 2>&1 &
    exec 3<&-
    wine rundll32.exe user32.dll,MessageBeep >/dev/null 2>&1 </dev/null
    cd "$GW_BUILD_DIR"
    rm -rf test-results
    set +e
    ctest --output-on-failure --timeout 600 -j "${GW_TEST_JOBS:-1}" "$@"
    rc=$?
    wineserver -k >/dev/null 2>&1
    kill "$keeper_PID" 2>/dev/null
    exit $rc
' ctest "$@" && rc=0 || rc=$?
/usr/bin/python3 "$here/scripts/slowest-tests.py" "$build" || true
exit $rc
