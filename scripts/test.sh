#!/usr/bin/env bash
# Installs what is missing, builds both programs (x86, the 32-bit one, and x64) and runs the whole test suite under
# Wine for every architecture this machine can run, the 32-bit one first, each in its own build folder
# (BUILD_DIR, default build/, holds x86/ and x64/). Extra arguments go to ctest (for example -R engine. or -L gui).
# GW_ARCH=x86 or x64 builds and tests one of them; SKIP_BUILD=1 runs the tests of the last build; GW_TEST_JOBS=2
# runs two tests at a time. The last lines say, per architecture, what was tested or why it was not.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$here/scripts/arch.sh"
root=$gw_root
read -ra arches <<<"$(gw_wanted_arches)"

declare -A result
failed=0
if [ "${SKIP_BUILD:-0}" != 1 ]; then
    "$here/scripts/setup.sh"
fi
for arch in "${arches[@]}"; do
    if [ "${SKIP_BUILD:-0}" != 1 ]; then
        echo "test: building the $(gw_describe "$arch") in $root/$arch"
        if ! gw_build "$arch"; then
            result[$arch]="build failed"
            failed=1
        fi
    elif [ ! -f "$root/$arch/build.ninja" ]; then
        result[$arch]="not built"
        failed=1
    fi
done

gw_probe_x86
ran=0
for arch in "${arches[@]}"; do
    [ -z "${result[$arch]:-}" ] || continue
    if [ "$arch" = x86 ] && [ "$gw_x86_runs" != 1 ]; then
        result[$arch]="built, not run: $gw_x86_reason"
        continue
    fi
    build="$root/$arch"
    log="$build/test-run.log"
    echo "test: running the tests of the $(gw_describe "$arch") ($build)"
    # The prefixes are made (or their failure reported) before the display and the server start: the tests' own, and
    # the one scripts/glyphwright runs the program in, which a window test starts it through.
    if ! (source "$here/scripts/wine-env.sh" "$build" && source "$here/scripts/wine-env.sh" "$build" desktop); then
        result[$arch]="not run: Wine could not start (see above)"
        failed=1
        continue
    fi
    # Window tests need a display; the persistent wineserver must start inside the same X session, and its first
    # client's output must go nowhere, or services it starts keep a later pipe open.
    #
    # Wine starts its desktop process with the standard error of the first program that needs a window or GDI+,
    # and ends it about a second after the last program: whoever reads that program's output (ctest, or a test
    # running the program) waits until then, for every such program, and under ctest -j until every test beside
    # it has ended. So a short window program with no output starts the desktop here, and a program waiting on an
    # empty pipe keeps it for the whole run. A test must therefore never end the prefix's explorer.exe: one started
    # again would hold that test's output until the run ends.
    set +e
    GW_BUILD_DIR="$build" GW_SOURCE_DIR="$here" GW_X86_RUNS="$gw_x86_runs" \
        xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
        source "$GW_SOURCE_DIR/scripts/wine-env.sh" "$GW_BUILD_DIR"
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
        ctest --output-on-failure --timeout 600 -j "${GW_TEST_JOBS:-1}" "$@"
        rc=$?
        wineserver -k >/dev/null 2>&1
        kill "$keeper_PID" 2>/dev/null
        exit $rc
    ' ctest "$@" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    set -e
    /usr/bin/python3 "$here/scripts/slowest-tests.py" "$build" || true
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1 || true)
    if [ -n "$summary" ]; then
        total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
        bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
        result[$arch]="tested: $((total - bad)) passed, $bad failed"
        ran=1
        [ "$rc" = 0 ] && [ "$bad" = 0 ] || failed=1
    else
        result[$arch]="not run: the test run ended with exit $rc before ctest reported (see $log)"
        failed=1
    fi
done

echo
for arch in "${arches[@]}"; do
    echo "$arch: ${result[$arch]}"
done
if [ "$ran" = 0 ]; then
    echo "test: no architecture could be tested on this machine" >&2
    exit 1
fi
exit "$failed"
